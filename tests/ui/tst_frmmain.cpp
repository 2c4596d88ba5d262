// SPDX-License-Identifier: MIT
#include "ui/frmmain.h"
#include "core/journal.h"
#include "core/module1.h"
#include "port/boardport.h"
#include "port/serialports.h"
#include "ptyboard.h"
#include "ui/frmpicoptions.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

const QLocale English(QLocale::English, QLocale::UnitedStates);

// A record's date and time: "value","date","time" CR LF.
QString moment(const QByteArray& record)
{
    const QStringList fields = QString::fromLocal8Bit(record.chopped(3).mid(1)).split(u"\",\""_s);
    return fields.size() == 3 ? fields[1] + u' ' + fields[2] : QString();
}

// The readings' span as the messages give it.
QString span(const QByteArray& first, const QByteArray& last)
{
    return moment(first) == moment(last) ? moment(first) : moment(first) + u" to "_s + moment(last);
}

enum class Ending
{
    Exit,
    CloseBox,
    Signal,
    Killed
};

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

// Answers the next modal box by pressing its OK button, keeping its text.
class MessageCatcher : public QObject
{
public:
    explicit MessageCatcher(QObject* parent)
        : QObject(parent)
    {
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts.append(box->text());
                titles.append(box->windowTitle());
                centres.append(box->geometry().center());
                box->button(QMessageBox::Ok)->click();
            }
        });
        timer->start(20);
    }
    QStringList texts;
    QStringList titles;
    QList<QPoint> centres;
};

} // namespace

Q_DECLARE_METATYPE(Ending)

class tst_frmMain : public QObject
{
    Q_OBJECT

private:
    QString settingsPath() const { return m_dir->filePath(u"Settings.ini"_s); }
    QString journalFolder() const { return m_dir->filePath(u"state/tarvik"_s); }
    QStringList journals() const
    {
        return QDir(journalFolder()).entryList({ u"kept-*.journal"_s }, QDir::Files);
    }

    // Starts the program again in the same folders, as the operator does
    // after the end of a run.
    MessageCatcher* startAgain()
    {
        m_main.reset();
        m_module = std::make_unique<Module1>(m_dir->path(), English);
        m_main = std::make_unique<frmMain>(*m_module);
        auto* catcher = new MessageCatcher(m_main.get());
        return m_main->Form_Load() ? catcher : nullptr;
    }

    // A run logging to logs/run.csv: reading 1 goes in, then the folder goes
    // away (a USB stick pulled) and readings 2 and 3 are kept. Returns their
    // records as saved in the journal.
    std::vector<JournalRecord> runUntilReadingsAreKept(MessageCatcher** catcher)
    {
        m_main = std::make_unique<frmMain>(*m_module);
        if (!m_main->Form_Load())
            return {};
        *catcher = new MessageCatcher(m_main.get());
        QDir dir(m_dir->path());
        dir.mkdir(u"logs"_s);
        m_main->fileDialog().FileName = m_dir->filePath(u"logs/run.csv"_s);
        m_board->send("<KS1*\r\n");
        if (!QTest::qWaitFor([&] { return readFile(logFile()).count("\r\n") == 1; }))
            return {};
        dir.rename(u"logs"_s, u"logs.away"_s);
        m_board->send("<KS2*\r\n<KS3*\r\n");
        if (!QTest::qWaitFor([&] { return (*catcher)->texts.size() == 1; }))
            return {};
        const QStringList names = journals();
        if (names.size() != 1 || m_module->logFile.keptCount() != 2)
            return {};
        return Journal::readRecords(journalFolder() + u'/' + names.constFirst());
    }
    QString logFile() const { return m_dir->filePath(u"logs/run.csv"_s); }

    // Ends the run the way `ending` does, from inside the program's event
    // loop as the operator would; returns the exit status (-1: it did not
    // end, or it was killed).
    int end(Ending ending)
    {
        if (ending == Ending::Killed)
            return -1;
        QTimer::singleShot(0, m_main.get(), [this, ending] {
            switch (ending) {
            case Ending::Exit:
                m_main->Command2_Click();
                break;
            case Ending::CloseBox:
                m_main->close();
                break;
            case Ending::Signal:
                m_main->endProgram(0);
                break;
            case Ending::Killed:
                break;
            }
        });
        // As main() runs it: a message box closing is no reason to quit.
        QApplication::setQuitOnLastWindowClosed(false);
        // Ends the loop should the program fail to.
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, this, [] { QCoreApplication::exit(-1); });
        guard.start(20000);
        return QCoreApplication::exec();
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PtyBoard> m_board;
    std::unique_ptr<Module1> m_module;
    std::unique_ptr<frmMain> m_main;

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        // Each case has a journal folder of its own.
        qputenv("XDG_STATE_HOME", QFile::encodeName(m_dir->filePath(u"state"_s)));
        m_board = std::make_unique<PtyBoard>();
        QVERIFY(m_board->isValid());
        QVERIFY(m_board->linkAt(m_dir->filePath(u"com1"_s)));
        m_module = std::make_unique<Module1>(m_dir->path(), English);
    }

    void cleanup()
    {
        m_main.reset();
        m_module.reset();
        m_board.reset();
        m_dir.reset();
    }

    void startsInEmptyFolderAndWritesDefaultSetting()
    {
        m_main = std::make_unique<frmMain>(*m_module);
        QVERIFY(m_main->Form_Load());
        QCOMPARE(readFile(settingsPath()), QByteArray("[System]\r\nComPort=1\r\n"));
        QCOMPARE(m_module->ComPortSetting, u"1"_s);
        QCOMPARE(m_main->logNameLabel()->text(), u"Log Name: "_s + m_dir->filePath(u"Default.csv"_s));
        QCOMPARE(m_main->fileDialog().FileName, m_dir->filePath(u"Default.csv"_s));
        QVERIFY(!QFile::exists(m_dir->filePath(u"Default.csv"_s)));
        QVERIFY(m_main->setupWindow());
        QVERIFY(m_main->setupWindow()->PicComm()->isOpen());
        QVERIFY(!m_main->setupWindow()->isVisible());
        QCOMPARE(m_main->windowTitle(), u"Tarvik Data Logger"_s);
    }

    void layout()
    {
        m_main = std::make_unique<frmMain>(*m_module);
        QVERIFY(m_main->Form_Load());
        QCOMPARE(m_main->size(), QSize(627, 427));
        QCOMPARE(m_main->logView()->geometry(), QRect(16, 36, 445, 353));
        QCOMPARE(m_main->logNameLabel()->geometry(), QRect(16, 4, 497, 29));
        const auto buttonAt = [this](const char* name) {
            return m_main->findChild<QPushButton*>(QString::fromLatin1(name));
        };
        QCOMPARE(buttonAt("cmdSave")->geometry(), QRect(468, 40, 149, 45));
        QCOMPARE(buttonAt("cmdSave")->text(), u"Create New Log File"_s);
        QCOMPARE(buttonAt("Command1")->geometry(), QRect(468, 284, 149, 45));
        QCOMPARE(buttonAt("Command1")->text(), u"Setup"_s);
        QCOMPARE(buttonAt("Command2")->geometry(), QRect(468, 344, 149, 45));
        QCOMPARE(buttonAt("Command2")->text(), u"Exit"_s);
        QCOMPARE(m_main->logView()->font().pointSizeF(), 13.5);
        QVERIFY(m_main->logView()->toPlainText().isEmpty());
    }

    void existingSettingIsNotRewritten()
    {
        const QByteArray content("; board on the second adapter\r\n[Other]\r\nA=1\r\n\r\n[System]\r\n"
                                 "ComPort=3\r\n");
        QVERIFY(writeFile(settingsPath(), content));
        QVERIFY(m_board->linkAt(m_dir->filePath(u"com3"_s)));
        m_main = std::make_unique<frmMain>(*m_module);
        QVERIFY(m_main->Form_Load());
        QCOMPARE(readFile(settingsPath()), content);
        QCOMPARE(m_main->setupWindow()->PicComm()->portName(), m_dir->filePath(u"com3"_s));
    }

    void emptySettingIsWrittenBackKeepingComments()
    {
        QVERIFY(writeFile(settingsPath(), "; keep me\r\n[System]\r\nComPort=\r\n[Other]\r\nB=2\r\n"));
        m_main = std::make_unique<frmMain>(*m_module);
        QVERIFY(m_main->Form_Load());
        QCOMPARE(readFile(settingsPath()),
                 QByteArray("; keep me\r\n[System]\r\nComPort=1\r\n[Other]\r\nB=2\r\n"));
    }

    void unusablePortShowsMessage_data()
    {
        QTest::addColumn<QByteArray>("setting");
        QTest::addColumn<QString>("reasonContains");

        QTest::newRow("letters") << QByteArray("abc") << u"ComPort=abc"_s;
        QTest::newRow("out of 16-bit range") << QByteArray("70000") << u"ComPort=70000"_s;
        QTest::newRow("zero") << QByteArray("0") << u"ComPort=0"_s;
        QTest::newRow("above the last port") << QByteArray("256") << u"ComPort=256"_s;
        QTest::newRow("missing device") << QByteArray("200") << u"/dev/ttyS199: "_s;
        QTest::newRow("dangling link") << QByteArray("7") << u"com7: "_s;
        QTest::newRow("regression: %1 in the setting took the port number")
            << QByteArray("300%1") << u"ComPort=300%1: port 300 is not a serial port number"_s;
    }

    void unusablePortShowsMessage()
    {
        QFETCH(QByteArray, setting);
        QFETCH(QString, reasonContains);
        QVERIFY(QFile::link(u"/nonexistent/tty"_s, m_dir->filePath(u"com7"_s)));
        QVERIFY(writeFile(settingsPath(), "[System]\r\nComPort=" + setting + "\r\n"));

        m_main = std::make_unique<frmMain>(*m_module);
        auto* catcher = new MessageCatcher(m_main.get());
        QVERIFY(!m_main->Form_Load());
        QCOMPARE(catcher->texts.size(), 1);
        QCOMPARE(catcher->titles.constFirst(), u"Tarvik"_s);
        const QString text = catcher->texts.constFirst();
        const QString head = u"Invalid Port Number.  Open the file named "_s
            + QDir::toNativeSeparators(settingsPath())
            + u"\r\nand enter the correct com port number.\r\n\r\n"_s;
        QVERIFY2(text.startsWith(head), qPrintable(text));
        QVERIFY2(text.mid(head.size()).contains(reasonContains), qPrintable(text));
        // Below the reason: the ports there are, and how to choose one.
        const QString advice
            = startupPortAdvice(systemSerialPorts(), QDir::toNativeSeparators(settingsPath()));
        QVERIFY2(text.endsWith(u"\r\n\r\n"_s + advice), qPrintable(text));
        QVERIFY(!m_main->setupWindow());
        QVERIFY(!m_main->isVisible());

        // No window is shown yet to stand it on: the middle of the screen,
        // not the corner where the hidden main window is.
        const QPoint offCentre
            = catcher->centres.constFirst() - QGuiApplication::primaryScreen()->geometry().center();
        QVERIFY2(qAbs(offCentre.x()) <= 4 && qAbs(offCentre.y()) <= 4,
            qPrintable(
                u"%1,%2"_s.arg(QString::number(offCentre.x()), QString::number(offCentre.y()))));
    }

    void setupShowsOneWindowAndReloadsAfterClose()
    {
        m_main = std::make_unique<frmMain>(*m_module);
        QVERIFY(m_main->Form_Load());
        m_main->show();
        QPointer<frmPicOptions> first = m_main->setupWindow();
        m_main->Command1_Click();
        m_main->Command1_Click();
        QCOMPARE(m_main->setupWindow(), first.data());
        QVERIFY(first->isVisible());
        const auto setupWindows = [] {
            qsizetype count = 0;
            for (QWidget* window : QApplication::topLevelWidgets())
                count += qobject_cast<frmPicOptions*>(window) ? 1 : 0;
            return count;
        };
        QCOMPARE(setupWindows(), 1);

        // The close box unloads it; a changed setting takes effect on reload.
        first->close();
        QTRY_VERIFY(first.isNull());
        QVERIFY(!m_main->setupWindow());
        QVERIFY(m_board->linkAt(m_dir->filePath(u"com2"_s)));
        QVERIFY(writeFile(settingsPath(), "[System]\r\nComPort=2\r\n"));
        m_main->Command1_Click();
        QVERIFY(m_main->setupWindow());
        QVERIFY(m_main->setupWindow()->isVisible());
        QCOMPARE(m_main->setupWindow()->PicComm()->portName(), m_dir->filePath(u"com2"_s));
    }

    void readingIsLoggedToViewAndFile()
    {
        m_main = std::make_unique<frmMain>(*m_module);
        QVERIFY(m_main->Form_Load());
        QVERIFY(m_board->send("<KS12.3456*\r\n<KS-0.5*\r\n<KS0*\r\n"));
        const QString csv = m_dir->filePath(u"Default.csv"_s);
        QTRY_COMPARE(readFile(csv).count("\r\n"), 3);
        const QList<QByteArray> records = readFile(csv).split('\n');
        QVERIFY(records[0].startsWith("\"12.346\",\""));
        QVERIFY(records[1].startsWith("\"-0.5\",\""));
        QVERIFY(records[2].startsWith("\"0\",\""));
        // "value","M/D/YYYY","H:MM:SS AM"
        QVERIFY2(QRegularExpression(uR"(^"12\.346","\d{1,2}/\d{1,2}/\d{4}","\d{1,2}:\d\d:\d\d [AP]M"\r$)"_s)
                     .match(QString::fromLatin1(records[0]))
                     .hasMatch(),
                 records[0].constData());
        const QStringList lines = m_main->logView()->toPlainText().split(u'\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].startsWith(u"12.346\t"_s));
        QCOMPARE(lines[0].count(u'\t'), 2);
    }

    // At the limit the oldest 1,000 lines go in one step, so the view holds
    // 99,001 to 100,000 lines, however the lines came in.
    void logViewKeepsTheNewestLinesOnly_data()
    {
        QTest::addColumn<int>("linesPerPass");
        QTest::newRow("one pass") << 0;
        QTest::newRow("passes of 64 lines") << 64;
    }

    void logViewKeepsTheNewestLinesOnly()
    {
        QFETCH(int, linesPerPass);
        m_main = std::make_unique<frmMain>(*m_module);
        for (int i = 1; i <= 100500; ++i) {
            m_main->appendLogLine(QString::number(i) + u"\t7.12.2026\t04:19:14\r\n"_s);
            if (linesPerPass > 0 && i % linesPerPass == 0)
                QCoreApplication::processEvents();
        }
        const LogView* view = m_main->logView();
        QTRY_COMPARE(view->lineCount(), qsizetype(99500));
        QCOMPARE(view->line(view->lineCount() - 1), u"100500\t7.12.2026\t04:19:14"_s);
        QCOMPARE(view->line(0), u"1001\t7.12.2026\t04:19:14"_s);
    }

    // Each reading brings the newest line into view, also after the operator
    // has scrolled back through the kept lines.
    void newestReadingIsBroughtIntoView_data()
    {
        QTest::addColumn<int>("linesBefore");
        QTest::addColumn<bool>("wheel"); // else the scroll bar is dragged to the top

        QTest::newRow("scroll bar dragged to the top") << 2000 << false;
        QTest::newRow("wheel turned up") << 2000 << true;
        QTest::newRow("view full, scroll bar at the top") << 100000 << false;
    }

    void newestReadingIsBroughtIntoView()
    {
        QFETCH(int, linesBefore);
        QFETCH(bool, wheel);
        m_main = std::make_unique<frmMain>(*m_module);
        QVERIFY(m_main->Form_Load());
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
        for (int i = 1; i <= linesBefore; ++i)
            m_main->appendLogLine(QString::number(i) + u"\t12/7/2026\t4:19:14 AM\r\n"_s);
        QScrollBar* bar = m_main->logView()->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0);
        QTRY_COMPARE(bar->value(), bar->maximum());

        if (wheel) {
            QWidget* viewport = m_main->logView()->viewport();
            const QPointF at(viewport->width() / 2, viewport->height() / 2);
            QWheelEvent up(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, 120 * 5),
                           Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(viewport, &up);
        } else {
            bar->setValue(0);
        }
        QVERIFY(bar->value() < bar->maximum());

        QVERIFY(m_board->send("<KS12.5*\r\n"));
        QTRY_COMPARE(bar->value(), bar->maximum());
        const LogView* view = m_main->logView();
        QCOMPARE(view->lastVisibleLine(), view->lineCount() - 1);
        QVERIFY(view->line(view->lastVisibleLine()).startsWith(u"12.5\t"_s));
    }

    void unwritableLogKeepsReadingsUntilAWritableFile()
    {
        m_main = std::make_unique<frmMain>(*m_module);
        QVERIFY(m_main->Form_Load());
        auto* catcher = new MessageCatcher(m_main.get());
        m_main->fileDialog().FileName = m_dir->filePath(u"missing/folder/log.csv"_s);

        QVERIFY(m_board->send("<KS1*\r\n<KS2*\r\n"));
        QTRY_COMPARE(m_module->logFile.keptCount(), qsizetype(2));
        QTRY_COMPARE(catcher->texts.size(), 1);
        QVERIFY(catcher->texts.constFirst().contains(u"missing/folder/log.csv"_s));
        QCOMPARE(m_main->logView()->toPlainText().count(u'\n'), 1); // both in the view

        const QString good = m_dir->filePath(u"good.csv"_s);
        m_main->fileDialog().FileName = good;
        QVERIFY(m_board->send("<KS3*\r\n"));
        QTRY_COMPARE(readFile(good).count("\r\n"), 3);
        const QList<QByteArray> records = readFile(good).split('\n');
        QVERIFY(records[0].startsWith("\"1\","));
        QVERIFY(records[1].startsWith("\"2\","));
        QVERIFY(records[2].startsWith("\"3\","));
        QCOMPARE(m_module->logFile.keptCount(), qsizetype(0));
        QCOMPARE(catcher->texts.size(), 1);
        QCOMPARE(m_main->cursor().shape(), Qt::ArrowCursor);
    }

    void logFailureMessageKeepsTheFileNameAsItIs()
    {
        // A %1 in a folder's name took the number of kept readings and left
        // "%3 reading(s)" in the text.
        m_main = std::make_unique<frmMain>(*m_module);
        QVERIFY(m_main->Form_Load());
        auto* catcher = new MessageCatcher(m_main.get());
        const QString name = m_dir->filePath(u"missing%1/folder%2/log%3.csv"_s);
        m_main->fileDialog().FileName = name;

        QVERIFY(m_board->send("<KS1*\r\n"));
        QTRY_COMPARE(catcher->texts.size(), 1);
        const QString text = catcher->texts.constFirst();
        QVERIFY2(text.startsWith(u"The log file "_s + name + u" cannot be written: "_s),
            qPrintable(text));
        QVERIFY2(text.contains(u"\r\n\r\n1 reading(s) are kept"_s), qPrintable(text));
    }

    void createNewLogFile_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("cancel keeps the name") << true;
        QTest::newRow("chosen name is used") << false;
    }

    void createNewLogFile()
    {
        QFETCH(bool, cancel);
        m_main = std::make_unique<frmMain>(*m_module);
        QVERIFY(m_main->Form_Load());
        QVERIFY(m_board->send("<KS1*\r\n"));
        QTRY_VERIFY(!m_main->logView()->toPlainText().isEmpty());

        const QString chosen = m_dir->filePath(u"run2"_s); // no extension is added
        QTimer::singleShot(50, m_main.get(), [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            // A failed check must not leave the modal dialog waiting forever.
            const auto closeOnFailure = qScopeGuard([dialog] {
                if (dialog->isVisible())
                    dialog->reject();
            });
            if (cancel) {
                dialog->reject();
            } else {
                // Typed by the operator: selectFile() leaves a focused name box alone.
                auto* name = dialog->findChild<QLineEdit*>(u"fileNameEdit"_s);
                QVERIFY(name);
                // Once the dialog has read the folder it selects the current
                // file in its list, and a list selection outranks typed text:
                // clear it and type until the typed name is what it returns.
                QTRY_VERIFY_WITH_TIMEOUT(
                    [&] {
                        for (auto* view : dialog->findChildren<QAbstractItemView*>())
                            view->clearSelection();
                        name->setText(chosen);
                        QTest::qWait(20);
                        return dialog->selectedFiles().value(0) == chosen;
                    }(),
                    20000);
                static_cast<QDialog*>(dialog)->accept();
            }
        });
        m_main->cmdSave_Click();
        const QString expected = cancel ? m_dir->filePath(u"Default.csv"_s) : chosen;
        QCOMPARE(m_main->fileDialog().FileName, expected);
        QCOMPARE(m_main->logNameLabel()->text(), u"Log Name: "_s + expected);
        QVERIFY(m_main->logView()->toPlainText().isEmpty());
        QVERIFY(cancel || !QFile::exists(chosen)); // created by the next reading only

        QVERIFY(m_board->send("<KS2*\r\n"));
        QTRY_VERIFY(readFile(expected).contains("\"2\","));
    }

    void boardLossShowsInCaption()
    {
        m_main = std::make_unique<frmMain>(*m_module);
        QVERIFY(m_main->Form_Load());
        m_board->hangUp();
        QTRY_COMPARE(m_main->windowTitle(), u"Tarvik Data Logger - encoder board not connected"_s);
        QVERIFY(!m_main->setupWindow()->PicComm()->isOpen());
    }

    void boardComingBackIsReopenedByTheSameLink()
    {
        m_main = std::make_unique<frmMain>(*m_module);
        QVERIFY(m_main->Form_Load());
        m_board->hangUp();
        QTRY_VERIFY(!m_main->setupWindow()->PicComm()->isOpen());

        // A re-plugged adapter: the same link now leads to another device.
        m_board = std::make_unique<PtyBoard>();
        QVERIFY(m_board->linkAt(m_dir->filePath(u"com1"_s)));
        QTRY_VERIFY_WITH_TIMEOUT(m_main->setupWindow()->PicComm()->isOpen(), 10000);
        QCOMPARE(m_main->windowTitle(), u"Tarvik Data Logger"_s);
        QVERIFY(m_board->send("<KS7.5*\r\n"));
        QTRY_VERIFY(readFile(m_dir->filePath(u"Default.csv"_s)).startsWith("\"7.5\","));
    }

    void keptReadingsAreWrittenAtTheNextStart_data()
    {
        QTest::addColumn<Ending>("ending");
        QTest::newRow("Exit") << Ending::Exit;
        QTest::newRow("the close box") << Ending::CloseBox;
        QTest::newRow("a signal at shutdown") << Ending::Signal;
        QTest::newRow("killed: no end at all") << Ending::Killed;
    }

    // The run ends while readings are kept: nothing is asked, and the next
    // start writes them after what was there, with their own times, and says
    // how many, from when and into which file.
    void keptReadingsAreWrittenAtTheNextStart()
    {
        QFETCH(Ending, ending);
        MessageCatcher* catcher = nullptr;
        const std::vector<JournalRecord> saved = runUntilReadingsAreKept(&catcher);
        QCOMPARE(saved.size(), size_t(2));
        QCOMPARE(saved[0].logFile, logFile());
        const QString text = catcher->texts.constFirst();
        QVERIFY2(text.contains(u"2 reading(s) are kept"_s), qPrintable(text));
        QVERIFY2(text.contains(u"They are also saved in "_s + journalFolder() + u"/kept-"_s),
            qPrintable(text));
        const QByteArray before = readFile(m_dir->filePath(u"logs.away/run.csv"_s));

        QCOMPARE(end(ending), ending == Ending::Killed ? -1 : 0);
        QCOMPARE(catcher->texts.size(), 1); // nothing asked, nothing to tell
        QCOMPARE(journals().size(), 1);

        QVERIFY(QDir(m_dir->path()).rename(u"logs.away"_s, u"logs"_s));
        MessageCatcher* next = startAgain();
        QVERIFY(next);
        QTRY_COMPARE(next->texts.size(), 1);
        QCOMPARE(readFile(logFile()), before + saved[0].record + saved[1].record);
        QVERIFY2(next->texts.constFirst().contains(
                     u"2 reading(s) from %1 are now written into %2."_s.arg(
                         span(saved[0].record, saved[1].record), logFile())),
            qPrintable(next->texts.constFirst()));
        QVERIFY(journals().isEmpty());
    }

    // Still away at the next start: nothing lost, the journal kept, and the
    // message says so and where. Once the file is back, the earlier readings
    // go in before the new run's.
    void logStillUnwritableAtTheNextStart()
    {
        MessageCatcher* catcher = nullptr;
        const std::vector<JournalRecord> saved = runUntilReadingsAreKept(&catcher);
        QCOMPARE(saved.size(), size_t(2));
        const QByteArray before = readFile(m_dir->filePath(u"logs.away/run.csv"_s));
        const QStringList journal = journals();

        MessageCatcher* next = startAgain();
        QVERIFY(next);
        QTRY_COMPARE(next->texts.size(), 1);
        const QString text = next->texts.constFirst();
        QVERIFY2(text.contains(u"2 reading(s) from %1 still cannot be written into %2: "_s.arg(
                     span(saved[0].record, saved[1].record), logFile())),
            qPrintable(text));
        QVERIFY2(text.contains(u"They stay saved in "_s + journalFolder()), qPrintable(text));
        QCOMPARE(journals(), journal);

        QVERIFY(QDir(m_dir->path()).rename(u"logs.away"_s, u"logs"_s));
        m_main->fileDialog().FileName = logFile();
        QVERIFY(m_board->send("<KS4*\r\n"));
        QTRY_COMPARE(readFile(logFile()).count("\r\n"), 4);
        const QByteArray after = readFile(logFile());
        QVERIFY(after.startsWith(before + saved[0].record + saved[1].record + "\"4\","));
        QTRY_COMPARE(next->texts.size(), 2);
        QVERIFY2(
            next->texts.constLast().contains(u"2 reading(s) from %1 are now written into %2."_s.arg(
                span(saved[0].record, saved[1].record), logFile())),
            qPrintable(next->texts.constLast()));
        QVERIFY(journals().isEmpty());
    }

    void readingsOnlyInMemoryAreToldAtTheEnd_data()
    {
        QTest::addColumn<Ending>("ending");
        QTest::newRow("Exit") << Ending::Exit;
        QTest::newRow("the close box") << Ending::CloseBox;
    }

    // The home folder cannot take the journal either: the failure message
    // says the readings are only in memory, and the end says they are lost
    // instead of dropping them without a word.
    void readingsOnlyInMemoryAreToldAtTheEnd()
    {
        QFETCH(Ending, ending);
        QVERIFY(writeFile(m_dir->filePath(u"state"_s), "not a folder"));
        m_module = std::make_unique<Module1>(m_dir->path(), English);
        m_main = std::make_unique<frmMain>(*m_module);
        QVERIFY(m_main->Form_Load());
        auto* catcher = new MessageCatcher(m_main.get());
        const QString bad = m_dir->filePath(u"missing/log.csv"_s);
        m_main->fileDialog().FileName = bad;

        QVERIFY(m_board->send("<KS1*\r\n"));
        QTRY_COMPARE(catcher->texts.size(), 1);
        QVERIFY2(catcher->texts.constFirst().contains(
                     u"1 of them are only in memory: they cannot be saved in %1 either ("_s.arg(
                         journalFolder())),
            qPrintable(catcher->texts.constFirst()));

        QCOMPARE(end(ending), 0);
        QCOMPARE(catcher->texts.size(), 2);
        QVERIFY2(catcher->texts.constLast().startsWith(
                     u"1 reading(s) are lost: the log file %1 cannot be written ("_s.arg(bad)),
            qPrintable(catcher->texts.constLast()));
    }
};

QTEST_MAIN(tst_frmMain)
#include "tst_frmmain.moc"
