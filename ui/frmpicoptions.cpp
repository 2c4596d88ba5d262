#include "ui/frmpicoptions.h"

#include "core/module1.h"
#include "core/portsetting.h"
#include "port/boardport.h"
#include "core/numbertext.h"
#include "core/protocol.h"
#include "ui/scalebox.h"
#include "ui/shape.h"
#include "ui/sstab.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWindow>

using namespace Qt::StringLiterals;

namespace {

const QString MessageCaption = u"Tarvik"_s;
const QString InvalidNumberMessage = u"Please enter a valid number."_s;
const QString ScaleRangeMessage = u"Please enter a scale factor from 3.94 to 167772.15."_s;

constexpr int PollIntervalMs = 900;
constexpr unsigned long CommandPauseMs = 100;

// Outside this range the board's two six-digit fields cannot carry the factor.
constexpr double MinScale = 3.94;
constexpr double MaxScale = 167772.15;

const QColor InputActive(0, 255, 0);
const QColor InputInactive(128, 128, 128);

} // namespace

frmPicOptions::frmPicOptions(Module1& module, QWidget* mainWindow)
    : QWidget(mainWindow,
        Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint
            | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , m_module(module)
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

void frmPicOptions::centreOnScreen()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
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

    if (!m_module.SettingsFileRefused.isEmpty())
        return fail(m_module.SettingsFile + u": "_s + m_module.SettingsFileRefused);
    const std::optional<int> number = portNumberFromSetting(m_module.ComPortSetting);
    if (!number)
        return fail(u"ComPort="_s + m_module.ComPortSetting + u": not a port number"_s);
    const std::optional<QString> name = portNameFor(*number, m_module.programFolder());
    if (!name)
        return fail(u"ComPort=%1: port %2 is not a serial port number (1 to 255)"_s
                        .arg(m_module.ComPortSetting)
                        .arg(*number));
    QString error;
    if (!m_picComm->open(*name, &error))
        return fail(*name + u": "_s + error);
    m_picComm->setReconnecting(true);

    SSTab1->setTab(0);
    centreOnScreen();
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
    const QWidget* mainWindow = parentWidget() ? parentWidget()->window() : nullptr;
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
    if (QWidget* mainWindow = parentWidget())
        mainWindow->activateWindow();
}

bool frmPicOptions::isPolling() const
{
    return Timer1->isActive();
}

void frmPicOptions::Timer1_Timer()
{
    // A closed port drops the request; the timer goes on, so polling picks
    // up by itself once the board is back.
    const auto nextEncoderRequest = [this](QStringView counter, QStringView scale) {
        m_module.PollPhase = m_module.PollPhase + 1 >= 2 ? 0 : m_module.PollPhase + 1;
        m_picComm->writeLine(m_module.PollPhase == 0 ? counter : scale);
    };
    switch (SSTab1->Tab()) {
    case 0:
        nextEncoderRequest(protocol::RequestCounter3, protocol::RequestScale3);
        break;
    case 1:
        nextEncoderRequest(protocol::RequestCounter4, protocol::RequestScale4);
        break;
    case 2:
        m_picComm->writeLine(protocol::RequestInputs);
        break;
    default:
        break;
    }
}

// ------------------------------------------------------------ receive path

void frmPicOptions::PicComm_Receive(const QByteArray& bytes)
{
    QStringList lines;
    m_module.RxBuffer.feed(bytes, lines);
    for (const QString& line : std::as_const(lines))
        handleLine(line);
}

void frmPicOptions::handleLine(const QString& line)
{
    m_module.RxLine = line;
    if (isPolling()) {
        Text1->appendPlainText(line);
        Text1->moveCursor(QTextCursor::End);
    }

    const QLocale& locale = m_module.locale();
    const std::optional<protocol::DecodedReply> reply = protocol::decodeReply(line, locale);
    if (!reply)
        return;
    switch (reply->kind) {
    case protocol::ReplyKind::Counter3:
        lblCounter3->setText(numbertext::formatPosition(reply->value, locale));
        break;
    case protocol::ReplyKind::Counter4:
        lblCounter4->setText(numbertext::formatPosition(reply->value, locale));
        break;
    case protocol::ReplyKind::Scale3:
        m_module.CurrentScale3 = reply->value;
        lblScale3->setText(numbertext::formatScale(m_module.CurrentScale3, locale));
        break;
    case protocol::ReplyKind::Scale4:
        m_module.CurrentScale4 = reply->value;
        lblScale4->setText(numbertext::formatScale(m_module.CurrentScale4, locale));
        break;
    case protocol::ReplyKind::Inputs:
        for (size_t i = 0; i < Shapes.size(); ++i)
            Shapes[i]->setFillColor(reply->inputs[i] ? InputActive : InputInactive);
        break;
    case protocol::ReplyKind::Reading:
        // Any message about the log file is queued by the log itself; a modal
        // box opened here would stop reception.
        m_module.CurrentReading = reply->value;
        m_module.LogReading();
        break;
    case protocol::ReplyKind::Other:
        break;
    }
}

// ----------------------------------------------------------------- keypad

ScaleBox* frmPicOptions::keypadTarget() const
{
    switch (SSTab1->Tab()) {
    case 0:
        return txtScale3;
    case 1:
        return txtScale4;
    default:
        return nullptr;
    }
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
    const bool hasPoint = box->text().contains(u'.');
    box->takeFocus();
    if (!hasPoint)
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
    QMessageBox box(QMessageBox::NoIcon, MessageCaption, text, QMessageBox::Ok, this);
    box.exec();
}

bool frmPicOptions::applyScale(ScaleBox* box, double currentScale, QStringView command, bool& sent)
{
    const QString text = box->text();
    if (text.isEmpty())
        return true;
    const std::optional<double> value = numbertext::parseEntryNumber(text, m_module.locale());
    if (!value) {
        showMessage(InvalidNumberMessage);
        return false;
    }
    const double factor = numbertext::roundDecimal(*value, 2);
    if (factor == currentScale)
        return true;
    if (!(factor >= MinScale && factor <= MaxScale)) {
        showMessage(ScaleRangeMessage);
        return false;
    }
    // A port that has gone away keeps the entry pending for another Apply.
    if (!m_picComm->writeLine(command.toString() + protocol::scaleArgument(factor))) {
        sent = false;
        return true;
    }
    QThread::msleep(CommandPauseMs);
    box->clear();
    return true;
}

void frmPicOptions::cmdApply_Click()
{
    Timer1->stop();
    QCoreApplication::processEvents();
    bool sent = true;
    // After a message polling stays stopped until the next activation or
    // completed Apply, and the entry stays pending.
    if (!applyScale(txtScale3, m_module.CurrentScale3, protocol::CommandScale3, sent))
        return;
    if (!applyScale(txtScale4, m_module.CurrentScale4, protocol::CommandScale4, sent))
        return;
    Timer1->start();
    if (sent)
        cmdApply->setEnabled(false);
}

void frmPicOptions::pausedSend(QStringView line)
{
    // No poll request goes out within 100 ms of a command.
    Timer1->stop();
    QThread::msleep(CommandPauseMs);
    m_picComm->writeLine(line);
    QCoreApplication::processEvents();
    QThread::msleep(CommandPauseMs);
    Timer1->start();
}

void frmPicOptions::cmdZeroCounter3_Click()
{
    pausedSend(protocol::CommandZero3);
}

void frmPicOptions::cmdZeroCounter4_Click()
{
    pausedSend(protocol::CommandZero4);
}

void frmPicOptions::Command1_Click()
{
    pausedSend(protocol::CommandGoodPart);
}

void frmPicOptions::Command2_Click()
{
    pausedSend(protocol::CommandBadPart);
}

void frmPicOptions::cmdOK_Click()
{
    // Apply ends normally even after its message, so the window always hides.
    if (cmdApply->isEnabled())
        cmdApply_Click();
    cmdCancel_Click();
}

void frmPicOptions::cmdCancel_Click()
{
    hideToMainWindow();
}
