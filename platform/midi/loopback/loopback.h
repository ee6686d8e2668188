#pragma once

#include <cstdint>
#include <string>
#include <vector>

// An in-process MIDI system for tests: sources are added, removed and played by the test,
// and reach the input port exactly as a keyboard's bytes would.
namespace mbs::loopback {

// Adds a source; returns its identifier (never 0).
uint64_t AddSource(const std::string& name);
void RemoveSource(uint64_t id);
void RemoveAllSources();
// Sends one delivery of packets from a source; ignored when the source is unknown.
void Send(uint64_t id, const std::vector<std::vector<uint8_t>>& packets);
// Whether the port is connected to this source.
bool IsConnected(uint64_t id);
// Blocks until every delivery sent so far has been handled by the port.
void Flush();

}  // namespace mbs::loopback
