#!/usr/bin/env bash
# Installs what Quillet needs on Debian 12: to build and run it, or with "test" also what the
# tests and the benchmark use. Safe to run again; installs only what is missing.
# Usage: scripts/deps.sh [test]
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-private-dev libgl-dev libxcb1-dev
    libfluidsynth-dev fluid-soundfont-gm
    libasound2-dev libjack-jackd2-dev
)
if [ "${1:-}" = test ]; then
    PACKAGES+=(
        fluidsynth jackd2
        libgtest-dev libgmock-dev
        xvfb xauth xdotool x11-utils desktop-file-utils
        python3-pyatspi at-spi2-core dbus
        dpkg-dev lintian appstream man-db
    )
fi

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
