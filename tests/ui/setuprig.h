// SPDX-License-Identifier: MIT
#pragma once

// A whole program under test: a program folder with Settings.ini and a com1
// link to a pseudo-terminal the test plays as the board, the run's Module1,
// and the main window loaded as at start-up (which loads the setup window
// hidden and opens the port).

#include "ui/frmmain.h"
#include "core/module1.h"
#include "ptyboard.h"
#include "ui/frmpicoptions.h"

#include <QLocale>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

class SetupRig
{
public:
    explicit SetupRig(const QLocale& locale = QLocale(QLocale::English, QLocale::UnitedStates));
    ~SetupRig();

    // True when the program loaded and its main window is shown and active.
    bool start();

    frmPicOptions* setup() const { return main ? main->setupWindow() : nullptr; }

    template<class T> T* child(const QString& name) const
    {
        return setup() ? setup()->findChild<T*>(name) : nullptr;
    }

    // "Setup" in the main window; true when the setup window is then active.
    bool showSetup();
    // The operator clicking into either window: true once it has the focus.
    bool activateSetup();
    bool activateMain();
    // True once `window` is the application's focus window.
    static bool waitFocusWindow(QWidget* window);
    // Polling runs once the setup window is active.
    bool waitPolling();

    // The next line the program wrote to the board, in order; empty when
    // none came within `timeoutMs`.
    QByteArray nextLine(int timeoutMs = 5000);
    // Every line the program writes until `commands` lines other than poll
    // requests have come (or 5 s have passed), and then for `settleMs` more.
    QByteArrayList linesWritten(int commands, int settleMs = 300);
    // The lines that are not poll requests.
    static QByteArrayList withoutPolls(const QByteArrayList& lines);
    // Forgets everything the program wrote so far.
    void dropReceived();

    QTemporaryDir folder;
    PtyBoard board;
    std::unique_ptr<Module1> module;
    std::unique_ptr<frmMain> main;

private:
    QList<QByteArray> m_lines;
};

// Closes every modal message box that shows while it lives, with its OK
// button, and remembers what each one said.
class MessageAnswerer : public QObject
{
    Q_OBJECT

public:
    struct Seen
    {
        QString caption;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
    };

    MessageAnswerer();

    QList<Seen> seen;

private:
    void check();
    QTimer m_timer;
};
