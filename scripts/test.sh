#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds, and runs every test with CTest, whose
# summary ends the output and is the verdict. The package smoke test is one
# of them (package_smoke, label package): it installs the built .deb and
# removes it again, and is reported as skipped where installing needs a
# password or TARVIK_PACKAGE_SMOKE=0.
set -euo pipefail
cd "$(dirname "$0")/.."

# The x11 tests run the windows under Xvfb and openbox, driven with xdotool;
# the screen reader tests need Qt's private GUI headers.
scripts/deps.sh xvfb openbox x11-utils xdotool qt6-base-private-dev
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)"

# The package the smoke test installs, built beside the build folder, where
# the smoke test can run; a failure here is the smoke test's to report.
if [ "${TARVIK_PACKAGE_SMOKE:-1}" != 0 ] && { [ "$(id -u)" -eq 0 ] || sudo -n true 2>/dev/null; }; then
    BUILD_DIR=$build scripts/package-smoke.sh build \
        || echo "package-smoke: building the package failed; CTest's package_smoke says why"
fi

exec ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
