// SPDX-License-Identifier: MIT
#pragma once

// tarvik-port's command line, parsed without side effects so that every
// command and every wrong one can be tested.

#include <QString>
#include <QStringList>
#include <optional>

namespace tarvikport {

// The most a ComPort setting reaches: COM1 to COM255, com1 to com255.
inline constexpr int LastPortNumber = 255;

struct CommandLine
{
    enum class Action
    {
        Run, // carry out `command`
        Show, // print `text` on standard output and end with status 0
        Refuse // print `text` as an error and end with status 2
    };
    enum class Command
    {
        List,
        Find,
        Use
    };
    Action action = Action::Run;
    Command command = Command::List;
    QStringList devices; // find: devices asked besides the system's ports
    QString port; // use: a device, a /dev/serial/by-id/ name, or "found"
    std::optional<int> comNumber; // use --com N
    QString text;
};

// `arguments` as main() receives them, the program's name first.
CommandLine parseCommandLine(const QStringList& arguments);

} // namespace tarvikport
