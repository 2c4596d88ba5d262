// SPDX-License-Identifier: MIT
#pragma once

// A pseudo-terminal that a test plays as the encoder board: the program under
// test opens the terminal's device (or a link to it) as its serial port, and
// the test reads what the program sent and writes the board's replies.

#include <QByteArray>
#include <QList>
#include <QString>

class PtyBoard
{
public:
    PtyBoard();
    ~PtyBoard();
    PtyBoard(const PtyBoard&) = delete;
    PtyBoard& operator=(const PtyBoard&) = delete;

    bool isValid() const { return m_master >= 0; }
    // The device the program opens, e.g. /dev/pts/7.
    const QString& devicePath() const { return m_device; }
    // Puts a symbolic link to the device at `linkPath` (replacing one).
    bool linkAt(const QString& linkPath);

    // Writes bytes as the board.
    bool send(const QByteArray& bytes);

    // Everything the program has written so far and not yet taken.
    QByteArray takeReceived();
    // Lines the program wrote (without their CR LF), waiting up to
    // `timeoutMs` for at least `count` of them; returns what there is.
    QList<QByteArray> waitForLines(int count, int timeoutMs = 10000);

    // Ends the board's side, as when an adapter is pulled.
    void hangUp();

private:
    void drain();

    int m_master = -1;
    int m_slaveKeep = -1;
    QString m_device;
    QString m_link;
    QByteArray m_received;
};
