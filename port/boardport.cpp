// SPDX-License-Identifier: MIT
#include "port/boardport.h"

#include "core/eventlog.h"
#include "core/protocol.h"
#include "core/safefile.h"
#include "port/openfailure.h"

#ifdef Q_OS_WIN
#include "port/winserialport.h"
#endif

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {
constexpr int ReopenIntervalMs = 1000;

// Why the device just opened is not the board's line: another operator's
// pseudo-terminal, or this operator's own terminal linked as comN by someone
// else, /dev/tty and the like would feed the shared log invented readings and
// receive this operator's commands. Empty when it may be used
// (safefile::refusedPort is the rule). Only a serial port has a device that
// can be checked; an injected device is the caller's own.
// `name` is the name it was opened by: the serial port's own portName()
// drops a leading /dev/, so it may not lead anywhere.
QString refusedDevice(QSerialPort* port, const QString& name)
{
#ifdef Q_OS_WIN
    Q_UNUSED(port);
    Q_UNUSED(name);
    return {};
#else
    return port ? safefile::refusedPort(int(port->handle()), name) : QString();
#endif
}

// The serial port's error text alone can mislead (a pseudo-terminal whose
// board ended reads as "No such file or directory"): the kind goes first.
QString lossReason(QSerialPort::SerialPortError error, const QString& text)
{
    switch (error) {
    case QSerialPort::ResourceError:
        return u"the device went away (%1)"_s.arg(text);
    case QSerialPort::ReadError:
        return u"reading failed (%1)"_s.arg(text);
    case QSerialPort::WriteError:
        return u"writing failed (%1)"_s.arg(text);
    default:
        return text;
    }
}

// The device a name leads to, for the administrator: comN is usually a link
// (to a /dev/serial/by-id/ name, itself a link). Empty when it is the name.
QString deviceOf(const QString& name)
{
    const QString device = QFileInfo(name).canonicalFilePath();
    return device.isEmpty() || device == name ? QString() : u" (device %1)"_s.arg(device);
}
} // namespace

#ifdef Q_OS_WIN
BoardPort::BoardPort(QObject* parent)
    : BoardPort(new WinSerialPort, parent)
{
}
#else
BoardPort::BoardPort(QObject* parent)
    : QObject(parent)
    , m_serial(new QSerialPort(this))
    , m_reopenTimer(new QTimer(this))
{
    m_port = m_serial;
    connectDevice();
}
#endif

BoardPort::BoardPort(QIODevice* device, QObject* parent)
    : QObject(parent)
    , m_port(device)
    , m_serial(qobject_cast<QSerialPort*>(device))
    , m_reopenTimer(new QTimer(this))
{
    device->setParent(this);
    connectDevice();
}

void BoardPort::connectDevice()
{
    m_reopenTimer->setInterval(ReopenIntervalMs);
    connect(m_port, &QIODevice::readyRead, this, &BoardPort::readAvailable);
    if (m_serial)
        connect(m_serial, &QSerialPort::errorOccurred, this, &BoardPort::handleError);
    else
        connect(m_port, &QIODevice::readChannelFinished, this, &BoardPort::deviceLost);
    connect(m_reopenTimer, &QTimer::timeout, this, &BoardPort::tryReopen);
}

BoardPort::~BoardPort() = default;

Result<void> BoardPort::open(const QString& portName)
{
    m_reopenTimer->stop();
    m_port->close();
    m_portName = portName;
    if (m_serial) {
        m_serial->setPortName(portName);
        m_serial->setBaudRate(QSerialPort::Baud9600);
        m_serial->setDataBits(QSerialPort::Data8);
        m_serial->setParity(QSerialPort::NoParity);
        m_serial->setStopBits(QSerialPort::OneStop);
        m_serial->setFlowControl(QSerialPort::NoFlowControl);
    }
#ifdef Q_OS_WIN
    if (auto* windowsPort = qobject_cast<WinSerialPort*>(m_port))
        windowsPort->setPortName(portName);
#endif
    m_reopenFailure = {};
    if (!openDevice()) {
        const QString reason = failureReason();
        qCWarning(lcPort).noquote() << u"port %1 cannot be opened: %2"_s.arg(m_portName, reason);
        return Failure { reason };
    }
    if (const QString refused = refusedDevice(m_serial, m_portName); !refused.isEmpty()) {
        m_port->close();
        qCWarning(lcPort).noquote() << u"port %1 refused: %2"_s.arg(m_portName, refused);
        return Failure { refused };
    }
    qCInfo(lcPort).noquote() << u"port %1 opened%2"_s.arg(m_portName, deviceOf(m_portName));
    return {};
}

void BoardPort::close()
{
    m_reopenTimer->stop();
    if (m_port->isOpen())
        qCInfo(lcPort).noquote() << u"port %1 closed"_s.arg(m_portName);
    m_port->close();
}

bool BoardPort::isOpen() const
{
    return m_port->isOpen();
}

bool BoardPort::openDevice()
{
    return m_port->open(QIODevice::ReadWrite);
}

QString BoardPort::failureReason() const
{
    return m_serial ? openFailureReason(m_portName, m_serial->error(), m_serial->errorString())
                    : m_port->errorString();
}

bool BoardPort::writeLine(QStringView text)
{
    if (!m_port->isOpen())
        return false;
    const QByteArray line = protocol::commandLine(text);
    qCDebug(lcPort).noquote() << u"sent %1"_s.arg(text);
    if (m_port->write(line) != line.size())
        return false;
    // QSerialPort otherwise holds the bytes until the event loop runs, and
    // Apply's pauses between commands would then not reach the line.
    if (m_serial)
        m_serial->flush();
    return true;
}

void BoardPort::setReconnecting(bool on)
{
    m_reconnecting = on;
    if (!on)
        m_reopenTimer->stop();
    else if (!m_port->isOpen() && !m_portName.isEmpty())
        m_reopenTimer->start();
}

void BoardPort::readAvailable()
{
    const QByteArray bytes = m_port->readAll();
    if (!bytes.isEmpty())
        Q_EMIT bytesReceived(bytes);
}

void BoardPort::handleError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError)
        return;
    if (!m_port->isOpen())
        return; // a failed open reports through open()'s result
    deviceLost();
}

void BoardPort::deviceLost()
{
    if (!m_port->isOpen())
        return;
    // Anything read before the error is still the board's: hand it on first.
    readAvailable();
    // An injected device that just ends its read channel gives no reason.
    const QString reason
        = m_serial ? lossReason(m_serial->error(), m_serial->errorString()) : u"the line ended"_s;
    m_port->close();
    qCWarning(lcPort).noquote() << u"port %1 lost: %2%3"_s.arg(
        m_portName, reason, m_reconnecting ? u"; trying to reopen it once a second"_s : QString());
    m_reopenFailure = {};
    Q_EMIT connectedChanged(false);
    if (m_reconnecting)
        m_reopenTimer->start();
}

void BoardPort::tryReopen()
{
    if (m_port->isOpen()) {
        m_reopenTimer->stop();
        return;
    }
    if (m_serial)
        m_serial->clearError();
    if (openDevice()) {
        if (const QString refused = refusedDevice(m_serial, m_portName); !refused.isEmpty()) {
            m_port->close();
            if (m_reopenFailure.failed(u"refused: "_s + refused))
                qCWarning(lcPort).noquote() << u"port %1 refused: %2"_s.arg(m_portName, refused);
            return;
        }
        m_reopenTimer->stop();
        m_reopenFailure = {};
        qCInfo(lcPort).noquote() << u"port %1 reopened%2"_s.arg(m_portName, deviceOf(m_portName));
        Q_EMIT connectedChanged(true);
        return;
    }
    // Once a second while the board is away: told once, and again only when
    // the reason changes.
    if (const QString reason = failureReason(); m_reopenFailure.failed(reason)) {
        qCWarning(lcPort).noquote() << u"port %1 cannot be reopened: %2; still trying once a "
                                       u"second"_s.arg(m_portName, reason);
    }
}
