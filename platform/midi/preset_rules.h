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
// The channel that plays drums after a reset.
constexpr int kDrumChannel = 9;

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

// How FluidSynth reads bank selects, which the GM, GS and XG mode messages switch: GS (its
// default) and XG take the bank from the MSB and the LSB, and XG makes a channel a drum
// channel with an MSB of 120 or more; GM ignores bank selects.
enum class BankStyle { Gs, Gm, Xg };

// What a message does to the presets the channels play, as FluidSynth applies it.
struct PresetEffect {
    enum class Kind {
        None,           // notes, controllers, other SysEx: no preset changes hands
        ProgramChange,  // selects a preset on its channel
        Reset,          // system reset or a GM/GS/XG mode message: every channel starts over
        DrumChannel,    // makes `channel` a drum channel or not (`drum`), selecting nothing
        RhythmPart,     // GS: the same, and then program 0 on that channel
    } kind = Kind::None;
    int channel = 0;
    bool drum = false;
    BankStyle style = BankStyle::Gs;  // Reset: the way bank selects are read from then on
};

// `style` is the one in force; `deviceId` is FluidSynth's synth.device-id, which SysEx
// messages must name (or name every device, 0x7F).
PresetEffect PresetEffectOf(const MidiMessage& message, BankStyle style, int deviceId);

// A MIDI Tuning Standard message, with which FluidSynth makes (allocates) a tuning.
bool ChangesTuning(const MidiMessage& message, int deviceId);

}  // namespace mbs
