#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# scripts/windows.sh's helpers whose result is read with $(...) must print
# that result and nothing else: a progress line on standard output once
# became cmake's source folder. Runs the helpers against stand-in apt tools,
# so no Qt is built and the machine's apt set-up is not touched.
set -euo pipefail
script=$(cd "$(dirname "$0")/../.." && pwd)/scripts/windows.sh
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
check() { # name expected actual
    if [ "$2" = "$3" ]; then echo "PASS   : $1"; else
        echo "FAIL!  : $1"; echo "   Actual  : '$3'"; echo "   Expected: '$2'"; failures=$((failures + 1)); fi
}

# Stand-ins: apt-get is chatty on standard output, as the real one is, and
# 'source' works only once a deb-src line exists.
mkdir -p "$tmp/bin" "$tmp/etc/sources.list.d"
cat >"$tmp/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "apt-get chatter: $*"
case " $* " in
    *" source "*)
        grep -qs 'deb-src' "$TARVIK_APT_ETC"/sources.list.d/* || { echo "E: no deb-src" >&2; exit 100; }
        mkdir -p qt6-base-6.4.2+dfsg ;;
esac
STUB
printf '#!/bin/sh\nexit 1\n' >"$tmp/bin/dpkg-query"
printf '#!/bin/sh\nexec "$@"\n' >"$tmp/bin/sudo"
chmod +x "$tmp/bin"/*
printf 'Types: deb\nURIs: http://deb.example/debian\nSuites: bookworm\nComponents: main\n' \
    >"$tmp/etc/sources.list.d/debian.sources"
printf 'deb http://deb.example/debian bookworm main\n' >"$tmp/etc/sources.list"

# A stand-in qtserialport archive with its own checksum.
mkdir -p "$tmp/archive/qtserialport-everywhere-src-6.4.2"
tar -C "$tmp/archive" -cJf "$tmp/serialport.tar.xz" qtserialport-everywhere-src-6.4.2

run() { # a helper in a fresh shell that sources the script
    env PATH="$tmp/bin:$PATH" TARVIK_APT_ETC="$tmp/etc" TARVIK_WIN_CACHE="$tmp/cache" \
        TARVIK_MINGW_GCC="$tmp/mingw-gcc" TARVIK_MINGW_SYSROOT="$tmp/mingw" \
        TARVIK_QTSERIALPORT="$tmp/serialport.tar.xz" \
        bash -c 'source "$1"; serialport_sha256=$(sha256sum "$TARVIK_QTSERIALPORT" | cut -d" " -f1); eval "$2"' \
        _ "$script" "$1" 2>"$tmp/stderr"
}

check "fetch_qtbase without deb-src prints only the source folder" \
    "$tmp/cache/src/qt6-base-6.4.2+dfsg" "$(run fetch_qtbase)"
check "fetch_qtbase reported its progress on standard error" \
    "yes" "$(grep -q 'adding deb-src' "$tmp/stderr" && echo yes || echo no)"
check "fetch_qtbase added deb-src to the deb822 sources" \
    "Types: deb deb-src" "$(grep '^Types' "$tmp/etc/sources.list.d/debian.sources")"
check "fetch_qtbase added deb-src for the one-line sources" \
    "deb-src http://deb.example/debian bookworm main" "$(cat "$tmp/etc/sources.list.d/tarvik-deb-src.list")"
check "fetch_qtbase a second time finds the folder" \
    "$tmp/cache/src/qt6-base-6.4.2+dfsg" "$(run fetch_qtbase)"
check "fetch_qtserialport prints only the source folder" \
    "$tmp/cache/src/qtserialport-everywhere-src-6.4.2" "$(run fetch_qtserialport)"
# The newest changelog entry carries the version of the top CMakeLists.txt
# (the package build checks that), so the installer is named after it.
check "version is the project's, the newest changelog entry's" \
    "$(sed -nE 's/^## ([0-9.]+) - .*/\1/p' "$(dirname "$script")/../CHANGELOG.md" | head -n 1)" "$(run version)"

# On a fresh machine the compiler comes with the qt step, after the script
# started: its runtime folder must be looked up when the DLLs are collected.
mkdir -p "$tmp/mingw/lib"
check "mingw_runtime_dirs finds the compiler installed after the script started" \
    "$tmp/mingw-gcc/12-posix $tmp/mingw/lib" \
    "$(run 'mkdir -p "$TARVIK_MINGW_GCC/12-posix"; mingw_runtime_dirs' | tr '\n' ' ' | sed 's/ $//')"

echo "Totals: $((8 - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
