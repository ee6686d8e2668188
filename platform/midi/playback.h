#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace mbs {

class SynthEngine;

// The General MIDI software synthesizer. Instrument IDs are bank * 128 + program + 1 of the
// SoundFont's presets, so 1 to 128 are the melodic General MIDI bank (16 is Dulcimer).
class MidiPlaybackMBS {
public:
    MidiPlaybackMBS();
    ~MidiPlaybackMBS();
    MidiPlaybackMBS(const MidiPlaybackMBS&) = delete;
    MidiPlaybackMBS& operator=(const MidiPlaybackMBS&) = delete;

    // Loads the General MIDI SoundFont and starts audio output; false when either fails, with
    // the reason written to standard error. After a failure every other call answers without
    // harm, as a synthesizer without instruments.
    bool Init();

    int32_t InstrumentCount() const;
    // The ID of the instrument at a 0-based index; 0 outside the list.
    int32_t InstrumentID(int32_t index) const;
    // The instrument's display name; empty for an unknown ID.
    std::string InstrumentName(int32_t id) const;
    // The instrument that a MIDI channel (0 to 15) plays.
    int32_t InstrumentIDOnChannel(int32_t channel) const;
    void SetInstrumentIDOnChannel(int32_t channel, int32_t id);

    // The value that routes an input port to this synthesizer (MidiPortMBS::SetCallback).
    int64_t Callback() const;

    SynthEngine* Engine() const { return engine_.get(); }

private:
    std::unique_ptr<SynthEngine> engine_;
};

}  // namespace mbs

namespace mbs {

// The value that MidiPortMBS::SetCallback takes to route a port to a synthesizer.
inline constexpr int64_t kPlaybackCallback = 0x504C4159;

}  // namespace mbs
