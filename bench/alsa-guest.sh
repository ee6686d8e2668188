#!/bin/bash
# The benchmark's guest scenario (quillet_bench --parts alsa boots it with
# tests/vm/run-guest.sh): key to sound through the kernel, from a USB gadget keyboard to the
# loopback card, for Quillet on its ALSA path, FluidSynth's command line with its defaults for
# the same drivers, and Quillet on its PulseAudio path through PipeWire; then a storm of notes
# on each, counting underruns. Figures go out as "alsa-bench: TARGET|metric|unit|value" lines
# on the console, progress as the test helpers' log lines.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/../tests/vm/lib.sh
source "$here/../tests/vm/lib.sh"
quillet=$1
build=${quillet%/app/quillet}
# How many notes and how long a storm: quillet_bench writes its options here.
NOTES=100 CHANGES=40 PRESSES=10 STORM=30 TARGETS="quillet fluidsynth pipewire"
# shellcheck source=/dev/null
[[ ! -e $build/bench/alsa-guest-options ]] || source "$build/bench/alsa-guest-options"
sf2=/usr/share/sounds/sf2/FluidR3_GM.sf2
watch=$build/bench/libalsa_watch.so
keys="Quillet Bench Keys"

row() { echo "alsa-bench: $1|$2: $3|$4|$5"; }
# client NAME: the sequencer client number of the first client whose name starts with NAME.
client() { clients && local c=${CLIENTS%%: \""$1"*} && c=${c##*Client} && echo $((c)); }
count() { grep -c "$@" || true; }

# cpu_ticks PID: the CPU time the process has used, in clock ticks.
cpu_ticks() { local f && read -ra f <"/proc/$1/stat" && echo $((f[13] + f[14])); }

# measure TARGET PATH LOG PID: latency with and without program changes, then the storm; the
# buffers the ALSA driver got and the underruns it met (alsa_watch in LOG).
measure() {
    local before start
    log "$1 on $2: measuring"
    cpu=$(cpu_ticks "$4") start=$SECONDS
    "$build/bench/alsa_latency" --target "$1" --path "$2" --midi hw:Gkeys --notes "$NOTES" \
        --changes "$CHANGES"
    row "$1" "$2" "CPU while measuring (of one CPU)" % \
        $((($(cpu_ticks "$4") - cpu) * 100 / (SECONDS - start) / $(getconf CLK_TCK)))
    sed -n 's/^alsa-watch: \(.*Hz.*\)/driver got: \1/p' "$3" | head -2
    grep -h . /proc/asound/Loopback/pcm0p/sub0/hw_params | sed 's/^/loopback playback: /'
    before=$(count 'alsa-watch: underrun' "$3")
    row "$1" "$2" "underruns while measuring (alsa-lib)" count "$before"
    ((STORM > 0)) || return 0
    log "$1 on $2: storm"
    cpu=$(cpu_ticks "$4")
    "$build/bench/alsa_latency" --target "$1" --path "$2" --midi hw:Gkeys --storm "$STORM"
    row "$1" "$2" "storm CPU (of one CPU)" % $((($(cpu_ticks "$4") - cpu) * 100 / STORM / $(getconf CLK_TCK)))
    read -r -t 2 -u "$nap" _ || true
    row "$1" "$2" "underruns in the storm (alsa-lib)" count $(($(count 'alsa-watch: underrun' "$3") - before))
    row "$1" "$2" "underruns reported by FluidSynth" count "$(grep -v '^alsa-watch' "$3" | grep -ci 'underrun\|xrun')"
}
# stop PID LOG: ends the program and shows its log.
stop() {
    kill -TERM "$1" 2>/dev/null
    wait "$1" 2>/dev/null
    sed "s/^/  log| /" "$2" | grep -v 'alsa-watch: underrun' | head -40
}

gadget_create keys "$keys"
plug keys

# A display and a session bus: Quillet's window is on the display, and on the accessibility bus
# for window_steps.py.
Xvfb :7 -nolisten tcp >/tmp/xvfb.log 2>&1 &
export DISPLAY=:7
wait_until 30000 test -S /tmp/.X11-unix/X7 || log "Xvfb did not start"
eval "$(dbus-daemon --session --fork --print-address=1 | sed 's/^/export DBUS_SESSION_BUS_ADDRESS=/')"
start_quillet() {
    env QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QUILLET_MIDI=alsa \
        QUILLET_AUDIO=driver QUILLET_SOUNDFONT=$sf2 LD_PRELOAD="$watch" "$quillet" >"$1" 2>&1 &
    pid=$!
    wait_until 120000 connected VelunorPort || log "Quillet did not connect the keyboard"
    wait_until 30000 grep -q "audio through" "$1"
    grep "audio through" "$1"
}

if [[ $TARGETS == *quillet* ]]; then
    start_quillet /tmp/quillet-alsa.log
    measure Quillet ALSA /tmp/quillet-alsa.log $pid
    log "Quillet: arrow keys on its window"
    /usr/bin/python3 "$here/window_steps.py" Quillet "$PRESSES"
    stop $pid /tmp/quillet-alsa.log
fi

if [[ $TARGETS == *fluidsynth* ]]; then
    # Its shell reads a pipe nobody writes: it runs until it is ended.
    LD_PRELOAD=$watch fluidsynth -a alsa -m alsa_seq "$sf2" <&"$nap" >/tmp/fluidsynth.log 2>&1 &
    pid=$!
    wait_until 120000 has_port "Synth input port ($pid:0)" || log "FluidSynth has no MIDI port"
    aconnect "$(client "$keys")":0 "$(client "FLUID Synth ($pid)")":0
    measure FluidSynth ALSA /tmp/fluidsynth.log $pid
    stop $pid /tmp/fluidsynth.log
fi

has_sink() { pw-cli ls Node | grep -q alsa_output; }
if [[ $TARGETS == *pipewire* ]]; then
    log "PipeWire: starting"
    /lib/systemd/systemd-udevd --daemon
    udevadm trigger --action=add --subsystem-match=sound
    udevadm settle -t 10
    # WirePlumber's Bluetooth monitor loads its logind module, which fails without systemd's
    # logind ("failed to start systemd logind monitor"), and WirePlumber quits.
    mkdir -p /etc/wireplumber/bluetooth.lua.d
    echo 'bluez_monitor.enabled = false' >/etc/wireplumber/bluetooth.lua.d/60-guest.lua
    # Informational messages too: the sink's xruns and the streams' underruns are among them.
    PIPEWIRE_DEBUG=3 pipewire >/tmp/pipewire.log 2>&1 &
    wireplumber >/tmp/wireplumber.log 2>&1 &
    PIPEWIRE_DEBUG=3 pipewire-pulse >/tmp/pipewire-pulse.log 2>&1 &
    wait_until 30000 test -S /run/user/0/pulse/native || log "no PulseAudio socket"
    wait_until 30000 has_sink || log "PipeWire has no ALSA sink"
    start_quillet /tmp/quillet-pw.log
    measure Quillet PipeWire /tmp/quillet-pw.log $pid
    pw-cli ls Node | grep -E 'node.name|node.latency|api.alsa'
    row Quillet PipeWire "xruns in PipeWire's log" count "$(count -i xrun /tmp/pipewire.log)"
    row Quillet PipeWire "underruns in pipewire-pulse's log" count "$(count -i underrun /tmp/pipewire-pulse.log)"
    stop $pid /tmp/quillet-pw.log
    for f in /tmp/pipewire.log /tmp/wireplumber.log /tmp/pipewire-pulse.log; do
        grep -i -m 20 'xrun\|underrun\|^[EW] \|^\[[EW]\]' "$f" | sed "s#^#  ${f#/tmp/}| #"
    done
fi
log "done"
