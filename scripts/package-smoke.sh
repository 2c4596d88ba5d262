#!/usr/bin/env bash
# Builds the Debian package from a build folder, installs it on this machine,
# checks that the installed program logs a reading from a simulated board,
# then removes the package and checks that the operator's files stayed.
# Everything it made is removed again at the end, whatever the outcome.
#
# Usage: scripts/package-smoke.sh [BUILD_DIR]   (default $BUILD_DIR, else build)
# Needs root or passwordless sudo. Refuses to run where Tarvik is installed or
# its program folder holds files, so an operator's installation is never touched.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-${BUILD_DIR:-build}}
say() { echo "package-smoke: $*"; }

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    if ! sudo -n true 2>/dev/null; then
        say "FAIL: installing a package needs root or passwordless sudo"
        exit 1
    fi
    sudo=(sudo -n)
fi
as_root() { "${sudo[@]}" "$@"; }

if [ ! -f "$build/CPackConfig.cmake" ]; then
    say "FAIL: $build is not a configured build folder (no CPackConfig.cmake)"
    exit 1
fi
folder=$(sed -n 's/^set(CPACK_PACKAGING_INSTALL_PREFIX "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
folder=${folder:-/opt/tarvik}

status=$(dpkg-query -W -f='${Status}' tarvik 2>/dev/null || true)
case "$status" in
"" | *not-installed) ;;
*)
    say "FAIL: refusing to run: the tarvik package is on this machine ($status);"
    say "      remove it first (its operators' files in $folder stay)"
    exit 1
    ;;
esac
folder_existed=false
if [ -e "$folder" ]; then
    if [ -n "$(ls -A "$folder")" ]; then
        say "FAIL: refusing to run: $folder holds files, perhaps an operator's:"
        ls -lA "$folder" | sed 's/^/      /'
        exit 1
    fi
    folder_existed=true
    folder_owner=$(stat -c '%u:%g' "$folder")
    folder_mode=$(stat -c '%a' "$folder")
fi

# Qt's lock file for the port $folder/com1. With the folder empty nobody can
# be using that port, so one found now was left by a program that was killed.
port_lock=/var/lock/LCK..$(tr / _ <<<"$folder/com1")
if [ -e "$port_lock" ]; then
    say "removing the stale lock file $port_lock"
    as_root rm -f "$port_lock"
fi

tmp=$(mktemp -d)
chmod 755 "$tmp"
sim_pid=
app_pid=

cleanup() {
    set +e
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    case "$(dpkg-query -W -f='${Status}' tarvik 2>/dev/null)" in
    "" | *not-installed) ;;
    *) as_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq tarvik >/dev/null 2>&1 ;;
    esac
    # The program was killed, so its lock file stayed behind.
    as_root rm -f "$port_lock"
    # The folder was empty or missing before: all in it is this test's.
    if [ -d "$folder" ]; then
        as_root find "$folder" -mindepth 1 -delete
        if $folder_existed; then
            as_root chown "$folder_owner" "$folder"
            # A numeric mode alone keeps a folder's set-group-ID bit.
            as_root chmod u-s,g-s "$folder"
            as_root chmod "$folder_mode" "$folder"
        else
            as_root rmdir "$folder"
        fi
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

# ---------------------------------------------------------------- package

scripts/deps.sh dpkg-dev file librsvg2-bin desktop-file-utils
# Again, so that tools installed just now (the icon renderer) are found.
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target tarvik kestrin-board-sim tarvik_package_files \
    >"$tmp/build.log" 2>&1 || fail "building the program failed"

out="$build/package"
rm -rf "$out"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$tmp/cpack.log" 2>&1 \
    || fail "cpack failed"
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
deb_name="tarvik_${version}_$(dpkg --print-architecture).deb"
[ -f "$out/$deb_name" ] || fail "no $deb_name in $out: $(ls "$out")"
depends=$(dpkg-deb -f "$out/$deb_name" Depends)
for lib in libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 qt6-qpa-plugins; do
    [[ "$depends" == *"$lib"* ]] || fail "the package does not depend on $lib: $depends"
done
say "built $out/$deb_name"

# ---------------------------------------------------------------- install

(cd "$out" && as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y ./tarvik_*.deb) \
    >"$tmp/install.log" 2>&1 || fail "apt-get install failed"

[ "$(stat -c '%U:%G %a' "$folder")" = "root:dialout 2775" ] \
    || fail "$folder is $(stat -c '%U:%G %a' "$folder"), not root:dialout 2775"
[ -x "$folder/tarvik" ] && [ -x "$folder/kestrin-board-sim" ] || fail "programs missing in $folder"
desktop=/usr/share/applications/tarvik.desktop
[ -f "$desktop" ] || fail "no desktop entry $desktop"
grep -qx 'Name=Tarvik Data Logger' "$desktop" || fail "the desktop entry's Name is wrong"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" >"$tmp/desktop.log" 2>&1 || fail "desktop-file-validate"
fi
exec_line=$(sed -n 's/^Exec=//p' "$desktop" | sed 's/ *%[fFuUdDnNickvm]//g')
[ -n "$exec_line" ] || fail "the desktop entry has no Exec line"
say "installed; starting the desktop entry's Exec: $exec_line"

# ---------------------------------------------------------------- run

# An operator: not root, a member of dialout only, as the guide sets one up.
mkdir -m 700 "$tmp/runtime"
as_root chown nobody "$tmp/runtime"
operator=("${sudo[@]}" setpriv --reuid=nobody --regid=nogroup --groups=dialout
    env -i -C / PATH=/usr/bin:/bin HOME="$tmp" XDG_RUNTIME_DIR="$tmp/runtime" LANG=C.UTF-8
    QT_QPA_PLATFORM=offscreen)

"${operator[@]}" "$folder/kestrin-board-sim" --link "$folder/com1" --burst 1 --no-pace \
    </dev/null >"$tmp/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -L "$folder/com1" ] && break; sleep 0.1; done
[ -L "$folder/com1" ] || fail "the simulator made no link $folder/com1"

"${operator[@]}" /bin/sh -c "exec $exec_line" </dev/null >"$tmp/tarvik.log" 2>&1 &
app_pid=$!

record='^"1","[^"]*","[^"]*"'$'\r''$'
for _ in $(seq 200); do
    grep -q "$record" "$folder/Default.csv" 2>/dev/null && break
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
done
grep -q "$record" "$folder/Default.csv" 2>/dev/null \
    || fail "no record of the reading 1 in $folder/Default.csv within 20 s"
grep -qE $'^ComPort=1\r?$' "$folder/Settings.ini" || fail "Settings.ini was not created with ComPort=1"
for f in Default.csv Settings.ini; do
    [[ "$(stat -c '%G %A' "$folder/$f")" == "dialout -rw-rw"* ]] \
        || fail "$f is $(stat -c '%G %A' "$folder/$f"): the next operator could not write it"
done
say "the installed program logged: $(tr -d '\r' <"$folder/Default.csv")"

kill "$app_pid" 2>/dev/null || true
wait "$app_pid" 2>/dev/null || true
app_pid=
kill "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
sim_pid=

# ---------------------------------------------------------------- remove

cp "$folder/Default.csv" "$folder/Settings.ini" "$tmp/"
for step in remove purge; do
    as_root env DEBIAN_FRONTEND=noninteractive apt-get "$step" -y tarvik >"$tmp/$step.log" 2>&1 \
        || fail "apt-get $step failed"
    [ ! -e "$folder/tarvik" ] && [ ! -e /usr/bin/tarvik ] && [ ! -e "$desktop" ] \
        || fail "apt-get $step left the package's files"
    for f in Default.csv Settings.ini; do
        cmp -s "$tmp/$f" "$folder/$f" || fail "apt-get $step did not leave the operator's $f as it was"
    done
done
grep -q 'not empty so not removed' "$tmp/remove.log" && fail "apt-get remove complained about $folder"

say "PASS: installed, logged a reading from $folder/com1, removed and purged with the operator's files kept"
