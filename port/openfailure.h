// SPDX-License-Identifier: MIT
#pragma once

// Why a serial port could not be opened, said so that an operator can tell a
// wrong port number from a port that another program holds and from a
// missing permission.

#include <QSerialPort>
#include <QString>

// `portName` is the name that was opened (a device or a link to one);
// `error` and `errorText` are what the serial port reported.
QString openFailureReason(
    const QString& portName, QSerialPort::SerialPortError error, const QString& errorText);
