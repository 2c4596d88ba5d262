// SPDX-License-Identifier: MIT
#pragma once

// The simulator's command line: what the board does and where it sits. Parsed
// without side effects so every option and every wrong value can be tested.

#include "boardmodel.h"

#include <QString>
#include <QStringList>

namespace boardsim {

struct SimOptions
{
    QString linkPath; // exactly one of linkPath and devicePath is set
    QString devicePath;
    QString transcriptPath; // empty: no transcript
    BoardModel::Options board;
    double readingInterval = 0.0; // seconds; 0 sends no readings on its own
    long burst = 0;
    double burstDelay = 0.0;
    bool exitAfterBurst = false;
    bool pace = true;
    bool verbose = false;
};

// The most readings one burst may hold.
inline constexpr long MaxBurst = 1000000;

struct CommandLine
{
    enum class Action
    {
        Run, // start the board with `options`
        Show, // print `text` on standard output and end with status 0
        Refuse // print `text` as an error and end with status 2
    };
    Action action = Action::Run;
    SimOptions options;
    QString text;
};

// `arguments` as main() receives them, the program's name first.
CommandLine parseCommandLine(const QStringList& arguments);

} // namespace boardsim
