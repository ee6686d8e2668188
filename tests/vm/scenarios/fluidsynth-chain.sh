#!/bin/bash
# The whole chain that Quillet's ALSA scenarios rely on, with the distribution's
# own programs in Quillet's place: notes written to the USB gadget keyboard
# reach FluidSynth (its ALSA sequencer input and ALSA audio driver, playing to
# the loopback card) and come out of the loopback card's capture side as sound
# at their pitch, with silence before. A template for those scenarios.
set -euo pipefail
# shellcheck source=SCRIPTDIR/../lib.sh
source "$QVM_LIB"

command -v fluidsynth >/dev/null || qvm_skip "fluidsynth is not installed"
soundfont=
for sf in /usr/share/sounds/sf2/default-GM.sf2 /usr/share/sounds/sf3/default-GM.sf3 \
    /usr/share/sounds/sf2/FluidR3_GM.sf2 /usr/share/sounds/sf2/TimGM6mb.sf2; do
    [[ -r $sf ]] && { soundfont=$sf; break; }
done
[[ -n $soundfont ]] || qvm_skip "no General MIDI SoundFont installed"

keys_port="Quillet Test Keys MIDI 1"
qvm_gadget_plug keys "Quillet Test Keys"

# Bigger buffers than a desktop would use: under emulation, 64-frame periods
# run late, and FluidSynth's ALSA driver gives up after an underrun on this card.
start=$(qvm_us)
fluidsynth -i -s -a alsa -m alsa_seq -r 48000 -g 0.5 \
    -o audio.alsa.device="$QVM_LOOPBACK_PLAY" -o audio.period-size=256 -o audio.periods=4 \
    -o midi.alsa_seq.id=Chain "$soundfont" >"$QVM_OUT/fluidsynth.log" 2>&1 &
synth_port="Synth input port (Chain:0)"
qvm_wait_until 120 qvm_seq_has_port "$synth_port" ||
    qvm_fail "FluidSynth's port did not appear: $(cat "$QVM_OUT/fluidsynth.log")"
qvm_timing "FluidSynth start ($soundfont) to its port" "$(($(qvm_us) - start))"
aconnect "$(qvm_seq_field "$keys_port" 1)" "$(qvm_seq_field "$synth_port" 1)"

# note number, frequency: A3, A4, E5.
for note in "57 220.00" "69 440.00" "76 659.26"; do
    read -r number freq <<<"$note"
    hex=$(printf '%02X' "$number")
    rec=$QVM_OUT/note-$number.wav
    qvm_record_start "$rec"
    qvm_record_wait_for 0.5
    # Where the capture stands when the note leaves the keyboard, to measure the delay.
    sent=$(qvm_capture_frames)
    qvm_gadget_send keys "90 $hex 64"
    qvm_record_wait_for 1.0
    qvm_gadget_send keys "80 $hex 00"
    qvm_record_stop 0.3
    qvm_analyze "$rec" >/dev/null
    onset=$(qvm_analysis "$rec" onset_s)
    pre=$(qvm_analysis "$rec" pre_onset_rms_dbfs)
    pitch=$(qvm_analysis "$rec" pitch_hz)
    qvm_log "note $number: onset $onset s, $pre dBFS before, $pitch Hz (expected $freq Hz)"
    [[ $onset != none ]] || qvm_fail "note $number: no sound"
    qvm_timing "note $number: sent to sound out" \
        "$(awk -v o="$onset" -v s="$sent" 'BEGIN { printf "%d", (o - s / 48000) * 1000000 }')"
    qvm_float_cmp "$onset" '>=' 0.4 || qvm_fail "note $number: sound before the note was sent"
    qvm_float_cmp "$pre" '<' -60 || qvm_fail "note $number: no silence before it ($pre dBFS)"
    # Half a semitone either way: a piano's samples are not tuned to the cent.
    low=$(awk -v f="$freq" 'BEGIN { print f * 0.9715 }')
    high=$(awk -v f="$freq" 'BEGIN { print f * 1.0293 }')
    if [[ $pitch == none ]] || ! qvm_float_cmp "$pitch" '>' "$low" || ! qvm_float_cmp "$pitch" '<' "$high"; then
        qvm_fail "note $number: pitch $pitch Hz, expected $freq Hz"
    fi
done
qvm_pass "three notes sounded at their pitch, each after silence"
