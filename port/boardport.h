// SPDX-License-Identifier: MIT
#pragma once

// The serial link to the encoder board (the setup window's PicComm).
// Received bytes are handed on as soon as the port signals them; a port error
// closes the port at once, since a vanished pseudo-terminal or USB adapter
// otherwise reports read errors in a tight loop.
//
// The link is a QSerialPort, and on Windows a WinSerialPort
// (port/winserialport.h), which Wine can receive through. Any other QIODevice
// can stand in for it, so tests can feed bytes, record writes and inject
// errors in memory; a device other than a QSerialPort reports its loss by
// ending its read channel.

#include "core/result.h"

#include "core/eventlog.h"

#include <QByteArray>
#include <QIODevice>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QStringView>
#include <QTimer>

class BoardPort : public QObject
{
    Q_OBJECT

public:
    explicit BoardPort(QObject* parent = nullptr);
    // Over `device` instead of a serial port; the port takes it as its child.
    BoardPort(QIODevice* device, QObject* parent);
    ~BoardPort() override;

    // Opens `portName` at 9600 baud, 8N1, no flow control. DTR and RTS are
    // left alone (a pseudo-terminal refuses them). A failure says why, for
    // the operator: who holds the port, a missing permission, the system's
    // reason, or why the device is refused as the board's line. A device
    // other than a serial port is simply opened; the name is only remembered.
    Result<void> open(const QString& portName);
    void close();
    bool isOpen() const;
    const QString& portName() const { return m_portName; }

    // Writes protocol::commandLine(text) in one write. False when the port
    // is closed or the write fails; the port stays as it was otherwise.
    bool writeLine(QStringView text);

    // While on, a lost port is reopened by the same name once a second.
    void setReconnecting(bool on);

Q_SIGNALS:
    void bytesReceived(const QByteArray& bytes);
    // The port closed after an error or reopened after one.
    void connectedChanged(bool connected);

private:
    void connectDevice();
    bool openDevice();
    QString failureReason() const;
    void readAvailable();
    void handleError(QSerialPort::SerialPortError error);
    void deviceLost();
    void tryReopen();

    QIODevice* m_port;
    QSerialPort* m_serial; // m_port when it is a serial port, else null
    QTimer* m_reopenTimer;
    QString m_portName;
    bool m_reconnecting = false;
    RepeatedFailure m_reopenFailure;
};
