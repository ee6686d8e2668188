# shellcheck shell=bash
# shellcheck disable=SC2034 # variables set here are read by the scenarios
# Helpers for the scenarios that run inside the test guest. A scenario sources
# this file first: source "$QVM_LIB". guest-init.sh sets QVM_OUT (this
# scenario's folder on the results share), QVM_TOOLS (seqports, wavtool) and
# QVM_SCENARIO (its name).
#
# Waits poll a kernel state (sequencer clients, PCM status) with a deadline;
# every wait takes its limit in seconds and fails the scenario when it passes.

: "${QVM_OUT:?run scenarios through run-guest.sh}"
: "${QVM_TOOLS:?run scenarios through run-guest.sh}"

QVM_GADGETS=/sys/kernel/config/usb_gadget
# Enumeration through dummy_hcd and snd-usb-audio takes about half a second under
# emulation, several seconds when the host is busy.
QVM_PLUG_TIMEOUT=${QVM_PLUG_TIMEOUT:-30}
QVM_LOOPBACK_PLAY=hw:Loopback,0,0
QVM_LOOPBACK_CAPTURE=plughw:Loopback,1,0

# Microseconds since the epoch, without a process.
qvm_us() {
    local t=${EPOCHREALTIME/[.,]/}
    echo "$((10#$t))"
}

QVM_T0=$(qvm_us)

# "1.5" -> 1500000
qvm_seconds_to_us() {
    local s=$1 int frac
    int=${s%%.*}
    frac=
    [[ $s == *.* ]] && frac=${s#*.}
    frac=${frac}000000
    echo "$((10#${int:-0} * 1000000 + 10#${frac:0:6}))"
}

# 1500000 -> "1.500"
qvm_us_to_seconds() {
    local us=$1
    printf '%d.%03d' "$((us / 1000000))" "$((us % 1000000 / 1000))"
}

qvm_log() {
    echo "[$(qvm_us_to_seconds "$(($(qvm_us) - QVM_T0))")] $*"
}

qvm_fail() {
    qvm_log "FAIL: $*"
    exit 1
}

# For what this guest cannot do (a missing module, no build of the program).
qvm_skip() {
    qvm_log "SKIP: $*"
    exit 77
}

qvm_pass() {
    qvm_log "ok: $*"
}

# qvm_timing LABEL MICROSECONDS: printed, and kept for run-guest.sh's summary.
qvm_timing() {
    local seconds
    seconds=$(qvm_us_to_seconds "$2")
    qvm_log "TIME $1: $seconds s"
    printf '%s\t%s\n' "$1" "$seconds" >>"$QVM_OUT/timings"
}

# A sleep that forks nothing: a read with a time limit on a pipe nobody writes.
exec {QVM_SLEEP_FD}<> <(:)
qvm_sleep() {
    read -r -t "$1" -u "$QVM_SLEEP_FD" _ || true
}

# qvm_wait_until SECONDS COMMAND...: runs COMMAND every 20 ms until it succeeds
# (status 0) or SECONDS pass (status 1). QVM_WAITED_US holds the time it took.
qvm_wait_until() {
    local limit start deadline now
    limit=$(qvm_seconds_to_us "$1")
    shift
    start=$(qvm_us)
    deadline=$((start + limit))
    while :; do
        if "$@" >/dev/null 2>&1; then
            QVM_WAITED_US=$(($(qvm_us) - start))
            return 0
        fi
        now=$(qvm_us)
        if ((now >= deadline)); then
            QVM_WAITED_US=$((now - start))
            return 1
        fi
        qvm_sleep 0.02
    done
}

# Runs at the end of the scenario, whatever its outcome: commands registered
# with qvm_at_exit (last first), then background jobs still running are ended.
QVM_AT_EXIT=()
qvm_at_exit() {
    QVM_AT_EXIT=("$*" "${QVM_AT_EXIT[@]}")
}
qvm__exit() {
    local status=$? cmd pids
    for cmd in "${QVM_AT_EXIT[@]}"; do
        eval "$cmd" || true
    done
    pids=$(jobs -p)
    if [[ -n $pids ]]; then
        # shellcheck disable=SC2086
        kill $pids 2>/dev/null || true
    fi
    exit "$status"
}
trap qvm__exit EXIT

# ---------------------------------------------------------------------------
# Sequencer

# One tab-separated line a port: addr, client type, client name, port name,
# capabilities, types, senders, receivers, "source" (see tools/seqports.c).
qvm_seqports() {
    "$QVM_TOOLS/seqports"
}

# qvm_seq_port NAME: the seqports line of the port called NAME (status 1 if none).
qvm_seq_port() {
    qvm_seqports | awk -F'\t' -v name="$1" '$4 == name { print; found = 1 } END { exit !found }'
}

# qvm_seq_field NAME FIELD: one field of that line (1 addr, 2 client type,
# 3 client name, 5 caps, 6 types, 7 senders, 8 receivers, 9 source).
qvm_seq_field() {
    qvm_seq_port "$1" | awk -F'\t' -v f="$2" 'NR == 1 { print $f }'
}

# Whether a port called NAME exists; reads /proc, so it is cheap to poll.
qvm_seq_has_port() {
    awk -v name="$1" '
        /^  Port/ {
            line = $0
            sub(/^[^"]*"/, "", line)
            sub(/" \([^)]*\)$/, "", line)
            if (line == name) found = 1
        }
        END { exit !found }' /proc/asound/seq/clients
}

qvm_seq_lacks_port() {
    ! qvm_seq_has_port "$1"
}

# qvm_seq_senders NAME: names of the ports subscribed to port NAME, one a line.
qvm_seq_senders() {
    qvm_seqports | awk -F'\t' -v name="$1" '
        { port[$1] = $4 }
        $4 == name { from = $7 }
        END {
            if (from == "" || from == "-") exit
            n = split(from, addr, ",")
            for (i = 1; i <= n; i++) print (addr[i] in port) ? port[addr[i]] : addr[i]
        }'
}

# ---------------------------------------------------------------------------
# USB MIDI gadget keyboards
#
# A gadget is a configfs folder with one f_midi function, bound to one of the
# dummy_hcd device controllers (dummy_udc.N, whose host side is the USB bus
# with serial "dummy_hcd.N"). Its two ends:
# - the host side, what a desktop sees of a real keyboard: snd-usb-audio makes
#   a kernel card whose sequencer port is "<product> MIDI 1" (HARDWARE type);
# - the gadget side, a second ALSA card made by f_midi (card id "G<id>"):
#   bytes written to its rawmidi device are the keyboard's MIDI output.
# The gadget side would also get a sequencer client ("f_midi", a HARDWARE
# port that reads and writes, so a MIDI source by the design's rule); a real
# keyboard has no such thing, so qvm_gadget_create detaches it from the
# sequencer (snd_seq_midi unbind). The gadget stays bound from its creation to
# its removal; plugging it in is powering the host's root hub port it sits on,
# unplugging is powering that port off: the host sees a device come and go as
# with a cable. (The controller's soft_connect cannot serve: on this kernel a
# gadget disconnected that way no longer answers, "error -71".)

# Card id of the gadget side of gadget ID (ALSA card ids are at most 15 characters).
qvm_gadget_card() {
    local id=G${1//[^A-Za-z0-9]/}
    echo "${id:0:15}"
}

qvm__free_udc() {
    local udc used gadget
    used=" "
    for gadget in "$QVM_GADGETS"/*/UDC; do
        [[ -f $gadget ]] && used+="$(<"$gadget") "
    done
    for udc in /sys/class/udc/*; do
        [[ -e $udc ]] || continue
        udc=${udc##*/}
        [[ $used == *" $udc "* ]] || { echo "$udc"; return 0; }
    done
    return 1
}

# The host-side root hub port of device controller dummy_udc.N.
qvm__udc_host_port() {
    local udc=$1 bus
    for bus in /sys/bus/usb/devices/usb*; do
        if [[ $(<"$bus/serial") == "dummy_hcd.${udc##*.}" ]]; then
            echo "$bus/${bus##*/usb}-0:1.0/${bus##*/}-port1"
            return 0
        fi
    done
    return 1
}

qvm__seq_midi_bound() { # card number
    [[ -e /sys/bus/snd_seq/drivers/snd_seq_midi/seq-midi-$1-0 ]]
}

# qvm_gadget_create ID PRODUCT: makes gadget ID with its USB product name,
# binds it to a free device controller and leaves it unplugged. Its gadget
# side (qvm_gadget_rawmidi) exists from now on.
qvm_gadget_create() {
    local id=$1 product=$2 g=$QVM_GADGETS/$1 udc hostport card
    [[ -d $QVM_GADGETS ]] || qvm_skip "no USB gadget configfs (libcomposite or configfs missing)"
    [[ -d $g ]] && qvm_fail "gadget $id exists already"
    udc=$(qvm__free_udc) || qvm_fail "no free USB device controller for gadget $id (is dummy_hcd loaded?)"
    hostport=$(qvm__udc_host_port "$udc") || qvm_fail "no host bus for $udc"
    mkdir "$g"
    qvm_at_exit qvm_gadget_remove "$id"
    echo "$product" >"$QVM_OUT/.gadget-$id"
    echo "$hostport" >"$QVM_OUT/.gadget-$id-hostport"
    echo 0x1d6b >"$g/idVendor"  # Linux Foundation
    echo 0x0104 >"$g/idProduct" # multifunction composite gadget
    echo 0x0100 >"$g/bcdDevice"
    echo 0x0200 >"$g/bcdUSB"
    mkdir "$g/strings/0x409"
    echo "Quillet tests" >"$g/strings/0x409/manufacturer"
    echo "$product" >"$g/strings/0x409/product"
    echo "$id" >"$g/strings/0x409/serialnumber"
    mkdir -p "$g/configs/c.1/strings/0x409"
    echo "MIDI" >"$g/configs/c.1/strings/0x409/configuration"
    echo 100 >"$g/configs/c.1/MaxPower"
    mkdir "$g/functions/midi.$id"
    # One jack each way: f_midi describes one-way configurations inconsistently
    # (both ends then show the same direction), so keep it two-way like most keyboards.
    echo 1 >"$g/functions/midi.$id/in_ports"
    echo 1 >"$g/functions/midi.$id/out_ports"
    qvm_gadget_card "$id" >"$g/functions/midi.$id/id"
    ln -s "$g/functions/midi.$id" "$g/configs/c.1/"

    echo 1 >"$hostport/disable"
    echo "$udc" >"$g/UDC"
    qvm_wait_until 10 test -e "/proc/asound/$(qvm_gadget_card "$id")" ||
        qvm_fail "the gadget side of $id did not appear"
    card=$(readlink "/proc/asound/$(qvm_gadget_card "$id")")
    card=${card#card}
    qvm_wait_until 10 qvm__seq_midi_bound "$card" ||
        qvm_fail "the gadget side of $id has no sequencer client to detach"
    echo "seq-midi-$card-0" >/sys/bus/snd_seq/drivers/snd_seq_midi/unbind
}

qvm__gadget_product() {
    cat "$QVM_OUT/.gadget-$1"
}

# qvm_gadget_port ID: the host-side sequencer port name of gadget ID.
qvm_gadget_port() {
    echo "$(qvm__gadget_product "$1") MIDI 1"
}

# qvm_gadget_connect ID / qvm_gadget_disconnect ID: plug in or out, no waiting.
qvm_gadget_connect() {
    echo 0 >"$(<"$QVM_OUT/.gadget-$1-hostport")/disable"
}
qvm_gadget_disconnect() {
    echo 1 >"$(<"$QVM_OUT/.gadget-$1-hostport")/disable"
}

# qvm_gadget_plug ID [PRODUCT]: plugs gadget ID in (creating it first when
# PRODUCT is given and it does not exist) and waits until its sequencer port
# is there. Prints the time from plugging to the port.
qvm_gadget_plug() {
    local id=$1 port start
    if [[ ! -d $QVM_GADGETS/$id ]]; then
        [[ $# -ge 2 ]] || qvm_fail "gadget $id does not exist"
        qvm_gadget_create "$id" "$2"
    fi
    port=$(qvm_gadget_port "$id")
    start=$(qvm_us)
    qvm_gadget_connect "$id"
    qvm_wait_until "$QVM_PLUG_TIMEOUT" qvm_seq_has_port "$port" ||
        qvm_fail "port \"$port\" did not appear within $QVM_PLUG_TIMEOUT s after plugging gadget $id in"
    qvm_timing "plug $id: connect to port \"$port\" listed" "$(($(qvm_us) - start))"
}

# qvm_gadget_unplug ID: unplugs gadget ID and waits until its port has gone.
qvm_gadget_unplug() {
    local id=$1 port start
    port=$(qvm_gadget_port "$id")
    start=$(qvm_us)
    qvm_gadget_disconnect "$id"
    qvm_wait_until "$QVM_PLUG_TIMEOUT" qvm_seq_lacks_port "$port" ||
        qvm_fail "port \"$port\" still there $QVM_PLUG_TIMEOUT s after unplugging gadget $id"
    qvm_timing "unplug $id: disconnect to port \"$port\" gone" "$(($(qvm_us) - start))"
}

# qvm_gadget_remove ID: unbinds and deletes gadget ID (plugged in or not).
qvm_gadget_remove() {
    local id=$1 g=$QVM_GADGETS/$1
    [[ -d $g ]] || return 0
    [[ -n $(<"$g/UDC") ]] && echo "" >"$g/UDC"
    rm -f "$g/configs/c.1/midi.$id"
    rmdir "$g/configs/c.1/strings/0x409" "$g/configs/c.1" "$g/functions/midi.$id" \
        "$g/strings/0x409" "$g"
    # Power the port again for the next gadget on this controller.
    [[ -f $QVM_OUT/.gadget-$id-hostport ]] && echo 0 >"$(<"$QVM_OUT/.gadget-$id-hostport")/disable"
    rm -f "$QVM_OUT/.gadget-$id" "$QVM_OUT/.gadget-$id-hostport"
}

# qvm_gadget_rawmidi ID: the gadget side's rawmidi device node.
qvm_gadget_rawmidi() {
    local card
    card=$(readlink "/proc/asound/$(qvm_gadget_card "$1")") || return 1
    echo "/dev/snd/midiC${card#card}D0"
}

# qvm_gadget_send ID HEX...: the keyboard sends these bytes ("90 45 64").
# amidi waits until the bytes have left the gadget's buffer before it ends.
qvm_gadget_send() {
    local id=$1
    shift
    amidi -p "hw:$(qvm_gadget_card "$id"),0,0" -S "$*"
}

# ---------------------------------------------------------------------------
# Loopback sound card: what is played to hw:Loopback,0,0 is captured from
# hw:Loopback,1,0. The side opened first fixes the format for the other.

# State of the loopback capture substream ("RUNNING" while recording).
qvm__capture_status() {
    cat /proc/asound/Loopback/pcm1c/sub0/status 2>/dev/null
}

qvm_capture_running() {
    qvm__capture_status | grep -q 'state: RUNNING'
}

# Frames captured so far by the running capture.
qvm_capture_frames() {
    qvm__capture_status | awk '$1 == "hw_ptr" { print $3 }'
}

# qvm_capture_past FRAMES: whether the capture has passed FRAMES frames.
qvm_capture_past() {
    local frames
    frames=$(qvm_capture_frames)
    [[ -n $frames ]] && ((frames >= $1))
}

# qvm_record_start OUT.wav [RATE]: records the loopback card's capture side
# (16-bit stereo) until qvm_record_stop, and returns once the capture runs.
qvm_record_start() {
    local out=$1 rate=${2:-48000}
    arecord -q -D "$QVM_LOOPBACK_CAPTURE" -f S16_LE -r "$rate" -c 2 "$out" &
    QVM_RECORD_PID=$!
    QVM_RECORD_RATE=$rate
    qvm_wait_until 10 qvm__record_running ||
        qvm_fail "the loopback capture did not start within 10 s"
    qvm__record_done && qvm_fail "arecord ended at once (is the capture side in use?)"
    return 0
}

qvm__record_done() {
    ! kill -0 "$QVM_RECORD_PID" 2>/dev/null
}

# Our recorder runs (or has ended, which the caller then reports).
qvm__record_running() {
    qvm__record_done || qvm_capture_running
}

# qvm_record_wait_for SECONDS: waits until SECONDS more have been captured.
qvm_record_wait_for() {
    local now frames
    now=$(qvm_capture_frames)
    frames=$((${now:-0} + $(qvm_seconds_to_us "$1") * QVM_RECORD_RATE / 1000000))
    qvm_wait_until "$(($(qvm_seconds_to_us "$1") / 1000000 + 20))" qvm_capture_past "$frames" ||
        qvm_fail "the capture did not advance by $1 s"
}

# qvm_record_stop [SECONDS]: lets SECONDS more be captured (default 0.3),
# then ends the recording; the WAV file is complete when this returns.
qvm_record_stop() {
    qvm_record_wait_for "${1:-0.3}"
    kill -INT "$QVM_RECORD_PID" 2>/dev/null || true
    qvm_wait_until 10 qvm__record_done || qvm_fail "the recorder did not stop"
    wait "$QVM_RECORD_PID" || true
}

# qvm_analyze IN.wav [wavtool options]: measures a recording into IN.wav.txt
# (key=value lines, see tools/wavtool.cpp) and prints it.
qvm_analyze() {
    local wav=$1
    shift
    "$QVM_TOOLS/wavtool" analyze "$wav" "$@" >"$wav.txt" || qvm_fail "cannot analyse $wav"
    cat "$wav.txt"
}

# qvm_analysis IN.wav KEY: one value of the last analysis of IN.wav.
qvm_analysis() {
    awk -F= -v key="$2" '$1 == key { print $2 }' "$1.txt"
}

# qvm_float_cmp A OP B: compares decimal numbers ("-inf" included), e.g. qvm_float_cmp "$f" '<' 445.
qvm_float_cmp() {
    awk -v a="$1" -v b="$3" -v op="$2" 'BEGIN {
        if (a == "-inf") a = -1e300
        if (b == "-inf") b = -1e300
        a += 0; b += 0
        if (op == "<") r = a < b
        else if (op == "<=") r = a <= b
        else if (op == ">") r = a > b
        else if (op == ">=") r = a >= b
        else r = 0
        exit !r
    }'
}

# ---------------------------------------------------------------------------
# JACK

# qvm_jack_start [RATE [PERIOD]]: starts a JACK server with its dummy driver
# (no sound card: the loopback card stays free) and waits until clients can
# connect. QVM_JACK_PID is the server. No D-Bus runs in the guest, so the
# device reservation is off.
qvm_jack_start() {
    local rate=${1:-48000} period=${2:-256}
    command -v jackd >/dev/null || qvm_skip "jackd is not installed"
    export JACK_NO_AUDIO_RESERVATION=1 JACK_NO_START_SERVER=1
    jackd --no-realtime -d dummy -r "$rate" -p "$period" >"$QVM_OUT/jackd.log" 2>&1 &
    QVM_JACK_PID=$!
    qvm_wait_until 30 jack_lsp ||
        qvm_fail "the JACK server did not start: $(cat "$QVM_OUT/jackd.log")"
    qvm_timing "JACK server (dummy, $rate Hz, $period frames) ready" "$QVM_WAITED_US"
}
