// SPDX-License-Identifier: MIT
#include "port/openfailure.h"

#include "port/portholder.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#endif

using namespace Qt::StringLiterals;

namespace {

const QString InUse = u"in use by another program"_s;

#ifdef Q_OS_UNIX

QString inUseBy(const QString& name, qint64 pid)
{
    if (name.isEmpty())
        return u"%1 (process %2)"_s.arg(InUse, QString::number(pid));
    return u"%1 (%2, process %3)"_s.arg(InUse, name, QString::number(pid));
}

#endif

} // namespace

QString openFailureReason(
    const QString& portName, QSerialPort::SerialPortError error, const QString& errorText)
{
#ifdef Q_OS_UNIX
    const bool systemError = errorText == qt_error_string(EBUSY)
        || errorText == qt_error_string(EACCES) || errorText == qt_error_string(EPERM);
    // Refused at its lock file: the lock names the process that holds it
    // (a second Tarvik started from the same folder, a terminal program).
    const bool lockRefused = error == QSerialPort::PermissionError && !systemError;
    if (const auto holder = lockRefused ? portholder::lockHolder(portName) : std::nullopt) {
        if (!holder->ended)
            return inUseBy(holder->program, holder->pid);
        // Left by a program that has ended; the serial port removes such a
        // lock by itself unless it belongs to another user.
        return u"the lock file %1 is left from a program that has ended, and this user "
               "may not remove it"_s.arg(holder->lockFile);
    }
    // The lock file is named after the name that was opened, so a program
    // that opened the same device through another name leaves none here; the
    // device itself is then opened exclusively, and refuses a second open.
    if (errorText == qt_error_string(EBUSY)) {
        const QString device = QFileInfo(portName).canonicalFilePath();
        if (const qint64 pid = device.isEmpty() ? 0 : portholder::processHolding(device))
            return inUseBy(portholder::processName(pid), pid);
        return InUse;
    }
    if (error == QSerialPort::PermissionError && systemError) {
        return u"no permission to open the port (is the user in the group that owns "
               "the device, usually dialout?)"_s;
    }
    return errorText;
#else
    Q_UNUSED(portName);
    // Windows refuses a port that another program has open as access denied.
    if (error == QSerialPort::PermissionError)
        return InUse;
    return errorText;
#endif
}
