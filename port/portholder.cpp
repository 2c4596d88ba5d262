// SPDX-License-Identifier: MIT
#include "port/portholder.h"

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

namespace portholder {

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

#ifdef Q_OS_UNIX

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

std::optional<LockHolder> lockHolder(const QString& portName)
{
    for (const QString& lockPath : lockFileCandidates(portName)) {
        if (!QFileInfo::exists(lockPath))
            continue;
        LockHolder holder;
        QString hostName;
        QLockFile lock(lockPath);
        if (!lock.getLockInfo(&holder.pid, &hostName, &holder.program))
            continue;
        holder.lockFile = lockPath;
        holder.ended = !isRunning(holder.pid);
        if (holder.program.isEmpty() && !holder.ended)
            holder.program = processName(holder.pid);
        return holder;
    }
    return std::nullopt;
}

namespace {

// The number of the pseudo-terminal whose master `fdinfo` describes, from
// its "tty-index:" line; -1 for anything else.
int ptyIndexOf(const QString& fdinfo)
{
    QFile f(fdinfo);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("tty-index:")) {
            bool ok = false;
            const int index = line.mid(10).trimmed().toInt(&ok);
            return ok ? index : -1;
        }
    }
    return -1;
}

bool isPtyMaster(const QString& target)
{
    return target == u"/dev/ptmx"_s || target == u"/dev/pts/ptmx"_s;
}

} // namespace

qint64 processHolding(const QString& device)
{
    const qint64 self = QCoreApplication::applicationPid();
    // /dev/pts/N: the process holding master N plays the other end.
    int ptyIndex = -1;
    if (device.startsWith(u"/dev/pts/"_s)) {
        bool ok = false;
        ptyIndex = device.mid(9).toInt(&ok);
        if (!ok)
            ptyIndex = -1;
    }
    const QDir proc(u"/proc"_s);
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid || pid == self)
            continue;
        const QDir fds(proc.filePath(entry + u"/fd"_s));
        bool holdsDevice = false;
        bool holdsMaster = false;
        for (const QFileInfo& fd :
            fds.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            const QString target = fd.symLinkTarget();
            if (target == device)
                holdsDevice = true;
            else if (ptyIndex >= 0 && isPtyMaster(target)
                && ptyIndexOf(proc.filePath(entry + u"/fdinfo/"_s + fd.fileName())) == ptyIndex)
                holdsMaster = true;
        }
        if (holdsDevice && !holdsMaster)
            return pid;
    }
    return 0;
}

#else

bool isRunning(qint64)
{
    return false;
}

QString processName(qint64)
{
    return {};
}

std::optional<LockHolder> lockHolder(const QString&)
{
    // Windows keeps no lock files: a COM port opens for one program at a time.
    return std::nullopt;
}

qint64 processHolding(const QString&)
{
    return 0;
}

#endif

} // namespace portholder
