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
// Deferring (the JACK output on its audio thread, which must not wait, and FluidSynth's own
// drivers, whose MIDI and window threads must not either): the store's thread is asked for
// the preset; a channel that has an instrument keeps playing it until the new
// one is loaded, then takes it, unless a later change came first. A channel with no
// instrument yet holds its messages back, in order, until its instrument is in. Retry, at
// the start of every cycle or after each load, plays what has become possible. No allocation after
// construction.
//
// The channels start with no instrument: a channel's first note selects its General MIDI
// default (program 0; the first kit on the drum channel), so that start-up loads nothing.
class PresetPlayer {
public:
    enum class Loading { Wait, Defer };
    // Whether the calls come from a real-time audio thread, which must not allocate.
    enum class Caller { Audio, Other };

    PresetPlayer(fluid_synth_t* synth, PresetStore& store, Loading loading, Caller caller);

    void Play(const MidiMessage& message);
    // Selects the preset on the channel (the window's instrument list).
    void Select(int channel, PresetKey key);
    // Deferring: plays what waited for presets that have loaded since.
    void Retry();
    // Channels (bit per channel) whose program may have changed since the last call.
    std::uint32_t TakeChangedChannels();

    // Held back at most; more, while presets load, are dropped, and the notes of their
    // channels end once the presets are in.
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
    // A program change, or the rhythm part setting that selects program 0 of drums or not.
    Outcome ProgramChange(int channel, int program, const MidiMessage* rhythmPart = nullptr,
                          bool drum = false);
    void SetDrum(int channel, bool drum);
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
    Caller caller_;
    std::array<Pending, 16> pending_{};
    HeldList held_;
    HeldList replay_;
    // How FluidSynth picks presets, which messages change: its synth.device-id that SysEx
    // must name, its way of reading bank selects, and its drum channels (a bit per channel).
    int deviceId_ = 0;
    BankStyle style_ = BankStyle::Gs;
    std::uint16_t drums_ = 1u << kDrumChannel;
    std::uint16_t blockedChannels_ = 0;
    std::uint16_t overflowed_ = 0;  // channels whose messages were held beyond the bound
    bool blockedAll_ = false;
    std::uint64_t seenCompleted_ = 0;
    bool retryNextCycle_ = false;
    std::uint32_t changed_ = 0;
};

}  // namespace mbs
