// SPDX-License-Identifier: MIT
#pragma once

// What belongs to encoder 1 and what to encoder 2, in one table: the setup
// window's tab and the controls on it, the board's channel, the poll
// requests, the commands and the replies. The board session, the setup window
// and the simulated board look the row up here rather than choosing between
// two spellings of each.

#include "core/protocol.h"

#include <QStringView>
#include <array>
#include <cstddef>
#include <optional>

// The two encoders: encoder 1 counts on board channel 3, encoder 2 on 4.
enum class Encoder
{
    Channel3,
    Channel4
};

// The setup window's labels that show what the board reports: an encoder's
// position (lblCounter3, lblCounter4) and scale factor (lblScale3, lblScale4).
enum class ValueLabel
{
    None,
    Counter3,
    Counter4,
    Scale3,
    Scale4
};

struct EncoderRow
{
    Encoder encoder;
    int number; // the operator's name for it: "Encoder 1", "Encoder 2"
    int channel; // the board's counter channel
    int tab; // the setup window's tab (SSTab1's Tab) that shows it

    QStringView positionRequest; // poll requests
    QStringView scaleRequest;
    QStringView zeroCommand; // "Zero the Encoder"
    QStringView scaleCommand; // "Apply": the factor's argument follows it

    protocol::ReplyKind positionReply; // the board's answers to the requests
    protocol::ReplyKind scaleReply;
    ValueLabel positionLabel; // the labels those answers go to
    ValueLabel scaleLabel;

    // The names of the controls on its tab.
    struct Controls
    {
        QStringView scaleFrame; // "Scale Factor:"
        QStringView current; // "Current:"
        QStringView scale; // the factor the board last reported
        QStringView changeTo; // "Change to:"
        QStringView scaleBox; // the factor being entered
        QStringView positionFrame; // "Current Position:"
        QStringView position; // the position the board last reported
        QStringView zero; // "Zero the Encoder"
    };
    Controls controls;
};

// One row per encoder, in the order of Encoder; the fields in the order of
// EncoderRow: encoder, number, channel, tab; requests and commands; replies
// and their labels; the controls' names.
inline constexpr std::array<EncoderRow, 2> Encoders { {
    { Encoder::Channel3, 1, 3, 0, protocol::RequestCounter3, protocol::RequestScale3,
        protocol::CommandZero3, protocol::CommandScale3, protocol::ReplyKind::Counter3,
        protocol::ReplyKind::Scale3, ValueLabel::Counter3, ValueLabel::Scale3,
        { u"Frame1", u"Label1", u"lblScale3", u"Label2", u"txtScale3", u"Frame2", u"lblCounter3",
            u"cmdZeroCounter3" } },
    { Encoder::Channel4, 2, 4, 1, protocol::RequestCounter4, protocol::RequestScale4,
        protocol::CommandZero4, protocol::CommandScale4, protocol::ReplyKind::Counter4,
        protocol::ReplyKind::Scale4, ValueLabel::Counter4, ValueLabel::Scale4,
        { u"Frame4", u"Label5", u"lblScale4", u"Label4", u"txtScale4", u"Frame3", u"lblCounter4",
            u"cmdZeroCounter4" } },
} };

// An encoder's place in Encoders, and in anything else kept per encoder.
constexpr std::size_t encoderIndex(Encoder encoder)
{
    return static_cast<std::size_t>(encoder);
}

constexpr const EncoderRow& encoderRow(Encoder encoder)
{
    return Encoders[encoderIndex(encoder)];
}

// The tab rule: the encoder whose tab is showing; none on any other tab.
constexpr std::optional<Encoder> encoderForTab(int tab)
{
    for (const EncoderRow& row : Encoders) {
        if (row.tab == tab)
            return row.encoder;
    }
    return std::nullopt;
}

static_assert(encoderRow(Encoder::Channel3).encoder == Encoder::Channel3
        && encoderRow(Encoder::Channel4).encoder == Encoder::Channel4,
    "Encoders is indexed by Encoder");
