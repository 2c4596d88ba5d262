// SPDX-License-Identifier: MIT
#include "ptyboard.h"

#include "tools/pseudoterminal/pseudoterminal.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTest>

#include <cerrno>
#include <unistd.h>

PtyBoard::PtyBoard()
{
    const PseudoTerminal terminal = openPseudoTerminal();
    m_master = terminal.master;
    m_slaveKeep = terminal.device;
    m_device = QString::fromLocal8Bit(QByteArray::fromStdString(terminal.devicePath));
}

PtyBoard::~PtyBoard()
{
    hangUp();
    if (!m_link.isEmpty())
        QFile::remove(m_link);
}

bool PtyBoard::linkAt(const QString& linkPath)
{
    QFile::remove(linkPath);
    if (!QFile::link(m_device, linkPath))
        return false;
    m_link = linkPath;
    return true;
}

bool PtyBoard::send(const QByteArray& bytes)
{
    qsizetype done = 0;
    QDeadlineTimer deadline(10000);
    while (done < bytes.size() && m_master >= 0) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else {
            if (deadline.hasExpired())
                return false;
            QTest::qWait(1); // let the program read
        }
    }
    return done == bytes.size();
}

void PtyBoard::drain()
{
    if (m_master < 0)
        return;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            break;
        m_received.append(buf, n);
    }
}

QByteArray PtyBoard::takeReceived()
{
    drain();
    return std::exchange(m_received, {});
}

QList<QByteArray> PtyBoard::waitForLines(int count, int timeoutMs)
{
    auto completeLines = [this] {
        drain();
        return m_received.count("\r\n");
    };
    // The caller checks what arrived; running out of time is not an error here.
    (void)QTest::qWaitFor([&] { return completeLines() >= count; }, timeoutMs);
    QList<QByteArray> lines;
    qsizetype end;
    while ((end = m_received.indexOf("\r\n")) >= 0) {
        lines.append(m_received.left(end));
        m_received.remove(0, end + 2);
    }
    return lines;
}

void PtyBoard::hangUp()
{
    if (m_slaveKeep >= 0)
        ::close(std::exchange(m_slaveKeep, -1));
    if (m_master >= 0)
        ::close(std::exchange(m_master, -1));
}
