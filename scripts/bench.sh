#!/usr/bin/env bash
# Measures Quillet against FluidSynth's own command line on private JACK servers with the
# dummy driver: onset timing at periods 64, 256 and 1024, time to first sound, memory, idle
# CPU and a storm of notes. Prints one table (Quillet / FluidSynth / ratio) and writes it to
# <output directory>/results.csv; the programs' logs go to <output directory>/logs.
#
# Usage: scripts/bench.sh [output directory, default ./bench-out] [options of quillet_bench]
# A quick run: scripts/bench.sh bench-out --notes 40 --start-runs 1 --idle-seconds 2 \
#     --storm-seconds 3 --programs 8
set -euo pipefail
OUT=$(realpath -m "${1:-bench-out}")
shift || true
cd "$(dirname "$0")/.."
ROOT=$PWD

./scripts/deps.sh test
# The guest part runs PipeWire from this machine's root (tests/vm/run-guest.sh installs QEMU
# and the kernel).
missing=()
for p in pipewire wireplumber pipewire-pulse; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    $([ "$(id -u)" -ne 0 ] && echo sudo) env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

BUILD=$ROOT/build-bench
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_TESTS=ON >/dev/null
cmake --build "$BUILD" --target quillet quillet_bench

./scripts/jack-reclaim-slots.sh

mkdir -p "$OUT"
BENCH_PID=""
cleanup() {
    # The driver's servers and programs end with it (they get SIGTERM when their parent goes).
    if [ -n "$BENCH_PID" ]; then
        kill "$BENCH_PID" 2>/dev/null || true
        wait "$BENCH_PID" 2>/dev/null || true
    fi
}
trap cleanup EXIT INT TERM

# libjack's messages about servers coming and going go to the log only; the progress lines
# and the table to the screen too.
"$BUILD/bench/quillet_bench" --out "$OUT" "$@" \
    2> >(tee "$OUT/bench.log" | grep --line-buffered '^bench:' >&2) &
BENCH_PID=$!
status=0
wait "$BENCH_PID" || status=$?
BENCH_PID=""
exit "$status"
