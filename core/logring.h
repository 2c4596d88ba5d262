// SPDX-License-Identifier: MIT
#pragma once

// The lines of the main window's log view: the newest `capacity` lines, kept
// as UTF-8 back to back in blocks of LinesPerBlock lines. A line costs its
// bytes and a 4-byte offset, not an object of its own, and the blocks are
// reused once the ring has come round, so memory stays where the first fill
// left it however long the run.
//
// At the limit the oldest `trimStep` lines go in one step before the new line
// is added: a full ring holds capacity - trimStep + 1 .. capacity lines.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <vector>

class LogRing
{
public:
    static constexpr qsizetype LinesPerBlock = 1024;

    explicit LogRing(qsizetype capacity = 100000, qsizetype trimStep = 1000);

    qsizetype size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }
    qsizetype capacity() const { return m_capacity; }
    qsizetype trimStep() const { return m_trimStep; }

    // Adds lines after the newest, one by one as far as the limit goes.
    // Returns how many of the oldest lines went to make room; the rows of the
    // lines kept move up by as many.
    qsizetype append(const QStringList& lines);
    qsizetype append(QStringView line);

    // Row 0 is the oldest line kept.
    QString line(qsizetype row) const;

    // Rows first..last (inclusive), each followed by `lineEnd`.
    QString text(qsizetype first, qsizetype last, QStringView lineEnd) const;

    void clear();

    // Bytes the blocks hold on to, used or not.
    qsizetype allocatedBytes() const;

private:
    struct Block
    {
        std::string text; // the lines' UTF-8, back to back
        std::vector<uint32_t> ends; // where each line ends in `text`
    };

    // Drops the `count` oldest lines.
    void dropOldest(qsizetype count);
    void push(QStringView line);
    const Block& blockOf(qsizetype row, qsizetype* index) const;

    qsizetype m_capacity;
    qsizetype m_trimStep;
    // A ring of blocks; those in use start at m_firstBlock. Lines dropped
    // from the front of the first block keep their place (m_skipped) until
    // the whole block goes.
    std::vector<Block> m_blocks;
    qsizetype m_firstBlock = 0;
    qsizetype m_blocksUsed = 0;
    qsizetype m_skipped = 0;
    qsizetype m_size = 0;
};
