// SPDX-License-Identifier: MIT
#pragma once

// A pseudo-terminal played, in the test's own event loop, as what sits on a
// serial port: the encoder board, a silent line, a device answering garbage
// or flooding, or one that goes away when it is asked. Everything written to
// it is kept in `received`.

#include "ptyboard.h"

#include <QObject>
#include <QTimer>

class PlayedBoard : public QObject
{
public:
    enum class Plays
    {
        Board, // answers a request with the board's reply
        Silent,
        Garbage, // answers with a line of something else
        Flood, // answers with an endless stream of something else
        Vanishes // hangs up when asked
    };

    explicit PlayedBoard(Plays plays, QObject* parent = nullptr)
        : QObject(parent)
        , m_plays(plays)
        , m_timer(new QTimer(this))
    {
        m_timer->setInterval(2);
        connect(m_timer, &QTimer::timeout, this, &PlayedBoard::poll);
        m_timer->start();
    }

    PtyBoard pty;
    QByteArray received;

    const QString& device() const { return pty.devicePath(); }

private:
    void poll()
    {
        if (m_gone)
            return;
        received += pty.takeReceived();
        const bool asked = received.contains("\r\n");
        if (asked && !m_answered) {
            m_answered = true;
            switch (m_plays) {
            case Plays::Board:
                pty.send("<IN000000*\r\n");
                break;
            case Plays::Silent:
                break;
            case Plays::Garbage:
                pty.send("ERR what?\r\n");
                break;
            case Plays::Flood:
                break;
            case Plays::Vanishes:
                pty.hangUp();
                m_gone = true;
                return;
            }
        }
        // Half a kilobyte a tick, up to well past what marks a flood.
        if (m_plays == Plays::Flood && m_answered && m_flooded < 8 * 1024) {
            pty.send(QByteArray(512, 'U'));
            m_flooded += 512;
        }
    }

    Plays m_plays;
    QTimer* m_timer;
    bool m_answered = false;
    bool m_gone = false;
    qsizetype m_flooded = 0;
};
