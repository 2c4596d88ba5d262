// SPDX-License-Identifier: MIT
#pragma once

// What tarvik-port knows about the ports without sending anything: who holds
// each, whether this user may open it, which comN links and the ComPort
// setting lead to it. `list` prints it; find and use build on it.

#include "core/comlink.h"
#include "port/serialports.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace tarvikport {

// Where tarvik keeps its files and which ports the system has: what every
// command works on. The ports come in from outside (systemSerialPorts() in
// the program), so tests can hand in pseudo-terminals.
struct Setup
{
    QString dataFolder;
    QString settingsFile;
    QList<SerialPortEntry> ports;
};

Setup makeSetup(const QString& dataFolder, const QList<SerialPortEntry>& ports);

struct PortAccess
{
    enum class State
    {
        Free,
        InUse,
        NoPermission
    };
    State state = State::Free;
    // InUse: "tarvik, process 1234"; NoPermission: "not in group dialout";
    // Free: a lock file left behind, when there is one.
    QString detail;
};

// Looks without opening the device: a lock file under any of `names` (the
// names programs may have opened it by), the processes this user may look
// into, and the device's permissions.
PortAccess portAccess(const QString& device, const QStringList& names);

// Why this user may not open `device` for reading and writing ("not in group
// dialout"); empty when he may.
QString permissionProblem(const QString& device);

// The device's own path behind `name` (links followed); empty when there is
// none.
QString deviceBehind(const QString& name);

// The names a program may have opened `device` by, and so locked it under:
// the device, its stable name, and the comN links in `folder` leading to it.
QStringList namesOf(const QString& device, const QString& stableName, const QString& folder);

// Why tarvik would refuse `name` as the board's port, by the program's own
// rule; empty when it would not. The device is not opened: the rule reads
// the descriptor's file status and name, which a path descriptor has too.
QString refusedAsBoardPort(const QString& name);

// What the ComPort setting reaches now.
struct Reach
{
    QString setting; // "ComPort=1", with a note when the file has none
    QString name; // what tarvik opens: <folder>/com1, /dev/ttyS0, COM1; empty when nothing
    QString linkTarget; // what that link says, when it is one
    QString device; // the device it leads to now; empty when none
    QString problem; // why tarvik cannot start with it; empty when no reason is known
};

Reach comPortReach(const Setup& setup);

// What `list` prints.
QString listReport(const Setup& setup);

} // namespace tarvikport
