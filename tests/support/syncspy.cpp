// SPDX-License-Identifier: MIT
#include "syncspy.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <dlfcn.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QMutex& lock()
{
    static QMutex mutex;
    return mutex;
}

QStringList& synced()
{
    static QStringList paths;
    return paths;
}

void note(int fd)
{
    const QString path = QFile::symLinkTarget(u"/proc/self/fd/%1"_s.arg(fd));
    const QMutexLocker locker(&lock());
    synced().append(path);
}

using SyncCall = int (*)(int);

SyncCall next(const char* name)
{
    return reinterpret_cast<SyncCall>(::dlsym(RTLD_NEXT, name));
}

} // namespace

QStringList syncspy::take()
{
    const QMutexLocker locker(&lock());
    return std::exchange(synced(), {});
}

extern "C" int fsync(int fd)
{
    static const SyncCall real = next("fsync");
    note(fd);
    return real(fd);
}

extern "C" int fdatasync(int fd)
{
    static const SyncCall real = next("fdatasync");
    note(fd);
    return real(fd);
}
