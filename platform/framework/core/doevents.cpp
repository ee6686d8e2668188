#include "doevents.h"

#include <utility>

namespace fw {

namespace {
DoEventsHandler& Installed() {
    static DoEventsHandler handler;
    return handler;
}
}  // namespace

void SetDoEventsHandler(DoEventsHandler handler) {
    Installed() = std::move(handler);
}

void CallDoEventsHandler(int32_t milliseconds) {
    // A copy, so that a handler may replace itself while it runs.
    DoEventsHandler handler = Installed();
    if (handler) handler(milliseconds);
}

}  // namespace fw
