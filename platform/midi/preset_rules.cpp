#include "preset_rules.h"

namespace mbs {

PresetEffect PresetEffectOf(const MidiMessage& m) {
    if (m.kind == MidiMessageKind::SysEx) {
        // Universal non-real-time (GM System On/Off), Roland (GS) and Yamaha (XG) messages
        // may reset the channels; FluidSynth then selects each channel's default again.
        if (m.length < 3 || !m.sysex) return PresetEffect::None;
        const std::uint8_t maker = m.sysex[1];
        return maker == 0x7E || maker == 0x41 || maker == 0x43 ? PresetEffect::Reset
                                                               : PresetEffect::None;
    }
    const std::uint8_t status = m.Status();
    if (status == 0xFF) return PresetEffect::Reset;
    if ((status & 0xF0) == 0xC0 && status < 0xF0) return PresetEffect::ProgramChange;
    return PresetEffect::None;
}

}  // namespace mbs
