#!/bin/bash
# Process 1 of the test guest, "init=/bin/bash -- guest-init.sh PROGRAM SCENARIO SECONDS"
# (run-guest.sh): makes the read-only 9p root usable, loads the modules, runs the scenario on
# PROGRAM within SECONDS, prints its exit status and powers off. It must not end before:
# process 1 ending panics the kernel.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 HOME=/root XDG_RUNTIME_DIR=/run/user/0
read -r up _ </proc/uptime
echo "quillet-vm: init at uptime $up s"

# No module loading on the kernel's request: the sequencer asks for modules whenever a client
# list is read and a slot or device is unclaimed (the gadgets' own sides are), and so does
# Quillet's enumeration of clients; each request runs modprobe, which takes seconds under
# emulation. Everything needed is loaded here, by name.
echo >/proc/sys/kernel/modprobe
# The loopback card first, so that it is card 0 and the default device; two virtual USB
# buses, so that two gadgets can be plugged in at once.
modprobe snd-aloop index=0
modprobe dummy_hcd num=2
modprobe -a overlay configfs snd-seq snd-seq-dummy snd-seq-midi snd-usb-audio libcomposite usb_f_midi
mount -t configfs configfs /sys/kernel/config

# Writable layers in guest memory over the read-only root: the host's files stay visible.
mount -t tmpfs tmpfs /run/rw --mkdir
for dir in /etc /root /tmp /var; do
    mkdir -p "/run/rw$dir" "/run/rw/work$dir"
    mount -t overlay overlay -o "lowerdir=$dir,upperdir=/run/rw$dir,workdir=/run/rw/work$dir" "$dir"
done
install -d -m 700 /run/user/0
read -r up _ </proc/uptime
echo "quillet-vm: ready at uptime $up s"

timeout -k 5 "$3" bash "$2" "$1" </dev/null 2>&1
echo "quillet-vm: scenario status $?"
sync
echo o >/proc/sysrq-trigger
sleep 10
