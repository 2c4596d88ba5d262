// SPDX-License-Identifier: MIT
#pragma once

// From the ComPort setting to the name of a serial device.

#include <QString>
#include <QStringView>

#include <optional>

// The value Settings.ini gets when it has none.
inline constexpr QStringView DefaultComPortSetting = u"1";

// The setting read as a number: blanks, tabs and LFs dropped, the number at
// the start taken (3, "3 ", "3x" all give 3; no number gives 0), rounded half
// to even, and refused outside -32768..32767.
std::optional<int> portNumberFromSetting(const QString& setting);

// "<folder>/com<n>": the name an operator links to the board's device.
QString comLinkPath(const QString& programFolder, int portNumber);

// Port n is "COMn" on Windows. Elsewhere it is "<folder>/comn" when that path
// exists (normally a link to a /dev/serial/by-id/ name, so the setting
// survives an adapter re-plugged under another name), else "/dev/ttyS<n-1>".
// Nothing for numbers outside 1..255.
std::optional<QString> portNameFor(int portNumber, const QString& programFolder);

// What the settings file says about the port, read without writing anything.
struct ComPortSettingRead
{
    QString value; // DefaultComPortSetting when the file or the value is missing or empty
    bool defaulted = false; // no value in the file: the program writes the default
    QString refused; // why the file is not read (a link another operator made); empty when it is
};

ComPortSettingRead readComPortSetting(const QString& settingsFile);
