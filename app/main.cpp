// SPDX-License-Identifier: MIT
#include "app/endsignals.h"
#include "ui/frmmain.h"
#include "core/datafolder.h"
#include "core/module1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvik"));
    // The main window ends the run itself; the setup window closing alone
    // must not.
    QApplication::setQuitOnLastWindowClosed(false);

    QApplication::setApplicationVersion(QStringLiteral(TARVIK_VERSION));

    // The installed program keeps the operators' files out of its own
    // folder, which they must not be able to write; a build run where it
    // lies keeps them beside itself.
#ifdef TARVIK_DATA_IN_PROGRAMDATA
    constexpr DataPlace place = DataPlace::ProgramData;
#else
    constexpr DataPlace place = DataPlace::BuiltIn;
#endif
    Module1 module(tarvikDataFolder(place, QStringLiteral(TARVIK_DATA_DIR)));
    frmMain window(module);
    // Taken over before the start-up, so that a signal while the port's
    // failure message shows closes it and the run ends as it does after OK,
    // instead of the signal killing the program.
    EndSignals endSignals([&window] { window.endProgram(0); }, nullptr);
    if (!window.Form_Load())
        return 1;
    window.show();
    return QApplication::exec();
}
