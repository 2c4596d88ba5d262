// SPDX-License-Identifier: MIT
#include "core/portsetting.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_PortSetting : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void number_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<int>("expected"); // -100000: refused

        QTest::newRow("plain") << u"2"_s << 2;
        QTest::newRow("trailing blank") << u"2 "_s << 2;
        QTest::newRow("trailing letters") << u"4x"_s << 4;
        QTest::newRow("blanks inside dropped") << u" 1 2"_s << 12;
        QTest::newRow("tab and LF dropped") << u"\t3\n"_s << 3;
        QTest::newRow("letters only give 0") << u"abc"_s << 0;
        QTest::newRow("empty gives 0") << QString() << 0;
        QTest::newRow("half to even, down") << u"2.5"_s << 2;
        QTest::newRow("half to even, up") << u"3.5"_s << 4;
        QTest::newRow("fraction rounds") << u"2.7"_s << 3;
        QTest::newRow("negative") << u"-3"_s << -3;
        QTest::newRow("exponent") << u"1e2"_s << 100;
        QTest::newRow("dangling exponent ignored") << u"5e"_s << 5;
        QTest::newRow("top of 16-bit range") << u"32767"_s << 32767;
        QTest::newRow("bottom of 16-bit range") << u"-32768"_s << -32768;
        QTest::newRow("70000 out of range") << u"70000"_s << -100000;
        QTest::newRow("32767.5 rounds out of range") << u"32767.5"_s << -100000;
        QTest::newRow("huge exponent out of range") << u"1e400"_s << -100000;
        QTest::newRow("non-ASCII digit stops the number") << u"1\u0663"_s << 1;
        QTest::newRow("tiny exponent reads as 0") << u"1e-400"_s << 0;
        QTest::newRow("sign alone gives 0") << u"-"_s << 0;
        QTest::newRow("leading point and exponent") << u".5e1"_s << 5;
        QTest::newRow("a comma is no decimal point") << u"2,7"_s << 2;
        QTest::newRow("exponent sign without digits ignored") << u"7e+"_s << 7;
    }

    void number()
    {
        QFETCH(QString, setting);
        QFETCH(int, expected);
        const std::optional<int> n = portNumberFromSetting(setting);
        if (expected == -100000)
            QVERIFY(!n);
        else
            QCOMPARE(n, std::optional<int>(expected));
    }

    void name_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("makeLink");
        QTest::addColumn<QString>("expected"); // "<dir>" stands for the folder; empty: refused

        QTest::newRow("0 is no port") << 0 << false << QString();
        QTest::newRow("negative is no port") << -1 << false << QString();
        QTest::newRow("256 is no port") << 256 << false << QString();
#ifdef Q_OS_WIN
        QTest::newRow("port 1 is COM1") << 1 << false << u"COM1"_s;
        QTest::newRow("two digits") << 10 << false << u"COM10"_s;
        QTest::newRow("port 255 is COM255") << 255 << false << u"COM255"_s;
#else
        QTest::newRow("no link: first serial device") << 1 << false << u"/dev/ttyS0"_s;
        QTest::newRow("no link: port 255") << 255 << false << u"/dev/ttyS254"_s;
        QTest::newRow("link in program folder") << 1 << true << u"<dir>/com1"_s;
        QTest::newRow("link for another port ignored") << 2 << true << u"/dev/ttyS1"_s;
#endif
    }

    void name()
    {
        QFETCH(int, number);
        QFETCH(bool, makeLink);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        if (makeLink)
            QVERIFY(QFile::link(u"/nonexistent/tty"_s, dir.filePath(u"com1"_s)));
        const std::optional<QString> name = portNameFor(number, dir.path());
        if (expected.isEmpty())
            QVERIFY(!name);
        else
            QCOMPARE(name.value_or(QString()), QString(expected).replace(u"<dir>"_s, dir.path()));
    }

    void readSetting_data()
    {
        QTest::addColumn<QByteArray>("file"); // "-": no file
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("defaulted");

        QTest::newRow("no file: the default") << QByteArray("-") << u"1"_s << true;
        QTest::newRow("no value: the default")
            << QByteArray("[System]\r\nComPort=\r\n") << u"1"_s << true;
        QTest::newRow("a value") << QByteArray("[System]\r\nComPort=3\r\n") << u"3"_s << false;
        QTest::newRow("a wrong value, as it stands")
            << QByteArray("[System]\r\nComPort=abc\r\n") << u"abc"_s << false;
    }

    void readSetting()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, value);
        QFETCH(bool, defaulted);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"Settings.ini"_s);
        if (file != "-") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(file) == file.size());
        }
        const ComPortSettingRead read = readComPortSetting(path);
        QCOMPARE(read.value, value);
        QCOMPARE(read.defaulted, defaulted);
        QCOMPARE(read.refused, QString());
        // Read only: a missing file stays missing.
        QCOMPARE(QFile::exists(path), file != "-");
    }
};

QTEST_GUILESS_MAIN(tst_PortSetting)
#include "tst_portsetting.moc"
