#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Windows build of Tarvik from Debian 12, with MinGW-w64 and a Qt cross-built
# once into a cache outside the repository.
#
#   scripts/windows.sh            qt, build, package and test, skipping what is done
#   scripts/windows.sh qt         cross-build Qt 6.4.2 into the cache (an hour or more)
#   scripts/windows.sh build      tarvik.exe, tarvik-port.exe and the tests for Windows
#   scripts/windows.sh package    the portable zip and the NSIS installer
#   scripts/windows.sh test       the Windows tests under Wine
#
# TARVIK_WIN_CACHE     where the cross Qt lives (~/.cache/tarvik)
# TARVIK_QTSERIALPORT  the qtserialport 6.4.2 source archive (../shared/vendor/...)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD

qt_version=6.4.2
cache=${TARVIK_WIN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tarvik}
qt_prefix=$cache/qt-$qt_version-mingw64
qt_src=$cache/src
serialport_sha256=682626d3ae07074df0f707dab880f1eab1c133a04d5bed688a3ec63af305ae89
serialport_archive=${TARVIK_QTSERIALPORT:-$root/../shared/vendor/qtserialport-everywhere-src-$qt_version.tar.xz}
toolchain=$root/scripts/windows/mingw-toolchain.cmake
build=${WIN_BUILD_DIR:-$root/build-windows}
jobs=$(nproc)

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

# Progress goes to standard error: functions whose result is read with $(...)
# print that result, and only that, on standard output.
log() { printf 'windows.sh: %s\n' "$*" >&2; }

install_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    log "installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    {
        "${sudo[@]}" apt-get update -qq
        "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
    } >&2
}

cross_packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
                binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
                cmake ninja-build qt6-base-dev-tools qt6-base-dev xz-utils)

qt_ready() { [ -f "$qt_prefix/.tarvik-complete" ]; }

apt_etc=${TARVIK_APT_ETC:-/etc/apt}

# Debian's source of qtbase 6.4.2. Adds a deb-src line for the sources this
# machine already uses when there is none. Prints the source folder only.
fetch_qtbase() {
    local dir
    mkdir -p "$qt_src"
    dir=$(find "$qt_src" -maxdepth 1 -type d -name 'qt6-base-6.4.2*' | head -n 1)
    if [ -n "$dir" ]; then echo "$dir"; return; fi
    if ! (cd "$qt_src" && apt-get source -qq qt6-base >/dev/null 2>&1); then
        log "adding deb-src entries for the configured Debian sources"
        {
            if [ -f "$apt_etc/sources.list.d/debian.sources" ]; then
                "${sudo[@]}" sed -i 's/^Types: deb$/Types: deb deb-src/' "$apt_etc/sources.list.d/debian.sources"
            fi
            if [ -f "$apt_etc/sources.list" ]; then
                grep -E '^deb ' "$apt_etc/sources.list" | sed 's/^deb /deb-src /' |
                    "${sudo[@]}" tee "$apt_etc/sources.list.d/tarvik-deb-src.list" >/dev/null
            fi
            "${sudo[@]}" apt-get update -qq
            install_packages dpkg-dev
            (cd "$qt_src" && apt-get source -qq qt6-base >/dev/null)
        } >&2
    fi
    find "$qt_src" -maxdepth 1 -type d -name 'qt6-base-6.4.2*' | head -n 1
}

fetch_qtserialport() {
    local dir=$qt_src/qtserialport-everywhere-src-$qt_version
    if [ ! -d "$dir" ]; then
        mkdir -p "$qt_src"
        [ -f "$serialport_archive" ] || { log "no qtserialport source at $serialport_archive (set TARVIK_QTSERIALPORT)"; exit 1; }
        echo "$serialport_sha256  $serialport_archive" | sha256sum -c --quiet - ||
            { log "checksum of $serialport_archive does not match"; exit 1; }
        tar -C "$qt_src" -xJf "$serialport_archive" >&2
    fi
    echo "$dir"
}

host_args=(-DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake)

step_qt() {
    if qt_ready; then log "cross Qt is ready in $qt_prefix"; return; fi
    install_packages "${cross_packages[@]}"
    local base serial
    base=$(fetch_qtbase)
    serial=$(fetch_qtserialport)

    # Only what Tarvik loads: Core, Gui, Widgets, Test, the Windows platform
    # plugin and style, SerialPort. OpenGL stays on: 6.4.2's Windows platform
    # plugin does not build without it. Debian's repacked source lacks
    # wintab.h, hence no tablet events.
    if [ ! -f "$qt_src/build-qtbase/build.ninja" ]; then
        cmake -S "$base" -B "$qt_src/build-qtbase" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$toolchain" "${host_args[@]}" \
            -DCMAKE_INSTALL_PREFIX="$qt_prefix" -DCMAKE_BUILD_TYPE=Release \
            -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
            -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF \
            -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
            -DFEATURE_tabletevent=OFF -DFEATURE_vulkan=OFF -DFEATURE_icu=OFF \
            -DFEATURE_freetype=OFF -DFEATURE_fontconfig=OFF -DFEATURE_opengl=ON \
            -DFEATURE_opengl_desktop=ON -DFEATURE_opengl_dynamic=OFF \
            -DFEATURE_sql_sqlite=OFF -DFEATURE_zstd=OFF -DFEATURE_brotli=OFF \
            -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF \
            -DFEATURE_system_libpng=OFF -DFEATURE_system_libjpeg=OFF \
            -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_doubleconversion=OFF
    fi
    cmake --build "$qt_src/build-qtbase" -j "$jobs"
    cmake --install "$qt_src/build-qtbase"

    if [ ! -f "$qt_src/build-qtserialport/build.ninja" ]; then
        cmake -S "$serial" -B "$qt_src/build-qtserialport" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$qt_prefix/lib/cmake/Qt6/qt.toolchain.cmake" \
            "${host_args[@]}" -DCMAKE_INSTALL_PREFIX="$qt_prefix" \
            -DCMAKE_BUILD_TYPE=Release -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
    fi
    cmake --build "$qt_src/build-qtserialport" -j "$jobs"
    cmake --install "$qt_src/build-qtserialport"
    touch "$qt_prefix/.tarvik-complete"
    log "cross Qt installed in $qt_prefix"
}

# ---------------------------------------------------------------- build

require_qt() {
    qt_ready && return 0
    log "no cross Qt in $qt_prefix: run 'scripts/windows.sh qt' first (an hour or more)"
    exit 1
}

step_build() {
    require_qt
    install_packages "${cross_packages[@]}"
    cmake -S "$root" -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$qt_prefix/lib/cmake/Qt6/qt.toolchain.cmake" \
        "${host_args[@]}" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_CROSSCOMPILING_EMULATOR="$root/scripts/windows/wine-run" >/dev/null
    cmake --build "$build" -j "$jobs"
}

# -------------------------------------------------------------- package

# version: the project's, as the build has it.
source "$root/scripts/version.sh"

# The DLLs a Windows binary imports, by name.
imports() { x86_64-w64-mingw32-objdump -p "$1" | sed -nE 's/^\s*DLL Name: (.*)$/\1/p'; }

mingw_gcc=${TARVIK_MINGW_GCC:-/usr/lib/gcc/x86_64-w64-mingw32}
mingw_sysroot=${TARVIK_MINGW_SYSROOT:-/usr/x86_64-w64-mingw32}

# Where the MinGW runtime DLLs are. Looked up when asked, not when the script
# starts: on a fresh machine the compiler is installed by the qt step of the
# same run, and a pattern expanded before that stays unexpanded.
mingw_runtime_dirs() {
    local d
    for d in "$mingw_gcc"/*-posix "$mingw_sysroot/lib"; do
        [ -d "$d" ] && echo "$d"
    done
    return 0
}

# Copies into the stage every DLL that the programs and the plugins they load
# need, from the cross Qt or the MinGW runtime; system DLLs are Windows' own.
collect_dlls() {
    local stage=$1 queue=("$stage"/tarvik.exe "$stage"/tarvik-port.exe "$stage"/platforms/*.dll "$stage"/styles/*.dll)
    local seen=" " f dll src d runtime
    mapfile -t runtime < <(mingw_runtime_dirs)
    while [ ${#queue[@]} -gt 0 ]; do
        f=${queue[0]}; queue=("${queue[@]:1}")
        for dll in $(imports "$f"); do
            case "$seen" in *" ${dll,,} "*) continue ;; esac
            seen+="${dll,,} "
            src=""
            for d in "$qt_prefix/bin" "${runtime[@]}"; do
                [ -f "$d/$dll" ] && { src=$d/$dll; break; }
            done
            if [ -z "$src" ]; then
                # Qt's and the compiler's own DLLs must be found; any other
                # is Windows' own.
                case ${dll,,} in
                qt6*.dll | libstdc++*.dll | libgcc*.dll | libwinpthread*.dll)
                    log "$dll, needed by $(basename "$f"), is in neither $qt_prefix/bin nor the MinGW runtime"
                    exit 1 ;;
                esac
                continue
            fi
            cp "$src" "$stage/"
            echo "$dll" >>"$stage/.copied"
            queue+=("$stage/$dll")
        done
    done
}

step_package() {
    require_qt
    [ -f "$build/app/tarvik.exe" ] && [ -f "$build/app/tarvik-port.exe" ] || step_build
    install_packages nsis zip
    local v stage out
    v=$(version)
    out=$build/dist
    stage=$out/tarvik-$v-windows-x64
    rm -rf "$out"; mkdir -p "$stage/platforms" "$stage/styles"
    # tarvik-port.exe beside tarvik.exe, built with the same data folder.
    cp "$build/app/tarvik.exe" "$build/app/tarvik-port.exe" "$stage/"
    x86_64-w64-mingw32-strip "$stage/tarvik.exe" "$stage/tarvik-port.exe"
    cp "$qt_prefix/plugins/platforms/qwindows.dll" "$stage/platforms/"
    cp "$qt_prefix"/plugins/styles/*.dll "$stage/styles/" 2>/dev/null || true
    collect_dlls "$stage"
    # Symbols are of no use to an operator and were most of the zip's size.
    find "$stage" -name '*.dll' -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
    "$root/scripts/windows/notices.sh" "$stage" "$qt_src" >"$stage/THIRD-PARTY-NOTICES.txt"
    rm -f "$stage/.copied"
    cp "$root/LICENSE" "$stage/LICENSE.txt" 2>/dev/null || true

    (cd "$out" && rm -f "tarvik-$v-windows-x64.zip" && zip -qr "tarvik-$v-windows-x64.zip" "tarvik-$v-windows-x64")

    # The installer carries the same files, with the program built to keep
    # the operators' files in %ProgramData%\Tarvik.
    local installed=$out/installer-stage
    cp -r "$stage" "$installed"
    cp "$build/app/programdata/tarvik.exe" "$installed/tarvik.exe"
    cp "$build/app/programdata/tarvik-port.exe" "$installed/tarvik-port.exe"
    x86_64-w64-mingw32-strip "$installed/tarvik.exe" "$installed/tarvik-port.exe"

    # The uninstaller removes exactly what was staged.
    local list=$out/uninstall-list.nsh
    (cd "$installed" && find . -type f | sort | sed 's#^\./##; s#/#\\#g' |
        while read -r f; do printf 'Delete "$INSTDIR\\%s"\n' "$f"; done
     cd "$installed" && find . -mindepth 1 -type d | sort -r | sed 's#^\./##; s#/#\\#g' |
        while read -r d; do printf 'RMDir "$INSTDIR\\%s"\n' "$d"; done) >"$list"
    makensis -V2 -DVERSION="$v" -DSTAGE="$installed" -DOUTFILE="$out/tarvik-$v-setup.exe" \
        -DUNINSTALL_LIST="$list" "$root/packaging/windows/tarvik.nsi"
    log "made $out/tarvik-$v-windows-x64.zip and $out/tarvik-$v-setup.exe"
}

# ----------------------------------------------------------------- test

step_test() {
    require_qt
    [ -f "$build/dist/tarvik-$(version)-setup.exe" ] || step_package
    install_packages wine wine64 xvfb xdotool python3 imagemagick
    export TARVIK_QT_PREFIX=$qt_prefix WINEPREFIX=$build/wine-prefix WINEDEBUG=-all
    wineserver -k 2>/dev/null || true; wineserver -w 2>/dev/null || true
    [ -d "$WINEPREFIX/drive_c" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; }
    TARVIK_WINDOWS_DIST=$build/dist TARVIK_WINDOWS_VERSION=$(version) \
        ctest --test-dir "$build" --output-on-failure
}

# Sourced (by its test), it only defines the steps.
[ "${BASH_SOURCE[0]}" = "$0" ] || return 0

steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(qt build package test)
for s in "${steps[@]}"; do
    case $s in
        qt) step_qt ;;
        build) step_build ;;
        package) step_package ;;
        test) step_test ;;
        *) log "unknown step '$s' (qt, build, package, test)"; exit 2 ;;
    esac
done
