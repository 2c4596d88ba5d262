// SPDX-License-Identifier: MIT
#pragma once

// The setup and diagnostics window. It owns the serial link from its load to
// its unload (the close box), receives the board's lines whether shown or
// hidden, polls the board while it is the program's active window, and sends
// the operator's commands.

#include "core/boardsession.h"

#include <QPointer>
#include <QString>
#include <QStringView>
#include <QWidget>
#include <array>
#include <memory>

class BoardPort;
class Module1;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class QWindow;
class SSTab;
class ScaleBox;
class Shape;

class frmPicOptions : public QWidget
{
    Q_OBJECT

public:
    // A window of its own, not owned by `mainWindow`: the main window comes to
    // the front over it when the operator goes there. The main window deletes
    // it when the program ends.
    frmPicOptions(Module1& module, QWidget* mainWindow);
    ~frmPicOptions() override;

    // Reads the port setting and opens the port. On failure returns false
    // and sets `failureMessage` to the text the operator is shown before the
    // program ends.
    bool Form_Load(QString* failureMessage);

    BoardPort* PicComm() const { return m_picComm; }

    // Whether the poll timer runs: polling active, and received lines shown
    // in the raw view.
    bool isPolling() const;

    // Whether this window, and not the main window, is the one of the two
    // that the operator last activated (message boxes and other programs do
    // not count).
    bool isActiveProgramWindow() const;

    // "Setup" in the main window: shows this window, or brings it back to
    // the front from wherever the operator left it (minimised, behind the
    // main window, on another workspace), and activates it.
    void bringBack();

    // Event handlers, named after their control and event.
    void Form_Activate();
    void Form_Deactivate();
    void Form_Unload();
    void Timer1_Timer();
    void cmdNumber_Click(int Index);
    void cmdDecimal_Click();
    void cmdBackSpace_Click();
    void txtScale3_Change();
    void txtScale4_Change();
    void cmdApply_Click();
    void cmdZeroCounter3_Click();
    void cmdZeroCounter4_Click();
    void Command1_Click();
    void Command2_Click();
    void cmdOK_Click();
    void cmdCancel_Click();

Q_SIGNALS:
    // The board's port closed after an error, or opened again.
    void boardConnectedChanged(bool connected);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    enum class ActiveWindow
    {
        None,
        Setup,
        Main
    };

    void buildLayout();
    void buildEncoderPage(QWidget* page, const EncoderRow& encoder);
    void buildInputsPage(QWidget* page);
    void buildKeypad();
    void setFocusOrder();
    void nameForScreenReaders();
    void connectHandlers();

    void focusWindowChanged(QWindow* window);
    void hideToMainWindow();

    void PicComm_Receive(const QByteArray& bytes);
    void showLine(const QString& line, const BoardSession::LineResult& result);
    QLabel* labelFor(BoardSession::Label label) const;

    // The members that hold one encoder's controls, and where its scale rows
    // stand; the controls' names are in its row of Encoders.
    struct EncoderControls
    {
        QGroupBox* frmPicOptions::*scaleFrame;
        QLabel* frmPicOptions::*current;
        QLabel* frmPicOptions::*scale;
        QLabel* frmPicOptions::*changeTo;
        ScaleBox* frmPicOptions::*scaleBox;
        QGroupBox* frmPicOptions::*positionFrame;
        QLabel* frmPicOptions::*position;
        QPushButton* frmPicOptions::*zero;
        int labelLeft; // twips, in the scale frame
        int valueLeft;
    };
    static const EncoderControls& controlsOf(Encoder encoder);

    ScaleBox* keypadTarget() const;
    ScaleBox* scaleBox(Encoder encoder) const;
    void typeKey(ScaleBox* box, int key, const QString& text);

    // Writes one of Apply's commands, pauses and empties its box; false when
    // the line could not be written.
    bool sendScale(Encoder encoder, const QString& line);
    void showMessage(const QString& text);
    void pausedSend(QStringView line);
    void runDialogSteps(const DialogSteps& steps);

    Module1& m_module;
    std::unique_ptr<BoardSession> m_session;
    QPointer<QWidget> m_mainWindow;
    BoardPort* m_picComm;
    ActiveWindow m_activeWindow = ActiveWindow::None;

    QTimer* Timer1;

    // Controls, made by buildLayout() (frmpicoptions_layout.cpp).
    SSTab* SSTab1 = nullptr;
    QLabel* Label11 = nullptr;
    QPlainTextEdit* Text1 = nullptr;
    std::array<QPushButton*, 10> cmdNumber {};
    QPushButton* cmdDecimal = nullptr;
    QPushButton* cmdBackSpace = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;
    QPushButton* cmdApply = nullptr;

    // Tab 0, "Encoder 1"
    QGroupBox* Frame1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lblScale3 = nullptr;
    QLabel* Label2 = nullptr;
    ScaleBox* txtScale3 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QLabel* lblCounter3 = nullptr;
    QPushButton* cmdZeroCounter3 = nullptr;

    // Tab 1, "Encoder 2"
    QGroupBox* Frame4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* lblScale4 = nullptr;
    QLabel* Label4 = nullptr;
    ScaleBox* txtScale4 = nullptr;
    QGroupBox* Frame3 = nullptr;
    QLabel* lblCounter4 = nullptr;
    QPushButton* cmdZeroCounter4 = nullptr;

    // Tab 2, "Inputs / Outputs"; Shape[0] is Shape1.
    std::array<Shape*, 6> Shapes {};
    std::array<QLabel*, 6> inputLabels {}; // Label3, Label6 ... Label10
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
};
