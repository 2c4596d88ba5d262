// SPDX-License-Identifier: MIT
#pragma once

// The main window: the log view, the log file choice, and the owner of the
// run. Its load creates the setup window hidden, which opens the board's port.

#include "ui/cdb.h"
#include "core/module1.h"
#include "ui/frmpicoptions.h"
#include "ui/logview.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QPushButton;

class frmMain : public QWidget, public ReadingLog
{
    Q_OBJECT

public:
    explicit frmMain(Module1& module, QWidget* parent = nullptr);
    ~frmMain() override;

    // Start-up. Returns false when the board's port could not be opened;
    // the failure message has then been shown and closed, and the program
    // must end with status 1.
    bool Form_Load();

    // ReadingLog
    void appendLogLine(const QString& line) override;
    void WriteLogRecord() override;

    void cmdSave_Click();
    void Command1_Click();
    void Command2_Click();

    // Ends the run at once, as at the system's signals: kept records that
    // are in memory alone get one last attempt (the journal's wait for the
    // next start), then the event loop is left with `status`. Readings that
    // would be lost are named on standard error.
    void endProgram(int status);

    frmPicOptions* setupWindow() const { return m_setup; }
    LogView* logView() const { return Text1; }
    QLabel* logNameLabel() const { return lblFile; }
    CDB& fileDialog() { return m_cdb; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool loadSetupWindow();
    void setBoardConnected(bool connected);
    void queueFlush();
    void flushLog();
    void reportLogFailure(const QString& reason);
    void showLogFailure();
    void reportRecovery(const Recovery& recovery);
    QWidget* messageOwner();
    // As endProgram; readings that would be lost are told in a message.
    void endRun(int status, bool tellOperator);

    Module1& m_module;
    CDB m_cdb;
    QPointer<frmPicOptions> m_setup;

    LogView* Text1;
    QPushButton* cmdSave;
    QPushButton* Command1;
    QLabel* lblFile;
    QPushButton* Command2;

    // The view's lines of the receive pass under way; they go to the view
    // in one step after the pass, with its records.
    QStringList m_pendingLines;
    bool m_flushQueued = false;
    bool m_logFailurePending = false;
    QString m_logFailureReason;
};
