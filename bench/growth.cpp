// SPDX-License-Identifier: MIT
// Does a reading cost more after hours of logging? The main window and the
// run's state are built here as the program builds them, the board is a
// pseudo-terminal played by this process, and each reading is timed from its
// bytes being written to the board's side until the program has logged it,
// written its record and repainted. The log view holds 1,000 lines on one side
// and 100,000 (its limit, where every new line pushes the oldest out) on the
// other; the sides alternate round by round in the same process.
//
// The log folder is on /dev/shm by default (BENCH_GROWTH_DIR chooses another),
// so that the disk's sync time, the same on both sides and noisy, does not
// hide what the view costs.
//
// Under callgrind (--collect-atstart=no) only the timed readings are counted:
// scripts/bench.sh runs one side at a time (BENCH_GROWTH_ONLY) and divides.

#include "benchsupport.h"
#include "core/module1.h"
#include "ui/frmmain.h"

#include <QApplication>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <utility>
#include <vector>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_TOGGLE_COLLECT
#endif

using namespace Qt::StringLiterals;

namespace {

double processCpu()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// A view holding `lines` lines as the program leaves it: scrolled to the end.
void fillView(LogView* view, int lines, long firstValue)
{
    QStringList text;
    text.reserve(lines);
    for (int i = 0; i < lines; ++i)
        text.append(QString::number(firstValue + i) + u"\t12/7/2026\t4:19:14 AM"_s);
    view->clear();
    view->appendLines(text);
    QCoreApplication::processEvents();
}

struct Round
{
    double wallPerReading = 0.0; // seconds
    double cpuPerReading = 0.0;
    double p50 = 0.0;
};

Round timeReadings(bench::Pty& pty, const LogView* view, long first, long count, bool collect)
{
    std::vector<double> each;
    each.reserve(size_t(count));
    if (collect)
        CALLGRIND_TOGGLE_COLLECT;
    const double cpu0 = processCpu();
    const double wall0 = bench::now();
    for (long v = first; v < first + count; ++v) {
        const double t0 = bench::now();
        pty.sendAll(bench::readingLine(v));
        // Logged: its record written and its line in the view.
        const QString lineStart = QString::number(v) + u'\t';
        while (!view->line(view->lineCount() - 1).startsWith(lineStart))
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        // The repaint the new line asked for.
        QCoreApplication::processEvents();
        each.push_back(bench::now() - t0);
    }
    if (collect)
        CALLGRIND_TOGGLE_COLLECT;
    Round r;
    r.wallPerReading = (bench::now() - wall0) / double(count);
    r.cpuPerReading = (processCpu() - cpu0) / double(count);
    r.p50 = bench::median(each);
    return r;
}

constexpr int SmallView = 1000;
constexpr int FullView = 100000;

struct Plan
{
    int rounds = 0;
    long perRound = 0; // readings a side a round
    // For a profiler: BENCH_GROWTH_ONLY=1000 or 100000 runs one side only.
    int only = 0;
};

Plan planFromEnvironment()
{
    const bool quick = bench::quickMode();
    Plan plan;
    plan.rounds = qEnvironmentVariableIntValue("BENCH_GROWTH_ROUNDS") > 0
        ? qEnvironmentVariableIntValue("BENCH_GROWTH_ROUNDS")
        : quick ? 3
                : 7;
    plan.perRound = quick ? 300 : 1000;
    plan.only = qEnvironmentVariableIntValue("BENCH_GROWTH_ONLY");
    return plan;
}

// A figure of each round: wall time, CPU time and the median reading; a
// side's in microseconds a reading, or the ratios of the full side's to the
// small side's.
struct PerRound
{
    std::vector<double> wall;
    std::vector<double> cpu;
    std::vector<double> p50;
};

void noteRound(int round, int lines, const PerRound& side)
{
    char text[160];
    std::snprintf(text, sizeof text,
        "growth round %d, %6d lines: %.1f us a reading (CPU %.1f us, p50 %.1f us)", round + 1,
        lines, side.wall.back(), side.cpu.back(), side.p50.back());
    bench::note(text);
}

// The timed rounds, the two sides back to back in each; `value` is the next
// reading's and moves on.
std::pair<PerRound, PerRound> runRounds(
    bench::Pty& pty, LogView* view, const Plan& plan, long& value)
{
    PerRound small, full;
    for (int round = 0; round < plan.rounds; ++round) {
        for (const int lines : { SmallView, FullView }) {
            if (plan.only && lines != plan.only)
                continue;
            fillView(view, lines, value);
            const Round r = timeReadings(pty, view, value, plan.perRound, plan.only != 0);
            value += plan.perRound;
            PerRound& side = lines == SmallView ? small : full;
            side.wall.push_back(r.wallPerReading * 1e6);
            side.cpu.push_back(r.cpuPerReading * 1e6);
            side.p50.push_back(r.p50 * 1e6);
            noteRound(round, lines, side);
        }
    }
    return { small, full };
}

void printGrowth(const PerRound& small, const PerRound& full)
{
    // Each round's two sides run back to back, so their ratio is the least
    // touched by other work on the machine coming and going.
    PerRound paired;
    for (size_t i = 0; i < small.wall.size() && i < full.wall.size(); ++i) {
        paired.wall.push_back(full.wall[i] / small.wall[i]);
        paired.cpu.push_back(full.cpu[i] / small.cpu[i]);
        paired.p50.push_back(full.p50[i] / small.p50[i]);
    }
    bench::printFigure("growth_cost_1000_lines", bench::median(small.wall), "us/reading",
        "(wall, median of rounds)");
    bench::printFigure("growth_cost_100000_lines", bench::median(full.wall), "us/reading",
        "(wall, median of rounds)");
    bench::printFigure("growth_cpu_1000_lines", bench::median(small.cpu), "us/reading", "(CPU)");
    bench::printFigure("growth_cpu_100000_lines", bench::median(full.cpu), "us/reading", "(CPU)");
    bench::printFigure("growth_ratio", bench::median(paired.wall), "x",
        "< 1.10 (median of the rounds' ratios)", 2);
    if (!paired.wall.empty()) {
        const auto [low, high] = std::minmax_element(paired.wall.begin(), paired.wall.end());
        bench::printFigure("growth_ratio_min", *low, "x", "(lowest round)", 2);
        bench::printFigure("growth_ratio_max", *high, "x", "(highest round)", 2);
    }
    bench::printFigure("growth_ratio_cpu", bench::median(paired.cpu), "x", "(CPU time)", 2);
    // A round's mean takes every stall other work caused; its median reading
    // does not.
    bench::printFigure("growth_ratio_p50", bench::median(paired.p50), "x",
        "(median reading of each round, median of the rounds' ratios)", 2);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    const QString base = qEnvironmentVariableIsEmpty("BENCH_GROWTH_DIR")
        ? u"/dev/shm"_s
        : qEnvironmentVariable("BENCH_GROWTH_DIR");
    QTemporaryDir dir(base + u"/tarvik-growth-XXXXXX"_s);
    if (!dir.isValid())
        bench::fail("cannot make a folder in " + base.toStdString());
    const std::string folder = dir.path().toStdString();
    bench::writeSettings(folder);
    bench::Pty pty;
    pty.linkAt(folder + "/com1");

    // Kept readings, should there be any, in a journal of its own.
    qputenv("XDG_STATE_HOME", QFile::encodeName(dir.filePath(u"state"_s)));
    Module1 module(dir.path(), QLocale(QLocale::English, QLocale::UnitedStates));
    frmMain window(module);
    if (!window.Form_Load())
        bench::fail("the main window could not open the board's port");
    window.show();
    QCoreApplication::processEvents();

    const Plan plan = planFromEnvironment();
    // A first round to settle caches and the file.
    fillView(window.logView(), SmallView, 1);
    long value = 1;
    timeReadings(pty, window.logView(), value, plan.perRound, false);
    value += plan.perRound;

    const auto [small, full] = runRounds(pty, window.logView(), plan, value);
    bench::note("growth: " + std::to_string(plan.rounds) + " rounds of "
        + std::to_string(plan.perRound) + " readings each side, log on " + base.toStdString());
    bench::printFigure(
        "growth_readings_per_side", double(plan.rounds * plan.perRound), "readings", "", 0);
    printGrowth(small, full);
    return 0;
}
