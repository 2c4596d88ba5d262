// SPDX-License-Identifier: MIT
// Start-up against settings files nobody meant to write: binary garbage, a
// file grown to tens of megabytes, one the program cannot read, a value far
// longer than a line should be. Whatever the file holds, loading the port
// setting must end either with a setting the port opening can judge (a
// missing setting reads as "1" and is written back) or with the reason the
// file was not read, which the start-up failure message shows; never with a
// crash, a hang, or a file read without a bound.

#include "core/inifile.h"
#include "core/module1.h"
#include "core/portsetting.h"
#include "core/safefile.h"
#include "messagelog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

#if defined(__SANITIZE_ADDRESS__)
#define TARVIK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARVIK_ASAN 1
#endif
#endif

namespace {

constexpr qsizetype LargeFileSize = 50 * 1024 * 1024;
constexpr uid_t OtherOperator = 54321;
constexpr uid_t ThirdOperator = 54322;

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Peak resident memory of the process so far, in bytes.
qint64 peakResident()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_maxrss) * 1024;
}

// Bytes of every value, NUL and line ends included, from a fixed seed so
// that a failure can be replayed.
QByteArray binaryGarbage(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& b : bytes)
        b = char(random.bounded(256));
    return bytes;
}

// Tens of megabytes as a log or a core dump copied over the file would be:
// mostly lines of text with "=" in them, now and then a stretch of binary
// without any line end. Written in pieces, so that the test itself stays
// small and the program's memory can be told from the test's.
bool writeLargeJunk(const QString& path, qsizetype size, const QByteArray& tail)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QRandomGenerator random(6);
    QByteArray piece;
    qsizetype written = 0;
    for (qint64 n = 0; written < size; ++n) {
        if (n % 1000 == 999) {
            piece = binaryGarbage(200 * 1024, quint32(n));
            piece.replace('\n', ' ');
            piece += "\r\n";
        } else {
            piece = "junk" + QByteArray::number(n) + '=' + QByteArray(int(random.bounded(80)), 'x')
                + "\r\n";
        }
        if (f.write(piece) != piece.size())
            return false;
        written += piece.size();
    }
    return f.write(tail) == tail.size();
}

// A digest of the file's first `length` bytes.
QByteArray digest(const QString& path, qint64 length)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    while (length > 0) {
        const QByteArray chunk = f.read(std::min<qint64>(length, 1 << 20));
        if (chunk.isEmpty())
            return {};
        hash.addData(chunk);
        length -= chunk.size();
    }
    return hash.result();
}

} // namespace

class tst_SettingsFileStartup : public QObject
{
    Q_OBJECT

private:
    // A fresh program folder for each case, so that no case sees another's file.
    QString newFolder()
    {
        const QString folder = m_root.filePath(QString::number(++m_folders));
        return QDir().mkpath(folder) ? folder : QString();
    }

    QTemporaryDir m_root;
    int m_folders = 0;

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_root.isValid()); }

    void tooLarge_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("refused");
        QTest::newRow("64 KiB exactly: read") << u"padded"_s << MaxIniFileSize << false;
        QTest::newRow("regression: 64 KiB and one byte: refused")
            << u"padded"_s << MaxIniFileSize + 1 << true;
        QTest::newRow("regression: 50 MB of junk with the key near its end")
            << u"junk with key"_s << qint64(LargeFileSize) << true;
        QTest::newRow("regression: 50 MB of junk without the key, was rewritten whole")
            << u"junk"_s << qint64(LargeFileSize) << true;
        QTest::newRow("regression: a sparse file of 1 GiB")
            << u"sparse"_s << qint64(1) * 1024 * 1024 * 1024 << true;
    }

    // First, while the process is still small, so the peak it leaves is its
    // own. A settings file is a few lines: one far bigger is refused unread
    // and left as it is, whatever another operator grew it to.
    void tooLarge()
    {
        QFETCH(QString, what);
        QFETCH(qint64, size);
        QFETCH(bool, refused);
        const QString folder = newFolder();
        const QString path = folder + u"/Settings.ini"_s;
        const QByteArray key = "[System]\r\nComPort=7\r\n";
        if (what == u"padded") {
            QVERIFY(writeAll(path, key + "; " + QByteArray(size - key.size() - 4, 'x') + "\r\n"));
        } else if (what == u"sparse") {
            QVERIFY(writeAll(path, key));
            QVERIFY(::truncate(QFile::encodeName(path).constData(), off_t(size)) == 0);
        } else {
            QVERIFY(writeLargeJunk(path, size,
                what == u"junk" ? "[Other]\r\nComPort=9\r\n"
                                : "[System]\r\nComPort=7\r\n[Other]\r\nComPort=9\r\n"));
        }
        const qint64 fileSize = QFileInfo(path).size();
        QVERIFY(fileSize >= size);
        const QByteArray hash = what == u"sparse" ? QByteArray() : digest(path, fileSize);

        const qint64 before = peakResident();
        Module1 module(folder);
        module.LoadComPortSetting();
        const qint64 growth = peakResident() - before;

        if (!refused) {
            QVERIFY2(module.SettingsFileRefused.isEmpty(), qPrintable(module.SettingsFileRefused));
            QCOMPARE(module.ComPortSetting, u"7"_s);
        } else {
            QCOMPARE(module.SettingsFileRefused, safefile::tooLargeText(fileSize, MaxIniFileSize));
        }
        // Neither written back nor cut.
        QCOMPARE(QFileInfo(path).size(), fileSize);
        if (!hash.isEmpty())
            QCOMPARE(digest(path, fileSize), hash);
#ifndef TARVIK_ASAN
        // Reading one key may cost the bounded file, never more. (AddressSanitizer
        // holds on to freed memory, so its peak says nothing here.)
        QVERIFY2(growth < 8 * 1024 * 1024,
            qPrintable(u"reading grew the process by %1 MB"_s.arg(growth >> 20)));
#else
        Q_UNUSED(growth);
#endif
    }

    void garbage_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected"); // null: anything but ""
        QTest::addColumn<bool>("defaultWritten");
        QTest::addColumn<int>("port"); // 0: no port to open

        // Each under the 64 KiB a settings file may be, with the default added.
        QByteArray noise = binaryGarbage(32 * 1024, 1);
        QTest::newRow("random bytes") << noise << u"1"_s << true << 1;

        QByteArray noLineEnds = binaryGarbage(32 * 1024, 2);
        noLineEnds.replace('\n', '\0');
        QTest::newRow("random bytes without a line end") << noLineEnds << u"1"_s << true << 1;

        QByteArray lines = binaryGarbage(32 * 1024, 3);
        lines.replace('[', '(');
        QTest::newRow("random lines before the section") << lines + "\r\n[System]\r\nComPort=3\r\n"
                                                         << u"3"_s << false << 3;
        QTest::newRow("random lines after the key")
            << "[System]\r\nComPort=3\r\n" + lines << u"3"_s << false << 3;
        QTest::newRow("NULs only") << QByteArray(4096, '\0') << u"1"_s << true << 1;
        QTest::newRow("value of control and high bytes")
            << QByteArray("[System]\r\nComPort=\xff\x01\x7f\r\n") << QString() << false << 0;
        QTest::newRow("section line of high bytes")
            << QByteArray("[\xe4\xf6\xfc]\r\nComPort=3\r\n") << u"1"_s << true << 1;
    }

    void garbage()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        QFETCH(bool, defaultWritten);
        QFETCH(int, port);

        const QString folder = newFolder();
        const QString path = folder + u"/Settings.ini"_s;
        QVERIFY(writeAll(path, content));
        Module1 module(folder);
        module.LoadComPortSetting();

        if (expected.isNull())
            QVERIFY(!module.ComPortSetting.isEmpty());
        else
            QCOMPARE(module.ComPortSetting, expected);

        const QByteArray after = readAll(path);
        if (defaultWritten) {
            QVERIFY(after.startsWith(content));
            QVERIFY(after.endsWith("[System]\r\nComPort=1\r\n"));
            // What was written is what the next start reads.
            Module1 next(folder);
            next.LoadComPortSetting();
            QCOMPARE(next.ComPortSetting, u"1"_s);
            QCOMPARE(readAll(path), after);
        } else {
            QCOMPARE(after, content);
        }

        const auto number = portNumberFromSetting(module.ComPortSetting);
        const auto name = number ? portNameFor(*number, folder) : std::nullopt;
        if (port == 0)
            QVERIFY(!name); // the port opening shows its message
        else
            QCOMPARE(name, u"/dev/ttyS"_s + QString::number(port - 1));
    }

    void longValue_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("port"); // 0: no port to open

        QTest::newRow("300 digits") << QByteArray(300, '3') << QString(254, u'3') << 0;
        QTest::newRow("3 and 299 letters")
            << "3" + QByteArray(299, 'x') << u"3"_s + QString(253, u'x') << 3;
        QTest::newRow("300 characters in quotes")
            << "\"4" + QByteArray(299, 'y') + '"' << u"4"_s + QString(253, u'y') << 4;
        QTest::newRow("254 characters kept whole")
            << "5" + QByteArray(253, 'z') << u"5"_s + QString(253, u'z') << 5;
        QTest::newRow("255 characters lose the last")
            << "5" + QByteArray(253, 'z') + 'Q' << u"5"_s + QString(253, u'z') << 5;
        QTest::newRow("300 blanks around a number")
            << QByteArray(150, ' ') + "6" + QByteArray(150, ' ') << u"6"_s << 6;
        QTest::newRow("2 and a 65000-character tail")
            << "2" + QByteArray(65000, '0') << u"2"_s + QString(253, u'0') << 0;
    }

    void longValue()
    {
        QFETCH(QByteArray, value);
        QFETCH(QString, expected);
        QFETCH(int, port);

        const QString folder = newFolder();
        const QString path = folder + u"/Settings.ini"_s;
        const QByteArray content = "; edited by hand\r\n[System]\r\nComPort=" + value + "\r\n";
        QVERIFY(writeAll(path, content));
        Module1 module(folder);
        module.LoadComPortSetting();

        QCOMPARE(module.ComPortSetting, expected);
        QCOMPARE(readAll(path), content); // a value was there: nothing written
        const auto number = portNumberFromSetting(module.ComPortSetting);
        const auto name = number ? portNameFor(*number, folder) : std::nullopt;
        if (port == 0)
            QVERIFY(!name);
        else
            QCOMPARE(name, u"/dev/ttyS"_s + QString::number(port - 1));
    }

    void settingsPathIsAFolder()
    {
        const QString folder = newFolder();
        const QString path = folder + u"/Settings.ini"_s;
        QVERIFY(QDir().mkpath(path));
        QVERIFY(writeAll(path + u"/keep"_s, "kept"));

        Module1 module(folder);
        module.LoadComPortSetting();

        // Not read as missing (the run would silently open port 1): the
        // operator is told which file and why.
        QCOMPARE(module.SettingsFileRefused, safefile::notRegularText(safefile::Kind::Folder));
        QVERIFY(QFileInfo(path).isDir());
        QCOMPARE(readAll(path + u"/keep"_s), QByteArray("kept"));
        QCOMPARE(QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList { u"keep"_s });
    }

    // Another operator's Settings.ini at mode 0600: the program may not read
    // it, and says so instead of opening port 1.
    void unreadableFile()
    {
        const QString folder = newFolder();
        const QString path = folder + u"/Settings.ini"_s;
        const QByteArray content = "[System]\r\nComPort=3\r\n";
        QVERIFY(writeAll(path, content));
        const QByteArray name = QFile::encodeName(path);
        const bool root = geteuid() == 0;
        if (root) {
            // Root reads every file: the check runs with the rights of a
            // third user, who may pass through the folders.
            QVERIFY(::chown(name.constData(), OtherOperator, gid_t(-1)) == 0);
            QVERIFY(::chmod(name.constData(), 0600) == 0);
            QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
            QVERIFY(::chmod(QFile::encodeName(m_root.path()).constData(), 0755) == 0);
        } else {
            QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
        }

        Module1 module(folder);
        if (root)
            ::setfsuid(ThirdOperator);
        module.LoadComPortSetting();
        if (root)
            ::setfsuid(0);

        QCOMPARE(module.SettingsFileRefused, QString::fromLocal8Bit(std::strerror(EACCES)));
        // The operator's file is left alone, not replaced by a default.
        if (!root)
            QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QCOMPARE(readAll(path), content);
    }

    void unwritableFolder()
    {
        if (geteuid() == 0)
            QSKIP("root writes into every folder");
        const QString folder = newFolder();
        const QString path = folder + u"/Settings.ini"_s;
        QVERIFY(writeAll(path, binaryGarbage(4096, 4)));
        const QByteArray content = readAll(path);
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner));
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));

        Module1 module(folder);
        module.LoadComPortSetting();

        QCOMPARE(module.ComPortSetting, u"1"_s);
        QCOMPARE(readAll(path), content);
        QVERIFY(QFile::setPermissions(
            folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    }

    void plantedInPlaceOfTheFile_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("reason");
        QTest::newRow("regression: a FIFO hung the start, then read as missing")
            << u"fifo"_s << safefile::notRegularText(safefile::Kind::Fifo);
        QTest::newRow("regression: a link to /dev/zero spun the CPU, then read as missing")
            << u"zero"_s << safefile::notRegularText(safefile::Kind::CharDevice);
        QTest::newRow("regression: another operator's link to a .bashrc")
            << u"foreign link"_s << safefile::refusedLinkText(safefile::userName(OtherOperator));
        QTest::newRow("regression: a second name of a private file")
            << u"hard link"_s << safefile::hardLinkText(2);
    }

    // Another operator put something in place of Settings.ini: it is neither
    // read nor written, and the operator is told why at start-up.
    void plantedInPlaceOfTheFile()
    {
        QFETCH(QString, what);
        QFETCH(QString, reason);
        if (what == u"foreign link" && geteuid() != 0)
            QSKIP("needs root to make a link owned by another user");
        const QString folder = newFolder();
        const QString path = folder + u"/Settings.ini"_s;
        const QByteArray name = QFile::encodeName(path);
        const QString bashrc = folder + u"/bashrc"_s;
        QVERIFY(writeAll(bashrc, "alias ls='ls -F'\n"));
        if (what == u"fifo") {
            QVERIFY(::mkfifo(name.constData(), 0666) == 0);
        } else if (what == u"zero") {
            QVERIFY(::symlink("/dev/zero", name.constData()) == 0);
        } else if (what == u"hard link") {
            QVERIFY(::link(QFile::encodeName(bashrc).constData(), name.constData()) == 0);
        } else {
            QVERIFY(::symlink(QFile::encodeName(bashrc).constData(), name.constData()) == 0);
            QVERIFY(::lchown(name.constData(), OtherOperator, gid_t(-1)) == 0);
        }
        struct stat before;
        QVERIFY(::lstat(name.constData(), &before) == 0);

        Module1 module(folder);
        module.LoadComPortSetting();

        QCOMPARE(module.SettingsFileRefused, reason);
        struct stat after;
        QVERIFY(::lstat(name.constData(), &after) == 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(readAll(bashrc), QByteArray("alias ls='ls -F'\n"));
    }

    void settingsEventsAreLogged_data()
    {
        QTest::addColumn<QString>("file"); // "none", "fifo", "no folder", or its content
        QTest::addColumn<QString>("line"); // %1 the settings file; empty: nothing told

        QTest::newRow("missing: created, one info")
            << u"none"_s << u"info tarvik.settings: settings file %1 created with ComPort=1"_s;
        QTest::newRow("no ComPort: written, one info")
            << u"[Other]\r\nX=1\r\n"_s
            << u"info tarvik.settings: settings file %1 had no ComPort: ComPort=1 written"_s;
        QTest::newRow("a port named: nothing told") << u"[System]\r\nComPort=3\r\n"_s << QString();
        QTest::newRow("a FIFO in its place: one warning with the reason")
            << u"fifo"_s
            << u"warning tarvik.settings: settings file %1 not read: "_s
                + safefile::notRegularText(safefile::Kind::Fifo);
        QTest::newRow("cannot be created: one warning, the run goes on with port 1")
            << u"no folder"_s
            << u"warning tarvik.settings: settings file %1 has no ComPort and cannot be written; "
               u"this run uses ComPort=1"_s;
    }

    // What the administrator reads about Settings.ini at start-up.
    void settingsEventsAreLogged()
    {
        QFETCH(QString, file);
        QFETCH(QString, line);
        QString folder = newFolder();
        if (file == u"no folder")
            folder += u"/gone"_s;
        const QString path = folder + u"/Settings.ini"_s;
        if (file == u"fifo")
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0666) == 0);
        else if (file != u"none" && file != u"no folder")
            QVERIFY(writeAll(path, file.toUtf8()));

        Module1 module(folder);
        MessageLog messages;
        module.LoadComPortSetting();

        const QStringList expected
            = line.isEmpty() ? QStringList() : QStringList { line.arg(module.SettingsFile) };
        QCOMPARE(messages.lines, expected);
    }
};

QTEST_GUILESS_MAIN(tst_SettingsFileStartup)
#include "tst_settingsfile_startup.moc"
