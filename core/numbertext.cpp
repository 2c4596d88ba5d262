// SPDX-License-Identifier: MIT
#include "numbertext.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <string>
#include <system_error>

using namespace Qt::StringLiterals;

namespace numbertext {

namespace {

// Significant digits of the decimal form every text starts from.
constexpr int SignificantDigits = 15;

// |value| as its first 15 significant digits and the power of ten of the first
// one: 12.3456 -> "123456000000000", 1. `value` must be finite and non-zero.
struct DecimalDigits
{
    std::string digits;
    int exponent = 0;
};

DecimalDigits decimalDigits(double value)
{
    // "d.dddddddddddddde+XX": one digit, the point, 14 digits, the exponent.
    char buf[48];
    const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value),
        std::chars_format::scientific, SignificantDigits - 1);
    DecimalDigits out;
    out.digits.reserve(SignificantDigits + 1);
    const char* p = buf;
    for (; p != res.ptr && *p != 'e'; ++p) {
        if (*p != '.')
            out.digits.push_back(*p);
    }
    // to_chars writes the exponent's sign always; from_chars for int accepts '-' only.
    if (p != res.ptr)
        ++p;
    bool negativeExponent = false;
    if (p != res.ptr && (*p == '+' || *p == '-')) {
        negativeExponent = *p == '-';
        ++p;
    }
    std::from_chars(p, res.ptr, out.exponent);
    if (negativeExponent)
        out.exponent = -out.exponent;
    return out;
}

// A value rounded to a fixed number of decimals, as digit strings, so that the
// display texts come from the rounded decimal digits themselves and never from a
// second binary-to-decimal conversion.
struct FixedDecimal
{
    bool negative = false; // false when every digit is 0: nobody wants to see "-0.000"
    std::string whole; // no leading zeros; empty when the whole part is 0
    std::string fraction; // exactly `decimals` digits
};

// Rounds the significant digits half up to their first `keep` ones; a carry
// past the first digit puts a 1 in front and raises the exponent.
void roundDigits(DecimalDigits& decimal, int keep)
{
    std::string& digits = decimal.digits;
    const bool up = digits[static_cast<size_t>(keep)] >= '5';
    digits.resize(static_cast<size_t>(keep));
    if (!up)
        return;
    int i = keep - 1;
    while (i >= 0 && digits[static_cast<size_t>(i)] == '9') {
        digits[static_cast<size_t>(i)] = '0';
        --i;
    }
    if (i < 0) {
        digits.insert(digits.begin(), '1');
        ++decimal.exponent;
    } else {
        ++digits[static_cast<size_t>(i)];
    }
}

FixedDecimal fixedDecimal(double value, int decimals)
{
    FixedDecimal out;
    out.fraction.assign(static_cast<size_t>(decimals), '0');
    if (value == 0.0)
        return out;

    DecimalDigits decimal = decimalDigits(value);
    // Digits to keep, counted from the first significant one, so that the last
    // kept one stands at 10^-decimals.
    const int keep = decimal.exponent + 1 + decimals;
    if (keep < 0)
        return out;
    if (keep < SignificantDigits) {
        roundDigits(decimal, keep);
        if (decimal.digits.empty())
            return out;
    }

    // Named, not structured bindings: clang before 16 cannot capture those.
    const std::string& digits = decimal.digits;
    const int exponent = decimal.exponent;
    const auto digitAt = [&](int power) {
        const int index = exponent - power;
        return index >= 0 && index < static_cast<int>(digits.size())
            ? digits[static_cast<size_t>(index)]
            : '0';
    };
    if (exponent >= 0) {
        out.whole.reserve(static_cast<size_t>(exponent) + 1);
        for (int power = exponent; power >= 0; --power)
            out.whole.push_back(digitAt(power));
    }
    for (int k = 0; k < decimals; ++k)
        out.fraction[static_cast<size_t>(k)] = digitAt(-1 - k);

    // Rounding can only leave a non-zero first digit, or nothing at all.
    out.negative = value < 0.0
        && (!out.whole.empty() || out.fraction.find_first_not_of('0') != std::string::npos);
    return out;
}

int clampDecimals(int decimals)
{
    // Beyond ~340 places every double's 15 digits are already in the text.
    return std::clamp(decimals, 0, 350);
}

QString fixedText(double value, int decimals, bool wholeDigitWhenZero, const QLocale& locale)
{
    if (!std::isfinite(value))
        return locale.toString(value);
    const FixedDecimal d = fixedDecimal(value, decimals);
    QString text;
    text.reserve(static_cast<qsizetype>(d.whole.size() + d.fraction.size()) + 4);
    if (d.negative)
        text += locale.negativeSign();
    if (!d.whole.empty())
        text += QLatin1StringView(d.whole.data(), static_cast<qsizetype>(d.whole.size()));
    else if (wholeDigitWhenZero)
        text += u'0';
    text += locale.decimalPoint();
    text += QLatin1StringView(d.fraction.data(), static_cast<qsizetype>(d.fraction.size()));
    return text;
}

// The power of ten of the first significant digit of a normalised ASCII
// number, to tell a result too small for a double from one too large.
long long powerOfFirstDigit(const char* p, const char* last)
{
    if (p != last && *p == '-')
        ++p;
    long long power = -1;
    bool seenPoint = false;
    bool significant = false;
    for (; p != last && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') {
            seenPoint = true;
        } else if (!significant && *p == '0') {
            if (seenPoint)
                --power;
        } else if (!significant) {
            significant = true;
            if (seenPoint)
                --power;
            else
                power = 0;
        } else if (!seenPoint) {
            ++power;
        }
    }
    if (p != last) {
        ++p;
        const bool negative = p != last && *p == '-';
        if (p != last && (*p == '-' || *p == '+'))
            ++p;
        long long exponent = 0;
        for (; p != last; ++p)
            exponent = std::min<long long>(exponent * 10 + (*p - '0'), INT_MAX);
        power += negative ? -exponent : exponent;
    }
    return power;
}

// Reads a normalised ASCII number ("-12.5", "2.5e-1"). A result too small for a
// double is 0; one too large is no number.
std::optional<double> toDouble(const std::string& ascii, std::chars_format format)
{
    double value = 0.0;
    const char* first = ascii.data();
    const char* last = first + ascii.size();
    const auto [ptr, ec] = std::from_chars(first, last, value, format);
    if (ec == std::errc::result_out_of_range) {
        if (powerOfFirstDigit(first, last) < 0)
            return 0.0;
        return std::nullopt;
    }
    if (ec != std::errc() || ptr != last)
        return std::nullopt;
    if (value == 0.0)
        value = 0.0; // "-0" reads as plain 0
    return value;
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QStringView trimmedBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

// Walks a number text, matching ASCII characters and locale tokens.
class Reader
{
public:
    Reader(QStringView text, const QLocale& locale)
        : m_text(text)
        , m_point(locale.decimalPoint())
        , m_minus(locale.negativeSign())
        , m_plus(locale.positiveSign())
    {
        m_ascii.reserve(static_cast<size_t>(text.size()) + 1);
    }

    bool atEnd() const { return m_pos >= m_text.size(); }

    void readSign()
    {
        if (take(u"-") || take(m_minus))
            m_ascii.push_back('-');
        else if (!take(u"+"))
            take(m_plus);
    }

    // Digits and at most one point; the count of digits read.
    int readMantissa()
    {
        int digits = readDigits();
        if (take(u".") || take(m_point)) {
            m_ascii.push_back('.');
            digits += readDigits();
        }
        return digits;
    }

    // An exponent if a complete one starts here; otherwise nothing is taken.
    void readExponentIfComplete()
    {
        const qsizetype pos = m_pos;
        const size_t ascii = m_ascii.size();
        if (!readExponent()) {
            m_pos = pos;
            m_ascii.resize(ascii);
        }
    }

    // An exponent if one starts here; false when it starts but has no digits.
    bool readExponent()
    {
        if (atEnd() || (m_text[m_pos] != u'e' && m_text[m_pos] != u'E'))
            return true;
        ++m_pos;
        m_ascii.push_back('e');
        if (take(u"-") || take(m_minus))
            m_ascii.push_back('-');
        else if (!take(u"+"))
            take(m_plus);
        return readDigits() > 0;
    }

    const std::string& ascii() const { return m_ascii; }

private:
    bool take(QStringView token)
    {
        if (token.isEmpty() || !m_text.sliced(m_pos).startsWith(token))
            return false;
        m_pos += token.size();
        return true;
    }

    int readDigits()
    {
        int count = 0;
        while (!atEnd() && m_text[m_pos] >= u'0' && m_text[m_pos] <= u'9') {
            m_ascii.push_back(static_cast<char>(m_text[m_pos].unicode()));
            ++m_pos;
            ++count;
        }
        return count;
    }

    QStringView m_text;
    qsizetype m_pos = 0;
    QString m_point;
    QString m_minus;
    QString m_plus;
    std::string m_ascii;
};

} // namespace

double roundDecimal(double value, int decimals)
{
    if (!std::isfinite(value))
        return value;
    const FixedDecimal d = fixedDecimal(value, clampDecimals(decimals));
    std::string ascii;
    ascii.reserve(d.whole.size() + d.fraction.size() + 3);
    if (d.negative)
        ascii.push_back('-');
    ascii += d.whole.empty() ? std::string("0") : d.whole;
    if (!d.fraction.empty()) {
        ascii.push_back('.');
        ascii += d.fraction;
    }
    return toDouble(ascii, std::chars_format::fixed).value_or(value);
}

QString formatPosition(double value, const QLocale& locale)
{
    return fixedText(value, 3, true, locale);
}

QString formatScale(double value, const QLocale& locale)
{
    return fixedText(value, 2, false, locale);
}

namespace {

QLatin1StringView latin1(const std::string& s, size_t from, size_t count = std::string::npos)
{
    const size_t n = std::min(count, s.size() - std::min(from, s.size()));
    return QLatin1StringView(s.data() + from, static_cast<qsizetype>(n));
}

// Too long for plain digits: exponent form, two exponent digits at least:
// 1E+15, -2.5E-05.
void appendExponentForm(
    QString& text, const std::string& digits, int exponent, const QLocale& locale)
{
    text += latin1(digits, 0, 1);
    if (digits.size() > 1) {
        text += locale.decimalPoint();
        text += latin1(digits, 1);
    }
    text += exponent < 0 ? u"E-"_s : u"E+"_s;
    const int magnitude = std::abs(exponent);
    if (magnitude < 10)
        text += u'0';
    text += QString::number(magnitude);
}

void appendPlainForm(QString& text, const std::string& digits, int exponent, const QLocale& locale)
{
    if (exponent >= 0) {
        const auto wholeDigits = static_cast<size_t>(exponent) + 1;
        text += latin1(digits, 0, wholeDigits);
        for (size_t k = digits.size(); k < wholeDigits; ++k)
            text += u'0';
        if (digits.size() > wholeDigits) {
            text += locale.decimalPoint();
            text += latin1(digits, wholeDigits);
        }
    } else {
        text += u'0';
        text += locale.decimalPoint();
        for (int k = -1; k > exponent; --k)
            text += u'0';
        text += latin1(digits, 0);
    }
}

} // namespace

QString formatReading(double value, const QLocale& locale)
{
    if (!std::isfinite(value))
        return locale.toString(value);
    if (value == 0.0)
        return u"0"_s;

    DecimalDigits decimal = decimalDigits(value);
    decimal.digits.erase(decimal.digits.find_last_not_of('0') + 1);
    QString text;
    text.reserve(SignificantDigits + 24);
    if (value < 0.0)
        text += locale.negativeSign();
    if (decimal.exponent >= SignificantDigits || decimal.exponent < -4)
        appendExponentForm(text, decimal.digits, decimal.exponent, locale);
    else
        appendPlainForm(text, decimal.digits, decimal.exponent, locale);
    return text;
}

std::optional<double> parseBoardDecimal(QStringView field, const QLocale& locale)
{
    // The closing character is not part of the field, but firmware may pad the
    // number with blanks; they carry no meaning.
    field = trimmedBlanks(field);
    Reader reader(field, locale);
    reader.readSign();
    if (reader.readMantissa() == 0 || !reader.atEnd())
        return std::nullopt;
    return toDouble(reader.ascii(), std::chars_format::fixed);
}

bool isSkippedBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

std::optional<double> parseLeadingNumber(QStringView text)
{
    QString kept;
    kept.reserve(text.size());
    for (const QChar c : text) {
        if (!isSkippedBlank(c))
            kept += c;
    }
    Reader reader(kept, QLocale::c());
    reader.readSign();
    if (reader.readMantissa() == 0)
        return 0.0;
    reader.readExponentIfComplete();
    return toDouble(reader.ascii(), std::chars_format::general);
}

std::optional<double> parseEntryNumber(QStringView text, const QLocale& locale)
{
    text = trimmedBlanks(text);
    Reader reader(text, locale);
    reader.readSign();
    if (reader.readMantissa() == 0 || !reader.readExponent() || !reader.atEnd())
        return std::nullopt;
    return toDouble(reader.ascii(), std::chars_format::general);
}

} // namespace numbertext
