// SPDX-License-Identifier: MIT
// The board port over an in-memory line: what goes on the wire for each line,
// what comes off it, a line that fails or vanishes, and the core session
// driven through the port as the setup window drives it.

#include "boarddevice.h"
#include "core/boardsession.h"
#include "core/module1.h"
#include "core/protocol.h"
#include "messagelog.h"
#include "port/boardport.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_BoardPort : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void writeLine_data();
    void writeLine();
    void writeRefused_data();
    void writeRefused();
    void receivedBytesAreHandedOn();
    void openFailureGivesTheReason();
    void vanishedLineClosesAndReopens_data();
    void vanishedLineClosesAndReopens();
    void portEventsAreLogged_data();
    void portEventsAreLogged();
    void receivedAndSentLinesAreDebugDetail();
    void sessionOverThePort();

private:
    BoardDevice* m_device = nullptr;
    std::unique_ptr<BoardPort> m_port;
};

void tst_BoardPort::init()
{
    m_device = new BoardDevice;
    m_port = std::make_unique<BoardPort>(m_device, nullptr);
    QVERIFY(m_port->open(u"board"_s));
}

void tst_BoardPort::cleanup()
{
    m_port.reset();
    m_device = nullptr;
}

void tst_BoardPort::writeLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("poll request") << u"?SCALE3"_s << QByteArray("?SCALE3\r\n");
    QTest::newRow("zero command, 8 bytes") << u"CTR3=0"_s << QByteArray("CTR3=0\r\n");
    QTest::newRow("scale command")
        << u"SCALE3=03E03C002710"_s << QByteArray("SCALE3=03E03C002710\r\n");
}

void tst_BoardPort::writeLine()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);

    QVERIFY(m_port->writeLine(text));
    // One write, the whole line: the board never sees half a command.
    QCOMPARE(m_device->writes, QList<QByteArray> { bytes });
    QCOMPARE(bytes, protocol::commandLine(text));
}

void tst_BoardPort::writeRefused_data()
{
    QTest::addColumn<bool>("closed");
    QTest::addColumn<bool>("failing");

    QTest::newRow("port closed") << true << false;
    QTest::newRow("write fails") << false << true;
}

void tst_BoardPort::writeRefused()
{
    QFETCH(bool, closed);
    QFETCH(bool, failing);

    if (closed)
        m_port->close();
    m_device->failWrites = failing;
    QVERIFY(!m_port->writeLine(u"CTR3=0"_s));
    QVERIFY(m_device->writes.isEmpty());
    // A failed write leaves the port as it was.
    QCOMPARE(m_port->isOpen(), !closed);
}

void tst_BoardPort::receivedBytesAreHandedOn()
{
    QSignalSpy received(m_port.get(), &BoardPort::bytesReceived);
    m_device->feed("<C3");
    m_device->feed("1*\r\n");
    QCOMPARE(received.size(), 2);
    QCOMPARE(received[0][0].toByteArray() + received[1][0].toByteArray(), "<C31*\r\n"_ba);
}

void tst_BoardPort::openFailureGivesTheReason()
{
    m_port->close();
    m_device->refuseOpen = true;
    const Result<void> opened = m_port->open(u"board"_s);
    QVERIFY(!opened);
    QCOMPARE(opened.reason(), u"Device or resource busy"_s);
    QVERIFY(!m_port->isOpen());
}

void tst_BoardPort::vanishedLineClosesAndReopens_data()
{
    QTest::addColumn<bool>("reconnecting");
    QTest::newRow("reconnecting: back once the line is") << true;
    QTest::newRow("not reconnecting: stays closed") << false;
}

void tst_BoardPort::vanishedLineClosesAndReopens()
{
    QFETCH(bool, reconnecting);

    m_port->setReconnecting(reconnecting);
    QSignalSpy received(m_port.get(), &BoardPort::bytesReceived);
    QSignalSpy connected(m_port.get(), &BoardPort::connectedChanged);

    // Bytes that came before the loss are still the board's.
    m_device->refuseOpen = true;
    m_device->queue("<KS1*\r");
    m_device->vanish();
    QCOMPARE(received.size(), 1);
    QCOMPARE(received[0][0].toByteArray(), "<KS1*\r"_ba);
    QVERIFY(!m_port->isOpen());
    QCOMPARE(connected.size(), 1);
    QCOMPARE(connected[0][0].toBool(), false);
    QVERIFY(!m_port->writeLine(u"?CTR3"_s));

    m_device->refuseOpen = false;
    if (reconnecting) {
        QTRY_VERIFY(m_port->isOpen());
        QCOMPARE(connected.size(), 2);
        QCOMPARE(connected[1][0].toBool(), true);
        QVERIFY(m_port->writeLine(u"?CTR3"_s));
    } else {
        QTest::qWait(1500);
        QVERIFY(!m_port->isOpen());
        QCOMPARE(connected.size(), 1);
    }
}

void tst_BoardPort::portEventsAreLogged_data()
{
    QTest::addColumn<QStringList>("attempts");
    QTest::addColumn<QStringList>("lines");

    // After the line vanishes, each attempt to reopen it: the reason it is
    // refused, or "ok" when it opens. The board's once-a-second retries must
    // not fill the system journal.
    const QString lost
        = u"warning tarvik.port: port board lost: the line ended; trying to reopen it once a second"_s;
    const QString busy = u"warning tarvik.port: port board cannot be reopened: Device or resource "
                         u"busy; still trying once a second"_s;
    const QString missing = u"warning tarvik.port: port board cannot be reopened: No such file or "
                            u"directory; still trying once a second"_s;
    const QString reopened = u"info tarvik.port: port board reopened"_s;

    QTest::newRow("lost: one warning with the reason") << QStringList {} << QStringList { lost };
    QTest::newRow("away for 5 attempts: one warning, not 5")
        << QStringList(5, u"Device or resource busy"_s) << QStringList { lost, busy };
    QTest::newRow("reopened: one info")
        << QStringList { u"ok"_s } << QStringList { lost, reopened };
    QTest::newRow("away, then back: one warning, one info")
        << QStringList { u"Device or resource busy"_s, u"Device or resource busy"_s,
               u"Device or resource busy"_s, u"ok"_s }
        << QStringList { lost, busy, reopened };
    QTest::newRow("the reason changes: told at each change")
        << QStringList { u"No such file or directory"_s, u"No such file or directory"_s,
               u"Device or resource busy"_s, u"Device or resource busy"_s, u"ok"_s }
        << QStringList { lost, missing, busy, reopened };
}

void tst_BoardPort::portEventsAreLogged()
{
    QFETCH(QStringList, attempts);
    QFETCH(QStringList, lines);

    m_port->setReconnecting(true);
    // The reopen timer's tick, without waiting a second for it.
    auto* reopenTimer = m_port->findChild<QTimer*>();
    QVERIFY(reopenTimer);
    MessageLog log;
    m_device->refuseOpen = true;
    m_device->vanish();
    for (const QString& attempt : attempts) {
        m_device->refuseOpen = attempt != u"ok"_s;
        m_device->refuseReason = attempt;
        QVERIFY(QMetaObject::invokeMethod(reopenTimer, "timeout"));
    }
    QCOMPARE(log.lines, lines);
    QCOMPARE(m_port->isOpen(), attempts.endsWith(u"ok"_s));
}

// Each line to and from the board is there for whoever switches it on, and
// off by default: at one line a second it would bury the events that matter.
// A line is told once, whole, however the port hands its bytes over.
void tst_BoardPort::receivedAndSentLinesAreDebugDetail()
{
    if (!qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QSKIP("QT_LOGGING_RULES is set in this environment");
    QTemporaryDir folder;
    Module1 module(folder.path(), QLocale(QLocale::English, QLocale::UnitedStates));
    BoardSession session(module);
    connect(m_port.get(), &BoardPort::bytesReceived, this,
        [&](const QByteArray& bytes) { session.receive(bytes); });
    const auto exchange = [&] {
        QVERIFY(m_port->writeLine(u"?CTR3"_s));
        m_device->feed("<C3");
        m_device->feed("1*\r\n");
    };
    {
        MessageLog log;
        exchange();
        QCOMPARE(log.lines, QStringList {});
    }
    QLoggingCategory::setFilterRules(u"tarvik.*.debug=true"_s);
    MessageLog log;
    exchange();
    QLoggingCategory::setFilterRules(QString());
    QCOMPARE(log.lines,
        (QStringList {
            u"debug tarvik.port: sent ?CTR3"_s, u"debug tarvik.port: received <C31*"_s }));
}

void tst_BoardPort::sessionOverThePort()
{
    QTemporaryDir folder;
    Module1 module(folder.path(), QLocale(QLocale::English, QLocale::UnitedStates));
    BoardSession session(module);
    QList<BoardSession::ReceivedLine> lines;
    connect(m_port.get(), &BoardPort::bytesReceived, this,
        [&](const QByteArray& bytes) { lines += session.receive(bytes); });

    // The window's poll tick on tab 0, then the board's answer in pieces.
    QVERIFY(m_port->writeLine(session.pollRequest(0)));
    QCOMPARE(m_device->writes, QList<QByteArray> { "?SCALE3\r\n" });
    m_device->feed("<S303E");
    m_device->feed("03C*\n\r<C312.3456*\r\n<KS2.5");
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0].result.labelText, u"2540.12"_s);
    QCOMPARE(lines[1].result.labelText, u"12.346"_s);
    QCOMPARE(module.CurrentScale3, 2540.12);
    QCOMPARE(module.RxBuffer.pending(), u"<KS2.5"_s);

    // A line cut by the loss of the port leads the first line after it.
    m_device->vanish();
    QVERIFY(m_port->open(u"board"_s));
    m_device->feed("*\r");
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[2].line, u"<KS2.5*"_s);
    QCOMPARE(lines[2].result.reading, std::optional<double>(2.5));
    QCOMPARE(module.ReadingText, u"2.5"_s);

    // An entry that Apply sends goes out as one line.
    m_device->writes.clear();
    const ApplyResult result = session.apply({ u"1000"_s, QString() },
        [&](Encoder, const QString& line) { return m_port->writeLine(line); });
    QCOMPARE(result.end, ApplyEnd::Completed);
    QCOMPARE(m_device->writes, QList<QByteArray> { "SCALE3=0186A0000F61\r\n" });
}

QTEST_GUILESS_MAIN(tst_BoardPort)
#include "tst_boardport.moc"
