#!/bin/bash
# Quillet, the program itself, on the guest's ALSA sequencer, FluidSynth's ALSA driver playing
# into the loopback card: "Midi Through" is never taken for a keyboard; a USB keyboard plugged
# in after start-up is connected at the watch's next tick and its notes sound at their pitch,
# one right after a program change to an instrument not loaded yet as soon as the others;
# a second keyboard plugged in later is left alone; the first, plugged out and in again, is
# connected again and plays; unplugging leaves Quillet running, and it quits cleanly (a
# sanitizer build checks for leaks then).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/lib.sh
source "$here/lib.sh"
keys="Quillet Test Keys"

# Both keyboards exist before Quillet starts: binding a gadget gives its gadget side a
# sequencer client until it is detached, and Quillet's watch would take that for a keyboard.
gadget_create keys "$keys"
gadget_create second "Quillet Second Keys"

# Under emulation FluidSynth's ALSA driver underruns with a desktop's small buffers, and an
# underrun can move the loopback card's capture position that notes are timed by: 8 periods
# hold while instruments load. A sanitizer build reports as scripts/test.sh has it on the host.
export QT_QPA_PLATFORM=offscreen QUILLET_MIDI=alsa QUILLET_AUDIO=driver \
    QUILLET_AUDIO_PERIOD_SIZE=256 QUILLET_AUDIO_PERIODS=8 \
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    LSAN_OPTIONS=suppressions=$here/../sanitizer/lsan.supp:print_suppressions=0 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:suppressions=$here/../sanitizer/ubsan.supp
"$1" >/tmp/quillet.log 2>&1 &
quillet=$!
trap 'kill $quillet 2>/dev/null || true; sed "s/^/quillet| /" /tmp/quillet.log' EXIT
wait_until 60000 has_port VelunorPort || fail "Quillet's port VelunorPort did not appear"
log "Quillet's port listed $WAITED ms after its start"
wait_until 30000 grep -q "FluidSynth's alsa driver" /tmp/quillet.log || fail "no sound through ALSA"
log "Quillet plays through FluidSynth's ALSA driver, $WAITED ms later"
has_port "Midi Through Port-0" || fail "no Midi Through port"
senders_are VelunorPort "" || fail "connected without a keyboard: $(senders VelunorPort)"

plug keys
# The watch ticks every second.
wait_until 2500 connected VelunorPort || fail "$keys was not connected"
log "TIME $keys connected $WAITED ms after its port was listed"
senders_are VelunorPort "$keys" || fail "connected to $(senders VelunorPort), not to $keys"

# An octave apart: A3 and A4.
record_start /tmp/notes.wav
play keys 57
a3=$PLAYED
play keys 69
a4=$PLAYED
# Program changes to instruments not loaded yet (guitar, strings, choir, trumpet on channels
# 2 to 5, piano on 1) with the note at once: it plays on the instrument its channel has, as
# soon as a note does, not after the loads.
play keys 69 "C1 18 C2 30 C3 34 C4 38 C0 00"
changed=$PLAYED
record_stop
heard /tmp/notes.wav "$a3" 57
heard /tmp/notes.wav "$a4" 69
plain=$DELAY
heard /tmp/notes.wav "$changed" 69
((DELAY <= plain + 200)) || fail "after a program change the note sounded after $DELAY ms, not $plain"

plug second
# Two ticks of the watch: it would have connected the second keyboard by then.
not_keys_alone() { ! senders_are VelunorPort "$keys"; }
! wait_until 2500 not_keys_alone ||
    fail "a keyboard plugged in later was connected: $(senders VelunorPort)"

# Plugged out and in again, the keyboard is a new port with the same names: Quillet connects
# it again by itself (its watch has stopped), and it plays; the second keyboard stays alone.
unplug keys
wait_until 2500 senders_are VelunorPort "" || fail "still connected: $(senders VelunorPort)"
plug keys
wait_until 1500 connected VelunorPort || fail "$keys plugged in again was not connected"
log "TIME $keys connected again $WAITED ms after its port was listed"
senders_are VelunorPort "$keys" || fail "connected to $(senders VelunorPort), not to $keys"
record_start /tmp/again.wav
play keys 69
record_stop
heard /tmp/again.wav "$PLAYED" 69
log "quitting Quillet"
kill -TERM $quillet
status=0
wait $quillet || status=$?
((status == 0)) || fail "Quillet ended with status $status"
log "passed"
