# shellcheck shell=bash
# shellcheck disable=SC2034 # the figures are read by quillet-alsa.sh
# Helpers of quillet-alsa.sh in the test guest: waits with deadlines, USB MIDI gadget
# keyboards, the sequencer's ports and connections, the loopback card's recording and sox's
# figures of it. Times are in milliseconds; each process started costs about 100 ms here.
shopt -s nullglob
t0=${EPOCHREALTIME/[.,]/}
# A pipe nobody writes: a read with a time limit on it sleeps without starting a process.
exec {nap}<> <(:)
now() { NOW=$(((${EPOCHREALTIME/[.,]/} - t0) / 1000)); }
log() { now && printf '[%d.%03d] %s\n' $((NOW / 1000)) $((NOW % 1000)) "$*"; }
fail() { log "FAIL: $*" && exit 1; }

# wait_until MS COMMAND...: runs COMMAND until it succeeds (status 0) or MS have passed
# (status 1). WAITED is how long that took.
wait_until() {
    now
    local start=$NOW end=$((NOW + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        now
        ((NOW < end)) || { WAITED=$((NOW - start)) && return 1; }
        read -r -t 0.02 -u "$nap" _ || true
    done
    now
    WAITED=$((NOW - start))
}

# holds EXPRESSION: an awk comparison of decimal figures, e.g. holds "$PITCH > 430".
holds() { awk "BEGIN { exit !($1) }"; }

# What the sequencer lists in /proc, read without starting a process, so cheap to poll:
# has_port NAME / lacks_port NAME, whether a port has that name; connected PORT, whether
# anything is connected to the port PORT.
clients() { read -r -d '' CLIENTS </proc/asound/seq/clients || true; }
has_port() { clients && [[ $CLIENTS == *"\"$1\" ("* ]]; }
lacks_port() { ! has_port "$1"; }
connected() { clients && local c=${CLIENTS#*\""$1"\"} && [[ ${c%%Port*} == *"Connected From"* ]]; }

# senders PORT: the clients connected to the sequencer port PORT, by name, one a line.
senders() {
    aconnect -l | awk -F"'" -v port="$1" '
        /^client / { split($1, c, /[ :]+/); name[c[2]] = $2 }
        /^ +[0-9]+ '\''/ { p = $2; sub(/ +$/, "", p); here = p == port }
        here && /Connected From:/ { sub(/.*From: */, ""); from = $0 }
        END { n = split(from, a, /, */); for (i = 1; i <= n; i++) { split(a[i], c, ":"); print name[c[1]] } }'
}
senders_are() { [[ $(senders "$1") == "$2" ]]; }

# USB MIDI gadget keyboards, each on a dummy_hcd controller of its own. The host side is what
# a desktop sees of a keyboard: a card of snd-usb-audio, sequencer port "<product> MIDI 1". The
# gadget side is card G<id>: bytes written to its rawmidi device are what the keyboard plays.
# Plugging in is powering the host's root-hub port, unplugging is powering it off: the
# controller's soft_connect cannot serve, a gadget disconnected that way never enumerates
# again on this kernel ("error -71").
gadgets=/sys/kernel/config/usb_gadget
declare -A hostport=() product=()

# gadget_create ID PRODUCT: a keyboard, bound to its controller but not plugged in. Its gadget
# side would be a sequencer client too, a MIDI source no real keyboard has: it is detached.
gadget_create() {
    local id=$1 g=$gadgets/$1 n=${#hostport[@]} bus card
    for bus in /sys/bus/usb/devices/usb*; do
        [[ $(<"$bus/serial") == "dummy_hcd.$n" ]] && hostport[$id]=$bus/${bus##*/usb}-0:1.0/${bus##*/}-port1
    done
    [[ -n ${hostport[$id]:-} ]] || fail "no USB bus dummy_hcd.$n for gadget $id"
    product[$id]=$2
    mkdir -p "$g/strings/0x409" "$g/configs/c.1" "$g/functions/midi.$id"
    echo "$2" >"$g/strings/0x409/product"
    # f_midi's one port each way is kept: it describes one-way ports inconsistently.
    echo "G$id" >"$g/functions/midi.$id/id"
    ln -s "$g/functions/midi.$id" "$g/configs/c.1/"
    echo 1 >"${hostport[$id]}/disable"
    echo "dummy_udc.$n" >"$g/UDC"
    wait_until 10000 test -e "/proc/asound/G$id" || fail "gadget $id has no gadget side"
    card=$(readlink "/proc/asound/G$id")
    wait_until 10000 test -e "/sys/bus/snd_seq/drivers/snd_seq_midi/seq-midi-${card#card}-0" ||
        fail "the gadget side of $id has no sequencer client to detach"
    echo "seq-midi-${card#card}-0" >/sys/bus/snd_seq/drivers/snd_seq_midi/unbind
}

# plug ID / unplug ID: plugs the keyboard in or out and waits for its port to come or go.
plug() {
    echo 0 >"${hostport[$1]}/disable"
    wait_until 30000 has_port "${product[$1]} MIDI 1" || fail "$1 plugged in: no port"
    log "$1 plugged in: its port listed after $WAITED ms"
}
unplug() {
    echo 1 >"${hostport[$1]}/disable"
    wait_until 30000 lacks_port "${product[$1]} MIDI 1" || fail "$1 unplugged: its port stays"
    log "$1 unplugged: its port gone after $WAITED ms"
}

# send ID HEX: the keyboard plays these bytes ("90 45 64"); amidi returns once they are sent.
send() { amidi -p "hw:G$1" -S "$2"; }

# The loopback card: what is played into its playback side (the default device, dmix at
# 48 kHz) comes out of its capture side. CAPTURED: frames captured so far.
captured() {
    local key _ value
    CAPTURED=0
    while read -r key _ value; do [[ $key != hw_ptr ]] || CAPTURED=$value; done \
        </proc/asound/Loopback/pcm1c/sub0/status
}
captured_past() { captured && ((CAPTURED >= $1)); }

# record_start FILE ... record_stop: records the capture side, from when record_start returns.
record_start() {
    recording=$1
    # A buffer of 2 s: arecord stalls under load.
    arecord -q -B 2000000 -D plughw:Loopback,1,0 -f S16_LE -r 48000 -c 2 "$1" &
    recorder=$!
    wait_until 10000 captured_past 1 || fail "the loopback capture did not start"
}
# record_for MS: waits until MS more have been captured.
record_for() {
    captured
    wait_until $(($1 + 10000)) captured_past $((CAPTURED + $1 * 48)) || fail "the capture stalled"
}
# record_stop: once the file holds all that was captured: arecord falls behind under load, and
# what it has not written when it is interrupted is lost.
written_past() { (($(stat -c %s "$recording") >= $1)); }
record_stop() {
    captured
    wait_until 10000 written_past $((44 + CAPTURED * 4)) || fail "the recording fell behind"
    kill -INT "$recorder"
    wait "$recorder" || true
}

# sound FILE FRAME: figures of a note struck at FRAME. BEFORE: RMS level of the 300 ms before
# it; DELAY: ms to the first sound above -50 dBFS within 2.5 s (2500: none); PITCH: Hz, over
# 150 ms from 50 ms after that, by the period the sound repeats at (YIN, 80 Hz at the lowest):
# the strongest frequency (stat -freq) can be an overtone, as the default instrument's A3 is.
sound() {
    local rest
    BEFORE=$(sox "$1" -n trim $(($2 - 14400))s 14400s stat 2>&1 | awk '/^RMS +amp/ { print $3 }')
    rest=$(sox "$1" -n trim "$2s" 120000s silence 1 0.001 -50d stat 2>&1 | awk '/^Length/ { print int($3 * 1000) }')
    DELAY=$((2500 - rest))
    PITCH=$(sox "$1" -t dat - trim $(($2 + (DELAY + 50) * 48))s 7200s remix - rate 8000 | awk '
        !/^;/ { x[n++] = $2 }
        END {
            for (t = 1; t <= 100; t++) {
                d = 0
                for (i = 0; i < n - 100; i++) { e = x[i] - x[i + t]; d += e * e }
                sum += d; y[t] = d * t / sum
            }
            for (t = 4; t < 99 && !(y[t] < 0.15 && y[t] <= y[t + 1]); t++);
            a = y[t - 1]; b = y[t]; c = y[t + 1]
            printf "%.1f\n", 8000 / (t + (a - c) / (2 * (a - 2 * b + c)))
        }')
}

# play ID NOTE [HEX]: while the card records, keyboard ID plays NOTE for 3 s after 400 ms of
# nothing, the bytes HEX in the same write before its note-on. PLAYED: the frame it was sent at.
play() {
    record_for 400
    captured
    PLAYED=$CAPTURED
    send "$1" "${3:-} 90 $(printf %X "$2") 64"
    record_for 3000
    send "$1" "80 $(printf %X "$2") 00"
}

# heard FILE FRAME NOTE: the note struck at FRAME came after silence and sounds at its pitch,
# half a semitone either way (the SoundFont's samples are not tuned to the cent).
heard() {
    local hz
    sound "$1" "$2"
    log "note $3: before it RMS $BEFORE, sound after $DELAY ms, $PITCH Hz"
    holds "$BEFORE < 0.001" || fail "note $3: no silence before it"
    ((DELAY < 2500)) || fail "note $3: no sound"
    hz=$(awk "BEGIN { print 440 * 2 ^ (($3 - 69) / 12) }")
    holds "$PITCH > $hz * 0.9715 && $PITCH < $hz * 1.0293" || fail "note $3 at $PITCH Hz, not $hz Hz"
}
