#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Writes THIRD-PARTY-NOTICES for a Windows stage: one section for each
# library that scripts/windows.sh actually copied into it (listed in the
# stage's .copied), with the licence texts and the source offer they need.
# Usage: notices.sh STAGE QT_SOURCE_FOLDER > THIRD-PARTY-NOTICES.txt
set -euo pipefail
stage=$1
qt_src=$2
qtbase=$(find "$qt_src" -maxdepth 1 -type d -name 'qt6-base-6.4.2*' | head -n 1)
copied=$(sort -u "$stage/.copied")
rule() { printf '\n%s\n\n' "========================================================================"; }
matching() { echo "$copied" | grep -iE "$1" | tr '\n' ' ' || true; }

cat <<'EOF'
Third-party software carried by this build of Tarvik Data Logger
================================================================

Tarvik itself is under the MIT licence (LICENSE.txt). The libraries below
are not ours; each is listed with its licence. They are used unmodified, as
shared libraries (DLLs) that you may replace with your own builds of the
same versions.
EOF

qt=$(matching '^Qt6')
if [ -n "$qt" ]; then
    plugins=$(cd "$stage" && ls platforms/*.dll styles/*.dll 2>/dev/null | tr '\n' ' ')
    rule
    cat <<EOF
Qt 6.4.2 (The Qt Company Ltd. and other contributors)
Files: $qt$plugins
Licence: GNU Lesser General Public License version 3 (LGPL-3.0-only),
below, with the GNU General Public License version 3 it builds on.

Source offer: the complete corresponding source of these libraries is
Debian's source package qt6-base 6.4.2+dfsg-10 (apt-get source qt6-base on
Debian 12) and, where Qt6SerialPort.dll is listed, qtserialport 6.4.2
(upstream tag v6.4.2). On request we send the same source, and the scripts
that built these DLLs from it (scripts/windows.sh in Tarvik's source), for
at least three years from the date of this release, at no more than the
cost of sending it.
EOF
    rule
    cat "$qtbase/LICENSES/LGPL-3.0-only.txt"
    rule
    cat "$qtbase/LICENSES/GPL-3.0-only.txt"
fi

gcc=$(matching '^(libstdc\+\+-6|libgcc_s_seh-1)\.dll$')
if [ -n "$gcc" ]; then
    rule
    cat <<EOF
GCC runtime libraries (Free Software Foundation), from Debian's MinGW-w64
cross compiler (gcc-mingw-w64-x86-64-posix-runtime)
Files: $gcc
Licence: GNU General Public License version 3 with the GCC Runtime Library
Exception version 3.1; the package's copyright file follows.
EOF
    rule
    cat /usr/share/doc/gcc-mingw-w64-x86-64-posix-runtime/copyright
fi

pthread=$(matching '^libwinpthread-1\.dll$')
if [ -n "$pthread" ]; then
    rule
    cat <<EOF
winpthreads (the MinGW-w64 project), from Debian's mingw-w64-x86-64-dev
Files: $pthread
Licence: MIT and BSD-style; the package's copyright file follows.
EOF
    rule
    cat /usr/share/doc/mingw-w64-x86-64-dev/copyright
fi

others=$(echo "$copied" | grep -viE '^(Qt6.*|libstdc\+\+-6|libgcc_s_seh-1|libwinpthread-1)\.dll$' || true)
if [ -n "$others" ]; then
    echo "notices.sh: no notice known for: $others" >&2
    exit 1
fi
