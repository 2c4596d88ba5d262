// SPDX-License-Identifier: MIT
#include "core/safefile.h"

#include "core/writewhole.h"

#include <QFile>
#include <QSaveFile>
#include <cerrno>

#ifndef Q_OS_WIN
#include <QRandomGenerator>
#include <fcntl.h>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>
#include <vector>
#endif

using namespace Qt::StringLiterals;

namespace safefile {

bool mayFollowLink(UserId linkOwner, UserId runningUser)
{
    // Whose folder the link stands in says nothing: another operator's link
    // in a folder of his own may lead into this operator's files as well.
    return linkOwner == runningUser || linkOwner == RootUser;
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

namespace {

// Linux's device numbers: /dev/tty, /dev/console and /dev/ptmx are 5:0 to
// 5:2; the slaves of Unix98 pseudo-terminals have majors 136 to 143.
constexpr unsigned int TtyAuxMajor = 5;
constexpr unsigned int PtySlaveFirstMajor = 136;
constexpr unsigned int PtySlaveLastMajor = 143;

} // namespace

DeviceVerdict portDeviceVerdict(const PortDevice& device, UserId runningUser)
{
    if (device.kind != Kind::CharDevice)
        return DeviceVerdict::NotADevice;
    // Whatever is typed at these would be logged as readings, and the
    // board's commands typed there.
    if (device.major == TtyAuxMajor && device.minor <= 2)
        return DeviceVerdict::ProgramsTerminal;
    // Real adapters belong to root; a simulator's pseudo-terminal to whoever
    // started it. Another operator's terminal could feed invented readings
    // into the shared log and take this operator's commands.
    if (device.owner != RootUser && device.owner != runningUser)
        return DeviceVerdict::OthersDevice;
    if (device.hasHardware)
        return DeviceVerdict::Use;
    if (device.major >= PtySlaveFirstMajor && device.major <= PtySlaveLastMajor) {
        // This operator's own terminal or training simulator is his too: only
        // he (or root) may have chosen it as the board.
        return device.linksTrusted ? DeviceVerdict::Use : DeviceVerdict::OthersLink;
    }
    return DeviceVerdict::NotASerialPort;
}

QString refusedLinkText(const QString& linkOwnerName, const QString& linkPath)
{
    return u"%1 a link made by %2, who is neither you nor root, so it is not followed"_s.arg(
        linkPath.isEmpty() ? u"it is"_s : linkPath + u" is"_s, linkOwnerName);
}

QString notRegularText(Kind kind)
{
    return u"it is %1, not a regular file"_s.arg(kindName(kind));
}

QString hardLinkText(quint64 names)
{
    return u"the same file has %1 names (hard links), so it may be another user's file "
           u"under a new name; it is not used"_s.arg(names);
}

QString tooLargeText(qint64 size, qint64 maxSize)
{
    return u"it is %1 bytes long, longer than the %2 bytes allowed, so it is not read"_s.arg(
        QString::number(size), QString::number(maxSize));
}

QString refusedDeviceText(DeviceVerdict verdict, const QString& device, Kind kind,
    const QString& ownerName, const QString& link)
{
    switch (verdict) {
    case DeviceVerdict::Use:
        break;
    case DeviceVerdict::NotADevice:
        return u"%1 is %2, not a serial device"_s.arg(device, kindName(kind));
    case DeviceVerdict::OthersDevice:
        return u"%1 belongs to %2, neither to you nor to the system, so it is not used as "
               u"the board's port"_s.arg(device, ownerName);
    case DeviceVerdict::ProgramsTerminal:
        return u"%1 is a terminal of this computer, not a serial port: what is typed there "
               u"would be logged as readings"_s.arg(device);
    case DeviceVerdict::NotASerialPort:
        return u"%1 is a device with no serial port behind it"_s.arg(device);
    case DeviceVerdict::OthersLink:
        return u"%1 is a pseudo-terminal (a terminal or a simulator) reached through %2, so "
               u"it is not used as the board's port"_s.arg(device, link);
    }
    return {};
}

#ifdef Q_OS_WIN

QString refusedLink(const QString&)
{
    // Only administrators make links on Windows.
    return {};
}

Result<void> replaceFile(const QString& path, const QByteArray& data)
{
    QSaveFile f(path);
    // An operator may have made the file writable in a folder that is not;
    // then write in place rather than fail.
    f.setDirectWriteFallback(true);
    if (!f.open(QIODevice::WriteOnly))
        return Failure { f.errorString() };
    if (f.write(data) != data.size()) {
        f.cancelWriting();
        return Failure { f.errorString() };
    }
    if (!f.commit())
        return Failure { f.errorString() };
    return {};
}

Result<QByteArray> readWhole(const QString& path, qint64 maxSize)
{
    QFile f(path);
    if (!f.exists())
        return systemFailure(ENOENT);
    if (!f.open(QIODevice::ReadOnly))
        return Failure { f.errorString() };
    if (f.size() > maxSize)
        return Failure { tooLargeText(f.size(), maxSize) };
    // One byte more tells a file that grew meanwhile.
    QByteArray bytes = f.read(maxSize + 1);
    if (bytes.size() > maxSize)
        return Failure { tooLargeText(f.size(), maxSize) };
    return bytes;
}

#else

namespace {

int openNoIntr(const char* path, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int openAtNoIntr(int folder, const char* name, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::openat(folder, name, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

class Descriptor
{
public:
    Descriptor() = default;
    explicit Descriptor(int fd)
        : m_fd(fd)
    { }
    Descriptor(Descriptor&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    { }
    Descriptor& operator=(Descriptor&& other) noexcept
    {
        reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    ~Descriptor() { reset(); }

    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

// Where a path leads: an open folder and a name in it, with every link on
// the way judged by the rule (the kernel's own walk would follow any link).
struct Place
{
    Descriptor folder; // opened with O_PATH
    QByteArray name; // the last name, not yet opened; "." for the folder itself
    int error = 0;
    QString reason; // why not, with error or refused
    bool refused = false; // a link not followed
    bool refusedAtEnd = false; // ... standing at `name` in `folder`
    QString othersLink; // with Links::Note: the first link the rule refuses ("the link ...")
    QByteArray shown; // the path of `name`, links resolved, for messages
};

enum class Links
{
    Judge, // a refused link ends the walk
    Note // every link is followed; the first refused one is noted
};

void splitPath(const QByteArray& path, std::vector<QByteArray>* pending)
{
    // Kept in reverse, so the next name is at the back.
    const QList<QByteArray> parts = path.split('/');
    for (auto it = parts.crbegin(); it != parts.crend(); ++it) {
        if (!it->isEmpty() && *it != ".")
            pending->push_back(*it);
    }
}

QByteArray joined(const QByteArray& folder, const QByteArray& name)
{
    if (folder.isEmpty())
        return name;
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

// Reads the link open on `link` (O_PATH): the very link whose owner was
// judged, whatever stands at its name by now.
bool readLinkAt(int link, QByteArray* target, int* error)
{
    std::vector<char> buffer(4096);
    const ssize_t n = ::readlinkat(link, "", buffer.data(), buffer.size());
    if (n < 0 || size_t(n) >= buffer.size()) {
        *error = n < 0 ? errno : ENAMETOOLONG;
        return false;
    }
    *target = QByteArray(buffer.data(), n);
    return true;
}

// Where a walk stands: the names still to go, kept in reverse so that the
// next is at the back, and the folder reached.
struct Walk
{
    Place place;
    std::vector<QByteArray> pending;
    size_t ownNamesLeft = 0; // the path's own names lie under those of the links met
    QByteArray here; // the folder's path, for messages
    int hops = 0;

    // Ends the walk with the system's `error`.
    Place fail(int error)
    {
        place.folder.reset();
        place.error = error;
        place.reason = systemError(error);
        return std::move(place);
    }
    // Ends the walk at `name` in the folder reached.
    Place end(QByteArray name, QByteArray shown)
    {
        place.name = std::move(name);
        place.shown = std::move(shown);
        return std::move(place);
    }
};

// One name of the path, as the walk meets it.
struct Step
{
    QByteArray name;
    QByteArray shown; // its path, links resolved
    bool last = false;
    bool ownName = false; // the path's own, not a link's
};

// Follows the link open on `link`, made by `owner`, or ends the walk at it
// when the rule refuses it and `links` says to judge; the walk ends where a
// place is returned.
std::optional<Place> throughLink(Walk& w, int link, UserId owner, const Step& step, Links links)
{
    constexpr int MaxLinks = 40; // the kernel's own limit
    if (++w.hops > MaxLinks)
        return w.fail(ELOOP);
    if (!mayFollowLink(owner, ::geteuid())) {
        if (links == Links::Judge) {
            w.place.refused = true;
            w.place.refusedAtEnd = step.last;
            // The file's own name needs no naming; a link on the way does.
            w.place.reason = refusedLinkText(userName(owner),
                step.last && step.ownName ? QString() : QFile::decodeName(step.shown));
            if (step.last)
                w.place.name = step.name;
            else
                w.place.folder.reset();
            return std::move(w.place);
        }
        if (w.place.othersLink.isEmpty()) {
            w.place.othersLink = u"the link %1 made by %2, who is neither you nor root"_s.arg(
                QFile::decodeName(step.shown), userName(owner));
        }
    }
    QByteArray target;
    int error = 0;
    if (!readLinkAt(link, &target, &error))
        return w.fail(error);
    if (target.isEmpty())
        return w.fail(ENOENT);
    splitPath(target, &w.pending);
    if (target.startsWith('/')) {
        w.place.folder.reset(openNoIntr("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (w.place.folder.get() < 0)
            return w.fail(errno);
        w.here = "/";
    }
    if (w.pending.empty())
        return w.end(".", w.here); // the link led to "/"
    return std::nullopt;
}

Place walk(const QByteArray& path, Links links)
{
    Walk w;
    if (path.isEmpty())
        return w.fail(ENOENT);
    splitPath(path, &w.pending);
    w.ownNamesLeft = w.pending.size();
    const bool absolute = path.startsWith('/');
    w.place.folder.reset(openNoIntr(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (w.place.folder.get() < 0)
        return w.fail(errno);
    w.here = absolute ? "/" : "";
    while (!w.pending.empty()) {
        Step step;
        step.ownName = w.pending.size() <= w.ownNamesLeft;
        if (step.ownName)
            --w.ownNamesLeft;
        step.name = w.pending.back();
        w.pending.pop_back();
        step.last = w.pending.empty();
        step.shown = joined(w.here, step.name);
        // What stands at the name, never followed.
        Descriptor at(openAtNoIntr(
            w.place.folder.get(), step.name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (at.get() < 0) {
            // Missing at the end: the caller's open tells, or creates it.
            if (step.last && errno == ENOENT)
                return w.end(step.name, step.shown);
            return w.fail(errno);
        }
        struct stat st;
        if (::fstat(at.get(), &st) != 0)
            return w.fail(errno);
        if (S_ISLNK(st.st_mode)) {
            if (std::optional<Place> ended = throughLink(w, at.get(), st.st_uid, step, links))
                return std::move(*ended);
            continue;
        }
        if (step.last)
            return w.end(step.name, step.shown);
        if (!S_ISDIR(st.st_mode))
            return w.fail(ENOTDIR);
        w.place.folder = std::move(at);
        w.here = step.shown;
    }
    return w.end(".", w.here);
}

// A file made in a folder the group may write is there to be shared: the
// next operator, whatever his umask, must be able to append to it.
void shareWithGroupOfFolder(int fd, int folder)
{
    struct stat folderStat;
    struct stat file;
    if (::fstat(folder, &folderStat) != 0 || !(folderStat.st_mode & S_IWGRP)
        || ::fstat(fd, &file) != 0)
        return;
    const mode_t wanted = (file.st_mode & 0777) | S_IRGRP | S_IWGRP;
    if ((file.st_mode & 0777) != wanted)
        ::fchmod(fd, wanted);
}

// The new file that replaces `old` is open to exactly whom the old one was.
// In a set-group-ID folder it would otherwise take the folder's group, and
// the group's rights with it.
void keepAccess(int fd, const struct stat& old)
{
    const uid_t owner = ::geteuid() == RootUser ? old.st_uid : uid_t(-1);
    // Refused when this user is not in the old file's group: then the
    // group it has gets no rights at all.
    (void)::fchown(fd, owner, old.st_gid);
    mode_t mode = old.st_mode & 0777;
    struct stat now;
    if (::fstat(fd, &now) != 0 || now.st_gid != old.st_gid)
        mode &= ~mode_t(S_IRWXG);
    ::fchmod(fd, mode);
}

// Syncs the folder open on `folder` (O_PATH), so that a name made in it
// survives a power cut. 0 when done, else the system's error.
int syncFolder(int folder)
{
    const Descriptor fd(openAtNoIntr(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0)
        return errno;
    // Some file systems cannot sync a folder and say so; nothing is at risk
    // there that a sync could save.
    if (::fsync(fd.get()) != 0 && errno != EINVAL && errno != EROFS)
        return errno;
    return 0;
}

enum class Access
{
    Read,
    Append,
    Write
};

// The file just opened is a regular file of one name; emptied when opened
// for writing.
Result<void> checkOpened(int fd, Access access)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return systemFailure(errno);
    const Kind kind = kindOfMode(st.st_mode);
    if (kind != Kind::Regular)
        return Failure { notRegularText(kind) };
    // Another user may give someone's file a second name here (where
    // protected_hardlinks is off): writing it, or reading it as settings
    // to be rewritten for the group, would reach that file.
    if (st.st_nlink > 1)
        return Failure { hardLinkText(quint64(st.st_nlink)) };
    if (access == Access::Write && ::ftruncate(fd, 0) != 0)
        return systemFailure(errno);
    return {};
}

// Opens the regular file `path` leads to after checking its kind, and checks
// the kind and the number of its names again on the descriptor.
Result<int> openChecked(const QString& path, Access access)
{
    const int mode = access == Access::Read ? O_RDONLY
        : access == Access::Append          ? O_WRONLY | O_APPEND
                                            : O_WRONLY;
    const int flags = mode | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    // A name that changes between our look and the open (a link or a file
    // put there meanwhile) is looked at again, a few times.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const Place where = walk(QFile::encodeName(path), Links::Judge);
        if (where.refused || where.error)
            return Failure { where.reason, where.error };
        const int folder = where.folder.get();
        const char* name = where.name.constData();

        struct stat st;
        if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            const Kind kind = kindOfMode(st.st_mode);
            // Never even opened: opening some devices does something.
            if (kind != Kind::Regular && kind != Kind::Folder && kind != Kind::Link)
                return Failure { notRegularText(kind) };
        }

        Descriptor fd(openAtNoIntr(folder, name, flags));
        if (fd.get() < 0 && errno == ENOENT && access != Access::Read) {
            fd.reset(openAtNoIntr(folder, name, flags | O_CREAT | O_EXCL, 0666));
            if (fd.get() >= 0) {
                shareWithGroupOfFolder(fd.get(), folder);
                // A record synced into the file must not be lost with its
                // name. Made again by the next attempt, which syncs again.
                if (const int error = syncFolder(folder)) {
                    ::unlinkat(folder, name, 0);
                    return systemFailure(error);
                }
            } else if (errno == EEXIST) {
                continue;
            }
        }
        if (fd.get() < 0) {
            if (errno == ELOOP)
                continue; // a link appeared at the name: apply the rule to it
            return systemFailure(errno);
        }
        if (const Result<void> usable = checkOpened(fd.get(), access); !usable)
            return usable.failure();
        return fd.release();
    }
    return systemFailure(ELOOP);
}

bool writeAllAt(int fd, const QByteArray& data, off_t offset)
{
    return writeWhole(data, [fd, offset](const char* bytes, qsizetype count, qsizetype done) {
        return ::pwrite(fd, bytes, size_t(count), offset + off_t(done));
    }) == data.size();
}

// What stands at the place to be replaced: a regular file of one name that
// this user may write (opened), nothing, or a reason to leave it alone.
struct Existing
{
    Descriptor fd;
    struct stat st = {};
    QString reason;
};

Existing openExisting(const Place& where)
{
    Existing e;
    if (where.refused
        || ::fstatat(where.folder.get(), where.name.constData(), &e.st, AT_SYMLINK_NOFOLLOW) != 0)
        return e; // a refused link or nothing: a new file takes the name
    Kind kind = kindOfMode(e.st.st_mode);
    if (kind != Kind::Regular) {
        e.reason = notRegularText(kind);
        return e;
    }
    e.fd.reset(openAtNoIntr(where.folder.get(), where.name.constData(),
        O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (e.fd.get() < 0) {
        e.reason = systemError(errno);
        return e;
    }
    if (::fstat(e.fd.get(), &e.st) != 0) {
        e.reason = systemError(errno);
    } else if ((kind = kindOfMode(e.st.st_mode)) != Kind::Regular) {
        e.reason = notRegularText(kind);
    } else if (e.st.st_nlink > 1) {
        e.reason = hardLinkText(quint64(e.st.st_nlink));
    }
    if (!e.reason.isEmpty())
        e.fd.reset();
    return e;
}

// A new file beside `name` in `folder`, named so that no one else's is
// taken; `mode` before the umask.
Descriptor createTemporary(int folder, const QByteArray& name, mode_t mode, QByteArray* temporary)
{
    Descriptor fd;
    for (int attempt = 0; attempt < 16 && fd.get() < 0; ++attempt) {
        *temporary
            = "." + name + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        fd.reset(openAtNoIntr(folder, temporary->constData(),
            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (fd.get() < 0 && errno != EEXIST)
            break;
    }
    return fd;
}

// An operator's own choice, a folder that takes no new file with the file
// itself writable: the file is rewritten in place, through the descriptor
// opened before and never through the name again.
Result<void> rewriteInPlace(int fd, const QByteArray& data)
{
    if (!writeAllAt(fd, data, 0) || ::ftruncate(fd, off_t(data.size())) != 0 || ::fsync(fd) != 0)
        return systemFailure(errno);
    return {};
}

// The device a descriptor's character device stands for has a port behind
// it: a UART, a USB adapter. Pseudo-terminals and consoles have none.
bool hasHardwareBehind(dev_t device)
{
    const QByteArray path = "/sys/dev/char/" + QByteArray::number(major(device)) + ':'
        + QByteArray::number(minor(device)) + "/device";
    return ::access(path.constData(), F_OK) == 0;
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
    const Place where = walk(QFile::encodeName(path), Links::Judge);
    return where.refused ? where.reason : QString();
}

Result<int> openForReading(const QString& path)
{
    return openChecked(path, Access::Read);
}

Result<int> openForAppend(const QString& path)
{
    return openChecked(path, Access::Append);
}

Result<int> openForWriting(const QString& path)
{
    return openChecked(path, Access::Write);
}

Result<QByteArray> readWhole(const QString& path, qint64 maxSize)
{
    const Result<int> opened = openForReading(path);
    if (!opened)
        return opened.failure();
    const Descriptor fd(opened.value());
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        return systemFailure(errno);
    if (st.st_size > maxSize)
        return Failure { tooLargeText(st.st_size, maxSize) };
    // One byte more than allowed tells a file that grew meanwhile.
    QByteArray bytes(maxSize + 1, Qt::Uninitialized);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return systemFailure(errno);
        if (n == 0)
            break;
        done += n;
    }
    if (done > maxSize)
        return Failure { tooLargeText(::fstat(fd.get(), &st) == 0 ? st.st_size : done, maxSize) };
    bytes.truncate(done);
    return bytes;
}

Result<void> syncFolderOf(const QString& path)
{
    const Place where = walk(QFile::encodeName(path), Links::Judge);
    // A refused link at the last name still leaves its folder to sync.
    if (where.error || (where.refused && !where.refusedAtEnd))
        return Failure { where.reason, where.error };
    if (const int error = syncFolder(where.folder.get()))
        return systemFailure(error);
    return {};
}

Result<void> replaceFile(const QString& path, const QByteArray& data)
{
    const Place where = walk(QFile::encodeName(path), Links::Judge);
    if (where.error || (where.refused && !where.refusedAtEnd))
        return Failure { where.reason, where.error };
    // A refused link at the name is replaced, never followed.
    const Existing existing = openExisting(where);
    if (!existing.reason.isEmpty())
        return Failure { existing.reason };
    const bool hadFile = existing.fd.get() >= 0;
    const int folder = where.folder.get();

    // Nothing is written before the new file is as closed as the old.
    QByteArray temporary;
    Descriptor fd = createTemporary(folder, where.name, hadFile ? 0600 : 0666, &temporary);
    if (fd.get() < 0) {
        const int error = errno;
        if (hadFile && (error == EACCES || error == EPERM || error == EROFS))
            return rewriteInPlace(existing.fd.get(), data);
        return systemFailure(error);
    }
    if (hadFile)
        keepAccess(fd.get(), existing.st);
    else
        shareWithGroupOfFolder(fd.get(), folder);

    bool ok = writeAllAt(fd.get(), data, 0) && ::fsync(fd.get()) == 0;
    int error = ok ? 0 : errno;
    if (::close(fd.release()) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::renameat(folder, temporary.constData(), folder, where.name.constData()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlinkat(folder, temporary.constData(), 0);
        return systemFailure(error);
    }
    return {};
}

QString refusedPort(int fd, const QString& portName)
{
    // What the name leads to now, every link on the way noted.
    const Place where = walk(QFile::encodeName(portName), Links::Note);
    struct stat reached;
    const bool reachable = !where.error
        && ::fstatat(where.folder.get(), where.name.constData(), &reached, AT_SYMLINK_NOFOLLOW)
            == 0;
    struct stat st;
    if (fd >= 0) {
        if (::fstat(fd, &st) != 0)
            return systemError(errno);
    } else if (!reachable) {
        return where.error ? where.reason : systemError(errno);
    } else {
        st = reached;
    }
    PortDevice device;
    device.kind = kindOfMode(st.st_mode);
    device.owner = st.st_uid;
    QString othersLink;
    if (device.kind == Kind::CharDevice) {
        device.major = major(st.st_rdev);
        device.minor = minor(st.st_rdev);
        device.hasHardware = hasHardwareBehind(st.st_rdev);
        // The links must lead to what was opened: otherwise they changed
        // meanwhile, and cannot be judged.
        const bool same = reachable && reached.st_dev == st.st_dev && reached.st_ino == st.st_ino
            && reached.st_rdev == st.st_rdev;
        othersLink = same ? where.othersLink : u"links that changed while it was opened"_s;
        device.linksTrusted = othersLink.isEmpty();
    }
    const DeviceVerdict verdict = portDeviceVerdict(device, ::geteuid());
    if (verdict == DeviceVerdict::Use)
        return {};
    // The name of what was really opened, not of what the link says now.
    QString name = fd >= 0 ? QFile::symLinkTarget(u"/proc/self/fd/%1"_s.arg(fd))
                           : QFile::decodeName(where.shown);
    if (name.isEmpty())
        name = portName;
    return refusedDeviceText(verdict, name, device.kind, userName(st.st_uid), othersLink);
}

#endif

} // namespace safefile
