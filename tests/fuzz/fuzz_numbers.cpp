// SPDX-License-Identifier: MIT
// Number texts that reach the program from people rather than the board: the
// scale entry boxes and the ComPort setting. The input is the text, read both
// as Latin-1 and as UTF-8 (so that signs such as U+2212 turn up), under
// locales that write the point, the minus and the grouping differently.

#include "core/portsetting.h"
#include "fuzztargets.h"
#include "core/numbertext.h"
#include "core/protocol.h"

#include <QLocale>
#include <QString>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

#define CHECK(cond, detail) FUZZ_CHECK("fuzz_numbers", cond, detail)

QString g(double v)
{
    return QString::number(v, 'g', 17);
}

void checkScaleArgument(double factor)
{
    const QString argument = protocol::scaleArgument(factor);
    CHECK(!argument.isEmpty(), g(factor));
    for (const QChar c : argument)
        CHECK((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'), argument);
    const double s = numbertext::roundDecimal(factor, 2);
    if (s >= 3.94 && s <= 167772.15) {
        CHECK(argument.size() == 12, g(factor) + u" -> "_s + argument);
        CHECK(protocol::decodeScaleField(argument.first(6)) == s, g(factor) + u" -> "_s + argument);
        CHECK(
            protocol::decodeScaleField(argument.sliced(6)) == numbertext::roundDecimal(s / 25.4, 2),
            g(factor) + u" -> "_s + argument);
    }
}

void checkText(const QString& text, const QLocale& locale, unsigned decimals)
{
    const auto entry = numbertext::parseEntryNumber(text, locale);
    const auto board = numbertext::parseBoardDecimal(text, locale);
    if (entry)
        CHECK(std::isfinite(*entry), text);
    if (board) {
        CHECK(std::isfinite(*board), text);
        // The board's form is the entry form without an exponent.
        CHECK(entry && *entry == *board, text);
    }
    if (!text.contains(u'e', Qt::CaseInsensitive))
        CHECK(entry.has_value() == board.has_value(), text);
    if (!entry)
        return;

    const double v = *entry;
    checkScaleArgument(v);

    const int d = static_cast<int>(decimals % 24);
    const double r = numbertext::roundDecimal(v, d);
    CHECK(std::isfinite(r), text);
    CHECK(numbertext::roundDecimal(r, d) == r, text + u" -> "_s + g(r));

    // Both the position text and the logged reading say the value to three
    // decimals and read back as exactly that.
    const double r3 = numbertext::roundDecimal(v, 3);
    const QString position = numbertext::formatPosition(v, locale);
    const auto positionBack = numbertext::parseBoardDecimal(position, locale);
    CHECK(positionBack && *positionBack == r3, text + u" -> "_s + position);
    const QString reading = numbertext::formatReading(r3, locale);
    const auto readingBack = numbertext::parseEntryNumber(reading, locale);
    CHECK(readingBack && *readingBack == r3, text + u" -> "_s + reading);
}

void checkPortSetting(const QString& text)
{
    const auto port = portNumberFromSetting(text);
    if (!port)
        return;
    CHECK(*port >= -32768 && *port <= 32767, text);
    const auto name = portNameFor(*port, u"/nonexistent-tarvik-folder"_s);
    CHECK(name.has_value() == (*port >= 1 && *port <= 255), text);
}

const QLocale* locales()
{
    // Point and comma decimals, ASCII and U+2212 minus, blank-like grouping.
    static const QLocale all[] = {
        QLocale(QLocale::English, QLocale::UnitedStates),
        QLocale(QLocale::German, QLocale::Germany),
        QLocale(QLocale::Swedish, QLocale::Sweden),
        QLocale(QLocale::French, QLocale::France),
    };
    return all;
}

} // namespace

void fuzzNumbers(const std::uint8_t* data, std::size_t size)
{
    // Entry boxes and settings values are short; longer inputs only repeat
    // what shorter ones already do, slowly.
    if (size > 4096)
        return;
    const char* chars = reinterpret_cast<const char*>(data);
    const auto length = static_cast<qsizetype>(size);
    const QString texts[]
        = { QString::fromLatin1(chars, length), QString::fromUtf8(chars, length) };
    unsigned decimals = 0;
    for (std::size_t i = 0; i < size; ++i)
        decimals = decimals * 31 + data[i];

    for (const QString& text : texts) {
        for (int i = 0; i < 4; ++i)
            checkText(text, locales()[i], decimals);
        checkPortSetting(text);
    }

    static bool once = false;
    if (!once) {
        once = true;
        for (const double v : { std::numeric_limits<double>::infinity(),
                 -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN(),
                 std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(),
                 std::numeric_limits<double>::denorm_min(), 3.935, 167772.154, -3.94 })
            protocol::scaleArgument(v);
    }
}

#ifndef TARVIK_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzNumbers(data, size);
    return 0;
}
#endif
