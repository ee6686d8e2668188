#!/usr/bin/env bash
# Installs what the tests need, then builds and runs the whole suite twice: a normal build,
# and one with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
./scripts/deps.sh test

./scripts/jack-reclaim-slots.sh

JOBS=$(nproc)
status=0

run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DQUILLET_TESTS=ON "$@"
    cmake --build "$dir" -j "$JOBS"
    ctest --test-dir "$dir" --output-on-failure -j "$JOBS" || status=1
}

echo "=== normal build ==="
run_suite build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "=== AddressSanitizer + UndefinedBehaviorSanitizer build ==="
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$ROOT/tests/sanitizer/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$ROOT/tests/sanitizer/ubsan.supp"
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DQUILLET_SANITIZE=ON

exit $status
