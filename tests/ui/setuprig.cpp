// SPDX-License-Identifier: MIT
#include "setuprig.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTest>
#include <QWindow>

using namespace Qt::StringLiterals;

SetupRig::SetupRig(const QLocale& locale)
{
    QFile settings(folder.filePath(u"Settings.ini"_s));
    if (settings.open(QIODevice::WriteOnly))
        settings.write("[System]\r\nComPort=1\r\n");
    board.linkAt(folder.filePath(u"com1"_s));
    // A journal folder of its own, so no earlier test's kept readings turn up.
    qputenv("XDG_STATE_HOME", QFile::encodeName(folder.filePath(u"state"_s)));
    module = std::make_unique<Module1>(folder.path(), locale);
    main = std::make_unique<frmMain>(*module);
}

SetupRig::~SetupRig()
{
    main.reset();
}

bool SetupRig::start()
{
    if (!board.isValid() || !main->Form_Load())
        return false;
    main->show();
    return activateMain();
}

bool SetupRig::showSetup()
{
    main->Command1_Click();
    return setup() && waitFocusWindow(setup());
}

bool SetupRig::activateSetup()
{
    if (!setup())
        return false;
    setup()->activateWindow();
    return waitFocusWindow(setup());
}

bool SetupRig::activateMain()
{
    main->activateWindow();
    return waitFocusWindow(main.get());
}

bool SetupRig::waitFocusWindow(QWidget* window)
{
    // Not QTest::qWaitForWindowActive: a window counts as active there while
    // a window it is transient parent of has the focus.
    return QTest::qWaitFor(
        [window] {
            return window->windowHandle()
                && QGuiApplication::focusWindow() == window->windowHandle();
        },
        5000);
}

bool SetupRig::waitPolling()
{
    return setup() && QTest::qWaitFor([this] { return setup()->isPolling(); }, 5000);
}

QByteArray SetupRig::nextLine(int timeoutMs)
{
    if (m_lines.isEmpty())
        m_lines = board.waitForLines(1, timeoutMs);
    return m_lines.isEmpty() ? QByteArray() : m_lines.takeFirst();
}

QByteArrayList SetupRig::linesWritten(int commands, int settleMs)
{
    QByteArrayList lines;
    QDeadlineTimer deadline(5000);
    while (withoutPolls(lines).size() < commands && !deadline.hasExpired()) {
        const QByteArray line = nextLine(int(deadline.remainingTime()));
        if (line.isEmpty())
            break;
        lines << line;
    }
    QTest::qWait(settleMs);
    lines << m_lines << board.waitForLines(0, 0);
    m_lines.clear();
    return lines;
}

QByteArrayList SetupRig::withoutPolls(const QByteArrayList& lines)
{
    QByteArrayList commands;
    for (const QByteArray& line : lines) {
        if (!line.startsWith('?'))
            commands << line;
    }
    return commands;
}

void SetupRig::dropReceived()
{
    m_lines.clear();
    board.takeReceived();
}

MessageAnswerer::MessageAnswerer()
{
    m_timer.setInterval(20);
    connect(&m_timer, &QTimer::timeout, this, &MessageAnswerer::check);
    m_timer.start();
}

void MessageAnswerer::check()
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    seen.append({ box->windowTitle(), box->text(), box->icon(), box->standardButtons() });
    if (QAbstractButton* ok = box->button(QMessageBox::Ok))
        ok->click();
    else
        box->reject();
}
