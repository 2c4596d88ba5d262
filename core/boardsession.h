// SPDX-License-Identifier: MIT
#pragma once

// The decisions of the board conversation, apart from any window, timer or
// port: what a reply line changes, which request a poll tick sends, and what
// "Apply", the command buttons and the dialog buttons do. The setup window's
// handlers ask here and show the answer; the unit tests and the receive
// fuzzer drive the same code without a display.

#include "core/encoders.h"

#include <QByteArrayView>
#include <QList>
#include <QLocale>
#include <QString>
#include <QStringView>
#include <array>
#include <functional>
#include <optional>

class Module1;

// The setup window's third tab, "Inputs / Outputs"; the encoders' tabs are
// in the Encoders table (core/encoders.h), with encoderForTab().
inline constexpr int InputsTab = 2;

// The keypad's point button types a point only into a box that has none yet.
bool keypadMayTypePoint(QStringView boxText);

inline constexpr QStringView InvalidNumberMessage = u"Please enter a valid number.";
inline constexpr QStringView ScaleRangeMessage
    = u"Please enter a scale factor from 3.94 to 167772.15.";

// Outside this range the board's two six-digit fields cannot carry a factor.
inline constexpr double MinScale = 3.94;
inline constexpr double MaxScale = 167772.15;

// What "Apply" does with one encoder's entry.
struct ScaleCommand
{
    enum class Action
    {
        Skip, // empty, or equal to the factor the board last reported
        Refuse, // not a number or out of range: `message` to the operator
        Send // `line` (without CR LF) to the board
    };
    Action action = Action::Skip;
    QString message;
    QString line;
};

// The entry is read as a number (blanks, sign, one point, exponent; the
// locale's separator counts as the point), rounded to two decimals, compared
// with `current` as a number, checked against MinScale..MaxScale and encoded.
ScaleCommand scaleCommand(
    Encoder encoder, QStringView entry, double current, const QLocale& locale);

// The line "Zero the Encoder" sends for an encoder.
QStringView zeroCommand(Encoder encoder);

// The line a part verdict button sends.
QStringView verdictCommand(bool goodPart);

// What a dialog button does, given whether "Apply" is enabled (entries
// pending): "OK" applies pending entries, then hides the window whatever
// Apply said; "Cancel" only hides. Neither closes the port or sends anything
// else.
struct DialogSteps
{
    bool apply = false;
    bool hide = true;
};
enum class DialogButton
{
    OK,
    Cancel
};
DialogSteps dialogSteps(DialogButton button, bool applyPending);

// How an Apply ended, and so what becomes of polling and the pending flag.
enum class ApplyEnd
{
    Completed, // polling on again, "Apply" disabled
    KeptPending, // a command could not be written: polling on, "Apply" stays on
    Refused // `message` shown; polling stays off, "Apply" stays on
};
struct ApplyResult
{
    ApplyEnd end = ApplyEnd::Completed;
    QString message;
};

// The conversation with the board over the run's Module1 state (RxBuffer,
// RxLine, PollPhase, CurrentScale3/4, CurrentReading).
class BoardSession
{
public:
    // Which label a reply line gives a new text.
    using Label = ValueLabel;

    // What one reply line changed. A scale reply has already stored its
    // factor and a reading reply has already been handed to the log.
    struct LineResult
    {
        Label label = Label::None;
        QString labelText;
        // Inputs reply: [0] is Shape1 ("A. Accept") ... [5] Shape6 ("Aux 2").
        std::optional<std::array<bool, 6>> inputs;
        std::optional<double> reading;
    };

    struct ReceivedLine
    {
        QString line;
        LineResult result;
    };

    explicit BoardSession(Module1& module);

    // Bytes from the port, in whatever chunks it hands them: every line they
    // complete, in order, with what it changed.
    QList<ReceivedLine> receive(QByteArrayView bytes);

    // One complete, non-empty reply line: it becomes RxLine and is acted on
    // by its kind. Unknown kinds and unusable values change nothing else.
    LineResult onLine(const QString& line);

    // The request a poll tick sends for the showing tab; empty for none. On
    // an encoder tab the position and scale requests take turns through the
    // shared PollPhase, starting with the scale request.
    QStringView pollRequest(int tab);

    // Apply over the two entries, channel 3 first. `send` writes one command
    // line, pauses and empties the entry's box; it returns false when the
    // line could not be written (the entry then stays). A refused entry ends
    // the run at once: what was sent before it stands.
    using SendScale = std::function<bool(Encoder, const QString&)>;
    ApplyResult apply(const std::array<QString, 2>& entries, const SendScale& send) const;

private:
    Module1& m_module;
};
