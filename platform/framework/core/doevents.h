#pragma once

#include <cstdint>
#include <functional>

namespace fw {

// The core knows no event loop. The GUI part installs its DoEvents here, so that a blocking
// wait in the core (a socket's, with Yield set) can let the application handle its events.
using DoEventsHandler = std::function<void(int32_t milliseconds)>;
void SetDoEventsHandler(DoEventsHandler handler);
// Runs the installed handler; does nothing when there is none.
void CallDoEventsHandler(int32_t milliseconds);

}  // namespace fw
