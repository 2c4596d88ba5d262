// SPDX-License-Identifier: MIT
// The simulator's parts that decide something without the poll loop: the
// 9600 baud pace, who has the link open, the keys and the transcript.

#include "keyboard.h"
#include "pacer.h"
#include "peerwatch.h"
#include "transcript.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using boardsim::KeyCommand;
using boardsim::Pacer;
using boardsim::PeerWatch;

Q_DECLARE_METATYPE(KeyCommand::Kind)
Q_DECLARE_METATYPE(PeerWatch::Change)

class tst_SimParts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Times are in character times (1/960 s) from the first append at 0.
    void pace_data()
    {
        QTest::addColumn<bool>("paced");
        QTest::addColumn<int>("queued"); // bytes appended at 0
        QTest::addColumn<int>("written"); // of them written at once
        QTest::addColumn<double>("appendAt"); // a second append then, -1 for none
        QTest::addColumn<int>("appended");
        QTest::addColumn<double>("at");
        QTest::addColumn<int>("due");

        QTest::newRow("unpaced: everything at once")
            << false << 200 << 0 << -1.0 << 0 << 0.0 << 200;
        QTest::newRow("paced: one character at the start")
            << true << 10 << 0 << -1.0 << 0 << 0.0 << 1;
        QTest::newRow("paced: a late wake-up sends what fell due")
            << true << 10 << 0 << -1.0 << 0 << 5.5 << 6;
        QTest::newRow("paced: never more than is queued")
            << true << 10 << 0 << -1.0 << 0 << 100.0 << 10;
        QTest::newRow("paced: nothing while the last character is on the line")
            << true << 10 << 1 << -1.0 << 0 << 0.5 << 0;
        QTest::newRow("paced: the next character once the last one is out")
            << true << 10 << 1 << -1.0 << 0 << 1.0 << 1;
        QTest::newRow("paced: what is queued behind waits its turn")
            << true << 10 << 0 << 3.0 << 10 << 3.0 << 4;
        // Counted from the last byte written, the first line after a pause
        // would go out at full speed.
        QTest::newRow("paced: an idle line earns no credit")
            << true << 2 << 2 << 100.0 << 10 << 100.0 << 1;
        QTest::newRow("paced: nothing queued, nothing due")
            << true << 0 << 0 << -1.0 << 0 << 5.0 << 0;
    }

    void pace()
    {
        QFETCH(bool, paced);
        QFETCH(int, queued);
        QFETCH(int, written);
        QFETCH(double, appendAt);
        QFETCH(int, appended);
        QFETCH(double, at);
        QFETCH(int, due);
        Pacer pacer(paced);
        pacer.append(QByteArray(queued, 'a'), 0.0);
        pacer.written(written);
        if (appendAt >= 0.0)
            pacer.append(QByteArray(appended, 'b'), appendAt * Pacer::CharSeconds);
        const QByteArrayView bytes = pacer.due(at * Pacer::CharSeconds);
        QCOMPARE(bytes.size(), due);
        // Always from the front of the queue, in order.
        const QByteArray expected
            = (QByteArray(queued - written, 'a') + QByteArray(appended, 'b')).left(due);
        QCOMPARE(bytes.toByteArray(), expected);
    }

    void pacerCleared()
    {
        Pacer pacer(true);
        pacer.append("<KS1.000*\r\n", 0.0);
        pacer.clear();
        QVERIFY(pacer.isEmpty());
        QVERIFY(pacer.due(1.0).isEmpty());
    }

    void peers_data()
    {
        QTest::addColumn<QList<uint>>("masks");
        QTest::addColumn<int>("opens");
        QTest::addColumn<QList<PeerWatch::Change>>("changes");
        using C = PeerWatch::Change;

        QTest::newRow("opened") << QList<uint> { IN_OPEN } << 1 << QList<C> { C::Opened };
        QTest::newRow("opened and closed") << QList<uint> { IN_OPEN, IN_CLOSE_WRITE } << 0
                                           << QList<C> { C::Opened, C::LastClosed };
        QTest::newRow("two opens, one close: still open") << QList<uint> { IN_OPEN, IN_OPEN,
            IN_CLOSE_NOWRITE } << 1 << QList<C> { C::Opened, C::Opened };
        QTest::newRow("open and close in one event") << QList<uint> { IN_OPEN | IN_CLOSE_NOWRITE }
                                                     << 0 << QList<C> { C::Opened, C::LastClosed };
        QTest::newRow("a stray close does not count below nobody") << QList<uint> { IN_CLOSE_WRITE,
            IN_OPEN } << 1 << QList<C> { C::LastClosed, C::Opened };
        // inotify folds two quick opens into one event; the writes tell.
        QTest::newRow("a write proves a folded open") << QList<uint> { IN_OPEN, IN_CLOSE_WRITE,
            IN_MODIFY } << 1 << QList<C> { C::Opened, C::LastClosed };
        QTest::newRow("a write while open adds nobody") << QList<uint> { IN_OPEN, IN_MODIFY,
            IN_CLOSE_WRITE } << 0 << QList<C> { C::Opened, C::LastClosed };
    }

    void peers()
    {
        QFETCH(QList<uint>, masks);
        QFETCH(int, opens);
        QFETCH(QList<PeerWatch::Change>, changes);
        PeerWatch watch;
        QList<PeerWatch::Change> seen;
        for (const uint mask : masks)
            seen += watch.apply(mask);
        QCOMPARE(seen, changes);
        QCOMPARE(watch.opens(), opens);
    }

    void unwatchedLinkAlwaysListens()
    {
        // A device, or a link whose opens cannot be watched, sends regardless.
        PeerWatch watch;
        QVERIFY(!watch.isWatching());
        QVERIFY(watch.someoneListens());
    }

    void keys_data()
    {
        QTest::addColumn<QByteArray>("typed");
        QTest::addColumn<KeyCommand::Kind>("kind");
        QTest::addColumn<QList<int>>("inputs");
        using K = KeyCommand::Kind;

        QTest::newRow("Enter alone sends a reading")
            << QByteArray() << K::SendReading << QList<int> {};
        QTest::newRow("blanks alone send a reading")
            << QByteArray(" \t") << K::SendReading << QList<int> {};
        QTest::newRow("CR of a terminal sending CR LF")
            << QByteArray("\r") << K::SendReading << QList<int> {};
        QTest::newRow("q ends") << QByteArray("q") << K::Quit << QList<int> {};
        QTest::newRow("q with blanks") << QByteArray(" q ") << K::Quit << QList<int> {};
        QTest::newRow("Q is not q") << QByteArray("Q") << K::ShowKeys << QList<int> {};
        QTest::newRow("qq is no key") << QByteArray("qq") << K::ShowKeys << QList<int> {};
        QTest::newRow("s shows the state") << QByteArray("s") << K::ShowState << QList<int> {};
        QTest::newRow("h shows the keys") << QByteArray("h") << K::ShowKeys << QList<int> {};
        QTest::newRow("one input") << QByteArray("3") << K::ToggleInputs << QList<int> { 3 };
        QTest::newRow("two inputs in the order typed")
            << QByteArray("51") << K::ToggleInputs << QList<int> { 5, 1 };
        QTest::newRow("the same input twice")
            << QByteArray("66") << K::ToggleInputs << QList<int> { 6, 6 };
        QTest::newRow("input 0 does not exist") << QByteArray("0") << K::ShowKeys << QList<int> {};
        QTest::newRow("input 7 does not exist") << QByteArray("7") << K::ShowKeys << QList<int> {};
        QTest::newRow("a digit and a letter") << QByteArray("1s") << K::ShowKeys << QList<int> {};
        QTest::newRow("digits split by a blank")
            << QByteArray("1 5") << K::ShowKeys << QList<int> {};
    }

    void keys()
    {
        QFETCH(QByteArray, typed);
        QFETCH(KeyCommand::Kind, kind);
        QFETCH(QList<int>, inputs);
        const KeyCommand command = KeyCommand::fromTyped(typed);
        QCOMPARE(command.kind, kind);
        QCOMPARE(command.inputs, inputs);
    }

    void keyboardJoinsReadsIntoLines()
    {
        int fds[2];
        QCOMPARE(::pipe(fds), 0);
        boardsim::Keyboard keyboard(fds[0]);
        const auto type = [&](QByteArrayView bytes) {
            QCOMPARE(
                ::write(fds[1], bytes.data(), static_cast<size_t>(bytes.size())), bytes.size());
        };
        type("1");
        QVERIFY(keyboard.read().isEmpty());
        type("5\n\nq");
        const QList<KeyCommand> commands = keyboard.read();
        QCOMPARE(commands.size(), 2);
        QCOMPARE(commands[0].kind, KeyCommand::Kind::ToggleInputs);
        QCOMPARE(commands[0].inputs, (QList<int> { 1, 5 }));
        QCOMPARE(commands[1].kind, KeyCommand::Kind::SendReading);
        QVERIFY(keyboard.isOpen());
        // A last line without Enter is not taken, and the board keeps running.
        ::close(fds[1]);
        QVERIFY(keyboard.read().isEmpty());
        QVERIFY(!keyboard.isOpen());
        ::close(fds[0]);
    }

    void transcriptRecord_data()
    {
        QTest::addColumn<qint64>("micros");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("record");

        QTest::newRow("milliseconds with three decimals") << Q_INT64_C(
            1733563200123456) << QByteArray("?CTR3") << QByteArray("1733563200123.456 ?CTR3\n");
        QTest::newRow("decimals filled with zeros") << Q_INT64_C(
            1733563200000005) << QByteArray("?CTR4") << QByteArray("1733563200000.005 ?CTR4\n");
        QTest::newRow("whole milliseconds")
            << Q_INT64_C(2000) << QByteArray("x") << QByteArray("2.000 x\n");
        QTest::newRow("empty line") << Q_INT64_C(1000) << QByteArray() << QByteArray("1.000 \n");
        QTest::newRow("control characters as hex") << Q_INT64_C(
            1000) << QByteArray("A\x01\x1f\x7f", 4) << QByteArray("1.000 A\\x01\\x1F\\x7F\n");
        QTest::newRow("NUL as hex")
            << Q_INT64_C(1000) << QByteArray("a\0b", 3) << QByteArray("1.000 a\\x00b\n");
        // A backslash left alone would make "\x41" in a line read back as a
        // control character.
        QTest::newRow("backslash doubled")
            << Q_INT64_C(1000) << QByteArray("\\x41") << QByteArray("1.000 \\\\x41\n");
        QTest::newRow("Latin-1 letters as they are")
            << Q_INT64_C(1000) << QByteArray("\xe9") << QByteArray("1.000 \xe9\n");
    }

    void transcriptRecord()
    {
        QFETCH(qint64, micros);
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, record);
        QCOMPARE(boardsim::Transcript::record(micros, line), record);
    }

    void transcriptFile()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(u"t.txt"_s);
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("left over from the last run\n");
        old.close();
        {
            boardsim::Transcript transcript;
            QVERIFY(transcript.open(path));
            transcript.write(u"?CTR3");
            transcript.write(u"SCALE3=0186A0000F61");
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> records = file.readAll().split('\n');
        QCOMPARE(records.size(), 3);
        QVERIFY(records[0].endsWith(" ?CTR3"));
        QVERIFY(records[1].endsWith(" SCALE3=0186A0000F61"));
        QCOMPARE(records[2], QByteArray());
    }

    void transcriptRefusesPlantedFiles_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<bool>("opened");
        QTest::newRow("own link is followed") << u"own link"_s << true;
        QTest::newRow("regression: another operator's link to my .profile emptied it")
            << u"others link"_s << false;
        QTest::newRow("regression: a second name of my .profile emptied it")
            << u"hard link"_s << false;
        QTest::newRow("a FIFO is not opened") << u"fifo"_s << false;
    }

    // The transcript in the shared data folder: opened by the logger's rules,
    // so another operator's link or second name never empties one's files.
    void transcriptRefusesPlantedFiles()
    {
        QFETCH(QString, what);
        QFETCH(bool, opened);
        constexpr uid_t OtherOperator = 54321;
        if (what == u"others link" && ::geteuid() != 0)
            QSKIP("needs root to make a link owned by another user");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString profile = dir.filePath(u"profile"_s);
        QFile f(profile);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("PATH=$HOME/bin:$PATH\n");
        f.close();
        const QString path = dir.filePath(u"t.txt"_s);
        const QByteArray name = QFile::encodeName(path);
        if (what == u"hard link") {
            QVERIFY(::link(QFile::encodeName(profile).constData(), name.constData()) == 0);
        } else if (what == u"fifo") {
            QVERIFY(::mkfifo(name.constData(), 0666) == 0);
        } else {
            QVERIFY(::symlink("profile", name.constData()) == 0);
            if (what == u"others link")
                QVERIFY(::lchown(name.constData(), OtherOperator, gid_t(-1)) == 0);
        }

        {
            boardsim::Transcript transcript;
            QCOMPARE(transcript.open(path), opened);
            transcript.write(u"?CTR3");
        }
        QFile after(profile);
        QVERIFY(after.open(QIODevice::ReadOnly));
        if (opened)
            QVERIFY(after.readAll().endsWith(" ?CTR3\n"));
        else
            QCOMPARE(after.readAll(), QByteArray("PATH=$HOME/bin:$PATH\n"));
    }

    void transcriptInMissingFolderRefused()
    {
        QTemporaryDir dir;
        boardsim::Transcript transcript;
        QVERIFY(!transcript.open(dir.filePath(u"no/such/folder/t.txt"_s)));
        transcript.write(u"?CTR3"); // and nothing written anywhere
    }
};

QTEST_GUILESS_MAIN(tst_SimParts)
#include "tst_simparts.moc"
