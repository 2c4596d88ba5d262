// SPDX-License-Identifier: MIT
// What the journal of kept readings (core/journal.h) costs.
//
//  - While the log file works: the same readings appended and synced by a
//    LogFile with a journal attached and by one without, in alternating
//    rounds: the time a reading on each side, and whether the journal's
//    folder was ever made (it must not be: no file, no sync).
//  - A kept reading: the log file's folder away, each reading kept and, on
//    the journal's side, its record appended to the journal and synced before
//    the next; the other side keeps it in memory only, as before the journal.
//    The difference is what the journal adds to a kept reading.
//  - The program: readings sent unpaced to the real program while its log's
//    folder is away, until its journal holds them all; beside the same run
//    with the folder there, until the log file holds them all.
//
// The files go on the build tree's disk (BENCH_DIR chooses another): the
// sync is most of the cost, and it is the disk's.
//
//   bench_journal [idle|kept|program]

#include "core/journal.h"

#include "benchsupport.h"
#include "core/logfile.h"

#include <QDir>
#include <QFileInfo>
#include <QString>
#include <cstdio>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace bench;
using namespace Qt::StringLiterals;

namespace {

QByteArray record(long n)
{
    return "\"" + QByteArray::number(qlonglong(n)) + "\",\"2026-12-07\",\"04:59:19\"\r\n";
}

// A private folder for one measurement, removed at the end.
struct Scratch
{
    std::string path;
    Scratch()
    {
        std::string templ = benchBase() + "/tarvik-journal-XXXXXX";
        if (!::mkdtemp(templ.data()))
            fail("cannot make a folder in " + benchBase());
        path = templ;
    }
    ~Scratch()
    {
        if (!std::getenv("BENCH_KEEP"))
            QDir(QString::fromStdString(path)).removeRecursively();
    }
    QString file(const char* name) const { return QString::fromStdString(path + "/" + name); }
};

// Microseconds for each reading: kept, then whatever is kept written.
std::vector<double> timeReadings(LogFile& log, const QString& path, long first, long count)
{
    std::vector<double> us;
    us.reserve(size_t(count));
    for (long n = first; n < first + count; ++n) {
        const double start = now();
        log.keep(record(n));
        log.writeKept(path);
        us.push_back((now() - start) * 1e6);
    }
    return us;
}

void append(std::vector<double>& to, const std::vector<double>& from)
{
    to.insert(to.end(), from.begin(), from.end());
}

// Two sides' times over the rounds of a run.
struct TwoSides
{
    std::vector<double> first, second; // every reading's time, each side
    std::vector<double> firstMedians, secondMedians; // each round's median, each side
    long next = 1; // the number of the reading after the last timed
};

// `rounds` rounds of `perRound` readings a side. Each side goes first in every
// other round, so neither always follows the other's sync.
TwoSides timeTwoSides(LogFile& first, const QString& firstPath, LogFile& second,
    const QString& secondPath, int rounds, long perRound)
{
    TwoSides sides;
    for (int round = 0; round < rounds; ++round) {
        std::vector<double> a, b;
        if (round % 2 == 0) {
            a = timeReadings(first, firstPath, sides.next, perRound);
            b = timeReadings(second, secondPath, sides.next, perRound);
        } else {
            b = timeReadings(second, secondPath, sides.next, perRound);
            a = timeReadings(first, firstPath, sides.next, perRound);
        }
        sides.next += perRound;
        sides.firstMedians.push_back(median(a));
        sides.secondMedians.push_back(median(b));
        append(sides.first, a);
        append(sides.second, b);
    }
    return sides;
}

void whileTheLogWorks()
{
    const int rounds = quickMode() ? 3 : 7;
    const long perRound = quickMode() ? 200 : 1000;
    Scratch scratch;
    Journal journal(scratch.file("state/tarvik"));
    LogFile with;
    with.setJournal(&journal);
    LogFile without;
    const TwoSides sides = timeTwoSides(
        without, scratch.file("plain.csv"), with, scratch.file("journaled.csv"), rounds, perRound);
    std::vector<double> ratios;
    for (size_t i = 0; i < sides.firstMedians.size(); ++i)
        ratios.push_back(sides.secondMedians[i] / sides.firstMedians[i]);
    const bool made = QFileInfo::exists(scratch.file("state"));
    note("log file working: " + std::to_string(rounds) + " rounds of " + std::to_string(perRound)
        + " readings a side, each appended and synced, in " + scratch.path);
    printFigure("log_works_us_no_journal", median(sides.first), "us", "(a reading, median)", 1);
    printFigure("log_works_us_journal", median(sides.second), "us", "(a reading, median)", 1);
    printFigure("log_works_p99_us_no_journal", percentile(sides.first, 99), "us", "", 1);
    printFigure("log_works_p99_us_journal", percentile(sides.second, 99), "us", "", 1);
    printFigure("log_works_ratio", median(ratios), "x", "about 1 (median of the rounds)", 3);
    printFigure("log_works_journal_made", made ? 1 : 0, "bool", "0 (no folder, no file)", 0);
}

// The log's folder comes back: the next reading brings every kept one into
// the log file in one write, and the journal goes. Milliseconds it took.
double writeBackMs(LogFile& log, const Scratch& scratch, const QString& away,
    const QString& journalFile, long next)
{
    QDir(QString::fromStdString(scratch.path)).mkdir(u"away"_s);
    const double start = now();
    log.keep(record(next));
    const bool ok = log.writeKept(away).ok;
    const double ms = (now() - start) * 1000.0;
    if (!ok || QFileInfo::exists(journalFile))
        fail("the kept readings did not go into the log file");
    return ms;
}

void keptReadings()
{
    const int rounds = quickMode() ? 3 : 7;
    const long perRound = quickMode() ? 200 : 1000;
    Scratch scratch;
    const QString away = scratch.file("away/log.csv");
    Journal journal(scratch.file("state/tarvik"));
    LogFile with;
    with.setJournal(&journal);
    LogFile memoryOnly;
    const TwoSides sides = timeTwoSides(memoryOnly, away, with, away, rounds, perRound);
    std::vector<double> differences;
    for (size_t i = 0; i < sides.firstMedians.size(); ++i)
        differences.push_back(sides.secondMedians[i] - sides.firstMedians[i]);
    if (with.unsavedCount() != 0)
        fail("the journal did not take every kept reading: " + with.journalError().toStdString());
    const QString file = journal.place();
    const double bytes = double(QFileInfo(file).size()) / double(with.keptCount());
    const long kept = long(with.keptCount());
    const double flushMs = writeBackMs(with, scratch, away, file, sides.next);

    note("log file away: " + std::to_string(rounds) + " rounds of " + std::to_string(perRound)
        + " readings a side; the journal's side appends and syncs each reading's record");
    printFigure("kept_us_memory_only", median(sides.first), "us", "(a kept reading, median)", 1);
    printFigure("kept_us_journal", median(sides.second), "us", "(a kept reading, median)", 1);
    printFigure("kept_p99_us_memory_only", percentile(sides.first, 99), "us", "", 1);
    printFigure("kept_p99_us_journal", percentile(sides.second, 99), "us", "", 1);
    printFigure("kept_cost_us", median(differences), "us",
        "(what the journal adds to a kept reading, median of the rounds)", 1);
    printFigure("kept_journal_bytes", bytes, "bytes", "(a kept reading in the journal)", 1);
    printFigure("kept_written_back_ms", flushMs, "ms",
        "(" + std::to_string(kept + 1) + " readings into the log file, journal removed)", 1);
}

long journaledRecords(const QString& folder)
{
    long count = 0;
    for (const QString& name : QDir(folder).entryList({ u"kept-*.journal"_s }, QDir::Files))
        count += long(Journal::readRecords(folder + u'/' + name).size());
    return count;
}

// Follows the journal folder's files growing, with inotify, as LogWatch
// follows the log file.
class JournalWatch
{
public:
    explicit JournalWatch(const std::string& folder)
    {
        // Made beforehand, as the program makes it (0700), so it can be watched.
        const size_t slash = folder.rfind('/');
        ::mkdir(folder.substr(0, slash).c_str(), 0700);
        ::mkdir(folder.c_str(), 0700);
        m_fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (m_fd < 0 || ::inotify_add_watch(m_fd, folder.c_str(), IN_MODIFY | IN_MOVED_TO) < 0)
            fail("inotify on " + folder);
    }
    ~JournalWatch() { ::close(m_fd); }
    int fd() const { return m_fd; }
    // True when the journal grew since the last call.
    bool grew()
    {
        alignas(inotify_event) char buf[16384];
        bool any = false;
        while (::read(m_fd, buf, sizeof buf) > 0)
            any = true;
        return any;
    }

private:
    int m_fd = -1;
};

// Readings 1..count unpaced to the program; readings a second until the log
// file (folder there) or the journal (folder away) holds them all.
double programRun(bool away, long count)
{
    ProgramFolder folder(tarvikPath(), benchBase());
    writeSettings(folder.path());
    if (away && ::symlink("logs/Default.csv", folder.file("Default.csv").c_str()) != 0)
        fail("cannot link Default.csv");
    Pty pty;
    pty.linkAt(folder.file("com1"));
    LogWatch log(folder.path());
    log.keepTimes(false);
    JournalWatch journal(folder.file("state/tarvik"));
    OpenWatch opened(pty.device());
    Program program(folder.program(), folder.file("tarvik.out"));
    if (opened.wait(20.0) < 0)
        fail("the program did not open its port; see " + folder.file("tarvik.out"));
    const QString journals = QString::fromStdString(folder.file("state/tarvik"));

    std::string burst;
    for (long n = 1; n <= count; ++n)
        burst += readingLine(n);
    const double start = now();
    double lastGrowth = start;
    size_t sent = 0;
    for (;;) {
        sent = pty.sendSome(burst, sent);
        pollfd p[2] = { { away ? journal.fd() : log.fd(), POLLIN, 0 },
            { pty.master(), short(sent < burst.size() ? POLLOUT : 0), 0 } };
        ::poll(p, 2, 200);
        pty.drain();
        if (!away) {
            if (log.handleEvents() > 0)
                lastGrowth = log.lastRecordAt();
            if (log.records() >= count)
                break;
        } else if (journal.grew()) {
            lastGrowth = now();
        } else if (sent == burst.size() && now() - lastGrowth > 0.5
            && journaledRecords(journals) >= count) {
            break;
        }
        if (now() - lastGrowth > 30.0)
            fail(std::string("the program stopped taking readings with the log's folder ")
                + (away ? "away" : "there"));
    }
    if (!away && !log.inOrder())
        fail("records out of order: " + log.badRecord());
    return double(count) / (lastGrowth - start);
}

void programFigures()
{
    const long count = quickMode() ? 3000 : 20000;
    const int runs = 3;
    std::vector<double> there, away;
    for (int run = 0; run < runs; ++run) {
        there.push_back(programRun(false, count));
        away.push_back(programRun(true, count));
    }
    note("program: " + std::to_string(count) + " readings unpaced, " + std::to_string(runs)
        + " runs a side");
    printFigure("program_log_works", median(there), "readings/s", "(into the log file)", 0);
    printFigure(
        "program_kept", median(away), "readings/s", "(log's folder away, into the journal)", 0);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string what = argc > 1 ? argv[1] : "all";
    note("files in " + benchBase() + (quickMode() ? ", quick mode" : ""));
    if (what == "idle" || what == "all")
        whileTheLogWorks();
    if (what == "kept" || what == "all")
        keptReadings();
    if (what == "program" || what == "all") {
        if (::access(tarvikPath().c_str(), X_OK) != 0)
            fail("no program at " + tarvikPath() + " (set TARVIK)");
        programFigures();
    }
    return 0;
}
