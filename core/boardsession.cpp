// SPDX-License-Identifier: MIT
#include "core/boardsession.h"

#include "core/module1.h"
#include "core/numbertext.h"
#include "core/protocol.h"

#include <QStringList>

std::optional<Encoder> encoderForTab(int tab)
{
    switch (tab) {
    case 0:
        return Encoder::Channel3;
    case 1:
        return Encoder::Channel4;
    default:
        return std::nullopt;
    }
}

bool keypadMayTypePoint(QStringView boxText)
{
    return !boxText.contains(u'.');
}

ScaleCommand scaleCommand(Encoder encoder, QStringView entry, double current, const QLocale& locale)
{
    using Action = ScaleCommand::Action;
    if (entry.isEmpty())
        return {};
    const std::optional<double> value = numbertext::parseEntryNumber(entry, locale);
    if (!value)
        return { Action::Refuse, InvalidNumberMessage.toString(), {} };
    const double factor = numbertext::roundDecimal(*value, 2);
    if (factor == current)
        return {};
    if (!(factor >= MinScale && factor <= MaxScale))
        return { Action::Refuse, ScaleRangeMessage.toString(), {} };
    const QStringView command
        = encoder == Encoder::Channel3 ? protocol::CommandScale3 : protocol::CommandScale4;
    return { Action::Send, {}, command.toString() + protocol::scaleArgument(factor) };
}

QStringView zeroCommand(Encoder encoder)
{
    return encoder == Encoder::Channel3 ? protocol::CommandZero3 : protocol::CommandZero4;
}

QStringView verdictCommand(bool goodPart)
{
    return goodPart ? protocol::CommandGoodPart : protocol::CommandBadPart;
}

DialogSteps dialogSteps(DialogButton button, bool applyPending)
{
    return { button == DialogButton::OK && applyPending, true };
}

BoardSession::BoardSession(Module1& module)
    : m_module(module)
{ }

QList<BoardSession::ReceivedLine> BoardSession::receive(QByteArrayView bytes)
{
    QStringList lines;
    m_module.RxBuffer.feed(bytes, lines);
    QList<ReceivedLine> received;
    received.reserve(lines.size());
    for (QString& line : lines) {
        LineResult result = onLine(line);
        received.append({ std::move(line), std::move(result) });
    }
    return received;
}

BoardSession::LineResult BoardSession::onLine(const QString& line)
{
    m_module.RxLine = line;
    LineResult result;
    const QLocale& locale = m_module.locale();
    const std::optional<protocol::DecodedReply> reply = protocol::decodeReply(line, locale);
    if (!reply)
        return result;
    switch (reply->kind) {
    case protocol::ReplyKind::Counter3:
    case protocol::ReplyKind::Counter4:
        result.label
            = reply->kind == protocol::ReplyKind::Counter3 ? Label::Counter3 : Label::Counter4;
        result.labelText = numbertext::formatPosition(reply->value, locale);
        break;
    case protocol::ReplyKind::Scale3:
    case protocol::ReplyKind::Scale4: {
        const bool three = reply->kind == protocol::ReplyKind::Scale3;
        double& current = three ? m_module.CurrentScale3 : m_module.CurrentScale4;
        current = reply->value;
        result.label = three ? Label::Scale3 : Label::Scale4;
        result.labelText = numbertext::formatScale(current, locale);
        break;
    }
    case protocol::ReplyKind::Inputs:
        result.inputs = reply->inputs;
        break;
    case protocol::ReplyKind::Reading:
        // Any message about the log file is queued by the log itself; the
        // receive pass is never held up by a modal box.
        m_module.CurrentReading = reply->value;
        m_module.LogReading();
        result.reading = reply->value;
        break;
    case protocol::ReplyKind::Other:
        break;
    }
    return result;
}

QStringView BoardSession::pollRequest(int tab)
{
    const auto nextEncoderRequest = [this](QStringView counter, QStringView scale) {
        m_module.PollPhase = m_module.PollPhase + 1 >= 2 ? 0 : m_module.PollPhase + 1;
        return m_module.PollPhase == 0 ? counter : scale;
    };
    switch (tab) {
    case 0:
        return nextEncoderRequest(protocol::RequestCounter3, protocol::RequestScale3);
    case 1:
        return nextEncoderRequest(protocol::RequestCounter4, protocol::RequestScale4);
    case 2:
        return protocol::RequestInputs;
    default:
        return {};
    }
}

ApplyResult BoardSession::apply(const std::array<QString, 2>& entries, const SendScale& send) const
{
    ApplyResult result;
    for (const Encoder encoder : { Encoder::Channel3, Encoder::Channel4 }) {
        const bool three = encoder == Encoder::Channel3;
        const ScaleCommand command = scaleCommand(encoder, entries[three ? 0 : 1],
            three ? m_module.CurrentScale3 : m_module.CurrentScale4, m_module.locale());
        switch (command.action) {
        case ScaleCommand::Action::Skip:
            break;
        case ScaleCommand::Action::Refuse:
            return { ApplyEnd::Refused, command.message };
        case ScaleCommand::Action::Send:
            // A port that has gone away keeps the entry pending for another Apply.
            if (!send(encoder, command.line))
                result.end = ApplyEnd::KeptPending;
            break;
        }
    }
    return result;
}
