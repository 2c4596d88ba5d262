// SPDX-License-Identifier: MIT
// The long run: 1,000,000 readings (BENCH_QUICK=1: 100,000) sent unpaced
// through a pseudo-terminal to the real program. Every record in Default.csv
// must carry the next value in order, and there must be exactly as many
// records as readings. The program's resident memory is taken every 100,000
// records; from 200,000 on the log view is full and memory must stay flat. A
// shorter run takes it every tenth of its readings and compares from the
// second mark.
//
//   soak [readings]      at least 10

#include "benchsupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <string>
#include <vector>

using namespace bench;

namespace {

// How long the run is and where the program's memory is taken.
struct Plan
{
    long count = 0; // readings
    long step = 0; // a memory mark every `step` records
    // The mark memory must stay flat from; only in a run of 1,000,000 or
    // more is the log view full by then.
    long early = 0;
};

Plan planFor(int argc, char** argv)
{
    Plan plan;
    plan.count = argc > 1 ? std::strtol(argv[1], nullptr, 10) : quickMode() ? 100000 : 1000000;
    // Fewer would make the step 0 and the marks never end.
    if (plan.count < 10)
        fail("soak [readings]: at least 10 readings");
    plan.step = plan.count >= 1000000 ? 100000 : plan.count / 10;
    // The second mark, so that it is one taken whatever the count.
    plan.early = 2 * plan.step;
    return plan;
}

// The readings 1 .. count, sent in slices so that the whole run need not sit
// in memory here.
class Feeder
{
public:
    Feeder(Pty& pty, long count)
        : m_pty(pty)
        , m_count(count)
    {
        refill();
    }

    // Writes as much of the slice as the terminal takes now; the next slice
    // once this one is out.
    void sendSome()
    {
        if (!waiting())
            return;
        m_sliceSent = m_pty.sendSome(m_slice, m_sliceSent);
        if (m_sliceSent == m_slice.size()) {
            m_sent = m_nextToQueue - 1;
            if (m_nextToQueue <= m_count)
                refill();
        }
    }
    // Bytes of the slice still wait for the terminal.
    bool waiting() const { return m_sliceSent < m_slice.size(); }
    // The readings of every slice written whole.
    long sent() const { return m_sent; }

private:
    static constexpr long SliceReadings = 10000;

    void refill()
    {
        m_slice.clear();
        m_sliceSent = 0;
        for (long i = 0; i < SliceReadings && m_nextToQueue <= m_count; ++i)
            m_slice += readingLine(m_nextToQueue++);
    }

    Pty& m_pty;
    const long m_count;
    long m_nextToQueue = 1;
    std::string m_slice;
    size_t m_sliceSent = 0;
    long m_sent = 0;
};

// The program's resident memory every `step` records, each mark noted with
// the rate since the one before.
class MemoryMarks
{
public:
    MemoryMarks(const Plan& plan, double start)
        : m_plan(plan)
        , m_start(start)
        , m_stepStart(start)
        , m_next(plan.step)
    { }

    // Takes every mark that `records` has reached.
    void take(long records, const Program& program)
    {
        while (records >= m_next && m_next <= m_plan.count) {
            const long rss = program.rssKiB();
            const double t = now();
            char text[200];
            std::snprintf(text, sizeof text,
                "%8ld records  RSS %7.1f MiB  %6.0f readings/s over the last %ld  "
                "(%.0f s in)",
                m_next, double(rss) / 1024.0, double(m_plan.step) / (t - m_stepStart), m_plan.step,
                t - m_start);
            note(text);
            m_stepStart = t;
            if (m_next == m_plan.early)
                early = rss;
            if (m_next >= m_plan.early)
                highest = std::max(highest, rss);
            if (m_next == m_plan.count)
                end = rss;
            m_next += m_plan.step;
        }
    }
    // The memory at the end when the last mark was never reached.
    void takeEnd(const Program& program)
    {
        if (end < 0)
            end = program.rssKiB();
    }

    long early = -1; // KiB at the early mark, the highest from there, at the end
    long highest = -1;
    long end = -1;

private:
    const Plan& m_plan;
    const double m_start;
    double m_stepStart;
    long m_next;
};

// Sends the readings and follows the log until all are recorded or none has
// come for 60 s; fails when the program ends.
void feed(const Plan& plan, Pty& pty, LogWatch& log, Program& program, Feeder& feeder,
    MemoryMarks& marks, double start)
{
    double lastProgress = start;
    long lastCount = 0;
    while (log.records() < plan.count) {
        feeder.sendSome();
        pollfd fds[2] = { { log.fd(), POLLIN, 0 },
            { pty.master(), short(feeder.waiting() ? POLLOUT : 0), 0 } };
        ::poll(fds, 2, 200);
        log.handleEvents();
        pty.drain();
        if (log.records() != lastCount) {
            lastCount = log.records();
            lastProgress = now();
        } else if (now() - lastProgress > 60.0) {
            note("no record for 60 s");
            break;
        }
        if (!program.running())
            fail("the program ended after " + std::to_string(log.records()) + " records");
        marks.take(log.records(), program);
    }
}

// A growth in percent from the early mark; -1 without one.
double growthPercent(long from, long to)
{
    return from > 0 ? (double(to) / double(from) - 1.0) * 100.0 : -1;
}

// The figures; true when every reading was recorded once, in order.
bool printFigures(
    const Plan& plan, const LogWatch& log, long sent, double elapsed, const MemoryMarks& marks)
{
    const bool exact = log.records() == plan.count && log.inOrder();
    if (!log.inOrder())
        note("out of order: " + log.badRecord());
    const std::string early = std::to_string(plan.early);
    const std::string count = std::to_string(plan.count);
    printFigure("soak_readings_sent", double(sent), "readings", "", 0);
    printFigure(
        "soak_records_written", double(log.records()), "records", "= readings sent, in order", 0);
    printFigure("soak_records_exact", exact ? 1 : 0, "bool", "1", 0);
    printFigure("soak_rate", double(log.records()) / elapsed, "readings/s", "(whole run)", 0);
    printFigure("soak_rss_at_" + early, double(marks.early) / 1024.0, "MiB", "", 1);
    printFigure("soak_rss_at_" + count, double(marks.end) / 1024.0, "MiB",
        "< 45 MB = 42.9 MiB (memory figure)", 1);
    printFigure(
        "soak_rss_at_" + count + "_mb", double(marks.end) * 1024.0 / 1e6, "MB", "< 45 MB", 1);
    // Shorter runs end before the log view is full, and the view is what grows.
    const std::string flat
        = plan.count >= 1000000 ? "within 5% (flat)" : "(flat only once the view is full)";
    printFigure("soak_rss_growth", growthPercent(marks.early, marks.end), "%", flat, 1);
    printFigure("soak_rss_highest_growth", growthPercent(marks.early, marks.highest), "%",
        flat + ", highest mark after " + early, 1);
    return exact;
}

} // namespace

int main(int argc, char** argv)
{
    const Plan plan = planFor(argc, argv);
    ProgramFolder folder(tarvikPath(), benchBase());
    writeSettings(folder.path());
    Pty pty;
    pty.linkAt(folder.file("com1"));
    LogWatch log(folder.path());
    log.keepTimes(false);
    OpenWatch opened(pty.device());
    Program program(folder.program(), folder.file("tarvik.out"));
    if (opened.wait(20.0) < 0)
        fail("the program did not open its port");
    note("soak: " + std::to_string(plan.count) + " readings unpaced to " + folder.path());

    Feeder feeder(pty, plan.count);
    const double start = now();
    MemoryMarks marks(plan, start);
    feed(plan, pty, log, program, feeder, marks, start);
    const double elapsed = log.lastRecordAt() - start;
    // Anything doubled would show up shortly after the last record.
    log.waitFor(plan.count + 1, 1.0);
    marks.takeEnd(program);
    program.stop();
    return printFigures(plan, log, feeder.sent(), elapsed, marks) ? 0 : 1;
}
