// SPDX-License-Identifier: MIT
#pragma once

// From the ComPort setting to the name of a serial device.

#include <QString>

#include <optional>

// The setting read as a number: blanks, tabs and LFs dropped, the number at
// the start taken (3, "3 ", "3x" all give 3; no number gives 0), rounded half
// to even, and refused outside -32768..32767.
std::optional<int> portNumberFromSetting(const QString& setting);

// Port n is "COMn" on Windows. Elsewhere it is "<folder>/comn" when that path
// exists (normally a link to a /dev/serial/by-id/ name, so the setting
// survives an adapter re-plugged under another name), else "/dev/ttyS<n-1>".
// Nothing for numbers outside 1..255.
std::optional<QString> portNameFor(int portNumber, const QString& programFolder);
