// SPDX-License-Identifier: MIT
// Zeroing, the part verdicts, "OK" and "Cancel", and commands while the
// board's port is closed.

#include "port/boardport.h"
#include "setuprig.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_Commands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void pausedSends_data();
    void pausedSends();
    void pausedSendStartsPollingWhateverItWas();
    void dialogButtons_data();
    void dialogButtons();
    void closedPortKeepsTheEntryPending();

private:
    QPushButton* button(const QString& name) const { return m_rig->child<QPushButton>(name); }
    QLineEdit* box(int encoder) const
    {
        return m_rig->child<QLineEdit>(u"txtScale%1"_s.arg(encoder));
    }
    QTabWidget* tabs() const { return m_rig->child<QTabWidget>(u"SSTab1"_s); }

    std::unique_ptr<SetupRig> m_rig;
};

void tst_Commands::init()
{
    m_rig = std::make_unique<SetupRig>();
    QVERIFY(m_rig->start());
    QVERIFY(m_rig->showSetup());
    QVERIFY(m_rig->waitPolling());
}

void tst_Commands::cleanup()
{
    m_rig.reset();
}

void tst_Commands::pausedSends_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("tab");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("Zero the Encoder, encoder 1")
        << u"cmdZeroCounter3"_s << 0 << QByteArray("CTR3=0\r\n");
    QTest::newRow("Zero the Encoder, encoder 2")
        << u"cmdZeroCounter4"_s << 1 << QByteArray("CTR4=0\r\n");
    QTest::newRow("'Good' Part") << u"Command1"_s << 2 << QByteArray("MESS=1\r\n");
    QTest::newRow("'Bad' Part") << u"Command2"_s << 2 << QByteArray("MESS=0\r\n");
}

void tst_Commands::pausedSends()
{
    QFETCH(QString, button);
    QFETCH(int, tab);
    QFETCH(QByteArray, expected);

    tabs()->setCurrentIndex(tab);
    box(3)->setText(u"12"_s);
    this->button(u"cmdApply"_s)->setEnabled(false);
    m_rig->dropReceived();

    QPushButton* command = this->button(button);
    if (command->isVisible()) {
        QTest::mouseClick(command, Qt::LeftButton);
    } else {
        // The verdict buttons are never shown; their handlers are there.
        if (button == u"Command1"_s)
            m_rig->setup()->Command1_Click();
        else
            m_rig->setup()->Command2_Click();
    }

    QByteArray sent;
    for (const QByteArray& line : SetupRig::withoutPolls(m_rig->linesWritten(1)))
        sent += line + "\r\n";
    QCOMPARE(sent, expected);
    QCOMPARE(sent.size(), 8);
    // Nothing else changed.
    QVERIFY(m_rig->setup()->isPolling());
    QCOMPARE(box(3)->text(), u"12"_s);
    QVERIFY(!this->button(u"cmdApply"_s)->isEnabled());
    QCOMPARE(m_rig->child<QLabel>(u"lblCounter3"_s)->text(), u"2540.12"_s);
    QCOMPARE(tabs()->currentIndex(), tab);
}

void tst_Commands::pausedSendStartsPollingWhateverItWas()
{
    QVERIFY(m_rig->activateMain());
    QVERIFY(!m_rig->setup()->isPolling());
    m_rig->setup()->cmdZeroCounter3_Click();
    QVERIFY(m_rig->setup()->isPolling());
}

void tst_Commands::dialogButtons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("text3");
    QTest::addColumn<bool>("pending"); // Apply enabled before the click
    QTest::addColumn<int>("messages");
    QTest::addColumn<QByteArrayList>("expected");
    QTest::addColumn<QString>("after3");
    QTest::addColumn<bool>("pendingAfter");

    QTest::newRow("OK with a pending entry applies it")
        << u"cmdOK"_s << u"1000"_s << true << 0 << QByteArrayList { "SCALE3=0186A0000F61" } << u""_s
        << false;
    QTest::newRow("OK with nothing pending only hides, even with text")
        << u"cmdOK"_s << u"1000"_s << false << 0 << QByteArrayList {} << u"1000"_s << false;
    QTest::newRow("OK pending with empty boxes sends nothing")
        << u"cmdOK"_s << u""_s << true << 0 << QByteArrayList {} << u""_s << false;
    QTest::newRow("OK with an invalid entry: message, then hides")
        << u"cmdOK"_s << u"1.2.3"_s << true << 1 << QByteArrayList {} << u"1.2.3"_s << true;
    QTest::newRow("Cancel keeps pending entries")
        << u"cmdCancel"_s << u"1000"_s << true << 0 << QByteArrayList {} << u"1000"_s << true;
}

void tst_Commands::dialogButtons()
{
    QFETCH(QString, button);
    QFETCH(QString, text3);
    QFETCH(bool, pending);
    QFETCH(int, messages);
    QFETCH(QByteArrayList, expected);
    QFETCH(QString, after3);
    QFETCH(bool, pendingAfter);

    MessageAnswerer answerer;
    box(3)->setText(text3);
    box(4)->setText(u"7"_s);
    box(4)->clear();
    this->button(u"cmdApply"_s)->setEnabled(pending);
    tabs()->setCurrentIndex(1);
    m_rig->dropReceived();

    QTest::mouseClick(this->button(button), Qt::LeftButton);
    QCOMPARE(answerer.seen.size(), messages);
    QVERIFY(!m_rig->setup()->isVisible());
    QVERIFY(!m_rig->setup()->isPolling());
    QCOMPARE(SetupRig::withoutPolls(m_rig->linesWritten(int(expected.size()), 1200)), expected);

    // Shown again: the same entries, pending flag and tab.
    QVERIFY(m_rig->showSetup());
    QCOMPARE(box(3)->text(), after3);
    QCOMPARE(this->button(u"cmdApply"_s)->isEnabled(), pendingAfter);
    QCOMPARE(tabs()->currentIndex(), 1);
}

void tst_Commands::closedPortKeepsTheEntryPending()
{
    MessageAnswerer answerer;
    BoardPort* port = m_rig->setup()->PicComm();
    const QString portName = port->portName();
    port->close();

    box(3)->setText(u"1000"_s);
    QTest::mouseClick(button(u"cmdApply"_s), Qt::LeftButton);
    QCOMPARE(answerer.seen.size(), 0);
    QCOMPARE(box(3)->text(), u"1000"_s);
    QVERIFY(button(u"cmdApply"_s)->isEnabled());
    QVERIFY(m_rig->setup()->isPolling());

    QTest::mouseClick(button(u"cmdZeroCounter3"_s), Qt::LeftButton);
    QVERIFY(m_rig->setup()->isPolling());

    // The board back: the kept entry goes out with the next Apply, and the
    // zeroing that could not reach it is not sent after the fact.
    m_rig->dropReceived();
    QVERIFY(port->open(portName));
    QTest::mouseClick(button(u"cmdApply"_s), Qt::LeftButton);
    QCOMPARE(
        SetupRig::withoutPolls(m_rig->linesWritten(1)), QByteArrayList { "SCALE3=0186A0000F61" });
    QCOMPARE(box(3)->text(), QString());
    QVERIFY(!button(u"cmdApply"_s)->isEnabled());
}

QTEST_MAIN(tst_Commands)
#include "tst_commands.moc"
