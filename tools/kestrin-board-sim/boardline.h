// SPDX-License-Identifier: MIT
#pragma once

// The board's end of the serial line: a pseudo-terminal published under a
// symbolic link, or a real serial device. Both are raw 9600 baud 8N1 and
// non-blocking; the link goes again when the line is closed.

#include <QByteArray>
#include <QString>
#include <memory>

namespace boardsim {

class BoardLine
{
public:
    ~BoardLine();
    BoardLine(const BoardLine&) = delete;
    BoardLine& operator=(const BoardLine&) = delete;

    // Each says why and returns nothing when it cannot open the line.
    static std::unique_ptr<BoardLine> openLink(const QString& linkPath);
    static std::unique_ptr<BoardLine> openDevice(const QString& devicePath);

    int fd() const { return m_port; }
    bool isPseudoTerminal() const { return m_slave >= 0; }
    // The pseudo-terminal's device, which the link points at.
    const QByteArray& slavePath() const { return m_slavePath; }
    // "link -> /dev/pts/N", or the device.
    QString description() const;

    // Drops what the program sent and nobody read yet (pseudo-terminal only).
    void dropUnreadInput();
    // True when the other side has read everything written so far. Waits for
    // the output to drain on a device.
    bool allRead();

private:
    BoardLine() = default;
    bool openPseudoTerminal();
    bool makeLink();

    int m_port = -1; // pseudo-terminal master or serial device
    int m_slave = -1; // held open so the link never hangs up between opens
    QByteArray m_slavePath;
    QString m_path; // the link or the device
    bool m_linkMade = false;
};

} // namespace boardsim
