// SPDX-License-Identifier: MIT
#include "core/safefile.h"

#include <QFile>
#include <QSaveFile>

#ifndef Q_OS_WIN
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#endif

using namespace Qt::StringLiterals;

namespace safefile {

bool mayFollowLink(UserId linkOwner, UserId folderOwner, UserId runningUser)
{
    return linkOwner == runningUser || linkOwner == folderOwner;
}

Kind kindOfMode(unsigned int mode)
{
    // The POSIX file type bits, spelt out so the rule builds everywhere.
    switch (mode & 0170000u) {
    case 0100000u:
        return Kind::Regular;
    case 0040000u:
        return Kind::Folder;
    case 0120000u:
        return Kind::Link;
    case 0010000u:
        return Kind::Fifo;
    case 0020000u:
        return Kind::CharDevice;
    case 0060000u:
        return Kind::BlockDevice;
    case 0140000u:
        return Kind::Socket;
    default:
        return Kind::Other;
    }
}

QString kindName(Kind kind)
{
    switch (kind) {
    case Kind::Missing:
        return u"missing"_s;
    case Kind::Regular:
        return u"a regular file"_s;
    case Kind::Folder:
        return u"a folder"_s;
    case Kind::Link:
        return u"a symbolic link"_s;
    case Kind::Fifo:
        return u"a FIFO"_s;
    case Kind::CharDevice:
        return u"a character device"_s;
    case Kind::BlockDevice:
        return u"a block device"_s;
    case Kind::Socket:
        return u"a socket"_s;
    case Kind::Other:
        break;
    }
    return u"a special file"_s;
}

DeviceVerdict portDeviceVerdict(Kind kind, UserId owner, UserId runningUser)
{
    if (kind != Kind::CharDevice)
        return DeviceVerdict::NotADevice;
    // Real adapters belong to root; a simulator's pseudo-terminal to whoever
    // started it. Another operator's terminal could feed invented readings
    // into the shared log and take this operator's commands.
    if (owner == RootUser || owner == runningUser)
        return DeviceVerdict::Use;
    return DeviceVerdict::OthersDevice;
}

QString refusedLinkText(const QString& linkOwnerName)
{
    return u"it is a link made by %1, who is neither you nor the owner of its folder, "
           u"so it is not followed"_s.arg(linkOwnerName);
}

QString notRegularText(Kind kind)
{
    return u"it is %1, not a regular file"_s.arg(kindName(kind));
}

QString refusedDeviceText(
    DeviceVerdict verdict, const QString& device, Kind kind, const QString& ownerName)
{
    switch (verdict) {
    case DeviceVerdict::Use:
        break;
    case DeviceVerdict::NotADevice:
        return u"%1 is %2, not a serial device"_s.arg(device, kindName(kind));
    case DeviceVerdict::OthersDevice:
        return u"%1 belongs to %2, neither to you nor to the system, so it is not used as "
               u"the board's port"_s.arg(device, ownerName);
    }
    return {};
}

#ifdef Q_OS_WIN

QString refusedLink(const QString&)
{
    // Only administrators make links on Windows.
    return {};
}

Result replaceFile(const QString& path, const QByteArray& data)
{
    QSaveFile f(path);
    // An operator may have made the file writable in a folder that is not;
    // then write in place rather than fail.
    f.setDirectWriteFallback(true);
    if (!f.open(QIODevice::WriteOnly))
        return { false, f.errorString() };
    if (f.write(data) != data.size()) {
        f.cancelWriting();
        return { false, f.errorString() };
    }
    if (!f.commit())
        return { false, f.errorString() };
    return {};
}

#else

namespace {

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

QByteArray folderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return ".";
    if (slash == 0)
        return "/";
    return path.first(slash);
}

QByteArray baseNameOf(const QByteArray& path)
{
    return path.sliced(path.lastIndexOf('/') + 1);
}

// Where the links at `path` lead, one link at a time, each checked by the
// rule in its own folder (as the kernel does in sticky folders).
struct Resolved
{
    QByteArray path; // the first name that is not a link, or the refused link
    bool refused = false;
    int error = 0;
    QString reason;
};

Resolved resolve(const QByteArray& start)
{
    constexpr int MaxLinks = 40; // the kernel's own limit
    Resolved r;
    r.path = start;
    for (int hop = 0; hop <= MaxLinks; ++hop) {
        struct stat st;
        if (::lstat(r.path.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return r; // missing or not a link: the open that follows tells
        if (hop == MaxLinks)
            break;
        const QByteArray folder = folderOf(r.path);
        struct stat folderStat;
        if (::stat(folder.constData(), &folderStat) != 0) {
            r.error = errno;
            r.reason = systemError(r.error);
            return r;
        }
        if (!mayFollowLink(st.st_uid, folderStat.st_uid, ::geteuid())) {
            r.refused = true;
            r.reason = refusedLinkText(userName(st.st_uid));
            return r;
        }
        std::vector<char> target(size_t(st.st_size > 0 ? st.st_size : 255) + 1);
        const ssize_t n = ::readlink(r.path.constData(), target.data(), target.size());
        if (n < 0 || size_t(n) >= target.size()) {
            // Gone or changed since the lstat: look again.
            if (n < 0 && errno != ENOENT && errno != EINVAL) {
                r.error = errno;
                r.reason = systemError(r.error);
                return r;
            }
            continue;
        }
        const QByteArray next(target.data(), n);
        r.path = next.startsWith('/') ? next : folder + '/' + next;
    }
    r.error = ELOOP;
    r.reason = systemError(ELOOP);
    return r;
}

Opened failed(int error)
{
    return { -1, error, systemError(error) };
}

Opened refused(QString reason)
{
    return { -1, 0, std::move(reason) };
}

int openNoIntr(const char* path, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// A file made in a folder the group may write is there to be shared: the
// next operator, whatever his umask, must be able to append to it.
void shareWithGroupOfFolder(int fd, const QByteArray& path)
{
    struct stat folder;
    struct stat file;
    if (::stat(folderOf(path).constData(), &folder) != 0 || !(folder.st_mode & S_IWGRP)
        || ::fstat(fd, &file) != 0)
        return;
    const mode_t wanted = (file.st_mode & 0777) | S_IRGRP | S_IWGRP;
    if ((file.st_mode & 0777) != wanted)
        ::fchmod(fd, wanted);
}

int syncFolder(const QByteArray& folder)
{
    const int fd = openNoIntr(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int error = 0;
    // Some file systems cannot sync a folder and say so; nothing is at risk
    // there that a sync could save.
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        error = errno;
    ::close(fd);
    return error;
}

// Opens what stands at `name` (no link followed) after checking its kind,
// and checks the kind again on the descriptor.
enum class Access
{
    Read,
    Append
};

Opened openChecked(const QString& path, Access access)
{
    const int flags = (access == Access::Read ? O_RDONLY : O_WRONLY | O_APPEND) | O_NOFOLLOW
        | O_NONBLOCK | O_CLOEXEC;
    // A name that changes between our look and the open (a link or a file
    // put there meanwhile) is looked at again, a few times.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const Resolved where = resolve(QFile::encodeName(path));
        if (where.refused || where.error)
            return { -1, where.error, where.reason };
        const char* name = where.path.constData();

        struct stat st;
        if (::lstat(name, &st) == 0) {
            const Kind kind = kindOfMode(st.st_mode);
            // Never even opened: opening some devices does something.
            if (kind != Kind::Regular && kind != Kind::Folder && kind != Kind::Link)
                return refused(notRegularText(kind));
        }

        int fd = openNoIntr(name, flags);
        if (fd < 0 && errno == ENOENT && access == Access::Append) {
            fd = openNoIntr(name, flags | O_CREAT | O_EXCL, 0666);
            if (fd >= 0) {
                shareWithGroupOfFolder(fd, where.path);
                // A record synced into the file must not be lost with its name.
                // Made again by the next attempt, which syncs again.
                if (const int error = syncFolder(folderOf(where.path))) {
                    ::unlink(name);
                    ::close(fd);
                    return failed(error);
                }
            } else if (errno == EEXIST) {
                continue;
            }
        }
        if (fd < 0) {
            if (errno == ELOOP)
                continue; // a link appeared at the name: apply the rule to it
            return failed(errno);
        }
        if (::fstat(fd, &st) != 0) {
            const int error = errno;
            ::close(fd);
            return failed(error);
        }
        const Kind kind = kindOfMode(st.st_mode);
        if (kind != Kind::Regular) {
            ::close(fd);
            return refused(notRegularText(kind));
        }
        return { fd, 0, {} };
    }
    return failed(ELOOP);
}

bool writeAllAt(int fd, const QByteArray& data, off_t offset)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n
            = ::pwrite(fd, data.constData() + done, size_t(data.size() - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        done += n;
    }
    return true;
}

} // namespace

QString userName(UserId uid)
{
    struct passwd entry;
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(uid_t(uid), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return u"user %1"_s.arg(uid);
}

QString refusedLink(const QString& path)
{
    const Resolved where = resolve(QFile::encodeName(path));
    return where.refused ? where.reason : QString();
}

Opened openForReading(const QString& path)
{
    return openChecked(path, Access::Read);
}

Opened openForAppend(const QString& path)
{
    return openChecked(path, Access::Append);
}

QString syncFolderOf(const QString& path)
{
    const int error = syncFolder(folderOf(QFile::encodeName(path)));
    return error ? systemError(error) : QString();
}

Result replaceFile(const QString& path, const QByteArray& data)
{
    const Resolved where = resolve(QFile::encodeName(path));
    if (where.error)
        return { false, where.reason };
    // A refused link is replaced, never followed.
    const QByteArray target = where.path;

    // What stands there now: a regular file we may write, a link to replace,
    // or nothing. Anything else is left as it is.
    int existing = -1;
    struct stat old;
    bool hadFile = false;
    if (::lstat(target.constData(), &old) == 0 && !where.refused) {
        const Kind kind = kindOfMode(old.st_mode);
        if (kind != Kind::Regular)
            return { false, notRegularText(kind) };
        existing = openNoIntr(target.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (existing < 0)
            return { false, systemError(errno) };
        if (::fstat(existing, &old) != 0 || kindOfMode(old.st_mode) != Kind::Regular) {
            ::close(existing);
            return { false, notRegularText(kindOfMode(old.st_mode)) };
        }
        hadFile = true;
    }
    struct Closer
    {
        int& fd;
        ~Closer()
        {
            if (fd >= 0)
                ::close(fd);
        }
    } closeExisting { existing };

    const QByteArray folder = folderOf(target);
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = folder + "/." + baseNameOf(target) + '.'
            + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        fd = openNoIntr(
            temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        const int error = errno;
        // A folder that takes no new file, with the file itself writable: an
        // operator's own choice, so the file is rewritten in place, through
        // the descriptor opened above and never through the name again.
        if (hadFile && (error == EACCES || error == EPERM || error == EROFS)) {
            if (!writeAllAt(existing, data, 0) || ::ftruncate(existing, off_t(data.size())) != 0
                || ::fsync(existing) != 0)
                return { false, systemError(errno) };
            return {};
        }
        return { false, systemError(error) };
    }

    // The new file keeps the old one's permissions; a new one is shared
    // like every file made in a group-writable folder.
    if (hadFile)
        ::fchmod(fd, old.st_mode & 0777);
    else
        shareWithGroupOfFolder(fd, temporary);

    bool ok = writeAllAt(fd, data, 0) && ::fsync(fd) == 0;
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temporary.constData(), target.constData()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temporary.constData());
        return { false, systemError(error) };
    }
    return {};
}

QString refusedPort(int fd, const QString& portName)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return systemError(errno);
    const Kind kind = kindOfMode(st.st_mode);
    const DeviceVerdict verdict = portDeviceVerdict(kind, st.st_uid, ::geteuid());
    if (verdict == DeviceVerdict::Use)
        return {};
    // The name of what was really opened, not of what the link says now.
    QString device = QFile::symLinkTarget(u"/proc/self/fd/%1"_s.arg(fd));
    if (device.isEmpty())
        device = portName;
    return refusedDeviceText(verdict, device, kind, userName(st.st_uid));
}

#endif

} // namespace safefile
