// SPDX-License-Identifier: MIT
#pragma once

// What the board tells the person at its terminal, on standard error.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace boardsim {

// One line on standard error, prefixed with the program's name. Written with
// one write() so lines from a board and a logger sharing a terminal never mix.
void say(const QString& text);

// "what: <the system's text of errno>".
QString whatFailed(const QString& what);

// A line as the transcript and the terminal show it: control characters as
// \xNN (upper-case hex), a backslash as \\, everything else as it is.
QByteArray escaped(QByteArrayView bytes);

} // namespace boardsim
