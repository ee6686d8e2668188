#!/usr/bin/env bash
# Builds Quillet and writes pictures of its main window and of its About box, as X11 draws them
# for a user, from the program itself under a virtual display: main-window.png, about-box.png.
# Usage: scripts/screenshot.sh [OUTPUT_DIR]   (default: build/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
OUT=$(realpath -m "${1:-build/screenshots}")
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
./scripts/deps.sh
command -v xdotool >/dev/null && command -v import >/dev/null && command -v Xvfb >/dev/null ||
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q xvfb xdotool imagemagick
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_TESTS=OFF >/dev/null
cmake --build build --target quillet

mkdir -p "$OUT"
WORK=$(mktemp -d)
mkdir -m 700 "$WORK/runtime"
PIDS=()
trap 'kill "${PIDS[@]}" 2>/dev/null; wait; rm -rf "$WORK"' EXIT
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$WORK/display" 2>/dev/null &
PIDS+=($!)
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n 1 "$WORK/display")"
# A synthesizer that needs no sound card, and no keyboard: the window says so.
QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$WORK/runtime" QUILLET_AUDIO=offline QUILLET_MIDI=loopback \
    ./build/app/quillet >"$WORK/quillet.log" 2>&1 &
PIDS+=($!)
# shellcheck source=scripts/pictures.sh
source scripts/pictures.sh
# The window says "No keyboard found" from the watch's first tick on.
for _ in $(seq 100); do [ -n "$(quillet_windows)" ] && break; sleep 0.1; done
sleep 2
main_window_picture "$OUT/main-window.png"
about_box_picture "$OUT/about-box.png" || { cat "$WORK/quillet.log" >&2; exit 1; }
echo "screenshot: $OUT/main-window.png $OUT/about-box.png"
