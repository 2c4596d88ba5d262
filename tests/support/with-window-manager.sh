#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a test program on a virtual screen of its own (Xvfb, on the first free
# display) with a window manager (openbox) deciding activation, focus and
# stacking, as on an operator's desktop. Qt runs on X there (xcb), not
# offscreen.
#
# Usage: with-window-manager.sh PROGRAM [ARGUMENT ...]
set -euo pipefail

for tool in Xvfb openbox xprop xdotool; do
    if ! command -v "$tool" >/dev/null; then
        echo "with-window-manager: $tool is missing; scripts/deps.sh xvfb openbox x11-utils xdotool installs it" >&2
        exit 1
    fi
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display and writes its number once it takes clients,
# perhaps in two writes: the line is whole once it ends in a newline.
display_written() { [ -s "$work/display" ] && [ -z "$(tail -c 1 "$work/display")" ]; }
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 200); do
    display_written && break
    kill -0 "${pids[0]}" 2>/dev/null || break
    sleep 0.05
done
if ! display_written; then
    echo "with-window-manager: Xvfb did not start" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
export DISPLAY=:$(head -n 1 "$work/display")

openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
# The window manager is up once it names itself on the root window.
for _ in $(seq 200); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
done
if ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
    echo "with-window-manager: openbox did not start on $DISPLAY" >&2
    cat "$work/openbox.log" >&2
    exit 1
fi

export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb
status=0
"$@" || status=$?
exit $status
