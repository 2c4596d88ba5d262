#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds, and starts the program against the
# simulated encoder board. Ctrl-C ends both.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target tarvik kestrin-board-sim

folder=$(cd "$build/app" && pwd)
sim="$build/tools/kestrin-board-sim/kestrin-board-sim"

# The program runs as the user who started this script, even when the
# packages needed sudo.
"$sim" --link "$folder/com1" --reading-interval 2 &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null' EXIT INT TERM
for _ in $(seq 50); do [ -e "$folder/com1" ] && break; sleep 0.1; done

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
    echo "No display: running offscreen. Readings are logged to $folder/Default.csv"
    echo "(follow it with: tail -f '$folder/Default.csv'). Ctrl-C ends both."
fi
"$folder/tarvik"
