#!/usr/bin/env bash
# Installs what Quillet needs to build, run and test on Debian 12. Safe to run again.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
    cmake ninja-build g++ pkg-config git
    qt6-base-dev qt6-base-private-dev libgl-dev
    libfluidsynth-dev fluidsynth fluid-soundfont-gm
    libasound2-dev libjack-jackd2-dev jackd2
    libgtest-dev libgmock-dev
    xvfb xauth xdotool desktop-file-utils
    python3-pyatspi at-spi2-core dbus
)

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    $SUDO apt-get update -q
    # jackd2 asks whether to enable real-time priority; the default answer is fine.
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi
