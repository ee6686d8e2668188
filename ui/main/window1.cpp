#include "ui/main/window1.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "app/menu_bar1.h"
#include "app/quillet_free.h"
#include "platform/framework/core/dictionary.h"
#include "platform/framework/core/text.h"
#include "platform/framework/gui/application.h"
#include "platform/framework/gui/keyboard.h"
#include "ui/about/aqua_about_box.h"

namespace quillet {

namespace {

// thread_local, as every object of the main thread that Qt needs: an exit() on that thread
// releases it before Qt's global objects go.
fw::Ref<fw::Picture>& TstStorage() {
    thread_local fw::Ref<fw::Picture> picture;
    return picture;
}

struct ArrowKey {
    int32_t code;
    int64_t step;
};
// Left and up step toward the start of the list, right and down toward its end.
constexpr ArrowKey kArrowKeys[] = {{123, -1}, {124, +1}, {125, +1}, {126, -1}};

// What makes sound goes in the order it was made, and its threads and its sound server
// clients with it.
void ReleaseSound(Window1& w) {
    w.Client = nullptr;
    w.port = nullptr;
    w.sources.clear();
    w.player = nullptr;
}

// exit() from the main thread (Qt calls it when the display goes away) destroys the thread's
// thread_local objects before any static one: the main window's sound stops then, while the
// libraries still stand, even when a handler on the abandoned stack still holds the window.
struct SoundAtExit {
    std::weak_ptr<fw::Window> window;
    ~SoundAtExit() {
        if (auto w = std::static_pointer_cast<Window1>(window.lock())) ReleaseSound(*w);
    }
};
thread_local SoundAtExit soundAtExit;

constexpr const char* kQuickStart =
    "Velunor is zero-configuration synthesizer. Plug in a music-keyboard and play. You can "
    "change the sound that is played from the selection in main window.";

}  // namespace

Window1::~Window1() {
    ReleaseSound(*this);
}

void Window1::Layout() {
    SetMenuBar(shared::MenuBar1());
    SetTitle("Quillet");
    SetWidth(257);
    SetHeight(82);
    SetMinSize(64, 64);
    SetMaxSize(32000, 32000);
    SetPlacement(0);
    SetResizeable(false);
    SetMaximizeButton(false);
    SetMinimizeButton(true);
    SetCloseButton(true);
    SetVisible(true);
}

void Window1::CreateControls() {
    CreateControls0();
}

void Window1::CreateControls0() {
    auto list = fw::New<fw::PopupMenu>();
    AddControl("InstrumentsList", list);
    list->SetBounds(89, 14, 148, 20);
    list->SetEnabled(true);
    list->SetVisible(true);
    // The list has no rows yet, so this selects nothing and raises no Change.
    list->SetListIndex(0);
    list->SetHelpTag("");
    list->Change = [this] { InstrumentsList_Change(); };

    auto timer = fw::New<Timer1>();
    AddControl("Timer1", timer);
    timer->SetMode(2);
    timer->SetPeriod(1000);
    timer->Action = [this] { Timer1_Action(); };

    auto warnings = fw::New<fw::StaticText>();
    AddControl("Warnings", warnings);
    warnings->SetBounds(90, 42, 140, 20);
    warnings->SetText("Initializing...");
    warnings->SetTextAlign(0);
    warnings->SetTextColor(fw::RGB(0, 0, 0));
    warnings->SetMultiline(false);
    warnings->SetEnabled(true);
    warnings->SetVisible(true);
    warnings->SetTextFont("System");
    warnings->SetTextSize(0);

    auto canvas = fw::New<fw::Canvas>();
    AddControl("Canvas1", canvas);
    canvas->SetBackdrop(shared::tst());
    canvas->SetBounds(20, 14, 48, 48);
    canvas->SetVisible(true);
    canvas->SetEnabled(true);
}

fw::Ref<fw::MenuItem> Window1::HelpMenu() const {
    return MenuBar()->Lookup("HelpMenu");
}

fw::Ref<fw::MenuItem> Window1::HelpVelunorontheWeb() const {
    return MenuBar()->Lookup("HelpVelunorontheWeb");
}

fw::Ref<fw::MenuItem> Window1::UntitledSeparator() const {
    return MenuBar()->Lookup("UntitledSeparator");
}

fw::Ref<fw::AppleMenuItem> Window1::HelpCheckforUpdates() const {
    return MenuBar()->Lookup("HelpCheckforUpdates").Cast<fw::AppleMenuItem>();
}

fw::Ref<fw::MenuItem> Window1::HelpQuickStart() const {
    return MenuBar()->Lookup("HelpQuickStart");
}

fw::Ref<fw::AppleMenuItem> Window1::HelpAboutVelunor() const {
    return MenuBar()->Lookup("HelpAboutVelunor").Cast<fw::AppleMenuItem>();
}

fw::Ref<fw::MenuItem> Window1::FileMenu() const {
    return MenuBar()->Lookup("FileMenu");
}

fw::Ref<fw::QuitMenuItem> Window1::FileQuit() const {
    return MenuBar()->Lookup("FileQuit").Cast<fw::QuitMenuItem>();
}

fw::Ref<fw::MenuItem> Window1::UntitledMenu1() const {
    return MenuBar()->Lookup("UntitledMenu1");
}

void Window1::AddMenuHandlers() {
    AddMenuHandler("HelpCheckforUpdates", [this] { return HelpCheckforUpdates_Action(); });
    AddMenuHandler("FileQuit", [this] { return FileQuit_Action(); });
    AddMenuHandler("HelpQuickStart", [this] { return HelpQuickStart_Action(); });
    AddMenuHandler("HelpAboutVelunor", [this] { return HelpAboutVelunor_Action(); });
    AddMenuHandler("HelpVelunorontheWeb", [this] { return HelpVelunorontheWeb_Action(); });
}

void Window1::Event_Open() {
    fw::Dictionary instruments;
    std::vector<std::string> names;
    std::string defaultName;

    soundAtExit.window = weak_from_this();
    Client = fw::New<mbs::MidiClientMBS>();
    openMidiClient();

    player = fw::New<mbs::MidiPlaybackMBS>();
    if (!player->Init()) {
        fw::MsgBox("Velunor only runs on Mac OS X 10.2 or newer.");
        fw::Quit(0);
    }

    int32_t n = player->InstrumentCount();
    for (int32_t i = 0; i < n; ++i) {
        int32_t id = player->InstrumentID(i);
        std::string name = player->InstrumentName(id);
        // Only the first instrument of a name gets a row.
        if (instruments.HasKey(name)) continue;
        instruments.SetValue(name, id);
        names.push_back(name);
        if (id == DefaultInstrument) defaultName = name;
    }

    fw::SortTexts(names);

    auto list = ControlAs<fw::PopupMenu>("InstrumentsList");
    for (size_t j = 0; j < names.size(); ++j) {
        list->AddRow(names[j]);
        list->SetRowTag(list->ListCount() - 1, instruments.Value(names[j]));
        if (fw::TextEquals(names[j], defaultName)) list->SetListIndex(static_cast<int32_t>(j));
    }

    // From here on the component plays whatever reaches the port by itself.
    port->SetCallback(player->Callback(), player);
}

void Window1::openMidiClient() {
    fw::Ref<mbs::CFStringMBS> clientName = mbs::NewCFStringMBS("Velunor");
    Client->Init(clientName);
    if (Client->Lasterror() != 0)
        fw::MsgBox("Velunor initialization failed: " + fw::Str(Client->Lasterror()));
    fw::Ref<mbs::CFStringMBS> portName = mbs::NewCFStringMBS("VelunorPort");
    port = fw::New<MyMidiPort>();
    Client->CreateInputPort(portName, port);
    if (port->Handle() == 0) fw::MsgBox("There was an error: " + fw::Str(Client->Lasterror()));
    mbs::DebugMessageMBS("port.handle: " + fw::Hex(port->Handle()));
}

void Window1::closeMidiClient() {}

void Window1::InstrumentsList_Change() {
    auto list = ControlAs<fw::PopupMenu>("InstrumentsList");
    int32_t index = list->ListIndex();
    if (index < 0) return;
    int32_t id = list->RowTag(index).IntegerValue();
    player->SetInstrumentIDOnChannel(0, id);
}

void Window1::Timer1_Action() {
    int32_t n = Client->NumberOfSources();
    if (n < 1) {
        Log("No keyboard found");
        return;
    }
    for (int32_t i = 0; i < n; ++i) {
        fw::Ref<mbs::MidiEndpointMBS> source = Client->GetSource(i);
        fw::Ref<mbs::CFStringMBS> name = source->StringProperty(mbs::kMIDIPropertyName());
        Log(name ? name->Str() : std::string());
        port->ConnectSource(source);
        sources.push_back(source);
    }
    ControlAs<fw::Timer>("Timer1")->SetEnabled(false);
}

void Window1::Event_Close() {
    closeMidiClient();
}

bool Window1::Event_CancelClose(bool appQuitting) {
    if (appQuitting) return false;
    // Closing only hides the window; the keyboard keeps playing.
    SetVisible(false);
    return true;
}

void Window1::StepSelection(int64_t step) {
    auto list = ControlAs<fw::PopupMenu>("InstrumentsList");
    int64_t r = static_cast<int64_t>(list->ListIndex()) + step;
    r = std::min<int64_t>(r, list->ListCount() - 1);
    r = std::max<int64_t>(r, 0);
    list->SetListIndex(static_cast<int32_t>(r));
}

bool Window1::Event_KeyDown(const std::string&) {
    // The physical key state decides, not the key that raised the event.
    for (const auto& key : kArrowKeys)
        if (fw::Keyboard::AsyncKeyDown(key.code)) StepSelection(key.step);
    return false;
}

bool Window1::Event_MouseWheel(int32_t, int32_t, int32_t, int32_t deltaY) {
    StepSelection(deltaY);
    return false;
}

bool Window1::HelpCheckforUpdates_Action() {
    App()->CheckForUpdates("Quillet");
    return true;
}

bool Window1::FileQuit_Action() {
    fw::Quit(0);
    return true;
}

bool Window1::HelpQuickStart_Action() {
    fw::MsgBox(kQuickStart);
    return true;
}

bool Window1::HelpAboutVelunor_Action() {
    shared::AquaAboutBox()->ShowModal();
    return true;
}

bool Window1::HelpVelunorontheWeb_Action() {
    fw::ShowURL(kHomePageURL);
    return true;
}

void Window1::Log(const std::string& text) {
    ControlAs<fw::StaticText>("Warnings")->SetText(text);
}

namespace shared {

fw::Ref<quillet::Window1> Window1() {
    if (auto w = fw::Window::FindOpen<quillet::Window1>()) return w;
    return fw::Window::Build<quillet::Window1>();
}

fw::Ref<fw::Picture> tst() {
    auto& picture = TstStorage();
    if (!picture) {
        picture = fw::GetPicture(168);
        picture->Transparent = 1;
        picture->Mask()->Graphics()->DrawPicture(picture, 0, 0, -10000, -10000, 0, 0, -10000,
                                                 -10000);
    }
    return picture;
}

void ReleaseTst() {
    TstStorage() = nullptr;
}

}  // namespace shared

}  // namespace quillet
