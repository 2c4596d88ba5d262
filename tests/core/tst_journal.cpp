// SPDX-License-Identifier: MIT
#include "core/journal.h"
#include "core/logfile.h"
#include "messagelog.h"
#include "support/filebytes.h"
#include "syncspy.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// A reading's record with its own date and time, one second apart.
QByteArray record(int i)
{
    return "\"" + QByteArray::number(i) + "\",\"2026-12-07\",\"04:59:"
        + QByteArray::number(10 + i).rightJustified(2, '0') + "\"\r\n";
}

QByteArray records(int from, int to)
{
    QByteArray all;
    for (int i = from; i <= to; ++i)
        all += record(i);
    return all;
}

std::deque<QByteArray> keptRecords(int from, int to)
{
    std::deque<QByteArray> kept;
    for (int i = from; i <= to; ++i)
        kept.push_back(record(i));
    return kept;
}

QStringList journals(const QString& folder)
{
    return QDir(folder).entryList({ u"kept-*.journal"_s }, QDir::Files, QDir::Name);
}

QString canonical(const QString& path)
{
    return QFileInfo(path).canonicalFilePath();
}

unsigned modeOf(const QString& path)
{
    struct stat st
    {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// The size of the entry that keeps `record` for `logFile`.
qsizetype entrySize(const QString& logFile, const QByteArray& record)
{
    return 8 + 1 + 2 + logFile.toUtf8().size() + record.size();
}

bool runningAsRoot()
{
    return ::geteuid() == 0;
}

constexpr uid_t Nobody = 65534;

enum class Tear
{
    InSize,
    InPayload,
    ZerosInstead,
    ZerosAfter,
    ChangedByte,
    Header
};

enum class Unsafe
{
    OthersFile,
    OthersMayWrite,
    OthersFolder,
    OthersLink,
    Fifo
};

} // namespace

Q_DECLARE_METATYPE(Tear)
Q_DECLARE_METATYPE(Unsafe)

class tst_Journal : public QObject
{
    Q_OBJECT

private:
    QString folder() const { return m_dir->filePath(u"state/tarvik"_s); }
    QString path(const QString& name) const { return m_dir->filePath(name); }
    QString onlyJournal() const
    {
        const QStringList names = journals(folder());
        return names.size() == 1 ? folder() + u'/' + names.constFirst() : QString();
    }

    // What a run that is killed while readings from..to are kept for
    // `logFile` leaves behind; with `notedLength`, it had noted writing them
    // into the log file at that length.
    void leaveJournal(const QString& logFile, int from, int to, qint64 notedLength = -1)
    {
        Journal run(folder());
        const std::deque<QByteArray> kept = keptRecords(from, to);
        QVERIFY(run.append(logFile, kept, 0).ok());
        if (notedLength >= 0)
            QVERIFY(run.noteWrite(logFile, notedLength, qsizetype(kept.size())).ok());
        // Gone without removing it, as after kill -9.
    }

    std::unique_ptr<QTemporaryDir> m_dir;

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void cleanup() { m_dir.reset(); }

    void defaultFolder_data();
    void defaultFolder();
    void nothingWhileTheLogWorks();
    void keptReadingsAreSavedBeforeTheNextOne();
    void journalIsPrivate_data();
    void journalIsPrivate();
    void journalThatCannotBeWritten();
    void recovery_data();
    void recovery();
    void tornJournal_data();
    void tornJournal();
    void earlierReadingsWaitForTheirFile_data();
    void earlierReadingsWaitForTheirFile();
    void recoveryIsLogged_data();
    void recoveryIsLogged();
    void tookThemBeforeGoingAway();
    void journalsAreWrittenOldestFirst();
    void readingsGoToTheFileTheyWereMeantFor();
    void liveJournalIsLeftAlone();
    void unsafeJournalIsNotRead_data();
    void unsafeJournalIsNotRead();
};

void tst_Journal::defaultFolder_data()
{
    QTest::addColumn<QByteArray>("stateHome");
    QTest::addColumn<QString>("expected");

    QTest::newRow("XDG_STATE_HOME set") << QByteArray("/srv/state") << u"/srv/state/tarvik"_s;
    QTest::newRow("XDG_STATE_HOME unset")
        << QByteArray() << QDir::homePath() + u"/.local/state/tarvik"_s;
    QTest::newRow("XDG_STATE_HOME relative: ignored")
        << QByteArray("state") << QDir::homePath() + u"/.local/state/tarvik"_s;
}

void tst_Journal::defaultFolder()
{
    QFETCH(QByteArray, stateHome);
    QFETCH(QString, expected);
    const QByteArray saved = qgetenv("XDG_STATE_HOME");
    const bool wasSet = qEnvironmentVariableIsSet("XDG_STATE_HOME");
    if (stateHome.isNull())
        qunsetenv("XDG_STATE_HOME");
    else
        qputenv("XDG_STATE_HOME", stateHome);
    const QString folder = Journal::defaultFolder();
    if (wasSet)
        qputenv("XDG_STATE_HOME", saved);
    else
        qunsetenv("XDG_STATE_HOME");
    QCOMPARE(folder, expected);
}

// No file, no folder, no sync but the log file's own.
void tst_Journal::nothingWhileTheLogWorks()
{
    Journal journal(folder());
    LogFile log;
    log.setJournal(&journal);
    const QString csv = putFileBytes(path(u"log.csv"_s), record(0));
    QVERIFY(!csv.isEmpty());

    syncspy::take();
    for (int i = 1; i <= 3; ++i) {
        log.keep(record(i));
        QVERIFY(log.writeKept(csv).ok());
    }
    QCOMPARE(syncspy::take(), QStringList(3, canonical(csv)));
    QCOMPARE(fileBytes(csv), records(0, 3));
    QVERIFY(!QFileInfo::exists(path(u"state"_s)));
    QVERIFY(!journal.isOpen());
}

void tst_Journal::keptReadingsAreSavedBeforeTheNextOne()
{
    Journal journal(folder());
    LogFile log;
    log.setJournal(&journal);
    const QString csv = path(u"away/log.csv"_s);

    syncspy::take();
    log.keep(record(1));
    QVERIFY(!log.writeKept(csv).ok());
    const QString file = onlyJournal();
    QVERIFY(!file.isEmpty());
    QVERIFY(syncspy::take().contains(canonical(file)));
    QCOMPARE(log.unsavedCount(), 0);
    QCOMPARE(journal.place(), QDir::toNativeSeparators(file));

    log.keep(record(2));
    QVERIFY(!log.writeKept(csv).ok());
    QVERIFY(syncspy::take().contains(canonical(file)));
    QCOMPARE(onlyJournal(), file);
    const std::vector<JournalRecord> saved = Journal::readRecords(file);
    QCOMPARE(saved.size(), size_t(2));
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(saved[size_t(i)].logFile, csv);
        QCOMPARE(saved[size_t(i)].record, record(i + 1));
    }

    // The log file is back: it takes them all, and the journal goes.
    QVERIFY(QDir(m_dir->path()).mkdir(u"away"_s));
    log.keep(record(3));
    QVERIFY(log.writeKept(csv).ok());
    QCOMPARE(fileBytes(csv), records(1, 3));
    QCOMPARE(log.keptCount(), 0);
    QVERIFY(journals(folder()).isEmpty());
    QVERIFY(!journal.isOpen());
}

void tst_Journal::journalIsPrivate_data()
{
    QTest::addColumn<bool>("folderThere");
    QTest::newRow("folder made for the journal") << false;
    QTest::newRow("folder there already, open to everyone") << true;
}

void tst_Journal::journalIsPrivate()
{
    QFETCH(bool, folderThere);
    if (folderThere) {
        QVERIFY(QDir().mkpath(folder()));
        QCOMPARE(::chmod(QFile::encodeName(folder()).constData(), 0777), 0);
    }
    Journal journal(folder());
    LogFile log;
    log.setJournal(&journal);
    log.keep(record(1));
    QVERIFY(!log.writeKept(path(u"away/log.csv"_s)).ok());
    QCOMPARE(log.unsavedCount(), 0);
    QCOMPARE(modeOf(folder()), 0700u);
    QCOMPARE(modeOf(onlyJournal()), 0600u);
}

// The home folder is full or unusable too: the readings stay in memory and
// the log file's return still takes them all.
void tst_Journal::journalThatCannotBeWritten()
{
    QVERIFY(!putFileBytes(path(u"state"_s), "not a folder").isEmpty());
    Journal journal(folder());
    LogFile log;
    log.setJournal(&journal);
    const QString csv = path(u"away/log.csv"_s);

    log.keep(record(1));
    QVERIFY(!log.writeKept(csv).ok());
    log.keep(record(2));
    QVERIFY(!log.writeKept(csv).ok());
    QCOMPARE(log.unsavedCount(), 2);
    QCOMPARE(log.journalError(), QString::fromLocal8Bit(std::strerror(ENOTDIR)));

    QVERIFY(QDir(m_dir->path()).mkdir(u"away"_s));
    log.keep(record(3));
    QVERIFY(log.writeKept(csv).ok());
    QCOMPARE(fileBytes(csv), records(1, 3));
    QCOMPARE(log.unsavedCount(), 0);
    QVERIFY(log.journalError().isEmpty());
}

void tst_Journal::recovery_data()
{
    QTest::addColumn<bool>("noted");
    QTest::addColumn<QByteArray>("logAtStart"); // null: no file
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("written");

    const QByteArray before = record(0);
    const QByteArray kept = records(1, 3);
    QTest::newRow("killed while readings were kept") << false << before << before + kept << 3;
    QTest::newRow("killed after noting the write, before the log took them")
        << true << before << before + kept << 3;
    QTest::newRow("killed after the log took them, before the journal went")
        << true << before + kept << before + kept << 0;
    QTest::newRow("the log took them and others' readings followed")
        << true << before + kept + record(9) << before + kept + record(9) << 0;
    QTest::newRow("power cut in the log's write: a part of them there")
        << true << before + kept.left(kept.size() / 2) << before + kept << 3;
    QTest::newRow("power cut: the log grew but its bytes did not land")
        << true << before + QByteArray(kept.size(), '\0') << before + kept << 3;
    QTest::newRow("the log was moved away after it took them") << true << QByteArray() << kept << 3;
    QTest::newRow("the log was emptied after it took them") << true << QByteArray("") << kept << 3;
}

// A journal left by a run that ended: every kept reading in its log file once,
// in order, after what was there, with its own time.
void tst_Journal::recovery()
{
    QFETCH(bool, noted);
    QFETCH(QByteArray, logAtStart);
    QFETCH(QByteArray, expected);
    QFETCH(int, written);

    const QString csv = path(u"log.csv"_s);
    const QByteArray before = record(0);
    leaveJournal(csv, 1, 3, noted ? before.size() : -1);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(putFileBytes(csv, logAtStart), csv);

    Journal next(folder());
    const Recovery report = next.recoverEarlier();
    QCOMPARE(fileBytes(csv), expected);
    QCOMPARE(report.writtenCount(), qsizetype(written));
    QVERIFY(journals(folder()).isEmpty());
    if (written > 0) {
        QVERIFY2(report.message().contains(u"3 reading(s) from 2026-12-07 04:59:11 to 2026-12-07 "
                                           u"04:59:13 are now written into "_s
                     + csv + u'.'),
            qPrintable(report.message()));
    } else {
        QVERIFY2(report.message().isEmpty(), qPrintable(report.message()));
    }

    // Nothing left for the start after.
    Journal after(folder());
    QVERIFY(after.recoverEarlier().isEmpty());
    QCOMPARE(fileBytes(csv), expected);
}

void tst_Journal::tornJournal_data()
{
    QTest::addColumn<Tear>("tear");
    QTest::addColumn<int>("readable"); // whole records left

    QTest::newRow("cut in the last entry's size") << Tear::InSize << 2;
    QTest::newRow("cut in the last entry's record") << Tear::InPayload << 2;
    QTest::newRow("zeros in place of the last entry") << Tear::ZerosInstead << 2;
    QTest::newRow("a changed byte in the last entry") << Tear::ChangedByte << 2;
    QTest::newRow("zeros after the last entry") << Tear::ZerosAfter << 3;
    QTest::newRow("the header cut") << Tear::Header << 0;
}

// A power cut in the middle of an append: the torn entry is dropped, not
// misread, and cut off before anything is appended after it.
void tst_Journal::tornJournal()
{
    QFETCH(Tear, tear);
    QFETCH(int, readable);

    const QString csv = path(u"away/log.csv"_s);
    leaveJournal(csv, 1, 3);
    if (QTest::currentTestFailed())
        return;
    const QString file = onlyJournal();
    QByteArray bytes = fileBytes(file);
    const qsizetype last = entrySize(csv, record(3));
    const qsizetype whole = bytes.size() - last; // up to the last entry
    switch (tear) {
    case Tear::InSize:
        bytes.truncate(whole + 2);
        break;
    case Tear::InPayload:
        bytes.truncate(bytes.size() - 5);
        break;
    case Tear::ZerosInstead:
        bytes.replace(whole, last, QByteArray(last, '\0'));
        break;
    case Tear::ChangedByte:
        bytes[bytes.size() - 4] = char(bytes[bytes.size() - 4] ^ 0x20);
        break;
    case Tear::ZerosAfter:
        bytes.append(QByteArray(4096, '\0'));
        break;
    case Tear::Header:
        bytes.truncate(5);
        break;
    }
    QCOMPARE(putFileBytes(file, bytes), file);
    QCOMPARE(Journal::readRecords(file).size(), size_t(readable));

    {
        // The log file still away: the journal stays, without its torn tail.
        Journal run(folder());
        run.recoverEarlier();
        if (readable == 0) {
            QVERIFY(journals(folder()).isEmpty());
        } else {
            const qsizetype expected = tear == Tear::ZerosAfter ? whole + last : whole;
            QCOMPARE(QFileInfo(file).size(), expected);
        }
    }
    QVERIFY(QDir(m_dir->path()).mkdir(u"away"_s));
    Journal next(folder());
    next.recoverEarlier();
    QCOMPARE(fileBytes(csv), readable ? records(1, readable) : QByteArray());
    QVERIFY(journals(folder()).isEmpty());
}

void tst_Journal::earlierReadingsWaitForTheirFile_data()
{
    QTest::addColumn<bool>("sameRun");
    QTest::newRow("written at the next start") << false;
    QTest::newRow("written in the same run, before its own readings") << true;
}

// The log file is still away at the next start: nothing lost, the journal
// kept, and the message says so and where.
void tst_Journal::earlierReadingsWaitForTheirFile()
{
    QFETCH(bool, sameRun);
    const QString csv = path(u"away/log.csv"_s);
    leaveJournal(csv, 1, 3);
    if (QTest::currentTestFailed())
        return;
    const QString file = onlyJournal();
    {
        Journal run(folder());
        const Recovery report = run.recoverEarlier();
        QCOMPARE(report.writtenCount(), 0);
        QCOMPARE(report.files.size(), size_t(1));
        QCOMPARE(report.files[0].count, 3);
        QCOMPARE(report.failureFor(csv), QString::fromLocal8Bit(std::strerror(ENOENT)));
        const QString text = report.message();
        QVERIFY2(text.contains(u"3 reading(s) from 2026-12-07 04:59:11 to 2026-12-07 04:59:13 "
                               u"still cannot be written into "_s
                     + csv),
            qPrintable(text));
        QVERIFY2(text.contains(u"They stay saved in "_s + QDir::toNativeSeparators(folder())),
            qPrintable(text));
        QVERIFY(run.holdsEarlierFor(csv));
        QCOMPARE(onlyJournal(), file);
        QVERIFY(!QFileInfo::exists(csv));

        QVERIFY(QDir(m_dir->path()).mkdir(u"away"_s));
        if (sameRun) {
            LogFile log;
            log.setJournal(&run);
            log.keep(record(4));
            const LogFile::Written result = log.writeKept(csv);
            QVERIFY(result.ok());
            QCOMPARE(result.earlier.writtenCount(), 3);
            QCOMPARE(fileBytes(csv), records(1, 4));
            QVERIFY(journals(folder()).isEmpty());
            QVERIFY(!run.holdsEarlierFor(csv));
            return;
        }
    }
    Journal next(folder());
    QCOMPARE(next.recoverEarlier().writtenCount(), 3);
    QCOMPARE(fileBytes(csv), records(1, 3));
    QVERIFY(journals(folder()).isEmpty());
}

void tst_Journal::recoveryIsLogged_data()
{
    QTest::addColumn<bool>("awayAtStart");
    QTest::addColumn<int>("readingsWhileAway"); // this run's, before the folder is back
    QTest::addColumn<QStringList>("lines"); // %1 the log file, %2 the journals' folder

    const QString written = u"info tarvik.log: 3 reading(s) of an earlier run (2026-12-07 "
                            u"04:59:11 to 2026-12-07 04:59:13) written from the journal into %1"_s;
    const QString held = u"warning tarvik.log: 3 reading(s) of an earlier run for %1 still held "
                         u"in %2: "_s
        + QString::fromLocal8Bit(std::strerror(ENOENT));
    const QString waiting = u"warning tarvik.log: log file %1 cannot be written: "_s
        + QString::fromLocal8Bit(std::strerror(ENOENT))
        + u"; 1 reading(s) kept and saved in the journal %2 until it can"_s;

    QTest::newRow("written at start: one info") << false << 0 << QStringList { written };
    QTest::newRow("still away at start: one warning that says where they are")
        << true << 0 << QStringList { held };
    QTest::newRow("away for 3 readings of this run, then back: each told once")
        << true << 3
        << QStringList { held, waiting, written,
               u"info tarvik.log: log file %1 written again: 4 kept record(s) written; journal "
               u"%2 removed"_s };
}

// What the administrator reads about an earlier run's readings: written, or
// still held and where, each once however many readings wait behind them.
void tst_Journal::recoveryIsLogged()
{
    QFETCH(bool, awayAtStart);
    QFETCH(int, readingsWhileAway);
    QFETCH(QStringList, lines);

    const QString csv = path(u"away/log.csv"_s);
    leaveJournal(csv, 1, 3);
    if (QTest::currentTestFailed())
        return;
    if (!awayAtStart)
        QVERIFY(QDir(m_dir->path()).mkdir(u"away"_s));

    MessageLog messages;
    Journal run(folder());
    run.recoverEarlier();
    LogFile log;
    log.setJournal(&run);
    QString own; // this run's journal, while it holds this run's readings
    for (int i = 1; i <= readingsWhileAway; ++i) {
        log.keep(record(10 + i));
        QVERIFY(!log.writeKept(csv).ok());
        own = run.place();
    }
    if (readingsWhileAway > 0) {
        QVERIFY(QDir(m_dir->path()).mkdir(u"away"_s));
        log.keep(record(20));
        QVERIFY(log.writeKept(csv).ok());
    }

    QStringList expected;
    for (const QString& line : lines) {
        const bool ownJournal
            = line.contains(u"saved in the journal"_s) || line.contains(u"removed"_s);
        expected.append(
            QString(line)
                .replace(u"%1"_s, csv)
                .replace(u"%2"_s, ownJournal ? own : QDir::toNativeSeparators(folder())));
    }
    QCOMPARE(messages.lines, expected);
}

// Run 1 was killed after the log file took its readings, and the log's folder
// went away before run 2 started: once it is back, run 2 must see that they
// are there rather than write them again.
void tst_Journal::tookThemBeforeGoingAway()
{
    QVERIFY(QDir(m_dir->path()).mkdir(u"logs"_s));
    const QString csv = path(u"logs/log.csv"_s);
    QCOMPARE(putFileBytes(csv, record(0) + records(1, 3)), csv);
    leaveJournal(csv, 1, 3, record(0).size());
    if (QTest::currentTestFailed())
        return;
    QVERIFY(QDir(m_dir->path()).rename(u"logs"_s, u"away"_s));

    Journal run2(folder());
    QCOMPARE(run2.recoverEarlier().writtenCount(), 0);
    QVERIFY(run2.holdsEarlierFor(csv));
    QVERIFY(QDir(m_dir->path()).rename(u"away"_s, u"logs"_s));
    LogFile log;
    log.setJournal(&run2);
    log.keep(record(4));
    const LogFile::Written result = log.writeKept(csv);
    QVERIFY(result.ok());
    QCOMPARE(result.earlier.writtenCount(), 0);
    QCOMPARE(fileBytes(csv), record(0) + records(1, 4));
    QVERIFY(journals(folder()).isEmpty());
}

// Run 1 is killed with readings 1 and 2 kept; run 2 finds the log still
// away, keeps reading 3 and is killed too; run 3 writes all three in order.
void tst_Journal::journalsAreWrittenOldestFirst()
{
    const QString csv = path(u"away/log.csv"_s);
    leaveJournal(csv, 1, 2);
    if (QTest::currentTestFailed())
        return;
    {
        Journal run2(folder());
        QCOMPARE(run2.recoverEarlier().writtenCount(), 0);
        LogFile log;
        log.setJournal(&run2);
        log.keep(record(3));
        QVERIFY(!log.writeKept(csv).ok());
        QCOMPARE(log.unsavedCount(), 0);
    }
    QCOMPARE(journals(folder()).size(), 2);

    QVERIFY(QDir(m_dir->path()).mkdir(u"away"_s));
    Journal run3(folder());
    const Recovery report = run3.recoverEarlier();
    QCOMPARE(fileBytes(csv), records(1, 3));
    QVERIFY2(report.message().contains(u"3 reading(s) from 2026-12-07 04:59:11 to 2026-12-07 "
                                       u"04:59:13 are now written into "_s
                 + csv),
        qPrintable(report.message()));
    QVERIFY(journals(folder()).isEmpty());
}

// The operator chose another log file while readings were kept: each goes
// into the file it was meant for.
void tst_Journal::readingsGoToTheFileTheyWereMeantFor()
{
    const QString first = path(u"first/log.csv"_s);
    const QString second = path(u"second/log.csv"_s);
    {
        Journal run(folder());
        LogFile log;
        log.setJournal(&run);
        log.keep(record(1));
        QVERIFY(!log.writeKept(first).ok());
        log.keep(record(2));
        QVERIFY(!log.writeKept(second).ok());
    }
    QVERIFY(QDir(m_dir->path()).mkdir(u"first"_s));
    QVERIFY(QDir(m_dir->path()).mkdir(u"second"_s));
    Journal next(folder());
    const Recovery report = next.recoverEarlier();
    QCOMPARE(fileBytes(first), record(1));
    QCOMPARE(fileBytes(second), record(2));
    QCOMPARE(report.files.size(), size_t(2));
    QVERIFY(report.message().contains(u"into "_s + first));
    QVERIFY(report.message().contains(u"into "_s + second));
}

// A second Tarvik starting while the first keeps readings leaves its journal
// alone.
void tst_Journal::liveJournalIsLeftAlone()
{
    const QString csv = path(u"away/log.csv"_s);
    Journal live(folder());
    LogFile log;
    log.setJournal(&live);
    log.keep(record(1));
    QVERIFY(!log.writeKept(csv).ok());
    QVERIFY(QDir(m_dir->path()).mkdir(u"away"_s));

    Journal other(folder());
    QVERIFY(other.recoverEarlier().isEmpty());
    QVERIFY(!QFileInfo::exists(csv));
    QCOMPARE(journals(folder()).size(), 1);
}

void tst_Journal::unsafeJournalIsNotRead_data()
{
    QTest::addColumn<Unsafe>("unsafe");
    QTest::addColumn<bool>("needsRoot");
    QTest::addColumn<QString>("told"); // part of the message; empty: not even listed

    QTest::newRow("the journal belongs to another user")
        << Unsafe::OthersFile << true << u"it belongs to nobody, not to you"_s;
    QTest::newRow("others may write the journal")
        << Unsafe::OthersMayWrite << false << u"others may write it"_s;
    QTest::newRow("the folder belongs to another user")
        << Unsafe::OthersFolder << true << u"it belongs to nobody, not to you"_s;
    QTest::newRow("the journal is a link another user made")
        << Unsafe::OthersLink << true << u"it is a link made by nobody"_s;
    QTest::newRow("the journal is a FIFO") << Unsafe::Fifo << false << QString();
}

// A journal names files and bytes: one that someone else could have written
// is never written out, and never blocks the start.
void tst_Journal::unsafeJournalIsNotRead()
{
    QFETCH(Unsafe, unsafe);
    QFETCH(bool, needsRoot);
    QFETCH(QString, told);
    if (needsRoot && !runningAsRoot())
        QSKIP("needs root to give a file to another user");

    const QString csv = putFileBytes(path(u"log.csv"_s), record(0));
    leaveJournal(csv, 1, 1);
    if (QTest::currentTestFailed())
        return;
    const QString file = onlyJournal();
    const QByteArray name = QFile::encodeName(file);
    switch (unsafe) {
    case Unsafe::OthersFile:
        QCOMPARE(::chown(name.constData(), Nobody, Nobody), 0);
        break;
    case Unsafe::OthersMayWrite:
        QCOMPARE(::chmod(name.constData(), 0622), 0);
        break;
    case Unsafe::OthersFolder:
        QCOMPARE(::chown(QFile::encodeName(folder()).constData(), Nobody, Nobody), 0);
        break;
    case Unsafe::OthersLink: {
        const QByteArray elsewhere = QFile::encodeName(path(u"elsewhere.journal"_s));
        QCOMPARE(::rename(name.constData(), elsewhere.constData()), 0);
        QCOMPARE(::symlink(elsewhere.constData(), name.constData()), 0);
        QCOMPARE(::lchown(name.constData(), Nobody, Nobody), 0);
        break;
    }
    case Unsafe::Fifo:
        QCOMPARE(::unlink(name.constData()), 0);
        QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        break;
    }

    Journal next(folder());
    const Recovery report = next.recoverEarlier();
    QCOMPARE(fileBytes(csv), record(0));
    QCOMPARE(report.writtenCount(), 0);
    QVERIFY2(told.isEmpty() ? report.isEmpty() : report.message().contains(told),
        qPrintable(report.message()));
    QVERIFY(QFileInfo(file).exists() || QFileInfo(file).isSymLink());
}

QTEST_APPLESS_MAIN(tst_Journal)
#include "tst_journal.moc"
