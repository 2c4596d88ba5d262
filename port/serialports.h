// SPDX-License-Identifier: MIT
#pragma once

// The serial ports this computer has, as the operator chooses among them.
// systemSerialPorts() is the one place that asks the system; everything else
// takes the list, so tests can hand in any set of ports.

#include <QList>
#include <QString>
#include <optional>

struct SerialPortEntry
{
    QString device; // /dev/ttyUSB0; COM3 on Windows
    // The name that stays with the adapter wherever it is plugged in: its
    // /dev/serial/by-id/ name where it has one, else the device.
    QString stableName;
    QString description;
    QString manufacturer;
    QString serialNumber;
    std::optional<quint16> vendorId; // USB adapters only
    std::optional<quint16> productId;
};

// The system's serial ports (QSerialPortInfo), USB adapters first, then by
// name (ttyS2 before ttyS10).
QList<SerialPortEntry> systemSerialPorts();

// The /dev/serial/by-id/ name leading to `device`, else `device` itself.
QString stableNameOf(const QString& device);

// Sorts as systemSerialPorts() does.
void sortSerialPorts(QList<SerialPortEntry>& ports);

enum class PortPlatform
{
    Posix,
    Windows
};

#ifdef Q_OS_WIN
inline constexpr PortPlatform ThisPlatform = PortPlatform::Windows;
#else
inline constexpr PortPlatform ThisPlatform = PortPlatform::Posix;
#endif

// The most ports the start-up message names.
inline constexpr qsizetype MaxPortsInMessage = 5;

// What the start-up message adds below its reason when the board's port
// cannot be opened: the ports found (up to five, each with its description)
// and how to choose one, or that none was found. Lines end in CR LF, as the
// message's own do.
QString startupPortAdvice(const QList<SerialPortEntry>& ports, const QString& settingsFile,
    PortPlatform platform = ThisPlatform);
