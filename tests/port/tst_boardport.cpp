// SPDX-License-Identifier: MIT
// The board port over an in-memory line: what goes on the wire for each line,
// what comes off it, a line that fails or vanishes, and the core session
// driven through the port as the setup window drives it.

#include "boarddevice.h"
#include "core/boardsession.h"
#include "core/module1.h"
#include "core/protocol.h"
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
