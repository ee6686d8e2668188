#pragma once

#include <array>
#include <cstdint>

#include "decoder.h"
#include "fluid_handles.h"
#include "preset_rules.h"
#include "preset_store.h"

namespace mbs {

// Plays messages and instrument changes on the synthesizer, making sure that the presets
// they select have their samples in memory first.
//
// Waiting (driver and offline outputs): a preset not yet loaded is loaded on the calling
// thread, then selected.
//
// Deferring (the JACK output, on its audio thread, which must not wait): the store's thread
// is asked for the preset; a channel that has an instrument keeps playing it until the new
// one is loaded, then takes it, unless a later change came first. A channel with no
// instrument yet holds its messages back, in order, until its instrument is in. Retry, at
// the start of every cycle, plays what has become possible. No allocation after
// construction.
//
// The channels start with no instrument: a channel's first note selects its General MIDI
// default (program 0; the first kit on the drum channel), so that start-up loads nothing.
class PresetPlayer {
public:
    enum class Loading { Wait, Defer };

    PresetPlayer(fluid_synth_t* synth, PresetStore& store, Loading loading);

    void Play(const MidiMessage& message);
    // Selects the preset on the channel (the window's instrument list).
    void Select(int channel, PresetKey key);
    // Deferring: plays what waited for presets that have loaded since.
    void Retry();
    // Channels (bit per channel) whose program may have changed since the last call.
    std::uint32_t TakeChangedChannels();

    // Held back at most; more, while presets load, are dropped.
    static constexpr std::size_t kMaxHeld = 512;
    static constexpr std::size_t kHeldBytes = 4096;

private:
    struct Pending {
        enum class Kind : std::uint8_t { None, Program, Select } kind = Kind::None;
        int program = 0;
        PresetKey key;
    };
    struct Held {
        enum class Kind : std::uint8_t { Message, Select } kind = Kind::Message;
        std::uint8_t channel = 0;  // Select
        PresetKey key;             // Select
        std::uint16_t length = 0;  // Message: its bytes in the pool
        std::uint16_t offset = 0;
    };
    struct HeldList {
        std::array<Held, kMaxHeld> items;
        std::size_t count = 0;
        std::array<std::uint8_t, kHeldBytes> pool{};
        std::size_t poolUsed = 0;
    };

    enum class Outcome { Played, Waits };

    void PlayNow(const MidiMessage& message);
    Outcome ProgramChange(int channel, int program);
    Outcome SelectNow(int channel, PresetKey key);
    // Whether the preset can be selected now; asks for it (or loads it) when not.
    bool Available(int index);
    bool BeginSelect();
    void EndSelect();
    bool HasInstrument(int channel) const;
    bool Blocked(const MidiMessage& message) const;
    void Hold(const MidiMessage& message);
    void HoldSelect(int channel, PresetKey key);
    void ReplayHeld();

    fluid_synth_t* synth_;
    PresetStore& store_;
    Loading loading_;
    std::array<Pending, 16> pending_{};
    HeldList held_;
    HeldList replay_;
    std::uint16_t blockedChannels_ = 0;
    bool blockedAll_ = false;
    std::uint64_t seenCompleted_ = 0;
    bool retryNextCycle_ = false;
    std::uint32_t changed_ = 0;
};

}  // namespace mbs
