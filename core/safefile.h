// SPDX-License-Identifier: MIT
#pragma once

// Opening the operators' files and the board's port in a folder that every
// operator may write: the installed program's data folder is shared by the
// dialout group, set-group-ID and without the sticky bit, so any operator can
// delete another's file and put a link, a FIFO or a device in its place. The
// kernel's own defence (protected_symlinks) covers sticky world-writable
// folders only, so the program applies its own rules:
//  - a path is walked one name at a time, and a symbolic link anywhere on it
//    is followed only when the user running the program or root made it:
//    another user's link, in the shared folder or in a folder of his own,
//    may lead into this user's files;
//  - only regular files with one name are logged to or read as settings,
//    opened without blocking, so a FIFO cannot hang the program and a second
//    name (hard link) of someone's file cannot be written or disclosed;
//  - a file is read whole only up to a bound its caller gives;
//  - a file the program creates in a group-writable folder is made group
//    readable and writable, whatever the umask, so the next operator can
//    append to it;
//  - the settings file is replaced by a new file renamed into place, never
//    written through whatever stands at its name, and readable by exactly
//    whom the old one was;
//  - the board's port must be a serial port (a terminal with a device behind
//    it), or a pseudo-terminal (a simulator's) reached only through links
//    the running user or root made; never the terminal the program runs in,
//    the console or /dev/ptmx, and nothing another user owns.
// The rules are plain functions over numbers first, so they are tested for
// any user, root included.

#include "core/result.h"

#include <QByteArray>
#include <QString>

namespace safefile {

using UserId = unsigned int;
constexpr UserId RootUser = 0;

// Whether `runningUser` may follow a link made by `linkOwner`.
bool mayFollowLink(UserId linkOwner, UserId runningUser);

enum class Kind
{
    Missing,
    Regular,
    Folder,
    Link,
    Fifo,
    CharDevice,
    BlockDevice,
    Socket,
    Other
};

// The kind of a file from its st_mode.
Kind kindOfMode(unsigned int mode);

// "a FIFO", "a folder", ... for the messages.
QString kindName(Kind kind);

// What the port's name leads to, as the verdict below needs it.
struct PortDevice
{
    Kind kind = Kind::Missing;
    unsigned int major = 0; // the device number, for a character device
    unsigned int minor = 0;
    bool hasHardware = false; // a device behind it (/sys/class/tty/*/device)
    UserId owner = RootUser;
    bool linksTrusted = true; // every link on the way made by the running user or root
};

enum class DeviceVerdict
{
    Use,
    NotADevice, // a regular file, a FIFO, a socket...: not a serial line
    OthersDevice, // a terminal belonging to another user
    ProgramsTerminal, // /dev/tty, /dev/console, /dev/ptmx
    NotASerialPort, // a device with no port behind it: /dev/null, a console
    OthersLink // a pseudo-terminal reached through another user's link
};

// Whether `runningUser` may use `device` as the board's line: a serial port,
// or a pseudo-terminal (a simulator's) only when every link on the way was
// his or root's, since another operator could link his own terminal or
// simulator there, or this operator's.
DeviceVerdict portDeviceVerdict(const PortDevice& device, UserId runningUser);

// The text for a link that is not followed: "it is a link made by <owner>,
// who is neither you nor root, so it is not followed", or, for a link on the
// way to the file, "<linkPath> is a link made by ...".
QString refusedLinkText(const QString& linkOwnerName, const QString& linkPath = {});

// The text for a file that is not a regular file: "it is a FIFO, not a
// regular file".
QString notRegularText(Kind kind);

// The text for a file with more than one name.
QString hardLinkText(quint64 names);

// The text for a file refused for its size.
QString tooLargeText(qint64 size, qint64 maxSize);

// The text for a port refused by portDeviceVerdict; `device` is the device's
// own path, `link` the link that made it refused ("the link /x/com1 made by
// anna") for OthersLink.
QString refusedDeviceText(DeviceVerdict verdict, const QString& device, Kind kind,
    const QString& ownerName, const QString& link = {});

// Why the program will not follow a link on the way to `path` or at its
// end; empty when there is no such link. A missing file is no reason.
// A verdict, not a failure: callers use the text as the reason of theirs.
QString refusedLink(const QString& path);

// Writes `data` as the whole new content of `path`: into a new file in the
// same folder, synced, then renamed over `path`. A link at `path` that
// refusedLink() accepts is followed and its target replaced; a refused link
// there is replaced itself, and a refused link on the way is a failure. An
// existing file that is not a regular file, that has a second name, or that
// this user may not write, is left alone and the result is a failure. The
// new file keeps the old one's mode and group (when this user may give it
// that group; otherwise its group gets no rights). When the folder takes no
// new file but the file itself is writable, it is rewritten in place through
// one descriptor. A failure's reason is the system's or one of the texts
// above.
Result<void> replaceFile(const QString& path, const QByteArray& data);

// The whole regular file at `path`, opened as openForReading() opens it,
// when it holds at most `maxSize` bytes; a bigger one is refused unread.
// The failure's error is ENOENT when there is no file at `path` (and
// nothing on the way is missing either).
Result<QByteArray> readWhole(const QString& path, qint64 maxSize);

#ifndef Q_OS_WIN

// Opens the regular file at `path` for reading without blocking and without
// following a link that refusedLink() refuses; the value is the descriptor,
// the caller's to close. A failure's error is the errno when the system
// refused, 0 when the program did.
Result<int> openForReading(const QString& path);

// Opens the regular file at `path` for appending, likewise; creates it when
// missing (then shared with the group when the folder is group-writable, and
// its folder synced, so that the new name survives a power cut).
Result<int> openForAppend(const QString& path);

// Opens the regular file at `path` for writing from its start, likewise, and
// empties it once it is known to be a file of this path alone.
Result<int> openForWriting(const QString& path);

// Syncs the folder that holds `path`, so that a name made or changed in it
// survives a power cut.
Result<void> syncFolderOf(const QString& path);

// The one rule for what may be used as the board's port, for every program
// that opens one or lists the candidates. `portName` is the name the port is
// opened by (a comN link, a device); `fd` is the port as opened through it,
// or -1 to judge the port without opening it (opening a serial port may
// change its lines), by what the name leads to now. The device says what it
// is, the name through whose links it is reached. Returns why it must not be
// used, in words for the operator (naming the device), or an empty string
// when it may. The rule itself: portDeviceVerdict(). A verdict, not a
// failure: a port that cannot be looked at is refused with the system's
// reason, so every answer is "use it" or "not, because".
QString refusedPort(int fd, const QString& portName);

// The name of user `uid` for messages ("user 1234" when it has none).
QString userName(UserId uid);

#endif

} // namespace safefile
