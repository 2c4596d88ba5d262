// SPDX-License-Identifier: MIT
#include "core/boardsession.h"

#include "core/eventlog.h"
#include "core/module1.h"
#include "core/numbertext.h"
#include "core/protocol.h"

#include <QStringList>

namespace {

// Module1 keeps the factors under the names they always had.
double& currentScale(Module1& module, Encoder encoder)
{
    return encoder == Encoder::Channel3 ? module.CurrentScale3 : module.CurrentScale4;
}

} // namespace

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
    return { Action::Send, {},
        encoderRow(encoder).scaleCommand.toString() + protocol::scaleArgument(factor) };
}

QStringView zeroCommand(Encoder encoder)
{
    return encoderRow(encoder).zeroCommand;
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
    qCDebug(lcPort).noquote() << QStringLiteral("received %1").arg(line);
    LineResult result;
    const QLocale& locale = m_module.locale();
    const std::optional<protocol::DecodedReply> reply = protocol::decodeReply(line, locale);
    if (!reply)
        return result;
    for (const EncoderRow& encoder : Encoders) {
        if (reply->kind == encoder.positionReply) {
            result.label = encoder.positionLabel;
            result.labelText = numbertext::formatPosition(reply->value, locale);
            return result;
        }
        if (reply->kind == encoder.scaleReply) {
            double& current = currentScale(m_module, encoder.encoder);
            current = reply->value;
            result.label = encoder.scaleLabel;
            result.labelText = numbertext::formatScale(current, locale);
            return result;
        }
    }
    switch (reply->kind) {
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
    default: // Other; the encoders' replies went above
        break;
    }
    return result;
}

QStringView BoardSession::pollRequest(int tab)
{
    if (const std::optional<Encoder> encoder = encoderForTab(tab)) {
        const EncoderRow& row = encoderRow(*encoder);
        m_module.PollPhase = m_module.PollPhase + 1 >= 2 ? 0 : m_module.PollPhase + 1;
        return m_module.PollPhase == 0 ? row.positionRequest : row.scaleRequest;
    }
    return tab == InputsTab ? protocol::RequestInputs : QStringView();
}

ApplyResult BoardSession::apply(const std::array<QString, 2>& entries, const SendScale& send) const
{
    ApplyResult result;
    for (const EncoderRow& row : Encoders) {
        const Encoder encoder = row.encoder;
        const ScaleCommand command = scaleCommand(encoder, entries[encoderIndex(encoder)],
            currentScale(m_module, encoder), m_module.locale());
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
