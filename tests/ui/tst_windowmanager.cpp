// SPDX-License-Identifier: MIT
// The two windows under a real window manager (tests/support/
// with-window-manager.sh): the operator's clicks and keys go through the X
// server (xdotool), and the window manager decides which window is active and
// which stands in front. Offscreen, focus goes nowhere when a window closes
// and every window stacks where it is put, so these faults do not show there.

#include "setuprig.h"
#include "ui/scalebox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QWindow>

using namespace Qt::StringLiterals;

namespace {

// Runs an X tool to its end while the program under test goes on handling
// its events.
bool runTool(const QString& program, const QStringList& arguments, QByteArray* output = nullptr)
{
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForStarted(5000))
        return false;
    if (!QTest::qWaitFor([&] { return tool.state() == QProcess::NotRunning; }, 10000))
        return false;
    if (output)
        *output = tool.readAllStandardOutput();
    return tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

// A mouse click at `where` in `widget` (its centre by default), through the
// X server: it lands on whatever window stands in front at that spot.
bool click(QWidget* widget, QPoint where = QPoint(-1, -1))
{
    if (where == QPoint(-1, -1))
        where = widget->rect().center();
    QWidget* window = widget->window();
    const QPoint inWindow = widget->mapTo(window, where);
    return runTool(u"xdotool"_s,
        { u"mousemove"_s, u"--window"_s, QString::number(window->winId()),
            QString::number(inWindow.x()), QString::number(inWindow.y()), u"click"_s, u"1"_s });
}

// Keys typed on the keyboard, to whichever window has the input focus.
bool typeKeys(const QStringList& keys)
{
    return runTool(u"xdotool"_s, QStringList { u"key"_s, u"--delay"_s, u"50"_s } + keys);
}

// The program's windows as the window manager stacks them, bottom first.
QList<WId> stacking()
{
    QByteArray text;
    if (!runTool(u"xprop"_s, { u"-root"_s, u"_NET_CLIENT_LIST_STACKING"_s }, &text))
        return {};
    QList<WId> windows;
    const QRegularExpression id(u"0x[0-9a-fA-F]+"_s);
    for (const QRegularExpressionMatch& m : id.globalMatch(QString::fromLatin1(text)))
        windows << WId(m.captured().toULongLong(nullptr, 16));
    return windows;
}

// True when `upper` stands in front of `lower`.
bool inFrontOf(QWidget* upper, QWidget* lower)
{
    const QList<WId> order = stacking();
    const qsizetype up = order.indexOf(upper->winId());
    const qsizetype low = order.indexOf(lower->winId());
    return up >= 0 && low >= 0 && up > low;
}

// What xprop says of `window`'s properties `names`.
QString windowProperties(QWidget* window, const QStringList& names)
{
    QByteArray text;
    runTool(u"xprop"_s, QStringList { u"-id"_s, QString::number(window->winId()) } + names, &text);
    return QString::fromLatin1(text);
}

bool minimised(QWidget* window)
{
    return windowProperties(window, { u"WM_STATE"_s }).contains(u"window state: Iconic"_s);
}

bool shownNormally(QWidget* window)
{
    return windowProperties(window, { u"WM_STATE"_s }).contains(u"window state: Normal"_s);
}

// The workspace (virtual desktop) the window manager has `window` on, or the
// one it shows; -1 when it says none.
int workspace(QWidget* window = nullptr)
{
    QByteArray text;
    QStringList arguments { u"get_desktop"_s };
    if (window)
        arguments = QStringList { u"get_desktop_for_window"_s, QString::number(window->winId()) };
    if (!runTool(u"xdotool"_s, arguments, &text))
        return -1;
    bool ok = false;
    const int number = text.trimmed().toInt(&ok);
    return ok ? number : -1;
}

// True once the X server sends the keys to `window`: the program may
// believe a window active before the window manager has given it the focus.
bool hasKeyboard(QWidget* window)
{
    return QTest::qWaitFor(
        [window] {
            QByteArray text;
            return runTool(u"xdotool"_s, { u"getwindowfocus"_s }, &text)
                && text.trimmed().toULongLong() == window->winId();
        },
        5000);
}

// Counts the keys released anywhere in the program: once a key typed
// through the X server is released, its press has been handled.
class KeyReleases : public QObject
{
public:
    KeyReleases() { qApp->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyRelease && watched->isWidgetType()
            && !static_cast<QKeyEvent*>(event)->isAutoRepeat())
            ++count;
        return false;
    }
};

// Answers each message box as the operator does: a mouse click on its OK
// button through the X server, so that the window manager sees the box close
// as it would on a desktop.
class ClickingAnswerer : public QObject
{
public:
    ClickingAnswerer()
    {
        m_timer.setInterval(50);
        connect(&m_timer, &QTimer::timeout, this, &ClickingAnswerer::check);
        m_timer.start();
    }

    QStringList texts;

private:
    void check()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || box == m_answered)
            return;
        QAbstractButton* ok = box->button(QMessageBox::Ok);
        if (!ok)
            return;
        m_answered = box;
        texts << box->text();
        const QPoint at = ok->mapTo(box, ok->rect().center());
        // Not waited for: the box's own event loop must go on meanwhile.
        QProcess::startDetached(u"xdotool"_s,
            { u"mousemove"_s, u"--window"_s, QString::number(box->winId()), QString::number(at.x()),
                QString::number(at.y()), u"click"_s, u"1"_s });
    }

    QTimer m_timer;
    QPointer<QMessageBox> m_answered;
};

} // namespace

class tst_WindowManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void scaleBoxKeepsItsSelectionAcrossATabSwitch();
    void closingTheLogMessageKeepsPolling();
    void mainWindowComesInFrontOfTheSetupWindow();
    void setupBringsTheSetupWindowBack_data();
    void setupBringsTheSetupWindowBack();
    void setupWindowHasNoTaskBarButton_data();
    void setupWindowHasNoTaskBarButton();
    void tabMovesOnFromTheTextViews_data();
    void tabMovesOnFromTheTextViews();
    void enterAndSpacePressOnlyTheFocusedButton_data();
    void enterAndSpacePressOnlyTheFocusedButton();

private:
    QLineEdit* box(int encoder) const
    {
        return m_rig->child<QLineEdit>(u"txtScale%1"_s.arg(encoder));
    }
    QPushButton* button(const QString& name) const { return m_rig->child<QPushButton>(name); }
    QPushButton* setupButton() const { return m_rig->main->findChild<QPushButton*>(u"Command1"_s); }
    // The setup window put away with Cancel, the main window active.
    bool putSetupAway()
    {
        return click(button(u"cmdCancel"_s))
            && QTest::qWaitFor([this] { return !m_rig->setup()->isVisible(); }, 5000)
            && SetupRig::waitFocusWindow(m_rig->main.get()) && hasKeyboard(m_rig->main.get());
    }
    QPoint tabCentre(int index) const
    {
        return m_rig->child<QTabWidget>(u"SSTab1"_s)->tabBar()->tabRect(index).center();
    }

    std::unique_ptr<SetupRig> m_rig;
};

void tst_WindowManager::initTestCase()
{
    // Only meaningful where a window manager runs: fail loudly rather than
    // pass offscreen.
    QCOMPARE(QGuiApplication::platformName(), u"xcb"_s);
    QVERIFY2(!stacking().isEmpty() || runTool(u"xprop"_s, { u"-root"_s }),
        "no X server with a window manager");
}

void tst_WindowManager::init()
{
    m_rig = std::make_unique<SetupRig>();
    QVERIFY(m_rig->start());
    QVERIFY(m_rig->showSetup());
    QVERIFY(m_rig->waitPolling());
}

void tst_WindowManager::cleanup()
{
    m_rig.reset();
}

void tst_WindowManager::scaleBoxKeepsItsSelectionAcrossATabSwitch()
{
    // A selection made on "Encoder 1" is still there when the operator comes
    // back from "Encoder 2", so keypad 9 replaces it: the factor that would
    // reach the board is 1995.7, not 190495.7.
    box(3)->setText(u"19045.7"_s);
    QVERIFY(click(box(3)));
    QTRY_VERIFY(box(3)->hasFocus());
    QVERIFY(typeKeys({ u"Home"_s, u"Right"_s, u"Right"_s, u"shift+Right"_s, u"shift+Right"_s }));
    QTRY_COMPARE(box(3)->selectedText(), u"04"_s);

    auto* tabs = m_rig->child<QTabWidget>(u"SSTab1"_s);
    QVERIFY(click(tabs->tabBar(), tabCentre(1)));
    QTRY_COMPARE(tabs->currentIndex(), 1);
    QVERIFY(click(tabs->tabBar(), tabCentre(0)));
    QTRY_COMPARE(tabs->currentIndex(), 0);

    QVERIFY(click(button(u"cmdNumber9"_s)));
    QTRY_COMPARE(box(3)->text(), u"1995.7"_s);
    QCOMPARE(box(4)->text(), QString());
}

void tst_WindowManager::closingTheLogMessageKeepsPolling()
{
    // The log file cannot be written; a reading brings the message while the
    // setup window polls. Closing it must not hand the activation to the
    // main window, which would stop polling.
    m_rig->main->fileDialog().FileName = m_rig->folder.filePath(u"missing/folder/log.csv"_s);
    // A line in the raw view: an activation running again would empty it.
    auto* raw = m_rig->child<QPlainTextEdit>(u"Text1"_s);
    QVERIFY(m_rig->board.send("<XX*\r\n"));
    QTRY_COMPARE(raw->toPlainText(), u"<XX*"_s);
    // Every window the focus goes to; the main window must not be one.
    QList<QWindow*> focused;
    // The watch ends with this test, as `focused` does.
    QObject focusWatch;
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, &focusWatch,
        [&focused](QWindow* window) { focused << window; });
    ClickingAnswerer answerer;
    QVERIFY(m_rig->board.send("<KS1*\r\n"));
    QTRY_COMPARE_WITH_TIMEOUT(answerer.texts.size(), 1, 10000);
    QVERIFY(answerer.texts.constFirst().contains(u"missing/folder/log.csv"_s));
    QTRY_VERIFY(!QApplication::activeModalWidget());

    // Give the window manager time to pass the activation on.
    QTest::qWait(1000);
    QCOMPARE(QGuiApplication::focusWindow(), m_rig->setup()->windowHandle());
    QVERIFY(!focused.contains(m_rig->main->windowHandle()));
    QVERIFY(m_rig->setup()->isPolling());
    QVERIFY(raw->toPlainText().startsWith(u"<XX*"_s));
    m_rig->dropReceived();
    QVERIFY(m_rig->nextLine(3000).startsWith('?'));
}

void tst_WindowManager::mainWindowComesInFrontOfTheSetupWindow()
{
    frmPicOptions* setup = m_rig->setup();
    QWidget* main = m_rig->main.get();
    QTRY_VERIFY(inFrontOf(setup, main));

    // A click on a part of the main window that the setup window leaves free
    // (the setup window is smaller and centred): the main window comes to
    // the front and is active, polling stops, the setup window stays shown.
    QVERIFY(click(main, QPoint(8, 8)));
    QVERIFY(SetupRig::waitFocusWindow(main));
    QTRY_VERIFY(inFrontOf(main, setup));
    QVERIFY(setup->isVisible());
    QVERIFY(!setup->isPolling());

    // A click on the main window's log view where the setup window's
    // "Change to:" box lies behind it reaches the main window: the setup
    // window is not activated and its box does not take the focus.
    ScaleBox* behind = m_rig->child<ScaleBox>(u"txtScale3"_s);
    const QPoint onBox = main->mapFromGlobal(behind->mapToGlobal(behind->rect().center()));
    QVERIFY(m_rig->main->logView()->geometry().contains(onBox));
    QVERIFY(click(main, onBox));
    QTest::qWait(300);
    QCOMPARE(QGuiApplication::focusWindow(), main->windowHandle());
    QVERIFY(!setup->isPolling());

    // "Setup" brings it to the front again, active and polling.
    QVERIFY(click(m_rig->main->findChild<QPushButton*>(u"Command1"_s)));
    QVERIFY(SetupRig::waitFocusWindow(setup));
    QTRY_VERIFY(inFrontOf(setup, main));
    QVERIFY(m_rig->waitPolling());
}

void tst_WindowManager::setupBringsTheSetupWindowBack_data()
{
    QTest::addColumn<bool>("otherWorkspace"); // moved to another workspace
    QTest::addColumn<QString>("then"); // what the operator did next

    QTest::newRow("minimised") << false << u"minimise"_s;
    QTest::newRow("behind the main window") << false << u"click the main window"_s;
    QTest::newRow("put away with Cancel") << false << u"Cancel"_s;
    QTest::newRow("on another workspace") << true << QString();
    QTest::newRow("minimised on another workspace") << true << u"minimise"_s;
}

void tst_WindowManager::setupBringsTheSetupWindowBack()
{
    QFETCH(bool, otherWorkspace);
    QFETCH(QString, then);
    frmPicOptions* setup = m_rig->setup();
    QWidget* main = m_rig->main.get();
    const int here = workspace();
    QVERIFY(here >= 0);

    if (otherWorkspace) {
        QVERIFY(runTool(u"xdotool"_s,
            { u"set_desktop_for_window"_s, QString::number(setup->winId()),
                QString::number(here + 1) }));
        QTRY_COMPARE(workspace(setup), here + 1);
    }
    if (then == u"minimise"_s) {
        QVERIFY(runTool(u"xdotool"_s, { u"windowminimize"_s, QString::number(setup->winId()) }));
        QTRY_VERIFY(minimised(setup));
        // Minimised, it is not the window the operator works in.
        QTRY_VERIFY(!setup->isPolling());
    } else if (then == u"click the main window"_s) {
        QVERIFY(click(main, QPoint(8, 8)));
        QVERIFY(SetupRig::waitFocusWindow(main));
        QTRY_VERIFY(inFrontOf(main, setup));
    } else if (then == u"Cancel"_s) {
        QVERIFY(putSetupAway());
    }

    QVERIFY(click(setupButton()));
    // The same window, shown normally on the workspace the operator is on,
    // in front, active and polling.
    QVERIFY(SetupRig::waitFocusWindow(setup));
    QCOMPARE(m_rig->setup(), setup);
    QTRY_VERIFY(shownNormally(setup));
    QVERIFY(!(setup->windowState() & Qt::WindowMinimized));
    QCOMPARE(workspace(), here);
    QCOMPARE(workspace(setup), here);
    QTRY_VERIFY(inFrontOf(setup, main));
    QVERIFY(m_rig->waitPolling());
    m_rig->dropReceived();
    QVERIFY(m_rig->nextLine(3000).startsWith('?'));
}

void tst_WindowManager::setupWindowHasNoTaskBarButton_data()
{
    QTest::addColumn<QString>("shown"); // how it came to be shown

    QTest::newRow("first shown") << QString();
    QTest::newRow("shown again after Cancel") << u"Cancel"_s;
    QTest::newRow("back from minimised") << u"minimise"_s;
}

void tst_WindowManager::setupWindowHasNoTaskBarButton()
{
    QFETCH(QString, shown);
    frmPicOptions* setup = m_rig->setup();
    QWidget* main = m_rig->main.get();

    if (shown == u"Cancel"_s) {
        // The window manager forgets a window's state when it is hidden.
        QVERIFY(putSetupAway());
        QVERIFY(click(setupButton()));
    } else if (shown == u"minimise"_s) {
        QVERIFY(runTool(u"xdotool"_s, { u"windowminimize"_s, QString::number(setup->winId()) }));
        QTRY_VERIFY(minimised(setup));
        QVERIFY(click(setupButton()));
    }
    QVERIFY(SetupRig::waitFocusWindow(setup));
    QTRY_VERIFY(shownNormally(setup));

    // Task bars and pagers leave it out; no WM_TRANSIENT_FOR, which would
    // keep it above the main window.
    const QString properties
        = windowProperties(setup, { u"_NET_WM_STATE"_s, u"WM_TRANSIENT_FOR"_s });
    QVERIFY2(properties.contains(u"_NET_WM_STATE_SKIP_TASKBAR"_s), qPrintable(properties));
    QVERIFY2(properties.contains(u"_NET_WM_STATE_SKIP_PAGER"_s), qPrintable(properties));
    QVERIFY2(properties.contains(u"WM_TRANSIENT_FOR:  not found"_s), qPrintable(properties));
    // The main window keeps its button.
    const QString mainState = windowProperties(main, { u"_NET_WM_STATE"_s });
    QVERIFY2(!mainState.contains(u"SKIP_TASKBAR"_s), qPrintable(mainState));

    // Still a window of its own: the main window comes in front of it.
    QVERIFY(click(main, QPoint(8, 8)));
    QVERIFY(SetupRig::waitFocusWindow(main));
    QTRY_VERIFY(inFrontOf(main, setup));
    QVERIFY(setup->isVisible());
}

void tst_WindowManager::tabMovesOnFromTheTextViews_data()
{
    QTest::addColumn<bool>("mainWindow"); // the main window's log view, else the raw view
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("next"); // the control that has the focus then

    QTest::newRow("raw view, Tab round to OK") << false << u"Tab"_s << u"cmdOK"_s;
    QTest::newRow("raw view, Shift+Tab back") << false << u"shift+Tab"_s << u"cmdZeroCounter3"_s;
    QTest::newRow("log view, Tab") << true << u"Tab"_s << u"cmdSave"_s;
    QTest::newRow("log view, Shift+Tab round to Exit") << true << u"shift+Tab"_s << u"Command2"_s;
}

void tst_WindowManager::tabMovesOnFromTheTextViews()
{
    QFETCH(bool, mainWindow);
    QFETCH(QString, key);
    QFETCH(QString, next);

    auto* raw = m_rig->child<QPlainTextEdit>(u"Text1"_s);
    QWidget* view = raw;
    if (mainWindow) {
        QVERIFY(putSetupAway());
        view = m_rig->main->logView();
    }
    QVERIFY(click(view));
    QTRY_VERIFY(view->hasFocus());
    QVERIFY(typeKeys({ key }));
    QTRY_COMPARE(view->window()->focusWidget()->objectName(), next);
    QVERIFY(!raw->toPlainText().contains(u'\t'));
}

void tst_WindowManager::enterAndSpacePressOnlyTheFocusedButton_data()
{
    QTest::addColumn<bool>("mainWindow"); // else the setup window
    QTest::addColumn<QString>("focus");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("pressed"); // the button pressed, none when empty

    QTest::newRow("Enter on keypad 7")
        << false << u"cmdNumber7"_s << u"Return"_s << u"cmdNumber7"_s;
    QTest::newRow("keypad Enter on BackSpace")
        << false << u"cmdBackSpace"_s << u"KP_Enter"_s << u"cmdBackSpace"_s;
    QTest::newRow("Space on keypad 7") << false << u"cmdNumber7"_s << u"space"_s << u"cmdNumber7"_s;
    QTest::newRow("Enter on Zero the Encoder")
        << false << u"cmdZeroCounter3"_s << u"Return"_s << u"cmdZeroCounter3"_s;
    QTest::newRow("Enter on OK") << false << u"cmdOK"_s << u"Return"_s << u"cmdOK"_s;
    QTest::newRow("Enter on Cancel") << false << u"cmdCancel"_s << u"Return"_s << u"cmdCancel"_s;
    QTest::newRow("Enter on Setup") << true << u"Command1"_s << u"Return"_s << u"Command1"_s;
    QTest::newRow("Space on Setup") << true << u"Command1"_s << u"space"_s << u"Command1"_s;
    QTest::newRow("Enter in the Change to: box presses nothing")
        << false << u"txtScale3"_s << u"Return"_s << QString();
    QTest::newRow("keypad Enter in the Change to: box presses nothing")
        << false << u"txtScale3"_s << u"KP_Enter"_s << QString();
    QTest::newRow("Enter in the raw view presses nothing")
        << false << u"Text1"_s << u"Return"_s << QString();
    QTest::newRow("Enter in the log view presses nothing")
        << true << u"Text1"_s << u"Return"_s << QString();
    QTest::newRow("Escape on OK presses nothing")
        << false << u"cmdOK"_s << u"Escape"_s << QString();
    QTest::newRow("Escape in the Change to: box presses nothing")
        << false << u"txtScale3"_s << u"Escape"_s << QString();
    QTest::newRow("Escape on Setup presses nothing")
        << true << u"Command1"_s << u"Escape"_s << QString();
}

void tst_WindowManager::enterAndSpacePressOnlyTheFocusedButton()
{
    QFETCH(bool, mainWindow);
    QFETCH(QString, focus);
    QFETCH(QString, key);
    QFETCH(QString, pressed);

    if (mainWindow)
        QVERIFY(putSetupAway());
    QWidget* window = mainWindow ? static_cast<QWidget*>(m_rig->main.get()) : m_rig->setup();
    QWidget* target = window->findChild<QWidget*>(focus);
    QVERIFY(target);
    target->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(target->hasFocus());

    // Both windows have a button named Command1: the spies go by button.
    QHash<QPushButton*, std::shared_ptr<QSignalSpy>> spies;
    QList<QPushButton*> buttons = m_rig->main->findChildren<QPushButton*>();
    buttons << m_rig->setup()->findChildren<QPushButton*>();
    for (QPushButton* b : std::as_const(buttons))
        spies.insert(b, std::make_shared<QSignalSpy>(b, &QPushButton::clicked));
    QPushButton* expected = pressed.isEmpty() ? nullptr : window->findChild<QPushButton*>(pressed);
    QVERIFY(pressed.isEmpty() || expected);

    KeyReleases released;
    QVERIFY(typeKeys({ key }));
    QTRY_VERIFY(released.count > 0);
    if (expected)
        QTRY_COMPARE(spies.value(expected)->count(), 1);
    QCoreApplication::processEvents();
    for (QPushButton* b : std::as_const(buttons)) {
        if (b != expected)
            QVERIFY2(spies.value(b)->isEmpty(), qPrintable(b->objectName()));
        QVERIFY2(!b->isDefault(), qPrintable(b->objectName()));
    }
}

QTEST_MAIN(tst_WindowManager)
#include "tst_windowmanager.moc"
