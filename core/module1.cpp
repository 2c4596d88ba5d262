// SPDX-License-Identifier: MIT
#include "core/module1.h"

#include "core/eventlog.h"
#include "core/inifile.h"
#include "core/numbertext.h"
#include "core/portsetting.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

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
    if (!SettingsFileRefused.isEmpty()) {
        qCWarning(lcSettings).noquote()
            << u"settings file %1 not read: %2"_s.arg(SettingsFile, SettingsFileRefused);
        return;
    }
    ComPortSetting = read.value;
    qCDebug(lcSettings).noquote() << u"%1: ComPort=%2"_s.arg(SettingsFile, ComPortSetting);
    if (!read.defaulted)
        return;
    const bool existed = QFileInfo::exists(SettingsFile);
    if (!SaveComPortSetting()) {
        qCWarning(lcSettings).noquote()
            << u"settings file %1 has no ComPort and cannot be written; this run uses ComPort=%2"_s
                   .arg(SettingsFile, ComPortSetting);
    } else if (existed) {
        qCInfo(lcSettings).noquote()
            << u"settings file %1 had no ComPort: ComPort=%2 written"_s.arg(
                   SettingsFile, ComPortSetting);
    } else {
        qCInfo(lcSettings).noquote()
            << u"settings file %1 created with ComPort=%2"_s.arg(SettingsFile, ComPortSetting);
    }
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
