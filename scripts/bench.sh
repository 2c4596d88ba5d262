#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds in release mode and runs every benchmark and the soak run. Each figure
# is printed as "name value unit" with its goal beside it; notes on the runs
# go to standard error, prefixed with "#".
#
#   scripts/bench.sh                 everything (about 7 minutes, more on a slow disk)
#   scripts/bench.sh startup latency  only these: startup throughput latency
#                                     idle growth callgrind journal soak
#   BENCH_QUICK=1 scripts/bench.sh   short runs, to try the benchmarks out
#   BENCH_DIR=/dev/shm ...           program folders (and the log) elsewhere
#                                     than the build tree's disk
#
# Measure on a quiet machine: the figures are medians of several runs, but
# other work on the same cores still shows in the tails.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
build=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVIK_BUILD_BENCH=ON \
    -DTARVIK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target tarvik bench_program bench_growth bench_journal soak

benches=("$@")
[ ${#benches[@]} -gt 0 ] || benches=(startup throughput latency idle growth callgrind journal soak)

# Instructions a reading with `$1` lines in the view: bench_growth counts only
# its timed readings (--collect-atstart=no), one side a run.
callgrind_side() {
    local out
    out=$(mktemp /tmp/tarvik-callgrind.XXXXXX)
    BENCH_GROWTH_ONLY=$1 BENCH_GROWTH_ROUNDS=${BENCH_CALLGRIND_ROUNDS:-2} \
        valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$out" \
        "$build/bench/bench_growth" >"$out.figures" 2>"$out.log"
    local readings instructions
    readings=$(awk '$1 == "growth_readings_per_side" { print $2 }' "$out.figures")
    instructions=$(awk '/^(summary|totals):/ { print $2; exit }' "$out")
    rm -f "$out" "$out.figures" "$out.log"
    echo $((instructions / readings))
}

callgrind() {
    if ! command -v valgrind >/dev/null; then
        echo "# callgrind: valgrind not installed, skipped" >&2
        return
    fi
    local small full
    small=$(callgrind_side 1000)
    full=$(callgrind_side 100000)
    echo "# callgrind: instructions of the timed readings only, log on /dev/shm" >&2
    printf '%-28s %12d %-10s  goal: %s\n' growth_instr_1000_lines "$small" instr ""
    printf '%-28s %12d %-10s  goal: %s\n' growth_instr_100000_lines "$full" instr ""
    printf '%-28s %12.3f %-10s  goal: %s\n' growth_ratio_instructions \
        "$(awk -v a="$full" -v b="$small" 'BEGIN { print a / b }')" x "< 1.05"
}

echo "# $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')," \
     "$(uname -r), load $(cut -d' ' -f1-3 /proc/loadavg)" >&2
for b in "${benches[@]}"; do
    case "$b" in
        startup|throughput|latency|idle) "$build/bench/bench_program" "$b" ;;
        growth) "$build/bench/bench_growth" ;;
        journal) "$build/bench/bench_journal" ;;
        callgrind) callgrind ;;
        soak) "$build/bench/soak" ;;
        *) echo "bench.sh: unknown benchmark '$b'" >&2; exit 2 ;;
    esac
done
