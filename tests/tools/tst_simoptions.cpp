// SPDX-License-Identifier: MIT
// The simulator's command line: every option read as the scripts and tests
// use it, every wrong value refused with a message naming it.

#include "simoptions.h"

#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;
using boardsim::CommandLine;

Q_DECLARE_METATYPE(CommandLine::Action)

namespace {

CommandLine parse(const QStringList& options)
{
    return boardsim::parseCommandLine(QStringList { u"kestrin-board-sim"_s } + options);
}

// The options as "name=value" items, so a row names only what it is about.
QStringList describe(const boardsim::SimOptions& o)
{
    static const QStringList lineEnds { u"crlf"_s, u"lfcr"_s, u"cr"_s };
    QStringList active;
    for (int number = 1; number <= 6; ++number) {
        if (o.board.inputs[number - 1])
            active.append(QString::number(number));
    }
    return {
        u"link=%1"_s.arg(o.linkPath),
        u"device=%1"_s.arg(o.devicePath),
        u"transcript=%1"_s.arg(o.transcriptPath),
        u"motion=%1"_s.arg(o.board.motion == BoardModel::Motion::Still ? u"still"_s : u"drift"_s),
        u"line-end=%1"_s.arg(lineEnds[static_cast<int>(o.board.lineEnd)]),
        u"closing=%1"_s.arg(QLatin1Char(o.board.closing)),
        u"active inputs=%1"_s.arg(active.join(u',')),
        u"interval=%1"_s.arg(o.readingInterval),
        u"burst=%1"_s.arg(o.burst),
        u"delay=%1"_s.arg(o.burstDelay),
        u"exit after burst=%1"_s.arg(o.exitAfterBurst ? u"yes"_s : u"no"_s),
        u"pace=%1"_s.arg(o.pace ? u"yes"_s : u"no"_s),
        u"verbose=%1"_s.arg(o.verbose ? u"yes"_s : u"no"_s),
    };
}

// A row for a board on link "a" with one more option and its value.
template<typename Expected>
void addWithLink(
    const char* name, const QString& option, const QString& value, const Expected& expected)
{
    QTest::newRow(name) << QStringList { u"--link"_s, u"a"_s, option, value } << expected;
}

} // namespace

class tst_SimOptions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // A decimal comma must not make "0.5" unreadable, nor "0,5" readable.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }

    void accepted_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("defaults") << QStringList { u"--link"_s, u"/tmp/x/com1"_s }
                                  << QStringList { u"link=/tmp/x/com1"_s, u"device="_s,
                                         u"transcript="_s, u"motion=drift"_s, u"line-end=crlf"_s,
                                         u"closing=*"_s, u"active inputs="_s, u"interval=0"_s,
                                         u"burst=0"_s, u"delay=0"_s, u"exit after burst=no"_s,
                                         u"pace=yes"_s, u"verbose=no"_s };
        QTest::newRow("device instead of link") << QStringList { u"--device"_s,
            u"/dev/ttyUSB0"_s } << QStringList { u"link="_s, u"device=/dev/ttyUSB0"_s };
        QTest::newRow("value after =") << QStringList { u"--link=com1"_s, u"--motion=still"_s }
                                       << QStringList { u"link=com1"_s, u"motion=still"_s };
        addWithLink(
            "last of a repeated option wins", u"--link"_s, u"b"_s, QStringList { u"link=b"_s });
        QTest::newRow("value that starts with a dash")
            << QStringList { u"--link"_s, u"-com1"_s } << QStringList { u"link=-com1"_s };
        addWithLink("motion still", u"--motion"_s, u"still"_s, QStringList { u"motion=still"_s });
        addWithLink("motion drift", u"--motion"_s, u"drift"_s, QStringList { u"motion=drift"_s });
        addWithLink(
            "line end lfcr", u"--line-end"_s, u"lfcr"_s, QStringList { u"line-end=lfcr"_s });
        addWithLink("line end cr", u"--line-end"_s, u"cr"_s, QStringList { u"line-end=cr"_s });
        addWithLink("closing char, first printable", u"--closing-char"_s, u"!"_s,
            QStringList { u"closing=!"_s });
        addWithLink("closing char, last printable", u"--closing-char"_s, u"~"_s,
            QStringList { u"closing=~"_s });
        // The flags are in "<IN" order: Aux 2 (input 6) first, A. Accept (1) last.
        addWithLink("inputs, A. Accept is the last flag", u"--inputs"_s, u"000001"_s,
            QStringList { u"active inputs=1"_s });
        addWithLink("inputs, Aux 2 is the first flag", u"--inputs"_s, u"100000"_s,
            QStringList { u"active inputs=6"_s });
        addWithLink("inputs as the screenshots use them", u"--inputs"_s, u"100110"_s,
            QStringList { u"active inputs=2,3,6"_s });
        addWithLink("reading interval in whole seconds", u"--reading-interval"_s, u"2"_s,
            QStringList { u"interval=2"_s });
        addWithLink("reading interval with a decimal point", u"--reading-interval"_s, u"1.5"_s,
            QStringList { u"interval=1.5"_s });
        addWithLink("reading interval with an exponent", u"--reading-interval"_s, u"5e-1"_s,
            QStringList { u"interval=0.5"_s });
        QTest::newRow("burst and exit after it")
            << QStringList { u"--link"_s, u"a"_s, u"--burst"_s, u"20"_s, u"--exit-after-burst"_s }
            << QStringList { u"burst=20"_s, u"exit after burst=yes"_s };
        addWithLink(
            "largest burst", u"--burst"_s, u"1000000"_s, QStringList { u"burst=1000000"_s });
        addWithLink("burst delay", u"--burst-delay"_s, u".25"_s, QStringList { u"delay=0.25"_s });
        QTest::newRow("switches") << QStringList { u"--no-pace"_s, u"--verbose"_s, u"--link"_s,
            u"a"_s } << QStringList { u"pace=no"_s, u"verbose=yes"_s };
        addWithLink(
            "transcript", u"--transcript"_s, u"t.txt"_s, QStringList { u"transcript=t.txt"_s });
    }

    void accepted()
    {
        QFETCH(QStringList, options);
        QFETCH(QStringList, expected);
        const CommandLine line = parse(options);
        QCOMPARE(line.text, QString());
        QCOMPARE(line.action, CommandLine::Action::Run);
        const QStringList described = describe(line.options);
        for (const QString& item : expected)
            QVERIFY2(described.contains(item), qPrintable(described.join(u"; "_s)));
    }

    void refused_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("message");

        const QString oneOf = u"give exactly one of --link PATH and --device PATH"_s;
        QTest::newRow("no line at all") << QStringList {} << oneOf;
        QTest::newRow("both link and device")
            << QStringList { u"--link"_s, u"a"_s, u"--device"_s, u"b"_s } << oneOf;
        QTest::newRow("empty link") << QStringList { u"--link="_s } << oneOf;
        QTest::newRow("unknown option")
            << QStringList { u"--link"_s, u"a"_s, u"--bogus"_s } << u"Unknown option 'bogus'."_s;
        QTest::newRow("long option with one dash")
            << QStringList { u"-link"_s, u"a"_s } << u"Unknown options: l, i, n, k."_s;
        QTest::newRow("missing value at the end")
            << QStringList { u"--link"_s } << u"Missing value after '--link'."_s;
        QTest::newRow("value given to a switch") << QStringList { u"--link"_s, u"a"_s,
            u"--no-pace=yes"_s } << u"Unexpected value after '--no-pace'."_s;
        QTest::newRow("stray argument")
            << QStringList { u"--link"_s, u"a"_s, u"com1"_s } << u"unknown argument com1"_s;

        const QString motion = u"--motion takes still or drift"_s;
        addWithLink("motion unknown", u"--motion"_s, u"fast"_s, motion);
        addWithLink("motion in capitals", u"--motion"_s, u"Still"_s, motion);
        addWithLink("motion empty", u"--motion"_s, QString(), motion);
        const QString lineEnd = u"--line-end takes crlf, lfcr or cr"_s;
        addWithLink("line end in capitals", u"--line-end"_s, u"CRLF"_s, lineEnd);
        addWithLink("line end lf alone", u"--line-end"_s, u"lf"_s, lineEnd);
        addWithLink("line end with a blank", u"--line-end"_s, u"crlf "_s, lineEnd);
        const QString closing = u"--closing-char takes one printable ASCII character"_s;
        addWithLink("closing char empty", u"--closing-char"_s, QString(), closing);
        addWithLink("closing char two characters", u"--closing-char"_s, u"**"_s, closing);
        addWithLink("closing char blank", u"--closing-char"_s, u" "_s, closing);
        addWithLink("closing char CR ends the reply early", u"--closing-char"_s, u"\r"_s, closing);
        addWithLink("closing char DEL", u"--closing-char"_s, u"\x7f"_s, closing);
        addWithLink("closing char not ASCII", u"--closing-char"_s, u"\u00e9"_s, closing);
        const QString inputs = u"--inputs takes six flags 0 or 1, Aux 2 first"_s;
        addWithLink("inputs five flags", u"--inputs"_s, u"00000"_s, inputs);
        addWithLink("inputs seven flags", u"--inputs"_s, u"0000000"_s, inputs);
        addWithLink("inputs flag 2", u"--inputs"_s, u"000002"_s, inputs);
        addWithLink("inputs with a blank", u"--inputs"_s, u"000 01"_s, inputs);
        const QString interval = u"--reading-interval takes seconds, e.g. 2 or 0.5"_s;
        addWithLink("interval negative", u"--reading-interval"_s, u"-1"_s, interval);
        addWithLink("interval no number", u"--reading-interval"_s, u"fast"_s, interval);
        addWithLink("interval with a unit", u"--reading-interval"_s, u"2s"_s, interval);
        addWithLink("interval decimal comma", u"--reading-interval"_s, u"0,5"_s, interval);
        addWithLink("interval empty", u"--reading-interval"_s, QString(), interval);
        addWithLink("interval infinite", u"--reading-interval"_s, u"inf"_s, interval);
        addWithLink("interval not a number", u"--reading-interval"_s, u"nan"_s, interval);
        addWithLink("interval of 1e9 seconds", u"--reading-interval"_s, u"1e9"_s, interval);
        addWithLink("interval beyond a double", u"--reading-interval"_s, u"1e999"_s, interval);
        const QString burst = u"--burst takes a count from 0 to 1000000"_s;
        addWithLink("burst negative", u"--burst"_s, u"-1"_s, burst);
        addWithLink("burst one too many", u"--burst"_s, u"1000001"_s, burst);
        addWithLink("burst beyond 64 bits", u"--burst"_s, u"99999999999999999999"_s, burst);
        addWithLink("burst with decimals", u"--burst"_s, u"1.5"_s, burst);
        addWithLink("burst in hex", u"--burst"_s, u"0x10"_s, burst);
        addWithLink("burst empty", u"--burst"_s, QString(), burst);
        const QString delay = u"--burst-delay takes seconds, e.g. 0.5"_s;
        addWithLink("burst delay negative", u"--burst-delay"_s, u"-0.5"_s, delay);
        addWithLink("burst delay no number", u"--burst-delay"_s, u"soon"_s, delay);
        QTest::newRow("exit after burst without a burst") << QStringList { u"--link"_s, u"a"_s,
            u"--exit-after-burst"_s } << u"--exit-after-burst needs --burst N"_s;
        QTest::newRow("exit after a burst of none")
            << QStringList { u"--link"_s, u"a"_s, u"--burst"_s, u"0"_s, u"--exit-after-burst"_s }
            << u"--exit-after-burst needs --burst N"_s;
        // A wrong value is named even when the line is missing too.
        QTest::newRow("wrong value before the missing line")
            << QStringList { u"--motion"_s, u"fast"_s } << motion;
    }

    void refused()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, message);
        const CommandLine line = parse(options);
        QCOMPARE(line.action, CommandLine::Action::Refuse);
        QCOMPARE(line.text, message);
    }

    void shown_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<CommandLine::Action>("action");
        QTest::addColumn<QString>("firstLine");

        const QString usage = u"Usage: kestrin-board-sim (--link PATH | --device PATH) [options]"_s;
        const QString version = u"kestrin-board-sim (Tarvik Data Logger) " TARVIK_VERSION ""_s;
        QTest::newRow("--help") << QStringList { u"--help"_s } << CommandLine::Action::Show
                                << usage;
        QTest::newRow("-h") << QStringList { u"-h"_s } << CommandLine::Action::Show << usage;
        QTest::newRow("help wins over a wrong value") << QStringList { u"--motion"_s, u"fast"_s,
            u"--help"_s } << CommandLine::Action::Show << usage;
        QTest::newRow("help needs no line") << QStringList { u"--burst"_s, u"5"_s, u"--help"_s }
                                            << CommandLine::Action::Show << usage;
        QTest::newRow("unknown option wins over help")
            << QStringList { u"--help"_s, u"--bogus"_s } << CommandLine::Action::Refuse
            << u"Unknown option 'bogus'."_s;
        QTest::newRow("--version is the project's")
            << QStringList { u"--version"_s } << CommandLine::Action::Show << version;
        QTest::newRow("version with a link") << QStringList { u"--link"_s, u"a"_s, u"--version"_s }
                                             << CommandLine::Action::Show << version;
    }

    void shown()
    {
        QFETCH(QStringList, options);
        QFETCH(CommandLine::Action, action);
        QFETCH(QString, firstLine);
        const CommandLine line = parse(options);
        QCOMPARE(line.action, action);
        QCOMPARE(line.text.section(u'\n', 0, 0), firstLine);
        if (action == CommandLine::Action::Show)
            QVERIFY(line.text.endsWith(u'\n'));
    }

    // A manual page is made from --help: a synopsis, a one-line description,
    // and a description beside every option.
    void helpDescribesEveryOption_data()
    {
        QTest::addColumn<QString>("option");
        for (const char* option :
            { "--link <PATH>", "--device <PATH>", "--motion <still|drift>", "--inputs <FLAGS>",
                "--reading-interval <SECONDS>", "--burst <N>", "--burst-delay <SECONDS>",
                "--exit-after-burst", "--line-end <crlf|lfcr|cr>", "--closing-char <C>",
                "--no-pace", "--transcript <FILE>", "--verbose", "-h, --help", "--version" })
            QTest::newRow(option) << QString::fromLatin1(option);
    }

    void helpDescribesEveryOption()
    {
        QFETCH(QString, option);
        const QString help = parse({ u"--help"_s }).text;
        const QStringList lines = help.split(u'\n');
        QVERIFY(lines.size() > 2);
        static const QRegularExpression sentence(u"^[A-Z][^\n]*\\.$"_s);
        QVERIFY2(sentence.match(lines[1]).hasMatch(), qPrintable(lines[1]));
        const QRegularExpression described(u"^  %1 +\\S"_s.arg(QRegularExpression::escape(option)),
            QRegularExpression::MultilineOption);
        QVERIFY2(described.match(help).hasMatch(), qPrintable(help));
    }

    void helpFitsATerminal()
    {
        for (const QString& line : parse({ u"--help"_s }).text.split(u'\n'))
            QVERIFY2(line.size() <= 80, qPrintable(line));
    }
};

QTEST_GUILESS_MAIN(tst_SimOptions)
#include "tst_simoptions.moc"
