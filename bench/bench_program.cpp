// SPDX-License-Identifier: MIT
// Benchmarks of the real program: a copy of `tarvik` is started offscreen in a
// private folder with its com1 link on a pseudo-terminal that this process
// plays as the board, and Default.csv is followed record by record.
//
//   bench_program startup | throughput | latency | idle | all
//
// BENCH_QUICK=1 makes every run short; BENCH_DIR chooses where the program
// folders go (default: the build tree, a real disk).

#include "benchsupport.h"

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

using namespace bench;

namespace {

// 9600 baud, 8N1: a start bit, eight data bits and a stop bit per character.
constexpr double CharSeconds = 10.0 / 9600.0;

// The least any logger must do per reading: wake on the terminal, find the
// CR, then open, append, sync and close the file. No Qt, no view.
[[noreturn]] void floorLogger(const std::string& port, const std::string& logPath)
{
    const int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        ::_exit(1);
    std::string pending;
    char buf[4096];
    for (;;) {
        pollfd p { fd, POLLIN, 0 };
        ::poll(&p, 1, -1);
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            ::_exit(0);
        pending.append(buf, size_t(n));
        size_t cr;
        std::string records;
        while ((cr = pending.find('\r')) != std::string::npos) {
            // "<KS<n>.000*"
            std::string line = pending.substr(0, cr);
            pending.erase(0, cr + 1);
            std::erase(line, '\n');
            const size_t dot = line.find('.');
            if (line.starts_with("<KS") && dot != std::string::npos) {
                records += '"';
                records.append(line, 3, dot - 3);
                records += "\",\"12/7/2026\",\"4:19:14 AM\"\r\n";
            }
        }
        if (records.empty())
            continue;
        const int out = ::open(logPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        [[maybe_unused]] const ssize_t w = ::write(out, records.data(), records.size());
        ::fsync(out);
        ::close(out);
    }
}

// One program in its own folder with its own board, started and ready: it has
// opened the terminal and recorded reading 1.
struct Session
{
    ProgramFolder folder { tarvikPath(), benchBase() };
    Pty pty;
    std::unique_ptr<LogWatch> log;
    std::unique_ptr<Program> program;
    pid_t floorPid = -1;
    double openedAfter = 0.0; // start to the terminal opened, seconds
    double readyAfter = 0.0; // start to reading 1 in the file

    // `floor`: instead of the program, the least a logger can do (see
    // floorLogger), to show what this machine's scheduler and disk allow.
    explicit Session(bool floor = false)
    {
        writeSettings(folder.path());
        pty.linkAt(folder.file("com1"));
        log = std::make_unique<LogWatch>(folder.path());
        OpenWatch opened(pty.device());
        if (floor) {
            floorPid = ::fork();
            if (floorPid == 0) {
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                floorLogger(folder.file("com1"), folder.file("Default.csv"));
            }
            program = std::make_unique<Program>(floorPid);
        } else {
            program = std::make_unique<Program>(folder.program(), folder.file("tarvik.out"));
        }
        const double openedAt = opened.wait(20.0);
        if (openedAt < 0)
            fail("the program did not open its port; see " + folder.file("tarvik.out"));
        pty.sendAll(readingLine(1));
        if (!log->waitFor(1, 20.0))
            fail("reading 1 never reached " + folder.file("Default.csv"));
        openedAfter = openedAt - program->startedAt();
        readyAfter = log->lastRecordAt() - program->startedAt();
    }
};

void startup()
{
    const int runs = quickMode() ? 3 : 9;
    {
        Session warmUp; // font caches and the like, as after any first start
    }
    std::vector<double> opened, ready;
    for (int i = 0; i < runs; ++i) {
        Session s;
        opened.push_back(s.openedAfter * 1000.0);
        ready.push_back(s.readyAfter * 1000.0);
    }
    note("start-up: " + std::to_string(runs)
        + " runs after one warm-up; the window is shown "
          "before the event loop runs, so the first reading in the file bounds it from above");
    printFigure("startup_port_open", median(opened), "ms", "(part of start-up)");
    printFigure("startup_to_first_record", median(ready), "ms", "< 300 ms to main window shown");
}

struct ThroughputResult
{
    double perSecond = 0.0;
    bool exact = false;
    std::string problem;
    long rssKiB = 0;
};

// Sends readings 2 .. count+1 unpaced and waits for all of them in the file.
ThroughputResult throughputRun(long count)
{
    Session s;
    s.log->keepTimes(false);
    std::string burst;
    burst.reserve(size_t(count) * 16);
    for (long n = 2; n <= count + 1; ++n)
        burst += readingLine(n);

    const double start = now();
    size_t sent = 0;
    double lastProgress = start;
    long seen = s.log->records();
    while (s.log->records() < count + 1) {
        sent = s.pty.sendSome(burst, sent);
        pollfd fds[2] = { { s.log->fd(), POLLIN, 0 },
            { s.pty.master(), short(sent < burst.size() ? POLLOUT : 0), 0 } };
        ::poll(fds, 2, 200);
        s.log->handleEvents();
        s.pty.drain();
        if (s.log->records() != seen) {
            seen = s.log->records();
            lastProgress = now();
        } else if (now() - lastProgress > 30.0) {
            break;
        }
    }
    ThroughputResult r;
    const double elapsed = s.log->lastRecordAt() - start;
    r.perSecond = double(s.log->records() - 1) / elapsed;
    // Anything doubled would show up shortly after the last record.
    s.log->waitFor(count + 2, 0.5);
    r.exact = s.log->records() == count + 1 && s.log->inOrder();
    if (!s.log->inOrder())
        r.problem = s.log->badRecord();
    else if (s.log->records() != count + 1)
        r.problem = std::to_string(s.log->records() - 1) + " records for " + std::to_string(count)
            + " readings";
    r.rssKiB = s.program->rssKiB();
    return r;
}

void throughput()
{
    const long count = quickMode() ? 3000 : 20000;
    const int runs = 3;
    std::vector<double> rates;
    bool exact = true;
    for (int i = 0; i < runs; ++i) {
        const ThroughputResult r = throughputRun(count);
        rates.push_back(r.perSecond);
        note("throughput run " + std::to_string(i + 1) + ": " + std::to_string(long(r.perSecond))
            + " readings/s, RSS " + std::to_string(r.rssKiB / 1024) + " MiB"
            + (r.exact ? ", every reading recorded once, in order" : ", " + r.problem));
        exact = exact && r.exact;
    }
    printFigure("throughput", median(rates), "readings/s", ">= 2000 readings/s, all recorded", 0);
    printFigure("throughput_records_exact", exact ? 1 : 0, "bool", "1 (count and order)", 0);
}

// One board playing readings at the line's pace to one logger.
struct Lane
{
    Session session;
    double due = 0.0; // the next reading's first character
    long next = 2;
    bool bodySent = false;
    std::vector<double> crAt;

    Lane(bool floor, long count)
        : session(floor)
        , crAt(size_t(count) + 2, 0.0)
    { }
};

struct LaneFigures
{
    double p50 = 0.0, p99 = 0.0, max = 0.0, synced50 = 0.0, synced99 = 0.0;
};

LaneFigures laneFigures(const Lane& lane, long count)
{
    std::vector<double> visible, durable;
    const LogWatch& log = *lane.session.log;
    for (long n = 2; n <= count + 1; ++n) {
        visible.push_back((log.visibleAt(n - 1) - lane.crAt[size_t(n)]) * 1000.0);
        if (log.durableAt(n - 1) > 0)
            durable.push_back((log.durableAt(n - 1) - lane.crAt[size_t(n)]) * 1000.0);
    }
    return { percentile(visible, 50), percentile(visible, 99), percentile(visible, 100),
        percentile(durable, 50), percentile(durable, 99) };
}

// Sends the lane's next reading as the line would: its characters before the
// CR once they are due, then CR LF at the CR's time. True when it finished a
// reading; otherwise `wake` is lowered to when the lane next has something to
// send.
bool playLane(Lane& lane, long count, double& wake)
{
    if (lane.next > count + 1)
        return false;
    // Each reading takes its characters' time on the line; its CR is its
    // second to last character.
    const std::string line = readingLine(lane.next);
    const double crDue = lane.due + double(line.size() - 2) * CharSeconds;
    if (!lane.bodySent && now() >= lane.due) {
        lane.session.pty.sendAll(line.substr(0, line.size() - 2));
        lane.bodySent = true;
    }
    if (lane.bodySent && now() >= crDue) {
        lane.crAt[size_t(lane.next)] = now();
        lane.session.pty.sendAll("\r\n");
        lane.due += double(line.size()) * CharSeconds;
        ++lane.next;
        lane.bodySent = false;
        return true;
    }
    wake = std::min(wake, lane.bodySent ? crDue : lane.due);
    return false;
}

using Lanes = std::array<Lane*, 2>; // the program's, then the floor's

// Waits for either log to grow until `wake` (5 s at the most), then takes in
// both; fails when a lane has sent everything and its records stopped coming.
void followLogs(const Lanes& lanes, long count, double wake)
{
    const double timeout = std::min(wake - now(), 5.0);
    if (timeout > 0) {
        pollfd p[2] = { { lanes[0]->session.log->fd(), POLLIN, 0 },
            { lanes[1]->session.log->fd(), POLLIN, 0 } };
        timespec ts { time_t(timeout), long((timeout - double(time_t(timeout))) * 1e9) };
        ::ppoll(p, 2, &ts, nullptr);
    }
    for (Lane* lane : lanes) {
        LogWatch& log = *lane->session.log;
        if (log.handleEvents() == 0 && lane->next > count + 1 && log.records() < count + 1
            && now() - log.lastRecordAt() > 10.0)
            fail("readings went missing in the latency run");
    }
}

// Plays readings 2 .. count+1 on both lanes until both logs hold them all.
void playLanes(const Lanes& lanes, long count)
{
    const auto pending = [&] {
        for (const Lane* lane : lanes) {
            if (lane->next <= count + 1 || lane->session.log->records() < count + 1)
                return true;
        }
        return false;
    };
    while (pending()) {
        double wake = 1e18;
        bool sent = false;
        for (Lane* lane : lanes)
            sent = playLane(*lane, count, wake) || sent;
        if (!sent)
            followLogs(lanes, count, wake);
    }
}

// The last records' close, after their sync; fails on a record out of order.
void waitForLastClose(const Lanes& lanes, long count)
{
    const double until = now() + 2.0;
    for (Lane* lane : lanes) {
        LogWatch& log = *lane->session.log;
        while (log.durableAt(count) < 0 && now() < until) {
            pollfd p { log.fd(), POLLIN, 0 };
            ::poll(&p, 1, 50);
            log.handleEvents();
        }
        if (!log.inOrder())
            fail("latency run: " + log.badRecord());
    }
}

struct LatencyRun
{
    LaneFigures program;
    LaneFigures floor;
};

// The program and the least a logger can do (floorLogger) side by side in the
// same run, each with its own board and folder on the same disk: what the
// disk and the scheduler do to one, they do to the other. The floor's board
// runs half a reading behind, so that the two syncs seldom meet.
LatencyRun latencyRun(long count)
{
    Lane floorLane(true, count);
    Lane programLane(false, count);
    // A reading such as "<KS1234.000*" CR LF is 14 characters on the line.
    const double start = now() + 0.2;
    programLane.due = start;
    floorLane.due = start + 7 * CharSeconds;
    const Lanes lanes { &programLane, &floorLane };
    playLanes(lanes, count);
    waitForLastClose(lanes, count);
    return { laneFigures(programLane, count), laneFigures(floorLane, count) };
}

void noteLatencyRun(int run, const LatencyRun& figures)
{
    const LaneFigures& program = figures.program;
    const LaneFigures& floor = figures.floor;
    char text[300];
    std::snprintf(text, sizeof text,
        "latency run %d: in file p50 %.3f p99 %.3f max %.3f ms (floor p50 %.3f p99 %.3f max "
        "%.3f ms); synced and closed p50 %.3f p99 %.3f ms (floor p99 %.3f ms)",
        run + 1, program.p50, program.p99, program.max, floor.p50, floor.p99, floor.max,
        program.synced50, program.synced99, floor.synced99);
    note(text);
}

void latency()
{
    const long count = quickMode() ? 300 : 2000;
    const int runs = 3;
    std::vector<double> p50s, p99s, synced50s, synced99s, floor50s, floor99s, floorSynced99s,
        over99s;
    for (int run = 0; run < runs; ++run) {
        const LatencyRun figures = latencyRun(count);
        const LaneFigures& program = figures.program;
        const LaneFigures& floor = figures.floor;
        p50s.push_back(program.p50);
        p99s.push_back(program.p99);
        synced50s.push_back(program.synced50);
        synced99s.push_back(program.synced99);
        floor50s.push_back(floor.p50);
        floor99s.push_back(floor.p99);
        floorSynced99s.push_back(floor.synced99);
        over99s.push_back(program.p99 - floor.p99);
        noteLatencyRun(run, figures);
    }
    note("latency: " + std::to_string(count) + " readings at the line's pace (about "
        + std::to_string(long(1.0 / (14 * CharSeconds))) + " a second) to the program and to the "
        + "floor side by side, median of " + std::to_string(runs) + " runs");
    printFigure("floor_latency_p50", median(floor50s), "ms", "(bare append and fsync, no Qt)", 3);
    printFigure("floor_latency_p99", median(floor99s), "ms", "(bare append and fsync, no Qt)", 3);
    printFigure("floor_latency_synced_p99", median(floorSynced99s), "ms", "(floor)", 3);
    printFigure("latency_p50", median(p50s), "ms", "(CR written -> record in the file)", 3);
    printFigure("latency_p99", median(p99s), "ms", "< 5 ms", 3);
    printFigure("latency_p99_over_floor", median(over99s), "ms",
        "< 2 ms (program p99 - floor p99, same run)", 3);
    printFigure("latency_p99_over_floor_max", *std::max_element(over99s.begin(), over99s.end()),
        "ms", "(worst run)", 3);
    printFigure("latency_synced_p50", median(synced50s), "ms", "(-> file synced and closed)", 3);
    printFigure("latency_synced_p99", median(synced99s), "ms", "(-> file synced and closed)", 3);
}

void idle()
{
    const double seconds = quickMode() ? 10.0 : 60.0;
    const int programs = 3;
    // Three programs idle side by side: three runs in one minute.
    std::vector<std::unique_ptr<Session>> sessions;
    for (int i = 0; i < programs; ++i)
        sessions.push_back(std::make_unique<Session>());
    sleepUntil(now() + 2.0);
    std::vector<double> before;
    for (auto& s : sessions)
        before.push_back(s->program->cpuSeconds());
    const double start = now();
    sleepUntil(start + seconds);
    const double elapsed = now() - start;
    std::vector<double> percents;
    for (size_t i = 0; i < sessions.size(); ++i) {
        const double used = sessions[i]->program->cpuSeconds() - before[i];
        percents.push_back(used / elapsed * 100.0);
        char text[120];
        std::snprintf(
            text, sizeof text, "idle program %zu: %.2f s of CPU in %.0f s", i + 1, used, elapsed);
        note(text);
    }
    printFigure(
        "idle_cpu", median(percents), "% of a core", "< 1% (board silent, setup hidden)", 2);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string what = argc > 1 ? argv[1] : "all";
    if (::access(tarvikPath().c_str(), X_OK) != 0)
        fail("no program at " + tarvikPath() + " (set TARVIK)");
    note("program " + tarvikPath() + ", folders in " + benchBase()
        + (quickMode() ? ", quick mode" : ""));
    if (what == "startup" || what == "all")
        startup();
    if (what == "throughput" || what == "all")
        throughput();
    if (what == "latency" || what == "all")
        latency();
    if (what == "idle" || what == "all")
        idle();
    return 0;
}
