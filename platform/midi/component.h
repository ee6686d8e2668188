#pragma once

#include <string>

namespace mbs {

// Chooses the MIDI and audio back-ends for this run, once, from what can work on this
// machine. Every later call of the component goes to what was chosen here.
void LoadMidiComponent();

// The back-ends chosen by LoadMidiComponent: audio "jack", "driver" or "offline"; MIDI input
// "alsa", "jack", "loopback", or empty when no MIDI system can work here.
std::string AudioBackendName();
std::string MidiInputBackendName();

}  // namespace mbs

namespace mbs {

// Diagnostic messages of the program, written to standard error while enabled.
void DebugMessageEnableMBS(bool activate);
void DebugMessageMBS(const std::string& message);

}  // namespace mbs
