#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# CI's second pass: every unit and integration test again, built with clang
# under AddressSanitizer and UndefinedBehaviorSanitizer (leaks reported), then
# the fuzz targets for a bounded time over their saved corpus.
#
#   FUZZ_SECONDS  how long each fuzz target runs (default 120; 0 skips fuzzing)
#
# The fuzzers write what they learn into a temporary folder; the corpus in the
# repository is only read. A crash input is kept in build-fuzz/findings/ and
# printed, to be saved under tests/fuzz/regressions/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/deps.sh clang libclang-rt-14-dev qt6-base-private-dev
export CC=clang CXX=clang++
jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-120}

# halt_on_error: the first report fails the test instead of scrolling past.
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1:detect_stack_use_after_return=1:strict_init_order=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Third-party libraries only; a leak in our own code is never suppressed.
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0

echo "== Sanitizer build (build-asan)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIK_SANITIZE=ON >/dev/null
cmake --build build-asan -j "$jobs"
# The x11 tests drive the same windows as the integration tests, but through
# the X libraries, whose allocations this suppression list does not cover.
# The package smoke test builds and installs a package of its own, with no
# sanitizer: the test command has run it already.
ctest --test-dir build-asan --output-on-failure -j "$jobs" -LE 'x11|package'

[ "$fuzz_seconds" -gt 0 ] || exit 0

echo "== Fuzz build (build-fuzz)"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIK_FUZZ=ON >/dev/null
cmake --build build-fuzz -j "$jobs" --target fuzz_receive fuzz_numbers

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
findings=$root/build-fuzz/findings
rm -rf "$findings"
mkdir -p "$findings"

# Byte streams need room for a line past the 4096-character limit.
declare -A max_len=([receive]=16384 [numbers]=4096)
declare -A pid=()
for target in receive numbers; do
    mkdir -p "$work/$target"
    echo "== fuzz_$target for ${fuzz_seconds}s"
    build-fuzz/tests/fuzz/fuzz_$target \
        -max_total_time="$fuzz_seconds" -max_len="${max_len[$target]}" \
        -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
        -dict="tests/fuzz/$target.dict" -artifact_prefix="$findings/$target-" \
        "$work/$target" "tests/fuzz/corpus/$target" "tests/fuzz/regressions/$target" \
        >"$work/$target.log" 2>&1 &
    pid[$target]=$!
done

failed=0
for target in receive numbers; do
    if wait "${pid[$target]}"; then
        grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$work/$target.log" \
            | sed "s/^/fuzz_$target: /"
    else
        failed=1
        echo "fuzz_$target found a fault:"
        grep -v -E '^#[0-9]+' "$work/$target.log" | tail -n 80
    fi
done

if [ "$failed" -ne 0 ]; then
    for f in "$findings"/*; do
        [ -f "$f" ] || continue
        echo "-- $f"
        od -A d -c "$f" | head -n 40
    done
    exit 1
fi
echo "Fuzzing found nothing."
