// Whatever a board (or a line full of noise) sends must never crash the
// receive path, and whatever gets through it must still look like what the
// operator and the log file expect. The input is the raw byte stream; it is
// fed whole, one byte at a time (as the receive timer does) and in chunks
// chosen from the input itself, and every feeding must frame the same lines.

#include "fuzztargets.h"
#include "core/lineassembler.h"
#include "core/numbertext.h"
#include "core/protocol.h"
#include "core/logtext.h"

#include <QDate>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QTime>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

#define CHECK(cond, detail) FUZZ_CHECK("fuzz_receive", cond, detail)

struct Framed
{
    QStringList lines;
    QString pending;
};

// The framing rules written out byte by byte, as plainly as they read: CR
// ends a line, LF vanishes, NUL is a blank, empty lines never surface, and a
// line longer than the limit is thrown away up to its CR.
Framed referenceFraming(QByteArrayView bytes)
{
    Framed out;
    bool discarding = false;
    for (const char b : bytes) {
        if (b == '\r') {
            if (discarding)
                discarding = false;
            else if (!out.pending.isEmpty())
                out.lines.append(std::exchange(out.pending, QString()));
            continue;
        }
        if (b == '\n' || discarding)
            continue;
        out.pending.append(b == '\0' ? QChar(u' ') : QChar(QLatin1Char(b)));
        if (out.pending.size() > LineAssembler::MaxLineLength) {
            discarding = true;
            out.pending.clear();
        }
    }
    return out;
}

// A small generator seeded from the input, so that the chunking changes with
// every mutation and a saved input replays the same way.
struct Random
{
    std::uint64_t state;
    std::uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<std::uint32_t>(state >> 16);
    }
};

std::uint64_t hashBytes(const std::uint8_t* data, std::size_t size)
{
    std::uint64_t h = 1469598103934665603ull;
    for (std::size_t i = 0; i < size; ++i)
        h = (h ^ data[i]) * 1099511628211ull;
    return h | 1; // never the generator's fixed point
}

enum class Chunking
{
    Whole,
    ByteByByte,
    Random
};

Framed feedInChunks(QByteArrayView bytes, Chunking chunking, std::uint64_t seed)
{
    LineAssembler assembler;
    Framed out;
    Random random { seed };
    qsizetype at = 0;
    while (at < bytes.size()) {
        qsizetype n = 1;
        if (chunking == Chunking::Whole) {
            n = bytes.size();
        } else if (chunking == Chunking::Random) {
            const std::uint32_t r = random.next();
            // Mostly short reads, now and then a long one, sometimes nothing.
            n = static_cast<qsizetype>(r % (1u << (r >> 28) % 14));
        }
        n = std::min(n, bytes.size() - at);
        assembler.feed(bytes.sliced(at, n), out.lines);
        at += n;
        CHECK(assembler.pending().size() <= LineAssembler::MaxLineLength, u"pending too long"_s);
    }
    out.pending = assembler.pending();

    // After clear() nothing of the old stream may leak into the next line,
    // not even a discard still under way.
    assembler.clear();
    CHECK(assembler.pending().isEmpty(), assembler.pending());
    QStringList after;
    assembler.feed("X\r", after);
    CHECK(after == QStringList { u"X"_s }, after.join(u'|'));
    return out;
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

bool allDigits(QStringView s)
{
    for (const QChar c : s) {
        if (!isDigit(c))
            return false;
    }
    return true;
}

bool fitForRecord(const QString& text)
{
    return !text.isEmpty() && !text.contains(u'"') && !text.contains(u'\t') && !text.contains(u'\r')
        && !text.contains(u'\n');
}

// [sign] whole point fraction, where the fraction has exactly `decimals`
// digits and the whole part has no leading zero (but is "0" for positions).
void checkFixedShape(const QString& text, const QLocale& locale, int decimals, bool wholeDigit)
{
    QStringView rest = text;
    const bool negative = rest.startsWith(locale.negativeSign());
    if (negative)
        rest = rest.sliced(locale.negativeSign().size());
    const qsizetype point = rest.indexOf(locale.decimalPoint());
    CHECK(point >= 0, text);
    const QStringView whole = rest.first(point);
    const QStringView fraction = rest.sliced(point + locale.decimalPoint().size());
    CHECK(fraction.size() == decimals && allDigits(fraction), text);
    CHECK(allDigits(whole), text);
    if (wholeDigit)
        CHECK(!whole.isEmpty() && (whole.size() == 1 || whole[0] != u'0'), text);
    else
        CHECK(whole.isEmpty() || whole[0] != u'0', text);
    if (negative) { // nobody wants to see "-0.000"
        const auto nonZero = [](QStringView s) { return s.count(u'0') != s.size(); };
        CHECK(nonZero(whole) || nonZero(fraction), text);
    }
}

// The value field rounded to three decimals, half away from zero, done on
// the digits themselves. Only for plain fields ([sign] digits [point digits])
// of at most 15 significant digits, whose decimal form a double keeps exactly;
// anything else gets no expectation.
struct Rounded
{
    bool negative = false;
    std::string whole; // "0" when the whole part is 0
    std::string fraction; // three digits
};

std::optional<Rounded> roundedField(QStringView field, const QLocale& locale)
{
    bool negative = false;
    if (field.startsWith(u'-') || field.startsWith(u'+')) {
        negative = field.front() == u'-';
        field = field.sliced(1);
    }
    std::string whole;
    std::string fraction;
    std::string* part = &whole;
    for (qsizetype i = 0; i < field.size(); ++i) {
        const QChar c = field[i];
        if (isDigit(c)) {
            part->push_back(char(c.unicode()));
        } else if (part == &whole
            && (c == u'.' || field.sliced(i).startsWith(locale.decimalPoint()))) {
            part = &fraction;
            if (c != u'.')
                i += locale.decimalPoint().size() - 1;
        } else {
            return std::nullopt;
        }
    }
    if (whole.empty() && fraction.empty())
        return std::nullopt;
    std::string all = whole + fraction;
    all.erase(0, std::min(all.find_first_not_of('0'), all.size()));
    all.erase(all.find_last_not_of('0') + 1);
    if (all.size() > 15)
        return std::nullopt;

    fraction.resize(std::max<size_t>(fraction.size(), 4), '0');
    std::string digits = whole + fraction.substr(0, 3);
    if (fraction[3] >= '5') {
        size_t i = digits.size();
        while (i > 0 && digits[i - 1] == '9')
            digits[--i] = '0';
        if (i == 0)
            digits.insert(digits.begin(), '1');
        else
            ++digits[i - 1];
    }
    Rounded r;
    r.fraction = digits.substr(digits.size() - 3);
    r.whole = digits.substr(0, digits.size() - 3);
    r.whole.erase(0, std::min(r.whole.find_first_not_of('0'), r.whole.size()));
    if (r.whole.empty())
        r.whole = "0";
    r.negative = negative && (r.whole != "0" || r.fraction != "000");
    return r;
}

QString expectedPosition(const Rounded& r, const QLocale& locale)
{
    return (r.negative ? locale.negativeSign() : QString()) + QString::fromStdString(r.whole)
        + locale.decimalPoint() + QString::fromStdString(r.fraction);
}

// The reading as logged: no trailing zeros, no point without decimals. Null
// when the whole part is too long for plain digits.
QString expectedReading(const Rounded& r, const QLocale& locale)
{
    if (r.whole.size() > 15)
        return {};
    std::string fraction = r.fraction;
    fraction.erase(fraction.find_last_not_of('0') + 1);
    QString text
        = (r.negative ? locale.negativeSign() : QString()) + QString::fromStdString(r.whole);
    if (!fraction.empty())
        text += locale.decimalPoint() + QString::fromStdString(fraction);
    return text;
}

void checkPosition(double value, const QLocale& locale)
{
    CHECK(std::isfinite(value), QString::number(value));
    const QString text = numbertext::formatPosition(value, locale);
    checkFixedShape(text, locale, 3, true);
    // What the operator reads is the value to three decimals, nothing else.
    const auto back = numbertext::parseBoardDecimal(text, locale);
    CHECK(back && *back == numbertext::roundDecimal(value, 3), text);
}

void checkScale(double value, const QLocale& locale)
{
    // A scale field is a whole count of hundredths within 32 bits.
    const double hundredths = std::round(value * 100.0);
    CHECK(std::fabs(hundredths) <= 2147483648.0 && value == hundredths / 100.0,
        QString::number(value, 'g', 17));
    const long long count = static_cast<long long>(hundredths);
    const long long magnitude = std::llabs(count);
    QString expected;
    if (count < 0)
        expected += locale.negativeSign();
    if (magnitude >= 100)
        expected += QString::number(magnitude / 100);
    expected += locale.decimalPoint();
    expected += QString::number(magnitude % 100).rightJustified(2, u'0');
    const QString text = numbertext::formatScale(value, locale);
    CHECK(text == expected, text + u" != "_s + expected);

    // Sending back what the board reported must give the board the same count.
    if (value >= 3.94 && value <= 167772.15) {
        const QString argument = protocol::scaleArgument(value);
        CHECK(argument.size() == 12, argument);
        for (const QChar c : argument)
            CHECK(isDigit(c) || (c >= u'A' && c <= u'F'), argument);
        CHECK(protocol::decodeScaleField(argument.first(6)) == value, argument);
        CHECK(protocol::decodeScaleField(argument.sliced(6))
                == numbertext::roundDecimal(value / 25.4, 2),
            argument);
    }
}

// Up to four hex digits are a 16-bit count, five to eight a 32-bit one, and
// no digits or too many read as 0: a board sending "FFFF" means -0.01.
void checkScaleWidth(QStringView field, double value)
{
    int digits = 0;
    for (const QChar c : field) {
        if (c == u' ' || c == u'\t' || c == u'\n')
            continue;
        if (!isDigit(c) && !(c >= u'A' && c <= u'F') && !(c >= u'a' && c <= u'f'))
            break;
        ++digits;
    }
    const QString detail = field.toString() + u" -> "_s + QString::number(value, 'g', 17);
    if (digits == 0 || digits > 8)
        CHECK(value == 0.0, detail);
    else if (digits <= 4)
        CHECK(value >= -327.68 && value <= 327.67, detail);
}

void checkInputs(const QString& line, const std::array<bool, 6>& flags)
{
    for (int i = 0; i < 6; ++i) {
        const qsizetype position = 8 - i; // flag 0 is character 9
        const bool on = position < line.size() && line[position] == u'1';
        CHECK(flags[static_cast<size_t>(i)] == on, line);
    }
}

void checkReading(double value, const LogTextFormat& format, QDate date, QTime time)
{
    const QLocale& locale = format.locale();
    CHECK(std::isfinite(value), QString::number(value));
    CHECK(numbertext::roundDecimal(value, 3) == value, QString::number(value, 'g', 17));

    const QString text = numbertext::formatReading(value, locale);
    CHECK(!text.contains(locale.groupSeparator()), text);
    // At most 15 significant digits, and no trailing zeros after the point.
    QStringView mantissa = text;
    if (const qsizetype e = mantissa.indexOf(u'E'); e >= 0)
        mantissa = mantissa.first(e);
    int significant = 0;
    for (const QChar c : mantissa) {
        if (isDigit(c) && (significant > 0 || c != u'0'))
            ++significant;
    }
    CHECK(significant <= 15, text);
    if (mantissa.contains(locale.decimalPoint()))
        CHECK(!mantissa.endsWith(u'0'), text);
    // The logged text reads back as exactly the reading.
    const auto back = numbertext::parseEntryNumber(text, locale);
    CHECK(back && *back == value, text);

    const ReadingTexts texts { text, format.date(date), format.time(time) };
    CHECK(fitForRecord(texts.value), texts.value);
    CHECK(fitForRecord(texts.date), texts.date);
    CHECK(fitForRecord(texts.time), texts.time);

    const QString view = logViewLine(texts);
    CHECK(view.startsWith(texts.value) && view.endsWith(u"\r\n"_s), view);
    CHECK(view.count(u'\t') == 2 && view.count(u'\r') == 1 && view.count(u'\n') == 1, view);

    const QByteArray record = csvRecord(texts);
    const QString recordText = QString::fromLocal8Bit(record);
    CHECK(record.startsWith('"') && record.endsWith("\"\r\n"), recordText);
    CHECK(record.count('"') == 6 && record.count('\r') == 1 && record.count('\n') == 1, recordText);
    CHECK(recordText.contains(texts.value), recordText);
}

struct LocaleCase
{
    QLocale locale;
    LogTextFormat format;
};

void dispatch(const QString& line, const LocaleCase& lc, QDate date, QTime time)
{
    const QLocale& locale = lc.locale;
    const protocol::ReplyKind kind = protocol::replyKind(line);
    const auto reply = protocol::decodeReply(line, locale);

    // Numbers in any value field: whatever is accepted is a real number.
    const QStringView field = protocol::valueField(line);
    if (const auto n = numbertext::parseEntryNumber(field, locale))
        CHECK(std::isfinite(*n), line);
    if (const auto n = numbertext::parseBoardDecimal(field, locale))
        CHECK(std::isfinite(*n), line);

    if (!reply) {
        // Only unknown kinds, too-short lines and numbers that are no
        // numbers are dropped; a scale or inputs reply always gets through.
        CHECK(kind == protocol::ReplyKind::Other || line.size() < 4
                || ((kind == protocol::ReplyKind::Counter3 || kind == protocol::ReplyKind::Counter4
                        || kind == protocol::ReplyKind::Reading)
                    && !numbertext::parseBoardDecimal(field, locale)),
            line);
        CHECK(kind != protocol::ReplyKind::Inputs, line);
        return;
    }
    CHECK(reply->kind == kind && kind != protocol::ReplyKind::Other, line);

    switch (kind) {
    case protocol::ReplyKind::Counter3:
    case protocol::ReplyKind::Counter4:
        checkPosition(reply->value, locale);
        if (const auto r = roundedField(field, locale)) {
            const QString text = numbertext::formatPosition(reply->value, locale);
            CHECK(text == expectedPosition(*r, locale), line + u" -> "_s + text);
        }
        break;
    case protocol::ReplyKind::Scale3:
    case protocol::ReplyKind::Scale4:
        checkScale(reply->value, locale);
        checkScaleWidth(field, reply->value);
        break;
    case protocol::ReplyKind::Inputs:
        checkInputs(line, reply->inputs);
        break;
    case protocol::ReplyKind::Reading:
        checkReading(reply->value, lc.format, date, time);
        if (const auto r = roundedField(field, locale)) {
            const QString expected = expectedReading(*r, locale);
            const QString text = numbertext::formatReading(reply->value, locale);
            CHECK(expected.isNull() || text == expected, line + u" -> "_s + text);
        }
        break;
    case protocol::ReplyKind::Other:
        break;
    }
}

const LocaleCase& english()
{
    static const LocaleCase lc { QLocale(QLocale::English, QLocale::UnitedStates),
        LogTextFormat(QLocale(QLocale::English, QLocale::UnitedStates)) };
    return lc;
}

const LocaleCase& german()
{
    static const LocaleCase lc { QLocale(QLocale::German, QLocale::Germany),
        LogTextFormat(QLocale(QLocale::German, QLocale::Germany)) };
    return lc;
}

} // namespace

void fuzzReceive(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));
    const std::uint64_t seed = hashBytes(data, size);

    const Framed expected = referenceFraming(bytes);
    for (const Chunking chunking : { Chunking::Whole, Chunking::ByteByByte, Chunking::Random }) {
        const Framed got = feedInChunks(bytes, chunking, seed);
        CHECK(got.lines == expected.lines,
            u"chunking %1: %2 lines, expected %3"_s.arg(QString::number(int(chunking)),
                QString::number(got.lines.size()), QString::number(expected.lines.size())));
        CHECK(got.pending == expected.pending, got.pending);
    }

    for (const QString& line : expected.lines) {
        CHECK(!line.isEmpty(), line);
        CHECK(line.size() <= LineAssembler::MaxLineLength, line.left(40));
        CHECK(!line.contains(u'\r') && !line.contains(u'\n') && !line.contains(QChar(0)), line);
    }

    // The stamp differs from input to input, so that dates and times of every
    // shape (one- and two-digit days, hours, the AM/PM switch) are written.
    const QDate date = QDate(1990, 1, 1).addDays(static_cast<qint64>(seed % 40000));
    const QTime time = QTime::fromMSecsSinceStartOfDay(static_cast<int>((seed >> 20) % 86400000));
    for (const QString& line : expected.lines) {
        dispatch(line, english(), date, time);
        dispatch(line, german(), date, time);
    }
}

#ifndef TARVIK_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzReceive(data, size);
    return 0;
}
#endif
