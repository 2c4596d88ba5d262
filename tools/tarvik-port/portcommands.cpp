// SPDX-License-Identifier: MIT
#include "portcommands.h"

#include "boardfinder.h"
#include "core/comlink.h"
#include "core/module1.h"
#include "core/portsetting.h"

#include <QFileInfo>
#include <optional>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

using namespace Qt::StringLiterals;

namespace tarvikport {

namespace {

constexpr int Done = 0;
constexpr int NotDone = 1;
constexpr int WrongUsage = 2;

struct Candidates
{
    QList<Candidate> list;
    QString missing; // a device named that does not exist
};

// The system's ports and the devices named, each device once: a device named
// takes the place of the system's entry for it.
Candidates candidatesFor(const Setup& setup, const QStringList& devices)
{
    Candidates candidates;
    for (const SerialPortEntry& port : setup.ports) {
        const QString device = deviceBehind(port.device);
        candidates.list.append({ port.stableName, port.stableName, device,
            namesOf(device, port.stableName, setup.dataFolder) });
    }
    for (const QString& name : devices) {
        const QString device = deviceBehind(name);
        if (device.isEmpty()) {
            candidates.missing = name;
            return candidates;
        }
        QString stable = stableNameOf(device);
        if (name.startsWith(u"/dev/serial/"_s))
            stable = QFileInfo(name).absoluteFilePath();
        QStringList names = namesOf(device, stable, setup.dataFolder);
        if (!names.contains(name))
            names.append(name);
        const Candidate named { name, stable, device, names };
        auto same = std::find_if(candidates.list.begin(), candidates.list.end(),
            [&device](const Candidate& c) { return c.device == device; });
        if (same != candidates.list.end())
            *same = named;
        else
            candidates.list.append(named);
    }
    return candidates;
}

QList<Finding> boardsAmong(const QList<Finding>& findings)
{
    QList<Finding> boards;
    for (const Finding& finding : findings) {
        if (finding.verdict == Finding::Verdict::Board)
            boards.append(finding);
    }
    return boards;
}

const SerialPortEntry* entryFor(const Setup& setup, const QString& device)
{
    for (const SerialPortEntry& port : setup.ports) {
        if (deviceBehind(port.device) == device)
            return &port;
    }
    return nullptr;
}

struct Chosen
{
    QString stableName;
    QString device;
};

// `use found`: the one port where the board answers now.
std::optional<Chosen> foundPort(const Setup& setup, QTextStream& err)
{
    const QList<Finding> boards = boardsAmong(findBoards(candidatesFor(setup, {}).list));
    if (boards.size() == 1)
        return Chosen { boards[0].candidate.stableName, boards[0].candidate.device };
    if (boards.isEmpty()) {
        err << "tarvik-port: found: no port answered as the board (tarvik-port find shows what "
               "each one said)"
            << Qt::endl;
    } else {
        err << "tarvik-port: found: " << boards.size()
            << " ports answered as a board: name one, tarvik-port use PORT" << Qt::endl;
    }
    return std::nullopt;
}

QString portDescription(const Setup& setup, const QString& device)
{
    const SerialPortEntry* entry = entryFor(setup, device);
    return entry && !entry->description.isEmpty() ? u", "_s + entry->description : QString();
}

} // namespace

int runList(const Setup& setup, QTextStream& out)
{
    out << listReport(setup);
    out.flush();
    return Done;
}

int runFind(const Setup& setup, const QStringList& devices, QTextStream& out, QTextStream& err)
{
    const Candidates candidates = candidatesFor(setup, devices);
    if (!candidates.missing.isEmpty()) {
        err << "tarvik-port: no such port: " << candidates.missing << Qt::endl;
        return WrongUsage;
    }
    if (candidates.list.isEmpty()) {
        out << "No serial port found: is the board's USB serial adapter plugged in?" << Qt::endl;
        return NotDone;
    }
    const QList<Finding> findings = findBoards(candidates.list);
    for (const Finding& finding : findings)
        out << findingLine(finding) << '\n';
    const QList<Finding> boards = boardsAmong(findings);
    if (boards.size() == 1) {
        out << "The board is on " << boards[0].candidate.shown << ". To use it: tarvik-port use "
            << boards[0].candidate.stableName << Qt::endl;
        return Done;
    }
    const bool someInUse = std::any_of(findings.cbegin(), findings.cend(),
        [](const Finding& f) { return f.verdict == Finding::Verdict::InUse; });
    if (boards.isEmpty() && someInUse) {
        out << "No port answered as the board; ports in use were not asked (is tarvik running "
               "already?)"
            << Qt::endl;
    } else if (boards.isEmpty()) {
        out << "No port answered as the board. Is it switched on and plugged in?" << Qt::endl;
    } else {
        out << boards.size() << " ports answered as a board: choose one, tarvik-port use PORT"
            << Qt::endl;
    }
    return NotDone;
}

#ifdef Q_OS_WIN

namespace {

// A COM port Windows knows, listed or not (some drivers' ports are not).
bool comPortExists(const QString& name)
{
    wchar_t target[1024];
    return QueryDosDeviceW(reinterpret_cast<const wchar_t*>(name.utf16()), target, 1024) != 0;
}

} // namespace

int runUse(const Setup& setup, const CommandLine& command, QTextStream& out, QTextStream& err)
{
    QString port;
    if (command.port == u"found"_s) {
        const std::optional<Chosen> found = foundPort(setup, err);
        if (!found)
            return NotDone;
        port = found->device;
    } else {
        port = command.port.toUpper();
        bool known = false;
        for (const SerialPortEntry& entry : setup.ports) {
            if (entry.device.compare(port, Qt::CaseInsensitive) == 0) {
                port = entry.device;
                known = true;
            }
        }
        if (!port.startsWith(u"COM"_s) || !(known || comPortExists(port))) {
            err << "tarvik-port: no such port: " << command.port << Qt::endl;
            return WrongUsage;
        }
    }
    bool ok = false;
    const int number = port.mid(3).toInt(&ok);
    if (!ok || number < 1 || number > LastPortNumber) {
        err << "tarvik-port: " << port << ": tarvik reaches COM1 to COM" << LastPortNumber
            << " only" << Qt::endl;
        return WrongUsage;
    }
    Module1 module(setup.dataFolder);
    const ComPortSettingRead read = readComPortSetting(module.SettingsFile);
    module.ComPortSetting = QString::number(number);
    if ((read.defaulted || read.value != module.ComPortSetting) && !module.SaveComPortSetting()) {
        err << "tarvik-port: " << module.SettingsFile << " could not be written" << Qt::endl;
        return NotDone;
    }
    out << "ComPort=" << number << " in " << module.SettingsFile << '\n'
        << "Next time it starts, tarvik opens " << port << portDescription(setup, port) << '.'
        << Qt::endl;
    return Done;
}

#else

int runUse(const Setup& setup, const CommandLine& command, QTextStream& out, QTextStream& err)
{
    Chosen chosen;
    if (command.port == u"found"_s) {
        const std::optional<Chosen> found = foundPort(setup, err);
        if (!found)
            return NotDone;
        chosen = *found;
    } else {
        QString path = command.port;
        if (!path.contains(u'/')) {
            // A bare name: ttyUSB0, or the last part of a by-id name.
            path = u"/dev/"_s + command.port;
            for (const SerialPortEntry& port : setup.ports) {
                if (QFileInfo(port.stableName).fileName() == command.port)
                    path = port.stableName;
            }
        }
        chosen.device = deviceBehind(path);
        if (chosen.device.isEmpty()) {
            err << "tarvik-port: no such port: " << command.port << Qt::endl;
            return WrongUsage;
        }
        // A /dev/serial/ name is stable already; any other name is taken for
        // the device it leads to, and that for its by-id name.
        if (path.startsWith(u"/dev/serial/"_s)) {
            chosen.stableName = QFileInfo(path).absoluteFilePath();
        } else {
            const SerialPortEntry* entry = entryFor(setup, chosen.device);
            chosen.stableName = entry ? entry->stableName : stableNameOf(chosen.device);
        }
    }

    // The program's own rule, with the program's own words.
    if (const QString refused = refusedAsBoardPort(chosen.stableName); !refused.isEmpty()) {
        err << "tarvik-port: " << chosen.stableName << ": " << refused << Qt::endl;
        return NotDone;
    }
    Module1 module(setup.dataFolder);
    const ComPortSettingRead read = readComPortSetting(module.SettingsFile);
    if (!read.refused.isEmpty()) {
        err << "tarvik-port: " << module.SettingsFile << ": " << read.refused << Qt::endl;
        return NotDone;
    }
    int number = 1;
    if (command.comNumber) {
        number = *command.comNumber;
    } else if (!read.defaulted) {
        const std::optional<int> now = portNumberFromSetting(read.value);
        if (now && *now >= 1 && *now <= LastPortNumber)
            number = *now;
    }

    const QString link = comLinkPath(setup.dataFolder, number);
    const Result<comlink::Placed> placing = comlink::place(link, chosen.stableName);
    if (!placing) {
        err << "tarvik-port: " << (placing.reason().startsWith(link) ? QString() : link + u": "_s)
            << placing.reason() << Qt::endl;
        return NotDone;
    }
    const comlink::Placed& placed = placing.value();
    module.ComPortSetting = QString::number(number);
    const bool settingChanges = read.defaulted || read.value != module.ComPortSetting;
    if (settingChanges && !module.SaveComPortSetting()) {
        comlink::undo(link, chosen.stableName, placed);
        err << "tarvik-port: " << module.SettingsFile << " could not be written; "
            << QFileInfo(link).fileName() << " is as it was" << Qt::endl;
        return NotDone;
    }

    out << link << " -> " << chosen.stableName;
    if (placed.hadLink && placed.previousTarget != chosen.stableName)
        out << " (it led to " << placed.previousTarget << ')';
    out << '\n' << "ComPort=" << number << " in " << module.SettingsFile;
    if (settingChanges && !read.defaulted)
        out << " (it was " << read.value << ')';
    out << '\n'
        << "Next time it starts, tarvik opens " << link << ": " << chosen.device
        << portDescription(setup, chosen.device) << '.' << '\n';
    const PortAccess access
        = portAccess(chosen.device, namesOf(chosen.device, chosen.stableName, setup.dataFolder));
    if (access.state == PortAccess::State::InUse)
        out << "It is in use by " << access.detail << " now." << '\n';
    else if (access.state == PortAccess::State::NoPermission)
        out << "You may not open it yourself: " << access.detail << '.' << '\n';
    out.flush();
    return Done;
}

#endif

} // namespace tarvikport
