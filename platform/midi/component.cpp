#include "component.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "audio/offline.h"
#include "audio_output.h"
#include "debug_output.h"
#include "midi_input.h"
#include "synth_engine.h"
#include "testing.h"

namespace mbs {

namespace {

struct ComponentState {
    std::optional<std::string> forcedMidi;
    std::string midiBackend;
    std::string midiFailures;
    std::optional<std::string> forcedAudio;
    std::string audioBackend = "driver";
    std::optional<std::vector<std::string>> soundFonts;
    std::optional<std::vector<Instrument>> instruments;
};

ComponentState& C() {
    static ComponentState state;
    return state;
}

}  // namespace

void ChooseMidiInput(ComponentState& c) {
    c.midiBackend.clear();
    c.midiFailures.clear();
    if (c.forcedMidi) {
        c.midiBackend = *c.forcedMidi;
        return;
    }
    if (const char* env = std::getenv("QUILLET_MIDI"); env && *env) {
        c.midiBackend = env;
        return;
    }
    for (const auto& b : MidiInputBackends()) {
        if (std::string(b.name) == "loopback") continue;
        std::string why;
        if (b.available(why)) {
            c.midiBackend = b.name;
            return;
        }
        c.midiFailures += "\n  " + std::string(b.name) + ": " + why;
    }
}

void LoadMidiComponent() {
    RouteFluidSynthReports();
    auto& c = C();
    // Tests and the diagnostics in the README can pin a back-end; otherwise the first that
    // can work here is taken.
    ChooseMidiInput(c);
    if (c.forcedAudio) {
        c.audioBackend = *c.forcedAudio;
        return;
    }
    if (const char* env = std::getenv("QUILLET_AUDIO"); env && *env) {
        c.audioBackend = env;
        return;
    }
    for (const auto& b : AudioBackends()) {
        if (std::string(b.name) == "offline") continue;
        std::string why;
        if (b.available(why)) {
            c.audioBackend = b.name;
            return;
        }
    }
}

std::string AudioBackendName() {
    return C().audioBackend;
}
std::string MidiInputBackendName() {
    return C().midiBackend;
}
std::string MidiInputFailures() {
    return C().midiFailures;
}

namespace testing {

void ForceAudioBackend(std::optional<std::string> name) {
    C().forcedAudio = std::move(name);
}
void ForceMidiBackend(std::optional<std::string> name) {
    C().forcedMidi = std::move(name);
}
void SetSoundFontOverride(std::optional<std::vector<std::string>> paths) {
    C().soundFonts = std::move(paths);
}
std::optional<std::vector<std::string>> SoundFontOverride() {
    if (C().soundFonts) return C().soundFonts;
    if (const char* env = std::getenv("QUILLET_SOUNDFONT"); env && *env)
        return std::vector<std::string>{env};
    return std::nullopt;
}
void SetInstrumentOverride(std::optional<std::vector<Instrument>> instruments) {
    C().instruments = std::move(instruments);
}
std::optional<std::vector<Instrument>> InstrumentOverride() {
    return C().instruments;
}

bool RenderOffline(MidiPlaybackMBS& player, float* left, float* right, int frames) {
    if (!player.Engine()) return false;
    auto* offline = dynamic_cast<OfflineOutput*>(&player.Engine()->Output());
    if (!offline) return false;
    offline->Render(left, right, frames);
    return true;
}

}  // namespace testing

}  // namespace mbs
