// SPDX-License-Identifier: MIT
// Runs the kestrin-board-sim binary and talks to it through its link, the way
// the logger would: a raw tty opened by path.

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Generous: a loaded machine may be slow, but a working board answers at once.
constexpr int DeadlineMs = 10000;

class TtyClient
{
public:
    ~TtyClient()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool open(const QString& path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd < 0)
            return false;
        termios tio {};
        if (::tcgetattr(m_fd, &tio) != 0)
            return false;
        ::cfmakeraw(&tio);
        return ::tcsetattr(m_fd, TCSANOW, &tio) == 0;
    }

    bool writeLine(QByteArrayView text)
    {
        const QByteArray line = text.toByteArray() + "\r\n";
        return ::write(m_fd, line.constData(), line.size()) == line.size();
    }

    // The next `count` bytes, or what arrived before the deadline.
    QByteArray readBytes(qsizetype count)
    {
        const QDeadlineTimer deadline(DeadlineMs);
        while (m_buffer.size() < count && fill(deadline)) { }
        const QByteArray bytes = m_buffer.left(count);
        m_buffer.remove(0, bytes.size());
        return bytes;
    }

    // The next line ended by CR LF, without it; empty if none came in time.
    QByteArray readLine()
    {
        const QDeadlineTimer deadline(DeadlineMs);
        while (!m_buffer.contains("\r\n") && fill(deadline)) { }
        const qsizetype end = m_buffer.indexOf("\r\n");
        if (end < 0)
            return {};
        const QByteArray line = m_buffer.left(end);
        m_buffer.remove(0, end + 2);
        return line;
    }

private:
    bool fill(const QDeadlineTimer& deadline)
    {
        const qint64 left = deadline.remainingTime();
        if (left <= 0)
            return false;
        pollfd fd { m_fd, POLLIN, 0 };
        if (::poll(&fd, 1, static_cast<int>(left)) <= 0)
            return false;
        char chunk[512];
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        if (n > 0)
            m_buffer.append(chunk, n);
        return n > 0 || (n < 0 && errno == EAGAIN);
    }

    int m_fd = -1;
    QByteArray m_buffer;
};

bool waitFor(const std::function<bool()>& condition)
{
    const QDeadlineTimer deadline(DeadlineMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
    return true;
}

} // namespace

class tst_BoardSim : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_sim;
    QString m_link;

    // Starts the board on a fresh link in the temporary folder and waits for
    // the link to point at its pseudo-terminal.
    bool startBoard(const QStringList& options, const QString& linkName = u"com1"_s)
    {
        m_link = m_dir.filePath(linkName);
        const QString stale = QFileInfo(m_link).symLinkTarget();
        m_sim = std::make_unique<QProcess>();
        m_sim->setProcessChannelMode(QProcess::ForwardedChannels);
        m_sim->setStandardInputFile(QProcess::nullDevice());
        m_sim->start(qEnvironmentVariable("TARVIK_BOARD_SIM"),
            QStringList { u"--link"_s, m_link } + options);
        if (!m_sim->waitForStarted(DeadlineMs))
            return false;
        return waitFor([&] {
            const QFileInfo link(m_link);
            return link.isSymLink() && link.symLinkTarget() != stale && link.exists();
        });
    }

    void stopBoard()
    {
        if (m_sim && m_sim->state() != QProcess::NotRunning) {
            m_sim->terminate();
            if (!m_sim->waitForFinished(DeadlineMs))
                m_sim->kill();
        }
        m_sim.reset();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(QFileInfo(qEnvironmentVariable("TARVIK_BOARD_SIM")).isExecutable(),
            "TARVIK_BOARD_SIM must name the kestrin-board-sim binary");
    }

    void cleanup() { stopBoard(); }

    void conversation()
    {
        const QString transcriptPath = m_dir.filePath(u"transcript.txt"_s);
        QVERIFY(startBoard({ u"--no-pace"_s, u"--motion"_s, u"still"_s, u"--inputs"_s, u"010001"_s,
            u"--transcript"_s, transcriptPath }));
        TtyClient board;
        QVERIFY(board.open(m_link));

        const QList<QByteArray> sent { "?SCALE3", "SCALE3=0186A0000F61", "?SCALE3", "CTR3=0",
            "?CTR3", "?INPUTS" };
        for (const QByteArray& line : sent)
            QVERIFY(board.writeLine(line));
        // Commands are never answered, so the four replies come in order.
        QCOMPARE(board.readLine(), QByteArray("<S303E03C*"));
        QCOMPARE(board.readLine(), QByteArray("<S30186A0*"));
        QCOMPARE(board.readLine(), QByteArray("<C30.000*"));
        QCOMPARE(board.readLine(), QByteArray("<IN010001*"));

        QFile transcript(transcriptPath);
        QList<QByteArray> records;
        QVERIFY(waitFor([&] {
            if (!transcript.open(QIODevice::ReadOnly))
                return false;
            records = transcript.readAll().split('\n');
            transcript.close();
            records.removeAll(QByteArray());
            return records.size() >= sent.size();
        }));
        QCOMPARE(records.size(), sent.size());
        static const QRegularExpression stamp(u"^(\\d+\\.\\d{3}) (.*)$"_s);
        double previous = 0.0;
        for (qsizetype i = 0; i < records.size(); ++i) {
            const auto match = stamp.match(QString::fromLatin1(records[i]));
            QVERIFY2(match.hasMatch(), records[i].constData());
            const double ms = match.captured(1).toDouble();
            QVERIFY(ms >= previous);
            previous = ms;
            QCOMPARE(match.captured(2).toLatin1(), sent[i]);
        }
    }

    void lineEnds_data()
    {
        QTest::addColumn<QString>("lineEnd");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("crlf") << u"crlf"_s << QByteArray("<C40.000#\r\n");
        QTest::newRow("lfcr") << u"lfcr"_s << QByteArray("<C40.000#\n\r");
        QTest::newRow("cr") << u"cr"_s << QByteArray("<C40.000#\r");
    }

    void lineEnds()
    {
        QFETCH(QString, lineEnd);
        QFETCH(QByteArray, reply);
        QVERIFY(startBoard(
            { u"--motion"_s, u"still"_s, u"--line-end"_s, lineEnd, u"--closing-char"_s, u"#"_s }));
        TtyClient board;
        QVERIFY(board.open(m_link));
        // LF arriving before the CR is dropped by the board, as it is by the logger.
        QVERIFY(board.writeLine("?CTR4\n"));
        QCOMPARE(board.readBytes(reply.size()), reply);
    }

    void burst_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("paced");
        QTest::newRow("one reading") << 1 << false;
        QTest::newRow("two hundred back to back") << 200 << false;
        QTest::newRow("twenty at 9600 baud") << 20 << true;
    }

    void burst()
    {
        QFETCH(int, count);
        QFETCH(bool, paced);
        QStringList options { u"--motion"_s, u"still"_s, u"--burst"_s, QString::number(count),
            u"--exit-after-burst"_s };
        if (!paced)
            options.append(u"--no-pace"_s);
        QVERIFY(startBoard(options));
        TtyClient board;
        QVERIFY(board.open(m_link));
        for (int k = 1; k <= count; ++k)
            QCOMPARE(board.readLine(), "<KS" + QByteArray::number(k) + ".000*");

        // Everything was read, so the board ends on its own and takes its link.
        QVERIFY(m_sim->waitForFinished(DeadlineMs));
        QCOMPARE(m_sim->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_sim->exitCode(), 0);
        QVERIFY(!QFileInfo(m_link).isSymLink());
    }

    void staleLinkReplaced()
    {
        const QString path = m_dir.filePath(u"stale"_s);
        QVERIFY(QFile::link(m_dir.filePath(u"gone/ttyS9"_s), path));
        QVERIFY(startBoard({ u"--motion"_s, u"still"_s }, u"stale"_s));
        TtyClient board;
        QVERIFY(board.open(m_link));
        QVERIFY(board.writeLine("?SCALE4"));
        QCOMPARE(board.readLine(), QByteArray("<S403E03C*"));
    }

    void linkRemovedOnSignal_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }

    void linkRemovedOnSignal()
    {
        QFETCH(int, signal);
        QVERIFY(startBoard({}));
        {
            // Opened and closed again first: the board must survive the hang-up.
            TtyClient board;
            QVERIFY(board.open(m_link));
        }
        QCOMPARE(::kill(static_cast<pid_t>(m_sim->processId()), signal), 0);
        QVERIFY(m_sim->waitForFinished(DeadlineMs));
        QCOMPARE(m_sim->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_sim->exitCode(), 0);
        QVERIFY(!QFileInfo(m_link).isSymLink());
    }
};

QTEST_GUILESS_MAIN(tst_BoardSim)
#include "tst_boardsim.moc"
