#include "app/quillet_free.h"

#include "platform/midi/component.h"
#include "ui/main/window1.h"

namespace quillet {

namespace {

fw::Ref<fw::FileType>& TextFileType() {
    static fw::Ref<fw::FileType> pText;
    return pText;
}

}  // namespace

void QuilletFree::Event_Open() { mbs::DebugMessageEnableMBS(false); }

void QuilletFree::Event_Activate() { shared::Window1()->SetVisible(true); }

fw::Ref<QuilletFree> App() { return fw::Application::Instance().Cast<QuilletFree>(); }

void Main(fw::Runtime& runtime) {
    mbs::LoadMidiComponent();

    auto pText = fw::New<fw::FileType>();
    pText->Name = "text";
    pText->Extensions = "";
    pText->MacType = "TEXT";
    pText->MacCreator = "R*ch";
    TextFileType() = pText;

    auto app = fw::New<QuilletFree>();
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
    return runtime.ExitStatus();
}

}  // namespace quillet
