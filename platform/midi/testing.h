#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "playback.h"

// Hooks for tests of the component: they choose back-ends and instrument sets that a test
// machine can provide.
namespace mbs {
struct Instrument;
}

namespace mbs::testing {

// Forces the audio back-end chosen by LoadMidiComponent ("offline" for tests that pull frames).
void ForceAudioBackend(std::optional<std::string> name);
// Forces the MIDI input back-end ("loopback" for tests that play sources of their own).
void ForceMidiBackend(std::optional<std::string> name);
// Sees every debug message, whether or not the debug output is on.
void SetDebugMessageHook(std::function<void(const std::string&)> hook);
// Replaces the list of SoundFonts looked for.
void SetSoundFontOverride(std::optional<std::vector<std::string>> paths);
std::optional<std::vector<std::string>> SoundFontOverride();
// Replaces the instruments the synthesizer reports, in index order.
void SetInstrumentOverride(std::optional<std::vector<Instrument>> instruments);
std::optional<std::vector<Instrument>> InstrumentOverride();
// Every SetInstrumentIDOnChannel call since the last clear, as (channel, id).
std::vector<std::pair<int32_t, int32_t>> InstrumentRequests();
void ClearInstrumentRequests();
// Pulls frames from a synthesizer on the offline back-end; false on any other.
bool RenderOffline(MidiPlaybackMBS& player, float* left, float* right, int frames);

}  // namespace mbs::testing
