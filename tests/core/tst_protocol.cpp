// SPDX-License-Identifier: MIT
#include "core/numbertext.h"
#include "core/protocol.h"

#include <QTest>

using namespace Qt::StringLiterals;
using protocol::ReplyKind;

namespace {

const QLocale English(QLocale::English, QLocale::UnitedStates);
const QLocale German(QLocale::German, QLocale::Germany);

using Flags = std::array<bool, 6>;

} // namespace

Q_DECLARE_METATYPE(protocol::ReplyKind)
Q_DECLARE_METATYPE(Flags)

class tst_Protocol : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(English); }

    void commandLine_data();
    void commandLine();
    void scaleArgument_data();
    void scaleArgument();
    void replyKind_data();
    void replyKind();
    void valueField_data();
    void valueField();
    void decodeScaleField_data();
    void decodeScaleField();
    void inputFlags_data();
    void inputFlags();
    void decodeReply_data();
    void decodeReply();
};

void tst_Protocol::commandLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("?CTR3") << protocol::RequestCounter3.toString() << QByteArray("?CTR3\r\n");
    QTest::newRow("?CTR4") << protocol::RequestCounter4.toString() << QByteArray("?CTR4\r\n");
    QTest::newRow("?SCALE3") << protocol::RequestScale3.toString() << QByteArray("?SCALE3\r\n");
    QTest::newRow("?SCALE4") << protocol::RequestScale4.toString() << QByteArray("?SCALE4\r\n");
    QTest::newRow("?INPUTS") << protocol::RequestInputs.toString() << QByteArray("?INPUTS\r\n");
    QTest::newRow("CTR3=0") << protocol::CommandZero3.toString() << QByteArray("CTR3=0\r\n");
    QTest::newRow("CTR4=0") << protocol::CommandZero4.toString() << QByteArray("CTR4=0\r\n");
    QTest::newRow("MESS=1") << protocol::CommandGoodPart.toString() << QByteArray("MESS=1\r\n");
    QTest::newRow("MESS=0") << protocol::CommandBadPart.toString() << QByteArray("MESS=0\r\n");
    QTest::newRow("SCALE3= for 2540.12")
        << protocol::CommandScale3.toString() + protocol::scaleArgument(2540.12)
        << QByteArray("SCALE3=03E03C002710\r\n");
    QTest::newRow("SCALE4= for 100")
        << protocol::CommandScale4.toString() + protocol::scaleArgument(100)
        << QByteArray("SCALE4=00271000018A\r\n");
}

void tst_Protocol::commandLine()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(protocol::commandLine(text), bytes);
}

void tst_Protocol::scaleArgument_data()
{
    QTest::addColumn<double>("factor");
    QTest::addColumn<QString>("argument");

    QTest::newRow("2540.12: B is 100.00") << 2540.12 << u"03E03C002710"_s;
    QTest::newRow("1000: B is 39.37") << 1000.0 << u"0186A0000F61"_s;
    QTest::newRow("254: B is 10.00") << 254.0 << u"0063380003E8"_s;
    QTest::newRow("12.: B is 0.47") << 12.0 << u"0004B000002F"_s;
    QTest::newRow("100: B 3.937 taken to 3.94") << 100.0 << u"00271000018A"_s;
    QTest::newRow("2: A of two digits and B of one, neither filled") << 2.0 << u"C88"_s;
    QTest::newRow("167772.16: A of seven digits sent whole") << 167772.16 << u"10000000A1428"_s;
    QTest::newRow("167772.15: top of the twelve-digit range") << 167772.15 << u"FFFFFF0A1428"_s;
    QTest::newRow("3.94: bottom of the twelve-digit range") << 3.94 << u"00018A000010"_s;
    QTest::newRow("3.93: B of one digit unfilled") << 3.93 << u"000189F"_s;
    QTest::newRow("2.56: A of three digits filled, B of one not") << 2.56 << u"000100A"_s;
    QTest::newRow("2.55: A of two digits unfilled") << 2.55 << u"FFA"_s;
    QTest::newRow("2540.123 sends the same as 2540.12") << 2540.123 << u"03E03C002710"_s;
    QTest::newRow("2540.125 rounds half up to 2540.13") << 2540.125 << u"03E03D002711"_s;
    QTest::newRow("2.675 rounds on the decimal form to 2.68") << 2.675 << u"00010CB"_s;
    QTest::newRow("0: both fields a single 0") << 0.0 << u"00"_s;
    QTest::newRow("negative factor in 32-bit two's complement") << -1.0 << u"FFFFFF9CFFFFFFFC"_s;
}

void tst_Protocol::scaleArgument()
{
    QFETCH(double, factor);
    QFETCH(QString, argument);
    QCOMPARE(protocol::scaleArgument(factor), argument);
}

void tst_Protocol::replyKind_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<ReplyKind>("kind");

    QTest::newRow("<C3") << u"<C312.3456x"_s << ReplyKind::Counter3;
    QTest::newRow("<C4") << u"<C4-3x"_s << ReplyKind::Counter4;
    QTest::newRow("<S3") << u"<S303E03Cx"_s << ReplyKind::Scale3;
    QTest::newRow("<S4") << u"<S40032x"_s << ReplyKind::Scale4;
    QTest::newRow("<IN") << u"<IN000001x"_s << ReplyKind::Inputs;
    QTest::newRow("<KS") << u"<KS1.23456x"_s << ReplyKind::Reading;
    QTest::newRow("kind alone") << u"<KS"_s << ReplyKind::Reading;
    QTest::newRow("lower-case kind not recognised") << u"<c312.5x"_s << ReplyKind::Other;
    QTest::newRow("lower-case <ks not recognised") << u"<ks1x"_s << ReplyKind::Other;
    QTest::newRow("unknown kind") << u"<XX1x"_s << ReplyKind::Other;
    QTest::newRow("kind not at the start") << u" <C31x"_s << ReplyKind::Other;
    QTest::newRow("two characters") << u"<C"_s << ReplyKind::Other;
    QTest::newRow("empty") << QString() << ReplyKind::Other;
}

void tst_Protocol::replyKind()
{
    QFETCH(QString, line);
    QFETCH(ReplyKind, kind);
    QCOMPARE(protocol::replyKind(line), kind);
}

void tst_Protocol::valueField_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("field");

    QTest::newRow("closing character dropped") << u"<C312.3456x"_s << u"12.3456"_s;
    QTest::newRow("closing digit is not part of the field") << u"<C312.34567"_s << u"12.3456"_s;
    QTest::newRow("five characters: one-character field") << u"<S35x"_s << u"5"_s;
    QTest::newRow("four characters: empty field") << u"<S3x"_s << QString();
    QTest::newRow("three characters: empty field") << u"<S3"_s << QString();
    QTest::newRow("shorter than the kind") << u"<S"_s << QString();
}

void tst_Protocol::valueField()
{
    QFETCH(QString, line);
    QFETCH(QString, field);
    QCOMPARE(protocol::valueField(line).toString(), field);
}

void tst_Protocol::decodeScaleField_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<double>("factor");

    QTest::newRow("FFFF: 16-bit -1 hundredth") << u"FFFF"_s << -0.01;
    QTest::newRow("7FFF: 16-bit maximum") << u"7FFF"_s << 327.67;
    QTest::newRow("8000: 16-bit minimum") << u"8000"_s << -327.68;
    QTest::newRow("0032: 0.5") << u"0032"_s << 0.5;
    QTest::newRow("03E03C: 2540.12") << u"03E03C"_s << 2540.12;
    QTest::newRow("00FFFF: six digits read as 32-bit") << u"00FFFF"_s << 655.35;
    QTest::newRow("FFFFF: five digits read as 32-bit") << u"FFFFF"_s << 10485.75;
    QTest::newRow("FFFFFFFF: 32-bit -1 hundredth") << u"FFFFFFFF"_s << -0.01;
    QTest::newRow("80000000: 32-bit minimum") << u"80000000"_s << -21474836.48;
    QTest::newRow("lower-case digits") << u"03e03c"_s << 2540.12;
    QTest::newRow("blanks, tabs and LFs skipped anywhere") << u" 03 E0\t3\nC "_s << 2540.12;
    QTest::newRow("digits up to the first non-digit") << u"12G34"_s << 0.18;
    QTest::newRow("empty field reads 0") << QString() << 0.0;
    QTest::newRow("blanks only read 0") << u" \t "_s << 0.0;
    QTest::newRow("no leading hex digit reads 0") << u"G12"_s << 0.0;
    QTest::newRow("minus sign is no digit") << u"-12"_s << 0.0;
    QTest::newRow("nine digits read 0") << u"123456789"_s << 0.0;
}

void tst_Protocol::decodeScaleField()
{
    QFETCH(QString, field);
    QFETCH(double, factor);
    const double decoded = protocol::decodeScaleField(field);
    QVERIFY2(decoded == factor, qPrintable(QString::number(decoded, 'g', 17)));
}

void tst_Protocol::inputFlags_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<Flags>("flags");

    QTest::newRow("000001 lights only A. Accept")
        << u"<IN000001x"_s << Flags { true, false, false, false, false, false };
    QTest::newRow("100000 lights only Aux 2")
        << u"<IN100000x"_s << Flags { false, false, false, false, false, true };
    QTest::newRow("two flags 11 light Aux 2 and Aux 1, grey the rest")
        << u"<IN11"_s << Flags { false, false, false, false, true, true };
    QTest::newRow("all six") << u"<IN111111"_s << Flags { true, true, true, true, true, true };
    QTest::newRow("only the character 1 is active")
        << u"<IN1x1 1Y"_s << Flags { false, true, false, true, false, true };
    QTest::newRow("characters after position 9 not examined") << u"<IN000000111"_s << Flags {};
    QTest::newRow("kind alone: all inactive") << u"<IN"_s << Flags {};
}

void tst_Protocol::inputFlags()
{
    QFETCH(QString, line);
    QFETCH(Flags, flags);
    QCOMPARE(protocol::inputFlags(line), flags);
}

void tst_Protocol::decodeReply_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("decoded");
    QTest::addColumn<ReplyKind>("kind");
    QTest::addColumn<double>("value");
    // What the setup window shows for it (position or scale format), if anything.
    QTest::addColumn<QString>("shown");

    const auto row = [](const char* name) { return &QTest::newRow(name); };
    *row("<C3 12.3456 shows 12.346")
        << English << u"<C312.3456x"_s << true << ReplyKind::Counter3 << 12.3456 << u"12.346"_s;
    *row("<C4 -3 shows -3.000") << English << u"<C4-3x"_s << true << ReplyKind::Counter4 << -3.0
                                << u"-3.000"_s;
    *row("<C3 0.5 shows 0.500") << English << u"<C30.5x"_s << true << ReplyKind::Counter3 << 0.5
                                << u"0.500"_s;
    *row("<C3 12345.6 shows 12345.600")
        << English << u"<C312345.6x"_s << true << ReplyKind::Counter3 << 12345.6 << u"12345.600"_s;
    *row("German <C3 keeps the board's point")
        << German << u"<C312.3456x"_s << true << ReplyKind::Counter3 << 12.3456 << u"12,346"_s;
    *row("<S3 03E03C sets 2540.12")
        << English << u"<S303E03Cx"_s << true << ReplyKind::Scale3 << 2540.12 << u"2540.12"_s;
    *row("<S4 0032 sets 0.5 shown .50")
        << English << u"<S40032x"_s << true << ReplyKind::Scale4 << 0.5 << u".50"_s;
    *row("<S3 FFFF sets -0.01") << English << u"<S3FFFFx"_s << true << ReplyKind::Scale3 << -0.01
                                << u"-.01"_s;
    *row("four-character scale reply decodes to 0")
        << English << u"<S3x"_s << true << ReplyKind::Scale3 << 0.0 << u".00"_s;
    *row("scale reply without hex digits decodes to 0")
        << English << u"<S4zzzzx"_s << true << ReplyKind::Scale4 << 0.0 << u".00"_s;
    *row("<KS 1.23456 read as 1.235")
        << English << u"<KS1.23456x"_s << true << ReplyKind::Reading << 1.235 << QString();
    *row("<KS 1.0005 read as 1.001")
        << English << u"<KS1.0005x"_s << true << ReplyKind::Reading << 1.001 << QString();
    *row("<KS tiny negative read as 0")
        << English << u"<KS-0.0004x"_s << true << ReplyKind::Reading << 0.0 << QString();
    *row("German <KS 12.345 is not twelve thousand")
        << German << u"<KS12.345x"_s << true << ReplyKind::Reading << 12.345 << QString();
    *row("German <KS with a comma")
        << German << u"<KS12,5x"_s << true << ReplyKind::Reading << 12.5 << QString();
    *row("<IN is decoded") << English << u"<IN000001x"_s << true << ReplyKind::Inputs << 0.0
                           << QString();
    *row("lower-case kind ignored")
        << English << u"<c312.5x"_s << false << ReplyKind::Other << 0.0 << QString();
    *row("unknown kind ignored") << English << u"<ZZ12x"_s << false << ReplyKind::Other << 0.0
                                 << QString();
    *row("value reply of three characters ignored")
        << English << u"<C3"_s << false << ReplyKind::Other << 0.0 << QString();
    *row("position with empty field ignored")
        << English << u"<C3x"_s << false << ReplyKind::Other << 0.0 << QString();
    *row("reading that is no number ignored")
        << English << u"<KSabcx"_s << false << ReplyKind::Other << 0.0 << QString();
    *row("English reading with a comma ignored")
        << English << u"<KS12,5x"_s << false << ReplyKind::Other << 0.0 << QString();
}

void tst_Protocol::decodeReply()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, line);
    QFETCH(bool, decoded);
    QFETCH(ReplyKind, kind);
    QFETCH(double, value);
    QFETCH(QString, shown);

    const std::optional<protocol::DecodedReply> reply = protocol::decodeReply(line, locale);
    QCOMPARE(reply.has_value(), decoded);
    if (!decoded)
        return;
    QCOMPARE(reply->kind, kind);
    QVERIFY2(reply->value == value, qPrintable(QString::number(reply->value, 'g', 17)));
    switch (kind) {
    case ReplyKind::Counter3:
    case ReplyKind::Counter4:
        QCOMPARE(numbertext::formatPosition(reply->value, locale), shown);
        break;
    case ReplyKind::Scale3:
    case ReplyKind::Scale4:
        QCOMPARE(numbertext::formatScale(reply->value, locale), shown);
        break;
    case ReplyKind::Inputs:
        QCOMPARE(reply->inputs, protocol::inputFlags(line));
        break;
    default:
        break;
    }
}

QTEST_APPLESS_MAIN(tst_Protocol)
#include "tst_protocol.moc"
