#!/usr/bin/env bash
# Builds Quillet and, under a virtual X server, writes pictures of the main window with its
# menu bar and of the About box, as X11 draws them for a user.
# Usage: scripts/screenshot-about.sh [OUTPUT_DIR]   (default: build-screenshot/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
OUT=$(realpath -m "${1:-build-screenshot/screenshots}")
./scripts/deps.sh
# A build directory of its own: the picture program lives with the tests.
cmake -S . -B build-screenshot -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_TESTS=ON \
    >/dev/null
cmake --build build-screenshot --target about_screenshot
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
    ./build-screenshot/tests/shell/about_screenshot "$OUT"
