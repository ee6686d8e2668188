#include "app/menu_bar1.h"

namespace quillet {

namespace {

// thread_local, as every object of the main thread that Qt needs: an exit() on that thread
// releases it before Qt's global objects go.
fw::Ref<quillet::MenuBar1>& MenuBar1Storage() {
    thread_local fw::Ref<quillet::MenuBar1> bar;
    return bar;
}

}  // namespace

MenuBar1::MenuBar1() {
    Untitled1();
    Untitled3();
}

void MenuBar1::Untitled1() {
    auto fileMenu = fw::New<fw::MenuItem>();
    fileMenu->SetName("FileMenu");
    fileMenu->SetAutoEnable(false);
    fileMenu->SetText("&File");
    fileMenu->SetKeyboardShortcut("");
    Append(fileMenu);

    auto fileQuit = fw::New<fw::QuitMenuItem>();
    fileQuit->SetName("FileQuit");
    fileQuit->SetAutoEnable(true);
    fileQuit->SetText("Quit");
    fileQuit->SetKeyboardShortcut("Cmd+Q");
    Child("FileMenu")->Append(fileQuit);
}

void MenuBar1::Untitled3() {
    auto helpMenu = fw::New<fw::MenuItem>();
    helpMenu->SetName("HelpMenu");
    helpMenu->SetAutoEnable(true);
    helpMenu->SetText("Help");
    helpMenu->SetKeyboardShortcut("");
    Append(helpMenu);

    auto about = fw::New<fw::AppleMenuItem>();
    about->SetName("HelpAboutVelunor");
    about->SetAutoEnable(true);
    about->SetText("About Quillet");
    about->SetKeyboardShortcut("");
    Child("HelpMenu")->Append(about);

    auto quickStart = fw::New<fw::MenuItem>();
    quickStart->SetName("HelpQuickStart");
    quickStart->SetAutoEnable(true);
    quickStart->SetText("Quick Start");
    quickStart->SetKeyboardShortcut("");
    Child("HelpMenu")->Append(quickStart);

    auto checkForUpdates = fw::New<fw::AppleMenuItem>();
    checkForUpdates->SetName("HelpCheckforUpdates");
    checkForUpdates->SetAutoEnable(true);
    checkForUpdates->SetText("Check for Updates");
    checkForUpdates->SetKeyboardShortcut("");
    Child("HelpMenu")->Append(checkForUpdates);

    auto separator = fw::New<fw::MenuItem>();
    separator->SetName("UntitledSeparator");
    separator->SetAutoEnable(true);
    separator->SetText("-");
    Child("HelpMenu")->Append(separator);

    auto web = fw::New<fw::MenuItem>();
    web->SetName("HelpVelunorontheWeb");
    web->SetAutoEnable(true);
    web->SetText("Quillet on the Web");
    web->SetKeyboardShortcut("");
    Child("HelpMenu")->Append(web);
}

namespace shared {

fw::Ref<quillet::MenuBar1> MenuBar1() {
    auto& bar = MenuBar1Storage();
    if (!bar) bar = fw::New<quillet::MenuBar1>();
    return bar;
}

void ReleaseMenuBar1() {
    MenuBar1Storage() = nullptr;
}

}  // namespace shared

}  // namespace quillet
