// SPDX-License-Identifier: MIT
#include "core/portsetting.h"

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

std::optional<QString> portNameFor(int portNumber, const QString& programFolder)
{
    if (portNumber < 1 || portNumber > 255)
        return std::nullopt;
#ifdef Q_OS_WIN
    Q_UNUSED(programFolder);
    return u"COM%1"_s.arg(portNumber);
#else
    const QString link = programFolder + u"/com"_s + QString::number(portNumber);
    const QFileInfo info(link);
    if (info.exists() || info.isSymLink())
        return link;
    return u"/dev/ttyS"_s + QString::number(portNumber - 1);
#endif
}
