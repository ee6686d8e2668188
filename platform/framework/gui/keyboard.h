#pragma once

#include <cstdint>

namespace fw::Keyboard {

// Whether the physical key with this Macintosh virtual key code is held down now
// (123 left, 124 right, 125 down, 126 up arrow).
bool AsyncKeyDown(int32_t keyCode);

}  // namespace fw::Keyboard
