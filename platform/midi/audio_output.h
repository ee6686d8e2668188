#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "decoder.h"
#include "fluid_handles.h"
#include "preset_player.h"
#include "preset_rules.h"
#include "preset_store.h"

namespace mbs {

// Where the synthesizer's sound goes. Each back-end lives in audio/ and says at run time
// whether it can work here.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    virtual const char* Name() const = 0;
    // Starts rendering the synthesizer, whose presets `store` loads; on failure says why in
    // `why`.
    virtual bool Start(fluid_settings_t* settings, fluid_synth_t* synth, PresetStore& store,
                       std::string& why) = 0;
    // Sets a channel's instrument (the window's list), from a thread that is not the audio
    // thread.
    virtual void SelectInstrument(int channel, PresetKey key);
    // Hands a complete MIDI message that has just arrived to the synthesizer, from an input
    // thread that is not the audio thread.
    virtual void PostMessage(const MidiMessage& message);
    // The sample rate the synthesizer must run at, or 0 to keep its own.
    virtual double SampleRate() const { return 0; }
    // Adjusts the synthesizer's settings before it is made.
    virtual void Configure(fluid_settings_t* settings) const { (void)settings; }
    // The instrument (bank * 128 + program + 1) that a channel plays; 0 when unknown or when
    // the channel has none yet. Safe from the GUI thread.
    virtual int32_t InstrumentIDOnChannel(int channel) const;

protected:
    // Plays through a player of the given kind from now on.
    void Attach(fluid_synth_t* synth, PresetStore& store, PresetPlayer::Loading loading,
                PresetPlayer::Caller caller);
    // Plays what waited for the presets loaded since, for outputs without cycles of their own.
    void PlayWaiting();

    fluid_synth_t* synth_ = nullptr;
    std::unique_ptr<PresetPlayer> player_;

private:
    std::mutex playMutex_;  // callers from several threads take turns
};

// The instrument (bank * 128 + program + 1) the channel plays; 0 when it has none.
int32_t InstrumentIDOf(fluid_synth_t* synth, int channel);

// Plays one complete MIDI message; safe on the audio thread (no allocation, no lock beyond
// FluidSynth's own when its thread-safe API is on) when the presets it selects are loaded.
void ApplyMessage(fluid_synth_t* synth, const MidiMessage& message);

struct AudioBackend {
    const char* name;
    // Whether this back-end can work on this machine now; if not, why.
    bool (*available)(std::string& why);
    std::unique_ptr<AudioOutput> (*create)();
};

// Back-ends in the order they are tried; the offline one only when asked for by name.
const std::vector<AudioBackend>& AudioBackends();
const AudioBackend* FindAudioBackend(const std::string& name);

bool JackAvailable(std::string& why);
std::unique_ptr<AudioOutput> CreateJackOutput();
std::unique_ptr<AudioOutput> CreateDriverOutput();
std::unique_ptr<AudioOutput> CreateOfflineOutput();

}  // namespace mbs
