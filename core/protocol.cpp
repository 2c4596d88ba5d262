// SPDX-License-Identifier: MIT
#include "protocol.h"

#include "numbertext.h"

#include <cmath>
#include <cstdint>
#include <limits>

using namespace Qt::StringLiterals;

namespace protocol {

namespace {

// A value already on two decimals as a whole count of hundredths. Only NaN
// and values beyond 64 bits could fail here; the Apply window refuses such
// entries long before, so they are pinned rather than left undefined.
qint64 hundredths(double twoDecimals)
{
    const double scaled = std::round(twoDecimals * 100.0);
    if (std::isnan(scaled))
        return 0;
    constexpr double limit = 9.2e18;
    if (scaled >= limit)
        return std::numeric_limits<qint64>::max();
    if (scaled <= -limit)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(scaled);
}

// Upper-case hex, zero-filled to six digits when the plain text has
// `padFrom`..5 digits. A negative count goes out in 32-bit two's complement
// (eight digits), which the board's own decoding reads back as the same
// negative number.
QString scaleField(qint64 count, int padFrom)
{
    quint64 bits = static_cast<quint64>(count);
    if (count < 0 && count >= std::numeric_limits<qint32>::min())
        bits &= 0xFFFFFFFFu;
    QString text = QString::number(bits, 16).toUpper();
    if (text.size() >= padFrom && text.size() < 6)
        text.prepend(QString(6 - text.size(), u'0'));
    return text;
}

struct ReplyName
{
    QStringView text;
    ReplyKind kind;
};
constexpr std::array<ReplyName, 6> ReplyNames { { { u"<C3", ReplyKind::Counter3 },
    { u"<C4", ReplyKind::Counter4 }, { u"<S3", ReplyKind::Scale3 }, { u"<S4", ReplyKind::Scale4 },
    { u"<IN", ReplyKind::Inputs }, { u"<KS", ReplyKind::Reading } } };

unsigned hexValue(char16_t c)
{
    if (c <= u'9')
        return c - u'0';
    if (c <= u'F')
        return c - u'A' + 10;
    return c - u'a' + 10;
}

} // namespace

bool isHexDigit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'F') || (u >= u'a' && u <= u'f');
}

QByteArray commandLine(QStringView text)
{
    QByteArray line;
    line.reserve(text.size() + 2);
    line += text.toLatin1();
    line += "\r\n";
    return line;
}

QString scaleArgument(double factor)
{
    const double r = numbertext::roundDecimal(factor, 2);
    const double t = numbertext::roundDecimal(r / 25.4, 2);
    return scaleField(hundredths(r), 3) + scaleField(hundredths(t), 2);
}

ReplyKind replyKind(QStringView line)
{
    if (line.size() < 3)
        return ReplyKind::Other;
    const QStringView kind = line.first(3);
    for (const ReplyName& name : ReplyNames) {
        if (kind == name.text)
            return name.kind;
    }
    return ReplyKind::Other;
}

QStringView replyText(ReplyKind kind)
{
    for (const ReplyName& name : ReplyNames) {
        if (kind == name.kind)
            return name.text;
    }
    return {};
}

QStringView valueField(QStringView line)
{
    if (line.size() <= 4)
        return {};
    return line.sliced(3, line.size() - 4);
}

double decodeScaleField(QStringView field)
{
    quint32 bits = 0;
    int digits = 0;
    for (const QChar ch : field) {
        if (numbertext::isSkippedBlank(ch))
            continue;
        if (!isHexDigit(ch))
            break;
        // More than eight digits is no count the board sends.
        if (++digits > 8)
            return 0.0;
        bits = (bits << 4) | hexValue(ch.unicode());
    }
    if (digits == 0)
        return 0.0;
    const qint32 count
        = digits <= 4 ? static_cast<qint16>(static_cast<quint16>(bits)) : static_cast<qint32>(bits);
    return count / 100.0;
}

std::array<bool, 6> inputFlags(QStringView line)
{
    std::array<bool, 6> flags {};
    for (qsizetype i = 0; i < 6; ++i) {
        const qsizetype index = 8 - i; // [0] is position 9, [5] position 4
        flags[static_cast<size_t>(i)] = index < line.size() && line[index] == u'1';
    }
    return flags;
}

std::optional<DecodedReply> decodeReply(QStringView line, const QLocale& locale)
{
    DecodedReply reply;
    reply.kind = replyKind(line);
    switch (reply.kind) {
    case ReplyKind::Other:
        return std::nullopt;
    case ReplyKind::Inputs:
        reply.inputs = inputFlags(line);
        return reply;
    default:
        break;
    }
    if (line.size() < 4)
        return std::nullopt;
    if (reply.kind == ReplyKind::Scale3 || reply.kind == ReplyKind::Scale4) {
        reply.value = decodeScaleField(valueField(line));
        return reply;
    }
    const std::optional<double> value = numbertext::parseBoardDecimal(valueField(line), locale);
    if (!value)
        return std::nullopt;
    reply.value = reply.kind == ReplyKind::Reading ? numbertext::roundDecimal(*value, 3) : *value;
    return reply;
}

} // namespace protocol
