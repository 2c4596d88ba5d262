#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The upgrade's move of the operators' files out of the program folder
# (packaging/move-operator-files.sh), run by /bin/sh as the maintainer
# scripts run it, on stand-in folders. Another operator is played by a
# stand-in mv that, just before a move into the data folder, plants a link
# at the name the file is moved to: in the field a loop of ln -s and rm wins
# that race within a few dozen tries. Whatever is planted, the program folder
# must end up holding the package's files only, and every operator file must
# be in the data folder, unchanged and overwriting nothing, or in a folder
# only root can enter that the output names.
set -euo pipefail
script=$(cd "$(dirname "$0")/../.." && pwd)/packaging/move-operator-files.sh
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
checks=0
check() { # name expected actual
    checks=$((checks + 1))
    if [ "$2" = "$3" ]; then echo "PASS   : $1"; else
        echo "FAIL!  : $1"; echo "   Actual  : '$3'"; echo "   Expected: '$2'"; failures=$((failures + 1)); fi
}

# dpkg-query names the package's two programs; mv plants as $PLANT says:
#   never, once (at the first name tried for each file), always (at every
#   name tried), or stage-fails (the move out of the program folder fails
#   once for qt.conf, so only the last check can take it out).
mkdir -p "$tmp/bin"
cat >"$tmp/bin/dpkg-query" <<'STUB'
#!/bin/sh
printf '%s\n' /. "$program" "$program/tarvik" "$program/kestrin-board-sim"
STUB
cat >"$tmp/bin/mv" <<'STUB'
#!/bin/sh
for dest; do :; done
case $dest in
"$data"/*)
    name=${dest##*/}
    case $PLANT in
    always) ln -s /planted "$dest" 2>/dev/null || true ;;
    once)
        case $name in
        old-opt-tarvik-*) ;;
        *) ln -s /planted "$dest" 2>/dev/null || true ;;
        esac ;;
    esac ;;
"$program"/*) ;;
*)
    if [ "$PLANT" = stage-fails ] && [ "${dest##*/}" = qt.conf ] \
        && ! grep -qxF qt.conf "$PLANTED" 2>/dev/null; then
        echo qt.conf >>"$PLANTED"
        echo "mv: cannot move to '$dest': Input/output error" >&2
        exit 1
    fi ;;
esac
exec /bin/mv "$@"
STUB
chmod +x "$tmp/bin"/*

operator_names=(qt.conf Settings.ini .notes shift2 com1 'run 7.csv')

# Where the operator file $1 ended up unchanged: its path, or nothing.
found() {
    local name=$1 candidate
    for candidate in "$data/$name" "$data/old-opt-tarvik-$name" "$data"/old-opt-tarvik-[0-9]*-"$name" \
        "$root"/var/opt/tarvik-upgrade.*/"$name"; do
        if { [ -e "$candidate" ] || [ -L "$candidate" ]; } && same "$root/before/$name" "$candidate"; then
            echo "$candidate"
            return
        fi
    done
}

same() { # before after: same kind and bytes, or the same link
    if [ -L "$1" ]; then [ -L "$2" ] && [ "$(readlink "$1")" = "$(readlink "$2")" ]
    elif [ -d "$1" ]; then [ -d "$2" ] && [ ! -L "$2" ] && diff -r "$1" "$2" >/dev/null
    else cmp -s "$1" "$2"; fi
}

run_case() { # plant
    local plant=$1
    root=$tmp/$plant
    program=$root/opt/tarvik
    data=$root/var/opt/tarvik
    mkdir -p "$program" "$data" "$root/before"
    printf 'program\n' >"$program/tarvik"
    printf 'simulator\n' >"$program/kestrin-board-sim"
    printf '[Paths]\nPlugins=/home/anna/plugins\n' >"$program/qt.conf"
    printf '[System]\r\nComPort=1\r\n' >"$program/Settings.ini"
    printf 'notes\n' >"$program/.notes"
    mkdir "$program/shift2"
    printf '"2.5","2 Dec 2026","08:00:00"\r\n' >"$program/shift2/run8.csv"
    ln -s /dev/null "$program/com1"
    printf '"1.5","1 Dec 2026","08:00:00"\r\n' >"$program/run 7.csv"
    # What the data folder held before stays as it was.
    printf 'the administrator'"'"'s own\n' >"$data/Settings.ini"
    cp -a "$program"/. "$root/before/"
    cp "$data/Settings.ini" "$root/admin-settings"

    local output status=0
    output=$(env PATH="$tmp/bin:$PATH" program="$program" data="$data" PLANT="$plant" \
        PLANTED="$root/planted" sh -c '. "$1"; move_operator_files' _ "$script" 2>&1) || status=$?
    check "$plant: the function succeeds" 0 "$status"
    check "$plant: the program folder holds the package's files only" \
        "kestrin-board-sim tarvik " "$(ls -A "$program" | tr '\n' ' ')"
    check "$plant: the data folder's own Settings.ini is kept" yes \
        "$(cmp -s "$root/admin-settings" "$data/Settings.ini" && echo yes || echo no)"
    local name where unchanged=yes missing=
    for name in "${operator_names[@]}"; do
        where=$(found "$name")
        if [ -z "$where" ]; then missing+="$name "; continue; fi
        case $where in
        "$data"/*) ;;
        *)
            local folder=${where%/*}
            [ "$(stat -c '%a' "$folder")" = 700 ] || unchanged="no: $folder is not root-only"
            grep -qF -- "$folder" <<<"$output" || unchanged="no: the output does not name $folder" ;;
        esac
    done
    check "$plant: every operator file is found unchanged" "" "$missing"
    check "$plant: each is in the data folder or in a root-only folder the output names" \
        yes "$unchanged"
    OUTPUT=$output
}

run_case never
check "never: each file keeps its name" "$data/qt.conf" "$(found qt.conf)"
check "never: a name taken before gets old-opt-tarvik- before it" \
    "$data/old-opt-tarvik-Settings.ini" "$(found Settings.ini)"
check "never: no root-only folder is left" "" "$(ls -d "$root"/var/opt/tarvik-upgrade.* 2>/dev/null)"

# The old script looked for a free name, then ran mv -n, which skipped in
# silence once the name had been taken: qt.conf stayed in the program folder.
run_case once
check "once: a taken name moves the file to the next" "$data/old-opt-tarvik-qt.conf" "$(found qt.conf)"
check "once: the output says so" yes \
    "$(grep -qF "$data/qt.conf already exists and is kept as it is" <<<"$OUTPUT" && echo yes || echo no)"

run_case always
check "always: kept in a root-only folder" yes \
    "$(case $(found qt.conf) in "$root"/var/opt/tarvik-upgrade.*) echo yes ;; *) echo no ;; esac)"

run_case stage-fails
check "stage-fails: the last check names where qt.conf went" yes \
    "$(grep -qF "$program/qt.conf was still in $program" <<<"$OUTPUT" && echo yes || echo no)"

echo "Totals: $((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
