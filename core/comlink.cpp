// SPDX-License-Identifier: MIT
#include "core/comlink.h"

#include "core/safefile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#ifndef Q_OS_WIN
#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <optional>

using namespace Qt::StringLiterals;

namespace comlink {

#ifdef Q_OS_WIN

QList<Link> links(const QString&)
{
    return {};
}

#else

namespace {

// What the link at `path` says; nothing when it is no link.
bool readLink(const QByteArray& path, QString& target)
{
    char buffer[4096];
    const ssize_t n = ::readlink(path.constData(), buffer, sizeof buffer);
    if (n < 0 || size_t(n) >= sizeof buffer)
        return false;
    target = QFile::decodeName(QByteArray(buffer, n));
    return true;
}

QString leftAloneText(const QString& path, safefile::Kind kind)
{
    return u"%1 is %2, not a link: it is left as it is"_s.arg(path, safefile::kindName(kind));
}

int exchange(const QByteArray& from, const QByteArray& to)
{
    return ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE);
}

} // namespace

QList<Link> links(const QString& folder)
{
    static const QRegularExpression name(u"^com([1-9][0-9]{0,2})$"_s);
    QList<Link> found;
    const QDir dir(folder);
    for (const QString& entry : dir.entryList(QDir::System | QDir::AllEntries | QDir::Hidden)) {
        const QRegularExpressionMatch match = name.match(entry);
        const int number = match.hasMatch() ? match.captured(1).toInt() : 0;
        if (number < 1 || number > 255)
            continue;
        Link link { number, dir.filePath(entry), {} };
        if (readLink(QFile::encodeName(link.path), link.target))
            found.append(link);
    }
    std::sort(found.begin(), found.end(),
        [](const Link& a, const Link& b) { return a.number < b.number; });
    return found;
}

namespace {

// A new link to `wanted` beside `link`, under a name of its own.
Result<QByteArray> temporaryLink(const QByteArray& link, const QByteArray& wanted)
{
    const qsizetype slash = link.lastIndexOf('/');
    const QByteArray folder
        = slash < 0 ? QByteArray(".") : link.first(std::max<qsizetype>(slash, 1));
    const QByteArray baseName = link.sliced(slash + 1);
    for (int tries = 0; tries < 16; ++tries) {
        const QByteArray temporary = folder + "/." + baseName + '.'
            + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        if (::symlink(wanted.constData(), temporary.constData()) == 0)
            return temporary;
        if (errno != EEXIST)
            break;
    }
    return systemFailure(errno);
}

// Puts the link at `temporary` in place of the link at `link`; nothing when
// the name went meanwhile, to be looked at again.
std::optional<Result<Placed>> swapIn(
    const QByteArray& temporary, const QByteArray& link, const QString& linkPath)
{
    Placed placed;
    // Swapped with what stands at the name, then looked at: a link goes,
    // anything else is swapped back. Where the file system cannot swap,
    // the rename follows the look before.
    if (exchange(temporary, link) == 0) {
        struct stat old;
        const bool wasLink = ::lstat(temporary.constData(), &old) == 0 && S_ISLNK(old.st_mode);
        if (!wasLink) {
            exchange(temporary, link);
            ::unlink(temporary.constData());
            return Failure { leftAloneText(linkPath, safefile::kindOfMode(old.st_mode)) };
        }
        placed.hadLink = readLink(temporary, placed.previousTarget);
        ::unlink(temporary.constData());
        return placed;
    }
    const int error = errno;
    if (error == ENOENT) {
        ::unlink(temporary.constData()); // the name went meanwhile: look again
        return std::nullopt;
    }
    if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP) {
        placed.hadLink = readLink(link, placed.previousTarget);
        if (::rename(temporary.constData(), link.constData()) == 0)
            return placed;
    }
    const Failure failure = systemFailure(errno);
    ::unlink(temporary.constData());
    return failure;
}

} // namespace

Result<Placed> place(const QString& linkPath, const QString& target)
{
    const QByteArray link = QFile::encodeName(linkPath);
    const QByteArray wanted = QFile::encodeName(target);
    // A name that changes while we work (a link removed or put there by
    // someone else) is looked at again, a few times.
    for (int attempt = 0; attempt < 8; ++attempt) {
        struct stat st;
        if (::lstat(link.constData(), &st) != 0) {
            if (errno != ENOENT)
                return systemFailure(errno);
            // Nothing there: symlink() makes the name in one step, and fails
            // rather than replace what appeared meanwhile.
            if (::symlink(wanted.constData(), link.constData()) == 0)
                return Placed();
            if (errno == EEXIST)
                continue;
            return systemFailure(errno);
        }
        const safefile::Kind kind = safefile::kindOfMode(st.st_mode);
        if (kind != safefile::Kind::Link)
            return Failure { leftAloneText(linkPath, kind) };
        const Result<QByteArray> temporary = temporaryLink(link, wanted);
        if (!temporary)
            return temporary.failure();
        if (std::optional<Result<Placed>> swapped = swapIn(temporary.value(), link, linkPath))
            return std::move(*swapped);
    }
    return systemFailure(EAGAIN);
}

void undo(const QString& linkPath, const QString& placedTarget, const Placed& placed)
{
    QString now;
    if (!readLink(QFile::encodeName(linkPath), now) || now != placedTarget)
        return; // someone has changed it since: theirs now
    if (placed.hadLink)
        (void)place(linkPath, placed.previousTarget);
    else
        ::unlink(QFile::encodeName(linkPath).constData());
}

#endif

} // namespace comlink
