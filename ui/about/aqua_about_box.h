#pragma once

#include <string>

#include "platform/framework/core/ref.h"
#include "platform/framework/gui/controls.h"
#include "platform/framework/gui/window.h"
#include "ui/about/static_url.h"

namespace quillet {

// The About window: the keyboard picture, the name, the running version, a description, the
// licence in a scrolling field, the copyright line and a link to the maker's home page.
class AquaAboutBox : public fw::Window {
public:
    AquaAboutBox() = default;

    void Layout() override;
    void CreateControls() override;
    void CreateControls0();
    void name_Open();
    void version_Open();
    void description_Open();
    void credits_Open();
    void copyright_Open();
    void homePage_Open();
    void Event_Open() override;
    // Hides one of the window's controls and closes the gap it leaves: the later controls
    // move up by the distance from its top to its successor's top (its own height when it is
    // the last control), and the window gets shorter by as much.
    void hideControl(fw::Ref<fw::RectControl> c);

protected:
    // Where the link leads.
    virtual std::string HomePageURL() const;
};

namespace shared {

// The open About window, or a freshly built one when none is open.
fw::Ref<quillet::AquaAboutBox> AquaAboutBox();

}  // namespace shared

}  // namespace quillet
