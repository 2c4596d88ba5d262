// SPDX-License-Identifier: MIT
#pragma once

// What the simulated encoder board knows and how it answers: one received line
// in, reply lines and operator notes out. No I/O and no clock of its own; the
// caller passes the seconds since the board started so motion stays
// deterministic and testable.

#include "core/encoders.h"
#include "core/protocol.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <array>
#include <optional>

class BoardModel
{
public:
    enum class Motion
    {
        Still,
        Drift
    };
    enum class LineEnd
    {
        CrLf,
        LfCr,
        Cr
    };

    // Drift speeds in mm per second, by encoder; encoder 2 runs at twice
    // encoder 1's speed so the two are easy to tell apart on the setup window.
    static constexpr std::array<double, 2> DriftSpeed { 0.125, 0.25 };
    // Hundredths; 2540.12 is what the board reports after power-up.
    static constexpr qint32 InitialScaleHundredths = 254012;

    struct Options
    {
        Motion motion = Motion::Drift;
        LineEnd lineEnd = LineEnd::CrLf;
        char closing = '*';
        // Indexed by input number - 1: [0] "A. Accept" (wire position 9) ...
        // [5] "Aux 2" (wire position 4).
        std::array<bool, 6> inputs {};
    };

    struct Outcome
    {
        QList<QByteArray> replies; // complete wire lines, line end included
        QStringList notes; // for the operator at the board's terminal
        bool known = true; // false for a line the board does not know
    };

    explicit BoardModel(const Options& options);

    Outcome handleLine(QStringView line, double seconds);

    // An encoder's position in mm.
    double position(Encoder encoder, double seconds) const;
    qint32 scaleHundredths(Encoder encoder) const;
    const std::array<bool, 6>& inputs() const { return m_inputs; }
    void toggleInput(int number); // 1..6

    // "<KS" line carrying `value`, as the board sends it on its own.
    QByteArray readingLine(double value) const;

    // One line per encoder and one for the inputs, for the terminal.
    QStringList stateText(double seconds) const;

    // The six flag characters of an "<IN" reply, wire position 4 first.
    QString inputFlagText() const;

    // Splits a SCALE3=/SCALE4= argument into fields A and B by the lengths
    // that factors from 0 to 42,949,672.95 are encoded in (A: 1, 2 or 6 to 8
    // digits; B: 1 or 6 to 7 digits). Nothing for any other length, such as a
    // negative factor's sixteen digits, or for a non-hex character.
    struct ScaleFields
    {
        QStringView a;
        QStringView b;
    };
    static std::optional<ScaleFields> splitScaleArgument(QStringView argument);

    static QString inputName(int number); // 1..6

private:
    bool handleEncoderLine(
        const EncoderRow& encoder, QStringView line, double seconds, Outcome& outcome);
    QByteArray valueReply(protocol::ReplyKind kind, const QString& value) const;
    double rawPosition(Encoder encoder, double seconds) const;
    void applyScale(const EncoderRow& encoder, QStringView argument, Outcome& outcome);

    Options m_options;
    // By encoder, as DriftSpeed.
    std::array<double, 2> m_zeroOffset {};
    std::array<qint32, 2> m_scale { InitialScaleHundredths, InitialScaleHundredths };
    std::array<bool, 6> m_inputs {};
};
