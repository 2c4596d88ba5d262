// SPDX-License-Identifier: MIT
// The ports named in the start-up message, fed in as lists: how many are
// shown, in which order, and how the operator is told to choose one, on
// Linux and on Windows.

#include "port/serialports.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

SerialPortEntry port(
    const QString& device, const QString& stable, const QString& description, bool usb = false)
{
    SerialPortEntry entry;
    entry.device = device;
    entry.stableName = stable;
    entry.description = description;
    if (usb) {
        entry.vendorId = 0x0403;
        entry.productId = 0x6001;
    }
    return entry;
}

const QString ById = u"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"_s;

} // namespace

Q_DECLARE_METATYPE(PortPlatform)

class tst_SerialPorts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void advice_data()
    {
        QTest::addColumn<QList<SerialPortEntry>>("ports");
        QTest::addColumn<PortPlatform>("platform");
        QTest::addColumn<QString>("expected");

        const QString settings = u"/var/opt/tarvik/Settings.ini"_s;
        QTest::newRow("none")
            << QList<SerialPortEntry>() << PortPlatform::Posix
            << u"No serial port was found on this computer: plug the board's USB serial adapter in, then start Tarvik again."_s;
        QTest::newRow("one adapter: the command for it")
            << QList<SerialPortEntry> { port(u"/dev/ttyUSB0"_s, ById, u"FT232R USB UART"_s, true) }
            << PortPlatform::Posix
            << u"Serial port found:\r\n    %1   FT232R USB UART\r\n\r\nTo use it for the board, run:  tarvik-port use %1"_s
                   .arg(ById);
        QTest::newRow("several: the one the board answers on")
            << QList<SerialPortEntry> { port(u"/dev/ttyUSB0"_s, ById, u"FT232R USB UART"_s, true),
                   port(u"/dev/ttyS0"_s, u"/dev/ttyS0"_s, QString()) }
            << PortPlatform::Posix
            << u"Serial ports found:\r\n    %1   FT232R USB UART\r\n    /dev/ttyS0   (no description)\r\n\r\nTo use the one the board answers on, run:  tarvik-port use found"_s
                   .arg(ById);
        QList<SerialPortEntry> seven;
        for (int i = 0; i < 7; ++i)
            seven << port(u"/dev/ttyS%1"_s.arg(i), u"/dev/ttyS%1"_s.arg(i), u"built-in"_s);
        QTest::newRow("seven: five shown")
            << seven << PortPlatform::Posix
            << u"Serial ports found:\r\n    /dev/ttyS0   built-in\r\n    /dev/ttyS1   built-in\r\n    /dev/ttyS2   built-in\r\n    /dev/ttyS3   built-in\r\n    /dev/ttyS4   built-in\r\n    and 2 more (tarvik-port list shows them all)\r\n\r\nTo use the one the board answers on, run:  tarvik-port use found"_s;
        QTest::newRow("Windows, one: the setting and the file")
            << QList<SerialPortEntry> { port(u"COM3"_s, u"COM3"_s, u"USB Serial Port"_s, true) }
            << PortPlatform::Windows
            << u"Serial port found:\r\n    COM3   USB Serial Port\r\n\r\nSet ComPort=3 under [System] in %1 to use COM3."_s
                   .arg(settings);
        QTest::newRow("Windows, several")
            << QList<SerialPortEntry> { port(u"COM3"_s, u"COM3"_s, u"USB Serial Port"_s, true),
                   port(u"COM1"_s, u"COM1"_s, u"Communications Port"_s) }
            << PortPlatform::Windows
            << u"Serial ports found:\r\n    COM3   USB Serial Port\r\n    COM1   Communications Port\r\n\r\nSet ComPort under [System] in %1 to the number of the board's port (ComPort=3 for COM3); tarvik-port find tells which port the board is on."_s
                   .arg(settings);
    }

    void advice()
    {
        QFETCH(QList<SerialPortEntry>, ports);
        QFETCH(PortPlatform, platform);
        QFETCH(QString, expected);
        QCOMPARE(startupPortAdvice(ports, u"/var/opt/tarvik/Settings.ini"_s, platform), expected);
    }

    void order()
    {
        // USB adapters first, where the board most likely is; then by name,
        // numbers as numbers.
        QList<SerialPortEntry> ports { port(u"/dev/ttyS10"_s, {}, {}),
            port(u"/dev/ttyS2"_s, {}, {}), port(u"/dev/ttyUSB1"_s, {}, {}, true),
            port(u"/dev/ttyACM0"_s, {}, {}, true) };
        sortSerialPorts(ports);
        QStringList devices;
        for (const SerialPortEntry& p : std::as_const(ports))
            devices << p.device;
        QCOMPARE(devices,
            QStringList(
                { u"/dev/ttyACM0"_s, u"/dev/ttyUSB1"_s, u"/dev/ttyS2"_s, u"/dev/ttyS10"_s }));
    }
};

QTEST_GUILESS_MAIN(tst_SerialPorts)
#include "tst_serialports.moc"
