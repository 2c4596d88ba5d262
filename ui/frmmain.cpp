// SPDX-License-Identifier: MIT
#include "ui/frmmain.h"

#include "core/eventlog.h"
#include "core/logtext.h"
#include "ui/accessibility.h"
#include "ui/enterpress.h"
#include "ui/fonts.h"
#include "ui/frmpicoptions.h"
#include "ui/messagebox.h"
#include "ui/twips.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QLabel>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {

const QString Caption = u"Tarvik Data Logger"_s;
const QString CaptionNotConnected = u"Tarvik Data Logger - encoder board not connected"_s;

// The log view keeps the newest lines only; the file keeps everything.
constexpr int LogViewMaxLines = 100000;
// Once the view is full the oldest lines go this many at a time.
constexpr int LogViewTrimLines = 1000;

} // namespace

frmMain::frmMain(Module1& module, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint)
    , m_module(module)
    , Text1(new LogView(LogViewMaxLines, LogViewTrimLines, this))
    , cmdSave(new QPushButton(u"Create New Log File"_s, this))
    , Command1(new QPushButton(u"Setup"_s, this))
    , lblFile(new QLabel(this))
    , Command2(new QPushButton(u"Exit"_s, this))
{
    installAccessibleInterfaces();
    setObjectName(u"frmMain"_s);
    setWindowTitle(Caption);
    setFixedSize(px(9405), px(6405));

    Text1->setObjectName(u"Text1"_s);
    Text1->setGeometry(px(240), px(540), px(6675), px(5295));
    Text1->setFont(sansSerif(13.5));
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    cmdSave->setObjectName(u"cmdSave"_s);
    cmdSave->setGeometry(px(7020), px(600), px(2235), px(675));
    Command1->setObjectName(u"Command1"_s);
    Command1->setGeometry(px(7020), px(4260), px(2235), px(675));
    lblFile->setObjectName(u"lblFile"_s);
    lblFile->setGeometry(px(240), px(60), px(7455), px(435));
    Command2->setObjectName(u"Command2"_s);
    Command2->setGeometry(px(7020), px(5160), px(2235), px(675));

    setTabOrder(Text1, cmdSave);
    setTabOrder(cmdSave, Command1);
    setTabOrder(Command1, Command2);

    connect(cmdSave, &QPushButton::clicked, this, &frmMain::cmdSave_Click);
    connect(Command1, &QPushButton::clicked, this, &frmMain::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmMain::Command2_Click);
    pressFocusedButtonOnEnter(this);

    m_cdb.Filter = u"Comma Seperated File (*.csv)"_s;
    m_module.readingLog = this;
}

frmMain::~frmMain()
{
    // The setup window is a window of its own, not a child of this one.
    delete m_setup.data();
    m_module.readingLog = nullptr;
}

bool frmMain::Form_Load()
{
    if (!loadSetupWindow())
        return false;
    m_setup->hide();

    const QString logFile = m_module.defaultLogFile();
    lblFile->setText(u"Log Name: "_s + logFile);
    m_cdb.FileName = logFile;

    centreOnScreen(this);

    // Readings an earlier run kept go into their files before this run
    // takes its first; the operator hears of it once the window shows.
    reportRecovery(m_module.journal.recoverEarlier());
    return true;
}

bool frmMain::loadSetupWindow()
{
    auto* setup = new frmPicOptions(m_module, this);
    QString failure;
    if (!setup->Form_Load(&failure)) {
        delete setup;
        showTarvikMessage(this, failure);
        return false;
    }
    m_setup = setup;
    connect(setup, &frmPicOptions::boardConnectedChanged, this, &frmMain::setBoardConnected);
    setBoardConnected(true);
    return true;
}

void frmMain::setBoardConnected(bool connected)
{
    setWindowTitle(connected ? Caption : CaptionNotConnected);
}

void frmMain::appendLogLine(const QString& line)
{
    // The view shows one row per line; its CR LF is the row's end.
    QStringView text(line);
    if (text.endsWith(u"\r\n"))
        text.chop(2);
    m_pendingLines.append(text.toString());
    queueFlush();
}

void frmMain::WriteLogRecord()
{
    // The record carries the time its reading arrived. The file is written
    // once the receive handler has returned: every reading that came in the
    // same chunk goes in one write and one sync, so a burst costs one sync
    // instead of one each, and no reading waits behind the others' syncs.
    m_module.logFile.keep(
        csvRecord({ m_module.ReadingText, m_module.ReadingDate, m_module.ReadingTime }));
    queueFlush();
}

void frmMain::queueFlush()
{
    if (m_flushQueued)
        return;
    m_flushQueued = true;
    QMetaObject::invokeMethod(this, &frmMain::flushLog, Qt::QueuedConnection);
}

void frmMain::flushLog()
{
    m_flushQueued = false;
    setCursor(Qt::WaitCursor);
    const LogFile::Written result = m_module.logFile.writeKept(m_cdb.FileName);
    unsetCursor();
    // The view after the file: the record is what must not wait. The pass's
    // lines go in as one step, and the newest is brought into view once.
    if (!m_pendingLines.isEmpty()) {
        Text1->appendLines(m_pendingLines);
        m_pendingLines.clear();
    }
    if (result.earlier.writtenCount() > 0)
        reportRecovery(result.earlier);
    if (!result.ok())
        reportLogFailure(result.reason());
}

void frmMain::reportRecovery(const Recovery& recovery)
{
    const QString text = recovery.message();
    if (text.isEmpty())
        return;
    // Not from inside the receive handler, and not before the window shows.
    QMetaObject::invokeMethod(
        this, [this, text] { showTarvikMessage(messageOwner(), text); }, Qt::QueuedConnection);
}

void frmMain::reportLogFailure(const QString& reason)
{
    m_logFailureReason = reason;
    if (m_logFailurePending)
        return;
    m_logFailurePending = true;
    // Never open a modal box from inside the receive handler: the port does
    // not signal new data while its readyRead slot is still running.
    QMetaObject::invokeMethod(this, &frmMain::showLogFailure, Qt::QueuedConnection);
}

void frmMain::showLogFailure()
{
    const qsizetype kept = m_module.logFile.keptCount();
    if (kept == 0) {
        m_logFailurePending = false;
        return;
    }
    const qsizetype unsaved = m_module.logFile.unsavedCount();
    const QString saved = unsaved == 0
        ? u"They are also saved in %1, so that Tarvik writes them at its next start should it "
          u"end before."_s.arg(m_module.journal.place())
        : u"%1 of them are only in memory: they cannot be saved in %2 either (%3), so they are "
          u"lost if Tarvik ends before the log file takes them."_s.arg(
              QString::number(unsaved), m_module.journal.place(), m_module.logFile.journalError());
    const QString text = u"The log file %1 cannot be written: %2.\r\n\r\n"
                         u"%3 reading(s) are kept and will be written, oldest first, as soon as "
                         u"the log file can be written again. "_s.arg(
                             m_cdb.FileName, m_logFailureReason, QString::number(kept))
        + saved + u" Use \"Create New Log File\" to choose another file."_s;
    showTarvikMessage(messageOwner(), text);
    m_logFailurePending = false;
}

QWidget* frmMain::messageOwner()
{
    // The box goes with the window the operator is using: closing it hands
    // the activation back there, so a setup window that was polling goes on
    // polling instead of seeing the main window activated.
    if (m_setup && m_setup->isActiveProgramWindow())
        return m_setup;
    return this;
}

void frmMain::cmdSave_Click()
{
    m_cdb.ShowSave(this);
    lblFile->setText(u"Log Name: "_s + m_cdb.FileName);
    m_pendingLines.clear();
    Text1->clear();
}

void frmMain::Command1_Click()
{
    if (!m_setup && !loadSetupWindow()) {
        endProgram(1);
        return;
    }
    m_setup->bringBack();
}

void frmMain::Command2_Click()
{
    endRun(0, true);
}

void frmMain::endProgram(int status)
{
    endRun(status, false);
}

void frmMain::endRun(int status, bool tellOperator)
{
    // Readings in the journal wait for the next start: the end does not wait
    // for a log file that is away. Only readings in memory alone get a last
    // try, at the log file and then at the journal.
    LogFile& log = m_module.logFile;
    if (log.unsavedCount() > 0) {
        const LogFile::Written result = log.writeKept(m_cdb.FileName);
        if (const qsizetype lost = log.unsavedCount(); lost > 0) {
            const QString text = u"%1 reading(s) are lost: the log file %2 cannot be written "
                                 u"(%3), and they cannot be saved in %4 either (%5)."_s.arg(
                                     QString::number(lost), m_cdb.FileName, result.reason(),
                                     m_module.journal.place(), log.journalError());
            if (tellOperator)
                showTarvikMessage(this, text);
            else
                qCWarning(lcLog).noquote() << text;
        }
    }
    QCoreApplication::exit(status);
}

void frmMain::closeEvent(QCloseEvent* event)
{
    event->accept();
    endRun(0, true);
}
