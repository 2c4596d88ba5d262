// SPDX-License-Identifier: MIT
#include "core/numbertext.h"

#include <QTest>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

const QLocale English(QLocale::English, QLocale::UnitedStates);
const QLocale German(QLocale::German, QLocale::Germany);

// QCOMPARE on doubles is fuzzy; rounding faults are exactly one last digit off.
void compareExactly(double actual, double expected)
{
    QVERIFY2(actual == expected && std::signbit(actual) == std::signbit(expected),
        qPrintable(u"got %1, expected %2"_s.arg(
            QString::number(actual, 'g', 17), QString::number(expected, 'g', 17))));
}

} // namespace

class tst_NumberText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(English); }

    void roundDecimal_data();
    void roundDecimal();
    void formatPosition_data();
    void formatPosition();
    void formatScale_data();
    void formatScale();
    void formatReading_data();
    void formatReading();
    void parseBoardDecimal_data();
    void parseBoardDecimal();
    void parseEntryNumber_data();
    void parseEntryNumber();
};

void tst_NumberText::roundDecimal_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<double>("expected");

    QTest::newRow("2.675 to 2: half up on the decimal form, not the binary") << 2.675 << 2 << 2.68;
    QTest::newRow("1.0005 to 3: half up on the decimal form") << 1.0005 << 3 << 1.001;
    QTest::newRow("12.3456 to 3") << 12.3456 << 3 << 12.346;
    QTest::newRow("1.23456 to 3: reading example") << 1.23456 << 3 << 1.235;
    QTest::newRow("-2.675 to 2: half away from zero") << -2.675 << 2 << -2.68;
    QTest::newRow("-1.0005 to 3: half away from zero") << -1.0005 << 3 << -1.001;
    QTest::newRow("2540.123 to 2") << 2540.123 << 2 << 2540.12;
    QTest::newRow("2540.125 to 2") << 2540.125 << 2 << 2540.13;
    QTest::newRow("100.0047 to 2: field B of 2540.12") << 2540.12 / 25.4 << 2 << 100.0;
    QTest::newRow("3.937 to 2: field B of 100") << 100.0 / 25.4 << 2 << 3.94;
    QTest::newRow("9.9995 to 3: carry into a new digit") << 9.9995 << 3 << 10.0;
    QTest::newRow("999.995 to 2: carry through all nines") << 999.995 << 2 << 1000.0;
    QTest::newRow("0.0005 to 3: first digit rounds up") << 0.0005 << 3 << 0.001;
    QTest::newRow("0.0004 to 3: rounds to 0") << 0.0004 << 3 << 0.0;
    QTest::newRow("0.00004 to 3: far below the last place") << 0.00004 << 3 << 0.0;
    QTest::newRow("-0.0004 to 3: zero without sign") << -0.0004 << 3 << 0.0;
    QTest::newRow("-0 to 3: zero without sign") << -0.0 << 3 << 0.0;
    QTest::newRow("0.1+0.2 to 3") << 0.1 + 0.2 << 3 << 0.3;
    QTest::newRow("whole number unchanged") << 254.0 << 2 << 254.0;
    QTest::newRow("1e20 to 3: nothing to round") << 1e20 << 3 << 1e20;
    QTest::newRow("1/3 to 0") << 1.0 / 3 << 0 << 0.0;
    QTest::newRow("2.5 to 0: half away from zero") << 2.5 << 0 << 3.0;
    QTest::newRow("-2.5 to 0: half away from zero") << -2.5 << 0 << -3.0;
}

void tst_NumberText::roundDecimal()
{
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(double, expected);
    compareExactly(numbertext::roundDecimal(value, decimals), expected);
}

void tst_NumberText::formatPosition_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("12.3456 shows 12.346") << English << 12.3456 << u"12.346"_s;
    QTest::newRow("0.5 shows 0.500") << English << 0.5 << u"0.500"_s;
    QTest::newRow("-3 shows -3.000") << English << -3.0 << u"-3.000"_s;
    QTest::newRow("12345.6 shows 12345.600 without grouping")
        << English << 12345.6 << u"12345.600"_s;
    QTest::newRow("1.0005 shows 1.001") << English << 1.0005 << u"1.001"_s;
    QTest::newRow("-1.0005 shows -1.001") << English << -1.0005 << u"-1.001"_s;
    QTest::newRow("0 shows 0.000") << English << 0.0 << u"0.000"_s;
    QTest::newRow("-0 shows 0.000 without minus") << English << -0.0 << u"0.000"_s;
    QTest::newRow("tiny negative rounding to zero shows 0.000 without minus")
        << English << -0.0004 << u"0.000"_s;
    QTest::newRow("-0.0005 shows -0.001") << English << -0.0005 << u"-0.001"_s;
    QTest::newRow("9.9995 carries to 10.000") << English << 9.9995 << u"10.000"_s;
    QTest::newRow("1234567.25 shows all whole digits") << English << 1234567.25 << u"1234567.250"_s;
    QTest::newRow("German 12.3456 shows 12,346") << German << 12.3456 << u"12,346"_s;
    QTest::newRow("German -3 shows -3,000") << German << -3.0 << u"-3,000"_s;
    QTest::newRow("German 12345.6 shows 12345,600 without grouping")
        << German << 12345.6 << u"12345,600"_s;
}

void tst_NumberText::formatPosition()
{
    QFETCH(QLocale, locale);
    QFETCH(double, value);
    QFETCH(QString, expected);
    QCOMPARE(numbertext::formatPosition(value, locale), expected);
}

void tst_NumberText::formatScale_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("2540.12 shows 2540.12") << English << 2540.12 << u"2540.12"_s;
    QTest::newRow("0.5 shows .50") << English << 0.5 << u".50"_s;
    QTest::newRow("0 shows .00") << English << 0.0 << u".00"_s;
    QTest::newRow("-0.5 shows -.50") << English << -0.5 << u"-.50"_s;
    QTest::newRow("-0.01 shows -.01") << English << -0.01 << u"-.01"_s;
    QTest::newRow("1 shows 1.00") << English << 1.0 << u"1.00"_s;
    QTest::newRow("2.675 shows 2.68") << English << 2.675 << u"2.68"_s;
    QTest::newRow("0.005 rounds up to .01") << English << 0.005 << u".01"_s;
    QTest::newRow("0.995 carries to 1.00") << English << 0.995 << u"1.00"_s;
    QTest::newRow("tiny negative rounding to zero shows .00 without minus")
        << English << -0.004 << u".00"_s;
    QTest::newRow("167772.15 without grouping") << English << 167772.15 << u"167772.15"_s;
    QTest::newRow("German 2540.12 shows 2540,12") << German << 2540.12 << u"2540,12"_s;
    QTest::newRow("German 0.5 shows ,50") << German << 0.5 << u",50"_s;
    QTest::newRow("German 0 shows ,00") << German << 0.0 << u",00"_s;
}

void tst_NumberText::formatScale()
{
    QFETCH(QLocale, locale);
    QFETCH(double, value);
    QFETCH(QString, expected);
    QCOMPARE(numbertext::formatScale(value, locale), expected);
}

void tst_NumberText::formatReading_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("12.345 gives 12.345") << English << 12.345 << u"12.345"_s;
    QTest::newRow("100 gives 100") << English << 100.0 << u"100"_s;
    QTest::newRow("-0.5 gives -0.5") << English << -0.5 << u"-0.5"_s;
    QTest::newRow("0 gives 0") << English << 0.0 << u"0"_s;
    QTest::newRow("-0 gives 0") << English << -0.0 << u"0"_s;
    QTest::newRow("1.235 gives 1.235") << English << 1.235 << u"1.235"_s;
    QTest::newRow("0.001 gives 0.001") << English << 0.001 << u"0.001"_s;
    QTest::newRow("0.1+0.2 gives 0.3 at 15 digits") << English << 0.1 + 0.2 << u"0.3"_s;
    QTest::newRow("1/3 gives 15 significant digits")
        << English << 1.0 / 3 << u"0.333333333333333"_s;
    QTest::newRow("2/3 rounds the 15th digit") << English << 2.0 / 3 << u"0.666666666666667"_s;
    QTest::newRow("12345678.125 without grouping") << English << 12345678.125 << u"12345678.125"_s;
    QTest::newRow("15 whole digits stay plain")
        << English << 123456789012345.0 << u"123456789012345"_s;
    QTest::newRow("1e15 goes to exponent form") << English << 1e15 << u"1E+15"_s;
    QTest::newRow("0.0001 stays plain") << English << 0.0001 << u"0.0001"_s;
    QTest::newRow("0.000025 goes to exponent form") << English << -0.000025 << u"-2.5E-05"_s;
    QTest::newRow("German 12.345 gives 12,345") << German << 12.345 << u"12,345"_s;
    QTest::newRow("German -0.5 gives -0,5") << German << -0.5 << u"-0,5"_s;
    QTest::newRow("German 1234.5 without grouping") << German << 1234.5 << u"1234,5"_s;
}

void tst_NumberText::formatReading()
{
    QFETCH(QLocale, locale);
    QFETCH(double, value);
    QFETCH(QString, expected);
    QCOMPARE(numbertext::formatReading(value, locale), expected);
}

void tst_NumberText::parseBoardDecimal_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("value");

    QTest::newRow("12.3456") << English << u"12.3456"_s << true << 12.3456;
    QTest::newRow("-3") << English << u"-3"_s << true << -3.0;
    QTest::newRow("+1") << English << u"+1"_s << true << 1.0;
    QTest::newRow("12. with no decimals") << English << u"12."_s << true << 12.0;
    QTest::newRow(".5 with no whole digit") << English << u".5"_s << true << 0.5;
    QTest::newRow("-.5") << English << u"-.5"_s << true << -0.5;
    QTest::newRow("-0 reads as 0") << English << u"-0"_s << true << 0.0;
    QTest::newRow("surrounding blanks allowed") << English << u" \t12.5 "_s << true << 12.5;
    QTest::newRow("German locale reads 12.345 as twelve point three")
        << German << u"12.345"_s << true << 12.345;
    QTest::newRow("German locale also takes its comma") << German << u"12,345"_s << true << 12.345;
    QTest::newRow("empty is no number") << English << QString() << false << 0.0;
    QTest::newRow("blanks only is no number") << English << u"  "_s << false << 0.0;
    QTest::newRow("sign alone is no number") << English << u"-"_s << false << 0.0;
    QTest::newRow("point alone is no number") << English << u"."_s << false << 0.0;
    QTest::newRow("exponent rejected, the board never sends one")
        << English << u"1e3"_s << false << 0.0;
    QTest::newRow("English comma is no point") << English << u"12,5"_s << false << 0.0;
    QTest::newRow("two points") << English << u"1.2.3"_s << false << 0.0;
    QTest::newRow("blank inside the number") << English << u"1 2"_s << false << 0.0;
    QTest::newRow("letters") << English << u"abc"_s << false << 0.0;
    QTest::newRow("trailing letter") << English << u"12.5x"_s << false << 0.0;
    QTest::newRow("double sign") << English << u"--1"_s << false << 0.0;
    QTest::newRow("hex form") << English << u"0x10"_s << false << 0.0;
}

void tst_NumberText::parseBoardDecimal()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, field);
    QFETCH(bool, valid);
    QFETCH(double, value);
    const std::optional<double> parsed = numbertext::parseBoardDecimal(field, locale);
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        compareExactly(*parsed, value);
}

void tst_NumberText::parseEntryNumber_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("value");

    QTest::newRow("2540.12") << English << u"2540.12"_s << true << 2540.12;
    QTest::newRow("1000") << English << u"1000"_s << true << 1000.0;
    QTest::newRow("12. is a number") << English << u"12."_s << true << 12.0;
    QTest::newRow(".5 is a number") << English << u".5"_s << true << 0.5;
    QTest::newRow("surrounding blanks") << English << u"  42 "_s << true << 42.0;
    QTest::newRow("minus sign") << English << u"-7"_s << true << -7.0;
    QTest::newRow("plus sign") << English << u"+7"_s << true << 7.0;
    QTest::newRow("exponent 1e3") << English << u"1e3"_s << true << 1000.0;
    QTest::newRow("exponent 2.5E-1") << English << u"2.5E-1"_s << true << 0.25;
    QTest::newRow("exponent with plus 1E+2") << English << u"1E+2"_s << true << 100.0;
    QTest::newRow("exponent after bare point 12.e1") << English << u"12.e1"_s << true << 120.0;
    QTest::newRow("underflow reads as 0") << English << u"1e-400"_s << true << 0.0;
    QTest::newRow("German comma is the point") << German << u"12,5"_s << true << 12.5;
    QTest::newRow("German entry with a point") << German << u"12.5"_s << true << 12.5;
    QTest::newRow("empty") << English << QString() << false << 0.0;
    QTest::newRow("blanks only") << English << u"   "_s << false << 0.0;
    QTest::newRow("lone point") << English << u"."_s << false << 0.0;
    QTest::newRow("two points") << English << u"1.2.3"_s << false << 0.0;
    QTest::newRow("letters") << English << u"abc"_s << false << 0.0;
    QTest::newRow("English thousands separator") << English << u"1,000.5"_s << false << 0.0;
    QTest::newRow("English comma") << English << u"12,5"_s << false << 0.0;
    QTest::newRow("German thousands separator") << German << u"1.000,5"_s << false << 0.0;
    QTest::newRow("currency sign") << English << u"$5"_s << false << 0.0;
    QTest::newRow("C hex literal") << English << u"0x10"_s << false << 0.0;
    QTest::newRow("Basic hex literal") << English << u"&H10"_s << false << 0.0;
    QTest::newRow("exponent without digits") << English << u"1e"_s << false << 0.0;
    QTest::newRow("exponent without mantissa") << English << u"e3"_s << false << 0.0;
    QTest::newRow("fractional exponent") << English << u"1e3.5"_s << false << 0.0;
    QTest::newRow("overflow is no number") << English << u"1e400"_s << false << 0.0;
    QTest::newRow("sign after blank inside") << English << u"- 5"_s << false << 0.0;
}

void tst_NumberText::parseEntryNumber()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(double, value);
    const std::optional<double> parsed = numbertext::parseEntryNumber(text, locale);
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        compareExactly(*parsed, value);
}

QTEST_APPLESS_MAIN(tst_NumberText)
#include "tst_numbertext.moc"
