// SPDX-License-Identifier: MIT
#include "portsurvey.h"

#include "core/module1.h"
#include "core/portsetting.h"
#include "core/safefile.h"
#include "port/portholder.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#endif

using namespace Qt::StringLiterals;

namespace tarvikport {

namespace {

QString joinedNames(const QStringList& names)
{
    if (names.size() <= 1)
        return names.join(QString());
    return names.sliced(0, names.size() - 1).join(u", "_s) + u" and "_s + names.constLast();
}

QString describe(const SerialPortEntry& port)
{
    QString text = port.description.isEmpty() ? u"no description"_s : port.description;
    if (!port.manufacturer.isEmpty())
        text += u", made by "_s + port.manufacturer;
    if (port.vendorId && port.productId) {
        text += u", USB %1:%2"_s.arg(*port.vendorId, 4, 16, QChar(u'0'))
                    .arg(*port.productId, 4, 16, QChar(u'0'));
    }
    if (!port.serialNumber.isEmpty())
        text += u", serial number "_s + port.serialNumber;
    return text;
}

// Not on Windows, which tells who holds a COM port only to the one who opens it.
[[maybe_unused]] QString accessText(const PortAccess& access)
{
    switch (access.state) {
    case PortAccess::State::Free:
        return access.detail.isEmpty() ? u"free"_s : u"free (%1)"_s.arg(access.detail);
    case PortAccess::State::InUse:
        return u"in use by "_s + access.detail;
    case PortAccess::State::NoPermission:
        return u"you may not open it: "_s + access.detail;
    }
    return {};
}

QString inUseBy(const QString& program, qint64 pid)
{
    if (program.isEmpty())
        return u"another program (process %1)"_s.arg(pid);
    return u"%1 (process %2)"_s.arg(program).arg(pid);
}

#ifndef Q_OS_WIN

QString groupName(gid_t gid)
{
    struct group entry;
    struct group* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->gr_name);
    return u"group %1"_s.arg(gid);
}

bool hasGroupNow(gid_t gid)
{
    if (::getegid() == gid)
        return true;
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(size_t(std::max(count, 0)));
    const int n = count > 0 ? ::getgroups(count, groups.data()) : 0;
    return std::find(groups.begin(), groups.begin() + std::max(n, 0), gid) != groups.end();
}

// Whether the user's entry in the group database names `gid`: a member added
// with usermod has it from his next login only.
bool isMemberOf(gid_t gid)
{
    struct passwd entry;
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<size_t>(count));
        if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0)
            return false;
    }
    return std::find(groups.begin(), groups.begin() + count, gid) != groups.begin() + count;
}

#endif

} // namespace

Setup makeSetup(const QString& dataFolder, const QList<SerialPortEntry>& ports)
{
    const Module1 module(dataFolder);
    return { dataFolder, module.SettingsFile, ports };
}

QString deviceBehind(const QString& name)
{
#ifdef Q_OS_WIN
    return name;
#else
    return QFileInfo(name).canonicalFilePath();
#endif
}

QString permissionProblem(const QString& device)
{
#ifdef Q_OS_WIN
    Q_UNUSED(device);
    return {};
#else
    const QByteArray path = QFile::encodeName(device);
    struct stat st;
    if (::stat(path.constData(), &st) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (::faccessat(AT_FDCWD, path.constData(), R_OK | W_OK, AT_EACCESS) == 0)
        return {};
    if (errno != EACCES && errno != EPERM)
        return QString::fromLocal8Bit(std::strerror(errno));
    const QString group = groupName(st.st_gid);
    if ((st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP) && !hasGroupNow(st.st_gid)) {
        if (isMemberOf(st.st_gid))
            return u"in group %1 only from your next login (log out and in again)"_s.arg(group);
        return u"not in group %1"_s.arg(group);
    }
    return u"only %1 may open it"_s.arg(safefile::userName(st.st_uid));
#endif
}

PortAccess portAccess(const QString& device, const QStringList& names)
{
    PortAccess access;
    for (const QString& name : names) {
        const auto holder = portholder::lockHolder(name);
        if (!holder)
            continue;
        if (!holder->ended) {
            access.state = PortAccess::State::InUse;
            access.detail = inUseBy(holder->program, holder->pid);
            return access;
        }
        access.detail = u"a lock file left by a program that has ended: %1"_s.arg(holder->lockFile);
    }
    if (const qint64 pid = portholder::processHolding(device)) {
        access.state = PortAccess::State::InUse;
        access.detail = inUseBy(portholder::processName(pid), pid);
        return access;
    }
    if (const QString problem = permissionProblem(device); !problem.isEmpty()) {
        access.state = PortAccess::State::NoPermission;
        access.detail = problem;
    }
    return access;
}

QStringList namesOf(const QString& device, const QString& stableName, const QString& folder)
{
    QStringList names { device };
    if (!stableName.isEmpty() && !names.contains(stableName))
        names.append(stableName);
    for (const comlink::Link& link : comlink::links(folder)) {
        if (deviceBehind(link.path) == device)
            names.append(link.path);
    }
    return names;
}

QString refusedAsBoardPort(const QString& name)
{
#ifdef Q_OS_WIN
    Q_UNUSED(name);
    return {};
#else
    // Followed through its links, as the serial port's own open does.
    const int fd = ::open(QFile::encodeName(name).constData(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    const QString refused = safefile::refusedPort(fd, name);
    ::close(fd);
    return refused;
#endif
}

Reach comPortReach(const Setup& setup)
{
    Reach reach;
    const ComPortSettingRead read = readComPortSetting(setup.settingsFile);
    if (!read.refused.isEmpty()) {
        reach.setting = u"ComPort"_s;
        reach.problem = setup.settingsFile + u": "_s + read.refused;
        return reach;
    }
    reach.setting = u"ComPort="_s + read.value;
    if (read.defaulted)
        reach.setting += u" (%1 has none yet; tarvik starts with 1)"_s.arg(setup.settingsFile);
    const std::optional<int> number = portNumberFromSetting(read.value);
    if (!number) {
        reach.problem = u"not a port number"_s;
        return reach;
    }
    const std::optional<QString> name = portNameFor(*number, setup.dataFolder);
    if (!name) {
        reach.problem = u"port %1 is not a serial port number (1 to 255)"_s.arg(*number);
        return reach;
    }
    reach.name = *name;
#ifdef Q_OS_WIN
    for (const SerialPortEntry& port : setup.ports) {
        if (port.device.compare(reach.name, Qt::CaseInsensitive) == 0)
            reach.device = port.device;
    }
    if (reach.device.isEmpty())
        reach.problem = u"this computer has no %1"_s.arg(reach.name);
#else
    for (const comlink::Link& link : comlink::links(setup.dataFolder)) {
        if (link.path == reach.name)
            reach.linkTarget = link.target;
    }
    reach.device = deviceBehind(reach.name);
    if (reach.device.isEmpty()) {
        reach.problem = u"it does not exist"_s;
        return reach;
    }
    reach.problem = refusedAsBoardPort(reach.name);
#endif
    return reach;
}

namespace {

// One serial port's line of the list: its names, who has it, which links
// and whether ComPort lead to it.
QString portLine(const SerialPortEntry& port, const QString& device,
    const QList<comlink::Link>& links, const Reach& reach, const QString& dataFolder)
{
    QString line = port.stableName;
    if (port.stableName != port.device)
        line += u" (%1)"_s.arg(port.device);
    line += u": "_s + describe(port);
#ifndef Q_OS_WIN
    // Windows tells who holds a COM port only to the one who opens it.
    line += u"; "_s + accessText(portAccess(device, namesOf(device, port.stableName, dataFolder)));
#else
    Q_UNUSED(dataFolder);
#endif
    QStringList leading;
    for (const comlink::Link& link : links) {
        if (deviceBehind(link.path) == device)
            leading.append(QFileInfo(link.path).fileName());
    }
    if (!leading.isEmpty()) {
        line += u"; %1 %2 here"_s.arg(
            joinedNames(leading), leading.size() == 1 ? u"leads"_s : u"lead"_s);
    }
    if (!reach.device.isEmpty() && reach.device == device)
        line += u"; %1 opens it"_s.arg(reach.setting.section(u' ', 0, 0));
    return line + u'\n';
}

// The links that lead nowhere or to none of the listed ports, one line each.
QString strayLinks(const QList<comlink::Link>& links, const QStringList& listedDevices)
{
    QString text;
    for (const comlink::Link& link : links) {
        const QString device = deviceBehind(link.path);
        if (device.isEmpty()) {
            text += u"%1 leads to %2, which does not exist\n"_s.arg(link.path, link.target);
        } else if (!listedDevices.contains(device)) {
            text += u"%1 leads to %2, which is not one of the serial ports above\n"_s.arg(
                link.path, device);
        }
    }
    return text;
}

// What tarvik opens when it starts now.
QString reachLine(const Reach& reach, const QStringList& listedDevices)
{
    QString line = reach.setting;
    if (!reach.name.isEmpty()) {
        line += u" reaches "_s + reach.name;
        if (!reach.linkTarget.isEmpty())
            line += u", a link to "_s + reach.linkTarget;
        if (!reach.device.isEmpty() && reach.device != reach.name
            && reach.device != reach.linkTarget)
            line += u", that is "_s + reach.device;
    }
    if (!reach.problem.isEmpty()) {
        line += u": "_s + reach.problem + u". tarvik cannot start with it; choose a port with "_s
            + u"tarvik-port use PORT."_s;
    } else if (!listedDevices.contains(reach.device)) {
        line += u", which is not one of the serial ports above. Whether the board answers "_s
            + u"there, tarvik-port find "_s + reach.device + u" asks."_s;
    } else {
        line += u". Whether the board answers there, tarvik-port find asks."_s;
    }
    return line + u'\n';
}

} // namespace

QString listReport(const Setup& setup)
{
    const Reach reach = comPortReach(setup);
    const QList<comlink::Link> links = comlink::links(setup.dataFolder);
    QString text;
    QStringList listedDevices;
    for (const SerialPortEntry& port : setup.ports) {
        const QString device = deviceBehind(port.device);
        listedDevices.append(device);
        text += portLine(port, device, links, reach, setup.dataFolder);
    }
    if (setup.ports.isEmpty())
        text += u"No serial port found: is the board's USB serial adapter plugged in?\n"_s;
    text += strayLinks(links, listedDevices);
    text += reachLine(reach, listedDevices);
    return text;
}

} // namespace tarvikport
