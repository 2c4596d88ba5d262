#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package in a build folder of its own (the program built
# with its data folder, /var/opt/tarvik) and checks it with lintian; installs
# a stand-in of the 1.0.0 package, whose operators kept their files in the
# program folder, with such files; upgrades to the new package and checks that
# every operator file moved to the data folder unchanged, without overwriting
# one already there; checks that an operator cannot change the program folder
# and that the installed program, started as an operator with umask 022, logs
# a reading from a simulated board into a file the next operator can write;
# then removes and purges the package and checks that the operators' files
# stayed. Everything it made is removed again at the end, whatever the outcome.
#
# Usage: scripts/package-smoke.sh [BUILD_DIR]   (default $BUILD_DIR, else build;
#        the package is built in BUILD_DIR-deb)
# Needs root or passwordless sudo. Refuses to run where Tarvik is installed or
# its folders hold files, so an operator's installation is never touched.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-${BUILD_DIR:-build}}
# Beside the build folder, so that a compiler cache finds the same paths.
pkg_build=${build%/}-deb
program=/opt/tarvik
data=/var/opt/tarvik
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

status=$(dpkg-query -W -f='${Status}' tarvik 2>/dev/null || true)
case "$status" in
"" | *not-installed) ;;
*)
    say "FAIL: refusing to run: the tarvik package is on this machine ($status);"
    say "      remove it first (its operators' files in $data stay)"
    exit 1
    ;;
esac
declare -A existed=()
for folder in "$program" "$data"; do
    if [ -e "$folder" ]; then
        if [ -n "$(ls -A "$folder")" ]; then
            say "FAIL: refusing to run: $folder holds files, perhaps an operator's:"
            ls -lA "$folder" | sed 's/^/      /'
            exit 1
        fi
        existed[$folder]="$(stat -c '%u:%g' "$folder") $(stat -c '%a' "$folder")"
    fi
done

# Qt's lock file for the port $data/com1. With the folder empty nobody can be
# using that port, so one found now was left by a program that was killed.
port_lock=/var/lock/LCK..$(tr / _ <<<"$data/com1")
as_root rm -f "$port_lock"

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

scripts/deps.sh dpkg-dev file librsvg2-bin desktop-file-utils lintian help2man
# The build folder's compiler launcher (ccache), if it has one, serves the
# package build as well.
launcher=$(sed -n 's/^CMAKE_CXX_COMPILER_LAUNCHER:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
cmake -S . -B "$pkg_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIK_BUILD_TESTS=OFF \
    -DTARVIK_DATA_DIR="$data" ${launcher:+-DCMAKE_CXX_COMPILER_LAUNCHER="$launcher"} \
    >"$tmp/configure.log" 2>&1 || fail "configuring $pkg_build failed"
cmake --build "$pkg_build" -j "$(nproc)" --target tarvik kestrin-board-sim tarvik_package_files \
    >"$tmp/build.log" 2>&1 || fail "building the program failed"

out="$pkg_build/package"
rm -rf "$out"
cpack --config "$pkg_build/CPackConfig.cmake" -G DEB -B "$out" >"$tmp/cpack.log" 2>&1 \
    || fail "cpack failed"
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$pkg_build/CPackConfig.cmake")
deb="$out/tarvik_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no $(basename "$deb") in $out: $(ls "$out")"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 qt6-qpa-plugins; do
    [[ "$depends" == *"$lib"* ]] || fail "the package does not depend on $lib: $depends"
done
say "built $deb"

# Add-on software belongs in /opt, so that tag is right for this package.
# lintian would rather not run as root: it runs as nobody.
cp "$deb" "$tmp/"
chmod 644 "$tmp/$(basename "$deb")"
as_root setpriv --reuid=nobody --regid=nogroup --clear-groups env -i PATH=/usr/bin:/bin HOME="$tmp" \
    lintian "$tmp/$(basename "$deb")" >"$tmp/lintian.log" 2>&1 || true
others=$(grep -v -e ' dir-or-file-in-opt ' -e '^N: ' "$tmp/lintian.log" || true)
[ -z "$others" ] || fail "lintian reports more than dir-or-file-in-opt:"$'\n'"$others"
say "lintian: only dir-or-file-in-opt"

# ---------------------------------------------------------------- 1.0.0

# A stand-in for the 1.0.0 package: its layout (the programs in a program
# folder shared with the dialout group, a launcher setting umask 002) and its
# maintainer scripts, without building that version.
old=$tmp/old
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
as_root dpkg -i "$tmp/tarvik_1.0.0.deb" >"$tmp/old-install.log" 2>&1 \
    || fail "installing the 1.0.0 stand-in failed"
[ "$(stat -c '%U:%G %a' "$program")" = "root:dialout 2775" ] || fail "the 1.0.0 layout is not as it was"

# An operator: not root, a member of dialout only, as the guide sets one up.
mkdir -m 700 "$tmp/runtime"
as_root chown nobody "$tmp/runtime"
operator=("${sudo[@]}" setpriv --reuid=nobody --regid=nogroup --groups=dialout
    env -i -C / PATH=/usr/bin:/bin HOME="$tmp" XDG_RUNTIME_DIR="$tmp/runtime" LANG=C.UTF-8
    QT_QPA_PLATFORM=offscreen)

# What operators of 1.0.0 left in the program folder, made as they made it.
"${operator[@]}" /bin/sh -ec "
    cd $program
    umask 002
    printf '[System]\r\n; the board on the first adapter\r\nComPort=1\r\n' >Settings.ini
    printf '\"1.5\",\"1 Dec 2026\",\"08:00:00\"\r\n' >run7.csv
    printf 'readings of the first shift\n' >.notes
    mkdir shift2
    printf '\"2.5\",\"2 Dec 2026\",\"08:00:00\"\r\n' >shift2/run8.csv
    ln -s /dev/null com1
" || fail "making the operators' 1.0.0 files failed"
# An administrator had put a file of the same name in the new folder already.
as_root mkdir -p "$data"
printf 'the administrator'"'"'s own run7.csv\n' | as_root tee "$data/run7.csv" >/dev/null
mkdir "$tmp/before"
cp -a "$program/Settings.ini" "$program/run7.csv" "$program/.notes" "$program/shift2" \
    "$program/com1" "$tmp/before/"
cp "$data/run7.csv" "$tmp/before/admin-run7.csv"
listing() { # folder names...: what each is, its owner, mode and link target
    local folder=$1
    shift
    for name in "$@"; do stat -c '%n %F %U:%G %a %N' "$folder/$name" | sed "s|$folder/||g"; done
}
listing "$program" Settings.ini run7.csv .notes shift2 shift2/run8.csv com1 >"$tmp/before.txt"

# ---------------------------------------------------------------- upgrade

as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y "$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")" \
    >"$tmp/install.log" 2>&1 || fail "apt-get install over 1.0.0 failed"

[ "$(dpkg-query -W -f='${Version}' tarvik)" = "$version" ] || fail "tarvik $version is not installed"
[ "$(stat -c '%U:%G %a' "$program")" = "root:root 755" ] \
    || fail "$program is $(stat -c '%U:%G %a' "$program"), not root:root 755"
[ "$(ls -A "$program" | tr '\n' ' ')" = "kestrin-board-sim tarvik " ] \
    || fail "$program holds more than the programs: $(ls -A "$program")"
[ "$(stat -c '%U:%G %a' "$data")" = "root:dialout 2775" ] \
    || fail "$data is $(stat -c '%U:%G %a' "$data"), not root:dialout 2775"
listing "$data" Settings.ini old-opt-tarvik-run7.csv .notes shift2 shift2/run8.csv com1 \
    | sed 's/old-opt-tarvik-run7.csv/run7.csv/g' >"$tmp/after.txt"
diff "$tmp/before.txt" "$tmp/after.txt" >"$tmp/moved.log" || fail "the operators' files changed in the move"
for f in Settings.ini .notes shift2/run8.csv; do
    cmp -s "$tmp/before/$f" "$data/$f" || fail "$f is not byte for byte as it was"
done
cmp -s "$tmp/before/run7.csv" "$data/old-opt-tarvik-run7.csv" || fail "the operator's run7.csv was not kept"
cmp -s "$tmp/before/admin-run7.csv" "$data/run7.csv" || fail "the run7.csv already in $data was overwritten"
grep -q "$data/run7.csv already exists" "$tmp/install.log" || fail "the upgrade did not say it kept both run7.csv"
say "upgraded over 1.0.0: the operators' files moved to $data unchanged, none overwritten"

for f in copyright changelog.gz; do
    [ -f "/usr/share/doc/tarvik/$f" ] || fail "no /usr/share/doc/tarvik/$f"
done
for page in tarvik kestrin-board-sim; do
    [ -f "/usr/share/man/man1/$page.1.gz" ] || fail "no manual page $page(1)"
done
/usr/bin/kestrin-board-sim --version | grep -qx "kestrin-board-sim (Tarvik Data Logger) $version" \
    || fail "kestrin-board-sim --version does not say $version"

desktop=/usr/share/applications/tarvik.desktop
[ -f "$desktop" ] || fail "no desktop entry $desktop"
grep -qx 'Name=Tarvik Data Logger' "$desktop" || fail "the desktop entry's Name is wrong"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" >"$tmp/desktop.log" 2>&1 || fail "desktop-file-validate"
fi
exec_line=$(sed -n 's/^Exec=//p' "$desktop" | sed 's/ *%[fFuUdDnNickvm]//g')
[ -n "$exec_line" ] || fail "the desktop entry has no Exec line"

# ---------------------------------------------------------------- operator

# Nothing an operator can do changes what the next one runs.
for attempt in "mv $program/tarvik $program/moved" "touch $program/qt.conf" \
    "mkdir $program/platforms" "touch /usr/bin/tarvik.conf"; do
    if "${operator[@]}" /bin/sh -c "$attempt" 2>/dev/null; then
        fail "an operator could: $attempt"
    fi
done

say "starting the desktop entry's Exec as an operator with umask 022: $exec_line"
"${operator[@]}" "$program/kestrin-board-sim" --link "$data/com1" --burst 1 --no-pace \
    </dev/null >"$tmp/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ "$(readlink "$data/com1")" != /dev/null ] && break; sleep 0.1; done
[ "$(readlink "$data/com1")" != /dev/null ] || fail "the simulator made no link $data/com1"

"${operator[@]}" /bin/sh -c "umask 022; exec $exec_line" </dev/null >"$tmp/tarvik.log" 2>&1 &
app_pid=$!

record='^"1","[^"]*","[^"]*"'$'\r''$'
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

# ---------------------------------------------------------------- remove

kept=(Default.csv Settings.ini run7.csv old-opt-tarvik-run7.csv .notes shift2/run8.csv)
mkdir -p "$tmp/kept/shift2"
for f in "${kept[@]}"; do cp "$data/$f" "$tmp/kept/$f"; done
for step in remove purge; do
    as_root env DEBIAN_FRONTEND=noninteractive apt-get "$step" -y tarvik >"$tmp/$step.log" 2>&1 \
        || fail "apt-get $step failed"
    [ ! -e "$program/tarvik" ] && [ ! -e /usr/bin/tarvik ] && [ ! -e "$desktop" ] \
        || fail "apt-get $step left the package's files"
    for f in "${kept[@]}"; do
        cmp -s "$tmp/kept/$f" "$data/$f" || fail "apt-get $step did not leave the operator's $f as it was"
    done
done
[ ! -e "$program" ] || fail "apt-get purge left $program: $(ls -A "$program")"
grep -q -e "'$program' not empty" -e "'$data' not empty" "$tmp/remove.log" "$tmp/purge.log" \
    && fail "dpkg complained about one of Tarvik's folders"

say "PASS: lintian clean, upgraded over 1.0.0 keeping every operator file, logged a reading" \
    "from $data/com1 as an operator, removed and purged with the operators' files kept"
