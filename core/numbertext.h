// SPDX-License-Identifier: MIT
#pragma once

// Number texts shown to the operator, logged, or read from the board and from
// the scale entry boxes.
//
// Rounding is half away from zero on the value's 15-significant-digit decimal
// form (2.675 -> 2.68, 1.0005 -> 1.001), which is what operators see on the
// board's own display. QString::number(v, 'f', n) rounds the binary value
// instead (2.675 -> 2.67), so it is not used here.
//
// Parsing never goes through strtod or QLocale::toDouble: both follow the
// process locale, and the board writes "." whatever the PC's locale is.

#include <QLocale>
#include <QString>
#include <QStringView>

#include <optional>

namespace numbertext {

// `value` rounded to `decimals` places, half away from zero on its
// 15-significant-digit decimal form.
double roundDecimal(double value, int decimals);

// Exactly three decimals, at least one integer digit: 12.3456 -> "12.346".
QString formatPosition(double value, const QLocale& locale);

// Exactly two decimals, no integer digit when the whole part is 0: 0.5 -> ".50".
QString formatScale(double value, const QLocale& locale);

// Up to 15 significant digits, no trailing zeros, no grouping, -0 -> "0".
QString formatReading(double value, const QLocale& locale);

// A decimal field from the board: optional sign, digits, optional point and
// digits. Both "." and the locale's decimal separator count as the point.
// Empty or unusable -> nothing.
std::optional<double> parseBoardDecimal(QStringView field, const QLocale& locale);

// The characters a setting or a board's hex field may carry anywhere without
// meaning: blanks, tabs and line feeds. They are dropped, not ended at.
bool isSkippedBlank(QChar c);

// The number a setting starts with: skipped blanks dropped, then an optional
// sign, digits with at most one "." and an optional exponent (taken only when
// digits follow it); whatever comes after is ignored ("3", "3 ", "3x" give 3).
// No number at the start gives 0; one beyond a double gives nothing.
std::optional<double> parseLeadingNumber(QStringView text);

// A scale factor typed by the operator: optional blanks, optional sign, digits
// with at most one decimal point and at least one digit ("12." and ".5" are
// numbers), optional exponent, optional blanks. "." and the locale's decimal
// separator both count as the point. Thousands separators, currency signs and
// hex forms are not numbers.
std::optional<double> parseEntryNumber(QStringView text, const QLocale& locale);

} // namespace numbertext
