// SPDX-License-Identifier: MIT
// The installed shape of the program: the executable alone in a folder with
// a com1 link, started as an operator would, with no arguments.

#include "core/journal.h"
#include "ptyboard.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <map>

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

    // Sends `signal` to the program while it runs (a process id of 0 would
    // signal the test's own process group), then waits for its end.
    static bool stop(QProcess& tarvik, int signal)
    {
        if (tarvik.processId() > 0)
            ::kill(pid_t(tarvik.processId()), signal);
        return tarvik.state() == QProcess::NotRunning || tarvik.waitForFinished(20000);
    }

    // The log file behind a link into logs/, a folder that can go away and
    // come back (a USB stick, a network share); returns the log's real path.
    static QString logThroughFolder(const QTemporaryDir& dir)
    {
        if (!QDir(dir.path()).mkdir(u"logs"_s)
            || !QFile::link(u"logs/Default.csv"_s, dir.filePath(u"Default.csv"_s)))
            return {};
        return dir.filePath(u"logs/Default.csv"_s);
    }

    // The folder going away (true) or coming back.
    static bool logFolderAway(const QTemporaryDir& dir, bool away)
    {
        return away ? QDir(dir.path()).rename(u"logs"_s, u"logs.away"_s)
                    : QDir(dir.path()).rename(u"logs.away"_s, u"logs"_s);
    }

    // The log file wherever its folder is now.
    static QByteArray logBytes(const QTemporaryDir& dir)
    {
        const QString path = dir.filePath(u"logs/Default.csv"_s);
        return QFile::exists(path) ? readFile(path)
                                   : readFile(dir.filePath(u"logs.away/Default.csv"_s));
    }

    // Started with its journal in the test's folder; true once it has its
    // port open (its start, journal recovery included, is then done when it
    // reads the next byte).
    static bool start(QProcess& tarvik, const QString& exe, const QTemporaryDir& dir,
        const PtyBoard& board, bool waitForPort = true)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_STATE_HOME"_s, dir.filePath(u"state"_s));
        tarvik.setProcessEnvironment(env);
        tarvik.setProcessChannelMode(QProcess::ForwardedChannels);
        tarvik.start(exe, {});
        if (!tarvik.waitForStarted())
            return false;
        const QString fds = u"/proc/%1/fd"_s.arg(tarvik.processId());
        return !waitForPort
            || QTest::qWaitFor(
                [&] {
                    for (const QFileInfo& fd : QDir(fds).entryInfoList(QDir::System))
                        if (fd.symLinkTarget() == board.devicePath())
                            return true;
                    return false;
                },
                20000);
    }

    static QStringList journalFiles(const QTemporaryDir& dir)
    {
        const QString folder = dir.filePath(u"state/tarvik"_s);
        QStringList paths;
        for (const QString& name : QDir(folder).entryList({ u"kept-*.journal"_s }, QDir::Files))
            paths.append(folder + u'/' + name);
        return paths;
    }

    static QByteArrayList journaled(const QTemporaryDir& dir)
    {
        QByteArrayList records;
        for (const QString& path : journalFiles(dir)) {
            for (const JournalRecord& r : Journal::readRecords(path))
                records.append(r.record);
        }
        return records;
    }

    // The whole records in `bytes`, each with its CR LF.
    static QByteArrayList wholeRecords(const QByteArray& bytes)
    {
        QByteArrayList records;
        qsizetype from = 0;
        qsizetype end;
        while ((end = bytes.indexOf("\r\n", from)) >= 0) {
            records.append(bytes.mid(from, end + 2 - from));
            from = end + 2;
        }
        return records;
    }

    // The reading's number in its record "n","date","time"; -1 when it is no
    // such record.
    static int numberOf(const QByteArray& record)
    {
        static const QRegularExpression form(uR"re(^"(\d+)","[^"]+","[^"]+"\r\n$)re"_s);
        const QRegularExpressionMatch m = form.match(QString::fromLatin1(record));
        return m.hasMatch() ? m.captured(1).toInt() : -1;
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

    void keptReadingsAreWrittenAtTheNextStart_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("backAtNextStart");
        QTest::newRow("kill -9") << int(SIGKILL) << true;
        QTest::newRow("SIGTERM at shutdown") << int(SIGTERM) << true;
        QTest::newRow("kill -9, the log still away at the next start") << int(SIGKILL) << false;
    }

    // Readings kept while the log's folder is away outlast the program: the
    // next start that finds the folder writes them once, in order, after
    // what was there, with their own times.
    void keptReadingsAreWrittenAtTheNextStart()
    {
        QFETCH(int, signal);
        QFETCH(bool, backAtNextStart);
        QTemporaryDir dir;
        PtyBoard board;
        const QString exe = installInto(dir, board);
        QVERIFY(!exe.isEmpty());
        const QString csv = logThroughFolder(dir);
        QVERIFY(!csv.isEmpty());

        QProcess first;
        const auto endFirst = qScopeGuard([&first] { stop(first, SIGKILL); });
        QVERIFY(start(first, exe, dir, board));
        QVERIFY(board.send("<KS1*\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(readFile(csv).count("\r\n"), 1, 20000);
        const QByteArray before = readFile(csv);

        QVERIFY(logFolderAway(dir, true));
        QVERIFY(board.send("<KS2*\r\n<KS3*\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(journaled(dir).size(), 2, 20000);
        const QByteArrayList saved = journaled(dir);
        QCOMPARE(numberOf(saved[0]), 2);
        QCOMPARE(numberOf(saved[1]), 3);
        QVERIFY(stop(first, signal));
        if (signal == SIGTERM)
            QCOMPARE(first.exitCode(), 0);
        QCOMPARE(journaled(dir), saved);

        if (backAtNextStart)
            QVERIFY(logFolderAway(dir, false));
        QProcess second;
        const auto endSecond = qScopeGuard([&second] { stop(second, SIGTERM); });
        QVERIFY(start(second, exe, dir, board));
        if (backAtNextStart) {
            QTRY_COMPARE_WITH_TIMEOUT(readFile(csv), before + saved[0] + saved[1], 20000);
            QTRY_VERIFY_WITH_TIMEOUT(journalFiles(dir).isEmpty(), 20000);
            return;
        }

        // Still away: the journal stays, and the new reading waits behind it.
        QVERIFY(board.send("<KS4*\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(journaled(dir).size(), 3, 20000);
        QCOMPARE(journalFiles(dir).size(), 2);
        QCOMPARE(logBytes(dir), before);
        const QByteArray fourth = journaled(dir).constLast();
        QVERIFY(stop(second, SIGTERM));

        QVERIFY(logFolderAway(dir, false));
        QProcess third;
        const auto endThird = qScopeGuard([&third] { stop(third, SIGTERM); });
        QVERIFY(start(third, exe, dir, board));
        QTRY_COMPARE_WITH_TIMEOUT(readFile(csv), before + saved[0] + saved[1] + fourth, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(journalFiles(dir).isEmpty(), 20000);
    }

    // The program is cut off (SIGKILL) at random moments of runs in which
    // the log's folder goes away and comes back; now and then the test waits
    // until every reading sent in the run is saved, in the log file or in a
    // journal. A reading is taken once its record is in the log file or in a
    // journal when the program dies; after
    // a last start, every reading taken is in the log file once, with the
    // same bytes, and the readings are in the order they were sent. The
    // moments come from a seed printed at the start: TARVIK_KILL_SEED=<seed>
    // chooses the same ones again (the program's own timing still varies).
    void randomKillsLoseAndDoubleNothing()
    {
        const quint32 seed = qEnvironmentVariableIsSet("TARVIK_KILL_SEED")
            ? quint32(qEnvironmentVariable("TARVIK_KILL_SEED").toUInt())
            : QRandomGenerator::global()->generate();
        qInfo("seed %u", seed);
        QRandomGenerator random(seed);
        constexpr int Runs = 12;

        QTemporaryDir dir;
        PtyBoard board;
        const QString exe = installInto(dir, board);
        QVERIFY(!exe.isEmpty());
        QVERIFY(!logThroughFolder(dir).isEmpty());
        bool away = false;
        int next = 1;
        int killedWhileKept = 0;
        std::map<int, QByteArray> taken;

        for (int run = 0; run < Runs; ++run) {
            QProcess tarvik;
            const auto killAtEnd = qScopeGuard([&tarvik] { stop(tarvik, SIGKILL); });
            // Now and then cut off before it even has its port.
            const bool portOpen = random.bounded(5) != 0;
            QVERIFY(start(tarvik, exe, dir, board, portOpen));
            QList<int> sent;
            const auto allSaved = [&] {
                QByteArrayList saved = wholeRecords(logBytes(dir));
                saved += journaled(dir);
                QSet<int> numbers;
                for (const QByteArray& record : std::as_const(saved))
                    numbers.insert(numberOf(record));
                return std::all_of(
                    sent.begin(), sent.end(), [&](int n) { return numbers.contains(n); });
            };
            const int steps = int(random.bounded(30));
            for (int step = 0; step < steps; ++step) {
                switch (random.bounded(10)) {
                case 0:
                    QVERIFY(logFolderAway(dir, !away));
                    away = !away;
                    break;
                case 1:
                case 2:
                    QTest::qWait(int(random.bounded(1, 200)));
                    break;
                case 3:
                    // Every reading it has taken is saved somewhere before
                    // long, folder away or not.
                    if (portOpen)
                        QTRY_VERIFY_WITH_TIMEOUT(allSaved(), 20000);
                    break;
                default:
                    sent.append(next);
                    QVERIFY(board.send("<KS" + QByteArray::number(next++) + "*\r\n"));
                    break;
                }
            }
            QTest::qWait(int(random.bounded(300)));
            QVERIFY(stop(tarvik, SIGKILL));

            QByteArrayList saved = wholeRecords(logBytes(dir));
            const QByteArrayList inJournal = journaled(dir);
            if (!inJournal.isEmpty())
                ++killedWhileKept;
            saved += inJournal;
            for (const QByteArray& record : std::as_const(saved)) {
                const int n = numberOf(record);
                QVERIFY2(n > 0, record.constData());
                const auto [at, added] = taken.emplace(n, record);
                QVERIFY2(added || at->second == record, record.constData());
            }
        }

        // A last start with the folder back, then a last reading: the one
        // after it in the file means every earlier one has been written.
        if (away)
            QVERIFY(logFolderAway(dir, false));
        QProcess last;
        const auto end = qScopeGuard([&last] { stop(last, SIGTERM); });
        QVERIFY(start(last, exe, dir, board));
        const int final = next++;
        QVERIFY(board.send("<KS" + QByteArray::number(final) + "*\r\n"));
        const auto lastNumber = [&dir] {
            const QByteArrayList records = wholeRecords(logBytes(dir));
            return records.isEmpty() ? -1 : numberOf(records.constLast());
        };
        QTRY_COMPARE_WITH_TIMEOUT(lastNumber(), final, 60000);
        QVERIFY(journalFiles(dir).isEmpty());

        const QByteArrayList records = wholeRecords(logBytes(dir));
        QVERIFY(logBytes(dir).endsWith("\r\n"));
        int previous = 0;
        std::map<int, QByteArray> logged;
        for (const QByteArray& record : records) {
            const int n = numberOf(record);
            QVERIFY2(n > previous,
                qPrintable(u"reading %1 after reading %2 (seed %3)"_s.arg(
                    QString::number(n), QString::number(previous), QString::number(seed))));
            previous = n;
            logged.emplace(n, record);
        }
        for (const auto& [n, record] : taken) {
            QVERIFY2(logged.count(n),
                qPrintable(u"reading %1 was taken and is not in the log (seed %2)"_s.arg(
                    QString::number(n), QString::number(seed))));
            QCOMPARE(logged.at(n), record);
        }
        qInfo("%d runs, %d of them killed while readings were kept: %zu of %d readings sent were "
              "taken before a kill, %zu logged in the end",
            Runs, killedWhileKept, taken.size(), next - 1, logged.size());
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
