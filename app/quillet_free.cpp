#include "app/quillet_free.h"

#include <cstdio>
#include <string_view>

#include "app/menu_bar1.h"
#include "platform/midi/component.h"
#include "ui/main/window1.h"

namespace quillet {

namespace {

fw::Ref<fw::FileType>& TextFileType() {
    static fw::Ref<fw::FileType> pText;
    return pText;
}

std::optional<UpdateSite>& UpdateSiteOverride() {
    static std::optional<UpdateSite> site;
    return site;
}

}  // namespace

void QuilletFree::Event_Open() {
    mbs::DebugMessageEnableMBS(false);
}

void QuilletFree::Event_Activate() {
    shared::Window1()->SetVisible(true);
}

void QuilletFree::CheckForUpdates(const std::string& name) {
    UpdateSite site = UpdateSiteOverride().value_or(UpdateSite());
    fw::MsgBox(UpdateCheckMessage(name, ShortVersion(), site));
}

fw::Ref<QuilletFree> App() {
    return fw::Application::Instance().Cast<QuilletFree>();
}

void Main(fw::Runtime& runtime) {
    mbs::LoadMidiComponent();

    auto pText = fw::New<fw::FileType>();
    pText->Name = "text";
    pText->Extensions = "";
    pText->MacType = "TEXT";
    pText->MacCreator = "R*ch";
    TextFileType() = pText;

    auto app = fw::New<QuilletFree>();
    app->MenuBar = shared::MenuBar1();
    fw::Application::Register(app);

    shared::Window1();

    runtime.RunEventLoop();
}

namespace {

constexpr const char* kHelp =
    "Usage: quillet [--version | --help] [Qt options]\n"
    "\n"
    "Plays the MIDI keyboards plugged into this computer through a General MIDI synthesizer,\n"
    "with no set-up: start it, plug a keyboard in and play. The window lists the instruments;\n"
    "the arrow keys and the mouse wheel step through them.\n"
    "\n"
    "Options:\n"
    "  --version    print the version and exit\n"
    "  --help       print this help and exit\n"
    "Qt's own options (-platform, -display, -style ...) are taken as any Qt program takes them.\n"
    "\n"
    "Environment, for diagnosis (otherwise Quillet chooses by itself):\n"
    "  QUILLET_AUDIO              jack, driver (FluidSynth's own drivers) or offline\n"
    "  QUILLET_MIDI               alsa, jack or loopback\n"
    "  QUILLET_SOUNDFONT          a SoundFont file to play\n"
    "  QUILLET_AUDIO_PERIOD_SIZE  frames of a period of FluidSynth's drivers (128)\n"
    "  QUILLET_AUDIO_PERIODS      periods of FluidSynth's drivers (3)\n"
    "\n"
    "More in quillet(1). Report problems at ";

}  // namespace

int Run(int argc, char** argv) {
    // Answered at once: no window, MIDI client or synthesizer, no display needed.
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--version") {
            std::printf("Quillet %s\n", QUILLET_VERSION);
            return 0;
        }
        if (arg == "--help") {
            std::printf("%s%s\n", kHelp, kHomePageURL);
            return 0;
        }
    }
    fw::Runtime runtime(argc, argv);
    if (runtime.HandedOverToRunningInstance()) return 0;
    Main(runtime);
    shared::ReleaseTst();
    TextFileType() = nullptr;
    shared::ReleaseMenuBar1();
    return runtime.ExitStatus();
}

namespace testing {

void SetUpdateSite(std::optional<UpdateSite> site) {
    UpdateSiteOverride() = std::move(site);
}

}  // namespace testing

}  // namespace quillet
