#!/bin/bash
# The ALSA path end to end (README.md): boots the distribution's kernel in QEMU (TCG) with this
# machine's root shared read-only over 9p and an initramfs of our own, and runs quillet-alsa.sh
# inside on the program of the build folder QUILLET_BUILD_DIR; or another scenario, given with
# its time limit in seconds (the benchmark's). Exit status: 0 passed, 1 failed, 77 skipped
# (QEMU or the kernel cannot run here).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=${QUILLET_BUILD_DIR:?the build folder}/app/quillet
scenario=${1:-$here/quillet-alsa.sh} limit=${2:-240}
skip() { echo "run-guest: SKIPPED: $*" && exit 77; }
[[ -x $program ]] || { echo "run-guest: $program is not built" && exit 1; }
# The kernel hands the words after "--" on its command line to init, split at spaces.
[[ $here$program$scenario != *[[:space:]]* ]] || skip "a path with spaces cannot go on the kernel's command line"

# The newest kernel whose modules can mount a 9p root.
find_kernel() {
    local v
    for v in $(find /boot -maxdepth 1 -name 'vmlinuz-*' -printf '%f\n' | sed 's/^vmlinuz-//' | sort -rV); do
        modinfo -k "$v" 9p 9pnet_virtio >/dev/null 2>&1 && kver=$v && return 0
    done
    return 1
}
declare -A needs=([qemu-system-x86]=/usr/bin/qemu-system-x86_64 [initramfs-tools]=/usr/sbin/mkinitramfs
    [alsa-utils]=/usr/bin/amidi [sox]=/usr/bin/sox)
missing=()
for pkg in "${!needs[@]}"; do [[ -e ${needs[$pkg]} ]] || missing+=("$pkg"); done
find_kernel || missing+=(linux-image-amd64)
if ((${#missing[@]})); then
    ((EUID == 0)) || skip "${missing[*]} missing; installing needs root"
    echo "run-guest: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # A fresh machine may have no package lists yet.
    apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null 2>&1 ||
        { apt-get update >/dev/null 2>&1 && apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null; } ||
        skip "cannot install ${missing[*]}"
    find_kernel || skip "no kernel in /boot with 9p modules"
fi
modinfo -k "$kver" snd-aloop snd-seq-dummy dummy_hcd usb_f_midi snd-usb-audio overlay >/dev/null 2>&1 ||
    skip "kernel $kver lacks a module the guest needs"

work=$(mktemp -d "${TMPDIR:-/tmp}/quillet-vm.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Our own initramfs, the system's configuration plus what mounts a 9p root, kept in the build
# folder for this kernel; /boot stays as it is.
initrd=$QUILLET_BUILD_DIR/tests/vm/initrd-$kver
if [[ ! $initrd -nt /boot/vmlinuz-$kver ]]; then
    cp -a /etc/initramfs-tools "$work/conf"
    sed -i 's/^MODULES=.*/MODULES=list/' "$work/conf/initramfs.conf"
    printf '%s\n' virtio_pci 9pnet_virtio 9p >>"$work/conf/modules"
    mkinitramfs -d "$work/conf" -o "$work/initrd" "$kver" >"$work/log" 2>&1 || { cat "$work/log" && skip "mkinitramfs failed"; }
    mv "$work/initrd" "$initrd"
fi

# Under emulation the loopback card's capture now and then loses its place while the guest is
# loaded (a note is then read at a frame where another one sounds): a failed scenario runs once
# more, and only a second failure fails the test.
for attempt in 1 2; do
    echo "run-guest: booting kernel $kver"
    start=${EPOCHREALTIME/[.,]/}
    status=0
    # The console, as it comes, without the firmware's terminal codes. multidevs=remap keeps inode
    # numbers unique across the host's mounts; KVM hangs in the firmware on these machines.
    # shellcheck disable=SC2054 # the commas belong to QEMU's options
    timeout -k 10 $((limit + 120)) qemu-system-x86_64 -accel tcg -cpu max -m 2G -smp 2 -display none -monitor none \
        -serial stdio -no-reboot -nic none -kernel "/boot/vmlinuz-$kver" -initrd "$initrd" \
        -virtfs local,path=/,mount_tag=root,security_model=none,readonly=on,multidevs=remap \
        -append "console=ttyS0 root=root rootfstype=9p rootflags=trans=virtio,version=9p2000.L,msize=512000,cache=loose ro init=/bin/bash panic=1 quiet loglevel=3 fsck.mode=skip -- $here/guest-init.sh $program $scenario $limit" \
        </dev/null 2>&1 | sed -u -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\x1bc//g' -e 's/\r//g' |
        tee "$work/console" | sed -u 's/^/  guest| /' || status=$?
    end=${EPOCHREALTIME/[.,]/}
    echo "run-guest: guest run $(((end - start) / 1000000)).$(((end - start) / 100000 % 10)) s"

    result=$(sed -n 's/^quillet-vm: scenario status \([0-9]*\)$/\1/p' "$work/console")
    [[ -n $result && $result != 0 && $attempt == 1 && $scenario == "$here/quillet-alsa.sh" ]] || break
    echo "run-guest: the scenario failed (status $result); once more"
done
case $result in
0) exit 0 ;;
'') grep -q '^quillet-vm: init' "$work/console" || skip "QEMU could not run the guest (status $status)"
    echo "run-guest: FAIL: the guest did not finish (QEMU status $status)" ;;
*) echo "run-guest: FAIL: the scenario ended with status $result" ;;
esac
exit 1
