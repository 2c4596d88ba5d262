// SPDX-License-Identifier: MIT
#pragma once

// The bytes waiting to go out and the pace they go at: at 9600 baud 8N1 one
// character takes 10 bit times, so a burst takes as long as on a real line.
// No clock of its own; the caller passes monotonic seconds.

#include <QByteArray>
#include <QByteArrayView>

namespace boardsim {

class Pacer
{
public:
    static constexpr double CharSeconds = 10.0 / 9600.0; // start bit, 8 data bits, stop bit

    explicit Pacer(bool paced)
        : m_paced(paced)
    { }

    bool isEmpty() const { return m_queue.isEmpty(); }
    void append(QByteArrayView bytes, double now);
    // What nobody reads is gone, as on a line with nothing attached.
    void clear() { m_queue.clear(); }

    // The bytes that may be written now: all of them when unpaced, else those
    // whose time has come, none while the line is still busy.
    QByteArrayView due(double now) const;
    // `count` bytes from the front were written.
    void written(qsizetype count);
    // When the next byte may go; only meaningful while bytes wait.
    double nextAt(double now) const { return m_paced ? m_lineFreeAt : now; }

private:
    bool m_paced;
    QByteArray m_queue;
    double m_lineFreeAt = 0.0;
};

} // namespace boardsim
