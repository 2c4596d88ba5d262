// SPDX-License-Identifier: MIT
// The board's lines through the real port: framing, the labels and
// indicators they set, the raw view, and readings into the log view and the
// CSV file.

#include "ui/shape.h"
#include "setuprig.h"

#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTest>
#include <QTextBlock>

using namespace Qt::StringLiterals;

namespace {

const QLocale English(QLocale::English, QLocale::UnitedStates);
const QLocale German(QLocale::German, QLocale::Germany);

} // namespace

class tst_ReceivePath : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void labels_data();
    void labels();
    void rxLine_data();
    void rxLine();
    void indicators_data();
    void indicators();
    void rawViewOnlyWhilePolling();
    void unknownKindsOnlyReachTheRawView();
    void rawViewKeepsTheNewestThousandLines();
    void readingsReachTheLogViewAndFile_data();
    void readingsReachTheLogViewAndFile();
    void burstOfReadingsKeepsOrder();
};

void tst_ReceivePath::labels_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QByteArrayList>("chunks"); // sent one after another
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("expected");

    QTest::newRow("position rounded to three decimals")
        << English << QByteArrayList { "<C312.3456*\r\n" } << u"lblCounter3"_s << u"12.346"_s;
    QTest::newRow("position split over three chunks")
        << English << QByteArrayList { "<C", "40.5", "*\r\n" } << u"lblCounter4"_s << u"0.500"_s;
    QTest::newRow("one character at a time")
        << English << QByteArrayList { "<", "C", "3", "-", "3", "*", "\r", "\n" }
        << u"lblCounter3"_s << u"-3.000"_s;
    QTest::newRow("LF CR ending") << English << QByteArrayList { "<C312345.6*\n\r" }
                                  << u"lblCounter3"_s << u"12345.600"_s;
    QTest::newRow("CR alone ends a line")
        << English << QByteArrayList { "<C47*\r" } << u"lblCounter4"_s << u"7.000"_s;
    QTest::newRow("German position")
        << German << QByteArrayList { "<C312.3456*\r\n" } << u"lblCounter3"_s << u"12,346"_s;
    QTest::newRow("scale 2540.12")
        << English << QByteArrayList { "<S303E03C*\r\n" } << u"lblScale3"_s << u"2540.12"_s;
    QTest::newRow("German scale") << German << QByteArrayList { "<S303E03C*\r\n" } << u"lblScale3"_s
                                  << u"2540,12"_s;
}

void tst_ReceivePath::labels()
{
    QFETCH(QLocale, locale);
    QFETCH(QByteArrayList, chunks);
    QFETCH(QString, label);
    QFETCH(QString, expected);

    SetupRig rig(locale);
    QVERIFY(rig.start());
    for (const QByteArray& chunk : chunks) {
        QVERIFY(rig.board.send(chunk));
        QTest::qWait(20);
    }
    // A marker line after the case: once it has been handled, so has the case.
    QVERIFY(rig.board.send("<END*\r\n"));
    QTRY_COMPARE(rig.module->RxLine, u"<END*"_s);
    QCOMPARE(rig.child<QLabel>(label)->text(), expected);
}

void tst_ReceivePath::rxLine_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("NUL reads as a space") << QByteArray("<ZZ\0A*\r\n", 8) << u"<ZZ A*"_s;
    QTest::newRow("LF inside a line is dropped") << QByteArray("<Z\nZ1*\r\n") << u"<ZZ1*"_s;
    QTest::newRow("empty lines produce nothing") << QByteArray("<ZZ2*\r\n\r\n\r\r") << u"<ZZ2*"_s;
}

void tst_ReceivePath::rxLine()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);

    SetupRig rig;
    QVERIFY(rig.start());
    QVERIFY(rig.showSetup());
    QVERIFY(rig.waitPolling());
    auto* raw = rig.child<QPlainTextEdit>(u"Text1"_s);
    QVERIFY(rig.board.send(bytes));
    QTRY_COMPARE(rig.module->RxLine, expected);
    QTest::qWait(50);
    // Exactly one line in the raw view.
    QCOMPARE(raw->toPlainText(), expected);
}

void tst_ReceivePath::indicators_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("lit"); // '1' for each of Shape1..Shape6 that is green

    QTest::newRow("A. Accept only") << QByteArray("<IN000001*\r\n") << u"100000"_s;
    QTest::newRow("two flags light Aux 2 and Aux 1") << QByteArray("<IN11\r\n") << u"000011"_s;
}

void tst_ReceivePath::indicators()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, lit);

    SetupRig rig;
    QVERIFY(rig.start());
    // Every inputs reply sets all six: first all on, then the case.
    QVERIFY(rig.board.send("<IN111111*\r\n"));
    QTRY_COMPARE(rig.child<Shape>(u"Shape1"_s)->FillColor(), QColor(0, 255, 0));
    QVERIFY(rig.board.send(line));
    QTRY_COMPARE(rig.module->RxLine, QString::fromLatin1(line.chopped(2)));
    for (int i = 0; i < 6; ++i) {
        const QColor expected = lit[i] == u'1' ? QColor(0, 255, 0) : QColor(128, 128, 128);
        QCOMPARE(rig.child<Shape>(u"Shape%1"_s.arg(i + 1))->FillColor(), expected);
    }
}

void tst_ReceivePath::rawViewOnlyWhilePolling()
{
    SetupRig rig;
    QVERIFY(rig.start());
    auto* raw = rig.child<QPlainTextEdit>(u"Text1"_s);

    // Hidden: handled, never shown, not even later.
    QVERIFY(rig.board.send("<C31*\r\n"));
    QTRY_COMPARE(rig.child<QLabel>(u"lblCounter3"_s)->text(), u"1.000"_s);
    QCOMPARE(raw->toPlainText(), QString());

    QVERIFY(rig.showSetup());
    QVERIFY(rig.waitPolling());
    QVERIFY(rig.board.send("<C32*\r\n<C43*\r\n"));
    QTRY_COMPARE(raw->toPlainText(), u"<C32*\n<C43*"_s);

    // The main window active: polling stops and lines are no longer shown.
    QVERIFY(rig.activateMain());
    QVERIFY(rig.board.send("<C34*\r\n"));
    QTRY_COMPARE(rig.child<QLabel>(u"lblCounter3"_s)->text(), u"4.000"_s);
    QCOMPARE(raw->toPlainText(), u"<C32*\n<C43*"_s);
}

void tst_ReceivePath::unknownKindsOnlyReachTheRawView()
{
    SetupRig rig;
    QVERIFY(rig.start());
    QVERIFY(rig.showSetup());
    QVERIFY(rig.waitPolling());
    QVERIFY(rig.board.send("<XY12.5*\r\n<K\r\nC3\r\n"));
    auto* raw = rig.child<QPlainTextEdit>(u"Text1"_s);
    QTRY_COMPARE(raw->toPlainText(), u"<XY12.5*\n<K\nC3"_s);
    for (const char* name : { "lblScale3", "lblScale4", "lblCounter3", "lblCounter4" })
        QCOMPARE(rig.child<QLabel>(QString::fromLatin1(name))->text(), u"2540.12"_s);
    QCOMPARE(rig.main->logView()->toPlainText(), QString());
    QCOMPARE(rig.module->CurrentScale3, 0.0);
}

void tst_ReceivePath::rawViewKeepsTheNewestThousandLines()
{
    SetupRig rig;
    QVERIFY(rig.start());
    QVERIFY(rig.showSetup());
    QVERIFY(rig.waitPolling());
    QByteArray lines;
    for (int i = 1; i <= 1100; ++i)
        lines += "<ZZ" + QByteArray::number(i) + "*\r\n";
    QVERIFY(rig.board.send(lines));
    QTRY_COMPARE(rig.module->RxLine, u"<ZZ1100*"_s);
    auto* raw = rig.child<QPlainTextEdit>(u"Text1"_s);
    QCOMPARE(raw->blockCount(), 1000);
    QCOMPARE(raw->document()->firstBlock().text(), u"<ZZ101*"_s);
    QCOMPARE(raw->document()->lastBlock().text(), u"<ZZ1100*"_s);
}

void tst_ReceivePath::readingsReachTheLogViewAndFile_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("datePattern");

    QTest::newRow("English") << English << u"1.235"_s << uR"(\d{1,2}/\d{1,2}/\d{4})"_s;
    QTest::newRow("German") << German << u"1,235"_s << uR"(\d{2}\.\d{2}\.\d{4})"_s;
}

static QByteArray readCsv(const SetupRig& rig)
{
    QFile csv(rig.folder.filePath(u"Default.csv"_s));
    return csv.open(QIODevice::ReadOnly) ? csv.readAll() : QByteArray();
}

void tst_ReceivePath::readingsReachTheLogViewAndFile()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, value);
    QFETCH(QString, datePattern);

    SetupRig rig(locale);
    QVERIFY(rig.start());
    // The setup window stays hidden: readings are logged in the background.
    QVERIFY(rig.board.send("<KS1.23456*\r\n"));
    QTRY_VERIFY(!rig.main->logView()->toPlainText().isEmpty());
    QCOMPARE(rig.module->CurrentReading, 1.235);
    QCOMPARE(rig.module->ReadingText, value);
    QVERIFY(QRegularExpression(u"^"_s + datePattern + u"$"_s)
                .match(rig.module->ReadingDate)
                .hasMatch());

    const QString viewLine
        = value + u'\t' + rig.module->ReadingDate + u'\t' + rig.module->ReadingTime;
    QCOMPARE(rig.main->logView()->toPlainText(), viewLine);

    // The file is written once the receive handler has returned.
    const QByteArray expected = (u"\""_s + value + u"\",\""_s + rig.module->ReadingDate + u"\",\""_s
        + rig.module->ReadingTime + u"\"\r\n"_s)
                                    .toLocal8Bit();
    QTRY_COMPARE(readCsv(rig), expected);
}

void tst_ReceivePath::burstOfReadingsKeepsOrder()
{
    SetupRig rig;
    QVERIFY(rig.start());
    constexpr int Count = 500;
    QByteArray burst;
    for (int i = 1; i <= Count; ++i)
        burst += "<KS" + QByteArray::number(i) + ".000*\r\n";
    QVERIFY(rig.board.send(burst));
    QTRY_COMPARE(rig.module->RxLine, u"<KS%1.000*"_s.arg(Count));

    QTRY_COMPARE(readCsv(rig).count('\n'), Count);
    const QList<QByteArray> records = readCsv(rig).split('\n');
    QCOMPARE(records.size(), Count + 1); // the last split is empty
    for (int i = 0; i < Count; ++i)
        QVERIFY2(records[i].startsWith("\"" + QByteArray::number(i + 1) + "\","),
            records[i].constData());
}

QTEST_MAIN(tst_ReceivePath)
#include "tst_receivepath.moc"
