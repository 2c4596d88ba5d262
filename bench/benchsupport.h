// SPDX-License-Identifier: MIT
#pragma once

// What the benchmarks share: a pseudo-terminal played as the board, a private
// program folder holding a copy of `tarvik`, the program started in it, the
// log file watched record by record as it grows, and figures printed as
// "name value unit  goal: ...".
//
// Plain C++ and POSIX: the measuring side must cost as little as it can on a
// two-core machine and must not share a Qt event loop with what it measures.

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

double now(); // CLOCK_MONOTONIC seconds

// Sleeps until the monotonic clock reads `deadline`.
void sleepUntil(double deadline);

bool quickMode(); // BENCH_QUICK set, and not to 0

double median(std::vector<double> values);
double percentile(std::vector<double> values, double p); // p in [0, 100]

// One figure per line, "name value unit", the goal beside it.
void printFigure(const std::string& name, double value, const std::string& unit,
    const std::string& goal, int decimals = 1);
void note(const std::string& text); // "# text" on stderr

[[noreturn]] void fail(const std::string& text);

// "<KS<n>.000*" CR LF: the reading carrying n.000.
std::string readingLine(long n);

class Pty
{
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    int master() const { return m_master; }
    const std::string& device() const { return m_device; }
    void linkAt(const std::string& path);

    // Writes all of `bytes`, waiting while the terminal's buffer is full.
    void sendAll(const std::string& bytes);
    // Writes as much of `bytes` from `offset` as fits now; returns the new
    // offset.
    size_t sendSome(const std::string& bytes, size_t offset);
    // Reads and throws away whatever the program wrote (poll requests).
    void drain();

private:
    int m_master = -1;
    int m_slaveKeep = -1;
    std::string m_device;
};

// A temporary folder holding a copy of the program (its folder is where it
// finds Settings.ini, its com1 link and Default.csv), removed at the end
// unless BENCH_KEEP is set.
class ProgramFolder
{
public:
    // `base`: the folder to make it in (a disk, or /dev/shm).
    ProgramFolder(const std::string& programPath, const std::string& base);
    ~ProgramFolder();
    ProgramFolder(const ProgramFolder&) = delete;
    ProgramFolder& operator=(const ProgramFolder&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }
    std::string program() const { return file("tarvik"); }

private:
    std::string m_path;
};

// Where the benchmark's program folders go: $BENCH_DIR, else the build tree's
// own disk (next to the benchmark executable).
std::string benchBase();
std::string tarvikPath(); // $TARVIK, else the path built in

class Program
{
public:
    // Starts `path` offscreen in the C locale; its output goes to `logPath`.
    Program(const std::string& path, const std::string& logPath);
    // A child already started (its stand-in for the program).
    explicit Program(pid_t child);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    pid_t pid() const { return m_pid; }
    double startedAt() const { return m_startedAt; }
    bool running();
    void stop();

    long rssKiB() const; // VmRSS
    double cpuSeconds() const; // utime + stime

private:
    pid_t m_pid = -1;
    double m_startedAt = 0.0;
};

// Waits, with inotify, for the program to open the terminal's device.
class OpenWatch
{
public:
    explicit OpenWatch(const std::string& device);
    ~OpenWatch();
    // Returns the time of the first open seen, or a negative value on timeout.
    double wait(double timeoutSeconds);

private:
    int m_fd = -1;
};

// Follows Default.csv as the program appends to it: every complete record is
// checked to carry the next expected value, in order, and stamped with the
// time it was seen. Records become visible when written; they are durable
// once the program has closed the file (it syncs before closing).
class LogWatch
{
public:
    LogWatch(const std::string& folder, const std::string& fileName = "Default.csv");
    ~LogWatch();
    LogWatch(const LogWatch&) = delete;
    LogWatch& operator=(const LogWatch&) = delete;

    int fd() const { return m_inotify; } // poll it for POLLIN
    // Handles pending events; returns the number of new records.
    long handleEvents();
    // Handles events until `count` records are seen or the time runs out.
    bool waitFor(long count, double timeoutSeconds);

    long records() const { return m_count; }
    long expectedNext() const { return m_next; }
    void expectFrom(long first) { m_next = first; }
    bool inOrder() const { return m_badRecord.empty(); }
    const std::string& badRecord() const { return m_badRecord; }
    double visibleAt(long index) const { return m_visible[size_t(index)]; }
    double durableAt(long index) const { return m_durable[size_t(index)]; }
    // Only the count is kept from here on (long runs).
    void keepTimes(bool on) { m_keepTimes = on; }
    double lastRecordAt() const { return m_lastAt; }

private:
    void readNew(double at);

    std::string m_path;
    std::string m_name;
    int m_inotify = -1;
    int m_file = -1;
    std::string m_partial;
    long m_next = 1;
    long m_count = 0;
    long m_durableCount = 0;
    double m_lastAt = 0.0;
    bool m_keepTimes = true;
    std::vector<double> m_visible;
    std::vector<double> m_durable;
    std::string m_badRecord;
};

void writeSettings(const std::string& folder, int comPort = 1);

} // namespace bench
