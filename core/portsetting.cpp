// SPDX-License-Identifier: MIT
#include "core/portsetting.h"

#include "core/inifile.h"
#include "core/numbertext.h"

#include <QFileInfo>
#include <cmath>

using namespace Qt::StringLiterals;

std::optional<int> portNumberFromSetting(const QString& setting)
{
    const std::optional<double> value = numbertext::parseLeadingNumber(setting);
    if (!value)
        return std::nullopt;
    // Halves go to the even neighbour, as the setting always has been read.
    const double rounded = std::nearbyint(*value);
    if (!(rounded >= -32768.0 && rounded <= 32767.0))
        return std::nullopt;
    return int(rounded);
}

QString comLinkPath(const QString& programFolder, int portNumber)
{
    return programFolder + u"/com"_s + QString::number(portNumber);
}

std::optional<QString> portNameFor(int portNumber, const QString& programFolder)
{
    if (portNumber < 1 || portNumber > 255)
        return std::nullopt;
#ifdef Q_OS_WIN
    Q_UNUSED(programFolder);
    return u"COM%1"_s.arg(portNumber);
#else
    const QString link = comLinkPath(programFolder, portNumber);
    const QFileInfo info(link);
    if (info.exists() || info.isSymLink())
        return link;
    return u"/dev/ttyS"_s + QString::number(portNumber - 1);
#endif
}

ComPortSettingRead readComPortSetting(const QString& settingsFile)
{
    ComPortSettingRead read;
    // A file that is there but not read (another operator's link or FIFO,
    // unreadable, huge) must not pass for a missing one: the run would open
    // port 1 without a word, and the default be written over it. The
    // operator learns which file and why instead.
    const Result<QString> value = ReadIniString(u"System"_s, u"ComPort"_s, settingsFile);
    if (!value) {
        read.refused = value.reason();
        return read;
    }
    read.value = value.value();
    read.defaulted = read.value.isEmpty();
    if (read.defaulted)
        read.value = DefaultComPortSetting.toString();
    return read;
}
