#!/usr/bin/env bash
# Shows Quillet at work on a machine with no display and no sound card: a JACK server with
# its dummy driver stands in for the sound card, Xvfb for the display. Quillet starts, a
# keyboard appears a second later and plays a short phrase; Quillet's sound is recorded to a
# WAV file and its window to a PNG.
#
# Usage: scripts/demo.sh [output directory, default ./demo-out]
set -euo pipefail
OUT=$(realpath -m "${1:-demo-out}")
cd "$(dirname "$0")/.."
ROOT=$PWD

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

./scripts/deps.sh
if ! command -v import >/dev/null || ! command -v Xvfb >/dev/null; then
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q imagemagick xvfb
fi

BUILD=$ROOT/build-demo
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_TESTS=ON >/dev/null
cmake --build "$BUILD" --target quillet demo_keyboard demo_recorder about_screenshot

mkdir -p "$OUT"
WORK=$(mktemp -d)
mkdir -m 700 "$WORK/runtime"
PIDS=()
cleanup() {
    local i
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
        kill "${PIDS[i]}" 2>/dev/null || true
        wait "${PIDS[i]}" 2>/dev/null || true
    done
    rm -rf "$WORK"
}
trap cleanup EXIT

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        if [ "$SECONDS" -ge "$deadline" ]; then return 1; fi
        sleep 0.1
    done
}

fail() {
    echo "demo: $1" >&2
    for log in "$WORK"/*.log; do
        echo "--- $(basename "$log")" >&2
        tail -n 20 "$log" >&2
    done
    exit 1
}

# A server of our own, so that a JACK server the user runs is left alone.
export JACK_DEFAULT_SERVER="quillet-demo-$$"
jackd -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 256 >"$WORK/jackd.log" 2>&1 &
PIDS+=($!)
jack_wait -w -t 10 >/dev/null 2>&1 || fail "the JACK server did not start"

Xvfb -displayfd 3 -screen 0 640x400x24 -nolisten tcp 3>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
PIDS+=($!)
wait_for 10 test -s "$WORK/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -n 1 "$WORK/display")"

echo "demo: starting Quillet on display $DISPLAY and JACK server $JACK_DEFAULT_SERVER"
QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$WORK/runtime" QUILLET_AUDIO=jack QUILLET_MIDI=jack \
    "$BUILD/app/quillet" >"$WORK/quillet.log" 2>&1 &
PIDS+=($!)

"$BUILD/tests/jack/demo_recorder" "$OUT/quillet.wav" 60 >"$WORK/recorder.log" 2>&1 &
RECORDER=$!
PIDS+=($RECORDER)
wait_for 60 grep -q recording "$WORK/recorder.log" || fail "Quillet's audio ports did not appear"

# The keyboard waits for Quillet's MIDI port and appears a second after it.
"$BUILD/tests/jack/demo_keyboard" "Demo Keys" >"$WORK/keyboard.log" 2>&1 &
KEYBOARD=$!
PIDS+=($KEYBOARD)
wait_for 30 grep -q connected "$WORK/keyboard.log" || fail "Quillet did not connect the keyboard"
echo "demo: keyboard $(grep connected "$WORK/keyboard.log")"
wait "$KEYBOARD" || fail "the keyboard did not play its phrase"

# The status line shows the keyboard's name by now; the last notes are still ringing. The
# screen is black but for the window, which the trim keeps.
import -window root "$WORK/screen.png" || fail "the screenshot failed"
convert "$WORK/screen.png" -bordercolor black -border 1 -trim +repage "$OUT/quillet.png" ||
    cp "$WORK/screen.png" "$OUT/quillet.png"
sleep 2
kill -INT "$RECORDER"
wait "$RECORDER" || fail "the recording was not written"
grep wrote "$WORK/recorder.log"

# The About box, drawn by the same X server.
QT_QPA_PLATFORM=xcb "$BUILD/tests/shell/about_screenshot" "$WORK/about" >"$WORK/about.log" 2>&1 ||
    fail "the About box picture failed"
cp "$WORK/about/about-box.png" "$OUT/about.png"

echo "demo: done"
echo "  sound:      $OUT/quillet.wav"
echo "  screenshot: $OUT/quillet.png"
echo "  About box:  $OUT/about.png"
