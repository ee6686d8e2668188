#pragma once

#include <optional>
#include <string>
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
// Replaces the list of SoundFonts looked for.
void SetSoundFontOverride(std::optional<std::vector<std::string>> paths);
std::optional<std::vector<std::string>> SoundFontOverride();
// Replaces the instruments the synthesizer reports, in index order.
void SetInstrumentOverride(std::optional<std::vector<Instrument>> instruments);
std::optional<std::vector<Instrument>> InstrumentOverride();
// Pulls frames from a synthesizer on the offline back-end; false on any other.
bool RenderOffline(MidiPlaybackMBS& player, float* left, float* right, int frames);

}  // namespace mbs::testing
