#!/bin/bash
# Quillet's own window on the guest's ALSA sequencer (tests/vm/alsa_window_test.cpp): no
# keyboard, a USB gadget keyboard plugged in, its notes out of the loopback card, a second
# keyboard plugged in late and the first unplugged; then, with a JACK server, the same
# keyboard with Quillet's JACK audio output and the onset spread of 50 notes.
set -euo pipefail
# shellcheck source=SCRIPTDIR/../lib.sh
source "$QVM_LIB"

test=${QUILLET_BUILD_DIR:?the test command passes the build folder}/tests/vm/alsa_window_test
[[ -x $test ]] || qvm_fail "$test is not built"

export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=/run/user/0 HOME=/root
# FluidSynth's ALSA driver underruns with a desktop's small buffers under emulation, and then
# stops for good.
export QUILLET_AUDIO_PERIOD_SIZE=256 QUILLET_AUDIO_PERIODS=4
# A sanitizer build (build-asan) reports with the project's suppressions, as scripts/test.sh
# has it on the host; the guest does not inherit the host's environment.
if [[ -n ${QUILLET_SOURCE_DIR:-} ]]; then
    export LSAN_OPTIONS="suppressions=$QUILLET_SOURCE_DIR/tests/sanitizer/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$QUILLET_SOURCE_DIR/tests/sanitizer/ubsan.supp"
fi

# Both keyboards exist, unplugged, before Quillet starts: creating one gives its gadget side
# a sequencer client for a moment, which Quillet's watch would take for a keyboard.
qvm_gadget_create keys "Quillet Test Keys"
qvm_gadget_create second "Quillet Second Keys"

start=$(qvm_us)
"$test" --gtest_filter='AlsaWindow.*' || qvm_fail "the ALSA scenarios failed"
qvm_timing "scenarios 1-4 (window with FluidSynth's ALSA driver)" "$(($(qvm_us) - start))"

qvm_jack_start 48000 256
start=$(qvm_us)
"$test" --gtest_filter='AlsaJack.*' || qvm_fail "the JACK audio scenario failed"
qvm_timing "scenario 5 (window with JACK audio)" "$(($(qvm_us) - start))"
qvm_pass "Quillet's ALSA scenarios"
