// SPDX-License-Identifier: MIT
#pragma once

// Appends records to the CSV log so that none is lost or doubled when the
// file cannot be written for a while (read-only file, missing folder, full
// disk, a share gone away):
//  - each write puts every kept record, oldest first, then the new one, in
//    one write; the file is fsync'ed before it is closed;
//  - a write that fails is cut back to the file's old length, and the records
//    are kept in memory for the next attempt, whatever file that goes to.
// The file is opened and closed for every write so other programs can read it
// between readings.

#include <QByteArray>
#include <QString>

#include <deque>

class LogFile
{
public:
    struct Result
    {
        bool ok = true;
        QString error;        // the system's reason when !ok
    };

    // Keeps `record` for the next write, after any already kept: readings
    // that arrive together are written together, with one sync.
    void keep(const QByteArray& record) { m_kept.push_back(record); }

    // Writes the kept records alone (nothing to do when none are kept).
    Result writeKept(const QString& path);

    qsizetype keptCount() const { return qsizetype(m_kept.size()); }

private:
    Result writeAll(const QString& path);

    std::deque<QByteArray> m_kept;
};
