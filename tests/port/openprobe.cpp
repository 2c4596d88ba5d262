// SPDX-License-Identifier: MIT
// Opens one port name as the program does and prints the outcome: "opened",
// or the reason the operator would read. tst_boardport runs it as another
// user to see what a normal user's program sees.

#include "port/boardport.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    BoardPort port;
    const Result<void> opened = port.open(QString::fromLocal8Bit(argv[1]));
    QTextStream(stdout) << (opened ? QStringLiteral("opened") : opened.reason()) << Qt::endl;
    return opened ? 0 : 1;
}
