#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Takes the user guide's pictures (docs/images/*.png): the real program on a
# virtual screen (Xvfb), attached to the simulated board, driven with xdotool
# as an operator would drive it. Run it again after changing a window.
#
# Usage: scripts/screenshots.sh [BUILD_DIR]   (default $BUILD_DIR, else build)
#
# The pictures show the program as the package installs it: built with its
# data folder /var/opt/tarvik (in BUILD_DIR-deb, as the package is), run from
# /opt/tarvik. A private mount namespace lays scratch folders over the real
# /opt and /var/opt for this run only, so nothing of the machine's is seen or
# touched. Where no such namespace can be had the program of BUILD_DIR runs
# from a scratch folder instead, and the pictures show that folder's name.
set -euo pipefail
cd "$(dirname "$0")/.."
self=$(pwd)/scripts/screenshots.sh

# The main window's and the setup window's controls stand at fixed places
# (their sizes are fixed in twips, 15 twips a pixel); these are the centres,
# in pixels from each window's top-left corner, of what gets clicked.
SETUP_BUTTON=(542 306)     # main window, "Setup"
EXIT_BUTTON=(542 366)      # main window, "Exit"
CANCEL_BUTTON=(346 318)    # setup window, "Cancel"
TAB_ENCODER_1=(41 28)      # setup window, the three tabs
TAB_ENCODER_2=(108 28)
TAB_INPUTS=(175 28)

# The keypad's centre for one key: a calculator's 7 8 9 / 4 5 6 / 1 2 3 /
# . 0 BackSpace, columns 88 and rows 64 pixels apart.
key_at() {
    case $1 in
    .) echo 256 228 ;;
    0) echo 344 228 ;;
    *) echo $((256 + 88 * (($1 - 1) % 3))) $((36 + 64 * (2 - ($1 - 1) / 3))) ;;
    esac
}

say() { echo "screenshots: $*"; }

# Waits up to 20 s for a visible window whose title is exactly $1 and prints
# its id.
find_window() {
    local id
    for _ in $(seq 200); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true)
        if [ -n "$id" ]; then
            echo "$id"
            return 0
        fi
        sleep 0.1
    done
    say "no window \"$1\" appeared" >&2
    return 1
}

click() { # window x y
    xdotool mousemove --window "$1" "$2" "$3" click 1
}

shoot() { # window file
    # The window manager's frame is part of the picture: its title bar
    # names the window.
    import -frame -window "$1" "$2"
    say "wrote $2"
}

# ------------------------------------------------- under the virtual screen
if [ "${1:-}" = --shoot ]; then
    folder=$2 out=$3 work=$4 data=$5
    export XDG_RUNTIME_DIR=$work/runtime
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    pids=()
    trap 'kill "${pids[@]}" 2>/dev/null; wait "${pids[@]}" 2>/dev/null || true' EXIT
    openbox --sm-disable >"$work/openbox.log" 2>&1 &
    pids+=($!)
    sleep 1

    "$folder/kestrin-board-sim" --link "$data/com1" --reading-interval 1.5 --inputs 100110 \
        </dev/null >"$work/sim.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do [ -L "$data/com1" ] && break; sleep 0.1; done

    # The C locale, whatever the caller's: the guide shows its ISO dates and
    # 24-hour times; LC_ALL overrides any LC_* or LANG of the caller.
    LC_ALL=C.UTF-8 LANG=C.UTF-8 "$folder/tarvik" >"$work/tarvik.log" 2>&1 &
    app_pid=$!
    pids+=("$app_pid")
    main=$(find_window "Tarvik Data Logger")
    sleep 10 # a handful of readings in the log view
    shoot "$main" "$out/main-window.png"

    click "$main" "${SETUP_BUTTON[@]}"
    setup=$(find_window "Kestrin Encoder Diagnostics/Setup")
    sleep 4 # polled: position and scale factor, raw lines
    shoot "$setup" "$out/setup-encoder-1.png"

    click "$setup" "${TAB_ENCODER_2[@]}"
    sleep 4
    shoot "$setup" "$out/setup-encoder-2.png"

    click "$setup" "${TAB_INPUTS[@]}"
    sleep 3
    shoot "$setup" "$out/setup-inputs.png"

    # A new scale factor typed on the keypad, waiting for "Apply".
    click "$setup" "${TAB_ENCODER_1[@]}"
    for key in 2 5 4 0 . 5; do
        # shellcheck disable=SC2046 # x and y
        click "$setup" $(key_at "$key")
        sleep 0.3
    done
    sleep 2
    shoot "$setup" "$out/setup-scale-entry.png"

    # Ended as an operator ends it, so that it lets go of the port's lock
    # file (a killed program leaves it behind).
    click "$setup" "${CANCEL_BUTTON[@]}"
    sleep 0.5
    click "$main" "${EXIT_BUTTON[@]}"
    for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$app_pid" 2>/dev/null && say "Tarvik did not end on Exit" >&2 && exit 1
    exit 0
fi

# ------------------------------------------ inside the private /opt, if any
if [ "${1:-}" = --stage ]; then
    build=$2 out=$3 folder=$4 outer_ns=$5 data=$6
    if [ "$folder" = /opt/tarvik ]; then
        # Only ever over a /opt and a /var/opt that nobody else sees.
        [ "$(readlink /proc/self/ns/mnt)" != "$outer_ns" ] || exit 1
        mount -t tmpfs tarvik-screenshots /opt
        mkdir -p /var/opt
        mount -t tmpfs tarvik-screenshots /var/opt
    fi
    mkdir -p "$folder" "$data"
    cp "$build/app/tarvik" "$build/tools/kestrin-board-sim/kestrin-board-sim" "$folder/"
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    status=0
    xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24" \
        "$self" --shoot "$folder" "$out" "$work" "$data" || status=$?
    # A program that had to be killed leaves the port's lock file behind,
    # and a lock of root's would keep operators off that port name.
    lock=/var/lock/LCK..$(tr / _ <<<"$data/com1")
    if [ -e "$lock" ] && ! kill -0 "$(head -n 1 "$lock")" 2>/dev/null; then
        rm -f "$lock"
    fi
    if [ $status -ne 0 ]; then
        for log in "$work"/*.log; do
            echo "---- $(basename "$log")"
            tail -n 20 "$log"
        done
    fi
    exit $status
fi

# ------------------------------------------------------------------ start
build=${1:-${BUILD_DIR:-build}}
scripts/deps.sh xvfb xauth xdotool imagemagick openbox
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target tarvik kestrin-board-sim
build=$(cd "$build" && pwd)
launcher=$(sed -n 's/^CMAKE_CXX_COMPILER_LAUNCHER:[A-Z]*=//p' "$build/CMakeCache.txt")
installed=$build-deb
cmake -S . -B "$installed" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIK_BUILD_TESTS=OFF \
    -DTARVIK_DATA_DIR=/var/opt/tarvik ${launcher:+-DCMAKE_CXX_COMPILER_LAUNCHER="$launcher"} >/dev/null
cmake --build "$installed" -j "$(nproc)" --target tarvik kestrin-board-sim
out=$(pwd)/docs/images
mkdir -p "$out"

if [ "$(id -u)" -eq 0 ]; then
    ns=(unshare --mount --propagation private)
else
    ns=(unshare --mount --map-root-user --propagation private)
fi
if "${ns[@]}" true 2>/dev/null; then
    "${ns[@]}" "$self" --stage "$installed" "$out" /opt/tarvik "$(readlink /proc/self/ns/mnt)" \
        /var/opt/tarvik
else
    say "no private mount namespace here: the program runs from a scratch folder"
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    "$self" --stage "$build" "$out" "$scratch/tarvik" - "$scratch/tarvik"
fi
