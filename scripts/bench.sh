#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds in release mode and runs every benchmark and the soak run. Each figure
# is printed as "name value unit" with its goal beside it; notes on the runs
# go to standard error, prefixed with "#".
#
#   scripts/bench.sh                 everything (about 25 minutes, more on a slow disk)
#   scripts/bench.sh startup latency  only these: startup throughput latency
#                                     idle growth soak
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
cmake --build "$build" -j "$(nproc)" --target tarvik bench_program bench_growth soak

benches=("$@")
[ ${#benches[@]} -gt 0 ] || benches=(startup throughput latency idle growth soak)

echo "# $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')," \
     "$(uname -r), load $(cut -d' ' -f1-3 /proc/loadavg)" >&2
for b in "${benches[@]}"; do
    case "$b" in
        startup|throughput|latency|idle) "$build/bench/bench_program" "$b" ;;
        growth) "$build/bench/bench_growth" ;;
        soak) "$build/bench/soak" ;;
        *) echo "bench.sh: unknown benchmark '$b'" >&2; exit 2 ;;
    esac
done
