// SPDX-License-Identifier: MIT
#include "boardmodel.h"

#include "core/numbertext.h"
#include "core/protocol.h"

#include <QLocale>
#include <cmath>
#include <cstdint>

using namespace Qt::StringLiterals;

namespace {

// The board's firmware writes "." whatever locale the PC runs in.
const QLocale& wireLocale()
{
    static const QLocale c = QLocale::c();
    return c;
}

// "encoder 1 (channel 3)", as the operator at the board's terminal reads it.
QString encoderName(const EncoderRow& encoder)
{
    return u"encoder %1 (channel %2)"_s.arg(
        QString::number(encoder.number), QString::number(encoder.channel));
}

// Hundredths as the operator reads them, without going through a double.
QString hundredthsText(qint64 hundredths)
{
    const QString sign = hundredths < 0 ? u"-"_s : QString();
    const qint64 magnitude = hundredths < 0 ? -hundredths : hundredths;
    return sign + QString::number(magnitude / 100) + u'.'
        + QString::number(magnitude % 100).rightJustified(2, u'0');
}

// The board keeps its factor as a 32-bit count of hundredths and reports it in
// at least six upper-case hex digits; negative counts come out as eight digits
// of two's complement.
QString scaleHex(qint32 hundredths)
{
    return QString::number(static_cast<std::uint32_t>(hundredths), 16)
        .toUpper()
        .rightJustified(6, u'0');
}

} // namespace

BoardModel::BoardModel(const Options& options)
    : m_options(options)
    , m_inputs(options.inputs)
{ }

BoardModel::Outcome BoardModel::handleLine(QStringView line, double seconds)
{
    Outcome outcome;
    for (const EncoderRow& encoder : Encoders) {
        if (handleEncoderLine(encoder, line, seconds, outcome))
            return outcome;
    }
    if (line == protocol::RequestInputs) {
        outcome.replies.append(valueReply(protocol::ReplyKind::Inputs, inputFlagText()));
    } else if (line == protocol::CommandGoodPart) {
        outcome.notes.append(u"part verdict: GOOD (MESS=1)"_s);
    } else if (line == protocol::CommandBadPart) {
        outcome.notes.append(u"part verdict: BAD (MESS=0)"_s);
    } else {
        outcome.known = false;
    }
    return outcome;
}

// A request or command for one encoder; false for any other line.
bool BoardModel::handleEncoderLine(
    const EncoderRow& encoder, QStringView line, double seconds, Outcome& outcome)
{
    const std::size_t index = encoderIndex(encoder.encoder);
    if (line == encoder.positionRequest) {
        outcome.replies.append(valueReply(encoder.positionReply,
            numbertext::formatPosition(position(encoder.encoder, seconds), wireLocale())));
    } else if (line == encoder.scaleRequest) {
        outcome.replies.append(valueReply(encoder.scaleReply, scaleHex(m_scale[index])));
    } else if (line == encoder.zeroCommand) {
        m_zeroOffset[index] = rawPosition(encoder.encoder, seconds);
        outcome.notes.append(encoderName(encoder) + u" zeroed"_s);
    } else if (line.startsWith(encoder.scaleCommand)) {
        applyScale(encoder, line.mid(encoder.scaleCommand.size()), outcome);
    } else {
        return false;
    }
    return true;
}

double BoardModel::rawPosition(Encoder encoder, double seconds) const
{
    if (m_options.motion == Motion::Still)
        return 0.0;
    return DriftSpeed[encoderIndex(encoder)] * seconds;
}

double BoardModel::position(Encoder encoder, double seconds) const
{
    return rawPosition(encoder, seconds) - m_zeroOffset[encoderIndex(encoder)];
}

qint32 BoardModel::scaleHundredths(Encoder encoder) const
{
    return m_scale[encoderIndex(encoder)];
}

void BoardModel::toggleInput(int number)
{
    if (number >= 1 && number <= 6)
        m_inputs[number - 1] = !m_inputs[number - 1];
}

QString BoardModel::inputName(int number)
{
    static const std::array<QString, 6> names { u"A. Accept"_s, u"B. Accept"_s, u"End of Board"_s,
        u"Zero"_s, u"Aux 1"_s, u"Aux 2"_s };
    return number >= 1 && number <= 6 ? names[number - 1] : QString();
}

QString BoardModel::inputFlagText() const
{
    QString flags;
    for (int number = 6; number >= 1; --number)
        flags.append(m_inputs[number - 1] ? u'1' : u'0');
    return flags;
}

QByteArray BoardModel::readingLine(double value) const
{
    return valueReply(
        protocol::ReplyKind::Reading, numbertext::formatPosition(value, wireLocale()));
}

QByteArray BoardModel::valueReply(protocol::ReplyKind kind, const QString& value) const
{
    QByteArray line = protocol::replyText(kind).toLatin1() + value.toLatin1();
    line.append(m_options.closing);
    switch (m_options.lineEnd) {
    case LineEnd::CrLf:
        line.append("\r\n");
        break;
    case LineEnd::LfCr:
        line.append("\n\r");
        break;
    case LineEnd::Cr:
        line.append('\r');
        break;
    }
    return line;
}

std::optional<BoardModel::ScaleFields> BoardModel::splitScaleArgument(QStringView argument)
{
    for (QChar c : argument) {
        if (!protocol::isHexDigit(c))
            return std::nullopt;
    }
    // Field A is filled to six digits from three digits up and field B from
    // two, so only these lengths occur: 1+1, 2+1, 6+1, 6..8+6 and 8+7. Field
    // B reaches seven digits only when field A already has eight.
    const qsizetype length = argument.size();
    qsizetype lengthB = 0;
    if (length == 2 || length == 3 || length == 7)
        lengthB = 1;
    else if (length >= 12 && length <= 14)
        lengthB = 6;
    else if (length == 15)
        lengthB = 7;
    else
        return std::nullopt;
    return ScaleFields { argument.first(length - lengthB), argument.last(lengthB) };
}

void BoardModel::applyScale(const EncoderRow& encoder, QStringView argument, Outcome& outcome)
{
    const QString command = u"%1%2"_s.arg(encoder.scaleCommand, argument);
    const auto fields = splitScaleArgument(argument);
    if (!fields) {
        outcome.notes.append(
            u"%1 ignored: the argument is not a field A and a field B of hex digits"_s.arg(
                command));
        return;
    }
    const double factor = protocol::decodeScaleField(fields->a);
    const qint64 hundredths = std::llround(factor * 100.0);
    m_scale[encoderIndex(encoder.encoder)] = static_cast<qint32>(hundredths);
    outcome.notes.append(u"%1 scale factor set to %2 by %3"_s.arg(
        encoderName(encoder), hundredthsText(hundredths), command));

    // The program derives field B from the same factor; a different field B
    // means it rounded or encoded the factor / 25.4 wrongly.
    const QString expected = protocol::scaleArgument(factor);
    if (expected != argument) {
        const auto expectedFields = splitScaleArgument(expected);
        const QString expectedB = expectedFields ? expectedFields->b.toString() : QString();
        outcome.notes.append(
            u"SCALE%1 mismatch: argument %2 should be %3 for factor %4 (field B %5, expected %6)"_s
                .arg(QString::number(encoder.channel), argument, expected,
                    hundredthsText(hundredths), fields->b.toString(), expectedB));
    }
}

QStringList BoardModel::stateText(double seconds) const
{
    QStringList lines;
    for (const EncoderRow& encoder : Encoders) {
        const qint32 scale = scaleHundredths(encoder.encoder);
        lines.append(u"%1: position %2 mm, scale factor %3 (%4)"_s.arg(encoderName(encoder),
            numbertext::formatPosition(position(encoder.encoder, seconds), wireLocale()),
            hundredthsText(scale), scaleHex(scale)));
    }
    QStringList active;
    for (int number = 1; number <= 6; ++number) {
        if (m_inputs[number - 1])
            active.append(u"%1 %2"_s.arg(QString::number(number), inputName(number)));
    }
    lines.append(u"inputs %1 (Aux 2 .. A. Accept); active: %2"_s.arg(
        inputFlagText(), active.isEmpty() ? u"none"_s : active.join(u", "_s)));
    return lines;
}
