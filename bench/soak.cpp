// SPDX-License-Identifier: MIT
// The long run: 1,000,000 readings (BENCH_QUICK=1: 100,000) sent unpaced
// through a pseudo-terminal to the real program. Every record in Default.csv
// must carry the next value in order, and there must be exactly as many
// records as readings. The program's resident memory is taken every 100,000
// records; from 200,000 on the log view is full and memory must stay flat.
//
//   soak [readings]

#include "benchsupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <string>
#include <vector>

using namespace bench;

int main(int argc, char** argv)
{
    const long count = argc > 1 ? std::strtol(argv[1], nullptr, 10)
        : quickMode()           ? 100000
                                : 1000000;
    const long step = count >= 1000000 ? 100000 : count / 10;
    const long early = count >= 1000000 ? 200000 : count / 5;

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
    note("soak: " + std::to_string(count) + " readings unpaced to " + folder.path());

    // Sent in slices so that the whole run need not sit in memory here.
    constexpr long SliceReadings = 10000;
    long nextToQueue = 1;
    std::string slice;
    size_t sliceSent = 0;
    long sent = 0;
    const auto refill = [&] {
        slice.clear();
        sliceSent = 0;
        for (long i = 0; i < SliceReadings && nextToQueue <= count; ++i)
            slice += readingLine(nextToQueue++);
    };
    refill();

    const double start = now();
    double stepStart = start;
    double lastProgress = start;
    long lastCount = 0;
    long nextMark = step;
    long rssEarly = -1, rssEnd = -1, rssHighest = -1;
    while (log.records() < count) {
        if (sliceSent < slice.size()) {
            sliceSent = pty.sendSome(slice, sliceSent);
            if (sliceSent == slice.size()) {
                sent = nextToQueue - 1;
                if (nextToQueue <= count)
                    refill();
            }
        }
        pollfd fds[2] = { { log.fd(), POLLIN, 0 },
            { pty.master(), short(sliceSent < slice.size() ? POLLOUT : 0), 0 } };
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
        while (log.records() >= nextMark && nextMark <= count) {
            const long rss = program.rssKiB();
            const double t = now();
            char text[200];
            std::snprintf(text, sizeof text,
                "%8ld records  RSS %7.1f MiB  %6.0f readings/s over the last %ld  "
                "(%.0f s in)",
                nextMark, double(rss) / 1024.0, double(step) / (t - stepStart), step, t - start);
            note(text);
            stepStart = t;
            if (nextMark == early)
                rssEarly = rss;
            if (nextMark >= early)
                rssHighest = std::max(rssHighest, rss);
            if (nextMark == count)
                rssEnd = rss;
            nextMark += step;
        }
    }
    const double elapsed = log.lastRecordAt() - start;
    // Anything doubled would show up shortly after the last record.
    log.waitFor(count + 1, 1.0);
    if (rssEnd < 0)
        rssEnd = program.rssKiB();
    program.stop();

    const bool exact = log.records() == count && log.inOrder();
    if (!log.inOrder())
        note("out of order: " + log.badRecord());
    printFigure("soak_readings_sent", double(sent), "readings", "", 0);
    printFigure(
        "soak_records_written", double(log.records()), "records", "= readings sent, in order", 0);
    printFigure("soak_records_exact", exact ? 1 : 0, "bool", "1", 0);
    printFigure("soak_rate", double(log.records()) / elapsed, "readings/s", "(whole run)", 0);
    printFigure("soak_rss_at_" + std::to_string(early), double(rssEarly) / 1024.0, "MiB", "", 1);
    printFigure("soak_rss_at_" + std::to_string(count), double(rssEnd) / 1024.0, "MiB",
        "< 45 MB = 42.9 MiB (memory figure)", 1);
    printFigure("soak_rss_at_" + std::to_string(count) + "_mb", double(rssEnd) * 1024.0 / 1e6, "MB",
        "< 45 MB", 1);
    const double growth = rssEarly > 0 ? (double(rssEnd) / double(rssEarly) - 1.0) * 100.0 : -1;
    const double highest
        = rssEarly > 0 ? (double(rssHighest) / double(rssEarly) - 1.0) * 100.0 : -1;
    // Shorter runs end before the log view is full, and the view is what grows.
    const std::string flat
        = count >= 1000000 ? "within 5% (flat)" : "(flat only once the view is full)";
    printFigure("soak_rss_growth", growth, "%", flat, 1);
    printFigure("soak_rss_highest_growth", highest, "%",
        flat + ", highest mark after " + std::to_string(early), 1);
    return exact ? 0 : 1;
}
