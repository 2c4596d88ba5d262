// SPDX-License-Identifier: MIT
// What `list` says about the ports, the comN links and the ComPort setting,
// with pseudo-terminals handed in as the system's ports; and that it says it
// without writing to any port or any file.

#include "playedboard.h"
#include "port/boardport.h"
#include "portsurvey.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

SerialPortEntry adapter(const QString& device)
{
    SerialPortEntry port;
    port.device = device;
    port.stableName = device;
    port.description = u"Test adapter"_s;
    port.manufacturer = u"Tarvik"_s;
    port.serialNumber = u"T1"_s;
    port.vendorId = 0x0403;
    port.productId = 0x6001;
    return port;
}

} // namespace

class tst_PortSurvey : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void list_data()
    {
        QTest::addColumn<QString>("comLink"); // com1 leads to: "board", a path, or "" for none
        QTest::addColumn<QByteArray>("settings"); // Settings.ini; empty: none
        QTest::addColumn<bool>("held"); // another opener holds the board
        QTest::addColumn<bool>("listed"); // the board is among the system's ports
        QTest::addColumn<QStringList>("expected"); // lines, %1 the device, %2 the folder

        const QString pid = QString::number(QCoreApplication::applicationPid());
        const QString describe
            = u"%1: Test adapter, made by Tarvik, USB 0403:6001, serial number T1"_s;
        QTest::newRow("free, com1 and ComPort lead to it")
            << u"board"_s << QByteArray("[System]\r\nComPort=1\r\n") << false << true
            << QStringList {
                   describe + u"; free; com1 leads here; ComPort=1 opens it"_s,
                   u"ComPort=1 reaches %2/com1, a link to %1. Whether the board answers there, tarvik-port find asks."_s
               };
        QTest::newRow("in use by the program holding it")
            << u"board"_s << QByteArray("[System]\r\nComPort=1\r\n") << true << true
            << QStringList {
                   describe + u"; in use by tst_portsurvey (process "_s + pid
                       + u"); com1 leads here; ComPort=1 opens it"_s,
                   u"ComPort=1 reaches %2/com1, a link to %1. Whether the board answers there, tarvik-port find asks."_s
               };
        QTest::newRow("no settings file: the default reaches com1")
            << u"board"_s << QByteArray() << false << true
            << QStringList {
                   describe + u"; free; com1 leads here; ComPort=1 opens it"_s,
                   u"ComPort=1 (%2/Settings.ini has none yet; tarvik starts with 1) reaches %2/com1, a link to %1. Whether the board answers there, tarvik-port find asks."_s
               };
        QTest::newRow("ComPort reaches a built-in port that is not there")
            << QString() << QByteArray("[System]\r\nComPort=200\r\n") << false << true
            << QStringList {
                   describe + u"; free"_s,
                   u"ComPort=200 reaches /dev/ttyS199: it does not exist. tarvik cannot start with it; choose a port with tarvik-port use PORT."_s
               };
        QTest::newRow("com link to an adapter that is unplugged")
            << u"/dev/serial/by-id/usb-gone-if00-port0"_s << QByteArray("[System]\r\nComPort=1\r\n")
            << false << true
            << QStringList {
                   describe + u"; free"_s,
                   u"%2/com1 leads to /dev/serial/by-id/usb-gone-if00-port0, which does not exist"_s,
                   u"ComPort=1 reaches %2/com1, a link to /dev/serial/by-id/usb-gone-if00-port0: it does not exist. tarvik cannot start with it; choose a port with tarvik-port use PORT."_s
               };
        QTest::newRow("com link to a terminal that is no system port")
            << u"board"_s << QByteArray("[System]\r\nComPort=1\r\n") << false << false
            << QStringList {
                   u"No serial port found: is the board's USB serial adapter plugged in?"_s,
                   u"%2/com1 leads to %1, which is not one of the serial ports above"_s,
                   u"ComPort=1 reaches %2/com1, a link to %1, which is not one of the serial ports above. Whether the board answers there, tarvik-port find %1 asks."_s
               };
        QTest::newRow("ComPort is no number")
            << u"board"_s << QByteArray("; kept\r\n[System]\r\nComPort=abc\r\n") << false << true
            << QStringList {
                   describe + u"; free; com1 leads here"_s,
                   u"ComPort=abc: port 0 is not a serial port number (1 to 255). tarvik cannot start with it; choose a port with tarvik-port use PORT."_s
               };
    }

    void list()
    {
        QFETCH(QString, comLink);
        QFETCH(QByteArray, settings);
        QFETCH(bool, held);
        QFETCH(bool, listed);
        QFETCH(QStringList, expected);

        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        PlayedBoard board(PlayedBoard::Plays::Board);
        QVERIFY(board.pty.isValid());
        if (!comLink.isEmpty()) {
            QVERIFY(QFile::link(
                comLink == u"board"_s ? board.device() : comLink, folder.filePath(u"com1"_s)));
        }
        if (!settings.isEmpty())
            QVERIFY(writeFile(folder.filePath(u"Settings.ini"_s), settings));
        BoardPort holder;
        if (held)
            QVERIFY(holder.open(board.device()));

        QList<SerialPortEntry> ports;
        if (listed)
            ports.append(adapter(board.device()));
        const QString text = tarvikport::listReport(tarvikport::makeSetup(folder.path(), ports));
        QStringList want;
        for (const QString& line : std::as_const(expected))
            want.append(
                QString(line).replace(u"%1"_s, board.device()).replace(u"%2"_s, folder.path()));
        QCOMPARE(text.split(u'\n', Qt::SkipEmptyParts), want);

        // Nothing was sent, and no file made or changed.
        QTest::qWait(20);
        QCOMPARE(board.received, QByteArray());
        QCOMPARE(QFile::exists(folder.filePath(u"Settings.ini"_s)), !settings.isEmpty());
        if (!settings.isEmpty()) {
            QFile f(folder.filePath(u"Settings.ini"_s));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), settings);
        }
    }

    void refusedByTheProgramsRule()
    {
        // Another operator's terminal behind com1: list says what tarvik
        // would say, not that ComPort reaches a port.
        if (::geteuid() != 0)
            QSKIP("needs root to give a terminal to another user");
        QTemporaryDir folder;
        PtyBoard board;
        QVERIFY(board.linkAt(folder.filePath(u"com1"_s)));
        QVERIFY(::chown(QFile::encodeName(board.devicePath()).constData(), 54321, gid_t(-1)) == 0);
        const QString text = tarvikport::listReport(tarvikport::makeSetup(folder.path(), {}));
        const QString reach = text.split(u'\n', Qt::SkipEmptyParts).constLast();
        QVERIFY2(
            reach.contains(board.devicePath()
                + u" belongs to user 54321, neither to you nor to the system, so it is not used as the board's port"_s),
            qPrintable(reach));
        QVERIFY(reach.contains(u"tarvik cannot start with it"_s));
    }

    void settingsFileLinkedByAnotherUser()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to make a link as another user");
        QTemporaryDir folder;
        QTemporaryDir elsewhere;
        QVERIFY(writeFile(elsewhere.filePath(u"theirs.ini"_s), "[System]\r\nComPort=4\r\n"));
        const QString settings = folder.filePath(u"Settings.ini"_s);
        QVERIFY(QFile::link(elsewhere.filePath(u"theirs.ini"_s), settings));
        QVERIFY(::lchown(QFile::encodeName(settings).constData(), 54321, gid_t(-1)) == 0);
        const QString text = tarvikport::listReport(tarvikport::makeSetup(folder.path(), {}));
        QVERIFY2(
            text.endsWith(u"ComPort: "_s + settings
                + u": it is a link made by user 54321, who is neither you nor root, so it is not followed. tarvik cannot start with it; choose a port with tarvik-port use PORT.\n"_s),
            qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(tst_PortSurvey)
#include "tst_portsurvey.moc"
