// SPDX-License-Identifier: MIT
// The on-screen keypad typing into the "Change to:" box of the showing tab,
// clicked with the mouse as the operator does, and the pending flag.

#include "setuprig.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_Keypad : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void keys_data();
    void keys();
    void keyTakesEffectAfterTheHandler();
    void keypadGivesTheBoxTheFocus();
    void keyboardEditsMarkPending();
    void programmaticClearMarksPending();

private:
    QLineEdit* box(int encoder) const
    {
        return m_rig->child<QLineEdit>(u"txtScale%1"_s.arg(encoder));
    }
    QPushButton* button(const QString& name) const { return m_rig->child<QPushButton>(name); }
    // One click per character: digits, '.' the point, '<' BackSpace, and
    // 'a', 'b', 'c' select tab 0, 1, 2.
    void play(const QString& keys);

    std::unique_ptr<SetupRig> m_rig;
};

void tst_Keypad::init()
{
    m_rig = std::make_unique<SetupRig>();
    QVERIFY(m_rig->start());
    QVERIFY(m_rig->showSetup());
}

void tst_Keypad::cleanup()
{
    m_rig.reset();
}

void tst_Keypad::play(const QString& keys)
{
    auto* tabs = m_rig->child<QTabWidget>(u"SSTab1"_s);
    for (const QChar key : keys) {
        if (key >= u'a' && key <= u'c') {
            tabs->setCurrentIndex(key.unicode() - u'a');
            continue;
        }
        QString name;
        if (key.isDigit())
            name = u"cmdNumber"_s + key;
        else if (key == u'.')
            name = u"cmdDecimal"_s;
        else
            name = u"cmdBackSpace"_s;
        QTest::mouseClick(button(name), Qt::LeftButton);
        // The keystroke is queued: let it arrive.
        QCoreApplication::processEvents();
    }
}

void tst_Keypad::keys_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<QString>("text3"); // box texts before
    QTest::addColumn<QString>("text4");
    QTest::addColumn<int>("anchor"); // in the showing tab's box, before
    QTest::addColumn<int>("caret");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("expected3"); // box texts after
    QTest::addColumn<QString>("expected4");
    QTest::addColumn<bool>("pending"); // Apply enabled after

    QTest::newRow("digits into an empty box")
        << 0 << u""_s << u""_s << 0 << 0 << u"125"_s << u"125"_s << u""_s << true;
    QTest::newRow("digit at the caret in the middle")
        << 0 << u"125"_s << u""_s << 1 << 1 << u"9"_s << u"1925"_s << u""_s << true;
    QTest::newRow("digit replaces the selection")
        << 0 << u"2540.12"_s << u""_s << 2 << 4 << u"7"_s << u"257.12"_s << u""_s << true;
    QTest::newRow("digit replaces a selection made backwards")
        << 0 << u"2540.12"_s << u""_s << 4 << 2 << u"7"_s << u"257.12"_s << u""_s << true;
    QTest::newRow("digits into encoder 2")
        << 1 << u""_s << u""_s << 0 << 0 << u"100"_s << u""_s << u"100"_s << true;
    QTest::newRow("point goes to the end, not the caret")
        << 0 << u"125"_s << u""_s << 1 << 1 << u"."_s << u"125."_s << u""_s << true;
    QTest::newRow("point over a selection still goes to the end")
        << 0 << u"125"_s << u""_s << 0 << 3 << u"."_s << u"125."_s << u""_s << true;
    QTest::newRow("no second point; still pending")
        << 0 << u"12.5"_s << u""_s << 0 << 0 << u"."_s << u"12.5"_s << u""_s << true;
    QTest::newRow("lone point on an empty box")
        << 1 << u""_s << u""_s << 0 << 0 << u"."_s << u""_s << u"."_s << true;
    QTest::newRow("digits follow the point at the end")
        << 0 << u"12"_s << u""_s << 0 << 0 << u".5"_s << u"12.5"_s << u""_s << true;
    QTest::newRow("point then more points")
        << 0 << u""_s << u""_s << 0 << 0 << u"1..2."_s << u"1.2"_s << u""_s << true;
    QTest::newRow("BackSpace deletes before the caret")
        << 0 << u"125"_s << u""_s << 2 << 2 << u"<"_s << u"15"_s << u""_s << true;
    QTest::newRow("BackSpace deletes the selection")
        << 0 << u"2540.12"_s << u""_s << 4 << 7 << u"<"_s << u"2540"_s << u""_s << true;
    QTest::newRow("BackSpace on an empty box changes nothing")
        << 0 << u""_s << u""_s << 0 << 0 << u"<<"_s << u""_s << u""_s << false;
    QTest::newRow("BackSpace at the start changes nothing")
        << 0 << u"125"_s << u""_s << 0 << 0 << u"<"_s << u"125"_s << u""_s << false;
    QTest::newRow("inputs tab: digits and point type nothing but mark pending")
        << 2 << u"1"_s << u"2"_s << 0 << 0 << u"7."_s << u"1"_s << u"2"_s << true;
    QTest::newRow("inputs tab: BackSpace does nothing at all")
        << 2 << u"1"_s << u"2"_s << 0 << 0 << u"<"_s << u"1"_s << u"2"_s << false;
    QTest::newRow("switching tabs types into the new tab's box")
        << 0 << u""_s << u""_s << 0 << 0 << u"12b34a5"_s << u"125"_s << u"34"_s << true;
    QTest::newRow("each box keeps its own caret across tab switches")
        << 0 << u"11"_s << u"22"_s << 1 << 1 << u"3b4a5"_s << u"1351"_s << u"224"_s << true;
    QTest::newRow("regression: selection lost across a switch to Encoder 2 and back")
        << 0 << u"19045.7"_s << u""_s << 2 << 4 << u"ba9"_s << u"1995.7"_s << u""_s << true;
    QTest::newRow("regression: backwards selection lost across a tab switch")
        << 1 << u""_s << u"2540.12"_s << 4 << 2 << u"ab<"_s << u""_s << u"25.12"_s << true;
}

void tst_Keypad::keys()
{
    QFETCH(int, tab);
    QFETCH(QString, text3);
    QFETCH(QString, text4);
    QFETCH(int, anchor);
    QFETCH(int, caret);
    QFETCH(QString, keys);
    QFETCH(QString, expected3);
    QFETCH(QString, expected4);
    QFETCH(bool, pending);

    box(3)->setText(text3);
    box(4)->setText(text4);
    m_rig->child<QTabWidget>(u"SSTab1"_s)->setCurrentIndex(tab);
    if (tab < 2) {
        // The operator has put the caret there, or selected, in the box.
        QLineEdit* target = box(tab + 3);
        target->setFocus();
        QTRY_VERIFY(target->hasFocus());
        target->setSelection(anchor, caret - anchor);
    }
    // As after a completed Apply: nothing pending.
    button(u"cmdApply"_s)->setEnabled(false);

    play(keys);

    QCOMPARE(box(3)->text(), expected3);
    QCOMPARE(box(4)->text(), expected4);
    QCOMPARE(button(u"cmdApply"_s)->isEnabled(), pending);
}

void tst_Keypad::keyTakesEffectAfterTheHandler()
{
    // A slot connected after the window's own runs right after the handler,
    // still inside the click: the digit must not be there yet.
    box(3)->setText(u"4"_s);
    QString seenInsideClick = u"unset"_s;
    connect(button(u"cmdNumber7"_s), &QPushButton::clicked, this,
        [&] { seenInsideClick = box(3)->text(); });
    QTest::mouseClick(button(u"cmdNumber7"_s), Qt::LeftButton);
    QCOMPARE(seenInsideClick, u"4"_s);
    QTRY_COMPARE(box(3)->text(), u"47"_s);
}

void tst_Keypad::keypadGivesTheBoxTheFocus()
{
    QTest::mouseClick(button(u"cmdNumber3"_s), Qt::LeftButton);
    QVERIFY(box(3)->hasFocus());
    QTRY_COMPARE(box(3)->text(), u"3"_s);
    QTest::mouseClick(button(u"cmdDecimal"_s), Qt::LeftButton);
    QVERIFY(box(3)->hasFocus());
    QTRY_COMPARE(box(3)->text(), u"3."_s);
    QCOMPARE(box(3)->cursorPosition(), 2);
    QTest::mouseClick(button(u"cmdBackSpace"_s), Qt::LeftButton);
    QVERIFY(box(3)->hasFocus());
    QTRY_COMPARE(box(3)->text(), u"3"_s);
}

void tst_Keypad::keyboardEditsMarkPending()
{
    QVERIFY(!button(u"cmdApply"_s)->isEnabled());
    box(3)->setFocus();
    QTest::keyClicks(box(3), u"1x"_s);
    QCOMPARE(box(3)->text(), u"1x"_s); // not filtered
    QVERIFY(button(u"cmdApply"_s)->isEnabled());
}

void tst_Keypad::programmaticClearMarksPending()
{
    box(4)->setText(u"5"_s);
    button(u"cmdApply"_s)->setEnabled(false);
    box(4)->clear();
    QVERIFY(button(u"cmdApply"_s)->isEnabled());
}

QTEST_MAIN(tst_Keypad)
#include "tst_keypad.moc"
