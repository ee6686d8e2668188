#pragma once

#include "platform/framework/core/ref.h"
#include "platform/framework/gui/menu.h"

namespace quillet {

// The application's one menu bar: File (Quit) and Help (About, Quick Start, Check for
// Updates, the web site). The application object and the main window show the same instance.
class MenuBar1 : public fw::MenuBar {
public:
    MenuBar1();
    // Builds the File menu.
    void Untitled1();
    // Builds the Help menu.
    void Untitled3();
};

namespace shared {

// The shared menu bar, built on the first call and kept until ReleaseMenuBar1.
fw::Ref<quillet::MenuBar1> MenuBar1();
void ReleaseMenuBar1();

}  // namespace shared

}  // namespace quillet
