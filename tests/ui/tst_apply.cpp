// SPDX-License-Identifier: MIT
// "Apply": what reaches the board, byte for byte, for the entries in the two
// "Change to:" boxes, which entries are skipped or refused, and the state the
// window is left in.

#include "setuprig.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QLocale English(QLocale::English, QLocale::UnitedStates);
const QLocale German(QLocale::German, QLocale::Germany);

} // namespace

class tst_Apply : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sent_data();
    void sent();
    void skipped_data();
    void skipped();
    void refused_data();
    void refused();
    void bothBoxesEmpty();
    void pollingResumesAtTheNextActivationAfterAMessage();

private:
    // A rig with the setup window shown and polling; `reply` is sent first
    // as the board's answer (a scale factor, say).
    static std::unique_ptr<SetupRig> shownRig(const QLocale& locale, const QByteArray& reply = {});
    static void enter(SetupRig& rig, const QString& text3, const QString& text4);
    // Enters both boxes, forgets what the board received so far, presses Apply.
    static void enterAndApply(SetupRig& rig, const QString& text3, const QString& text4);
    static QPushButton* apply(SetupRig& rig) { return rig.child<QPushButton>(u"cmdApply"_s); }
};

std::unique_ptr<SetupRig> tst_Apply::shownRig(const QLocale& locale, const QByteArray& reply)
{
    auto rig = std::make_unique<SetupRig>(locale);
    if (!rig->start() || !rig->showSetup() || !rig->waitPolling())
        return {};
    if (!reply.isEmpty()) {
        rig->board.send(reply + "\r\n");
        if (!QTest::qWaitFor([&] { return rig->module->RxLine.toLatin1() == reply; }, 5000))
            return {};
    }
    return rig;
}

void tst_Apply::enter(SetupRig& rig, const QString& text3, const QString& text4)
{
    rig.child<QLineEdit>(u"txtScale3"_s)->setText(text3);
    rig.child<QLineEdit>(u"txtScale4"_s)->setText(text4);
}

void tst_Apply::enterAndApply(SetupRig& rig, const QString& text3, const QString& text4)
{
    enter(rig, text3, text4);
    rig.dropReceived();
    QTest::mouseClick(apply(rig), Qt::LeftButton);
}

void tst_Apply::sent_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("text3");
    QTest::addColumn<QString>("text4");
    QTest::addColumn<QByteArrayList>("expected");

    QTest::newRow("2540.12") << English << u"2540.12"_s << u""_s
                             << QByteArrayList { "SCALE3=03E03C002710" };
    QTest::newRow("1000") << English << u"1000"_s << u""_s
                          << QByteArrayList { "SCALE3=0186A0000F61" };
    QTest::newRow("254") << English << u"254"_s << u""_s
                         << QByteArrayList { "SCALE3=0063380003E8" };
    QTest::newRow("12.") << English << u"12."_s << u""_s
                         << QByteArrayList { "SCALE3=0004B000002F" };
    QTest::newRow("100 on encoder 2")
        << English << u""_s << u"100"_s << QByteArrayList { "SCALE4=00271000018A" };
    QTest::newRow("both, encoder 1 first")
        << English << u"1000"_s << u"100"_s
        << QByteArrayList { "SCALE3=0186A0000F61", "SCALE4=00271000018A" };
    QTest::newRow("German comma is the decimal point")
        << German << u"12,5"_s << u""_s << QByteArrayList { "SCALE3=0004E2000031" };
}

void tst_Apply::sent()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, text3);
    QFETCH(QString, text4);
    QFETCH(QByteArrayList, expected);

    auto rig = shownRig(locale);
    QVERIFY(rig);
    MessageAnswerer answerer;
    enter(*rig, text3, text4);
    QVERIFY(apply(*rig)->isEnabled());
    QTest::mouseClick(apply(*rig), Qt::LeftButton);

    const QByteArrayList lines = rig->linesWritten(int(expected.size()));
    QCOMPARE(SetupRig::withoutPolls(lines), expected);
    if (expected.size() == 2) {
        // No poll request between the two commands.
        const qsizetype first = lines.indexOf(expected[0]);
        QCOMPARE(lines.indexOf(expected[1]), first + 1);
    }
    QCOMPARE(answerer.seen.size(), 0);
    QCOMPARE(rig->child<QLineEdit>(u"txtScale3"_s)->text(), QString());
    QCOMPARE(rig->child<QLineEdit>(u"txtScale4"_s)->text(), QString());
    QVERIFY(!apply(*rig)->isEnabled());
    QVERIFY(rig->setup()->isPolling());
}

void tst_Apply::skipped_data()
{
    QTest::addColumn<QByteArray>("reply"); // the board's last scale report
    QTest::addColumn<QString>("text3");
    QTest::addColumn<QString>("text4");
    QTest::addColumn<QByteArrayList>("expected");
    QTest::addColumn<QString>("label3");

    QTest::newRow("equal to the reported factor")
        << QByteArray("<S303E03C*") << u"2540.12"_s << u""_s << QByteArrayList {} << u"2540.12"_s;
    QTest::newRow("encoder 1 skipped, encoder 2 sent")
        << QByteArray("<S303E03C*") << u"2540.12"_s << u"100"_s
        << QByteArrayList { "SCALE4=00271000018A" } << u"2540.12"_s;
}

void tst_Apply::skipped()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, text3);
    QFETCH(QString, text4);
    QFETCH(QByteArrayList, expected);
    QFETCH(QString, label3);

    auto rig = shownRig(English, reply);
    QVERIFY(rig);
    MessageAnswerer answerer;
    enterAndApply(*rig, text3, text4);

    QCOMPARE(SetupRig::withoutPolls(rig->linesWritten(int(expected.size()))), expected);
    QCOMPARE(answerer.seen.size(), 0);
    // A skipped entry stays in its box; a sent one is emptied.
    const bool sent3 = expected.contains("SCALE3=03E03C002710");
    const bool sent4 = expected.contains("SCALE4=00271000018A");
    QCOMPARE(rig->child<QLineEdit>(u"txtScale3"_s)->text(), sent3 ? QString() : text3);
    QCOMPARE(rig->child<QLineEdit>(u"txtScale4"_s)->text(), sent4 ? QString() : text4);
    QVERIFY(!apply(*rig)->isEnabled());
    QVERIFY(rig->setup()->isPolling());
    // The label shows the board's last report, not the entry.
    QCOMPARE(rig->child<QLabel>(u"lblScale3"_s)->text(), label3);
}

void tst_Apply::refused_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("text3");
    QTest::addColumn<QString>("text4");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArrayList>("expected"); // what is sent all the same
    QTest::addColumn<QString>("after3"); // box texts afterwards
    QTest::addColumn<QString>("after4");

    const QString invalid = u"Please enter a valid number."_s;
    const QString range = u"Please enter a scale factor from 3.94 to 167772.15."_s;

    QTest::newRow("lone point") << QByteArray() << u"."_s << u""_s << invalid << QByteArrayList {}
                                << u"."_s << u""_s;
    QTest::newRow("letters on encoder 1, encoder 2 not examined")
        << QByteArray() << u"abc"_s << u"100"_s << invalid << QByteArrayList {} << u"abc"_s
        << u"100"_s;
    QTest::newRow("encoder 1 sent before encoder 2's lone point")
        << QByteArray() << u"1000"_s << u"."_s << invalid
        << QByteArrayList { "SCALE3=0186A0000F61" } << u""_s << u"."_s;
    QTest::newRow("below 3.94") << QByteArray() << u"3.93"_s << u""_s << range << QByteArrayList {}
                                << u"3.93"_s << u""_s;
}

void tst_Apply::refused()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, text3);
    QFETCH(QString, text4);
    QFETCH(QString, message);
    QFETCH(QByteArrayList, expected);
    QFETCH(QString, after3);
    QFETCH(QString, after4);

    auto rig = shownRig(English, reply);
    QVERIFY(rig);
    MessageAnswerer answerer;
    enterAndApply(*rig, text3, text4);

    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].text, message);
    QCOMPARE(answerer.seen[0].caption, u"Tarvik"_s);
    QCOMPARE(answerer.seen[0].icon, QMessageBox::NoIcon);
    QCOMPARE(answerer.seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

    // Nothing more is sent, not even poll requests: polling stays stopped.
    const QByteArrayList lines = rig->linesWritten(int(expected.size()), 1500);
    QCOMPARE(SetupRig::withoutPolls(lines), expected);
    QCOMPARE(lines.size(), expected.size());
    QVERIFY(!rig->setup()->isPolling());
    QCOMPARE(rig->child<QLineEdit>(u"txtScale3"_s)->text(), after3);
    QCOMPARE(rig->child<QLineEdit>(u"txtScale4"_s)->text(), after4);
    QVERIFY(apply(*rig)->isEnabled());
}

void tst_Apply::bothBoxesEmpty()
{
    auto rig = shownRig(English);
    QVERIFY(rig);
    enter(*rig, u"1"_s, QString());
    enter(*rig, QString(), QString());
    QVERIFY(apply(*rig)->isEnabled());
    rig->dropReceived();
    QTest::mouseClick(apply(*rig), Qt::LeftButton);
    QCOMPARE(SetupRig::withoutPolls(rig->linesWritten(0)), QByteArrayList {});
    QVERIFY(!apply(*rig)->isEnabled());
    QVERIFY(rig->setup()->isPolling());
}

void tst_Apply::pollingResumesAtTheNextActivationAfterAMessage()
{
    auto rig = shownRig(English);
    QVERIFY(rig);
    MessageAnswerer answerer;
    enter(*rig, u"."_s, QString());
    QTest::mouseClick(apply(*rig), Qt::LeftButton);
    QCOMPARE(answerer.seen.size(), 1);
    // The window system hands the focus back from the message box: that is
    // no activation.
    QVERIFY(rig->activateSetup());
    QVERIFY(!rig->setup()->isPolling());

    QVERIFY(rig->activateMain());
    QVERIFY(rig->activateSetup());
    QVERIFY(rig->setup()->isPolling());
    rig->dropReceived();
    QVERIFY(rig->nextLine().startsWith('?'));
}

QTEST_MAIN(tst_Apply)
#include "tst_apply.moc"
