// SPDX-License-Identifier: MIT
#pragma once

// Opening the operators' files and the board's port in a folder that every
// operator may write: the installed program's data folder is shared by the
// dialout group, set-group-ID and without the sticky bit, so any operator can
// delete another's file and put a link, a FIFO or a device in its place. The
// kernel's own defence (protected_symlinks) covers sticky world-writable
// folders only, so the program applies the same rules itself:
//  - a symbolic link is followed only when the user running the program or
//    the owner of the folder holding the link made it;
//  - only regular files are logged to or read as settings, opened without
//    blocking, so a FIFO cannot hang the program;
//  - a file the program creates in a group-writable folder is made group
//    readable and writable, whatever the umask, so the next operator can
//    append to it;
//  - the settings file is replaced by a new file renamed into place, never
//    written through whatever stands at its name;
//  - a serial port is used only when it is a character device owned by the
//    system (root) or by the user running the program: another user's
//    pseudo-terminal is someone pretending to be the board.
// The rules are plain functions over numbers first, so they are tested for
// any user, root included.

#include <QByteArray>
#include <QString>

namespace safefile {

using UserId = unsigned int;
constexpr UserId RootUser = 0;

// Whether `runningUser` may follow a link owned by `linkOwner` that stands in
// a folder owned by `folderOwner`.
bool mayFollowLink(UserId linkOwner, UserId folderOwner, UserId runningUser);

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

enum class DeviceVerdict
{
    Use,
    NotADevice, // a regular file, a FIFO, a socket...: not a serial line
    OthersDevice // a terminal belonging to another user
};

DeviceVerdict portDeviceVerdict(Kind kind, UserId owner, UserId runningUser);

// The text for a link that is not followed: "it is a link made by <owner>,
// who is neither you nor the owner of the folder, so it is not followed".
QString refusedLinkText(const QString& linkOwnerName);

// The text for a file that is not a regular file: "it is a FIFO, not a
// regular file".
QString notRegularText(Kind kind);

// The text for a port refused by portDeviceVerdict; `device` is the device's
// own path.
QString refusedDeviceText(
    DeviceVerdict verdict, const QString& device, Kind kind, const QString& ownerName);

struct Result
{
    bool ok = true;
    QString error; // why not, when !ok: the system's reason or one of the texts above
};

// Why the program will not follow a link at `path` or at the end of the
// links it leads through; empty when there is no such link. A missing file is
// no reason.
QString refusedLink(const QString& path);

// Writes `data` as the whole new content of `path`: into a new file in the
// same folder, synced, then renamed over `path`. A link at `path` that
// refusedLink() accepts is followed and its target replaced; any other link
// there is replaced itself. An existing file that is not a regular file, or
// that this user may not write, is left alone and the result is a failure.
// When the folder takes no new file but the file itself is writable, it is
// rewritten in place through one descriptor.
Result replaceFile(const QString& path, const QByteArray& data);

#ifndef Q_OS_WIN

struct Opened
{
    int fd = -1;
    int error = 0; // errno when the system refused
    QString reason; // the text of the failure: the system's or ours
};

// Opens the regular file at `path` for reading without blocking and without
// following a link that refusedLink() refuses.
Opened openForReading(const QString& path);

// Opens the regular file at `path` for appending, likewise; creates it when
// missing (then shared with the group when the folder is group-writable, and
// its folder synced, so that the new name survives a power cut).
Opened openForAppend(const QString& path);

// Syncs the folder that holds `path`, so that a name made or changed in it
// survives a power cut. Empty when done; else the system's reason.
QString syncFolderOf(const QString& path);

// Why the port open on `fd` (reached by the name `portName`) must not be
// used; empty when it may.
QString refusedPort(int fd, const QString& portName);

// The name of user `uid` for messages ("user 1234" when it has none).
QString userName(UserId uid);

#endif

} // namespace safefile
