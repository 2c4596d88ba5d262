// SPDX-License-Identifier: MIT
// The tarvik-port executable as an operator runs it, alone in a folder with
// tarvik (its data folder): wrong command lines, ports asked as another
// user, a second operator asking while tarvik holds the board, an end signal
// in the middle of a search, and the whole way from finding a board to
// tarvik logging its readings.

#include "port/portholder.h"
#include "ptyboard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool isRoot()
{
    return ::geteuid() == 0;
}

// The tool, and tarvik when asked, alone in `dir`; the folder opened to
// other users, who run them too.
QString installInto(const QTemporaryDir& dir, bool withTarvik = false)
{
    const QString tool = dir.filePath(u"tarvik-port"_s);
    if (!QFile::copy(qEnvironmentVariable("TARVIK_PORT_TOOL"), tool))
        return {};
    if (withTarvik
        && !QFile::copy(qEnvironmentVariable("TARVIK_EXECUTABLE"), dir.filePath(u"tarvik"_s)))
        return {};
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    return tool;
}

struct Ran
{
    int status = -1;
    QString out;
    QString err;
};

// Runs the tool, as user "nobody" when `asNobody` (the test runs as root).
Ran run(const QString& tool, const QStringList& arguments, bool asNobody = false)
{
    QProcess process;
    if (asNobody) {
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody)
            return { -1, {}, u"no user nobody"_s };
        const uid_t uid = nobody->pw_uid;
        const gid_t gid = nobody->pw_gid;
        process.setChildProcessModifier([uid, gid] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                ::_exit(3);
        });
    }
    process.start(tool, arguments);
    if (!process.waitForFinished(30000))
        return { -1, {}, u"did not end"_s };
    return { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        QString::fromLocal8Bit(process.readAllStandardOutput()),
        QString::fromLocal8Bit(process.readAllStandardError()) };
}

QStringList folderEntries(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

bool lockFileLeft(const QString& name)
{
    for (const QString& lock : portholder::lockFileCandidates(name)) {
        if (QFileInfo::exists(lock))
            return true;
    }
    return false;
}

// The line of `output` about `name`.
QString lineAbout(const QString& output, const QString& name)
{
    for (const QString& line : output.split(u'\n')) {
        if (line.startsWith(name + u": "_s))
            return line;
    }
    return {};
}

} // namespace

class tst_TarvikPort : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void wrongUsage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error");
        QTest::newRow("unknown command")
            << QStringList { u"attach"_s } << u"unknown command attach: list, find or use"_s;
        QTest::newRow("--com 0") << QStringList { u"use"_s, u"--com"_s, u"0"_s, u"/dev/null"_s }
                                 << u"--com takes a port number from 1 to 255, not 0"_s;
        QTest::newRow("--com 300") << QStringList { u"use"_s, u"--com=300"_s, u"/dev/null"_s }
                                   << u"--com takes a port number from 1 to 255, not 300"_s;
        QTest::newRow("use a port that does not exist")
            << QStringList { u"use"_s, u"/dev/ttyUSB99"_s } << u"no such port: /dev/ttyUSB99"_s;
        QTest::newRow("find a device that does not exist")
            << QStringList { u"find"_s, u"/dev/pts/9999"_s } << u"no such port: /dev/pts/9999"_s;
    }

    void wrongUsage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString tool = installInto(dir);
        QVERIFY(!tool.isEmpty());
        const QStringList before = folderEntries(dir.path());
        const Ran ran = run(tool, arguments);
        QCOMPARE(ran.status, 2);
        QCOMPARE(ran.err, u"tarvik-port: "_s + error + u'\n'); // one line
        QCOMPARE(ran.out, QString());
        QCOMPARE(folderEntries(dir.path()), before);
    }

    void noPermissionAsAnotherUser()
    {
        // A port of the dialout group, asked by a user outside it.
        PtyBoard board;
        QTemporaryDir dir;
        const QString tool = installInto(dir);
        const QByteArray device = QFile::encodeName(board.devicePath());
        const group* dialout = ::getgrnam("dialout");
        QVERIFY(dialout);
        QString expected;
        Ran ran;
        if (isRoot()) {
            QVERIFY(::chown(device.constData(), 0, dialout->gr_gid) == 0
                && ::chmod(device.constData(), 0660) == 0);
            ran = run(tool, { u"find"_s, board.devicePath() }, true);
            expected = u"skipped: no permission (not in group dialout)"_s;
        } else {
            QVERIFY(::chmod(device.constData(), 0000) == 0);
            ran = run(tool, { u"find"_s, board.devicePath() });
            expected = u"skipped: no permission (only "_s;
        }
        QCOMPARE(ran.status, 1);
        const QString line = lineAbout(ran.out, board.devicePath());
        QVERIFY2(line.startsWith(board.devicePath() + u": "_s + expected),
            qPrintable(ran.out + ran.err));
        QCOMPARE(board.takeReceived(), QByteArray());
    }

    void secondOperatorWhileTarvikHoldsTheBoard_data()
    {
        QTest::addColumn<bool>("asAnotherUser");
        QTest::newRow("the same user") << false;
        QTest::newRow("another user") << true;
    }

    void secondOperatorWhileTarvikHoldsTheBoard()
    {
        QFETCH(bool, asAnotherUser);
        if (asAnotherUser && !isRoot())
            QSKIP("needs root to run as another user");
        QTemporaryDir dir;
        const QString tool = installInto(dir, true);
        QVERIFY(!tool.isEmpty());
        PtyBoard board;
        QVERIFY(board.linkAt(dir.filePath(u"com1"_s)));
        ::chmod(QFile::encodeName(board.devicePath()).constData(), 0666);
        QProcess tarvik;
        tarvik.setProcessChannelMode(QProcess::ForwardedChannels);
        tarvik.start(dir.filePath(u"tarvik"_s), {});
        QVERIFY(tarvik.waitForStarted());
        const auto end = qScopeGuard([&tarvik] {
            ::kill(pid_t(tarvik.processId()), SIGTERM);
            tarvik.waitForFinished(20000);
        });
        const QString csv = dir.filePath(u"Default.csv"_s);
        QTRY_VERIFY_WITH_TIMEOUT(board.send("<KS1.5*\r\n") && readFile(csv).contains('\n'), 20000);
        board.takeReceived();

        const Ran ran = run(tool, { u"find"_s, board.devicePath() }, asAnotherUser);
        const QString line = lineAbout(ran.out, board.devicePath());
        QVERIFY2(line
                == board.devicePath()
                    + u": skipped: in use by tarvik (process %1)"_s.arg(tarvik.processId()),
            qPrintable(ran.out + ran.err));
        QVERIFY2(
            ran.out.endsWith(
                u"No port answered as the board; ports in use were not asked (is tarvik running already?)\n"_s),
            qPrintable(ran.out));
        // Nothing was sent to the board, and tarvik goes on logging.
        QCOMPARE(board.takeReceived(), QByteArray());
        QVERIFY(board.send("<KS2.5*\r\n"));
        QTRY_VERIFY_WITH_TIMEOUT(readFile(csv).contains("\"2.5\""), 20000);
    }

    void endSignalLeavesNoLockFile()
    {
        // Asked to end while a port is open, the search closes it first.
        QTemporaryDir dir;
        const QString tool = installInto(dir);
        PtyBoard silent;
        QProcess find;
        find.start(tool, { u"find"_s, silent.devicePath() });
        QVERIFY(find.waitForStarted());
        QVERIFY(!silent.waitForLines(1).isEmpty()); // the port is open and asked
        ::kill(pid_t(find.processId()), SIGTERM);
        QVERIFY(find.waitForFinished(20000));
        QCOMPARE(find.exitStatus(), QProcess::CrashExit); // ended by the signal itself
        QVERIFY(!lockFileLeft(silent.devicePath()));
    }

    void findsTheBoardAndTarvikLogsIt()
    {
        // Two pseudo-terminals, the simulated board on one and nothing on the
        // other: find names the board's, use makes it com1, and tarvik, as
        // an operator starts it, logs the board's readings through com1.
        QTemporaryDir dir;
        const QString tool = installInto(dir, true);
        QVERIFY(!tool.isEmpty());
        QTemporaryDir elsewhere;
        const QString boardLink = elsewhere.filePath(u"board"_s);
        QProcess simulator;
        simulator.setProcessChannelMode(QProcess::ForwardedChannels);
        simulator.start(qEnvironmentVariable("TARVIK_BOARD_SIM"),
            { u"--link"_s, boardLink, u"--reading-interval"_s, u"0.2"_s });
        QVERIFY(simulator.waitForStarted());
        const auto endSimulator = qScopeGuard([&simulator] {
            ::kill(pid_t(simulator.processId()), SIGTERM);
            simulator.waitForFinished(20000);
        });
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(boardLink).isSymLink(), 20000);
        PtyBoard silent;

        const Ran found = run(tool, { u"find"_s, boardLink, silent.devicePath() });
        QVERIFY2(found.status == 0, qPrintable(found.out + found.err));
        // Each port's outcome once, in the tool's own words: not again in
        // the program's lines for the administrator (tarvik.port).
        QCOMPARE(found.err, QString());
        QCOMPARE(lineAbout(found.out, boardLink), boardLink + u": board (answered <IN000000*)"_s);
        QCOMPARE(lineAbout(found.out, silent.devicePath()),
            silent.devicePath() + u": no answer in 1.5 s"_s);
        const QString device = QFileInfo(boardLink).canonicalFilePath();
        QVERIFY2(found.out.endsWith(u"The board is on %1. To use it: tarvik-port use %2\n"_s.arg(
                     boardLink, device)),
            qPrintable(found.out));

        const Ran used = run(tool, { u"use"_s, boardLink });
        QVERIFY2(used.status == 0, qPrintable(used.out + used.err));
        QCOMPARE(QFileInfo(dir.filePath(u"com1"_s)).symLinkTarget(), device);
        QCOMPARE(
            readFile(dir.filePath(u"Settings.ini"_s)), QByteArray("[System]\r\nComPort=1\r\n"));
        QVERIFY2(used.out.contains(u"Next time it starts, tarvik opens %1: %2."_s.arg(
                     dir.filePath(u"com1"_s), device)),
            qPrintable(used.out));

        QProcess tarvik;
        tarvik.setProcessChannelMode(QProcess::ForwardedChannels);
        tarvik.start(dir.filePath(u"tarvik"_s), {});
        QVERIFY(tarvik.waitForStarted());
        const auto endTarvik = qScopeGuard([&tarvik] {
            ::kill(pid_t(tarvik.processId()), SIGTERM);
            tarvik.waitForFinished(20000);
        });
        const QString csv = dir.filePath(u"Default.csv"_s);
        QTRY_VERIFY_WITH_TIMEOUT(readFile(csv).count('\n') >= 2, 20000);
        const QByteArray record = readFile(csv).split('\n').constFirst();
        QVERIFY2(QRegularExpression(uR"(^"-?\d+(\.\d+)?","[^"]+","[^"]+"\r$)"_s)
                     .match(QString::fromLatin1(record))
                     .hasMatch(),
            record.constData());
    }
};

QTEST_GUILESS_MAIN(tst_TarvikPort)
#include "tst_tarvikport.moc"
