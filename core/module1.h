// SPDX-License-Identifier: MIT
#pragma once

// The run's shared state. One Module1 is created by main() and handed to both
// windows, so that the receive buffer, the poll phase and the last scale
// factors survive the setup window being closed and opened again.
//
// The road of a reading, from the port to the file:
//   BoardPort::readAvailable (PicComm)       bytes as the port hands them over
//   frmPicOptions::PicComm_Receive           one receive pass
//   BoardSession::receive                    (core/boardsession.h)
//     LineAssembler::feed (RxBuffer)         bytes into lines
//     BoardSession::onLine (RxLine)          protocol::decodeReply, then by kind:
//                                            position and scale texts, inputs,
//                                            CurrentScale3/4; a reading goes to
//     Module1::LogReading                    its three texts, then
//     ReadingLog::appendLogLine (frmMain)    the log view line, kept, and
//     ReadingLog::WriteLogRecord (frmMain)   LogFile::keep, the CSV record
//   frmPicOptions::showLine                  raw view, labels, indicators
//   frmMain::flushLog                        queued: runs after the receive pass
//     LogFile::writeKept                     every kept record in one write
//                                            and one sync, then
//     LogView::appendLines (Text1)           the pass's lines into the LogRing
//                                            in one step

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
    void SaveComPortSetting();

    // Turns CurrentReading into its three texts, stamped now, and hands them
    // to the reading log.
    void LogReading();

    QString SettingsFile;
    QString ComPortSetting;
    // Why SettingsFile was not read (a link another operator made); empty
    // when it was, or when it is only missing or unreadable.
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
