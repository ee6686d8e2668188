#pragma once

#include <cstdint>

namespace mbs {

// One thing for the synthesizer to do, small enough to pass through a lock-free queue.
struct SynthEvent {
    enum class Kind : uint8_t {
        NoteOn,
        NoteOff,
        KeyPressure,
        Controller,
        ProgramChange,
        ChannelPressure,
        PitchBend,
        SystemReset,
        ProgramSelect
    };
    Kind kind = Kind::NoteOn;
    uint8_t channel = 0;
    int32_t a = 0;  // key, controller, program, bend value, or bank for ProgramSelect
    int32_t b = 0;  // velocity, controller value, pressure, or program for ProgramSelect
};

}  // namespace mbs
