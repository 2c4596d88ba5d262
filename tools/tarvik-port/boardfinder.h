// SPDX-License-Identifier: MIT
#pragma once

// Asks ports whether the encoder board is there: each free port this user
// may open is opened as tarvik opens it, sent the request ?INPUTS, given a
// bounded time to answer with a line of the board's, and closed again. All
// ports are asked at once, so the whole search takes that time once.
//
// Only a request goes out, never a command that changes the board. A port
// another program holds is never opened; every open is non-blocking and
// every wait bounded; and the end signals wait until the ports are closed
// again, so no lock file is left behind.

#include <QList>
#include <QString>
#include <QStringList>

namespace tarvikport {

// How long a port has to answer.
inline constexpr int AnswerWaitMs = 1500;

struct Candidate
{
    QString shown; // the name printed: the stable name, or the name given
    QString stableName; // what `use` links to
    QString device; // the device's own path, which is opened
    QStringList lockNames; // names other programs may have locked it under
};

struct Finding
{
    enum class Verdict
    {
        Board, // answered with a line of the board's
        NoAnswer,
        SomethingElse, // answered, but nothing of the board's
        InUse, // skipped: another program holds it
        NoPermission, // skipped: this user may not open it
        NotUsed, // skipped: not a device tarvik uses as the board's port
        Gone, // went away before or while it was asked
        Failed // could not be opened or written
    };
    Candidate candidate;
    Verdict verdict = Verdict::NoAnswer;
    QString detail;
};

// Asks every candidate; returns one finding each, in the same order.
QList<Finding> findBoards(const QList<Candidate>& candidates, int waitMs = AnswerWaitMs);

// "name: board (answered <IN000000*)", "name: skipped: in use by ..."
QString findingLine(const Finding& finding);

} // namespace tarvikport
