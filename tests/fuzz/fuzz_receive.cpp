// SPDX-License-Identifier: MIT
// Whatever a board (or a line full of noise) sends must never crash the
// receive path, and whatever gets through it must still look like what the
// operator and the log file expect. The input is the raw byte stream; it goes
// through the program's own BoardSession, as the setup window feeds it: whole,
// one byte at a time (as the old receive timer did) and in chunks chosen from
// the input itself. Every feeding must give the same lines, the same changes
// and the same log, and every well-formed reading in the input must reach the
// log once, in order.

#include "core/boardsession.h"
#include "core/lineassembler.h"
#include "core/logtext.h"
#include "core/module1.h"
#include "core/numbertext.h"
#include "core/protocol.h"
#include "support/recordinglog.h"
#include "fuzztargets.h"

#include <QDate>
#include <QLocale>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTime>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

#define CHECK(cond, detail) FUZZ_CHECK("fuzz_receive", cond, detail)

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

// What one run of the session gave: every line with its changes, the log,
// and the state left behind.
struct Outcome
{
    QList<BoardSession::ReceivedLine> received;
    QStringList logViewLines;
    int logRecords = 0;
    QString pending;
    double scale3 = 0.0;
    double scale4 = 0.0;
};

Outcome runSession(
    QByteArrayView bytes, const QLocale& locale, Chunking chunking, std::uint64_t seed)
{
    RecordingLog log;
    Module1 module(u"/nonexistent"_s, locale);
    module.readingLog = &log;
    BoardSession session(module);
    Outcome out;
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
        out.received += session.receive(bytes.sliced(at, n));
        at += n;
        // However long the board goes on without a line end, the buffer stays bounded.
        CHECK(module.RxBuffer.pending().size() <= LineAssembler::MaxLineLength,
            u"pending too long"_s);
    }
    out.logViewLines = log.viewLines;
    out.logRecords = log.records;
    out.pending = module.RxBuffer.pending();
    out.scale3 = module.CurrentScale3;
    out.scale4 = module.CurrentScale4;
    if (!out.received.isEmpty())
        CHECK(module.RxLine == out.received.constLast().line, module.RxLine);

    // After clear() nothing of the old stream may leak into the next line,
    // not even a discard still under way.
    module.RxBuffer.clear();
    const auto after = session.receive("X\r");
    CHECK(after.size() == 1 && after[0].line == u"X"_s, module.RxLine);
    return out;
}

bool sameOutcome(const Outcome& a, const Outcome& b)
{
    if (a.received.size() != b.received.size() || a.logViewLines.size() != b.logViewLines.size()
        || a.logRecords != b.logRecords || a.pending != b.pending || a.scale3 != b.scale3
        || a.scale4 != b.scale4)
        return false;
    for (qsizetype i = 0; i < a.received.size(); ++i) {
        const auto& x = a.received[i];
        const auto& y = b.received[i];
        if (x.line != y.line || x.result.label != y.result.label
            || x.result.labelText != y.result.labelText || x.result.inputs != y.result.inputs
            || x.result.reading != y.result.reading)
            return false;
    }
    // The view lines carry the clock, which may tick between runs: compare
    // the reading texts only.
    for (qsizetype i = 0; i < a.logViewLines.size(); ++i) {
        if (a.logViewLines[i].section(u'\t', 0, 0) != b.logViewLines[i].section(u'\t', 0, 0))
            return false;
    }
    return true;
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

// The reading lines in the input that no framing rule can spoil: each starts
// the input or follows a CR (LFs after it are dropped), holds no LF, NUL or
// high byte, and is "<KS", a plain decimal number short enough to be read
// exactly, one closing character, then CR.
QStringList wellFormedReadings(QByteArrayView bytes)
{
    static const QRegularExpression reading(uR"(^<KS-?\d{1,9}(\.\d{1,6})?[!-~]$)"_s);
    QStringList found;
    qsizetype start = 0;
    bool lineStart = true;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char b = bytes[i];
        if (b == '\r') {
            if (lineStart) {
                const QString line = QString::fromLatin1(bytes.sliced(start, i - start));
                if (reading.match(line).hasMatch())
                    found.append(line);
            }
            lineStart = true;
            start = i + 1;
        } else if (b == '\n' && start == i && lineStart) {
            start = i + 1; // LFs right after a line end are dropped
        } else if (b == '\n' || b == '\0' || static_cast<unsigned char>(b) >= 0x80) {
            lineStart = false; // this line is not plain; the next CR starts afresh
        }
    }
    return found;
}

struct LocaleCase
{
    QLocale locale;
    LogTextFormat format;
};

void checkOutcome(
    const Outcome& out, QByteArrayView bytes, const LocaleCase& lc, QDate date, QTime time)
{
    const QLocale& locale = lc.locale;
    QStringList loggedTexts;
    std::optional<QString> lastScale3;
    std::optional<QString> lastScale4;
    for (const BoardSession::ReceivedLine& r : out.received) {
        const QString& line = r.line;
        CHECK(!line.isEmpty(), line);
        CHECK(line.size() <= LineAssembler::MaxLineLength, line.left(40));
        CHECK(!line.contains(u'\r') && !line.contains(u'\n') && !line.contains(QChar(0)), line);

        const QStringView kind = QStringView(line).first(std::min<qsizetype>(3, line.size()));
        const QStringView field
            = line.size() > 4 ? QStringView(line).sliced(3, line.size() - 4) : QStringView();
        const BoardSession::LineResult& result = r.result;
        const bool counter = kind == u"<C3" || kind == u"<C4";
        const bool scale = kind == u"<S3" || kind == u"<S4";
        const bool inputs = kind == u"<IN";
        const bool reading = kind == u"<KS";

        // Each kind changes only what is its own.
        CHECK(result.inputs.has_value() == inputs, line);
        CHECK(!result.reading || reading, line);
        CHECK(result.label == BoardSession::Label::None || counter || scale, line);
        if (scale)
            CHECK(result.label != BoardSession::Label::None || line.size() < 4, line);

        if (counter && result.label != BoardSession::Label::None) {
            CHECK(result.label
                    == (kind == u"<C3" ? BoardSession::Label::Counter3
                                       : BoardSession::Label::Counter4),
                line);
            checkFixedShape(result.labelText, locale, 3, true);
            const auto shown = numbertext::parseBoardDecimal(result.labelText, locale);
            CHECK(shown.has_value(), result.labelText);
            checkPosition(*shown, locale);
            if (const auto rounded = roundedField(field, locale))
                CHECK(result.labelText == expectedPosition(*rounded, locale),
                    line + u" -> "_s + result.labelText);
        }
        if (scale && result.label != BoardSession::Label::None) {
            const bool three = kind == u"<S3";
            CHECK(
                result.label == (three ? BoardSession::Label::Scale3 : BoardSession::Label::Scale4),
                line);
            checkFixedShape(result.labelText, locale, 2, false);
            const auto value = numbertext::parseBoardDecimal(result.labelText, locale);
            CHECK(value.has_value(), result.labelText);
            checkScale(*value, locale);
            checkScaleWidth(field, *value);
            (three ? lastScale3 : lastScale4) = result.labelText;
        }
        if (inputs)
            checkInputs(line, *result.inputs);
        if (result.reading) {
            checkReading(*result.reading, lc.format, date, time);
            loggedTexts.append(numbertext::formatReading(*result.reading, locale));
            if (const auto rounded = roundedField(field, locale)) {
                const QString expected = expectedReading(*rounded, locale);
                CHECK(expected.isNull() || loggedTexts.constLast() == expected,
                    line + u" -> "_s + loggedTexts.constLast());
            }
        }
    }

    // The scale factors kept for Apply are the ones last shown.
    const QString none = locale.decimalPoint() + u"00"_s;
    CHECK(numbertext::formatScale(out.scale3, locale) == lastScale3.value_or(none),
        QString::number(out.scale3));
    CHECK(numbertext::formatScale(out.scale4, locale) == lastScale4.value_or(none),
        QString::number(out.scale4));

    // Every reading the session reports went to the log exactly once, in
    // order: one view line and one record each.
    CHECK(out.logRecords == loggedTexts.size(),
        u"%1 records for %2 readings"_s.arg(QString::number(out.logRecords), QString::number(loggedTexts.size())));
    CHECK(out.logViewLines.size() == loggedTexts.size(),
        u"%1 view lines for %2 readings"_s.arg(QString::number(out.logViewLines.size()), QString::number(loggedTexts.size())));
    for (qsizetype i = 0; i < loggedTexts.size(); ++i) {
        const QString& view = out.logViewLines[i];
        CHECK(view.section(u'\t', 0, 0) == loggedTexts[i], view);
        CHECK(view.count(u'\t') == 2 && view.endsWith(u"\r\n"_s), view);
    }

    // Every well-formed reading in the input is among them, in order.
    const QStringList expected = wellFormedReadings(bytes);
    qsizetype next = 0;
    for (const BoardSession::ReceivedLine& r : out.received) {
        if (next < expected.size() && r.line == expected[next]) {
            CHECK(r.result.reading.has_value(), r.line + u": not logged"_s);
            ++next;
        }
    }
    CHECK(next == expected.size(),
        u"reading %1 of %2 never logged: %3"_s.arg(QString::number(next + 1),
            QString::number(expected.size()), next < expected.size() ? expected[next] : QString()));
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

    // The stamp differs from input to input, so that dates and times of every
    // shape (one- and two-digit days, hours, the AM/PM switch) are written.
    const QDate date = QDate(1990, 1, 1).addDays(static_cast<qint64>(seed % 40000));
    const QTime time = QTime::fromMSecsSinceStartOfDay(static_cast<int>((seed >> 20) % 86400000));

    for (const LocaleCase* lc : { &english(), &german() }) {
        const Outcome whole = runSession(bytes, lc->locale, Chunking::Whole, seed);
        for (const Chunking chunking : { Chunking::ByteByByte, Chunking::Random }) {
            const Outcome got = runSession(bytes, lc->locale, chunking, seed);
            CHECK(sameOutcome(got, whole),
                u"chunking %1: %2 lines, whole: %3"_s.arg(QString::number(int(chunking)),
                    QString::number(got.received.size()), QString::number(whole.received.size())));
        }
        checkOutcome(whole, bytes, *lc, date, time);
    }
}

#ifndef TARVIK_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzReceive(data, size);
    return 0;
}
#endif
