#pragma once

namespace mbs {

// The MIDI component's debug output, on standard error while it is on (from the start until
// the application's Open switches it off, or whenever switched on again): the program's
// DebugMessageMBS lines, and what FluidSynth, libjack and the back-ends report about the MIDI
// that arrives, which hostile input can make a flood of.

// "source text", from any thread, a real-time one included: it is copied into a queue without
// allocating, locking or waiting, and a thread of its own writes it out. Beyond the queue's
// room, or beyond 255 bytes, text is dropped.
void DebugText(const char* source, const char* text) noexcept;

// From now on FluidSynth reports through DebugText, whose thread this starts.
void RouteFluidSynthReports();

}  // namespace mbs
