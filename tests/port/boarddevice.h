// SPDX-License-Identifier: MIT
#pragma once

// An in-memory stand-in for the board's serial line: the test feeds the bytes
// the board would send, reads back every write the program made, makes writes
// or opening fail, and lets the line vanish as an unplugged adapter does.

#include <QByteArray>
#include <QIODevice>
#include <QList>

class BoardDevice : public QIODevice
{
public:
    // Bytes from the board; the port is told as a serial port would tell it.
    void feed(const QByteArray& bytes)
    {
        m_incoming += bytes;
        Q_EMIT readyRead();
    }

    // Bytes that have arrived but not yet been signalled.
    void queue(const QByteArray& bytes) { m_incoming += bytes; }

    // The line gone: what was fed stays readable until the port closes.
    void vanish() { Q_EMIT readChannelFinished(); }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override
    {
        return m_incoming.size() + QIODevice::bytesAvailable();
    }

    bool open(OpenMode mode) override
    {
        if (refuseOpen) {
            setErrorString(refuseReason);
            return false;
        }
        return QIODevice::open(mode);
    }

    QList<QByteArray> writes; // one entry per write call
    bool failWrites = false;
    bool refuseOpen = false;
    QString refuseReason = QStringLiteral("Device or resource busy");

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 n = qMin<qint64>(maxSize, m_incoming.size());
        std::copy_n(m_incoming.constData(), n, data);
        m_incoming.remove(0, n);
        return n;
    }

    qint64 writeData(const char* data, qint64 size) override
    {
        if (failWrites) {
            setErrorString(QStringLiteral("Input/output error"));
            return -1;
        }
        writes.append(QByteArray(data, size));
        return size;
    }

private:
    QByteArray m_incoming;
};
