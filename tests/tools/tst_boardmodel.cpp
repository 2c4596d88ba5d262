// SPDX-License-Identifier: MIT
#include "boardmodel.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

BoardModel::Options stillBoard()
{
    BoardModel::Options options;
    options.motion = BoardModel::Motion::Still;
    return options;
}

// Feeds the lines in order and returns every reply byte the board sent.
QByteArray converse(BoardModel& board, const QStringList& lines, double seconds = 0.0)
{
    QByteArray replies;
    for (const QString& line : lines) {
        for (const QByteArray& reply : board.handleLine(line, seconds).replies)
            replies += reply;
    }
    return replies;
}

} // namespace

class tst_BoardModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // The board's decimal point is "." whatever the PC's locale says.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }

    void replies_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QByteArray>("replies");

        QTest::newRow("position 3 at start")
            << QStringList { u"?CTR3"_s } << QByteArray("<C30.000*\r\n");
        QTest::newRow("position 4 at start")
            << QStringList { u"?CTR4"_s } << QByteArray("<C40.000*\r\n");
        QTest::newRow("scale 3 at power-up is 2540.12")
            << QStringList { u"?SCALE3"_s } << QByteArray("<S303E03C*\r\n");
        QTest::newRow("scale 4 at power-up is 2540.12")
            << QStringList { u"?SCALE4"_s } << QByteArray("<S403E03C*\r\n");
        QTest::newRow("inputs all inactive")
            << QStringList { u"?INPUTS"_s } << QByteArray("<IN000000*\r\n");
        QTest::newRow("commands get no reply") << QStringList { u"CTR3=0"_s, u"CTR4=0"_s,
            u"MESS=1"_s, u"MESS=0"_s, u"SCALE3=03E03C002710"_s }
                                               << QByteArray();
        QTest::newRow("scale 3 set, then asked") << QStringList { u"SCALE3=0186A0000F61"_s,
            u"?SCALE3"_s } << QByteArray("<S30186A0*\r\n");
        QTest::newRow("scale 3 set leaves scale 4 alone") << QStringList { u"SCALE3=0186A0000F61"_s,
            u"?SCALE4"_s } << QByteArray("<S403E03C*\r\n");
        QTest::newRow("scale 4 set from a short argument")
            << QStringList { u"SCALE4=C88"_s, u"?SCALE4"_s } << QByteArray("<S40000C8*\r\n");
        QTest::newRow("seven-digit field A reported whole")
            << QStringList { u"SCALE3=10000000A1428"_s, u"?SCALE3"_s }
            << QByteArray("<S31000000*\r\n");
        QTest::newRow("lower-case request unknown") << QStringList { u"?ctr3"_s } << QByteArray();
        QTest::newRow("trailing blank makes it unknown")
            << QStringList { u"?CTR3 "_s } << QByteArray();
        QTest::newRow("request without its mark") << QStringList { u"CTR3"_s } << QByteArray();
        QTest::newRow("replies in request order") << QStringList { u"?INPUTS"_s, u"?CTR4"_s,
            u"?SCALE3"_s } << QByteArray("<IN000000*\r\n<C40.000*\r\n<S303E03C*\r\n");
    }

    void replies()
    {
        QFETCH(QStringList, lines);
        QFETCH(QByteArray, replies);
        BoardModel board(stillBoard());
        QCOMPARE(converse(board, lines), replies);
    }

    void unknownLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("known");
        QTest::newRow("request") << u"?SCALE4"_s << true;
        QTest::newRow("command") << u"MESS=1"_s << true;
        QTest::newRow("scale command with a bad argument") << u"SCALE3=XYZ"_s << true;
        QTest::newRow("zero to a value other than 0") << u"CTR3=5"_s << false;
        QTest::newRow("verdict other than 0 or 1") << u"MESS=2"_s << false;
        QTest::newRow("a reply kind echoed back") << u"<C30.000*"_s << false;
        QTest::newRow("channel that does not exist") << u"?CTR5"_s << false;
    }

    void unknownLines()
    {
        QFETCH(QString, line);
        QFETCH(bool, known);
        BoardModel board(stillBoard());
        const BoardModel::Outcome outcome = board.handleLine(line, 0.0);
        QCOMPARE(outcome.known, known);
        if (!known) {
            QVERIFY(outcome.replies.isEmpty());
            QVERIFY(outcome.notes.isEmpty());
        }
    }

    void framing_data()
    {
        QTest::addColumn<BoardModel::LineEnd>("lineEnd");
        QTest::addColumn<char>("closing");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("CR LF, star")
            << BoardModel::LineEnd::CrLf << '*' << QByteArray("<S303E03C*\r\n");
        QTest::newRow("LF CR") << BoardModel::LineEnd::LfCr << '*' << QByteArray("<S303E03C*\n\r");
        QTest::newRow("CR alone") << BoardModel::LineEnd::Cr << '*' << QByteArray("<S303E03C*\r");
        QTest::newRow("other closing character")
            << BoardModel::LineEnd::CrLf << '#' << QByteArray("<S303E03C#\r\n");
    }

    void framing()
    {
        QFETCH(BoardModel::LineEnd, lineEnd);
        QFETCH(char, closing);
        QFETCH(QByteArray, reply);
        BoardModel::Options options = stillBoard();
        options.lineEnd = lineEnd;
        options.closing = closing;
        BoardModel board(options);
        QCOMPARE(converse(board, { u"?SCALE3"_s }), reply);
    }

    void scaleCommand_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QByteArray>("reported"); // "<S3" field afterwards
        QTest::addColumn<bool>("mismatch");

        QTest::newRow("1000.00 as the program sends it")
            << u"0186A0000F61"_s << QByteArray("0186A0") << false;
        QTest::newRow("100 with a filled field B")
            << u"00271000018A"_s << QByteArray("002710") << false;
        QTest::newRow("2 with two short fields") << u"C88"_s << QByteArray("0000C8") << false;
        QTest::newRow("0.05, one digit each") << u"50"_s << QByteArray("000005") << false;
        QTest::newRow("3.00, field B of one digit")
            << u"00012CC"_s << QByteArray("00012C") << false;
        QTest::newRow("167772.16, seven-digit field A")
            << u"10000000A1428"_s << QByteArray("1000000") << false;
        QTest::newRow("field B one off: set from A, reported")
            << u"0186A0000F60"_s << QByteArray("0186A0") << true;
        QTest::newRow("field B unfilled: no two fields, ignored")
            << u"0186A0F61"_s << QByteArray("03E03C") << false;
        QTest::newRow("lower-case digits: set, reported")
            << u"0186a0000f61"_s << QByteArray("0186A0") << true;
        QTest::newRow("five digits are no two fields: ignored")
            << u"12345"_s << QByteArray("03E03C") << false;
        QTest::newRow("non-hex character: ignored")
            << u"0186A0000F6G"_s << QByteArray("03E03C") << false;
        QTest::newRow("empty argument: ignored") << QString() << QByteArray("03E03C") << false;
    }

    void scaleCommand()
    {
        QFETCH(QString, argument);
        QFETCH(QByteArray, reported);
        QFETCH(bool, mismatch);
        BoardModel board(stillBoard());
        const BoardModel::Outcome outcome = board.handleLine(u"SCALE3="_s + argument, 0.0);
        QVERIFY(outcome.replies.isEmpty());
        QVERIFY(!outcome.notes.isEmpty()); // set or ignored, the operator hears of it
        const bool noted = outcome.notes.join(u'\n').contains(u"mismatch"_s);
        QCOMPARE(noted, mismatch);
        QCOMPARE(converse(board, { u"?SCALE3"_s }), "<S3" + reported + "*\r\n");
    }

    void motion_data()
    {
        QTest::addColumn<double>("zeroAt"); // -1: never zeroed
        QTest::addColumn<double>("askAt");
        QTest::addColumn<QByteArray>("replies"); // ?CTR3 then ?CTR4

        QTest::newRow("drift from start")
            << -1.0 << 10.0 << QByteArray("<C31.250*\r\n<C42.500*\r\n");
        QTest::newRow("zero both, ask at once")
            << 10.0 << 10.0 << QByteArray("<C30.000*\r\n<C40.000*\r\n");
        QTest::newRow("zero both, drift on")
            << 10.0 << 12.0 << QByteArray("<C30.250*\r\n<C40.500*\r\n");
        QTest::newRow("far out, no grouping")
            << -1.0 << 100000.0 << QByteArray("<C312500.000*\r\n<C425000.000*\r\n");
    }

    void motion()
    {
        QFETCH(double, zeroAt);
        QFETCH(double, askAt);
        QFETCH(QByteArray, replies);
        BoardModel board { BoardModel::Options {} };
        if (zeroAt >= 0.0)
            converse(board, { u"CTR3=0"_s, u"CTR4=0"_s }, zeroAt);
        QCOMPARE(converse(board, { u"?CTR3"_s, u"?CTR4"_s }, askAt), replies);
    }

    void zeroOneEncoder()
    {
        BoardModel board { BoardModel::Options {} };
        converse(board, { u"CTR4=0"_s }, 8.0);
        QCOMPARE(converse(board, { u"?CTR3"_s, u"?CTR4"_s }, 8.0),
            QByteArray("<C31.000*\r\n<C40.000*\r\n"));
    }

    void inputs_data()
    {
        QTest::addColumn<QString>("initial"); // wire order, Aux 2 first
        QTest::addColumn<QList<int>>("toggles");
        QTest::addColumn<QByteArray>("flags");
        QTest::newRow("A. Accept is the last flag")
            << u"000000"_s << QList<int> { 1 } << QByteArray("000001");
        QTest::newRow("Aux 2 is the first flag")
            << u"000000"_s << QList<int> { 6 } << QByteArray("100000");
        QTest::newRow("Zero and End of Board")
            << u"000000"_s << QList<int> { 4, 3 } << QByteArray("001100");
        QTest::newRow("toggled twice is off again")
            << u"000000"_s << QList<int> { 2, 2 } << QByteArray("000000");
        QTest::newRow("initial flags kept") << u"100001"_s << QList<int> {} << QByteArray("100001");
        QTest::newRow("initial flag toggled off")
            << u"100001"_s << QList<int> { 6 } << QByteArray("000001");
        QTest::newRow("number out of range ignored")
            << u"000000"_s << QList<int> { 0, 7 } << QByteArray("000000");
    }

    void inputs()
    {
        QFETCH(QString, initial);
        QFETCH(QList<int>, toggles);
        QFETCH(QByteArray, flags);
        BoardModel::Options options = stillBoard();
        for (int number = 1; number <= 6; ++number)
            options.inputs[number - 1] = initial.at(6 - number) == u'1';
        BoardModel board(options);
        for (int number : toggles)
            board.toggleInput(number);
        QCOMPARE(converse(board, { u"?INPUTS"_s }), "<IN" + flags + "*\r\n");
    }

    void readingLine_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("burst value") << 3.0 << QByteArray("<KS3.000*\r\n");
        QTest::newRow("rounded to three decimals") << 12.3456 << QByteArray("<KS12.346*\r\n");
        QTest::newRow("negative") << -1.25 << QByteArray("<KS-1.250*\r\n");
        QTest::newRow("large, no grouping") << 1234567.5 << QByteArray("<KS1234567.500*\r\n");
    }

    void readingLine()
    {
        QFETCH(double, value);
        QFETCH(QByteArray, line);
        BoardModel board(stillBoard());
        QCOMPARE(board.readingLine(value), line);
    }

    void splitScaleArgument_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::newRow("6 + 6") << u"03E03C002710"_s << u"03E03C"_s << u"002710"_s;
        QTest::newRow("2 + 1") << u"C88"_s << u"C8"_s << u"8"_s;
        QTest::newRow("1 + 1") << u"50"_s << u"5"_s << u"0"_s;
        QTest::newRow("6 + 1") << u"00012CC"_s << u"00012C"_s << u"C"_s;
        QTest::newRow("7 + 6") << u"10000000A1428"_s << u"1000000"_s << u"0A1428"_s;
        QTest::newRow("8 + 6") << u"10000000A14285"_s << u"10000000"_s << u"A14285"_s;
        QTest::newRow("8 + 7") << u"1A0000001060C18"_s << u"1A000000"_s << u"1060C18"_s;
        QTest::newRow("one digit: none") << u"5"_s << QString() << QString();
        QTest::newRow("six digits: none") << u"03E03C"_s << QString() << QString();
        QTest::newRow("sixteen digits: none") << u"0123456789ABCDEF"_s << QString() << QString();
        QTest::newRow("blank inside: none") << u"03E03C 02710"_s << QString() << QString();
    }

    void splitScaleArgument()
    {
        QFETCH(QString, argument);
        QFETCH(QString, a);
        QFETCH(QString, b);
        const auto fields = BoardModel::splitScaleArgument(argument);
        QCOMPARE(fields.has_value(), !a.isEmpty());
        if (fields) {
            QCOMPARE(fields->a.toString(), a);
            QCOMPARE(fields->b.toString(), b);
        }
    }
};

QTEST_GUILESS_MAIN(tst_BoardModel)
#include "tst_boardmodel.moc"
