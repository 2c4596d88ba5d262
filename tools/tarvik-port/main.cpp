// SPDX-License-Identifier: MIT
// tarvik-port: lists the serial ports, finds the encoder board on them, and
// points the ComPort setting at it. The command line lives in portcommand,
// what is known without asking a port in portsurvey, the asking in
// boardfinder, and the three commands in portcommands.

#include "core/datafolder.h"
#include "portcommand.h"
#include "portcommands.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTextStream>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvik-port"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARVIK_VERSION));
    // The tool tells each port's outcome itself; the program's lines for the
    // administrator would say it again. QT_LOGGING_RULES still turns them on.
    QLoggingCategory::setFilterRules(QStringLiteral("tarvik.*.info=false\ntarvik.*.warning=false"));
    using tarvikport::CommandLine;
    const CommandLine command = tarvikport::parseCommandLine(QCoreApplication::arguments());
    QTextStream out(stdout);
    QTextStream err(stderr);
    switch (command.action) {
    case CommandLine::Action::Show:
        out << command.text;
        return 0;
    case CommandLine::Action::Refuse:
        err << "tarvik-port: " << command.text << Qt::endl;
        return 2;
    case CommandLine::Action::Run:
        break;
    }

    // The same data folder as the tarvik built alongside.
#ifdef TARVIK_DATA_IN_PROGRAMDATA
    constexpr DataPlace place = DataPlace::ProgramData;
#else
    constexpr DataPlace place = DataPlace::BuiltIn;
#endif
    const tarvikport::Setup setup = tarvikport::makeSetup(
        tarvikDataFolder(place, QStringLiteral(TARVIK_DATA_DIR)), systemSerialPorts());
    switch (command.command) {
    case CommandLine::Command::List:
        return tarvikport::runList(setup, out);
    case CommandLine::Command::Find:
        return tarvikport::runFind(setup, command.devices, out, err);
    case CommandLine::Command::Use:
        return tarvikport::runUse(setup, command, out, err);
    }
    return 2;
}
