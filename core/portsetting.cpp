#include "core/portsetting.h"

#include <QFileInfo>

#include <charconv>
#include <cmath>
#include <string>

using namespace Qt::StringLiterals;

std::optional<int> portNumberFromSetting(const QString& setting)
{
    std::string text;
    text.reserve(size_t(setting.size()));
    for (QChar c : setting) {
        if (c == u' ' || c == u'\t' || c == u'\n')
            continue;
        text.push_back(c.unicode() < 128 ? char(c.unicode()) : '\x7f');
    }

    // The longest number at the start: sign, digits, one point, exponent.
    size_t i = 0;
    auto digits = [&] {
        const size_t from = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
        return i - from;
    };
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    size_t mantissa = digits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissa += digits();
    }
    double value = 0.0;
    if (mantissa > 0) {
        size_t end = i;
        if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
            size_t j = i + 1;
            if (j < text.size() && (text[j] == '+' || text[j] == '-'))
                ++j;
            i = j;
            if (digits() > 0)
                end = i;
        }
        std::string number = text.substr(0, end);
        if (number.front() == '+')
            number.erase(0, 1);
        const auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
        if (ec == std::errc::result_out_of_range)
            return std::nullopt;
        if (ec != std::errc())
            value = 0.0;
    }

    // Halves go to the even neighbour, as the setting always has been read.
    const double rounded = std::nearbyint(value);
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
