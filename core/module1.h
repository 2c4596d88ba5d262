// SPDX-License-Identifier: MIT
#pragma once

// The run's shared state. One Module1 is created by main() and handed to both
// windows, so that the receive buffer, the poll phase and the last scale
// factors survive the setup window being closed and opened again.
//
// The road of a reading from the port to the file and the view: docs/architecture.md

#include "core/journal.h"
#include "core/lineassembler.h"
#include "core/logfile.h"
#include "core/logtext.h"

#include <QLocale>
#include <QString>

#include <cstdint>

// Where a logged reading goes: the main window's view and the CSV file.
class ReadingLog
{
public:
    virtual void appendLogLine(const QString& line) = 0;
    virtual void WriteLogRecord() = 0;

protected:
    ~ReadingLog() = default;
};

class Module1
{
public:
    // `programFolder` holds the settings file and the default log file.
    explicit Module1(const QString& programFolder, const QLocale& locale = QLocale());

    const QString& programFolder() const { return m_programFolder; }
    QString defaultLogFile() const;
    const QLocale& locale() const { return m_textFormat.locale(); }
    const LogTextFormat& textFormat() const { return m_textFormat; }

    void LoadComPortSetting();
    // False when the settings file could not be written.
    bool SaveComPortSetting();

    // Turns CurrentReading into its three texts, stamped now, and hands them
    // to the reading log.
    void LogReading();

    QString SettingsFile;
    QString ComPortSetting;
    // Why SettingsFile exists but was not read (a link another operator
    // made, not a regular file, unreadable, too big); empty when it was read
    // or is missing.
    QString SettingsFileRefused;
    LineAssembler RxBuffer;
    QString RxLine;
    std::int16_t PollPhase = 0;
    double CurrentScale3 = 0.0;
    double CurrentScale4 = 0.0;
    double CurrentReading = 0.0;
    QString ReadingText;
    QString ReadingDate;
    QString ReadingTime;

    // This user's journal of readings the log file did not take, so that
    // they outlast the run (core/journal.h).
    Journal journal;
    // Records that could not be written yet live here, not in a window, so
    // they outlast any message about them; and in the journal.
    LogFile logFile;

    ReadingLog* readingLog = nullptr;

private:
    QString m_programFolder;
    LogTextFormat m_textFormat;
};
