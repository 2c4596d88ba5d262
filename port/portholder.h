// SPDX-License-Identifier: MIT
#pragma once

// Who holds a serial port, from what can be seen without opening it: the
// lock file the serial port takes under the name it was opened by, and the
// open files of the processes this user may look into.

#include <QString>
#include <QStringList>
#include <optional>

namespace portholder {

// The lock files the serial port may take for `portName`: "LCK.." and the
// name with '/' turned into '_' ("LCK..ttyS0", "LCK.._opt_tarvik_com1"), in
// each of the folders it tries, first first.
QStringList lockFileCandidates(const QString& portName);

struct LockHolder
{
    QString lockFile;
    qint64 pid = 0;
    QString program; // the lock's application name, else the process's own
    bool ended = false; // the process is gone and the lock was left behind
};

// The first lock file for `portName` that names a process.
std::optional<LockHolder> lockHolder(const QString& portName);

bool isRunning(qint64 pid);

// The process's name ("tarvik"), empty when it cannot be seen.
QString processName(qint64 pid);

// A process other than this one that has `device` (a device's own path) open;
// 0 when none can be seen. Other users' processes cannot be looked into. The
// board's side of a pseudo-terminal (the process holding its master, such
// as a simulator) does not count as holding it.
qint64 processHolding(const QString& device);

} // namespace portholder
