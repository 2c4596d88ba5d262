# SPDX-License-Identifier: MIT
# The project's version for the scripts: read from project() in the top
# CMakeLists.txt, the one place it is written, so that a script names the
# package or the installer as the build does. Sourced, not run.
version() {
    sed -nE 's/^project\(tarvik VERSION ([0-9.]+).*/\1/p' \
        "$(dirname "${BASH_SOURCE[0]}")/../CMakeLists.txt"
}
