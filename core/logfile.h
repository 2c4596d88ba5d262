// SPDX-License-Identifier: MIT
#pragma once

// Appends records to the CSV log so that none is lost or doubled when the
// file cannot be written for a while (read-only file, missing folder, full
// disk, a share gone away):
//  - keep() only keeps a record; writeKept() puts every kept record, oldest
//    first, into the file in one write, and syncs it before it is closed;
//  - a write that fails is cut back to the file's old length, and the records
//    are kept in memory for the next attempt, whatever file that goes to.
// The file is opened and closed for every write so other programs can read it
// between readings.
//
// With a journal (core/journal.h), records the file does not take are also
// saved there before the call returns, so that they outlast the run; readings
// an earlier run left for the same file go in first.

#include "core/eventlog.h"
#include "core/journal.h"
#include "core/result.h"

#include <QByteArray>
#include <QString>
#include <deque>
#include <functional>

class LogFile
{
public:
    // Whether the kept records went in, or why not (the system's reason, the
    // file rules' or the journal's for readings of earlier runs that wait),
    // with what became of readings of earlier runs meant for this file,
    // written (or tried) before the kept ones.
    struct Written : Result<void>
    {
        Recovery earlier;
    };

    // Keeps `record` for the next write, after any already kept: readings
    // that arrive together are written together, with one sync.
    void keep(const QByteArray& record) { m_kept.push_back(record); }

    // Called with the file's length once it is open, just before the kept
    // records go in.
    using BeforeWrite = std::function<void(qint64 length)>;

    // Writes the kept records (nothing to do when none are kept); they are
    // kept until a write takes them.
    Written writeKept(const QString& path, const BeforeWrite& beforeWrite = {});

    qsizetype keptCount() const { return qsizetype(m_kept.size()); }

    // Whether failures and recoveries go to the administrator's lines
    // (tarvik.log); on by default. Off for a writer whose caller tells them.
    void setEventsLogged(bool on) { m_eventsLogged = on; }

    // Where kept records are saved besides memory; none by default.
    void setJournal(Journal* journal) { m_journal = journal; }
    // Kept records that are in memory only: the journal did not take them.
    qsizetype unsavedCount() const { return keptCount() - m_journaled; }
    // Why the journal did not take them.
    const QString& journalError() const { return m_journalError; }

private:
    // What the administrator's lines need from before a write.
    struct Before
    {
        qsizetype kept = 0;
        QString journal; // the journal's file while it holds kept readings
    };
    Written writeKeptNow(const QString& path, const BeforeWrite& beforeWrite);
    void logOutcome(const QString& path, const Before& before, const Written& result);
    void noteInJournal(const QString& path, qint64 length);
    void saveInJournal(const QString& path);

    std::deque<QByteArray> m_kept;
    Journal* m_journal = nullptr;
    qsizetype m_journaled = 0; // the first kept records, already in the journal
    QString m_journalError;
    RepeatedFailure m_failure; // the log file's, as told
    RepeatedFailure m_journalFailure;
    bool m_eventsLogged = true;
};
