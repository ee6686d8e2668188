#!/bin/bash
# Proves the guest with ALSA's own tools: the sequencer with "Midi Through",
# a USB MIDI gadget keyboard that appears, plays and goes like a real one, and
# the loopback card carrying a tone from its playback side to its capture side.
set -euo pipefail
# shellcheck source=SCRIPTDIR/../lib.sh
source "$QVM_LIB"

keys="Quillet Test Keys"
keys_port="$keys MIDI 1"

# The build folder, when the test command passes it, is readable here at its own path.
if [[ -n ${QUILLET_BUILD_DIR:-} ]]; then
    [[ -r $QUILLET_BUILD_DIR/CMakeCache.txt ]] ||
        qvm_fail "the build folder $QUILLET_BUILD_DIR is not readable in the guest"
    qvm_pass "build folder $QUILLET_BUILD_DIR readable"
fi

# --- The sequencer before any keyboard -------------------------------------
qvm_seq_has_port "Midi Through Port-0" || qvm_fail "no \"Midi Through Port-0\" in the sequencer"
qvm_pass "\"Midi Through Port-0\" listed"
aconnect -l | grep -q "'Midi Through'" || qvm_fail "aconnect -l does not list \"Midi Through\""
cards=$(grep -c '^ *[0-9]* \[' /proc/asound/cards)
if [[ $cards != 1 ]] || ! grep -q '\[Loopback *\]' /proc/asound/cards; then
    qvm_fail "the loopback card should be the only sound card: $(cat /proc/asound/cards)"
fi
qvm_pass "the loopback card is the only sound card"
sources=$(qvm_seq_sources)
[[ -z $sources ]] || qvm_fail "MIDI sources listed with no keyboard plugged in: $sources"
qvm_pass "no MIDI source before a keyboard is plugged in"

# --- Plugging the keyboard in ------------------------------------------------
start=$(qvm_us)
qvm_gadget_create keys "$keys"
qvm_timing "create gadget keys (bound, not plugged in)" "$(($(qvm_us) - start))"
qvm_seq_has_port "$keys_port" && qvm_fail "\"$keys_port\" listed before the keyboard was plugged in"
[[ -z $(qvm_seq_sources) ]] || qvm_fail "the gadget side shows as a MIDI source: $(qvm_seq_sources)"

qvm_gadget_plug keys
line=$(qvm_seq_port "$keys_port")
IFS=$'\t' read -r addr ctype cname _ caps types _ _ source <<<"$line"
qvm_log "sequencer: $addr client \"$cname\" ($ctype), caps $caps, types $types"
[[ $ctype == kernel ]] || qvm_fail "\"$keys_port\" is not a kernel client's port"
[[ ,$types, == *,HARDWARE,* ]] || qvm_fail "\"$keys_port\" has no HARDWARE type: $types"
[[ $source == source ]] || qvm_fail "\"$keys_port\" does not count as a MIDI source"
sources=$(qvm_seq_sources)
[[ $sources == "$keys_port" ]] || qvm_fail "the MIDI sources should be \"$keys_port\" alone, not: $sources"
qvm_pass "\"$keys_port\" is a kernel HARDWARE port and the only MIDI source"

# --- Notes from the keyboard ------------------------------------------------
dump=$QVM_OUT/aseqdump.txt
stdbuf -oL aseqdump -p "$addr" >"$dump" 2>&1 &
dump_pid=$!
qvm_wait_until 10 qvm_seq_has_receiver "$keys_port" ||
    qvm_fail "aseqdump did not subscribe to \"$keys_port\": $(cat "$dump")"
rawmidi=$(qvm_gadget_rawmidi keys)
qvm_log "writing Note On/Off A4 to the gadget side ($rawmidi)"
start=$(qvm_us)
qvm_gadget_send keys "90 45 64 80 45 00"
qvm_wait_until 10 grep -q "Note off .*69" "$dump" ||
    qvm_fail "aseqdump did not receive the notes: $(cat "$dump")"
qvm_timing "note bytes written to both events received" "$(($(qvm_us) - start))"
grep -Eq "Note on +0, note 69, velocity 100" "$dump" || qvm_fail "no Note on 69/100: $(cat "$dump")"
qvm_pass "aseqdump received: $(grep -E 'Note (on|off)' "$dump" | tr -s ' ' | paste -sd ';' -)"
kill "$dump_pid" 2>/dev/null || true

# --- A second keyboard at the same time --------------------------------------
qvm_gadget_plug second "Quillet Second Keys"
sources=$(qvm_seq_sources | sort | paste -sd '|' -)
[[ $sources == "Quillet Second Keys MIDI 1|$keys_port" ]] ||
    qvm_fail "with two keyboards the sources should be both ports, not: $sources"
qvm_pass "two keyboards plugged in at once"
qvm_gadget_unplug second

# --- Sound through the loopback card ----------------------------------------
tone=$QVM_OUT/tone.wav
rec=$QVM_OUT/loopback.wav
qvm_tone "$tone" 440 1
qvm_record_start "$rec"
# Silence first: half a second of capture before the tone plays.
qvm_record_wait_for 0.5
start=$(qvm_us)
aplay -q -D "$QVM_LOOPBACK_PLAY" "$tone" || qvm_fail "aplay to $QVM_LOOPBACK_PLAY failed"
qvm_timing "aplay of a 1 s tone" "$(($(qvm_us) - start))"
qvm_record_stop 0.3
qvm_analyze "$rec"
onset=$(qvm_analysis "$rec" onset_s)
pre=$(qvm_analysis "$rec" pre_onset_rms_dbfs)
pitch=$(qvm_analysis "$rec" pitch_hz)
[[ $onset != none ]] || qvm_fail "no sound in the recording"
qvm_float_cmp "$onset" '>=' 0.4 || qvm_fail "the sound starts at $onset s, before the tone was played"
qvm_float_cmp "$pre" '<' -60 || qvm_fail "no silence before the tone: $pre dBFS"
if [[ $pitch == none ]] || ! qvm_float_cmp "$pitch" '>' 435 || ! qvm_float_cmp "$pitch" '<' 445; then
    qvm_fail "the recorded pitch is $pitch Hz, not 440 Hz"
fi
qvm_pass "recorded ${pitch} Hz from $onset s, $pre dBFS before"

# --- Unplugging --------------------------------------------------------------
qvm_gadget_unplug keys
[[ -z $(qvm_seq_sources) ]] || qvm_fail "MIDI sources left after unplugging: $(qvm_seq_sources)"
grep -q "$keys" /proc/asound/cards && qvm_fail "the keyboard's card is still there after unplugging"
qvm_pass "unplugged: the port and the card are gone"
qvm_gadget_plug keys
qvm_pass "plugged in again"
qvm_gadget_unplug keys
qvm_log "smoke scenario passed"
