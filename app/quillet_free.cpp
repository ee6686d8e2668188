#include "app/quillet_free.h"

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

int Run(int argc, char** argv) {
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
