// SPDX-License-Identifier: MIT
#pragma once

// Turns the board's byte stream into reply lines: CR ends a line, LF is dropped
// wherever it stands, NUL reads as a space, and empty lines are never produced.
// Bytes arrive in whatever chunks the port hands over; a line may span chunks.

#include <QByteArrayView>
#include <QString>
#include <QStringList>

class LineAssembler
{
public:
    // Real replies are under 30 characters. A line that grows past this
    // without a CR is thrown away up to its CR, so a board streaming garbage
    // without line ends cannot exhaust memory.
    static constexpr qsizetype MaxLineLength = 4096;

    // Feeds received bytes (each byte one Latin-1 character) and appends every
    // line completed by them to `lines`, in order.
    void feed(QByteArrayView bytes, QStringList& lines);

    // Characters received since the last line end (what the old program kept
    // in RxBuffer). Empty while a too-long line is being discarded.
    const QString& pending() const { return m_pending; }

    void clear();

private:
    QString m_pending;
    bool m_discarding = false;
};
