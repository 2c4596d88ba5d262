// SPDX-License-Identifier: MIT
// kestrin-board-sim: plays the encoder board on a pseudo-terminal or a serial
// device. The parts live in units of their own: the board's answers in
// boardmodel, the command line in simoptions, the line in boardline, who has
// it open in peerwatch, the keys in keyboard, the record of received lines in
// transcript, the 9600 baud pace in pacer, the signals that end it in
// endsignals, what it tells its terminal in messages, and the poll loop
// joining them in simulator.

#include "simoptions.h"
#include "simulator.h"

#include <QStringList>
#include <cstdio>

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));

    const boardsim::CommandLine commandLine = boardsim::parseCommandLine(arguments);
    switch (commandLine.action) {
    case boardsim::CommandLine::Action::Show:
        std::fputs(commandLine.text.toLocal8Bit().constData(), stdout);
        return 0;
    case boardsim::CommandLine::Action::Refuse:
        std::fprintf(stderr, "kestrin-board-sim: %s\nTry 'kestrin-board-sim --help'.\n",
            commandLine.text.toLocal8Bit().constData());
        return 2;
    case boardsim::CommandLine::Action::Run:
        break;
    }

    boardsim::Simulator simulator(commandLine.options);
    if (!simulator.start())
        return 1;
    return simulator.run();
}
