// SPDX-License-Identifier: MIT
#pragma once

// Lines for the administrator: what happened to the port, the log file, the
// journal of kept readings and the settings file, so that "why were the
// readings late last night" has an answer. They go to Qt's message handler
// (standard error; the system journal when a desktop session or systemd
// started the program); Tarvik writes no log file of its own.
//
// Warnings for failures, info for recoveries and normal transitions, both on
// by default; debug detail (each line to and from the board, each write) is
// off unless QT_LOGGING_RULES="tarvik.*.debug=true".

#include <QLoggingCategory>
#include <QString>

struct Recovery;

Q_DECLARE_LOGGING_CATEGORY(lcPort) // tarvik.port: the serial port to the board
Q_DECLARE_LOGGING_CATEGORY(lcLog) // tarvik.log: the log file and the journal
Q_DECLARE_LOGGING_CATEGORY(lcSettings) // tarvik.settings: Settings.ini

// A failure that repeats (a port retried once a second, a log file tried at
// every reading) is told once, and again only when its reason changes; its
// end is told once.
class RepeatedFailure
{
public:
    // True when `reason` differs from the last one told: tell it.
    bool failed(const QString& reason);
    // True when a failure was told: tell that it is over.
    bool recovered();
    bool isFailing() const { return m_failing; }

private:
    bool m_failing = false;
    QString m_reason; // the last one told
};

// Earlier runs' readings written from the journal, and those it still holds.
// `withHeld`: also warn of the readings still held and of unreadable
// journals (at start; later attempts report through the log file's failure).
void logRecovery(const Recovery& recovery, bool withHeld);
