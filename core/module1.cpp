// SPDX-License-Identifier: MIT
#include "core/module1.h"

#include "core/inifile.h"
#include "core/numbertext.h"
#include "core/portsetting.h"

#include <QDateTime>
#include <QDir>

using namespace Qt::StringLiterals;

Module1::Module1(const QString& programFolder, const QLocale& locale)
    : SettingsFile(QDir::toNativeSeparators(programFolder + u"/Settings.ini"_s))
    , journal(Journal::defaultFolder())
    , m_programFolder(programFolder)
    , m_textFormat(locale)
{
    logFile.setJournal(&journal);
}

QString Module1::defaultLogFile() const
{
    return QDir::toNativeSeparators(m_programFolder + u"/Default.csv"_s);
}

void Module1::LoadComPortSetting()
{
    const ComPortSettingRead read = readComPortSetting(SettingsFile);
    SettingsFileRefused = read.refused;
    if (!SettingsFileRefused.isEmpty())
        return;
    ComPortSetting = read.value;
    if (read.defaulted)
        SaveComPortSetting();
}

bool Module1::SaveComPortSetting()
{
    // A folder we cannot write to is no reason for the program to stop: the
    // run goes on with the setting in memory.
    return WriteIniString(u"System"_s, u"ComPort"_s, ComPortSetting, SettingsFile).ok();
}

void Module1::LogReading()
{
    ReadingText = numbertext::formatReading(CurrentReading, locale());
    const QDateTime now = QDateTime::currentDateTime();
    ReadingDate = m_textFormat.date(now.date());
    ReadingTime = m_textFormat.time(now.time());
    if (readingLog) {
        readingLog->appendLogLine(logViewLine({ ReadingText, ReadingDate, ReadingTime }));
        readingLog->WriteLogRecord();
    }
}
