// SPDX-License-Identifier: MIT
// tarvik-port's command line: every command, and every wrong one refused
// with a line that names what was wrong.

#include "portcommand.h"

#include <QTest>

using namespace Qt::StringLiterals;
using tarvikport::CommandLine;

Q_DECLARE_METATYPE(CommandLine::Action)
Q_DECLARE_METATYPE(CommandLine::Command)

class tst_PortCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commands_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<CommandLine::Command>("command");
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("com"); // 0: none

        using C = CommandLine::Command;
        QTest::newRow("list") << QStringList { u"list"_s } << C::List << QStringList() << QString()
                              << 0;
        QTest::newRow("find") << QStringList { u"find"_s } << C::Find << QStringList() << QString()
                              << 0;
        QTest::newRow("find with devices")
            << QStringList { u"find"_s, u"/dev/pts/3"_s, u"/dev/pts/4"_s } << C::Find
            << QStringList { u"/dev/pts/3"_s, u"/dev/pts/4"_s } << QString() << 0;
        QTest::newRow("use a device") << QStringList { u"use"_s, u"/dev/ttyUSB0"_s } << C::Use
                                      << QStringList() << u"/dev/ttyUSB0"_s << 0;
        QTest::newRow("use found")
            << QStringList { u"use"_s, u"found"_s } << C::Use << QStringList() << u"found"_s << 0;
        QTest::newRow("use --com before") << QStringList { u"use"_s, u"--com"_s, u"3"_s, u"x"_s }
                                          << C::Use << QStringList() << u"x"_s << 3;
        QTest::newRow("use --com= after") << QStringList { u"use"_s, u"x"_s, u"--com=255"_s }
                                          << C::Use << QStringList() << u"x"_s << 255;
    }

    void commands()
    {
        QFETCH(QStringList, arguments);
        QFETCH(CommandLine::Command, command);
        QFETCH(QStringList, devices);
        QFETCH(QString, port);
        QFETCH(int, com);
        const CommandLine line
            = tarvikport::parseCommandLine(QStringList { u"tarvik-port"_s } + arguments);
        QVERIFY2(line.action == CommandLine::Action::Run, qPrintable(line.text));
        QCOMPARE(line.command, command);
        QCOMPARE(line.devices, devices);
        QCOMPARE(line.port, port);
        QCOMPARE(line.comNumber.value_or(0), com);
    }

    void refused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("text");

        QTest::newRow("no command") << QStringList() << u"no command given: list, find or use"_s;
        QTest::newRow("unknown command")
            << QStringList { u"show"_s } << u"unknown command show: list, find or use"_s;
        QTest::newRow("list with an argument")
            << QStringList { u"list"_s, u"all"_s } << u"list takes no arguments, not all"_s;
        QTest::newRow("use without a port")
            << QStringList { u"use"_s }
            << u"use needs a PORT: a device, a /dev/serial/by-id/ name, or found"_s;
        QTest::newRow("use with two ports")
            << QStringList { u"use"_s, u"a"_s, u"b"_s } << u"use takes one PORT, not a b"_s;
        QTest::newRow("--com 0") << QStringList { u"use"_s, u"--com"_s, u"0"_s, u"x"_s }
                                 << u"--com takes a port number from 1 to 255, not 0"_s;
        QTest::newRow("--com 300") << QStringList { u"use"_s, u"--com"_s, u"300"_s, u"x"_s }
                                   << u"--com takes a port number from 1 to 255, not 300"_s;
        QTest::newRow("--com with a sign") << QStringList { u"use"_s, u"--com=+3"_s, u"x"_s }
                                           << u"--com takes a port number from 1 to 255, not +3"_s;
        QTest::newRow("--com not a number") << QStringList { u"use"_s, u"--com=one"_s,
            u"x"_s } << u"--com takes a port number from 1 to 255, not one"_s;
        QTest::newRow("--com without use")
            << QStringList { u"find"_s, u"--com=2"_s } << u"--com goes with use only"_s;
        QTest::newRow("unknown option")
            << QStringList { u"list"_s, u"--all"_s } << u"Unknown option 'all'."_s;
    }

    void refused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, text);
        const CommandLine line
            = tarvikport::parseCommandLine(QStringList { u"tarvik-port"_s } + arguments);
        QCOMPARE(line.action, CommandLine::Action::Refuse);
        QCOMPARE(line.text, text);
        QVERIFY(!line.text.contains(u'\n'));
    }

    void helpAndVersion()
    {
        const CommandLine help
            = tarvikport::parseCommandLine({ u"/usr/bin/tarvik-port"_s, u"--help"_s });
        QCOMPARE(help.action, CommandLine::Action::Show);
        // The manual page is made from the help: a synopsis line first, and
        // every command described.
        QVERIFY2(help.text.startsWith(u"Usage: tarvik-port list\n"_s), qPrintable(help.text));
        for (const QString& section :
            { u"\n  list "_s, u"\n  find "_s, u"\n  use PORT"_s, u"\nExit status:"_s })
            QVERIFY2(help.text.contains(section), qPrintable(section));
        QVERIFY(!help.text.contains(u"/usr/bin"_s));

        const CommandLine version
            = tarvikport::parseCommandLine({ u"tarvik-port"_s, u"--version"_s });
        QCOMPARE(version.action, CommandLine::Action::Show);
        QCOMPARE(version.text,
            u"tarvik-port (Tarvik Data Logger) %1\n"_s.arg(QLatin1StringView(TARVIK_VERSION)));
    }
};

QTEST_GUILESS_MAIN(tst_PortCommand)
#include "tst_portcommand.moc"
