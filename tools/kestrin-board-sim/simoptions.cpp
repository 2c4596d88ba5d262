// SPDX-License-Identifier: MIT
#include "simoptions.h"

#include "core/numbertext.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QLocale>
#include <algorithm>
#include <initializer_list>
#include <optional>
#include <utility>

using namespace Qt::StringLiterals;

namespace boardsim {

namespace {

// Written as the first lines of --help, so that a manual page made from the
// help has a synopsis and a one-line description.
constexpr auto Usage = "Usage: kestrin-board-sim (--link PATH | --device PATH) [options]"_L1;
constexpr auto Description
    = "Play the encoder board of the Tarvik data logger on a serial line.\n"
      "\n"
      "The board sits on a pseudo-terminal behind a symbolic link (--link) or on a\n"
      "real serial device (--device); exactly one of the two is required. It answers\n"
      "the logger's requests, obeys its commands and sends readings, so that the\n"
      "logger can be tried, demonstrated and tested without hardware."_L1;

// After the options: what the board answers and the keys at its terminal.
constexpr auto Epilogue
    = "\n"
      "Board:\n"
      "  The board answers \"?CTR3\" and \"?CTR4\" with \"<C3\"/\"<C4\" and the position\n"
      "  with three decimals, \"?SCALE3\" and \"?SCALE4\" with \"<S3\"/\"<S4\" and the scale\n"
      "  factor x 100 as six hex digits, \"?INPUTS\" with \"<IN\" and six flags; each\n"
      "  value reply ends with the closing character. It obeys \"CTR3=0\" and \"CTR4=0\"\n"
      "  (the position becomes 0), \"SCALE3=\" and \"SCALE4=\" (the factor is taken from\n"
      "  field A; a field B other than the one the factor gives is reported), and\n"
      "  shows the verdict of \"MESS=1\" and \"MESS=0\". Both scale factors start at\n"
      "  2540.12. Lines received end at CR; LF is dropped. While nobody has the link\n"
      "  open, replies and readings are dropped, as on a real line with nothing\n"
      "  attached.\n"
      "\n"
      "Keys:\n"
      "  Type these at the board's terminal, each followed by Enter. When its\n"
      "  standard input ends (e.g. </dev/null) the board keeps running.\n"
      "\n"
      "  Enter alone   send a reading (encoder 1's position)\n"
      "  1 to 6        toggle input 1 A. Accept, 2 B. Accept, 3 End of Board,\n"
      "                4 Zero, 5 Aux 1 or 6 Aux 2 (\"15\" toggles two)\n"
      "  s             show positions, scale factors and inputs\n"
      "  h             show these keys\n"
      "  q             end the board, as Ctrl-C does\n"
      "\n"
      "Exit status:\n"
      "  0 when the board ends, 1 on failure, 2 for a wrong command line.\n"
      "  SIGINT, SIGTERM and SIGHUP end it and remove its link.\n"_L1;

// Whole seconds or fractions, as the core reads every number a person types;
// the C locale because a command line has no locale of its own.
bool takeSeconds(const QString& text, double& seconds)
{
    const std::optional<double> value = numbertext::parseEntryNumber(text, QLocale::c());
    if (!value || *value < 0.0 || *value >= 1e9)
        return false;
    seconds = *value;
    return true;
}

// One of a few words, each standing for a setting.
template<typename T>
bool takeChoice(
    const QString& text, std::initializer_list<std::pair<QLatin1StringView, T>> words, T& setting)
{
    for (const auto& [word, value] : words) {
        if (text == word) {
            setting = value;
            return true;
        }
    }
    return false;
}

bool takeClosing(const QString& text, SimOptions& options)
{
    // A CR or LF would end the reply early; anything printable will do.
    if (text.size() != 1 || text[0] < u'!' || text[0] > u'~')
        return false;
    options.board.closing = text[0].toLatin1();
    return true;
}

bool takeInputs(const QString& text, SimOptions& options)
{
    const auto isFlag = [](QChar c) { return c == u'0' || c == u'1'; };
    if (text.size() != 6 || !std::all_of(text.cbegin(), text.cend(), isFlag))
        return false;
    for (int number = 1; number <= 6; ++number)
        options.board.inputs[number - 1] = text[6 - number] == u'1';
    return true;
}

bool takeBurst(const QString& text, SimOptions& options)
{
    bool ok = false;
    const long count = text.toLong(&ok);
    if (!ok || count < 0 || count > MaxBurst)
        return false;
    options.burst = count;
    return true;
}

struct Declared
{
    QCommandLineOption link { u"link"_s,
        u"Open a pseudo-terminal and make PATH a symbolic link to it (an existing link "
        "there is replaced, missing folders are created). For ComPort=N the logger looks "
        "for comN in its data folder, so use e.g. --link " TARVIK_DATA_HINT "/com1. The link "
        "is removed when the board ends."_s,
        u"PATH"_s };
    QCommandLineOption device { u"device"_s,
        u"Use a real serial device instead (9600 baud, 8N1, raw, no flow control), e.g. "
        "one end of a null-modem cable."_s,
        u"PATH"_s };
    QCommandLineOption motion { u"motion"_s,
        u"still: both encoders stay at 0.000 mm. drift (the default): encoder 1 moves "
        "0.125 mm and encoder 2 0.250 mm per second from 0.000 at start."_s,
        u"still|drift"_s };
    QCommandLineOption inputs { u"inputs"_s,
        u"The inputs at start as the six flags of the \"<IN\" reply, Aux 2 first, "
        "A. Accept last; 1 is active (default 000000)."_s,
        u"FLAGS"_s };
    QCommandLineOption readingInterval { u"reading-interval"_s,
        u"Send a reading (\"<KS\" and encoder 1's position) every SECONDS; fractions "
        "allowed; 0 (the default) sends none."_s,
        u"SECONDS"_s };
    QCommandLineOption burst { u"burst"_s,
        u"Send N readings back to back carrying 1.000, 2.000, ... N.000 in that order, "
        "once the other side has opened the link (with --device: at start). N is 0 "
        "(the default, no burst) to 1000000."_s,
        u"N"_s };
    QCommandLineOption burstDelay { u"burst-delay"_s,
        u"Wait SECONDS before the burst (default 0)."_s, u"SECONDS"_s };
    QCommandLineOption exitAfterBurst { u"exit-after-burst"_s,
        u"End once the other side has read the whole burst; needs --burst."_s };
    QCommandLineOption lineEnd { u"line-end"_s,
        u"How every line sent ends: CR LF (crlf, the default), LF CR (lfcr) or CR "
        "alone (cr)."_s,
        u"crlf|lfcr|cr"_s };
    QCommandLineOption closingChar { u"closing-char"_s,
        u"The printable ASCII character closing every value reply (default *)."_s, u"C"_s };
    QCommandLineOption noPace { u"no-pace"_s,
        u"Send at full speed instead of the line's 9600 baud 8N1 (960 characters a "
        "second)."_s };
    QCommandLineOption transcript { u"transcript"_s,
        u"Record every line received as \"MS LINE\", MS being milliseconds since "
        "1970-01-01 00:00 UTC with three decimals, e.g. \"1733563200123.456 ?CTR3\"; "
        "written line by line as they arrive. Control characters are written as \\xNN "
        "and a backslash as \\\\."_s,
        u"FILE"_s };
    QCommandLineOption verbose { u"verbose"_s,
        u"Also show every line received and sent, lines the board does not know, and "
        "replies and readings dropped because nobody had the link open."_s };
    QCommandLineOption help { { u"h"_s, u"help"_s }, u"Show this help and end."_s };
    QCommandLineOption version { u"version"_s, u"Show the version and end."_s };
};

// The options taken as given: the paths and the switches.
void takePlainValues(
    const QCommandLineParser& parser, const Declared& declared, SimOptions& options)
{
    options.linkPath = parser.value(declared.link);
    options.devicePath = parser.value(declared.device);
    options.transcriptPath = parser.value(declared.transcript);
    options.exitAfterBurst = parser.isSet(declared.exitAfterBurst);
    options.pace = !parser.isSet(declared.noPace);
    options.verbose = parser.isSet(declared.verbose);
}

// The options whose value must be one of a few words or a number in range;
// the refusal of the first wrong one, in this order.
QString takeCheckedValues(
    const QCommandLineParser& parser, const Declared& declared, SimOptions& options)
{
    using Motion = BoardModel::Motion;
    using LineEnd = BoardModel::LineEnd;
    using Take = bool (*)(const QString&, SimOptions&);
    const struct
    {
        const QCommandLineOption& option;
        Take take;
        QString refusal;
    } rules[] = {
        { declared.motion,
            [](const QString& text, SimOptions& o) {
                return takeChoice(text,
                    { { "still"_L1, Motion::Still }, { "drift"_L1, Motion::Drift } },
                    o.board.motion);
            },
            u"--motion takes still or drift"_s },
        { declared.lineEnd,
            [](const QString& text, SimOptions& o) {
                return takeChoice(text,
                    { { "crlf"_L1, LineEnd::CrLf }, { "lfcr"_L1, LineEnd::LfCr },
                        { "cr"_L1, LineEnd::Cr } },
                    o.board.lineEnd);
            },
            u"--line-end takes crlf, lfcr or cr"_s },
        { declared.closingChar, takeClosing,
            u"--closing-char takes one printable ASCII character"_s },
        { declared.inputs, takeInputs, u"--inputs takes six flags 0 or 1, Aux 2 first"_s },
        { declared.readingInterval,
            [](const QString& text, SimOptions& o) { return takeSeconds(text, o.readingInterval); },
            u"--reading-interval takes seconds, e.g. 2 or 0.5"_s },
        { declared.burst, takeBurst, u"--burst takes a count from 0 to %1"_s.arg(MaxBurst) },
        { declared.burstDelay,
            [](const QString& text, SimOptions& o) { return takeSeconds(text, o.burstDelay); },
            u"--burst-delay takes seconds, e.g. 0.5"_s },
    };
    for (const auto& rule : rules) {
        if (parser.isSet(rule.option) && !rule.take(parser.value(rule.option), options))
            return rule.refusal;
    }
    return {};
}

// Reads the values the parser accepted into `options`; the error otherwise.
QString takeValues(const QCommandLineParser& parser, const Declared& declared, SimOptions& options)
{
    takePlainValues(parser, declared, options);
    if (!parser.positionalArguments().isEmpty())
        return u"unknown argument %1"_s.arg(parser.positionalArguments().constFirst());
    if (QString refusal = takeCheckedValues(parser, declared, options); !refusal.isEmpty())
        return refusal;
    if (options.linkPath.isEmpty() == options.devicePath.isEmpty())
        return u"give exactly one of --link PATH and --device PATH"_s;
    if (options.exitAfterBurst && options.burst == 0)
        return u"--exit-after-burst needs --burst N"_s;
    return {};
}

} // namespace

CommandLine parseCommandLine(const QStringList& arguments)
{
    const Declared declared;
    QCommandLineParser parser;
    parser.setApplicationDescription(Description);
    parser.addOptions({ declared.link, declared.device, declared.motion, declared.inputs,
        declared.readingInterval, declared.burst, declared.burstDelay, declared.exitAfterBurst,
        declared.lineEnd, declared.closingChar, declared.noPace, declared.transcript,
        declared.verbose, declared.help, declared.version });

    CommandLine result;
    if (!parser.parse(arguments)) {
        result.action = CommandLine::Action::Refuse;
        result.text = parser.errorText();
        return result;
    }
    if (parser.isSet(declared.help)) {
        // Qt's usage line names the program by the path it was started from.
        const QString options = parser.helpText().section(u'\n', 1);
        result.action = CommandLine::Action::Show;
        result.text = Usage + u'\n' + options + Epilogue;
        return result;
    }
    if (parser.isSet(declared.version)) {
        result.action = CommandLine::Action::Show;
        result.text = u"kestrin-board-sim (Tarvik Data Logger) %1\n"_s.arg(
            QLatin1StringView(TARVIK_VERSION));
        return result;
    }
    result.text = takeValues(parser, declared, result.options);
    if (!result.text.isEmpty())
        result.action = CommandLine::Action::Refuse;
    return result;
}

} // namespace boardsim
