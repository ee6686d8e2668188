#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio_output.h"
#include "fluid_handles.h"

namespace mbs {

struct Instrument {
    int32_t id = 0;
    std::string name;
};

// FluidSynth with the General MIDI SoundFont, its preset store and one audio output. Members
// are declared in the order they are made, so they go in the reverse order: output (the audio
// stops), store (its thread stops), synthesizer, settings.
class SynthEngine {
public:
    // A started engine, or nil with the reasons in `why`.
    static std::unique_ptr<SynthEngine> Create(const std::string& audioBackend, std::string& why);
    ~SynthEngine();

    const std::vector<Instrument>& Instruments() const { return instruments_; }
    fluid_synth_t* Synth() const { return synth_.get(); }
    AudioOutput& Output() const { return *output_; }
    PresetStore& Presets() const { return *store_; }

private:
    SynthEngine() = default;

    SettingsPtr settings_;
    SynthPtr synth_;
    std::unique_ptr<PresetStore> store_;
    std::unique_ptr<AudioOutput> output_;
    std::vector<Instrument> instruments_;
};

// The SoundFonts looked for, in order: FluidSynth's configured default first.
std::vector<std::string> SoundFontCandidates(fluid_settings_t* settings);
// Bank, then program order; names trimmed.
std::vector<Instrument> ListInstruments(fluid_sfont_t* sfont);

}  // namespace mbs
