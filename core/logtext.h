// SPDX-License-Identifier: MIT
#pragma once

// The three texts of a logged reading and the two forms they are written in:
// a TAB-separated line for the main window's log view and a quoted,
// comma-separated record for the CSV file.

#include <QByteArray>
#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>

struct ReadingTexts
{
    QString value;
    QString date;
    QString time;
};

// Date and time texts for the log. The date is the locale's short date with
// the year widened to four digits ("12/7/2026", "07.12.2026"); the time is the
// locale's long time without a time-zone name ("4:19:14 AM", "04:19:14").
// In the C or POSIX locale they are ISO 8601 and 24 hours ("2026-12-07",
// "14:05:09").
// The patterns are worked out once, since every reading needs them.
class LogTextFormat
{
public:
    explicit LogTextFormat(const QLocale& locale);

    QString date(QDate date) const;
    QString time(QTime time) const;
    const QLocale& locale() const { return m_locale; }

private:
    QLocale m_locale;
    QString m_datePattern;
    QString m_timePattern;
};

// value TAB date TAB time CR LF
QString logViewLine(const ReadingTexts& texts);

// "value","date","time" CR LF in the system's 8-bit encoding.
QByteArray csvRecord(const ReadingTexts& texts);
