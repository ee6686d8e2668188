#include "audio/offline.h"

namespace mbs {

bool OfflineOutput::Start(fluid_settings_t*, fluid_synth_t* synth, PresetStore& store,
                          std::string&) {
    Attach(synth, store, PresetPlayer::Loading::Wait, PresetPlayer::Caller::Other);
    return true;
}

void OfflineOutput::Render(float* left, float* right, int frames) {
    if (synth_) fluid_synth_write_float(synth_, frames, left, 0, 1, right, 0, 1);
}

std::unique_ptr<AudioOutput> CreateOfflineOutput() {
    return std::make_unique<OfflineOutput>();
}

}  // namespace mbs
