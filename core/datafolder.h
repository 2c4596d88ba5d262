// SPDX-License-Identifier: MIT
#pragma once

// Where the operators' files live (Settings.ini, Default.csv, the comN
// links), for the program and for the tools beside it alike.

#include <QString>

enum class DataPlace
{
    // The folder the program was built with (the Debian package's
    // /var/opt/tarvik), or the folder holding the executable when that is
    // empty: a build or a portable copy keeps its files beside itself.
    BuiltIn,
    // %ProgramData%\Tarvik: the installed Windows program, whose own folder
    // the operators cannot write.
    ProgramData
};

// Needs a QCoreApplication for the executable's folder.
QString tarvikDataFolder(DataPlace place, const QString& builtInFolder);
