// SPDX-License-Identifier: MIT
#include "core/logfile.h"
#include "core/safefile.h"
#include "messagelog.h"
#include "syncspy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace {

enum class Unwritable
{
    MissingFolder,
    ParentIsFile,
    PathIsFolder,
    ReadOnlyFile,
    FullDisk,
    Fifo
};

QByteArray record(int i)
{
    return "\"" + QByteArray::number(i) + "\",\"12/7/2026\",\"4:19:14 AM\"\r\n";
}

// Only regular files are read: /dev/full reads as endless zeros.
// What the program does with each reading: keep its record, then write
// whatever is kept.
LogFile::Written keepAndWrite(LogFile& log, const QString& path, const QByteArray& record)
{
    log.keep(record);
    return log.writeKept(path);
}

QByteArray contents(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return QByteArray();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QString strerrorText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

bool runningAsRoot()
{
#ifdef Q_OS_UNIX
    return ::geteuid() == 0;
#else
    return false;
#endif
}

} // namespace

Q_DECLARE_METATYPE(Unwritable)

class tst_LogFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void appends_data();
    void appends();
    void writeKeptWithNothingKept();
    void unwritable_data();
    void unwritable();
    void unwritableThenMended_data();
    void unwritableThenMended();
    void failureAndRecoveryAreLogged_data();
    void failureAndRecoveryAreLogged();
    void partialWriteIsCutBack();
    void manyKeptRecords();
    void newFileHasItsFolderSynced_data();
    void newFileHasItsFolderSynced();

private:
    // Makes `path` in `dir` unwritable in the given way; an empty result
    // means the case cannot be set up here (the reason is in `skip`).
    QString makeUnwritable(const QTemporaryDir& dir, Unwritable kind, QString* skip);
    bool mend(const QTemporaryDir& dir, Unwritable kind, const QString& path);
};

void tst_LogFile::appends_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("before");

    QTest::newRow("file does not exist yet") << false << QByteArray();
    QTest::newRow("empty file") << true << QByteArray();
    QTest::newRow("file already holds records") << true << (record(-1) + record(-2));
}

void tst_LogFile::appends()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, before);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"Default.csv"_s);
    if (exists)
        QVERIFY(writeFile(path, before));

    LogFile log;
    QVERIFY(keepAndWrite(log, path, record(1)).ok());
    QCOMPARE(contents(path), before + record(1));
    QVERIFY(keepAndWrite(log, path, record(2)).ok());
    QCOMPARE(contents(path), before + record(1) + record(2));
    QCOMPARE(log.keptCount(), 0);
}

void tst_LogFile::writeKeptWithNothingKept()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"Default.csv"_s);

    LogFile log;
    const LogFile::Written result = log.writeKept(path);
    QVERIFY(result.ok());
    QVERIFY(result.reason().isEmpty());
    QVERIFY(!QFile::exists(path));
}

QString tst_LogFile::makeUnwritable(const QTemporaryDir& dir, Unwritable kind, QString* skip)
{
    switch (kind) {
    case Unwritable::MissingFolder:
        return dir.filePath(u"missing/log.csv"_s);
    case Unwritable::ParentIsFile:
        if (!writeFile(dir.filePath(u"plain"_s), "x"))
            return QString();
        return dir.filePath(u"plain/log.csv"_s);
    case Unwritable::PathIsFolder:
        if (!QDir(dir.path()).mkdir(u"log.csv"_s))
            return QString();
        return dir.filePath(u"log.csv"_s);
    case Unwritable::ReadOnlyFile: {
        if (runningAsRoot()) {
            *skip = u"root writes to read-only files regardless of their permissions"_s;
            return QString();
        }
        const QString path = dir.filePath(u"log.csv"_s);
        if (!writeFile(path, record(0))
            || !QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup))
            return QString();
        return path;
    }
    case Unwritable::FullDisk:
        if (!QFile::exists(u"/dev/full"_s)) {
            *skip = u"no /dev/full on this system"_s;
            return QString();
        }
        return u"/dev/full"_s;
    case Unwritable::Fifo: {
#ifdef Q_OS_UNIX
        const QString path = dir.filePath(u"log.csv"_s);
        return ::mkfifo(QFile::encodeName(path).constData(), 0666) == 0 ? path : QString();
#else
        *skip = u"no FIFOs here"_s;
        return QString();
#endif
    }
    }
    return QString();
}

bool tst_LogFile::mend(const QTemporaryDir& dir, Unwritable kind, const QString& path)
{
    switch (kind) {
    case Unwritable::MissingFolder:
        return QDir(dir.path()).mkdir(u"missing"_s);
    case Unwritable::ParentIsFile:
        return QFile::remove(dir.filePath(u"plain"_s)) && QDir(dir.path()).mkdir(u"plain"_s);
    case Unwritable::PathIsFolder:
        return QDir(dir.path()).rmdir(u"log.csv"_s);
    case Unwritable::ReadOnlyFile:
        return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    case Unwritable::FullDisk:
        break;
    case Unwritable::Fifo:
        return QFile::remove(path);
    }
    return false;
}

void tst_LogFile::unwritable_data()
{
    QTest::addColumn<Unwritable>("kind");
    QTest::addColumn<QString>("error");

    QTest::newRow("missing folder") << Unwritable::MissingFolder << strerrorText(ENOENT);
    QTest::newRow("parent is a file") << Unwritable::ParentIsFile << strerrorText(ENOTDIR);
    QTest::newRow("path is a folder") << Unwritable::PathIsFolder << strerrorText(EISDIR);
    QTest::newRow("read-only file") << Unwritable::ReadOnlyFile << strerrorText(EACCES);
    // Devices are never logged to: some block or do something when opened.
    QTest::newRow("a device (/dev/full)")
        << Unwritable::FullDisk << safefile::notRegularText(safefile::Kind::CharDevice);
    QTest::newRow("regression: a FIFO hung the program in open()")
        << Unwritable::Fifo << safefile::notRegularText(safefile::Kind::Fifo);
}

// Records that cannot be written are kept, in order, and go first into the
// next file that can be written, even when that is another file.
void tst_LogFile::unwritable()
{
    QFETCH(Unwritable, kind);
    QFETCH(QString, error);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString skip;
    const QString bad = makeUnwritable(dir, kind, &skip);
    if (!skip.isEmpty())
        QSKIP(qPrintable(skip));
    QVERIFY(!bad.isEmpty());
    const QByteArray badBefore = contents(bad);

    LogFile log;
    for (int i = 1; i <= 3; ++i) {
        const LogFile::Written result = keepAndWrite(log, bad, record(i));
        QVERIFY(!result.ok());
        QCOMPARE(result.reason(), error);
        QCOMPARE(log.keptCount(), i);
    }
    QVERIFY(!log.writeKept(bad).ok());
    QCOMPARE(log.keptCount(), 3);
    QCOMPARE(contents(bad), badBefore);

    const QString good = dir.filePath(u"other.csv"_s);
    QVERIFY(writeFile(good, record(-1)));
    QVERIFY(keepAndWrite(log, good, record(4)).ok());
    QCOMPARE(log.keptCount(), 0);
    QCOMPARE(contents(good), record(-1) + record(1) + record(2) + record(3) + record(4));
    QCOMPARE(contents(bad), badBefore);
}

void tst_LogFile::unwritableThenMended_data()
{
    QTest::addColumn<Unwritable>("kind");

    QTest::newRow("missing folder created") << Unwritable::MissingFolder;
    QTest::newRow("file in the way replaced by a folder") << Unwritable::ParentIsFile;
    QTest::newRow("folder in the way removed") << Unwritable::PathIsFolder;
    QTest::newRow("read-only file made writable") << Unwritable::ReadOnlyFile;
    QTest::newRow("FIFO removed") << Unwritable::Fifo;
}

// The same path becomes writable again: nothing lost, in order, exactly once.
void tst_LogFile::unwritableThenMended()
{
    QFETCH(Unwritable, kind);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString skip;
    const QString path = makeUnwritable(dir, kind, &skip);
    if (!skip.isEmpty())
        QSKIP(qPrintable(skip));
    QVERIFY(!path.isEmpty());
    const QByteArray before = contents(path);

    LogFile log;
    QVERIFY(!keepAndWrite(log, path, record(1)).ok());
    QVERIFY(!keepAndWrite(log, path, record(2)).ok());
    QVERIFY(mend(dir, kind, path));

    QVERIFY(log.writeKept(path).ok());
    QCOMPARE(log.keptCount(), 0);
    QCOMPARE(contents(path), before + record(1) + record(2));
    QVERIFY(keepAndWrite(log, path, record(3)).ok());
    QCOMPARE(contents(path), before + record(1) + record(2) + record(3));
}

void tst_LogFile::failureAndRecoveryAreLogged_data()
{
    QTest::addColumn<Unwritable>("kind");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("withJournal");

    QTest::newRow("missing folder, no journal")
        << Unwritable::MissingFolder << systemError(ENOENT) << false;
    QTest::newRow("missing folder, kept in the journal")
        << Unwritable::MissingFolder << systemError(ENOENT) << true;
    QTest::newRow("folder in the way, kept in the journal")
        << Unwritable::PathIsFolder << systemError(EISDIR) << true;
    QTest::newRow("a FIFO in its place, no journal")
        << Unwritable::Fifo << safefile::notRegularText(safefile::Kind::Fifo) << false;
}

// A log file that fails at every reading gives the administrator one warning
// with the reason, not one per reading, and its recovery one info line that
// says how many kept records went in.
void tst_LogFile::failureAndRecoveryAreLogged()
{
    QFETCH(Unwritable, kind);
    QFETCH(QString, error);
    QFETCH(bool, withJournal);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString skip;
    const QString path = makeUnwritable(dir, kind, &skip);
    if (!skip.isEmpty())
        QSKIP(qPrintable(skip));
    QVERIFY(!path.isEmpty());

    Journal journal(dir.filePath(u"journals"_s));
    LogFile log;
    if (withJournal)
        log.setJournal(&journal);
    MessageLog messages;
    for (int i = 1; i <= 3; ++i)
        QVERIFY(!keepAndWrite(log, path, record(i)).ok());
    const QString place = journal.place();
    QVERIFY(mend(dir, kind, path));
    QVERIFY(keepAndWrite(log, path, record(4)).ok());
    QVERIFY(keepAndWrite(log, path, record(5)).ok());

    const QStringList expected {
        u"warning tarvik.log: log file %1 cannot be written: %2; 1 reading(s) kept%3 until it can"_s
            .arg(path, error,
                withJournal ? u" and saved in the journal %1"_s.arg(place) : QString()),
        u"info tarvik.log: log file %1 written again: 4 kept record(s) written%2"_s.arg(
            path, withJournal ? u"; journal %1 removed"_s.arg(place) : QString()),
    };
    QCOMPARE(messages.lines, expected);
}

// A disk that fills in the middle of a write: the file size limit lets part
// of the records through, then refuses the rest.
void tst_LogFile::partialWriteIsCutBack()
{
#ifndef Q_OS_UNIX
    QSKIP("needs a file size limit (setrlimit)");
#else
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"log.csv"_s);
    const QByteArray before = record(0);
    QVERIFY(writeFile(path, before));

    rlimit saved {};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(before.size() + 10);
    if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < tight.rlim_cur)
        QSKIP("file size limit already tighter than the test needs");
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);

    LogFile log;
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &tight) == 0);
    const LogFile::Written first = keepAndWrite(log, path, record(1));
    const LogFile::Written second = keepAndWrite(log, path, record(2));
    const QByteArray during = contents(path);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, oldHandler);

    QVERIFY(!first.ok());
    QVERIFY(!second.ok());
    QCOMPARE(first.reason(), strerrorText(EFBIG));
    QCOMPARE(during, before);
    QCOMPARE(log.keptCount(), 2);

    QVERIFY(keepAndWrite(log, path, record(3)).ok());
    QCOMPARE(contents(path), before + record(1) + record(2) + record(3));
#endif
}

void tst_LogFile::manyKeptRecords()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString bad = dir.filePath(u"missing/log.csv"_s);
    const int count = 20000;

    LogFile log;
    QByteArray expected;
    for (int i = 0; i < count; ++i) {
        QVERIFY(!keepAndWrite(log, bad, record(i)).ok());
        expected += record(i);
    }
    QCOMPARE(log.keptCount(), count);

    const QString good = dir.filePath(u"log.csv"_s);
    QVERIFY(log.writeKept(good).ok());
    QCOMPARE(log.keptCount(), 0);
    QCOMPARE(contents(good), expected);
}

void tst_LogFile::newFileHasItsFolderSynced_data()
{
    QTest::addColumn<bool>("exists");
    QTest::newRow("the write makes the file") << false;
    QTest::newRow("the file is there already") << true;
}

// A synced record must not be in a file whose name a power cut takes away:
// the write that makes the file syncs its folder too, before the record.
void tst_LogFile::newFileHasItsFolderSynced()
{
    QFETCH(bool, exists);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(u"logs"_s));
    const QString folder = QFileInfo(dir.filePath(u"logs"_s)).canonicalFilePath();
    const QString path = folder + u"/log.csv"_s;
    if (exists)
        QVERIFY(writeFile(path, record(0)));

    LogFile log;
    syncspy::take();
    QVERIFY(keepAndWrite(log, path, record(1)).ok());
    const QStringList synced = syncspy::take();
    QCOMPARE(synced.contains(folder), !exists);
    QCOMPARE(synced.constLast(), path);
    QCOMPARE(synced.size(), exists ? 1 : 2);
}

QTEST_APPLESS_MAIN(tst_LogFile)
#include "tst_logfile.moc"
