// SPDX-License-Identifier: MIT
// Start-up in a data folder another operator could write: what he put in
// place of the settings file or of the com1 link, and a settings file that
// cannot be read, are refused with the start-up failure message naming
// them, and the run does not start on them.
// Making a file or a terminal another user's needs root; elsewhere those
// rows are skipped (the rules themselves are tested in tst_safefile).

#include "core/inifile.h"
#include "core/module1.h"
#include "core/safefile.h"
#include "ptyboard.h"
#include "setuprig.h"
#include "ui/frmmain.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
constexpr uid_t OtherOperator = 54321;
}

class tst_SharedData : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startUp_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::addColumn<bool>("starts");
        QTest::newRow("own simulator's terminal as com1") << u"own pty"_s << true;
        QTest::newRow("regression: another operator's terminal as com1") << u"other pty"_s << false;
        QTest::newRow("regression: another operator's link as Settings.ini")
            << u"other settings link"_s << false;
        QTest::newRow("own link as Settings.ini") << u"own settings link"_s << true;
        QTest::newRow("regression: a FIFO as Settings.ini opened port 1 silently")
            << u"settings fifo"_s << false;
        QTest::newRow("regression: a Settings.ini over 64 KiB was read whole")
            << u"huge settings"_s << false;
        QTest::newRow("regression: /dev/ptmx linked as com1") << u"ptmx"_s << false;
        QTest::newRow("regression: own terminal linked as com1 by another operator")
            << u"other com1 link"_s << false;
    }

    void startUp()
    {
        QFETCH(QString, planted);
        QFETCH(bool, starts);
        if (planted.startsWith(u"other") && ::geteuid() != 0)
            QSKIP("needs root to give a file or a terminal to another user");

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        PtyBoard board;
        QVERIFY(board.isValid());
        QVERIFY(board.linkAt(dir.filePath(u"com1"_s)));
        const QByteArray device = QFile::encodeName(board.devicePath());
        const QByteArray com1 = QFile::encodeName(dir.filePath(u"com1"_s));
        if (planted == u"other pty")
            QVERIFY(::chown(device.constData(), OtherOperator, gid_t(-1)) == 0);
        if (planted == u"other com1 link")
            QVERIFY(::lchown(com1.constData(), OtherOperator, gid_t(-1)) == 0);
        if (planted == u"ptmx") {
            QVERIFY(QFile::remove(dir.filePath(u"com1"_s)));
            QVERIFY(::symlink("/dev/ptmx", com1.constData()) == 0);
        }

        const QString settings = dir.filePath(u"Settings.ini"_s);
        const QString elsewhere = dir.filePath(u"elsewhere.ini"_s);
        if (planted.endsWith(u"settings link")) {
            QFile f(elsewhere);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("[System]\r\nComPort=1\r\n");
            f.close();
            const QByteArray link = QFile::encodeName(settings);
            QVERIFY(::symlink("elsewhere.ini", link.constData()) == 0);
            if (planted == u"other settings link")
                QVERIFY(::lchown(link.constData(), OtherOperator, gid_t(-1)) == 0);
        } else if (planted == u"settings fifo") {
            QVERIFY(::mkfifo(QFile::encodeName(settings).constData(), 0666) == 0);
        } else if (planted == u"huge settings") {
            QFile f(settings);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("[System]\r\nComPort=1\r\n");
            QVERIFY(f.resize(MaxIniFileSize + 1));
        }

        Module1 module(dir.path(), QLocale(QLocale::English, QLocale::UnitedStates));
        frmMain window(module);
        MessageAnswerer answerer;
        QCOMPARE(window.Form_Load(), starts);
        if (starts) {
            QVERIFY(answerer.seen.isEmpty());
            return;
        }
        QCOMPARE(answerer.seen.size(), 1);
        const QString text = answerer.seen.constFirst().text;
        QVERIFY2(text.startsWith(u"Invalid Port Number.  Open the file named "_s + settings),
            qPrintable(text));
        if (planted == u"other pty") {
            QVERIFY2(text.contains(dir.filePath(u"com1"_s) + u": "_s + board.devicePath()
                         + u" belongs to "_s),
                qPrintable(text));
        } else if (planted == u"other com1 link" || planted == u"ptmx") {
            const QString device = planted == u"ptmx" ? u"/dev/ptmx"_s : board.devicePath();
            QVERIFY2(text.contains(dir.filePath(u"com1"_s) + u": "_s + device), qPrintable(text));
        } else if (planted == u"settings fifo") {
            QVERIFY2(
                text.endsWith(settings + u": "_s + safefile::notRegularText(safefile::Kind::Fifo)),
                qPrintable(text));
        } else if (planted == u"huge settings") {
            QVERIFY2(text.endsWith(settings + u": "_s
                         + safefile::tooLargeText(MaxIniFileSize + 1, MaxIniFileSize)),
                qPrintable(text));
        } else {
            QVERIFY2(text.endsWith(settings + u": "_s
                         + safefile::refusedLinkText(safefile::userName(OtherOperator))),
                qPrintable(text));
            // Neither read nor written through.
            QFile f(elsewhere);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("[System]\r\nComPort=1\r\n"));
        }
        QVERIFY(board.takeReceived().isEmpty());
    }
};

QTEST_MAIN(tst_SharedData)
#include "tst_shareddata.moc"
