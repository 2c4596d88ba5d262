// SPDX-License-Identifier: MIT
#include "core/eventlog.h"

#include "core/journal.h"

// Info is on by default: an administrator reading the system journal needs
// the port's reopening and the log file's recovery as much as the failures.
Q_LOGGING_CATEGORY(lcPort, "tarvik.port", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLog, "tarvik.log", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSettings, "tarvik.settings", QtInfoMsg)

bool RepeatedFailure::failed(const QString& reason)
{
    if (m_failing && m_reason == reason)
        return false;
    m_failing = true;
    m_reason = reason;
    return true;
}

bool RepeatedFailure::recovered()
{
    if (!m_failing)
        return false;
    m_failing = false;
    m_reason.clear();
    return true;
}

void logRecovery(const Recovery& recovery, bool withHeld)
{
    for (const RecoveredReadings& r : recovery.files) {
        if (r.error.isEmpty()) {
            qCInfo(lcLog).noquote() << QStringLiteral(
                "%1 reading(s) of an earlier run (%2 to %3) written from the journal into %4")
                                           .arg(QString::number(r.count), r.first, r.last,
                                               r.logFile);
        } else if (withHeld) {
            qCWarning(lcLog).noquote()
                << QStringLiteral("%1 reading(s) of an earlier run for %2 still held in %3: %4")
                       .arg(QString::number(r.count), r.logFile, recovery.folder, r.error);
        }
    }
    if (withHeld) {
        for (const QString& problem : recovery.problems)
            qCWarning(lcLog).noquote() << problem;
    }
}
