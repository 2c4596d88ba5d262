// SPDX-License-Identifier: MIT
#include "core/logtext.h"

#include <QTest>

#ifdef Q_OS_UNIX
#include <time.h>
#endif

using namespace Qt::StringLiterals;

class tst_LogText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void dateAndTime_data();
    void dateAndTime();
    void everyLocaleHasFourDigitYearAndNoZone();
    void viewLineAndRecord_data();
    void viewLineAndRecord();
};

void tst_LogText::initTestCase()
{
#ifdef Q_OS_UNIX
    // A zone whose name cannot occur in any locale's text, so a zone field
    // left in a pattern shows up in the result.
    qputenv("TZ", "XYZ+3");
    tzset();
    QVERIFY(QLocale::c().toString(QTime(4, 19, 14), u"t"_s).contains(u"XYZ"_s));
#endif
}

void tst_LogText::dateAndTime_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("morning");
    QTest::addColumn<QString>("afternoon");

    QTest::newRow("US English: M/d/yy, zone after AM/PM")
        << u"en_US"_s << u"12/7/2026"_s << u"4:19:14 AM"_s << u"4:05:09 PM"_s;
    QTest::newRow("German: two-digit year")
        << u"de_DE"_s << u"07.12.2026"_s << u"04:19:14"_s << u"16:05:09"_s;
    QTest::newRow("British English: year already four digits")
        << u"en_GB"_s << u"07/12/2026"_s << u"04:19:14"_s << u"16:05:09"_s;
    QTest::newRow("French") << u"fr_FR"_s << u"07/12/2026"_s << u"04:19:14"_s << u"16:05:09"_s;
    QTest::newRow("Japanese: letters between the fields")
        << u"ja_JP"_s << u"2026/12/07"_s << u"4時19分14秒"_s << u"16時05分09秒"_s;
    QTest::newRow("Korean: day period first, year first")
        << u"ko_KR"_s << u"2026. 12. 7."_s << u"오전 4시 19분 14초"_s << u"오후 4시 5분 9초"_s;
    QTest::newRow("Chinese: zone before the time")
        << u"zh_CN"_s << u"2026/12/7"_s << u"04:19:14"_s << u"16:05:09"_s;
    QTest::newRow("Spanish: zone in parentheses")
        << u"es_ES"_s << u"7/12/2026"_s << u"4:19:14"_s << u"16:05:09"_s;
    QTest::newRow("Bulgarian: quoted literals kept")
        << u"bg_BG"_s << u"7.12.2026 г."_s << u"4:19:14 ч."_s << u"16:05:09 ч."_s;
    QTest::newRow("C locale (LANG unset): ISO 8601 date, 24-hour time, no month name")
        << u"C"_s << u"2026-12-07"_s << u"04:19:14"_s << u"16:05:09"_s;
    QTest::newRow("POSIX locale: the same as C")
        << u"POSIX"_s << u"2026-12-07"_s << u"04:19:14"_s << u"16:05:09"_s;
    QTest::newRow("Taiwanese: zone in brackets, day period field")
        << u"zh_TW"_s << u"2026/12/7"_s << u"上午4:19:14"_s << u"下午4:05:09"_s;
}

void tst_LogText::dateAndTime()
{
    QFETCH(QString, locale);
    QFETCH(QString, date);
    QFETCH(QString, morning);
    QFETCH(QString, afternoon);

    const LogTextFormat format { QLocale(locale) };
    QCOMPARE(format.date(QDate(2026, 12, 7)), date);
    QCOMPARE(format.time(QTime(4, 19, 14)), morning);
    QCOMPARE(format.time(QTime(16, 5, 9)), afternoon);
}

void tst_LogText::everyLocaleHasFourDigitYearAndNoZone()
{
    const QList<QLocale> locales
        = QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    QVERIFY(locales.size() > 100);
    const QDate day(2026, 12, 7);
    const QTime moment(4, 19, 14);
    for (const QLocale& locale : locales) {
        const LogTextFormat format(locale);
        const QString date = format.date(day);
        const QString time = format.time(moment);
        const QByteArray where = (locale.name() + u": "_s + date + u" | "_s + time).toUtf8();

        // Exactly once: a four-digit year must not be widened again.
        const QString year = locale.toString(day, u"yyyy"_s);
        QVERIFY2(date.count(year) == 1, where.constData());

        QVERIFY2(!time.contains(u"XYZ"_s), where.constData());
        QVERIFY2(time == time.trimmed(), where.constData());
        QVERIFY2(!time.contains(u"()"_s) && !time.contains(u"[]"_s), where.constData());
        QVERIFY2(time.contains(locale.toString(moment, u"mm"_s)), where.constData());
        QVERIFY2(time.contains(locale.toString(moment, u"ss"_s)), where.constData());
    }
}

void tst_LogText::viewLineAndRecord_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("viewLine");
    QTest::addColumn<QByteArray>("record");

    QTest::newRow("reading") << u"12.345"_s << u"12/7/2026"_s << u"4:19:14 AM"_s
                             << u"12.345\t12/7/2026\t4:19:14 AM\r\n"_s
                             << QByteArray("\"12.345\",\"12/7/2026\",\"4:19:14 AM\"\r\n");
    QTest::newRow("zero is the single digit 0")
        << u"0"_s << u"12/7/2026"_s << u"4:19:14 AM"_s << u"0\t12/7/2026\t4:19:14 AM\r\n"_s
        << QByteArray("\"0\",\"12/7/2026\",\"4:19:14 AM\"\r\n");
    QTest::newRow("negative keeps its sign")
        << u"-0.5"_s << u"12/7/2026"_s << u"4:19:14 AM"_s << u"-0.5\t12/7/2026\t4:19:14 AM\r\n"_s
        << QByteArray("\"-0.5\",\"12/7/2026\",\"4:19:14 AM\"\r\n");
    QTest::newRow("decimal comma stays inside the quotes")
        << u"-12,5"_s << u"07.12.2026"_s << u"16:05:09"_s << u"-12,5\t07.12.2026\t16:05:09\r\n"_s
        << QByteArray("\"-12,5\",\"07.12.2026\",\"16:05:09\"\r\n");
#ifndef Q_OS_WIN
    // Unix systems use UTF-8 as their 8-bit encoding.
    QTest::newRow("non-ASCII texts in the 8-bit encoding")
        << u"1,5"_s << u"7.12.2026 г."_s << u"4:19:14 ч."_s
        << u"1,5\t7.12.2026 г.\t4:19:14 ч.\r\n"_s
        << QByteArray("\"1,5\",\"7.12.2026 \xd0\xb3.\",\"4:19:14 \xd1\x87.\"\r\n");
#endif
}

void tst_LogText::viewLineAndRecord()
{
    QFETCH(QString, value);
    QFETCH(QString, date);
    QFETCH(QString, time);
    QFETCH(QString, viewLine);
    QFETCH(QByteArray, record);

    const ReadingTexts texts { value, date, time };
    QCOMPARE(logViewLine(texts), viewLine);
    QCOMPARE(csvRecord(texts), record);
}

QTEST_APPLESS_MAIN(tst_LogText)
#include "tst_logtext.moc"
