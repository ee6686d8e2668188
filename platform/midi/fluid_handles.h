#pragma once

#include <fluidsynth.h>

#include <memory>

namespace mbs {

struct SettingsDeleter {
    void operator()(fluid_settings_t* s) const noexcept { delete_fluid_settings(s); }
};
struct SynthDeleter {
    void operator()(fluid_synth_t* s) const noexcept { delete_fluid_synth(s); }
};
struct AudioDriverDeleter {
    void operator()(fluid_audio_driver_t* d) const noexcept { delete_fluid_audio_driver(d); }
};

using SettingsPtr = std::unique_ptr<fluid_settings_t, SettingsDeleter>;
using SynthPtr = std::unique_ptr<fluid_synth_t, SynthDeleter>;
using AudioDriverPtr = std::unique_ptr<fluid_audio_driver_t, AudioDriverDeleter>;

}  // namespace mbs
