// SPDX-License-Identifier: MIT
// Asking ports for the board: each kind of thing on a line gets its own
// verdict, only the request goes out, a port someone holds is left alone,
// and no lock file stays behind. The lines are pseudo-terminals played in
// this test's event loop.

#include "boardfinder.h"
#include "playedboard.h"
#include "port/boardport.h"
#include "port/portholder.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using tarvikport::Candidate;
using tarvikport::Finding;

namespace {

enum class Holder
{
    Nobody,
    ByDevice, // another opener holds the device under its own name
    ByComLink, // tarvik-like: held through a comN link in the data folder
    OtherUser // the terminal belongs to another user
};

Candidate candidateFor(const QString& device, const QString& folder)
{
    QStringList names { device };
    const QString link = folder + u"/com5"_s;
    if (QFileInfo(link).isSymLink())
        names.append(link);
    return { device, device, device, names };
}

bool lockFileLeft(const QString& name)
{
    for (const QString& lock : portholder::lockFileCandidates(name)) {
        if (QFileInfo::exists(lock))
            return true;
    }
    return false;
}

} // namespace

Q_DECLARE_METATYPE(PlayedBoard::Plays)
Q_DECLARE_METATYPE(Holder)
Q_DECLARE_METATYPE(Finding::Verdict)

class tst_BoardFinder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void verdicts_data()
    {
        QTest::addColumn<PlayedBoard::Plays>("plays");
        QTest::addColumn<Holder>("holder");
        QTest::addColumn<Finding::Verdict>("verdict");
        QTest::addColumn<QString>("line"); // what the line says after "<device>: "

        using P = PlayedBoard::Plays;
        using V = Finding::Verdict;
        const QString pid = QString::number(QCoreApplication::applicationPid());
        QTest::newRow("board") << P::Board << Holder::Nobody << V::Board
                               << u"board (answered <IN000000*)"_s;
        QTest::newRow("silent") << P::Silent << Holder::Nobody << V::NoAnswer
                                << u"no answer in 1.5 s"_s;
        QTest::newRow("garbage") << P::Garbage << Holder::Nobody << V::SomethingElse
                                 << u"answered something else: ERR what?\\x0d\\x0a"_s;
        QTest::newRow("flood") << P::Flood << Holder::Nobody << V::SomethingElse
                               << u"answered something else: a stream of "_s;
        QTest::newRow("vanished while asked")
            << P::Vanishes << Holder::Nobody << V::Gone << u"went away while it was asked"_s;
        QTest::newRow("busy: held under its own name")
            << P::Board << Holder::ByDevice << V::InUse
            << u"skipped: in use by tst_boardfinder (process %1)"_s.arg(pid);
        QTest::newRow("busy: held through a com link")
            << P::Board << Holder::ByComLink << V::InUse
            << u"skipped: in use by tst_boardfinder (process %1)"_s.arg(pid);
        QTest::newRow("another user's terminal")
            << P::Board << Holder::OtherUser << V::NotUsed << u"skipped: "_s;
    }

    void verdicts()
    {
        QFETCH(PlayedBoard::Plays, plays);
        QFETCH(Holder, holder);
        QFETCH(Finding::Verdict, verdict);
        QFETCH(QString, line);
        if (holder == Holder::OtherUser && ::geteuid() != 0)
            QSKIP("needs root to give a terminal to another user");

        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        PlayedBoard board(plays);
        QVERIFY(board.pty.isValid());
        BoardPort other;
        Result<void> opened;
        switch (holder) {
        case Holder::Nobody:
            break;
        case Holder::ByDevice:
            opened = other.open(board.device());
            QVERIFY2(opened, qPrintable(opened.reason()));
            break;
        case Holder::ByComLink:
            QVERIFY(QFile::link(board.device(), folder.filePath(u"com5"_s)));
            opened = other.open(folder.filePath(u"com5"_s));
            QVERIFY2(opened, qPrintable(opened.reason()));
            break;
        case Holder::OtherUser:
            QVERIFY(::chown(QFile::encodeName(board.device()).constData(), 54321, gid_t(-1)) == 0);
            break;
        }

        const QList<Finding> findings
            = tarvikport::findBoards({ candidateFor(board.device(), folder.path()) });
        QCOMPARE(findings.size(), 1);
        const QString text = tarvikport::findingLine(findings[0]);
        QVERIFY2(text.startsWith(board.device() + u": "_s + line), qPrintable(text));
        QCOMPARE(findings[0].verdict, verdict);

        QTest::qWait(20); // whatever was written has reached the board
        if (verdict == Finding::Verdict::InUse || verdict == Finding::Verdict::NotUsed)
            QCOMPARE(board.received, QByteArray()); // never opened, never written
        else
            QCOMPARE(board.received, QByteArray("?INPUTS\r\n"));
        if (holder != Holder::ByDevice)
            QVERIFY(!lockFileLeft(board.device()));
        // The holder keeps its port and its lock.
        if (holder == Holder::ByDevice || holder == Holder::ByComLink)
            QVERIFY(other.isOpen());
    }

    void notADeviceIsNeverOpened_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO without a reader (an open would block)") << u"fifo"_s;
        QTest::newRow("regular file") << u"file"_s;
    }

    void notADeviceIsNeverOpened()
    {
        QFETCH(QString, kind);
        QTemporaryDir folder;
        const QString path = folder.filePath(kind);
        if (kind == u"fifo"_s) {
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        } else {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        const QList<Finding> findings = tarvikport::findBoards({ { path, path, path, { path } } });
        QCOMPARE(findings[0].verdict, Finding::Verdict::NotUsed);
        QVERIFY2(
            findings[0].detail.contains(u"not a serial device"_s), qPrintable(findings[0].detail));
        if (kind == u"file"_s)
            QCOMPARE(QFileInfo(path).size(), 0); // nothing written into it
    }
};

QTEST_GUILESS_MAIN(tst_BoardFinder)
#include "tst_boardfinder.moc"
