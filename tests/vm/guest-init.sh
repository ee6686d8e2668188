#!/bin/bash
# First process of the test guest (started by the initramfs as "init=/bin/bash --
# guest-init.sh"). It makes the read-only 9p root usable, loads the sound and
# USB gadget modules, runs the scenarios that run-guest.sh put in the job file
# on the writable share, writes their logs and exit statuses there, and powers
# the machine off. As process 1 it must never exit early or stop on an error:
# if it did, the kernel would panic (run-guest.sh boots with panic=1 and
# -no-reboot, so QEMU would still end, but without results).
set -uo pipefail

export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export LANG=C.UTF-8
umask 022

readonly SHARE=/run/quillet-vm
readonly RW=/run/quillet-vm-rw

LOG=
say() {
    echo "QVM: $*"
    [[ -z $LOG ]] || echo "QVM: $*" >>"$LOG"
}

uptime_s() { local u _; read -r u _ </proc/uptime; echo "$u"; }

power_off() {
    sync
    # busybox halts at once; the sysrq request is the fallback without it.
    if command -v busybox >/dev/null; then
        busybox poweroff -f
    fi
    echo o >/proc/sysrq-trigger
    # Returning makes process 1 exit: the kernel panics and QEMU ends (-no-reboot).
    sleep 10
    exit 1
}

# Whether a process other than this one is alive (kernel threads and zombies
# have an empty command line).
others_alive() {
    local dir cmd
    for dir in /proc/[0-9]*; do
        [[ ${dir#/proc/} == 1 ]] && continue
        cmd=
        read -r -d '' cmd 2>/dev/null <"$dir/cmdline"
        [[ -n $cmd ]] && return 0
    done
    return 1
}

# Without a process: each one costs a good tenth of a second under emulation.
is_mounted() {
    local _source target _rest
    while read -r _source target _rest; do
        [[ $target == "$1" ]] && return 0
    done </proc/mounts
    return 1
}

mount_if_missing() { # type source target [options]
    local type=$1 source=$2 target=$3 options=${4:-}
    is_mounted "$target" && return 0
    [[ -d $target ]] || mkdir -p "$target"
    mount -t "$type" ${options:+-o "$options"} "$source" "$target"
}

# The kernel's own file systems; the initramfs has already moved /proc, /sys,
# /dev and /run here, so most of these only check.
mount_if_missing proc proc /proc
mount_if_missing sysfs sysfs /sys
mount_if_missing devtmpfs devtmpfs /dev
mount_if_missing devpts devpts /dev/pts gid=5,mode=620,ptmxmode=666
mount_if_missing tmpfs tmpfs /dev/shm mode=1777
mount_if_missing tmpfs tmpfs /run mode=755

if ! mount_if_missing 9p results "$SHARE" trans=virtio,version=9p2000.L,msize=512000; then
    say "FATAL: cannot mount the results share"
    power_off
fi
readonly RESULTS=$SHARE/results
[[ -d $RESULTS ]] || mkdir -p "$RESULTS"
LOG=$RESULTS/guest-init.log
say "init started at uptime $(uptime_s) s, kernel $(uname -r)"
uptime_s >"$RESULTS/boot-seconds"

# No module loading on the kernel's own request: the sequencer asks for
# modules whenever a client list is read and a slot or device is unclaimed
# (the gadgets' own sides are), and so do mounts; each request runs modprobe,
# which takes seconds under emulation. Everything needed is loaded here, by name.
echo >/proc/sys/kernel/modprobe
t=$EPOCHREALTIME
modules_failed=()
# The loopback card first, so that it is card 0 and the default device.
modprobe snd-aloop index=0 || modules_failed+=(snd-aloop)
# Two virtual USB buses, so two gadgets can be plugged in at once.
modprobe dummy_hcd num=2 || modules_failed+=(dummy_hcd)
# One modprobe for the rest: each start reads the module index over 9p.
modules=(overlay configfs snd-seq snd-seq-midi snd-seq-dummy snd-rawmidi snd-usb-audio
    libcomposite usb_f_midi)
if ! modprobe -a "${modules[@]}"; then
    for m in "${modules[@]}"; do
        [[ -d /sys/module/${m//-/_} ]] || modules_failed+=("$m")
    done
fi
mount_if_missing configfs configfs /sys/kernel/config
say "modules loaded in $(awk -v a="$t" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }') s"
if ((${#modules_failed[@]})); then
    say "modules that did not load: ${modules_failed[*]}"
fi

# Writable layers over the read-only root: the host's files stay visible
# (a build folder under /tmp included) and writes land in guest memory.
mount_if_missing tmpfs tmpfs "$RW" mode=755
layers=(/etc /home /root /tmp /var)
mkdir -p "${layers[@]/#/$RW}" "${layers[@]/#/$RW/work}" /run/user/0 /run/lock
chmod 1777 "$RW/tmp"
chmod 700 /run/user/0
for dir in "${layers[@]}"; do
    [[ -d $dir ]] || continue
    if ! mount -t overlay overlay -o "lowerdir=$dir,upperdir=$RW$dir,workdir=$RW/work$dir" "$dir"; then
        say "overlay on $dir failed; an empty tmpfs takes its place"
        mount -t tmpfs tmpfs "$dir"
    fi
done
hostname quillet-vm 2>/dev/null
ip link set lo up 2>/dev/null
say "ready at uptime $(uptime_s) s"
uptime_s >"$RESULTS/ready-seconds"

# The job: scenario paths, time limit and extra environment, from run-guest.sh.
QVM_SCENARIOS=()
QVM_SCENARIO_TIMEOUT=120
QVM_ENV=()
# shellcheck source=/dev/null
source "$SHARE/job.env"

export QVM_LIB QVM_TOOLS=$SHARE/bin HOME=/root XDG_RUNTIME_DIR=/run/user/0
for pair in "${QVM_ENV[@]}"; do
    export "${pair?}"
done

for scenario in "${QVM_SCENARIOS[@]}"; do
    name=$(basename "$scenario" .sh)
    out=$RESULTS/$name
    mkdir -p "$out"
    say "scenario $name: start"
    start=$EPOCHREALTIME
    # timeout puts the scenario in its own process group and ends the whole group.
    QVM_OUT=$out QVM_SCENARIO=$name \
        timeout -k 5 "$QVM_SCENARIO_TIMEOUT" bash "$scenario" </dev/null 2>&1 |
        tee "$out/log"
    status=${PIPESTATUS[0]}
    end=$EPOCHREALTIME
    elapsed=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')
    ((status == 124)) && say "scenario $name: timed out after $QVM_SCENARIO_TIMEOUT s"
    echo "$elapsed" >"$out/seconds"
    echo "$status" >"$out/status"
    say "scenario $name: exit status $status, $elapsed s"

    # Leave nothing behind for the next scenario: stray processes, gadgets.
    kill -TERM -1 2>/dev/null
    for _ in {1..50}; do
        others_alive || break
        sleep 0.1
    done
    kill -KILL -1 2>/dev/null
    for gadget in /sys/kernel/config/usb_gadget/*/; do
        [[ -d $gadget ]] || continue
        echo "" >"$gadget/UDC" 2>/dev/null
        rm -f "$gadget"/configs/*/*.* 2>/dev/null
        rmdir "$gadget"/configs/*/strings/* "$gadget"/configs/* "$gadget"/functions/* \
            "$gadget"/strings/* "$gadget" 2>/dev/null
    done
    # Gadgets are unplugged by powering their host port off; power them all again.
    for port in /sys/bus/usb/devices/usb*/*-0:1.0/usb*-port*/disable; do
        [[ -f $port ]] && echo 0 >"$port" 2>/dev/null
    done
done

say "all scenarios ended at uptime $(uptime_s) s"
power_off
