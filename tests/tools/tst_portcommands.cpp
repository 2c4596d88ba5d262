// SPDX-License-Identifier: MIT
// `use` and `find` as the operator runs them, on pseudo-terminals handed in
// as the system's ports: the comN link and the ComPort setting they leave,
// and everything they refuse, leaving the data folder as it was.

#include "core/inifile.h"
#include "playedboard.h"
#include "portcommands.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using tarvikport::CommandLine;

namespace {

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

SerialPortEntry portFor(const QString& device)
{
    SerialPortEntry port;
    port.device = device;
    port.stableName = device;
    port.description = u"Test adapter"_s;
    return port;
}

// Every entry of the folder with what it is and holds, to see that nothing
// changed.
QStringList snapshot(const QString& folder)
{
    QStringList entries;
    const QDir dir(folder);
    for (const QFileInfo& info : dir.entryInfoList(
             QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name)) {
        struct stat st;
        if (::lstat(QFile::encodeName(info.filePath()).constData(), &st) != 0)
            entries << info.fileName() + u" gone"_s;
        else if (S_ISLNK(st.st_mode))
            entries << info.fileName() + u" -> "_s + info.symLinkTarget();
        else if (S_ISREG(st.st_mode)) // never read a FIFO: that would wait for a writer
            entries << info.fileName() + u": "_s + QString::fromLatin1(readFile(info.filePath()));
        else
            entries << info.fileName() + u" mode "_s + QString::number(st.st_mode, 8);
    }
    return entries;
}

struct Ran
{
    int status = 0;
    QString out;
    QString err;
};

Ran use(const QString& folder, const QList<SerialPortEntry>& ports, const QString& port,
    std::optional<int> com = std::nullopt)
{
    CommandLine command;
    command.command = CommandLine::Command::Use;
    command.port = port;
    command.comNumber = com;
    Ran ran;
    QTextStream out(&ran.out);
    QTextStream err(&ran.err);
    ran.status = tarvikport::runUse(tarvikport::makeSetup(folder, ports), command, out, err);
    out.flush();
    err.flush();
    return ran;
}

} // namespace

class tst_PortCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void useLinksAndSets_data()
    {
        QTest::addColumn<QByteArray>("settingsBefore"); // empty: no file
        QTest::addColumn<QString>("com1Before"); // com1 leads to this before; empty: none
        QTest::addColumn<int>("com"); // --com; 0: none
        QTest::addColumn<int>("number"); // the comN made
        QTest::addColumn<QByteArray>("settingsAfter");

        QTest::newRow("no settings yet: com1 and ComPort=1")
            << QByteArray() << QString() << 0 << 1 << QByteArray("[System]\r\nComPort=1\r\n");
        QTest::newRow("--com 4: comments and other keys kept")
            << QByteArray("; the operators' note\r\n[System]\r\nComPort=2\r\nOther=x\r\n")
            << QString() << 4 << 4
            << QByteArray("; the operators' note\r\n[System]\r\nComPort=4\r\nOther=x\r\n");
        QTest::newRow("the ComPort set now is kept")
            << QByteArray("[System]\n; mine\nComPort=3\n") << QString() << 0 << 3
            << QByteArray("[System]\n; mine\nComPort=3\n");
        QTest::newRow("an existing com1 link is replaced")
            << QByteArray("[System]\r\nComPort=1\r\n") << u"/dev/null"_s << 0 << 1
            << QByteArray("[System]\r\nComPort=1\r\n");
        QTest::newRow("ComPort no number: com1")
            << QByteArray("[System]\r\nComPort=abc\r\n") << QString() << 0 << 1
            << QByteArray("[System]\r\nComPort=1\r\n");
    }

    void useLinksAndSets()
    {
        QFETCH(QByteArray, settingsBefore);
        QFETCH(QString, com1Before);
        QFETCH(int, com);
        QFETCH(int, number);
        QFETCH(QByteArray, settingsAfter);
        QTemporaryDir folder;
        PtyBoard board;
        const QString settings = folder.filePath(u"Settings.ini"_s);
        if (!settingsBefore.isEmpty())
            QVERIFY(writeFile(settings, settingsBefore));
        if (!com1Before.isEmpty())
            QVERIFY(QFile::link(com1Before, folder.filePath(u"com1"_s)));

        const Ran ran = use(folder.path(), { portFor(board.devicePath()) }, board.devicePath(),
            com ? std::optional<int>(com) : std::nullopt);
        QVERIFY2(ran.status == 0, qPrintable(ran.err));
        const QString link = folder.filePath(u"com%1"_s.arg(number));
        QCOMPARE(QFileInfo(link).symLinkTarget(), board.devicePath());
        QCOMPARE(readFile(settings), settingsAfter);
        QVERIFY2(
            ran.out.contains(u"Next time it starts, tarvik opens %1: %2, Test adapter.\n"_s.arg(
                link, board.devicePath())),
            qPrintable(ran.out));
        if (!com1Before.isEmpty())
            QVERIFY(ran.out.contains(u"(it led to "_s + com1Before + u')'));
        // Only the link and the settings file: no temporary name left behind.
        QStringList names
            = QDir(folder.path())
                  .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
        names.removeAll(u"Settings.ini"_s);
        QCOMPARE(names, QStringList { u"com%1"_s.arg(number) });
    }

    void refusedChangesNothing_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error"); // %1 the folder, %2 the device

        QTest::newRow("com1 is a regular file")
            << u"file"_s << 1 << u"%1/com1 is a regular file, not a link: it is left as it is"_s;
        QTest::newRow("com1 is a folder")
            << u"folder"_s << 1 << u"%1/com1 is a folder, not a link: it is left as it is"_s;
        QTest::newRow("com1 is a FIFO")
            << u"fifo"_s << 1 << u"%1/com1 is a FIFO, not a link: it is left as it is"_s;
        QTest::newRow("a port that does not exist")
            << u"missing"_s << 2 << u"no such port: /dev/no-such-tty"_s;
        QTest::newRow("another user's terminal")
            << u"other pty"_s << 1
            << u"%2: %2 belongs to user 54321, neither to you nor to the system, so it is not used as the board's port"_s;
        QTest::newRow("Settings.ini a link another user made")
            << u"other link"_s << 1
            << u"%1/Settings.ini: it is a link made by user 54321, who is neither you nor root, so it is not followed"_s;
        QTest::newRow("Settings.ini cannot be written: the link is put back")
            << u"settings full"_s << 1
            << u"%1/Settings.ini could not be written; com1 is as it was"_s;
        QTest::newRow("found: no board answers")
            << u"found, none"_s << 1
            << u"found: no port answered as the board (tarvik-port find shows what each one said)"_s;
    }

    void refusedChangesNothing()
    {
        QFETCH(QString, what);
        QFETCH(int, status);
        QFETCH(QString, error);
        if (what.startsWith(u"other"_s) && ::geteuid() != 0)
            QSKIP("needs root to give a file to another user");
        QTemporaryDir folder;
        PlayedBoard board(
            what == u"found, none"_s ? PlayedBoard::Plays::Silent : PlayedBoard::Plays::Board);
        const QString com1 = folder.filePath(u"com1"_s);
        const QString settings = folder.filePath(u"Settings.ini"_s);
        QString port = board.device();
        QVERIFY(writeFile(settings, "; keep\r\n[System]\r\nComPort=1\r\n"));
        if (what == u"file"_s) {
            QVERIFY(writeFile(com1, "mine"));
        } else if (what == u"folder"_s) {
            QVERIFY(QDir(folder.path()).mkdir(u"com1"_s));
        } else if (what == u"fifo"_s) {
            QVERIFY(::mkfifo(QFile::encodeName(com1).constData(), 0600) == 0);
        } else if (what == u"missing"_s) {
            port = u"/dev/no-such-tty"_s;
        } else if (what == u"other pty"_s) {
            QVERIFY(::chown(QFile::encodeName(board.device()).constData(), 54321, gid_t(-1)) == 0);
        } else if (what == u"other link"_s) {
            QVERIFY(QFile::remove(settings));
            QTemporaryDir elsewhere;
            QVERIFY(QFile::link(elsewhere.filePath(u"theirs.ini"_s), settings));
            QVERIFY(::lchown(QFile::encodeName(settings).constData(), 54321, gid_t(-1)) == 0);
        } else if (what == u"settings full"_s) {
            // Readable, but one more key would take it past the size a
            // settings file may have, so the writer refuses it.
            const QByteArray head = "; ";
            const QByteArray tail = "\r\n[System]\r\n";
            const QByteArray comment(MaxIniFileSize - head.size() - tail.size() - 5, 'x');
            QVERIFY(writeFile(settings, head + comment + tail));
            QVERIFY(QFile::link(u"/dev/null"_s, com1));
        } else if (what == u"found, none"_s) {
            port = u"found"_s;
        }
        const QStringList before = snapshot(folder.path());

        const Ran ran = use(folder.path(), { portFor(board.device()) }, port);
        QCOMPARE(ran.status, status);
        QCOMPARE(ran.err,
            u"tarvik-port: "_s
                + QString(error).replace(u"%1"_s, folder.path()).replace(u"%2"_s, board.device())
                + u'\n');
        QCOMPARE(ran.out, QString());
        QCOMPARE(snapshot(folder.path()), before);
    }

    void useFoundTakesTheBoard()
    {
        QTemporaryDir folder;
        PlayedBoard silent(PlayedBoard::Plays::Silent);
        PlayedBoard board(PlayedBoard::Plays::Board);
        const Ran ran
            = use(folder.path(), { portFor(silent.device()), portFor(board.device()) }, u"found"_s);
        QVERIFY2(ran.status == 0, qPrintable(ran.err));
        QCOMPARE(QFileInfo(folder.filePath(u"com1"_s)).symLinkTarget(), board.device());
        QVERIFY(!silent.received.isEmpty()); // both were asked
    }

    void findSaysWhichPort_data()
    {
        QTest::addColumn<QList<PlayedBoard::Plays>>("ports");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("summary");

        using P = PlayedBoard::Plays;
        QTest::newRow("one board") << QList<P> { P::Silent, P::Board } << 0
                                   << u"The board is on %2. To use it: tarvik-port use %2"_s;
        QTest::newRow("no board") << QList<P> {
            P::Silent, P::Garbage
        } << 1 << u"No port answered as the board. Is it switched on and plugged in?"_s;
        QTest::newRow("two boards") << QList<P> { P::Board,
            P::Board } << 1 << u"2 ports answered as a board: choose one, tarvik-port use PORT"_s;
    }

    void findSaysWhichPort()
    {
        QFETCH(QList<PlayedBoard::Plays>, ports);
        QFETCH(int, status);
        QFETCH(QString, summary);
        QTemporaryDir folder;
        std::vector<std::unique_ptr<PlayedBoard>> boards;
        QStringList devices;
        for (PlayedBoard::Plays plays : std::as_const(ports)) {
            boards.push_back(std::make_unique<PlayedBoard>(plays));
            devices << boards.back()->device();
        }
        QString outText;
        QString errText;
        QTextStream out(&outText);
        QTextStream err(&errText);
        // Named on the command line, as pseudo-terminals are.
        const int ran
            = tarvikport::runFind(tarvikport::makeSetup(folder.path(), {}), devices, out, err);
        out.flush();
        QCOMPARE(ran, status);
        const QStringList lines = outText.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), devices.size() + 1);
        for (qsizetype i = 0; i < devices.size(); ++i)
            QVERIFY2(lines[i].startsWith(devices[i] + u": "_s), qPrintable(lines[i]));
        QCOMPARE(lines.constLast(), QString(summary).replace(u"%2"_s, devices.constLast()));
    }
};

QTEST_GUILESS_MAIN(tst_PortCommands)
#include "tst_portcommands.moc"
