// SPDX-License-Identifier: MIT
#pragma once

// The board's serial port on Windows, in place of QSerialPort there.
//
// QSerialPort 6.4 waits for received characters with an overlapped
// WaitCommEvent whose completion it expects on an I/O completion port. Wine 8
// ends that call at once, without a character and without a completion
// packet, so QSerialPort waits for ever and readyRead never comes. This port waits with
// event handles instead, on a reader thread of its own: WaitCommEvent, then
// ReadFile of what has arrived. On Windows that is the documented pattern; on
// Wine it receives too. Writes are overlapped, so they go out at once while a
// read is pending.
//
// Always 9600 baud, 8 data bits, no parity, one stop bit, no flow control:
// the encoder board knows no other setting.

#include <QByteArray>
#include <QIODevice>
#include <QMutex>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>

class WinSerialPort : public QIODevice
{
    Q_OBJECT

public:
    explicit WinSerialPort(QObject* parent = nullptr);
    ~WinSerialPort() override;

    void setPortName(const QString& name) { m_portName = name; }
    const QString& portName() const { return m_portName; }

    // Opens `COMn` (any name CreateFile takes after "\\.\"). On failure
    // errorString() says why.
    bool open(OpenMode mode) override;
    void close() override;
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

    // A failure after the port opened (the adapter was pulled, the driver
    // gave up) ends the read channel: readChannelFinished() is emitted,
    // errorString() says why, and the port stays open until closed.

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    struct Handles;
    void readerLoop();
    void deliver(const char* data, qint64 size);
    void reportFailure(unsigned long code);

    QString m_portName;
    std::unique_ptr<Handles> m_h;
    std::thread m_reader;
    mutable QMutex m_rxLock;
    QByteArray m_rx;
    std::atomic_bool m_readyReadPosted{false};
};
