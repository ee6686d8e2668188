#!/bin/bash
# Boots the distribution's kernel in QEMU with this machine's root file system
# shared read-only, runs scenario scripts inside (where the ALSA sequencer,
# a loopback sound card and USB MIDI gadgets exist) and reports their results.
#
# Usage: tests/vm/run-guest.sh [options] SCENARIO...
#   SCENARIO            a name under tests/vm/scenarios/ ("quillet-alsa") or a script path
#   --timeout S         bound on the whole guest run (default 300)
#   --scenario-timeout S  bound on each scenario inside the guest (default 120)
#   --env NAME=VALUE    exported to the scenarios (repeatable)
#   --results DIR       keep the results (logs, recordings, console) in DIR
#   --keep              keep the work folder
# Environment: QUILLET_VM_ACCEL=kvm tries KVM (the default is TCG: nested KVM
# has hung on the test machines); QUILLET_VM_NO_INSTALL=1 installs nothing.
#
# Exit status: 0 when every scenario passed, 1 when one failed or the guest did
# not finish, 77 (skipped) when QEMU or the kernel cannot run here or every
# scenario skipped, 2 on a usage error.
set -euo pipefail

readonly SKIP=77
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly here

log() { echo "run-guest: $*"; }
skip() {
    log "SKIPPED: $*"
    exit "$SKIP"
}
die() {
    log "ERROR: $*" >&2
    exit 1
}
usage() {
    sed -n '2,/^set -euo/{/^#/s/^# \{0,1\}//p}' "${BASH_SOURCE[0]}" >&2
    exit 2
}

total_timeout=300
scenario_timeout=120
results_dir=
keep=0
envs=()
scenarios=()
while (($#)); do
    case $1 in
    --timeout) total_timeout=${2:?}; shift 2 ;;
    --scenario-timeout) scenario_timeout=${2:?}; shift 2 ;;
    --env) envs+=("${2:?}"); shift 2 ;;
    --results) results_dir=${2:?}; shift 2 ;;
    --keep) keep=1; shift ;;
    -h | --help) usage ;;
    -*) usage ;;
    *) scenarios+=("$1"); shift ;;
    esac
done
((${#scenarios[@]})) || usage
for pair in "${envs[@]}"; do
    [[ $pair =~ ^[A-Za-z_][A-Za-z0-9_]*= ]] || die "--env wants NAME=VALUE, not \"$pair\""
done

scenario_paths=()
for s in "${scenarios[@]}"; do
    if [[ $s == */* || $s == *.sh ]]; then
        path=$s
    else
        path=$here/scenarios/$s.sh
    fi
    [[ -f $path ]] || die "no scenario script $path"
    scenario_paths+=("$(realpath "$path")")
done

# The guest starts its init by path on the kernel command line, which splits at spaces.
[[ $here =~ [[:space:]] ]] && skip "the guest cannot start an init from a path with spaces ($here)"

# --- What the guest needs on this machine -----------------------------------

# The newest installed kernel whose modules include 9p (the root file system).
find_kernel() {
    local image v
    kver=
    mapfile -t kernels < <(find /boot -maxdepth 1 -name 'vmlinuz-*' -printf '%f\n' 2>/dev/null | sort -rV)
    for image in "${kernels[@]}"; do
        v=${image#vmlinuz-}
        if [[ -f /lib/modules/$v/modules.dep ]] && modinfo -k "$v" 9p >/dev/null 2>&1 &&
            modinfo -k "$v" 9pnet_virtio >/dev/null 2>&1; then
            kver=$v
            return 0
        fi
    done
    return 1
}

# Packages, by a file that shows each is there.
declare -A needs=(
    [qemu-system-x86]=/usr/bin/qemu-system-x86_64
    [alsa-utils]=/usr/bin/aseqdump
    [initramfs-tools]=/usr/sbin/mkinitramfs
    [busybox]=/bin/busybox
    [kmod]=/sbin/modprobe
    [libasound2-dev]=/usr/include/alsa/asoundlib.h
    [g++]=/usr/bin/g++
)
missing=()
for pkg in "${!needs[@]}"; do
    [[ -e ${needs[$pkg]} ]] || missing+=("$pkg")
done
find_kernel || missing+=(linux-image-amd64)
if ((${#missing[@]})); then
    [[ ${QUILLET_VM_NO_INSTALL:-0} == 1 ]] && skip "missing packages: ${missing[*]} (QUILLET_VM_NO_INSTALL=1)"
    if ((EUID != 0)) || ! command -v apt-get >/dev/null; then
        skip "missing packages: ${missing[*]}; installing them needs root and apt-get"
    fi
    log "installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # The package lists may be missing or stale on a fresh machine: update once and retry.
    if ! timeout 600 apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null 2>&1; then
        timeout 300 apt-get update >/dev/null 2>&1 || true
        timeout 600 apt-get install -y --no-install-recommends "${missing[@]}" ||
            skip "could not install ${missing[*]}"
    fi
fi

find_kernel || skip "no kernel in /boot with 9p modules (after installing linux-image-amd64)"
kernel=/boot/vmlinuz-$kver
[[ -r $kernel ]] || skip "$kernel is not readable by this user"
for m in virtio_pci snd-seq snd-seq-dummy snd-seq-midi snd-aloop overlay configfs dummy_hcd \
    libcomposite usb_f_midi snd-usb-audio; do
    modinfo -k "$kver" "$m" >/dev/null 2>&1 || skip "kernel $kver has no module $m"
done

accel=${QUILLET_VM_ACCEL:-tcg}
case $accel in
tcg) cpu=max ;;
kvm)
    [[ -w /dev/kvm ]] || skip "QUILLET_VM_ACCEL=kvm but /dev/kvm is not usable"
    cpu=host
    ;;
*) die "QUILLET_VM_ACCEL must be tcg or kvm" ;;
esac

# --- Work folder --------------------------------------------------------------

work=$(mktemp -d "${TMPDIR:-/tmp}/quillet-vm.XXXXXX")
qemu_pid=
tail_pid=
# shellcheck disable=SC2317 # called by the trap
cleanup() {
    local status=$?
    if [[ -n $qemu_pid ]] && kill -0 "$qemu_pid" 2>/dev/null; then
        kill "$qemu_pid" 2>/dev/null || true
        wait "$qemu_pid" 2>/dev/null || true
    fi
    if [[ -n $tail_pid ]]; then
        kill "$tail_pid" 2>/dev/null || true
        wait "$tail_pid" 2>/dev/null || true
    fi
    if ((keep)); then
        log "work folder kept: $work"
    else
        rm -rf "$work"
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
share=$work/share
mkdir -p "$share/bin" "$share/results"

# Our own initramfs: the system's configuration plus the modules that mount a
# 9p root over virtio. The system's /boot stays as it is.
t=$EPOCHREALTIME
cp -a /etc/initramfs-tools "$work/initramfs-conf"
sed -i -e 's/^MODULES=.*/MODULES=list/' -e 's/^COMPRESS=.*/COMPRESS=gzip/' \
    "$work/initramfs-conf/initramfs.conf"
printf '%s\n' virtio_pci 9pnet_virtio 9p >>"$work/initramfs-conf/modules"
if ! mkinitramfs -d "$work/initramfs-conf" -o "$work/initrd.img" "$kver" >"$work/mkinitramfs.log" 2>&1; then
    cat "$work/mkinitramfs.log" >&2
    skip "mkinitramfs failed for kernel $kver"
fi

# Helpers the scenarios run, built for this machine.
c++ -std=c++20 -O2 -o "$share/bin/wavtool" "$here/tools/wavtool.cpp" ||
    die "cannot build tools/wavtool.cpp"
cc -O2 -o "$share/bin/seqports" "$here/tools/seqports.c" -lasound ||
    die "cannot build tools/seqports.c"
log "initramfs and tools ready in $(awk -v a="$t" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }') s (kernel $kver, $accel)"

{
    declare -p scenario_paths | sed 's/^declare -a scenario_paths=/QVM_SCENARIOS=/'
    printf 'QVM_SCENARIO_TIMEOUT=%q\n' "$scenario_timeout"
    printf 'QVM_LIB=%q\n' "$here/lib.sh"
    declare -p envs | sed 's/^declare -a envs=/QVM_ENV=/'
} >"$share/job.env"

# --- The guest ----------------------------------------------------------------

console=$work/console.log
: >"$console"
# Everything is shared as the host's root sees it; multidevs=remap keeps inode
# numbers unique across the host's mounts.
# shellcheck disable=SC2054 # the commas belong to QEMU's options
qemu=(
    qemu-system-x86_64 -accel "$accel" -cpu "$cpu" -m 2G -smp 2
    -nographic -monitor none -serial "file:$console" -no-reboot -nic none
    -kernel "$kernel" -initrd "$work/initrd.img"
    -virtfs local,path=/,mount_tag=root,security_model=none,readonly=on,multidevs=remap
    -virtfs "local,path=$share,mount_tag=results,security_model=none,multidevs=remap"
    -append "console=ttyS0 root=root rootfstype=9p rootflags=trans=virtio,version=9p2000.L,msize=512000,cache=loose ro init=/bin/bash panic=1 quiet loglevel=3 fsck.mode=skip -- $here/guest-init.sh"
)
log "booting the guest (timeout ${total_timeout} s)"
start=$EPOCHREALTIME
timeout -k 10 "$total_timeout" "${qemu[@]}" </dev/null >"$work/qemu.out" 2>&1 &
qemu_pid=$!
# The guest's console, as it comes, without the firmware's terminal codes.
tail -n +1 -s 0.2 -f --pid="$qemu_pid" "$console" |
    sed -u -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\x1bc//g' -e 's/\r//g' -e 's/^/  guest| /' &
tail_pid=$!
qemu_status=0
wait "$qemu_pid" || qemu_status=$?
qemu_pid=
wait "$tail_pid" 2>/dev/null || true
tail_pid=
# The console may end mid-line.
[[ -s $console && -n $(tail -c 1 "$console") ]] && echo
wall=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')

if ((qemu_status == 124 || qemu_status == 137)); then
    log "the guest did not finish within $total_timeout s; QEMU was stopped"
elif ((qemu_status != 0)); then
    log "QEMU ended with status $qemu_status:"
    sed 's/^/  qemu| /' "$work/qemu.out"
    [[ -f $share/results/boot-seconds ]] || skip "QEMU cannot run the guest here"
fi

# --- Results ------------------------------------------------------------------

res=$share/results
echo
if [[ -f $res/ready-seconds ]]; then
    log "boot: $(<"$res/boot-seconds") s to the guest's init, $(<"$res/ready-seconds") s to ready (modules loaded); whole run: $wall s"
elif [[ -f $res/boot-seconds ]]; then
    log "boot: $(<"$res/boot-seconds") s to the guest's init; whole run: $wall s"
else
    log "the guest never reached its init (whole run: $wall s)"
fi
failed=0
passed=0
skipped=0
for path in "${scenario_paths[@]}"; do
    name=$(basename "$path" .sh)
    dir=$res/$name
    if [[ -f $dir/status ]]; then
        status=$(<"$dir/status")
        seconds=$(<"$dir/seconds")
    else
        status=none
        seconds=-
    fi
    case $status in
    0) verdict=PASS; passed=$((passed + 1)) ;;
    "$SKIP") verdict=SKIP; skipped=$((skipped + 1)) ;;
    124) verdict="FAIL (timed out)"; failed=$((failed + 1)) ;;
    none) verdict="FAIL (did not run to the end)"; failed=$((failed + 1)) ;;
    *) verdict="FAIL (status $status)"; failed=$((failed + 1)) ;;
    esac
    log "scenario $name: $verdict in $seconds s"
    if [[ -f $dir/timings ]]; then
        while IFS=$'\t' read -r label value; do
            log "    $label: $value s"
        done <"$dir/timings"
    fi
done

if [[ -n $results_dir ]]; then
    # Clear an earlier run's results, only in a folder this script filled.
    if [[ -f $results_dir/.quillet-vm-results ]]; then
        find "$results_dir" -mindepth 1 -delete
    fi
    mkdir -p "$results_dir"
    touch "$results_dir/.quillet-vm-results"
    cp -a "$res/." "$results_dir/"
    cp "$console" "$results_dir/console.log"
    log "results copied to $results_dir"
fi

if ((failed)); then
    exit 1
elif ((passed == 0 && skipped > 0)); then
    exit "$SKIP"
fi
exit 0
