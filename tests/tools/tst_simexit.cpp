// SPDX-License-Identifier: MIT
// How the kestrin-board-sim binary ends before it ever plays the board: the
// exit status and the stream scripts see for help, wrong command lines and
// lines it cannot open.

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_SimExit : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QFile file(m_dir.filePath(u"plain-file"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    void ends_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("out"); // start of standard output
        QTest::addColumn<QByteArray>("err"); // start of standard error

        QTest::newRow("help on standard output")
            << QStringList { u"--help"_s } << 0 << QByteArray("Usage: kestrin-board-sim ")
            << QByteArray();
        QTest::newRow("version on standard output")
            << QStringList { u"--version"_s } << 0 << QByteArray("kestrin-board-sim (")
            << QByteArray();
        QTest::newRow("wrong value: status 2 and a hint")
            << QStringList { u"--link"_s, u"a"_s, u"--burst"_s, u"many"_s } << 2 << QByteArray()
            << QByteArray("kestrin-board-sim: --burst takes a count from 0 to 1000000\n"
                          "Try 'kestrin-board-sim --help'.\n");
        QTest::newRow("unknown option: status 2")
            << QStringList { u"--speed"_s, u"9600"_s } << 2 << QByteArray()
            << QByteArray("kestrin-board-sim: Unknown option 'speed'.\n");
        QTest::newRow("no line: status 2") << QStringList {} << 2 << QByteArray()
                                           << QByteArray("kestrin-board-sim: give exactly one");
        // A file where the link should go is somebody's data, not a stale link.
        QTest::newRow("link over a plain file: status 1")
            << QStringList { u"--link"_s, m_dir.filePath(u"plain-file"_s) } << 1 << QByteArray()
            << QByteArray("kestrin-board-sim: ");
        QTest::newRow("device that is no serial device: status 1")
            << QStringList { u"--device"_s, u"/dev/null"_s } << 1 << QByteArray()
            << QByteArray("kestrin-board-sim: /dev/null is not a serial device");
        QTest::newRow("transcript in a missing folder: status 1")
            << QStringList { u"--link"_s, m_dir.filePath(u"com1"_s), u"--transcript"_s,
                   m_dir.filePath(u"missing/t.txt"_s) }
            << 1 << QByteArray() << QByteArray("kestrin-board-sim: ");
    }

    void ends()
    {
        QFETCH(QStringList, options);
        QFETCH(int, status);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        QProcess sim;
        sim.setStandardInputFile(QProcess::nullDevice());
        sim.start(qEnvironmentVariable("TARVIK_BOARD_SIM"), options);
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), status);
        const QByteArray stdOut = sim.readAllStandardOutput();
        const QByteArray stdErr = sim.readAllStandardError();
        QVERIFY2(out.isEmpty() ? stdOut.isEmpty() : stdOut.startsWith(out), stdOut.constData());
        QVERIFY2(err.isEmpty() ? stdErr.isEmpty() : stdErr.startsWith(err), stdErr.constData());
        // A board that did not start leaves no link behind.
        QVERIFY(!QFileInfo(m_dir.filePath(u"com1"_s)).isSymLink());
    }
};

QTEST_GUILESS_MAIN(tst_SimExit)
#include "tst_simexit.moc"
