// SPDX-License-Identifier: MIT
// The board conversation's rules without a window: what each reply line
// changes, the poll requests by tab, and what "Apply", the command buttons
// and "OK"/"Cancel" decide.

#include "core/boardsession.h"
#include "core/module1.h"
#include "support/recordinglog.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QLocale English(QLocale::English, QLocale::UnitedStates);
const QLocale German(QLocale::German, QLocale::Germany);

// Module1 with a throw-away program folder and a recording log.
struct Run
{
    explicit Run(const QLocale& locale = English)
        : module(folder.path(), locale)
        , session(module)
    {
        module.readingLog = &log;
    }

    QTemporaryDir folder;
    Module1 module;
    RecordingLog log;
    BoardSession session;
};

QString flagsText(const std::array<bool, 6>& flags)
{
    QString text;
    for (const bool on : flags)
        text += on ? u'1' : u'0';
    return text;
}

} // namespace

Q_DECLARE_METATYPE(BoardSession::Label)
Q_DECLARE_METATYPE(ScaleCommand::Action)
Q_DECLARE_METATYPE(ApplyEnd)

class tst_BoardSession : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(English); }

    void onLine_data();
    void onLine();
    void scaleReplyStoresTheFactor_data();
    void scaleReplyStoresTheFactor();
    void inputs_data();
    void inputs();
    void readings_data();
    void readings();
    void receiveKeepsOrderAcrossChunks();
    void pollRequests_data();
    void pollRequests();
    void scaleCommand_data();
    void scaleCommand();
    void apply_data();
    void apply();
    void dialogSteps_data();
    void dialogSteps();
    void tabRule();
    void keypadPoint_data();
    void keypadPoint();
    void commandLines();
};

void tst_BoardSession::onLine_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("line");
    QTest::addColumn<BoardSession::Label>("label");
    QTest::addColumn<QString>("text");

    using L = BoardSession::Label;
    QTest::newRow("position rounded to three decimals")
        << English << u"<C312.3456*"_s << L::Counter3 << u"12.346"_s;
    QTest::newRow("position below one") << English << u"<C40.5*"_s << L::Counter4 << u"0.500"_s;
    QTest::newRow("negative whole position")
        << English << u"<C3-3*"_s << L::Counter3 << u"-3.000"_s;
    QTest::newRow("long position") << English << u"<C312345.6*"_s << L::Counter3 << u"12345.600"_s;
    QTest::newRow("German position") << German << u"<C312.3456*"_s << L::Counter3 << u"12,346"_s;
    QTest::newRow("German board still writes a point")
        << German << u"<C42.5*"_s << L::Counter4 << u"2,500"_s;
    QTest::newRow("scale 2540.12") << English << u"<S303E03C*"_s << L::Scale3 << u"2540.12"_s;
    QTest::newRow("scale below one has no integer digit")
        << English << u"<S40032*"_s << L::Scale4 << u".50"_s;
    QTest::newRow("scale with no digits is zero") << English << u"<S3*"_s << L::Scale3 << u".00"_s;
    QTest::newRow("FFFF is minus one hundredth")
        << English << u"<S3FFFF*"_s << L::Scale3 << u"-.01"_s;
    QTest::newRow("German scale") << German << u"<S303E03C*"_s << L::Scale3 << u"2540,12"_s;
    QTest::newRow("lower-case kind is no position")
        << English << u"<c31*"_s << L::None << QString();
    QTest::newRow("position that is no number is ignored")
        << English << u"<C3abc*"_s << L::None << QString();
    QTest::newRow("short position reply is ignored") << English << u"<C3"_s << L::None << QString();
    QTest::newRow("empty position field is ignored")
        << English << u"<C3*"_s << L::None << QString();
    QTest::newRow("unknown kind") << English << u"<XY12.5*"_s << L::None << QString();
    QTest::newRow("shorter than a kind") << English << u"<K"_s << L::None << QString();
}

void tst_BoardSession::onLine()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, line);
    QFETCH(BoardSession::Label, label);
    QFETCH(QString, text);

    Run run(locale);
    const BoardSession::LineResult result = run.session.onLine(line);
    QCOMPARE(result.label, label);
    QCOMPARE(result.labelText, text);
    QVERIFY(!result.inputs);
    QVERIFY(!result.reading);
    QCOMPARE(run.module.RxLine, line);
    QCOMPARE(run.log.records, 0);
}

void tst_BoardSession::scaleReplyStoresTheFactor_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<double>("scale3");
    QTest::addColumn<double>("scale4");

    // Before the line: CurrentScale3 7.00, CurrentScale4 9.00.
    QTest::newRow("encoder 1") << u"<S303E03C*"_s << 2540.12 << 9.0;
    QTest::newRow("encoder 2") << u"<S40032*"_s << 7.0 << 0.5;
    QTest::newRow("blanks inside the field are skipped") << u"<S30 3E 03C*"_s << 2540.12 << 9.0;
    QTest::newRow("a position leaves both alone") << u"<C3100*"_s << 7.0 << 9.0;
    QTest::newRow("a four-character reply is zero") << u"<S3*"_s << 0.0 << 9.0;
}

void tst_BoardSession::scaleReplyStoresTheFactor()
{
    QFETCH(QString, line);
    QFETCH(double, scale3);
    QFETCH(double, scale4);

    Run run;
    // Each encoder starts from a factor of its own, so a reply stored into
    // the other encoder's, or into both, shows.
    run.module.CurrentScale3 = 7.0;
    run.module.CurrentScale4 = 9.0;
    run.session.onLine(line);
    QCOMPARE(run.module.CurrentScale3, scale3);
    QCOMPARE(run.module.CurrentScale4, scale4);
}

void tst_BoardSession::inputs_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("lit"); // Shape1..Shape6

    QTest::newRow("A. Accept only") << u"<IN000001*"_s << u"100000"_s;
    QTest::newRow("Aux 2 only") << u"<IN100000*"_s << u"000001"_s;
    QTest::newRow("all six") << u"<IN111111*"_s << u"111111"_s;
    QTest::newRow("two flags light Aux 2 and Aux 1") << u"<IN11"_s << u"000011"_s;
    QTest::newRow("other characters are off") << u"<IN2x0Y1-*"_s << u"010000"_s;
    QTest::newRow("no flags at all: every one off") << u"<IN"_s << u"000000"_s;
}

void tst_BoardSession::inputs()
{
    QFETCH(QString, line);
    QFETCH(QString, lit);

    Run run;
    const BoardSession::LineResult result = run.session.onLine(line);
    QVERIFY(result.inputs);
    QCOMPARE(flagsText(*result.inputs), lit);
    QCOMPARE(result.label, BoardSession::Label::None);
}

void tst_BoardSession::readings_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("line");
    QTest::addColumn<double>("reading");
    QTest::addColumn<QString>("text");

    QTest::newRow("taken to three decimals") << English << u"<KS1.23456*"_s << 1.235 << u"1.235"_s;
    QTest::newRow("German") << German << u"<KS1.23456*"_s << 1.235 << u"1,235"_s;
    QTest::newRow("zero is the single digit 0") << English << u"<KS0.000*"_s << 0.0 << u"0"_s;
    QTest::newRow("negative keeps its sign") << English << u"<KS-2.5*"_s << -2.5 << u"-2.5"_s;
    QTest::newRow("half goes away from zero") << English << u"<KS2.0005*"_s << 2.001 << u"2.001"_s;
}

void tst_BoardSession::readings()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, line);
    QFETCH(double, reading);
    QFETCH(QString, text);

    Run run(locale);
    const BoardSession::LineResult result = run.session.onLine(line);
    QCOMPARE(result.reading, std::optional<double>(reading));
    QCOMPARE(run.module.CurrentReading, reading);
    QCOMPARE(run.module.ReadingText, text);
    QCOMPARE(run.log.records, 1);
    QCOMPARE(run.log.viewLines,
        QStringList {
            text + u'\t' + run.module.ReadingDate + u'\t' + run.module.ReadingTime + u"\r\n"_s });
}

void tst_BoardSession::receiveKeepsOrderAcrossChunks()
{
    Run run;
    QList<BoardSession::ReceivedLine> received = run.session.receive("<KS1*\r\n<C3");
    received += run.session.receive("2*\n\r\r\n<KS2");
    QCOMPARE(run.module.RxBuffer.pending(), u"<KS2"_s);
    received += run.session.receive("*\r<ZZ\0*\r"_ba);

    QStringList lines;
    for (const auto& r : std::as_const(received))
        lines += r.line;
    QCOMPARE(lines, (QStringList { u"<KS1*"_s, u"<C32*"_s, u"<KS2*"_s, u"<ZZ *"_s }));
    QCOMPARE(received[0].result.reading, std::optional<double>(1.0));
    QCOMPARE(received[1].result.labelText, u"2.000"_s);
    QCOMPARE(received[2].result.reading, std::optional<double>(2.0));
    QCOMPARE(run.log.records, 2);
    QCOMPARE(run.module.RxLine, u"<ZZ *"_s);
}

void tst_BoardSession::pollRequests_data()
{
    QTest::addColumn<QList<int>>("tabs");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("first encoder poll asks for the scale")
        << QList<int> { 0, 0, 0 } << QStringList { u"?SCALE3"_s, u"?CTR3"_s, u"?SCALE3"_s };
    QTest::newRow("encoder 2") << QList<int> { 1, 1 } << QStringList { u"?SCALE4"_s, u"?CTR4"_s };
    QTest::newRow("switch after ?SCALE3 gives ?CTR4")
        << QList<int> { 0, 1, 1 } << QStringList { u"?SCALE3"_s, u"?CTR4"_s, u"?SCALE4"_s };
    QTest::newRow("the inputs tab leaves the phase alone")
        << QList<int> { 0, 2, 0 } << QStringList { u"?SCALE3"_s, u"?INPUTS"_s, u"?CTR3"_s };
    QTest::newRow("no such tab sends nothing")
        << QList<int> { 3, -1, 0 } << QStringList { QString(), QString(), u"?SCALE3"_s };
}

void tst_BoardSession::pollRequests()
{
    QFETCH(QList<int>, tabs);
    QFETCH(QStringList, expected);

    Run run;
    QStringList sent;
    for (const int tab : std::as_const(tabs))
        sent += run.session.pollRequest(tab).toString();
    QCOMPARE(sent, expected);
}

void tst_BoardSession::scaleCommand_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<double>("current");
    QTest::addColumn<ScaleCommand::Action>("action");
    QTest::addColumn<QString>("out"); // the line, or the message

    using A = ScaleCommand::Action;
    const QString invalid = InvalidNumberMessage.toString();
    const QString range = ScaleRangeMessage.toString();

    QTest::newRow("2540.12") << English << 3 << u"2540.12"_s << 0.0 << A::Send
                             << u"SCALE3=03E03C002710"_s;
    QTest::newRow("1000") << English << 3 << u"1000"_s << 0.0 << A::Send
                          << u"SCALE3=0186A0000F61"_s;
    QTest::newRow("254") << English << 3 << u"254"_s << 0.0 << A::Send << u"SCALE3=0063380003E8"_s;
    QTest::newRow("12.") << English << 3 << u"12."_s << 0.0 << A::Send << u"SCALE3=0004B000002F"_s;
    QTest::newRow("100 on encoder 2")
        << English << 4 << u"100"_s << 0.0 << A::Send << u"SCALE4=00271000018A"_s;
    QTest::newRow("more decimals are rounded first")
        << English << 3 << u"2540.123"_s << 0.0 << A::Send << u"SCALE3=03E03C002710"_s;
    QTest::newRow("blanks, sign and exponent")
        << English << 3 << u" +1e3 "_s << 0.0 << A::Send << u"SCALE3=0186A0000F61"_s;
    QTest::newRow(".5e2") << English << 3 << u".5e2"_s << 0.0 << A::Send
                          << u"SCALE3=0013880000C5"_s;
    QTest::newRow("lowest factor 3.94")
        << English << 3 << u"3.94"_s << 0.0 << A::Send << u"SCALE3=00018A000010"_s;
    QTest::newRow("highest factor 167772.15")
        << English << 3 << u"167772.15"_s << 0.0 << A::Send << u"SCALE3=FFFFFF0A1428"_s;
    QTest::newRow("German comma is the decimal point")
        << German << 3 << u"12,5"_s << 0.0 << A::Send << u"SCALE3=0004E2000031"_s;
    QTest::newRow("German entry with a point")
        << German << 3 << u"12.5"_s << 0.0 << A::Send << u"SCALE3=0004E2000031"_s;

    QTest::newRow("empty box") << English << 3 << QString() << 0.0 << A::Skip << QString();
    QTest::newRow("equal to the reported factor")
        << English << 3 << u"2540.12"_s << 2540.12 << A::Skip << QString();
    QTest::newRow("equal once rounded")
        << English << 3 << u"2540.123"_s << 2540.12 << A::Skip << QString();
    QTest::newRow("2540.1 against a report of 2540.10")
        << English << 3 << u"2540.1"_s << 2540.10 << A::Skip << QString();
    QTest::newRow("zero before any report, never sent")
        << English << 4 << u"0"_s << 0.0 << A::Skip << QString();

    QTest::newRow("lone point") << English << 3 << u"."_s << 0.0 << A::Refuse << invalid;
    QTest::newRow("two points") << English << 3 << u"1.2.3"_s << 0.0 << A::Refuse << invalid;
    QTest::newRow("letters") << English << 3 << u"abc"_s << 0.0 << A::Refuse << invalid;
    QTest::newRow("thousands separator is no number")
        << English << 3 << u"1,000.5"_s << 0.0 << A::Refuse << invalid;
    QTest::newRow("exponent without digits")
        << English << 3 << u"1e"_s << 0.0 << A::Refuse << invalid;
    QTest::newRow("negative") << English << 3 << u"-5"_s << 0.0 << A::Refuse << range;
    QTest::newRow("below 3.94") << English << 3 << u"3.93"_s << 0.0 << A::Refuse << range;
    QTest::newRow("3.935 rounds up into the range")
        << English << 3 << u"3.935"_s << 0.0 << A::Send << u"SCALE3=00018A000010"_s;
    QTest::newRow("above 167772.15") << English << 4 << u"167772.16"_s << 0.0 << A::Refuse << range;
    QTest::newRow("too large to encode")
        << English << 3 << u"99999999999"_s << 0.0 << A::Refuse << range;
    QTest::newRow("beyond a double") << English << 3 << u"1e999"_s << 0.0 << A::Refuse << invalid;
    QTest::newRow("zero once a factor was reported")
        << English << 3 << u"0"_s << 2540.12 << A::Refuse << range;
}

void tst_BoardSession::scaleCommand()
{
    QFETCH(QLocale, locale);
    QFETCH(int, channel);
    QFETCH(QString, entry);
    QFETCH(double, current);
    QFETCH(ScaleCommand::Action, action);
    QFETCH(QString, out);

    const ScaleCommand command = ::scaleCommand(
        channel == 3 ? Encoder::Channel3 : Encoder::Channel4, entry, current, locale);
    QCOMPARE(command.action, action);
    QCOMPARE(action == ScaleCommand::Action::Refuse ? command.message : command.line, out);
}

void tst_BoardSession::apply_data()
{
    QTest::addColumn<QString>("entry3");
    QTest::addColumn<QString>("entry4");
    QTest::addColumn<double>("current3");
    QTest::addColumn<bool>("portWorks");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<ApplyEnd>("end");
    QTest::addColumn<QString>("message");

    const QString invalid = InvalidNumberMessage.toString();
    QTest::newRow("both, encoder 1 first")
        << u"1000"_s << u"100"_s << 0.0 << true
        << QStringList { u"SCALE3=0186A0000F61"_s, u"SCALE4=00271000018A"_s } << ApplyEnd::Completed
        << QString();
    QTest::newRow("both boxes empty") << QString() << QString() << 0.0 << true << QStringList {}
                                      << ApplyEnd::Completed << QString();
    QTest::newRow("encoder 1 skipped, encoder 2 sent")
        << u"2540.12"_s << u"100"_s << 2540.12 << true << QStringList { u"SCALE4=00271000018A"_s }
        << ApplyEnd::Completed << QString();
    QTest::newRow("each encoder against its own factor")
        << u"2540.12"_s << u"2540.12"_s << 0.0 << true << QStringList { u"SCALE3=03E03C002710"_s }
        << ApplyEnd::Completed << QString();
    QTest::newRow("letters on encoder 1, encoder 2 not examined")
        << u"abc"_s << u"100"_s << 0.0 << true << QStringList {} << ApplyEnd::Refused << invalid;
    QTest::newRow("encoder 1 sent before encoder 2's lone point")
        << u"1000"_s << u"."_s << 0.0 << true << QStringList { u"SCALE3=0186A0000F61"_s }
        << ApplyEnd::Refused << invalid;
    QTest::newRow("port gone: both tried, entries stay pending")
        << u"1000"_s << u"100"_s << 0.0 << false
        << QStringList { u"SCALE3=0186A0000F61"_s, u"SCALE4=00271000018A"_s }
        << ApplyEnd::KeptPending << QString();
}

void tst_BoardSession::apply()
{
    QFETCH(QString, entry3);
    QFETCH(QString, entry4);
    QFETCH(double, current3);
    QFETCH(bool, portWorks);
    QFETCH(QStringList, sent);
    QFETCH(ApplyEnd, end);
    QFETCH(QString, message);

    Run run;
    run.module.CurrentScale3 = current3;
    run.module.CurrentScale4 = 2540.12;
    QStringList tried;
    bool ownBox = true;
    const ApplyResult result
        = run.session.apply({ entry3, entry4 }, [&](Encoder encoder, const QString& line) {
              // The line goes with its own encoder's box.
              ownBox = ownBox && (encoder == Encoder::Channel3) == line.startsWith(u"SCALE3"_s);
              tried += line;
              return portWorks;
          });
    QVERIFY(ownBox);
    QCOMPARE(tried, sent);
    QCOMPARE(result.end, end);
    QCOMPARE(result.message, message);
}

void tst_BoardSession::dialogSteps_data()
{
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("pending");
    QTest::addColumn<bool>("apply");

    QTest::newRow("OK with entries pending applies them, then hides") << true << true << true;
    QTest::newRow("OK with nothing pending only hides") << true << false << false;
    QTest::newRow("Cancel never applies") << false << true << false;
}

void tst_BoardSession::dialogSteps()
{
    QFETCH(bool, ok);
    QFETCH(bool, pending);
    QFETCH(bool, apply);

    const DialogSteps steps = ::dialogSteps(ok ? DialogButton::OK : DialogButton::Cancel, pending);
    QCOMPARE(steps.apply, apply);
    QVERIFY(steps.hide);
}

void tst_BoardSession::tabRule()
{
    QCOMPARE(encoderForTab(0), std::optional(Encoder::Channel3));
    QCOMPARE(encoderForTab(1), std::optional(Encoder::Channel4));
    QCOMPARE(encoderForTab(2), std::nullopt);
    QCOMPARE(encoderForTab(-1), std::nullopt);
}

void tst_BoardSession::keypadPoint_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("typed");

    QTest::newRow("empty box") << QString() << true;
    QTest::newRow("whole number") << u"125"_s << true;
    QTest::newRow("already has a point") << u"12.5"_s << false;
    QTest::newRow("a lone point") << u"."_s << false;
    QTest::newRow("a German comma is no point") << u"12,5"_s << true;
}

void tst_BoardSession::keypadPoint()
{
    QFETCH(QString, text);
    QFETCH(bool, typed);
    QCOMPARE(keypadMayTypePoint(text), typed);
}

void tst_BoardSession::commandLines()
{
    QCOMPARE(zeroCommand(Encoder::Channel3), u"CTR3=0");
    QCOMPARE(zeroCommand(Encoder::Channel4), u"CTR4=0");
    QCOMPARE(verdictCommand(true), u"MESS=1");
    QCOMPARE(verdictCommand(false), u"MESS=0");
}

QTEST_GUILESS_MAIN(tst_BoardSession)
#include "tst_boardsession.moc"
