#include "app/endsignals.h"
#include "ui/frmmain.h"
#include "core/module1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvik"));
    // The main window ends the run itself; the setup window closing alone
    // must not.
    QApplication::setQuitOnLastWindowClosed(false);

    Module1 module(QCoreApplication::applicationDirPath());
    frmMain window(module);
    if (!window.Form_Load())
        return 1;
    EndSignals endSignals([&window] { window.endProgram(0); }, nullptr);
    window.show();
    return QApplication::exec();
}
