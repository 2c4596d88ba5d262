// SPDX-License-Identifier: MIT
// Our settings reader and writer against the platform's own private-profile
// calls, on one table of files. Where they differ, the row names the
// difference and why ours behaves as it does; the test then insists on the
// difference, so a row that starts to agree is noticed too.

#include "core/inifile.h"
#include "support/filebytes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>

using namespace Qt::StringLiterals;

class tst_PrivateProfile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString put(const QString& name, const QByteArray& content)
    {
        return putFileBytes(m_dir.filePath(name), content);
    }
    static QByteArray bytesOf(const QString& path) { return fileBytes(path); }
    static QString platformRead(const QString& section, const QString& key, const QString& path)
    {
        // 255, as the settings reader was always specified: values stop at
        // 254 characters.
        char buffer[255] = {};
        GetPrivateProfileStringA(section.toLatin1().constData(), key.toLatin1().constData(), "",
                                 buffer, sizeof buffer,
                                 QDir::toNativeSeparators(path).toLocal8Bit().constData());
        return QString::fromLatin1(buffer);
    }

private Q_SLOTS:
    void read_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("difference"); // empty: both must agree

        QTest::newRow("no file") << QByteArray() << QString();
        QTest::newRow("plain") << QByteArray("[System]\r\nComPort=3\r\n") << QString();
        QTest::newRow("LF line ends") << QByteArray("[System]\nComPort=3\n") << QString();
        QTest::newRow("no final line end") << QByteArray("[System]\r\nComPort=3") << QString();
        QTest::newRow("names ignore case") << QByteArray("[SYSTEM]\r\ncomport=4\r\n") << QString();
        QTest::newRow("blanks around name and value")
            << QByteArray("[System]\r\n  ComPort  =  5 \t\r\n") << QString();
        QTest::newRow("one pair of quotes removed")
            << QByteArray("[System]\r\nComPort=\" 6 \"\r\n") << QString();
        QTest::newRow("lone quote kept") << QByteArray("[System]\r\nComPort=\"6\r\n") << QString();
        QTest::newRow("single quotes removed")
            << QByteArray("[System]\r\nComPort='3'\r\n") << QString();
        QTest::newRow("blanks inside single quotes kept")
            << QByteArray("[System]\r\nComPort=' 6 '\r\n") << QString();
        QTest::newRow("only the outer pair removed")
            << QByteArray("[System]\r\nComPort=''3''\r\n") << QString();
        QTest::newRow("empty single quotes")
            << QByteArray("[System]\r\nComPort=''\r\n") << QString();
        QTest::newRow("lone single quote kept")
            << QByteArray("[System]\r\nComPort='6\r\n") << QString();
        QTest::newRow("single quote at the end kept")
            << QByteArray("[System]\r\nComPort=6'\r\n") << QString();
        QTest::newRow("a single quote alone kept")
            << QByteArray("[System]\r\nComPort='\r\n") << QString();
        QTest::newRow("single then double quote kept")
            << QByteArray("[System]\r\nComPort='6\"\r\n") << QString();
        QTest::newRow("double then single quote kept")
            << QByteArray("[System]\r\nComPort=\"6'\r\n") << QString();
        QTest::newRow("value after first equals") << QByteArray("[System]\r\nComPort=a=b\r\n") << QString();
        QTest::newRow("empty value") << QByteArray("[System]\r\nComPort=\r\n") << QString();
        QTest::newRow("key in other section")
            << QByteArray("[Other]\r\nComPort=7\r\n[System]\r\nX=1\r\n") << QString();
        QTest::newRow("first section of two wins")
            << QByteArray("[System]\r\nComPort=2\r\n[Other]\r\nComPort=9\r\n") << QString();
        QTest::newRow("trailing letters kept") << QByteArray("[System]\r\nComPort=4x\r\n") << QString();
        QTest::newRow("value of 300 characters cut to 254")
            << QByteArray("[System]\r\nComPort=" + QByteArray(300, '7') + "\r\n") << QString();
    }
    void read()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, difference);
        const QString path = put(u"read.ini"_s, content);
        const QString ours = ReadIniString(u"System"_s, u"ComPort"_s, path);
        const QString platform = platformRead(u"System"_s, u"ComPort"_s, path);
        if (difference.isEmpty()) {
            QCOMPARE(ours, platform);
        } else {
            qInfo("known difference (%s): ours \"%s\", platform \"%s\"", qPrintable(difference),
                  qPrintable(ours), qPrintable(platform));
            QVERIFY2(ours != platform, "the listed difference is gone: update the row");
        }
    }

    void write_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("difference");

        QTest::newRow("no file") << QByteArray() << u"1"_s << QString();
        QTest::newRow("value replaced in place")
            << QByteArray("[System]\r\nComPort=3\r\n") << u"5"_s << QString();
        QTest::newRow("comments and other keys kept")
            << QByteArray("; port of the board\r\n[System]\r\nA=1\r\nComPort=3\r\nB=2\r\n[Other]\r\nX=y\r\n")
            << u"4"_s << QString();
        QTest::newRow("blank line between sections")
            << QByteArray("[System]\r\nComPort=3\r\n\r\n[Other]\r\nX=y\r\n") << u"4"_s
            << u"Wine rewrites the whole file and drops blank lines; ours changes only "
               "the value, so the layout operators gave the file by hand stays"_s;
        QTest::newRow("key added to its section")
            << QByteArray("[System]\r\nA=1\r\n[Other]\r\nX=y\r\n") << u"2"_s << QString();
        QTest::newRow("section appended") << QByteArray("[Other]\r\nX=y\r\n") << u"2"_s << QString();
    }
    void write()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, value);
        QFETCH(QString, difference);
        const QString ours = put(u"ours.ini"_s, content);
        const QString platform = put(u"platform.ini"_s, content);
        QVERIFY(WriteIniString(u"System"_s, u"ComPort"_s, value, ours));
        QVERIFY(WritePrivateProfileStringA("System", "ComPort", value.toLatin1().constData(),
                                           QDir::toNativeSeparators(platform).toLocal8Bit().constData()));
        if (difference.isEmpty()) {
            QCOMPARE(bytesOf(ours), bytesOf(platform));
        } else {
            qInfo("known difference (%s):\nours:     %s\nplatform: %s", qPrintable(difference),
                  bytesOf(ours).toPercentEncoding(" =[];").constData(),
                  bytesOf(platform).toPercentEncoding(" =[];").constData());
            QVERIFY2(bytesOf(ours) != bytesOf(platform), "the listed difference is gone: update the row");
        }
    }
};

QTEST_APPLESS_MAIN(tst_PrivateProfile)
#include "tst_privateprofile.moc"
