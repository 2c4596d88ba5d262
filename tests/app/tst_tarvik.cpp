// SPDX-License-Identifier: MIT
// The installed shape of the program: the executable alone in a folder with
// a com1 link, started as an operator would, with no arguments.

#include "ptyboard.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace Qt::StringLiterals;

class tst_Tarvik : public QObject
{
    Q_OBJECT

private:
    static QByteArray readFile(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // Whether process `pid` has a handler of its own for `signal`.
    static bool catchesSignal(pid_t pid, int signal)
    {
        const QByteArray status = readFile(u"/proc/%1/status"_s.arg(pid));
        for (const QByteArray& line : status.split('\n')) {
            if (line.startsWith("SigCgt:")) {
                bool ok = false;
                const qulonglong caught = line.mid(7).trimmed().toULongLong(&ok, 16);
                return ok && (caught >> (signal - 1)) & 1;
            }
        }
        return false;
    }

    // The executable alone in `dir` with the board linked as com1; empty
    // when that could not be set up.
    static QString installInto(const QTemporaryDir& dir, PtyBoard& board)
    {
        const QString exe = dir.filePath(u"tarvik"_s);
        if (!QFile::copy(qEnvironmentVariable("TARVIK_EXECUTABLE"), exe)
            || !board.linkAt(dir.filePath(u"com1"_s)))
            return {};
        return exe;
    }

private Q_SLOTS:
    void cOrPosixLocaleWritesIsoDates_data()
    {
        QTest::addColumn<QStringList>("locale"); // variables set; all others unset
        QTest::newRow("LANG unset") << QStringList();
        QTest::newRow("LANG=C") << QStringList { u"LANG=C"_s };
        QTest::newRow("LC_ALL=POSIX") << QStringList { u"LC_ALL=POSIX"_s };
        QTest::newRow("LC_ALL=C.UTF-8") << QStringList { u"LC_ALL=C.UTF-8"_s };
    }

    void cOrPosixLocaleWritesIsoDates()
    {
        // Not "7 Dec 2026": a spreadsheet reads ISO dates and 24-hour times.
        QFETCH(QStringList, locale);
        QTemporaryDir dir;
        PtyBoard board;
        const QString exe = installInto(dir, board);
        QVERIFY(!exe.isEmpty());

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& name : env.keys()) {
            if (name == u"LANG"_s || name == u"LANGUAGE"_s || name.startsWith(u"LC_"_s))
                env.remove(name);
        }
        for (const QString& setting : std::as_const(locale))
            env.insert(setting.section(u'=', 0, 0), setting.section(u'=', 1));
        QProcess tarvik;
        tarvik.setProcessEnvironment(env);
        tarvik.setProcessChannelMode(QProcess::ForwardedChannels);
        tarvik.start(exe, {});
        QVERIFY(tarvik.waitForStarted());
        // Ended as at shutdown even when a check fails, so that it lets go of
        // the port's lock file.
        const auto end = qScopeGuard([&tarvik] {
            ::kill(pid_t(tarvik.processId()), SIGTERM);
            tarvik.waitForFinished(20000);
        });
        // The file shows before its first record is in it: wait for a whole line.
        const QString csv = dir.filePath(u"Default.csv"_s);
        QTRY_VERIFY_WITH_TIMEOUT(board.send("<KS42.5*\r\n") && readFile(csv).contains('\n'), 20000);
        const QByteArray record = readFile(csv).split('\n').constFirst();
        QVERIFY2(QRegularExpression(uR"(^"42\.5","\d{4}-\d\d-\d\d","\d\d:\d\d:\d\d"\r$)"_s)
                     .match(QString::fromLatin1(record))
                     .hasMatch(),
            record.constData());
    }

    void logsReadingsAndEndsCleanlyOnTerminate_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM at shutdown") << int(SIGTERM);
        QTest::newRow("SIGHUP at logout") << int(SIGHUP);
        QTest::newRow("SIGINT from a terminal") << int(SIGINT);
    }

    void logsReadingsAndEndsCleanlyOnTerminate()
    {
        QFETCH(int, signal);
        QTemporaryDir dir;
        PtyBoard board;
        const QString exe = installInto(dir, board);
        QVERIFY(!exe.isEmpty());

        QProcess tarvik;
        tarvik.setProcessChannelMode(QProcess::ForwardedChannels);
        tarvik.start(exe, {});
        QVERIFY(tarvik.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(readFile(dir.filePath(u"Settings.ini"_s)),
            QByteArray("[System]\r\nComPort=1\r\n"), 20000);

        // The port may open a moment after the settings are written: send
        // until the first record shows.
        const QString csv = dir.filePath(u"Default.csv"_s);
        QTRY_VERIFY_WITH_TIMEOUT(board.send("<KS42.5*\r\n") && readFile(csv).contains('\n'), 20000);
        QVERIFY(readFile(csv).startsWith("\"42.5\",\""));

        ::kill(pid_t(tarvik.processId()), signal);
        QVERIFY(tarvik.waitForFinished(20000));
        QCOMPARE(tarvik.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tarvik.exitCode(), 0);
    }

    void signalDuringTheStartUpMessageEndsAsOkDoes_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM at shutdown") << int(SIGTERM);
        QTest::newRow("SIGHUP at logout") << int(SIGHUP);
        QTest::newRow("SIGINT from a terminal") << int(SIGINT);
    }

    void signalDuringTheStartUpMessageEndsAsOkDoes()
    {
        // Not a port number: the start-up failure message shows. A signal
        // then closes it and the program ends as after OK, with the
        // failure's status, rather than being killed.
        QFETCH(int, signal);
        QTemporaryDir dir;
        PtyBoard board;
        const QString exe = installInto(dir, board);
        QVERIFY(!exe.isEmpty());
        {
            QFile settings(dir.filePath(u"Settings.ini"_s));
            QVERIFY(settings.open(QIODevice::WriteOnly));
            settings.write("[System]\r\nComPort=abc\r\n");
        }

        QProcess tarvik;
        tarvik.setProcessChannelMode(QProcess::ForwardedChannels);
        tarvik.start(exe, {});
        QVERIFY(tarvik.waitForStarted());
        const auto end = qScopeGuard([&tarvik] {
            if (tarvik.state() != QProcess::NotRunning) {
                tarvik.kill();
                tarvik.waitForFinished(20000);
            }
        });
        const auto pid = pid_t(tarvik.processId());
        // The program handles the signal itself by then.
        QTRY_VERIFY_WITH_TIMEOUT(catchesSignal(pid, signal), 20000);
        // On a screen, the message is up: a window of the program titled
        // "Tarvik".
        if (qEnvironmentVariable("QT_QPA_PLATFORM") == u"xcb"_s) {
            QTRY_VERIFY_WITH_TIMEOUT(QProcess::execute(u"xdotool"_s,
                                         { u"search"_s, u"--onlyvisible"_s, u"--pid"_s,
                                             QString::number(pid), u"--name"_s, u"^Tarvik$"_s })
                    == 0,
                20000);
        }

        ::kill(pid, signal);
        QVERIFY(tarvik.waitForFinished(20000));
        QCOMPARE(tarvik.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tarvik.exitCode(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_Tarvik)
#include "tst_tarvik.moc"
