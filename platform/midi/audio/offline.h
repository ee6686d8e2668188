#pragma once

#include "audio_output.h"

namespace mbs {

// No device: whoever holds it pulls frames, as tests do.
class OfflineOutput : public AudioOutput {
public:
    const char* Name() const override { return "offline"; }
    bool Start(fluid_settings_t* settings, fluid_synth_t* synth, PresetStore& store,
               std::string& why) override;
    void Render(float* left, float* right, int frames);
};

}  // namespace mbs
