// SPDX-License-Identifier: MIT
#include "core/inifile.h"
#include "core/safefile.h"
#include "support/filebytes.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_IniFile : public QObject
{
    Q_OBJECT

private:
    QString writeFile(const QByteArray& content)
    {
        return putFileBytes(m_dir.filePath(u"Settings.ini"_s), content);
    }
    static QByteArray readAll(const QString& path) { return fileBytes(path); }

    QTemporaryDir m_dir;

private Q_SLOTS:
    void read_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");

        QTest::newRow("no file") << QByteArray() << QString();
        QTest::newRow("empty file") << QByteArray("") << QString();
        QTest::newRow("plain") << QByteArray("[System]\r\nComPort=3\r\n") << u"3"_s;
        QTest::newRow("LF line ends") << QByteArray("[System]\nComPort=3\n") << u"3"_s;
        QTest::newRow("no final line end") << QByteArray("[System]\r\nComPort=3") << u"3"_s;
        QTest::newRow("names ignore case") << QByteArray("[SYSTEM]\r\ncomport=4\r\n") << u"4"_s;
        QTest::newRow("blanks around name and value")
            << QByteArray("  [ System ]  \r\n  ComPort  =  5 \t\r\n") << u"5"_s;
        QTest::newRow("one pair of quotes removed")
            << QByteArray("[System]\r\nComPort=\" 6 \"\r\n") << u" 6 "_s;
        QTest::newRow("lone quote kept") << QByteArray("[System]\r\nComPort=\"6\r\n") << u"\"6"_s;
        QTest::newRow("single quotes removed")
            << QByteArray("[System]\r\nComPort='3'\r\n") << u"3"_s;
        QTest::newRow("blanks inside single quotes kept")
            << QByteArray("[System]\r\nComPort=' 6 '\r\n") << u" 6 "_s;
        QTest::newRow("only the outer pair removed")
            << QByteArray("[System]\r\nComPort=''3''\r\n") << u"'3'"_s;
        QTest::newRow("empty single quotes")
            << QByteArray("[System]\r\nComPort=''\r\n") << QString();
        QTest::newRow("lone single quote kept")
            << QByteArray("[System]\r\nComPort='6\r\n") << u"'6"_s;
        QTest::newRow("single quote at the end kept")
            << QByteArray("[System]\r\nComPort=6'\r\n") << u"6'"_s;
        QTest::newRow("a single quote alone kept")
            << QByteArray("[System]\r\nComPort='\r\n") << u"'"_s;
        QTest::newRow("single then double quote kept")
            << QByteArray("[System]\r\nComPort='6\"\r\n") << u"'6\""_s;
        QTest::newRow("double then single quote kept")
            << QByteArray("[System]\r\nComPort=\"6'\r\n") << u"\"6'"_s;
        QTest::newRow("value after first equals")
            << QByteArray("[System]\r\nComPort=a=b\r\n") << u"a=b"_s;
        QTest::newRow("empty value") << QByteArray("[System]\r\nComPort=\r\n") << QString();
        QTest::newRow("key in other section")
            << QByteArray("[Other]\r\nComPort=7\r\n[System]\r\nX=1\r\n") << QString();
        QTest::newRow("first section of two wins")
            << QByteArray("[System]\r\nComPort=2\r\n[Other]\r\nComPort=9\r\n") << u"2"_s;
        QTest::newRow("commented-out key")
            << QByteArray("[System]\r\n;ComPort=9\r\nComPort=2\r\n") << u"2"_s;
        QTest::newRow("trailing letters kept") << QByteArray("[System]\r\nComPort=4x\r\n") << u"4x"_s;
        QTest::newRow("value cut to 254 characters")
            << QByteArray("[System]\r\nComPort=" + QByteArray(300, '7') + "\r\n")
            << QString(254, u'7');
        // What follows tens of thousands of characters on the same line
        // must not be read as a section of its own.
        QTest::newRow("rest of an over-long line is not a line")
            << QByteArray("[Other]\r\n;" + QByteArray(65400, 'x')
                          + "[System]\r\nComPort=9\r\n[System]\r\nComPort=5\r\n")
            << u"5"_s;
        QTest::newRow("binary garbage")
            << QByteArray("\x00\xff\xfe[Sys\x00tem]\r\n\x01\x02=\x03", 17) << QString();
    }

    void read()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        const QString path = writeFile(content);
        QCOMPARE(ReadIniString(u"System"_s, u"ComPort"_s, path), expected);
    }

    void write_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");

        QTest::newRow("new file") << QByteArray() << QByteArray("[System]\r\nComPort=1\r\n");
        QTest::newRow("empty key filled in place, other lines kept")
            << QByteArray("; port of the board\r\n[System]\r\nComPort=\r\nOther=x\r\n\r\n[Two]\r\nA=1\r\n")
            << QByteArray("; port of the board\r\n[System]\r\nComPort=1\r\nOther=x\r\n\r\n[Two]\r\nA=1\r\n");
        QTest::newRow("LF file keeps LF on the replaced line")
            << QByteArray("[System]\nComPort=\n") << QByteArray("[System]\nComPort=1\n");
        QTest::newRow("key added at end of its section, before blank line")
            << QByteArray("[System]\r\nOther=x\r\n\r\n[Two]\r\nA=1\r\n")
            << QByteArray("[System]\r\nOther=x\r\nComPort=1\r\n\r\n[Two]\r\nA=1\r\n");
        QTest::newRow("section appended after others")
            << QByteArray("# hand-made\r\n[Two]\r\nA=1\r\n")
            << QByteArray("# hand-made\r\n[Two]\r\nA=1\r\n[System]\r\nComPort=1\r\n");
        QTest::newRow("section appended to file without final line end")
            << QByteArray("[Two]\r\nA=1") << QByteArray("[Two]\r\nA=1\r\n[System]\r\nComPort=1\r\n");
        QTest::newRow("key added to last section without final line end")
            << QByteArray("[System]\r\nOther=x") << QByteArray("[System]\r\nOther=x\r\nComPort=1\r\n");
    }

    void write()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        const QString path = writeFile(before);
        QVERIFY(WriteIniString(u"System"_s, u"ComPort"_s, u"1"_s, path));
        QCOMPARE(readAll(path), after);
        QCOMPARE(ReadIniString(u"System"_s, u"ComPort"_s, path), u"1"_s);
    }

    void writeIntoMissingFolderFailsQuietly()
    {
        const QString path = m_dir.filePath(u"no/such/folder/Settings.ini"_s);
        QVERIFY(!WriteIniString(u"System"_s, u"ComPort"_s, u"1"_s, path));
        QVERIFY(!QFile::exists(path));
    }

    void sizeBound_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("read");
        QTest::newRow("64 KiB exactly: read") << MaxIniFileSize << true;
        QTest::newRow("regression: 64 KiB and one byte: refused unread")
            << MaxIniFileSize + 1 << false;
    }

    // A settings file is read whole, so only up to a bound: another
    // operator's gigabyte would otherwise be read, then written out again.
    void sizeBound()
    {
        QFETCH(qint64, size);
        QFETCH(bool, read);
        const QByteArray key = "[System]\r\nComPort=3\r\n";
        const QByteArray content = key + ';' + QByteArray(size - key.size() - 3, 'x') + "\r\n";
        QCOMPARE(content.size(), size);
        const QString path = writeFile(content);
        QString error;
        QCOMPARE(ReadIniString(u"System"_s, u"ComPort"_s, path, &error), read ? u"3"_s : QString());
        QCOMPARE(error, read ? QString() : safefile::tooLargeText(size, MaxIniFileSize));
        QCOMPARE(WriteIniString(u"System"_s, u"ComPort"_s, u"4"_s, path), read);
        if (!read)
            QCOMPARE(readAll(path), content);
    }

    // A rewrite that would pass the bound is not made: the next start would
    // refuse the file.
    void writePastTheBoundChangesNothing()
    {
        const QByteArray content = ';' + QByteArray(MaxIniFileSize - 10, 'x') + "\r\n";
        const QString path = writeFile(content);
        QVERIFY(!WriteIniString(u"System"_s, u"ComPort"_s, u"1"_s, path));
        QCOMPARE(readAll(path), content);
    }

    void writeOverFolderChangesNothing()
    {
        const QString path = m_dir.filePath(u"folder.ini"_s);
        QVERIFY(QDir(m_dir.path()).mkdir(u"folder.ini"_s));
        QVERIFY(!WriteIniString(u"System"_s, u"ComPort"_s, u"1"_s, path));
        QVERIFY(QFileInfo(path).isDir());
    }
};

QTEST_GUILESS_MAIN(tst_IniFile)
#include "tst_inifile.moc"
