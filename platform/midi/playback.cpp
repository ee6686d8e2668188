#include "playback.h"

#include <cstdio>

#include "component.h"
#include "synth_engine.h"

namespace mbs {

MidiPlaybackMBS::MidiPlaybackMBS() = default;
MidiPlaybackMBS::~MidiPlaybackMBS() = default;

bool MidiPlaybackMBS::Init() {
    if (engine_) return true;
    std::string why;
    engine_ = SynthEngine::Create(AudioBackendName(), why);
    if (!engine_) {
        std::fprintf(stderr, "quillet: the synthesizer cannot start: %s\n", why.c_str());
        return false;
    }
    return true;
}

int64_t MidiPlaybackMBS::Callback() const {
    return kPlaybackCallback;
}

int32_t MidiPlaybackMBS::InstrumentCount() const {
    return engine_ ? static_cast<int32_t>(engine_->Instruments().size()) : 0;
}

int32_t MidiPlaybackMBS::InstrumentID(int32_t index) const {
    if (!engine_ || index < 0 || index >= InstrumentCount()) return 0;
    return engine_->Instruments()[static_cast<size_t>(index)].id;
}

std::string MidiPlaybackMBS::InstrumentName(int32_t id) const {
    if (!engine_) return {};
    for (const auto& i : engine_->Instruments())
        if (i.id == id) return i.name;
    return {};
}

int32_t MidiPlaybackMBS::InstrumentIDOnChannel(int32_t channel) const {
    if (!engine_ || channel < 0 || channel > 15) return 0;
    return engine_->Output().InstrumentIDOnChannel(channel);
}

void MidiPlaybackMBS::SetInstrumentIDOnChannel(int32_t channel, int32_t id) {
    if (!engine_ || channel < 0 || channel > 15 || id < 1) return;
    engine_->Output().SelectInstrument(channel, {(id - 1) / 128, (id - 1) % 128});
}

}  // namespace mbs
