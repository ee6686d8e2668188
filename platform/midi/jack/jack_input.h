#pragma once

#include <cstdint>
#include <string>

namespace mbs {

// JACK merges everything connected to an input port into one stream, so a delivery names
// its source only while exactly one is connected; otherwise it comes from this one.
inline constexpr uint64_t kJackSeveralSources = (uint64_t{0x4A} << 40) | 0x7FFFFFFF;

bool JackInputAvailable(std::string& why);

}  // namespace mbs
