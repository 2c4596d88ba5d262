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
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>

using namespace Qt::StringLiterals;

namespace comlink {

#ifdef Q_OS_WIN

QList<Link> links(const QString&)
{
    return {};
}

#else

namespace {

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

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

Placed place(const QString& linkPath, const QString& target)
{
    const QByteArray link = QFile::encodeName(linkPath);
    const QByteArray wanted = QFile::encodeName(target);
    const qsizetype slash = link.lastIndexOf('/');
    const QByteArray folder
        = slash < 0 ? QByteArray(".") : link.first(std::max<qsizetype>(slash, 1));
    const QByteArray baseName = link.sliced(slash + 1);
    Placed placed;
    // A name that changes while we work (a link removed or put there by
    // someone else) is looked at again, a few times.
    for (int attempt = 0; attempt < 8; ++attempt) {
        struct stat st;
        if (::lstat(link.constData(), &st) != 0) {
            if (errno != ENOENT) {
                placed.error = systemError(errno);
                return placed;
            }
            // Nothing there: symlink() makes the name in one step, and fails
            // rather than replace what appeared meanwhile.
            if (::symlink(wanted.constData(), link.constData()) == 0) {
                placed.ok = true;
                return placed;
            }
            if (errno == EEXIST)
                continue;
            placed.error = systemError(errno);
            return placed;
        }
        const safefile::Kind kind = safefile::kindOfMode(st.st_mode);
        if (kind != safefile::Kind::Link) {
            placed.error = leftAloneText(linkPath, kind);
            return placed;
        }

        QByteArray temporary;
        bool made = false;
        for (int tries = 0; tries < 16 && !made; ++tries) {
            temporary = folder + "/." + baseName + '.'
                + QByteArray::number(QRandomGenerator::global()->generate(), 36);
            made = ::symlink(wanted.constData(), temporary.constData()) == 0;
            if (!made && errno != EEXIST)
                break;
        }
        if (!made) {
            placed.error = systemError(errno);
            return placed;
        }

        // Swapped with what stands at the name, then looked at: a link goes,
        // anything else is swapped back. Where the file system cannot swap,
        // the rename follows the look above.
        if (exchange(temporary, link) == 0) {
            struct stat old;
            const bool wasLink = ::lstat(temporary.constData(), &old) == 0 && S_ISLNK(old.st_mode);
            if (!wasLink) {
                exchange(temporary, link);
                ::unlink(temporary.constData());
                placed.error = leftAloneText(linkPath, safefile::kindOfMode(old.st_mode));
                return placed;
            }
            placed.hadLink = readLink(temporary, placed.previousTarget);
            ::unlink(temporary.constData());
            placed.ok = true;
            return placed;
        }
        const int error = errno;
        if (error == ENOENT) {
            ::unlink(temporary.constData()); // the name went meanwhile: look again
            continue;
        }
        if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP) {
            placed.hadLink = readLink(link, placed.previousTarget);
            if (::rename(temporary.constData(), link.constData()) == 0) {
                placed.ok = true;
                return placed;
            }
        }
        placed.error = systemError(errno);
        ::unlink(temporary.constData());
        return placed;
    }
    placed.error = systemError(EAGAIN);
    return placed;
}

void undo(const QString& linkPath, const QString& placedTarget, const Placed& placed)
{
    if (!placed.ok)
        return;
    QString now;
    if (!readLink(QFile::encodeName(linkPath), now) || now != placedTarget)
        return; // someone has changed it since: theirs now
    if (placed.hadLink)
        place(linkPath, placed.previousTarget);
    else
        ::unlink(QFile::encodeName(linkPath).constData());
}

#endif

} // namespace comlink
