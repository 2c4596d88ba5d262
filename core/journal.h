// SPDX-License-Identifier: MIT
#pragma once

// Kept readings on this user's own disk, so that they outlast the run.
//
// While the log file cannot be written, LogFile keeps the readings in memory
// and, before the next reading is taken, appends each one to this run's
// journal and syncs it: a file of this user's own (Linux: $XDG_STATE_HOME/tarvik,
// by default ~/.local/state/tarvik; Windows: %LOCALAPPDATA%\Tarvik), with the
// log file the reading was meant for. Once the log file has taken them, and is
// synced, the journal is removed. While the log file works there is no
// journal: no file, no sync.
//
// A run that ends before the log file takes them (killed, crashed, a power
// cut, or ended while readings were kept) leaves its journal behind. The next
// run writes it, oldest first, into the file each reading was meant for
// before it takes its own first reading; a journal whose file still cannot be
// written stays, held by that run, which writes it before any reading of its
// own into that file once it works, or leaves it for the next start.
//
// The file is a header line, then entries, each
//     u32 size, u32 CRC-32 of the payload, then the payload (size bytes)
// (numbers little-endian). A payload is one of
//     'R'  u16 n, the log file's path (n bytes of UTF-8), the record's bytes
//     'W'  u64 length, u32 first, u32 count, u16 n, the log file's path
// 'R' is a kept reading's record exactly as the log file is to get it, with
// its own date and time. 'W' says that records first .. first+count-1 of this
// journal are about to go into the log file at `path`, which is `length`
// bytes long just before.
//
// Why it is built so:
//  - Appends only, each entry whole or torn. A power cut in the middle of an
//    append leaves a last entry that is short, or whose bytes (zeros, when the
//    size reached the disk and the data did not) do not match its CRC: reading
//    stops there, and the torn tail is cut off before anything is appended
//    after it. Only an entry not yet synced can be torn, and its reading had
//    not been saved yet.
//  - No reading twice. The crash that matters comes after the log file took
//    the records and before the journal was removed. The 'W' entry, synced
//    before the log file is written, says where the records would then be:
//    when the log file holds exactly their bytes at `length`, they are there
//    and are not written again; when it holds a torn part of them and nothing
//    else after `length`, that part is cut off first. The check is by content
//    at the noted place, not by the file's identity, which a network share may
//    change when it comes back. A file moved away or cut shorter since simply
//    gets the records again: they are no longer where they were.
//  - One journal per run, named kept-<sequence>-<process>.journal and locked
//    for as long as its run lives (flock; on Windows the file is opened for
//    this program alone): a second Tarvik started meanwhile leaves a live
//    run's journal alone, and journals are written in the order they were
//    begun. A new journal is made under a hidden name, locked, and only then
//    given its real name, so no one else ever sees it unlocked.
//  - Private: the folder is 0700 and the files 0600, opened by safefile's
//    rules (no other's link followed, regular files only, never blocking).
//    A folder or journal that is not this user's own, or that others may
//    write, is not read: a journal names files and bytes, and one planted by
//    someone else would make Tarvik write what it says into any file this
//    user may write.

#include "core/result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <deque>
#include <memory>
#include <vector>

// One log file's share of earlier runs' kept readings, as recovery left it.
struct RecoveredReadings
{
    QString logFile;
    qsizetype count = 0;
    QString first; // the first reading's date and time, as in its record
    QString last;
    QString error; // why they could not be written; empty when they were
};

struct Recovery
{
    std::vector<RecoveredReadings> files; // in the order first met
    QStringList problems; // journals or the folder that could not be read
    QString folder; // where the journals are (native separators)

    bool isEmpty() const { return files.empty() && problems.isEmpty(); }
    qsizetype writtenCount() const;
    // Why readings for `logFile` could not be written; null when none wait.
    QString failureFor(const QString& logFile) const;
    // The one message for the operator; empty when there is nothing to say.
    QString message() const;
};

// A record in a journal, as read back.
struct JournalRecord
{
    QString logFile;
    QByteArray record;
};

class Journal
{
public:
    // `folder`: where this user's journals live. Nothing is touched until the
    // first reading is kept or recoverEarlier() runs.
    explicit Journal(const QString& folder);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // $XDG_STATE_HOME/tarvik (~/.local/state/tarvik); %LOCALAPPDATA%\Tarvik.
    static QString defaultFolder();
    const QString& folder() const { return m_folder; }

    // This run's journal.
    // Appends kept[from..], each meant for `logFile`, and syncs; makes the
    // journal (and its folder) first when there is none.
    Result<void> append(const QString& logFile, const std::deque<QByteArray>& kept, qsizetype from);
    // Notes, synced, that this journal's first `count` records are about to
    // go into `logFile`, now `length` bytes long.
    Result<void> noteWrite(const QString& logFile, qint64 length, qsizetype count);
    // The log file took them: the journal goes.
    void discard();
    bool isOpen() const { return bool(m_own); }
    // The journal's file, or its folder when there is none (native separators).
    QString place() const;

    // Earlier runs' journals.
    // At start: writes every journal that no running program holds into the
    // files its readings were meant for; keeps holding those whose files
    // still cannot be written.
    Recovery recoverEarlier();
    bool holdsEarlierFor(const QString& logFile) const;
    // Writes the held readings meant for `logFile`, oldest first.
    Recovery retryEarlier(const QString& logFile);

    // The records of the journal at `path`, up to a torn last entry.
    static std::vector<JournalRecord> readRecords(const QString& path);

private:
    class File;
    struct Earlier;

    void writeEarlier(Recovery& report, const QString* only);

    QString m_folder;
    std::unique_ptr<File> m_own;
    std::vector<std::unique_ptr<Earlier>> m_earlier;
};
