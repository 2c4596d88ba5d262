// SPDX-License-Identifier: MIT
// Polling follows activation among the program's own two windows, asks for
// what the showing tab displays, and the load and unload of the setup window
// open and close the board's port.

#include "port/boardport.h"
#include "setuprig.h"
#include "ui/messagebox.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_Polling : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void hiddenWindowSendsNothing();
    void pollSequencePerTab_data();
    void pollSequencePerTab();
    void switchingTabsKeepsThePhase();
    void mainWindowActiveStopsRequests();
    void comingBackEmptiesTheRawView();
    void otherWindowsNeitherActivateNorDeactivate();
    void closingAMessageBoxDoesNotActivate();
    void hidingStopsPolling_data();
    void hidingStopsPolling();
    void closeBoxUnloadsAndSetupLoadsAfresh();
    void requestsToAClosedPortAreDropped();

private:
    QTabWidget* tabs() const { return m_rig->child<QTabWidget>(u"SSTab1"_s); }

    std::unique_ptr<SetupRig> m_rig;
};

void tst_Polling::init()
{
    m_rig = std::make_unique<SetupRig>();
    QVERIFY(m_rig->start());
}

void tst_Polling::cleanup()
{
    m_rig.reset();
}

void tst_Polling::hiddenWindowSendsNothing()
{
    QVERIFY(!m_rig->setup()->isVisible());
    QVERIFY(!m_rig->setup()->isPolling());
    QTest::qWait(2000);
    QCOMPARE(m_rig->board.takeReceived(), QByteArray());
}

void tst_Polling::pollSequencePerTab_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<QByteArrayList>("expected");

    // The first encoder poll of a run asks for the scale factor.
    QTest::newRow("Encoder 1") << 0 << QByteArrayList { "?SCALE3", "?CTR3", "?SCALE3", "?CTR3" };
    QTest::newRow("Encoder 2") << 1 << QByteArrayList { "?SCALE4", "?CTR4", "?SCALE4" };
    QTest::newRow("Inputs / Outputs") << 2 << QByteArrayList { "?INPUTS", "?INPUTS", "?INPUTS" };
}

void tst_Polling::pollSequencePerTab()
{
    QFETCH(int, tab);
    QFETCH(QByteArrayList, expected);

    QVERIFY(m_rig->showSetup());
    tabs()->setCurrentIndex(tab);
    QVERIFY(m_rig->waitPolling());
    for (const QByteArray& line : expected)
        QCOMPARE(m_rig->nextLine(), line);
    // One line per tick, nothing in between.
    QCOMPARE(m_rig->board.takeReceived().count("\r\n"), 0);
}

void tst_Polling::switchingTabsKeepsThePhase()
{
    QVERIFY(m_rig->showSetup());
    QCOMPARE(m_rig->nextLine(), QByteArray("?SCALE3"));
    tabs()->setCurrentIndex(1);
    QCOMPARE(m_rig->nextLine(), QByteArray("?CTR4"));
    tabs()->setCurrentIndex(2);
    QCOMPARE(m_rig->nextLine(), QByteArray("?INPUTS"));
    QCOMPARE(m_rig->module->PollPhase, std::int16_t(0));
    tabs()->setCurrentIndex(0);
    QCOMPARE(m_rig->nextLine(), QByteArray("?SCALE3"));
}

void tst_Polling::mainWindowActiveStopsRequests()
{
    QVERIFY(m_rig->showSetup());
    QCOMPARE(m_rig->nextLine(), QByteArray("?SCALE3"));
    QVERIFY(m_rig->activateMain());
    QVERIFY(!m_rig->setup()->isPolling());
    // The setup window stays visible beside the main window.
    QVERIFY(m_rig->setup()->isVisible());
    m_rig->dropReceived();
    QTest::qWait(2000);
    QCOMPARE(m_rig->board.takeReceived(), QByteArray());

    // Back to the setup window: polling goes on where it was.
    QVERIFY(m_rig->activateSetup());
    QCOMPARE(m_rig->nextLine(), QByteArray("?CTR3"));
}

void tst_Polling::comingBackEmptiesTheRawView()
{
    QVERIFY(m_rig->showSetup());
    auto* raw = m_rig->child<QPlainTextEdit>(u"Text1"_s);
    QVERIFY(m_rig->board.send("<C312.5*\r\n"));
    QTRY_COMPARE(raw->toPlainText(), u"<C312.5*"_s);

    QVERIFY(m_rig->activateMain());
    QCOMPARE(raw->toPlainText(), u"<C312.5*"_s);
    QVERIFY(m_rig->activateSetup());
    QVERIFY(m_rig->setup()->isPolling());
    QCOMPARE(raw->toPlainText(), QString());
}

void tst_Polling::otherWindowsNeitherActivateNorDeactivate()
{
    // A window that is neither of the program's two stands in for another
    // application taking and giving back the focus.
    QVERIFY(m_rig->showSetup());
    auto* raw = m_rig->child<QPlainTextEdit>(u"Text1"_s);
    QVERIFY(m_rig->board.send("<XX*\r\n"));
    QTRY_COMPARE(raw->toPlainText(), u"<XX*"_s);

    QWidget stranger;
    stranger.resize(100, 100);
    stranger.show();
    stranger.activateWindow();
    QVERIFY(SetupRig::waitFocusWindow(&stranger));
    QVERIFY(m_rig->setup()->isPolling());

    QVERIFY(m_rig->activateSetup());
    QVERIFY(m_rig->setup()->isPolling());
    // No activation ran: the raw view kept its line.
    QCOMPARE(raw->toPlainText(), u"<XX*"_s);
}

void tst_Polling::closingAMessageBoxDoesNotActivate()
{
    QVERIFY(m_rig->showSetup());
    auto* raw = m_rig->child<QPlainTextEdit>(u"Text1"_s);
    QVERIFY(m_rig->board.send("<XX*\r\n"));
    QTRY_COMPARE(raw->toPlainText(), u"<XX*"_s);

    MessageAnswerer answerer;
    // The program's own message box, which gives the focus back to the
    // setup window as it closes: a window manager need not, for a window
    // off the task bar.
    showTarvikMessage(m_rig->setup(), u"test"_s);
    QCOMPARE(answerer.seen.size(), 1);
    QVERIFY(m_rig->activateSetup());
    QTest::qWait(50);
    QCOMPARE(raw->toPlainText(), u"<XX*"_s);
    QVERIFY(m_rig->setup()->isPolling());
}

void tst_Polling::hidingStopsPolling_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("OK") << u"cmdOK"_s;
    QTest::newRow("Cancel") << u"cmdCancel"_s;
}

void tst_Polling::hidingStopsPolling()
{
    QFETCH(QString, button);

    QVERIFY(m_rig->showSetup());
    QVERIFY(m_rig->waitPolling());
    QTest::mouseClick(m_rig->child<QPushButton>(button), Qt::LeftButton);
    QVERIFY(!m_rig->setup()->isVisible());
    QVERIFY(!m_rig->setup()->isPolling());
    QVERIFY(SetupRig::waitFocusWindow(m_rig->main.get()));
    m_rig->dropReceived();
    QTest::qWait(2000);
    QCOMPARE(m_rig->board.takeReceived(), QByteArray());

    // Shown again, it polls again.
    QVERIFY(m_rig->showSetup());
    QVERIFY(!m_rig->nextLine().isEmpty());
}

void tst_Polling::closeBoxUnloadsAndSetupLoadsAfresh()
{
    QVERIFY(m_rig->showSetup());
    QCOMPARE(m_rig->nextLine(), QByteArray("?SCALE3"));
    QVERIFY(m_rig->board.send("<S30032*\r\n<C37.25*\r\n<KS1"));
    QTRY_COMPARE(m_rig->child<QLabel>(u"lblScale3"_s)->text(), u".50"_s);
    m_rig->child<QLineEdit>(u"txtScale3"_s)->setText(u"12"_s);
    tabs()->setCurrentIndex(1);

    // A second board on com2: the reload reads the setting again.
    PtyBoard second;
    QVERIFY(second.linkAt(m_rig->folder.filePath(u"com2"_s)));
    QFile settings(m_rig->folder.filePath(u"Settings.ini"_s));
    QVERIFY(settings.open(QIODevice::WriteOnly | QIODevice::Truncate));
    settings.write("[System]\r\nComPort=2\r\n");
    settings.close();

    QPointer<frmPicOptions> old = m_rig->setup();
    QVERIFY(old->close());
    QTRY_VERIFY(old.isNull());
    QCOMPARE(m_rig->setup(), nullptr);

    // Nothing is received while unloaded.
    const QString logBefore = m_rig->main->logView()->toPlainText();
    QVERIFY(m_rig->board.send(".5*\r\n"));
    QTest::qWait(200);
    QCOMPARE(m_rig->main->logView()->toPlainText(), logBefore);

    QVERIFY(m_rig->showSetup());
    QVERIFY(m_rig->setup() != nullptr);
    QCOMPARE(tabs()->currentIndex(), 0);
    QCOMPARE(m_rig->child<QLabel>(u"lblScale3"_s)->text(), u"2540.12"_s);
    QCOMPARE(m_rig->child<QLabel>(u"lblCounter3"_s)->text(), u"2540.12"_s);
    QCOMPARE(m_rig->child<QLineEdit>(u"txtScale3"_s)->text(), QString());
    QVERIFY(!m_rig->child<QPushButton>(u"cmdApply"_s)->isEnabled());
    // The run's globals carried over: the scale factor, and the poll phase
    // (the next encoder request is the position).
    QCOMPARE(m_rig->module->CurrentScale3, 0.5);
    const QList<QByteArray> lines = second.waitForLines(1);
    QVERIFY(!lines.isEmpty());
    QCOMPARE(lines.first(), QByteArray("?CTR3"));
    QCOMPARE(m_rig->board.takeReceived(), QByteArray());

    // The unfinished line collected before the unload leads the first line
    // received afterwards.
    QVERIFY(second.send("23*\r\n"));
    QTRY_COMPARE(m_rig->module->RxLine, u"<KS123*"_s);
    QTRY_VERIFY(m_rig->main->logView()->toPlainText().contains(u"123\t"_s));
}

void tst_Polling::requestsToAClosedPortAreDropped()
{
    QVERIFY(m_rig->showSetup());
    QCOMPARE(m_rig->nextLine(), QByteArray("?SCALE3"));
    m_rig->setup()->PicComm()->close();
    QTest::qWait(2000);
    // The timer kept running through the dropped requests.
    QVERIFY(m_rig->setup()->isPolling());
    QVERIFY(m_rig->setup()->isVisible());
}

QTEST_MAIN(tst_Polling)
#include "tst_polling.moc"
