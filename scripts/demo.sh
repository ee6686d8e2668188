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

./scripts/deps.sh test
if ! command -v import >/dev/null || ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null
then
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q imagemagick xvfb xdotool
fi

BUILD=$ROOT/build-demo
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target quillet

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

# Whether JACK lists the port, and whether the two ports are connected.
has_port() { jack_lsp | grep -qxF "$1"; }
connected() { jack_lsp -c "$1" | grep -qxF "   $2"; }

# A server of our own, so that a JACK server the user runs is left alone.
export JACK_DEFAULT_SERVER="quillet-demo-$$"
RATE=48000
jackd -n "$JACK_DEFAULT_SERVER" -d dummy -r $RATE -p 256 >"$WORK/jackd.log" 2>&1 &
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

# Quillet's sound, from its audio ports' first appearance, for as long as the phrase and its end
# take.
wait_for 60 has_port Velunor:out_2 || fail "Quillet's audio ports did not appear"
jack_rec -f "$OUT/quillet.wav" -d 13 Velunor:out_1 Velunor:out_2 >"$WORK/recorder.log" 2>&1 &
RECORDER=$!
PIDS+=($RECORDER)

# A keyboard appears a second after Quillet's MIDI port and plays a short tune in D major over
# held chords, at 120 beats a minute, after two seconds of rest in which Quillet connects it.
# Each note: its beat, its length in beats and its key.
PHRASE="0 .9 62  1 .9 66  2 .9 69  3 .9 74  4 .45 73  4.5 .45 71  5 .9 69  6 .9 66  7 1.8 67
    9 .45 66  9.5 .45 64  10 3.5 62  0 3.8 50  4 3.8 55  7 2.8 52  10 3.5 45  10 3.5 57"
# jack_midiseq takes each note as its first frame, its key and its length in frames.
read -ra NOTES < <(awk -v rate=$RATE '{ for (i = 1; i <= NF; i += 3)
    printf "%d %d %d ", (4 + $i) * rate / 2, $(i + 2), $(i + 1) * rate / 2 } END { print "" }' \
    <<<"$PHRASE")
wait_for 60 has_port Velunor:VelunorPort || fail "Quillet's MIDI port did not appear"
sleep 1
# It plays them in a loop, here a minute long: the demo ends before the loop comes round.
jack_midiseq "Demo Keys" $((60 * RATE)) "${NOTES[@]}" >"$WORK/keyboard.log" 2>&1 &
PIDS+=($!)
wait_for 10 connected "Demo Keys:out" Velunor:VelunorPort ||
    fail "Quillet did not connect the keyboard"
echo "demo: keyboard Demo Keys connected"

# The status line shows the keyboard's name by now.
# shellcheck source=scripts/pictures.sh
source scripts/pictures.sh
main_window_picture "$OUT/quillet.png" || fail "the window's picture failed"
about_box_picture "$OUT/about.png" || fail "the About box picture failed"
wait "$RECORDER" || fail "the recording was not written"

echo "demo: done"
echo "  sound:      $OUT/quillet.wav"
echo "  screenshot: $OUT/quillet.png"
echo "  About box:  $OUT/about.png"
