// SPDX-License-Identifier: MIT
#include "port/openfailure.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace {

const QString InUse = u"in use by another program"_s;

#ifdef Q_OS_UNIX

// The serial port takes a lock file named after the name it was given, with
// '/' turned into '_' ("LCK..ttyS0", "LCK.._opt_tarvik_com1"), in the first
// of these folders that it may use.
QStringList lockFileCandidates(const QString& portName)
{
    QString name = portName;
    if (name.startsWith(u"/dev/"_s))
        name = name.mid(5);
    name.replace(u'/', u'_');
    QStringList files;
    for (const QString& folder :
        { u"/var/lock"_s, u"/etc/locks"_s, u"/var/spool/locks"_s, u"/var/spool/uucp"_s, u"/tmp"_s,
            u"/var/tmp"_s, u"/var/lock/lockdev"_s, u"/run/lock"_s }) {
        files << folder + u"/LCK.."_s + name;
    }
    return files;
}

bool isRunning(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

QString processName(qint64 pid)
{
    QFile comm(u"/proc/%1/comm"_s.arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

QString inUseBy(const QString& name, qint64 pid)
{
    if (name.isEmpty())
        return u"%1 (process %2)"_s.arg(InUse, QString::number(pid));
    return u"%1 (%2, process %3)"_s.arg(InUse, name, QString::number(pid));
}

// A process of this user that has the device open, found by its open files.
// Other users' processes cannot be looked into; for them the answer is none.
qint64 processHolding(const QString& device)
{
    const qint64 self = QCoreApplication::applicationPid();
    const QDir proc(u"/proc"_s);
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid || pid == self)
            continue;
        const QDir fds(proc.filePath(entry + u"/fd"_s));
        for (const QFileInfo& fd :
            fds.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            if (fd.symLinkTarget() == device)
                return pid;
        }
    }
    return 0;
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
    for (const QString& lockPath : lockRefused ? lockFileCandidates(portName) : QStringList()) {
        if (!QFileInfo::exists(lockPath))
            continue;
        qint64 pid = 0;
        QString hostName;
        QString appName;
        QLockFile lock(lockPath);
        if (!lock.getLockInfo(&pid, &hostName, &appName))
            continue;
        if (isRunning(pid))
            return inUseBy(appName.isEmpty() ? processName(pid) : appName, pid);
        // Left by a program that has ended; the serial port removes such a
        // lock by itself unless it belongs to another user.
        return u"the lock file %1 is left from a program that has ended, and this user "
               "may not remove it"_s.arg(lockPath);
    }
    // The lock file is named after the name that was opened, so a program
    // that opened the same device through another name leaves none here; the
    // device itself is then opened exclusively, and refuses a second open.
    if (errorText == qt_error_string(EBUSY)) {
        const QString device = QFileInfo(portName).canonicalFilePath();
        if (const qint64 pid = device.isEmpty() ? 0 : processHolding(device))
            return inUseBy(processName(pid), pid);
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
