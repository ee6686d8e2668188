#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/framework/gui/controls.h"

namespace quillet {

// A label that behaves like a link in a web page: blue and underlined, magenta while the
// pointer is over it, red while pressed; a click opens URL, or the label's text when URL is
// empty, in the user's browser.
class StaticURL : public fw::StaticText {
public:
    StaticURL() = default;

    std::string URL;

    // The owner's Open event, raised once the label has set its own look. It takes the place
    // of Control::Open, whose event this class handles itself.
    std::function<void()> Open;

    void Event_Open() override;
    void Event_MouseEnter() override;
    void Event_MouseExit() override;
    bool Event_MouseDown(int32_t x, int32_t y) override;
    void Event_MouseUp(int32_t x, int32_t y) override;
};

}  // namespace quillet
