// SPDX-License-Identifier: MIT
#include "port/serialports.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// ttyS2 before ttyS10: the digits at the end compared as a number.
bool nameLess(const QString& a, const QString& b)
{
    auto split = [](const QString& name) {
        qsizetype digits = name.size();
        while (digits > 0 && name[digits - 1].isDigit())
            --digits;
        return std::pair { name.left(digits), name.mid(digits).toLongLong() };
    };
    const auto [headA, numberA] = split(a);
    const auto [headB, numberB] = split(b);
    if (headA != headB)
        return headA < headB;
    if (numberA != numberB)
        return numberA < numberB;
    return a < b;
}

QString describe(const SerialPortEntry& port)
{
    return port.description.isEmpty() ? u"(no description)"_s : port.description;
}

} // namespace

void sortSerialPorts(QList<SerialPortEntry>& ports)
{
    std::stable_sort(
        ports.begin(), ports.end(), [](const SerialPortEntry& a, const SerialPortEntry& b) {
            // A USB adapter is what the board most likely hangs on.
            if (a.vendorId.has_value() != b.vendorId.has_value())
                return a.vendorId.has_value();
            return nameLess(a.device, b.device);
        });
}

QString stableNameOf(const QString& device)
{
#ifdef Q_OS_WIN
    return device;
#else
    const QDir byId(u"/dev/serial/by-id"_s);
    for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files, QDir::Name)) {
        if (link.canonicalFilePath() == device)
            return link.absoluteFilePath();
    }
    return device;
#endif
}

QList<SerialPortEntry> systemSerialPorts()
{
    QList<SerialPortEntry> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SerialPortEntry port;
#ifdef Q_OS_WIN
        port.device = info.portName();
#else
        port.device = info.systemLocation();
#endif
        port.stableName = stableNameOf(port.device);
        port.description = info.description();
        port.manufacturer = info.manufacturer();
        port.serialNumber = info.serialNumber();
        if (info.hasVendorIdentifier())
            port.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            port.productId = info.productIdentifier();
        ports.append(port);
    }
    sortSerialPorts(ports);
    return ports;
}

QString startupPortAdvice(
    const QList<SerialPortEntry>& ports, const QString& settingsFile, PortPlatform platform)
{
    if (ports.isEmpty()) {
        return u"No serial port was found on this computer: plug the board's USB serial adapter "
               u"in, then start Tarvik again."_s;
    }
    QString text = ports.size() == 1 ? u"Serial port found:"_s : u"Serial ports found:"_s;
    for (qsizetype i = 0; i < std::min(ports.size(), MaxPortsInMessage); ++i)
        text += u"\r\n    %1   %2"_s.arg(ports[i].stableName, describe(ports[i]));
    if (ports.size() > MaxPortsInMessage) {
        text += u"\r\n    and %1 more (tarvik-port list shows them all)"_s.arg(
            ports.size() - MaxPortsInMessage);
    }
    text += u"\r\n\r\n"_s;
    if (platform == PortPlatform::Windows) {
        // ComPort=n opens COMn: the number is the whole choice.
        const QString example = ports.constFirst().device;
        const QString number = example.mid(3);
        if (ports.size() == 1) {
            return text
                + u"Set ComPort=%1 under [System] in %2 to use %3."_s.arg(
                    number, settingsFile, example);
        }
        return text
            + u"Set ComPort under [System] in %1 to the number of the board's port "
              u"(ComPort=%2 for %3); tarvik-port find tells which port the board is on."_s.arg(
                  settingsFile, number, example);
    }
    if (ports.size() == 1)
        return text
            + u"To use it for the board, run:  tarvik-port use %1"_s.arg(ports[0].stableName);
    return text + u"To use the one the board answers on, run:  tarvik-port use found"_s;
}
