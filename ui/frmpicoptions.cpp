// SPDX-License-Identifier: MIT
#include "ui/frmpicoptions.h"

#include "core/boardsession.h"
#include "core/eventlog.h"
#include "core/module1.h"
#include "core/portsetting.h"
#include "port/boardport.h"
#include "port/serialports.h"
#include "ui/enterpress.h"
#include "ui/messagebox.h"
#include "ui/scalebox.h"
#include "ui/shape.h"
#include "ui/sstab.h"
#include "ui/toolwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QThread>
#include <QTimer>
#include <QWindow>

using namespace Qt::StringLiterals;

namespace {


constexpr int PollIntervalMs = 900;
constexpr unsigned long CommandPauseMs = 100;

} // namespace

frmPicOptions::frmPicOptions(Module1& module, QWidget* mainWindow)
    : QWidget(nullptr,
        Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint
            | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , m_module(module)
    , m_session(std::make_unique<BoardSession>(module))
    , m_mainWindow(mainWindow)
    , m_picComm(new BoardPort(this))
    , Timer1(new QTimer(this))
{
    setObjectName(u"frmPicOptions"_s);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(u"Kestrin Encoder Diagnostics/Setup"_s);

    Timer1->setObjectName(u"Timer1"_s);
    Timer1->setInterval(PollIntervalMs);

    buildLayout();
    setFocusOrder();
    connectHandlers();
    pressFocusedButtonOnEnter(this);
    cmdOK->setFocus();

    connect(m_picComm, &BoardPort::connectedChanged, this, &frmPicOptions::boardConnectedChanged);
}

frmPicOptions::~frmPicOptions() = default;

void frmPicOptions::connectHandlers()
{
    connect(
        qGuiApp, &QGuiApplication::focusWindowChanged, this, &frmPicOptions::focusWindowChanged);
    connect(Timer1, &QTimer::timeout, this, &frmPicOptions::Timer1_Timer);
    connect(m_picComm, &BoardPort::bytesReceived, this, &frmPicOptions::PicComm_Receive);

    for (int digit = 0; digit < 10; ++digit) {
        connect(cmdNumber[size_t(digit)], &QPushButton::clicked, this,
            [this, digit] { cmdNumber_Click(digit); });
    }
    connect(cmdDecimal, &QPushButton::clicked, this, &frmPicOptions::cmdDecimal_Click);
    connect(cmdBackSpace, &QPushButton::clicked, this, &frmPicOptions::cmdBackSpace_Click);
    connect(txtScale3, &QLineEdit::textChanged, this, &frmPicOptions::txtScale3_Change);
    connect(txtScale4, &QLineEdit::textChanged, this, &frmPicOptions::txtScale4_Change);
    connect(cmdApply, &QPushButton::clicked, this, &frmPicOptions::cmdApply_Click);
    connect(cmdZeroCounter3, &QPushButton::clicked, this, &frmPicOptions::cmdZeroCounter3_Click);
    connect(cmdZeroCounter4, &QPushButton::clicked, this, &frmPicOptions::cmdZeroCounter4_Click);
    connect(Command1, &QPushButton::clicked, this, &frmPicOptions::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmPicOptions::Command2_Click);
    connect(cmdOK, &QPushButton::clicked, this, &frmPicOptions::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmPicOptions::cmdCancel_Click);
}

// ---------------------------------------------------- load, unload, activation

bool frmPicOptions::Form_Load(QString* failureMessage)
{
    m_module.LoadComPortSetting();

    const QString header = u"Invalid Port Number.  Open the file named "_s + m_module.SettingsFile
        + u"\r\nand enter the correct com port number."_s;
    auto fail = [&](const QString& reason) {
        if (failureMessage)
            *failureMessage = header + u"\r\n\r\n"_s + reason;
        return false;
    };
    // The port named cannot be opened: the operator learns which ports there
    // are and how to choose one.
    auto failPort = [&](const QString& reason) {
        return fail(
            reason + u"\r\n\r\n"_s + startupPortAdvice(systemSerialPorts(), m_module.SettingsFile));
    };
    // The setting names no port. (A port that does not open is told by the
    // port itself, a file not read by Module1.)
    auto failSetting = [&](const QString& reason) {
        qCWarning(lcSettings).noquote() << m_module.SettingsFile + u": "_s + reason;
        return failPort(reason);
    };

    if (!m_module.SettingsFileRefused.isEmpty())
        return fail(m_module.SettingsFile + u": "_s + m_module.SettingsFileRefused);
    const std::optional<int> number = portNumberFromSetting(m_module.ComPortSetting);
    if (!number)
        return failSetting(u"ComPort="_s + m_module.ComPortSetting + u": not a port number"_s);
    const std::optional<QString> name = portNameFor(*number, m_module.programFolder());
    if (!name)
        return failSetting(u"ComPort=%1: port %2 is not a serial port number (1 to 255)"_s.arg(
            m_module.ComPortSetting, QString::number(*number)));
    if (const Result<void> opened = m_picComm->open(*name); !opened)
        return failPort(*name + u": "_s + opened.reason());
    m_picComm->setReconnecting(true);

    SSTab1->setTab(0);
    centreOnScreen(this);
    return true;
}

void frmPicOptions::Form_Unload()
{
    Timer1->stop();
    m_picComm->close();
}

void frmPicOptions::closeEvent(QCloseEvent* event)
{
    // The close box unloads: the port closes and the window is deleted
    // (WA_DeleteOnClose); "Setup" loads a new one.
    Form_Unload();
    event->accept();
}

void frmPicOptions::showEvent(QShowEvent* event)
{
    // Not spontaneous: about to be mapped, not coming back from minimised.
    if (!event->spontaneous())
        keepOffTaskBar(this);
    QWidget::showEvent(event);
}

void frmPicOptions::changeEvent(QEvent* event)
{
    // Minimised, it is no longer the window the operator works in, whether
    // or not the window manager moves the focus on; so polling stops, and
    // coming back starts it afresh.
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized)) {
        Form_Deactivate();
        m_activeWindow = ActiveWindow::None;
    }
    QWidget::changeEvent(event);
}

void frmPicOptions::bringBack()
{
    moveToCurrentWorkspace(this);
    // show() and raise() leave a minimised window minimised.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void frmPicOptions::Form_Activate()
{
    Timer1->start();
    Text1->clear();
}

void frmPicOptions::Form_Deactivate()
{
    Timer1->stop();
}

void frmPicOptions::focusWindowChanged(QWindow* window)
{
    // Only the program's own two windows count. Focus going to no window
    // (another application) and to message boxes or the file dialog is not
    // a change between them, so returning from one runs nothing.
    if (!window)
        return;
    const QWidget* mainWindow = m_mainWindow;
    if (window == windowHandle()) {
        if (m_activeWindow != ActiveWindow::Setup) {
            m_activeWindow = ActiveWindow::Setup;
            Form_Activate();
        }
    } else if (mainWindow && window == mainWindow->windowHandle()) {
        if (m_activeWindow != ActiveWindow::Main) {
            m_activeWindow = ActiveWindow::Main;
            Form_Deactivate();
        }
    }
}

void frmPicOptions::hideToMainWindow()
{
    // Hiding may move the focus to no window at all (offscreen, some window
    // managers), which the tracking above ignores; so stop polling here.
    Form_Deactivate();
    m_activeWindow = ActiveWindow::Main;
    hide();
    if (m_mainWindow)
        m_mainWindow->activateWindow();
}

bool frmPicOptions::isPolling() const
{
    return Timer1->isActive();
}

bool frmPicOptions::isActiveProgramWindow() const
{
    return isVisible() && m_activeWindow == ActiveWindow::Setup;
}

void frmPicOptions::Timer1_Timer()
{
    // A closed port drops the request; the timer goes on, so polling picks
    // up by itself once the board is back.
    const QStringView request = m_session->pollRequest(SSTab1->Tab());
    if (!request.isEmpty())
        m_picComm->writeLine(request);
}

// ------------------------------------------------------------ receive path

void frmPicOptions::PicComm_Receive(const QByteArray& bytes)
{
    for (const BoardSession::ReceivedLine& received : m_session->receive(bytes))
        showLine(received.line, received.result);
}

void frmPicOptions::showLine(const QString& line, const BoardSession::LineResult& result)
{
    if (isPolling()) {
        Text1->appendPlainText(line);
        Text1->moveCursor(QTextCursor::End);
    }
    if (QLabel* label = labelFor(result.label))
        label->setText(result.labelText);
    if (result.inputs) {
        for (size_t i = 0; i < Shapes.size(); ++i)
            Shapes[i]->setActive((*result.inputs)[i]);
    }
}

QLabel* frmPicOptions::labelFor(BoardSession::Label label) const
{
    for (const EncoderRow& encoder : Encoders) {
        const EncoderControls& controls = controlsOf(encoder.encoder);
        if (label == encoder.positionLabel)
            return this->*controls.position;
        if (label == encoder.scaleLabel)
            return this->*controls.scale;
    }
    return nullptr;
}

// ----------------------------------------------------------------- keypad

ScaleBox* frmPicOptions::keypadTarget() const
{
    const std::optional<Encoder> encoder = encoderForTab(SSTab1->Tab());
    return encoder ? scaleBox(*encoder) : nullptr;
}

ScaleBox* frmPicOptions::scaleBox(Encoder encoder) const
{
    return this->*controlsOf(encoder).scaleBox;
}

void frmPicOptions::typeKey(ScaleBox* box, int key, const QString& text)
{
    // Queued, so the box edits itself after the handler has returned, as it
    // would for a key pressed on the keyboard.
    QCoreApplication::postEvent(box, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, text));
    QCoreApplication::postEvent(box, new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier, text));
}

void frmPicOptions::cmdNumber_Click(int Index)
{
    cmdApply->setEnabled(true);
    ScaleBox* box = keypadTarget();
    if (!box)
        return;
    box->takeFocus();
    typeKey(box, Qt::Key_0 + Index, QString::number(Index));
}

void frmPicOptions::cmdDecimal_Click()
{
    cmdApply->setEnabled(true);
    ScaleBox* box = keypadTarget();
    if (!box)
        return;
    // The point always goes to the end, and only once.
    box->moveCaretToEnd();
    const bool typePoint = keypadMayTypePoint(box->text());
    box->takeFocus();
    if (typePoint)
        typeKey(box, Qt::Key_Period, u"."_s);
}

void frmPicOptions::cmdBackSpace_Click()
{
    // No pending flag here: the box's change handler sets it if a character
    // really goes.
    ScaleBox* box = keypadTarget();
    if (!box)
        return;
    box->takeFocus();
    typeKey(box, Qt::Key_Backspace, QString(QChar(8)));
}

void frmPicOptions::txtScale3_Change()
{
    cmdApply->setEnabled(true);
}

void frmPicOptions::txtScale4_Change()
{
    cmdApply->setEnabled(true);
}

// --------------------------------------------------------------- commands

void frmPicOptions::showMessage(const QString& text)
{
    showTarvikMessage(this, text);
}

void frmPicOptions::cmdApply_Click()
{
    Timer1->stop();
    // Takes the board's waiting replies: a scale reply sets CurrentScale3/4, which Apply compares.
    QCoreApplication::processEvents();
    const ApplyResult result = m_session->apply({ txtScale3->text(), txtScale4->text() },
        [this](Encoder encoder, const QString& line) { return sendScale(encoder, line); });
    switch (result.end) {
    case ApplyEnd::Refused:
        // Polling stays stopped until the next activation or completed Apply.
        showMessage(result.message);
        return;
    case ApplyEnd::KeptPending:
        Timer1->start();
        return;
    case ApplyEnd::Completed:
        Timer1->start();
        cmdApply->setEnabled(false);
        return;
    }
}

bool frmPicOptions::sendScale(Encoder encoder, const QString& line)
{
    if (!m_picComm->writeLine(line))
        return false;
    QThread::msleep(CommandPauseMs);
    scaleBox(encoder)->clear();
    return true;
}

void frmPicOptions::pausedSend(QStringView line)
{
    // No poll request goes out within 100 ms of a command.
    Timer1->stop();
    QThread::msleep(CommandPauseMs);
    m_picComm->writeLine(line);
    // One pass of waiting events between the pauses: received bytes are taken, the window repaints.
    QCoreApplication::processEvents();
    QThread::msleep(CommandPauseMs);
    Timer1->start();
}

void frmPicOptions::cmdZeroCounter3_Click()
{
    pausedSend(zeroCommand(Encoder::Channel3));
}

void frmPicOptions::cmdZeroCounter4_Click()
{
    pausedSend(zeroCommand(Encoder::Channel4));
}

void frmPicOptions::Command1_Click()
{
    pausedSend(verdictCommand(true));
}

void frmPicOptions::Command2_Click()
{
    pausedSend(verdictCommand(false));
}

void frmPicOptions::cmdOK_Click()
{
    runDialogSteps(dialogSteps(DialogButton::OK, cmdApply->isEnabled()));
}

void frmPicOptions::cmdCancel_Click()
{
    runDialogSteps(dialogSteps(DialogButton::Cancel, cmdApply->isEnabled()));
}

void frmPicOptions::runDialogSteps(const DialogSteps& steps)
{
    if (steps.apply)
        cmdApply_Click();
    if (steps.hide)
        hideToMainWindow();
}
