// SPDX-License-Identifier: MIT
#pragma once

// A pseudo-terminal to play the encoder board on, set up one way for the
// simulator, the integration tests and the benchmarks. The program opens the
// terminal's device as its serial port; the board's side writes replies to
// and reads requests from the master.
//
// The device side is raw at 9600 baud: no echo of the program's requests back
// to it and no CR/LF translation of the board's replies. It is held open so
// that the program closing and reopening its port never hangs the terminal
// up. The master does not block. Neither descriptor is handed to programs
// started later, so only the board's own side holds the board's end.
//
// Plain C++ and POSIX, without Qt: the benchmarks' measuring side uses it too.

#include <string>

struct PseudoTerminal
{
    int master = -1;
    int device = -1; // the device side, held open
    std::string devicePath; // e.g. /dev/pts/7
};

// Opens one. On failure both descriptors are -1, `failure` says what could
// not be done ("cannot open a pseudo-terminal", or the device's path) and
// errno why.
PseudoTerminal openPseudoTerminal(std::string* failure = nullptr);
