#pragma once

#include <optional>

#include "decoder.h"

namespace mbs {

// A preset of the SoundFont: bank 128 holds the drum kits.
struct PresetKey {
    int bank = 0;
    int program = 0;
    bool operator==(const PresetKey&) const = default;
};

constexpr int kDrumBank = 128;

// The preset a program change selects, by FluidSynth's own rules: a drum channel takes its
// kit from the drum bank, whatever bank was selected; a preset the SoundFont lacks falls
// back to the first kit (drums), or to the same program of bank 0 and then to bank 0's first
// preset. Nothing when even that is missing. `exists(bank, program)` asks the SoundFont.
template <typename Exists>
std::optional<PresetKey> ResolveProgramChange(bool drumChannel, int channelBank, int program,
                                              Exists&& exists) {
    const int bank = drumChannel ? kDrumBank : channelBank;
    if (exists(bank, program)) return PresetKey{bank, program};
    if (bank == kDrumBank) {
        if (exists(kDrumBank, 0)) return PresetKey{kDrumBank, 0};
        return std::nullopt;
    }
    if (exists(0, program)) return PresetKey{0, program};
    if (exists(0, 0)) return PresetKey{0, 0};
    return std::nullopt;
}

// What a message can do to the presets the channels play.
enum class PresetEffect {
    None,           // notes, controllers, other SysEx: no preset changes hands
    ProgramChange,  // selects a preset on its channel
    Reset,          // system reset or a GM/GS/XG mode message: every channel starts over
};

PresetEffect PresetEffectOf(const MidiMessage& message);

}  // namespace mbs
