// SPDX-License-Identifier: MIT
#include "core/logring.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QString reading(qsizetype n)
{
    return QString::number(n) + u"\t12/7/2026\t4:19:14 AM"_s;
}

// Lines 1..count, handed over `batch` at a time (0: all in one go).
qsizetype fill(LogRing& ring, qsizetype count, qsizetype batch)
{
    qsizetype dropped = 0;
    QStringList lines;
    for (qsizetype n = 1; n <= count; ++n) {
        lines.append(reading(n));
        if (batch > 0 && lines.size() == batch) {
            dropped += ring.append(lines);
            lines.clear();
        }
    }
    return dropped + ring.append(lines);
}

} // namespace

class tst_LogRing : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keepsTheNewestLines_data()
    {
        QTest::addColumn<qsizetype>("capacity");
        QTest::addColumn<qsizetype>("trimStep");
        QTest::addColumn<qsizetype>("appended");
        QTest::addColumn<qsizetype>("batch");
        QTest::addColumn<qsizetype>("expectedSize");

        QTest::newRow("below the limit") << 10LL << 3LL << 7LL << 1LL << 7LL;
        QTest::newRow("exactly full, nothing dropped") << 10LL << 3LL << 10LL << 1LL << 10LL;
        QTest::newRow("one past full drops the trim step") << 10LL << 3LL << 11LL << 1LL << 8LL;
        QTest::newRow("one past full, in one batch") << 10LL << 3LL << 11LL << 0LL << 8LL;
        QTest::newRow("program's limit, 100,001 lines")
            << 100000LL << 1000LL << 100001LL << 1LL << 99001LL;
        QTest::newRow("program's limit, 100,500 lines in passes of 37")
            << 100000LL << 1000LL << 100500LL << 37LL << 99500LL;
        QTest::newRow("program's limit, full again just before a trim")
            << 100000LL << 1000LL << 350000LL << 64LL << 100000LL;
        QTest::newRow("trim step not a block's size, many times round")
            << 3000LL << 7LL << 10001LL << 5LL << 2994LL;
        QTest::newRow("trim step of one") << 5LL << 1LL << 12LL << 1LL << 5LL;
        QTest::newRow("trim step above the capacity is cut to it")
            << 5LL << 50LL << 6LL << 1LL << 1LL;
        QTest::newRow("one pass longer than the whole ring")
            << 2048LL << 1000LL << 7000LL << 0LL << 2000LL;
    }

    void keepsTheNewestLines()
    {
        QFETCH(qsizetype, capacity);
        QFETCH(qsizetype, trimStep);
        QFETCH(qsizetype, appended);
        QFETCH(qsizetype, batch);
        QFETCH(qsizetype, expectedSize);

        LogRing ring(capacity, trimStep);
        const qsizetype dropped = fill(ring, appended, batch);
        QCOMPARE(ring.size(), expectedSize);
        QCOMPARE(dropped, appended - expectedSize);
        const qsizetype first = appended - expectedSize + 1;
        for (qsizetype row = 0; row < ring.size(); ++row) {
            if (ring.line(row) != reading(first + row))
                QFAIL(qPrintable(u"row %1 holds \"%2\""_s.arg(row).arg(ring.line(row))));
        }
        QCOMPARE(ring.line(ring.size()), QString());
        QCOMPARE(ring.line(-1), QString());
    }

    void keepsTheTextAsGiven_data()
    {
        QTest::addColumn<QString>("line");

        QTest::newRow("ASCII reading") << u"12.345\t12/7/2026\t4:19:14 PM"_s;
        QTest::newRow("German comma and dots") << u"-0,5\t07.12.2026\t16:19:14"_s;
        QTest::newRow("Arabic digits and marks")
            << u"\u0661\u0662\u066b\u0663\t\u200f\u0667/\u0661\u0662/\u0662\u0660\u0662\u0666"_s;
        QTest::newRow("outside the basic plane") << u"1\t\U0001D7D8\t2"_s;
        QTest::newRow("empty line") << QString();
    }

    void keepsTheTextAsGiven()
    {
        QFETCH(QString, line);
        LogRing ring(4, 1);
        ring.append(u"before"_s);
        ring.append(line);
        ring.append(u"after"_s);
        QCOMPARE(ring.line(0), u"before"_s);
        QCOMPARE(ring.line(1), line);
        QCOMPARE(ring.line(2), u"after"_s);
    }

    // A lone half of a surrogate pair cannot be kept as it is; it must not
    // eat into the line after it either.
    void loneSurrogateStaysInItsLine()
    {
        LogRing ring(4, 1);
        ring.append(QStringView(u"a\xd800"));
        ring.append(u"next"_s);
        QVERIFY(ring.line(0).startsWith(u'a'));
        QCOMPARE(ring.line(1), u"next"_s);
    }

    void textOfRows_data()
    {
        QTest::addColumn<qsizetype>("first");
        QTest::addColumn<qsizetype>("last");
        QTest::addColumn<qsizetype>("expectedFirst"); // value of the first line, 0: none
        QTest::addColumn<qsizetype>("expectedLines");

        // 3000 lines in a ring of 2500, trim 500: lines 501..3000 are kept.
        QTest::newRow("one line") << 0LL << 0LL << 501LL << 1LL;
        QTest::newRow("across a block's end") << 1020LL << 1030LL << 1521LL << 11LL;
        QTest::newRow("all") << 0LL << 2499LL << 501LL << 2500LL;
        QTest::newRow("past the end is cut") << 2498LL << 9000LL << 2999LL << 2LL;
        QTest::newRow("before the start is cut") << -5LL << 1LL << 501LL << 2LL;
        QTest::newRow("reversed range is empty") << 10LL << 9LL << 0LL << 0LL;
    }

    void textOfRows()
    {
        QFETCH(qsizetype, first);
        QFETCH(qsizetype, last);
        QFETCH(qsizetype, expectedFirst);
        QFETCH(qsizetype, expectedLines);

        LogRing ring(2500, 500);
        fill(ring, 3000, 100);
        QCOMPARE(ring.size(), qsizetype(2500));
        QString expected;
        for (qsizetype i = 0; i < expectedLines; ++i)
            expected += reading(expectedFirst + i) + u'\n';
        QCOMPARE(ring.text(first, last, u"\n"), expected);
    }

    // Memory stays where the first fill left it: blocks are reused once the
    // ring has come round, and after "Create New Log File" empties it.
    void memoryIsFlatOnceFull_data()
    {
        QTest::addColumn<bool>("clearBetween");
        QTest::newRow("logging on") << false;
        QTest::newRow("emptied, then filled again") << true;
    }

    void memoryIsFlatOnceFull()
    {
        QFETCH(bool, clearBetween);
        LogRing ring;
        fill(ring, 300000, 64);
        const qsizetype settled = ring.allocatedBytes();
        // About 40 bytes a line here; a line as an object of its own would
        // take several times that.
        QVERIFY2(settled < 100000 * 48, qPrintable(QString::number(settled)));
        if (clearBetween) {
            ring.clear();
            QVERIFY(ring.isEmpty());
            QCOMPARE(ring.line(0), QString());
        }
        fill(ring, 500000, 64);
        QCOMPARE(ring.allocatedBytes(), settled);
        QCOMPARE(ring.line(ring.size() - 1), reading(500000));
    }
};

QTEST_APPLESS_MAIN(tst_LogRing)
#include "tst_logring.moc"
