#include "port/boardport.h"

#include "core/safefile.h"

using namespace Qt::StringLiterals;

namespace {
constexpr int ReopenIntervalMs = 1000;

// Why the device just opened is not the board's line: another operator's
// pseudo-terminal, linked as comN, would feed the shared log invented
// readings and receive this operator's commands. Empty when it may be used.
QString refusedDevice(QSerialPort* port)
{
#ifdef Q_OS_WIN
    Q_UNUSED(port);
    return {};
#else
    return safefile::refusedPort(int(port->handle()), port->portName());
#endif
}
} // namespace

BoardPort::BoardPort(QObject* parent)
    : QObject(parent)
    , m_port(new QSerialPort(this))
    , m_reopenTimer(new QTimer(this))
{
    m_reopenTimer->setInterval(ReopenIntervalMs);
    connect(m_port, &QSerialPort::readyRead, this, &BoardPort::readAvailable);
    connect(m_port, &QSerialPort::errorOccurred, this, &BoardPort::handleError);
    connect(m_reopenTimer, &QTimer::timeout, this, &BoardPort::tryReopen);
}

BoardPort::~BoardPort() = default;

bool BoardPort::open(const QString& portName, QString* error)
{
    m_reopenTimer->stop();
    m_port->close();
    m_portName = portName;
    m_port->setPortName(portName);
    m_port->setBaudRate(QSerialPort::Baud9600);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    if (m_port->open(QIODevice::ReadWrite)) {
        const QString refused = refusedDevice(m_port);
        if (refused.isEmpty())
            return true;
        m_port->close();
        if (error)
            *error = refused;
        return false;
    }
    if (error)
        *error = m_port->errorString();
    return false;
}

void BoardPort::close()
{
    m_reopenTimer->stop();
    m_port->close();
}

bool BoardPort::isOpen() const
{
    return m_port->isOpen();
}

bool BoardPort::writeLine(QStringView text)
{
    if (!m_port->isOpen())
        return false;
    QByteArray line = text.toLatin1();
    line.append("\r\n", 2);
    if (m_port->write(line) != line.size())
        return false;
    // QSerialPort otherwise holds the bytes until the event loop runs, and
    // Apply's pauses between commands would then not reach the line.
    m_port->flush();
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
    // Anything read before the error is still the board's: hand it on first.
    readAvailable();
    m_port->close();
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
    m_port->clearError();
    if (m_port->open(QIODevice::ReadWrite)) {
        if (!refusedDevice(m_port).isEmpty()) {
            m_port->close();
            return;
        }
        m_reopenTimer->stop();
        Q_EMIT connectedChanged(true);
    }
}
