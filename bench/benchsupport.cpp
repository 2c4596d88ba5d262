// SPDX-License-Identifier: MIT
#include "benchsupport.h"

#include "tools/pseudoterminal/pseudoterminal.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bench {

namespace {

std::string systemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

timespec toTimespec(double seconds)
{
    seconds = std::max(seconds, 0.0);
    timespec ts {};
    ts.tv_sec = time_t(seconds);
    ts.tv_nsec = long((seconds - double(ts.tv_sec)) * 1e9);
    return ts;
}

std::string exeFolder()
{
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return ".";
    std::string path(buf, size_t(n));
    return path.substr(0, path.rfind('/'));
}

} // namespace

double now()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void sleepUntil(double deadline)
{
    const timespec ts = toTimespec(deadline);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) { }
}

bool quickMode()
{
    const char* q = std::getenv("BENCH_QUICK");
    return q && *q && std::strcmp(q, "0") != 0;
}

double median(std::vector<double> values)
{
    return percentile(std::move(values), 50.0);
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return std::nan("");
    std::sort(values.begin(), values.end());
    // Nearest rank: the smallest value with at least p% of the values at or
    // below it.
    const double rank = std::ceil(p / 100.0 * double(values.size()));
    const size_t index = size_t(std::clamp(rank, 1.0, double(values.size()))) - 1;
    return values[index];
}

void printFigure(const std::string& name, double value, const std::string& unit,
    const std::string& goal, int decimals)
{
    std::printf("%-28s %12.*f %-10s  goal: %s\n", name.c_str(), decimals, value, unit.c_str(),
        goal.c_str());
    std::fflush(stdout);
}

void note(const std::string& text)
{
    std::fprintf(stderr, "# %s\n", text.c_str());
}

void fail(const std::string& text)
{
    std::fprintf(stderr, "bench: %s\n", text.c_str());
    std::exit(1);
}

std::string readingLine(long n)
{
    return "<KS" + std::to_string(n) + ".000*\r\n";
}

// ------------------------------------------------------------------ Pty

Pty::Pty()
{
    std::string failure;
    const PseudoTerminal terminal = openPseudoTerminal(&failure);
    if (terminal.master < 0)
        fail(systemError(failure));
    m_master = terminal.master;
    m_slaveKeep = terminal.device;
    m_device = terminal.devicePath;
}

Pty::~Pty()
{
    if (m_slaveKeep >= 0)
        ::close(m_slaveKeep);
    if (m_master >= 0)
        ::close(m_master);
}

void Pty::linkAt(const std::string& path)
{
    ::unlink(path.c_str());
    if (::symlink(m_device.c_str(), path.c_str()) != 0)
        fail(systemError("symlink " + path));
}

size_t Pty::sendSome(const std::string& bytes, size_t offset)
{
    while (offset < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.data() + offset, bytes.size() - offset);
        if (n > 0) {
            offset += size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno != EAGAIN) {
            fail(systemError("write to the terminal"));
        } else {
            break;
        }
    }
    return offset;
}

void Pty::sendAll(const std::string& bytes)
{
    size_t done = 0;
    const double deadline = now() + 30.0;
    while ((done = sendSome(bytes, done)) < bytes.size()) {
        if (now() > deadline)
            fail("the program stopped reading the terminal");
        pollfd p { m_master, POLLOUT, 0 };
        ::poll(&p, 1, 100);
        drain();
    }
}

void Pty::drain()
{
    char buf[4096];
    while (::read(m_master, buf, sizeof buf) > 0) { }
}

// -------------------------------------------------------- ProgramFolder

ProgramFolder::ProgramFolder(const std::string& programPath, const std::string& base)
{
    std::string templ = base + "/tarvik-bench-XXXXXX";
    if (!::mkdtemp(templ.data()))
        fail(systemError("mkdtemp in " + base));
    m_path = templ;
    std::ifstream in(programPath, std::ios::binary);
    std::ofstream out(program(), std::ios::binary);
    out << in.rdbuf();
    out.close();
    if (!in || !out)
        fail("cannot copy " + programPath + " to " + m_path);
    ::chmod(program().c_str(), 0755);
}

ProgramFolder::~ProgramFolder()
{
    if (std::getenv("BENCH_KEEP"))
        return;
    const std::string command = "rm -rf '" + m_path + "'";
    [[maybe_unused]] const int status = std::system(command.c_str());
}

std::string benchBase()
{
    if (const char* dir = std::getenv("BENCH_DIR"); dir && *dir)
        return dir;
    return exeFolder();
}

std::string tarvikPath()
{
    if (const char* path = std::getenv("TARVIK"); path && *path)
        return path;
#ifdef TARVIK_EXE
    return TARVIK_EXE;
#else
    return exeFolder() + "/../app/tarvik";
#endif
}

void writeSettings(const std::string& folder, int comPort)
{
    std::ofstream out(folder + "/Settings.ini", std::ios::binary);
    out << "[System]\r\nComPort=" << comPort << "\r\n";
    if (!out)
        fail("cannot write Settings.ini in " + folder);
}

// -------------------------------------------------------------- Program

Program::Program(const std::string& path, const std::string& logPath)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.starts_with("QT_QPA_PLATFORM=") || entry.starts_with("LC_ALL=")
            || entry.starts_with("LANG=") || entry.starts_with("LANGUAGE=")
            || entry.starts_with("XDG_STATE_HOME="))
            continue;
        env.push_back(entry);
    }
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("LC_ALL=C.UTF-8");
    // Its journal of kept readings in its own folder, never the user's.
    env.push_back("XDG_STATE_HOME=" + path.substr(0, path.rfind('/')) + "/state");
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = path;
    char* argv[] = { program.data(), nullptr };

    m_startedAt = now();
    m_pid = ::fork();
    if (m_pid < 0)
        fail(systemError("fork"));
    if (m_pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = ::open("/dev/null", O_RDONLY);
        if (log >= 0) {
            ::dup2(log, STDOUT_FILENO);
            ::dup2(log, STDERR_FILENO);
        }
        if (null >= 0)
            ::dup2(null, STDIN_FILENO);
        ::execve(argv[0], argv, envp.data());
        ::_exit(127);
    }
}

Program::Program(pid_t child)
    : m_pid(child)
    , m_startedAt(now())
{ }

Program::~Program()
{
    stop();
}

bool Program::running()
{
    if (m_pid <= 0)
        return false;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return false;
    }
    return true;
}

void Program::stop()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    const double deadline = now() + 5.0;
    int status = 0;
    while (::waitpid(m_pid, &status, WNOHANG) == 0) {
        if (now() > deadline) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
            break;
        }
        ::usleep(10000);
    }
    m_pid = -1;
}

long Program::rssKiB() const
{
    std::ifstream in("/proc/" + std::to_string(m_pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with("VmRSS:"))
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

double Program::cpuSeconds() const
{
    std::ifstream in("/proc/" + std::to_string(m_pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Fields after the command name, which may hold spaces: state is field 3,
    // utime 14 and stime 15.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return -1.0;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

// ------------------------------------------------------------ OpenWatch

OpenWatch::OpenWatch(const std::string& device)
{
    m_fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (m_fd < 0 || ::inotify_add_watch(m_fd, device.c_str(), IN_OPEN) < 0)
        fail(systemError("inotify on " + device));
}

OpenWatch::~OpenWatch()
{
    ::close(m_fd);
}

double OpenWatch::wait(double timeoutSeconds)
{
    const double deadline = now() + timeoutSeconds;
    alignas(inotify_event) char buf[4096];
    for (;;) {
        if (::read(m_fd, buf, sizeof buf) > 0)
            return now();
        const double left = deadline - now();
        if (left <= 0)
            return -1.0;
        pollfd p { m_fd, POLLIN, 0 };
        const timespec ts = toTimespec(left);
        ::ppoll(&p, 1, &ts, nullptr);
    }
}

// ------------------------------------------------------------- LogWatch

LogWatch::LogWatch(const std::string& folder, const std::string& fileName)
    : m_path(folder + "/" + fileName)
    , m_name(fileName)
{
    m_inotify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (m_inotify < 0
        || ::inotify_add_watch(m_inotify, folder.c_str(), IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE)
            < 0)
        fail(systemError("inotify on " + folder));
}

LogWatch::~LogWatch()
{
    ::close(m_inotify);
    if (m_file >= 0)
        ::close(m_file);
}

long LogWatch::handleEvents()
{
    const long before = m_count;
    alignas(inotify_event) char buf[16384];
    for (;;) {
        const ssize_t n = ::read(m_inotify, buf, sizeof buf);
        if (n <= 0)
            break;
        const double at = now();
        for (ssize_t offset = 0; offset < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buf + offset);
            offset += ssize_t(sizeof(inotify_event) + event->len);
            if (event->len == 0 || m_name != event->name)
                continue;
            readNew(at);
            if (event->mask & IN_CLOSE_WRITE) {
                // The program syncs before it closes: whatever it had written
                // by now is on the disk.
                if (m_keepTimes) {
                    for (long i = m_durableCount; i < m_count; ++i)
                        m_durable[size_t(i)] = at;
                }
                m_durableCount = m_count;
            }
        }
    }
    return m_count - before;
}

bool LogWatch::waitFor(long count, double timeoutSeconds)
{
    const double deadline = now() + timeoutSeconds;
    while (m_count < count) {
        const double left = deadline - now();
        if (left <= 0)
            return false;
        pollfd p { m_inotify, POLLIN, 0 };
        const timespec ts = toTimespec(std::min(left, 1.0));
        ::ppoll(&p, 1, &ts, nullptr);
        handleEvents();
    }
    return true;
}

void LogWatch::readNew(double at)
{
    if (m_file < 0) {
        m_file = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
        if (m_file < 0)
            return;
    }
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(m_file, buf, sizeof buf);
        if (n <= 0)
            break;
        m_partial.append(buf, size_t(n));
    }
    size_t start = 0;
    for (;;) {
        const size_t end = m_partial.find("\r\n", start);
        if (end == std::string::npos)
            break;
        const std::string_view record(m_partial.data() + start, end - start);
        start = end + 2;
        // "value","date","time"
        const size_t close = record.size() > 1 ? record.find('"', 1) : std::string_view::npos;
        const std::string expected = std::to_string(m_next);
        if (m_badRecord.empty()
            && (record.empty() || record[0] != '"' || close == std::string_view::npos
                || record.substr(1, close - 1) != expected)) {
            m_badRecord = "record " + std::to_string(m_count + 1) + " is '" + std::string(record)
                + "', expected the value " + expected;
        }
        ++m_next;
        ++m_count;
        m_lastAt = at;
        if (m_keepTimes) {
            m_visible.push_back(at);
            m_durable.push_back(-1.0);
        }
    }
    m_partial.erase(0, start);
}

} // namespace bench
