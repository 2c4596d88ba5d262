#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian package on this machine, end to end, in phases:
#
#   build      the program built with its data folder, /var/opt/tarvik, in a
#              build folder of its own, and the .deb made from it
#   lintian    lintian reports nothing but dir-or-file-in-opt
#   upgrade    a stand-in of the 1.0.0 package, whose operators kept their
#              files in the program folder, with such files; upgraded to the
#              new package: every operator file moved to the data folder
#              unchanged, none overwritten; the package's files in place
#   operator   an operator cannot change the program folder; the installed
#              program, started as an operator with umask 022, logs a reading
#              from a simulated board into a file the next operator can write
#   port       as an operator, tarvik-port finds the board among two
#              pseudo-terminals (one silent), points com1 at it, and the
#              installed program logs that board's readings
#   remove     remove and purge: the operators' files stay
#   race       1.0.0 again, upgraded while another operator plants and
#              removes, in a loop, the names the files are being moved to:
#              the program folder then holds the package's files only, and
#              every operator file is in the data folder or in a root-only
#              folder the upgrade names
#
# Usage: scripts/package-smoke.sh [PHASE...]   (all phases, in this order,
#        when none is named; each phase expects those before it)
#   BUILD_DIR              the build folder beside which the package is built,
#                          in BUILD_DIR-deb (default: build)
#   TARVIK_PACKAGE_SMOKE=0 skips the test
#
# Exit status 0: passed; 1: failed; 77: skipped, because it cannot run here
# without touching someone's installation: installing needs root or
# passwordless sudo, Tarvik is installed or its folders hold files, or another
# run is under way. (CTest runs it as the test package_smoke, label package,
# and reports 77 as skipped.) Everything it made is removed again at the end,
# whatever the outcome; the build folder stays.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build}
# Beside the build folder, so that a compiler cache finds the same paths.
pkg_build=${build%/}-deb
program=/opt/tarvik
data=/var/opt/tarvik
# The folders the upgrade keeps what it cannot place in.
upgrade_leftovers=$(dirname "$data")/tarvik-upgrade.
say() { echo "package-smoke: $*"; }
skip() {
    say "SKIPPED: $*"
    exit 77
}

all_phases=(build lintian upgrade operator port remove race)
phases=("$@")
[ ${#phases[@]} -gt 0 ] || phases=("${all_phases[@]}")
for p in "${phases[@]}"; do
    [[ " ${all_phases[*]} " == *" $p "* ]] || { say "unknown phase '$p' (${all_phases[*]})"; exit 2; }
done

[ "${TARVIK_PACKAGE_SMOKE:-1}" != 0 ] || skip "TARVIK_PACKAGE_SMOKE=0"

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo -n true 2>/dev/null || skip "installing a package needs root or passwordless sudo"
    sudo=(sudo -n)
fi
as_root() { "${sudo[@]}" "$@"; }
# Other programs may hold dpkg's lock for a while.
apt_get() { as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@"; }

tmp=$(mktemp -d)
chmod 755 "$tmp"
sim_pid=
app_pid=
silent_pid=
race_pid=
installs=no
declare -A existed=()
port_lock=/var/lock/LCK..$(tr / _ <<<"$data/com1")

cleanup() {
    set +e
    [ -n "$race_pid" ] && as_root touch "$tmp/race/stop" && wait "$race_pid" 2>/dev/null
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    [ -n "$silent_pid" ] && kill "$silent_pid" 2>/dev/null && wait "$silent_pid" 2>/dev/null
    if [ "$installs" = yes ]; then
        case "$(dpkg-query -W -f='${Status}' tarvik 2>/dev/null)" in
        "" | *not-installed) ;;
        *) apt_get purge -y -qq tarvik >/dev/null 2>&1 ;;
        esac
        # The program was killed, so its lock file stayed behind.
        as_root rm -f "$port_lock"
        as_root rm -rf "$upgrade_leftovers"*
        # The folders were empty or missing before: all in them is this test's.
        for folder in "$program" "$data"; do
            [ -d "$folder" ] || continue
            as_root find "$folder" -mindepth 1 -delete
            if [ -n "${existed[$folder]:-}" ]; then
                read -r owner mode <<<"${existed[$folder]}"
                as_root chown "$owner" "$folder"
                # A numeric mode alone keeps a folder's set-group-ID bit.
                as_root chmod u-s,g-s "$folder"
                as_root chmod "$mode" "$folder"
            else
                as_root rmdir "$folder"
            fi
        done
    fi
    as_root rm -rf "$tmp"
}
trap cleanup EXIT

fail() {
    say "FAIL: $*"
    for log in "$tmp"/*.log; do
        [ -s "$log" ] || continue
        echo "---- $(basename "$log")"
        tail -n 30 "$log"
    done
    exit 1
}

# Refuses (as a skip) to touch a machine where Tarvik is installed or its
# folders hold files, so an operator's installation is never touched.
check_machine_is_free() {
    local lock=/var/lock/tarvik-package-smoke.lock
    [ -e "$lock" ] || as_root sh -c "umask 0; : >>'$lock'"
    exec 9<"$lock"
    flock -n 9 || skip "another package smoke test is running"
    local status
    status=$(dpkg-query -W -f='${Status}' tarvik 2>/dev/null || true)
    case "$status" in
    "" | *not-installed) ;;
    *) skip "the tarvik package is on this machine ($status); remove it first (its operators' files in $data stay)" ;;
    esac
    for folder in "$program" "$data"; do
        if [ -e "$folder" ]; then
            if [ -n "$(ls -A "$folder")" ]; then
                ls -lA "$folder" | sed 's/^/      /'
                skip "$folder holds files, perhaps an operator's"
            fi
            existed[$folder]="$(stat -c '%u:%g' "$folder") $(stat -c '%a' "$folder")"
        fi
    done
    if compgen -G "$upgrade_leftovers*" >/dev/null; then
        skip "$(compgen -G "$upgrade_leftovers*" | head -n 1) holds what an earlier upgrade could not place"
    fi
    # Qt's lock file for the port $data/com1. With the folder empty nobody can
    # be using that port, so one found now was left by a program that was killed.
    as_root rm -f "$port_lock"
    installs=yes
}

# The package's path; version, the project's, as the package build has it.
source "$PWD/scripts/version.sh"
deb_file() { echo "$(cd "$pkg_build/package" && pwd)/tarvik_$(version)_$(dpkg --print-architecture).deb"; }
require_deb() { [ -f "$pkg_build/CPackConfig.cmake" ] && [ -f "$(deb_file)" ] || fail "no package: run the build phase first"; }

# An operator: not root, a member of dialout only, as the guide sets one up.
operator=()
make_operator() {
    mkdir -m 700 "$tmp/runtime"
    as_root chown nobody "$tmp/runtime"
    operator=("${sudo[@]}" setpriv --reuid=nobody --regid=nogroup --groups=dialout
        env -i -C / PATH=/usr/bin:/bin HOME="$tmp" XDG_RUNTIME_DIR="$tmp/runtime" LANG=C.UTF-8
        QT_QPA_PLATFORM=offscreen)
}

listing() { # folder names...: what each is, its owner, mode and link target
    local folder=$1
    shift
    for name in "$@"; do stat -c '%n %F %U:%G %a %N' "$folder/$name" | sed "s|$folder/||g"; done
}

# ---------------------------------------------------------------- build

phase_build() {
    scripts/deps.sh dpkg-dev file librsvg2-bin desktop-file-utils lintian help2man
    # The build folder's compiler launcher (ccache), if it has one, serves the
    # package build as well.
    local launcher
    launcher=$(sed -n 's/^CMAKE_CXX_COMPILER_LAUNCHER:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
    cmake -S . -B "$pkg_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIK_BUILD_TESTS=OFF \
        -DTARVIK_DATA_DIR="$data" ${launcher:+-DCMAKE_CXX_COMPILER_LAUNCHER="$launcher"} \
        >"$tmp/configure.log" 2>&1 || fail "configuring $pkg_build failed"
    cmake --build "$pkg_build" -j "$(nproc)" --target tarvik kestrin-board-sim tarvik-port tarvik_package_files \
        >"$tmp/build.log" 2>&1 || fail "building the program failed"

    local out="$pkg_build/package"
    rm -rf "$out"
    cpack --config "$pkg_build/CPackConfig.cmake" -G DEB -B "$out" >"$tmp/cpack.log" 2>&1 \
        || fail "cpack failed"
    [ -f "$(deb_file)" ] || fail "no $(basename "$(deb_file)") in $out: $(ls "$out")"
    local depends
    depends=$(dpkg-deb -f "$(deb_file)" Depends)
    for lib in libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 qt6-qpa-plugins; do
        [[ "$depends" == *"$lib"* ]] || fail "the package does not depend on $lib: $depends"
    done
    say "built $(deb_file)"
}

# ---------------------------------------------------------------- lintian

phase_lintian() {
    require_deb
    # Add-on software belongs in /opt, so that tag is right for this package.
    # lintian would rather not run as root: it runs as nobody.
    local copy
    copy=$tmp/$(basename "$(deb_file)")
    cp "$(deb_file)" "$copy"
    chmod 644 "$copy"
    as_root setpriv --reuid=nobody --regid=nogroup --clear-groups env -i PATH=/usr/bin:/bin HOME="$tmp" \
        lintian "$copy" >"$tmp/lintian.log" 2>&1 || true
    local others
    others=$(grep -v -e ' dir-or-file-in-opt ' -e '^N: ' "$tmp/lintian.log" || true)
    [ -z "$others" ] || fail "lintian reports more than dir-or-file-in-opt:"$'\n'"$others"
    say "lintian: only dir-or-file-in-opt"
}

# ---------------------------------------------------------------- 1.0.0

# A stand-in for the 1.0.0 package: its layout (the programs in a program
# folder shared with the dialout group, a launcher setting umask 002) and its
# maintainer scripts, without building that version. Installed.
install_old_package() {
    local old=$tmp/old
    if [ ! -f "$tmp/tarvik_1.0.0.deb" ]; then
        mkdir -p "$old/DEBIAN" "$old$program" "$old/usr/bin"
        for p in tarvik kestrin-board-sim; do
            printf '#!/bin/sh\necho "%s 1.0.0 stand-in"\n' "$p" >"$old$program/$p"
        done
        printf '#!/bin/sh\numask 002\nexec %s/tarvik "$@"\n' "$program" >"$old/usr/bin/tarvik"
        cat >"$old/DEBIAN/control" <<EOF
Package: tarvik
Version: 1.0.0
Architecture: $(dpkg --print-architecture)
Maintainer: Tarvik maintainers <tarvik@example.org>
Section: science
Priority: optional
Description: data logger for a measuring table's encoder board
 Stand-in for the 1.0.0 package in the package smoke test.
EOF
        cat >"$old/DEBIAN/postinst" <<EOF
#!/bin/sh
set -e
folder='$program'
if [ "\$1" = configure ]; then
    if ! dpkg-statoverride --list "\$folder" >/dev/null 2>&1; then
        chown root:dialout "\$folder"
        chmod 2775 "\$folder"
    fi
fi
exit 0
EOF
        printf '#!/bin/sh\nset -e\n\nexit 0\n' >"$old/DEBIAN/postrm"
        chmod 755 "$old/DEBIAN/postinst" "$old/DEBIAN/postrm" "$old$program"/* "$old/usr/bin/tarvik"
        dpkg-deb --root-owner-group --build "$old" "$tmp/tarvik_1.0.0.deb" >"$tmp/old-deb.log" 2>&1 \
            || fail "building the 1.0.0 stand-in failed"
    fi
    apt_get install -y "$tmp/tarvik_1.0.0.deb" >"$tmp/old-install.log" 2>&1 \
        || fail "installing the 1.0.0 stand-in failed"
    [ "$(stat -c '%U:%G %a' "$program")" = "root:dialout 2775" ] || fail "the 1.0.0 layout is not as it was"
}

# What operators of 1.0.0 left in the program folder, made as they made it;
# $1 marks this round's contents. qt.conf is the file that, left beside the
# executable, makes everyone run an operator's plugins.
make_old_operator_files() {
    "${operator[@]}" /bin/sh -ec "
        cd $program
        umask 002
        printf '[System]\r\n; the board on the first adapter, $1\r\nComPort=1\r\n' >Settings.ini
        printf '\"1.5\",\"1 Dec 2026\",\"08:00:00\"\r\n\"$1\",\"1 Dec 2026\",\"08:00:01\"\r\n' >run7.csv
        printf 'readings of the first shift, $1\n' >.notes
        printf '[Paths]\nPlugins=/nonexistent/plugins-$1\n' >qt.conf
        mkdir shift2
        printf '\"2.5\",\"2 Dec 2026\",\"08:00:00\"\r\n\"$1\",\"2 Dec 2026\",\"08:00:01\"\r\n' >shift2/run8.csv
        ln -s /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_$1-if00-port0 com1
    " || fail "making the operators' 1.0.0 files failed"
}

install_new_package() { # log file
    apt_get install -y "$(deb_file)" >"$1" 2>&1 \
        || fail "apt-get install over 1.0.0 failed"
    [ "$(dpkg-query -W -f='${Version}' tarvik)" = "$(version)" ] || fail "tarvik $(version) is not installed"
}

check_program_folder() {
    [ "$(stat -c '%U:%G %a' "$program")" = "root:root 755" ] \
        || fail "$program is $(stat -c '%U:%G %a' "$program"), not root:root 755"
    [ "$(ls -A "$program" | tr '\n' ' ')" = "kestrin-board-sim tarvik tarvik-port " ] \
        || fail "$program holds more than the programs: $(ls -A "$program" | tr "\n" " ")"
}

# ---------------------------------------------------------------- upgrade

phase_upgrade() {
    require_deb
    install_old_package
    make_old_operator_files first
    # An administrator had put a file of the same name in the new folder already.
    as_root mkdir -p "$data"
    printf 'the administrator'"'"'s own run7.csv\n' | as_root tee "$data/run7.csv" >/dev/null
    mkdir "$tmp/before"
    cp -a "$program/Settings.ini" "$program/run7.csv" "$program/.notes" "$program/shift2" \
        "$program/com1" "$program/qt.conf" "$tmp/before/"
    cp "$data/run7.csv" "$tmp/before/admin-run7.csv"
    listing "$program" Settings.ini run7.csv .notes qt.conf shift2 shift2/run8.csv com1 >"$tmp/before.txt"

    install_new_package "$tmp/install.log"
    check_program_folder
    [ "$(stat -c '%U:%G %a' "$data")" = "root:dialout 2775" ] \
        || fail "$data is $(stat -c '%U:%G %a' "$data"), not root:dialout 2775"
    listing "$data" Settings.ini old-opt-tarvik-run7.csv .notes qt.conf shift2 shift2/run8.csv com1 \
        | sed 's/old-opt-tarvik-run7.csv/run7.csv/g' >"$tmp/after.txt"
    diff "$tmp/before.txt" "$tmp/after.txt" >"$tmp/moved.log" || fail "the operators' files changed in the move"
    for f in Settings.ini .notes qt.conf shift2/run8.csv; do
        cmp -s "$tmp/before/$f" "$data/$f" || fail "$f is not byte for byte as it was"
    done
    cmp -s "$tmp/before/run7.csv" "$data/old-opt-tarvik-run7.csv" || fail "the operator's run7.csv was not kept"
    cmp -s "$tmp/before/admin-run7.csv" "$data/run7.csv" || fail "the run7.csv already in $data was overwritten"
    grep -q "$data/run7.csv already exists" "$tmp/install.log" || fail "the upgrade did not say it kept both run7.csv"
    ! compgen -G "$upgrade_leftovers*" >/dev/null || fail "the upgrade left $(compgen -G "$upgrade_leftovers*")"
    say "upgraded over 1.0.0: the operators' files moved to $data unchanged, none overwritten"

    for f in copyright changelog.gz; do
        [ -f "/usr/share/doc/tarvik/$f" ] || fail "no /usr/share/doc/tarvik/$f"
    done
    for page in tarvik kestrin-board-sim tarvik-port; do
        [ -f "/usr/share/man/man1/$page.1.gz" ] || fail "no manual page $page(1)"
    done
    for tool in kestrin-board-sim tarvik-port; do
        [ "$(readlink -f "/usr/bin/$tool")" = "$program/$tool" ] || fail "/usr/bin/$tool does not lead to $program/$tool"
        "/usr/bin/$tool" --version | grep -qx "$tool (Tarvik Data Logger) $(version)" \
            || fail "$tool --version does not say $(version)"
    done
    local desktop=/usr/share/applications/tarvik.desktop
    [ -f "$desktop" ] || fail "no desktop entry $desktop"
    grep -qx 'Name=Tarvik Data Logger' "$desktop" || fail "the desktop entry's Name is wrong"
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$desktop" >"$tmp/desktop.log" 2>&1 || fail "desktop-file-validate"
    fi
}

# ---------------------------------------------------------------- operator

phase_operator() {
    # Nothing an operator can do changes what the next one runs.
    for attempt in "mv $program/tarvik $program/moved" "touch $program/qt.conf" \
        "mkdir $program/platforms" "touch /usr/bin/tarvik.conf"; do
        if "${operator[@]}" /bin/sh -c "$attempt" 2>/dev/null; then
            fail "an operator could: $attempt"
        fi
    done

    local exec_line
    exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/tarvik.desktop | sed 's/ *%[fFuUdDnNickvm]//g')
    [ -n "$exec_line" ] || fail "the desktop entry has no Exec line"
    say "starting the desktop entry's Exec as an operator with umask 022: $exec_line"
    "${operator[@]}" "$program/kestrin-board-sim" --link "$data/com1" --burst 1 --no-pace \
        </dev/null >"$tmp/sim.log" 2>&1 &
    sim_pid=$!
    local adapter
    adapter=$(readlink "$tmp/before/com1")
    for _ in $(seq 50); do [ "$(readlink "$data/com1")" != "$adapter" ] && break; sleep 0.1; done
    [ "$(readlink "$data/com1")" != "$adapter" ] || fail "the simulator made no link $data/com1"

    "${operator[@]}" /bin/sh -c "umask 022; exec $exec_line" </dev/null >"$tmp/tarvik.log" 2>&1 &
    app_pid=$!

    local record='^"1","[^"]*","[^"]*"'$'\r''$'
    for _ in $(seq 200); do
        grep -q "$record" "$data/Default.csv" 2>/dev/null && break
        kill -0 "$app_pid" 2>/dev/null || break
        sleep 0.1
    done
    grep -q "$record" "$data/Default.csv" 2>/dev/null \
        || fail "no record of the reading 1 in $data/Default.csv within 20 s"
    cmp -s "$tmp/before/Settings.ini" "$data/Settings.ini" || fail "Settings.ini was rewritten"
    [[ "$(stat -c '%U:%G %a' "$data/Default.csv")" == "nobody:dialout 664" ]] \
        || fail "Default.csv is $(stat -c '%U:%G %a' "$data/Default.csv"): the next operator could not write it"
    say "the installed program logged: $(tr -d '\r' <"$data/Default.csv")"

    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    app_pid=
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=
}

# ---------------------------------------------------------------- port

phase_port() {
    # An operator's own pseudo-terminals, as the guide's training set-up: the
    # simulated board on one, nothing answering on the other.
    local board=$tmp/runtime/board silent=
    "${operator[@]}" "$program/kestrin-board-sim" --link "$board" --reading-interval 0.2 \
        </dev/null >"$tmp/port-sim.log" 2>&1 &
    sim_pid=$!
    "${operator[@]}" python3 -c 'import os, pty, time
m, s = pty.openpty()
print(os.ttyname(s), flush=True)
time.sleep(600)' </dev/null >"$tmp/silent.out" 2>"$tmp/silent.log" &
    silent_pid=$!
    for _ in $(seq 50); do
        silent=$(head -n 1 "$tmp/silent.out" 2>/dev/null || true)
        [ -L "$board" ] && [ -n "$silent" ] && break
        sleep 0.1
    done
    [ -L "$board" ] || fail "the simulator made no link $board"
    [ -n "$silent" ] || fail "no silent pseudo-terminal"

    "${operator[@]}" /usr/bin/tarvik-port find "$board" "$silent" >"$tmp/port-find.log" 2>&1 \
        || fail "tarvik-port find did not find exactly one board"
    grep -q "^$board: board" "$tmp/port-find.log" || fail "tarvik-port find did not name $board as the board"
    grep -q "^$silent: no answer" "$tmp/port-find.log" || fail "tarvik-port find did not find $silent silent"

    "${operator[@]}" /usr/bin/tarvik-port use "$board" >"$tmp/port-use.log" 2>&1 \
        || fail "tarvik-port use $board failed"
    [ "$(readlink "$data/com1")" = "$(readlink -f "$board")" ] \
        || fail "com1 leads to $(readlink "$data/com1"), not to the board $(readlink -f "$board")"
    grep -q $'^ComPort=1\r$' "$data/Settings.ini" || fail "Settings.ini does not say ComPort=1"
    say "tarvik-port found the board and chose it: $(tr '\n' ' ' <"$tmp/port-use.log")"

    local before
    before=$(grep -c . "$data/Default.csv")
    "${operator[@]}" /usr/bin/tarvik </dev/null >"$tmp/port-tarvik.log" 2>&1 &
    app_pid=$!
    for _ in $(seq 200); do
        [ "$(grep -c . "$data/Default.csv")" -gt "$before" ] && break
        kill -0 "$app_pid" 2>/dev/null || break
        sleep 0.1
    done
    [ "$(grep -c . "$data/Default.csv")" -gt "$before" ] \
        || fail "the installed program logged no reading through com1 within 20 s"
    say "the installed program logged the found board's reading: $(tail -n 1 "$data/Default.csv" | tr -d '\r')"

    for pid in "$app_pid" "$sim_pid" "$silent_pid"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    app_pid= sim_pid= silent_pid=
}

# ---------------------------------------------------------------- remove

phase_remove() {
    local kept=(Default.csv Settings.ini run7.csv old-opt-tarvik-run7.csv .notes qt.conf shift2/run8.csv)
    mkdir -p "$tmp/kept/shift2"
    for f in "${kept[@]}"; do cp "$data/$f" "$tmp/kept/$f"; done
    for step in remove purge; do
        apt_get "$step" -y tarvik >"$tmp/$step.log" 2>&1 \
            || fail "apt-get $step failed"
        [ ! -e "$program/tarvik" ] && [ ! -e /usr/bin/tarvik ] && [ ! -e /usr/share/applications/tarvik.desktop ] \
            || fail "apt-get $step left the package's files"
        for f in "${kept[@]}"; do
            cmp -s "$tmp/kept/$f" "$data/$f" || fail "apt-get $step did not leave the operator's $f as it was"
        done
    done
    [ ! -e "$program" ] || fail "apt-get purge left $program: $(ls -A "$program")"
    ! grep -q -e "'$program' not empty" -e "'$data' not empty" "$tmp/remove.log" "$tmp/purge.log" \
        || fail "dpkg complained about one of Tarvik's folders"
    say "removed and purged with the operators' files kept"
}

# ---------------------------------------------------------------- race

# Where the operator file $1 of this round went unchanged, from the copy in
# $tmp/race-before: the data folder under its own or an old-opt-tarvik- name,
# or a root-only folder the upgrade named.
found_unchanged() {
    local name=$1 before=$tmp/race-before/$1 candidate
    for candidate in "$data/$name" "$data/old-opt-tarvik-$name" "$data"/old-opt-tarvik-[0-9]*-"$name" \
        "$upgrade_leftovers"*/"$name"; do
        [ -e "$candidate" ] || [ -L "$candidate" ] || continue
        if [ -L "$before" ]; then
            [ -L "$candidate" ] && [ "$(readlink "$before")" = "$(readlink "$candidate")" ] || continue
        elif [ -d "$before" ]; then
            [ -d "$candidate" ] && [ ! -L "$candidate" ] && diff -r "$before" "$candidate" >/dev/null || continue
        else
            [ -f "$candidate" ] && [ ! -L "$candidate" ] && cmp -s "$before" "$candidate" || continue
        fi
        echo "$candidate"
        return
    done
}

phase_race() {
    require_deb
    install_old_package
    make_old_operator_files race
    local names=(Settings.ini run7.csv .notes qt.conf shift2 com1)
    mkdir "$tmp/race-before"
    for n in "${names[@]}"; do cp -a "$program/$n" "$tmp/race-before/"; done

    # Another operator takes each name a file may be moved to, for an
    # instant, over and over, one loop a name: a link made where the name is
    # free and removed again (never anything else at that name).
    local targets=()
    for n in "${names[@]}"; do
        targets+=("$data/$n" "$data/old-opt-tarvik-$n")
    done
    mkdir -m 755 "$tmp/race"
    as_root chown nobody "$tmp/race"
    "${operator[@]}" /bin/sh -c '
        race=$1
        shift
        for name; do
            (
                n=0
                while [ ! -e "$race/stop" ]; do
                    ln -s -T /race-planted "$name" 2>/dev/null && rm -f "$name"
                    n=$((n + 1))
                done
                echo "$n" >>"$race/rounds"
            ) &
        done
        wait
    ' _ "$tmp/race" "${targets[@]}" &
    race_pid=$!
    sleep 1

    install_new_package "$tmp/race-install.log"
    as_root touch "$tmp/race/stop"
    wait "$race_pid" || true
    race_pid=
    local rounds
    rounds=$(awk '{ n += $1 } END { print n + 0 }' "$tmp/race/rounds" 2>/dev/null || echo 0)
    [ "$rounds" -gt 0 ] || fail "the racing operator did not run"

    check_program_folder
    for n in "${names[@]}"; do
        local where
        where=$(found_unchanged "$n")
        [ -n "$where" ] || fail "the operator's $n of this round is nowhere in $data or a folder the upgrade named"
        case $where in
        "$data"/*) ;;
        *)
            [ "$(stat -c '%U %a' "${where%/*}")" = "root 700" ] || fail "${where%/*} is not root's alone"
            grep -qF "${where%/*}" "$tmp/race-install.log" || fail "the upgrade did not name ${where%/*}"
            ;;
        esac
    done
    say "upgraded over 1.0.0 while another operator took the names $rounds times:" \
        "$program holds the package's files only, every operator file is kept"

    apt_get purge -y tarvik >"$tmp/race-purge.log" 2>&1 \
        || fail "apt-get purge failed"
    [ ! -e "$program" ] || fail "apt-get purge left $program: $(ls -A "$program")"
}

# ---------------------------------------------------------------- run

for p in "${phases[@]}"; do
    if [ "$p" != build ] && [ "$installs" = no ]; then
        check_machine_is_free
        make_operator
    fi
    "phase_$p"
done
say "PASS: ${phases[*]}"
