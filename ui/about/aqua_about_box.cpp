#include "ui/about/aqua_about_box.h"

#include "app/quillet_free.h"
#include "platform/framework/core/exceptions.h"
#include "platform/framework/core/text.h"
#include "platform/framework/gui/application.h"
#include "ui/about/licence_text.h"
#include "ui/about/located.h"
#include "ui/main/window1.h"

namespace quillet {

namespace {

constexpr const char* kCopyright = "Copyright \u00A9 2026 Brindlewood Software";

// A control of the About window, placed and styled as every label of the window is.
template <class T>
fw::Ref<T> AddLabel(fw::Window& w, const std::string& name, int32_t left, int32_t top,
                    int32_t width, int32_t height, int32_t size, bool multiline,
                    const std::string& text) {
    auto label = fw::New<T>();
    w.AddControl(name, label);
    auto me = w.ControlAs<T>(name);
    me->SetBounds(left, top, width, height);
    me->SetTextFont("System");
    me->SetTextSize(size);
    me->SetTextAlign(1);
    me->SetTextColor(fw::RGB(0, 0, 0));
    me->SetMultiline(multiline);
    me->SetEnabled(true);
    me->SetVisible(true);
    me->SetText(text);
    return me;
}

}  // namespace

// Each handler names itself in a RuntimeException passing through, so that the report of an
// unhandled one lists the handlers it went through, innermost first.

void AquaAboutBox::Layout() {
    SetPlacement(2);
    SetWidth(284);
    SetHeight(340);
    SetMinSize(64, 64);
    SetMaxSize(32000, 32000);
    SetTitle("");
    SetResizeable(false);
    SetCloseButton(true);
    SetMinimizeButton(false);
    SetMaximizeButton(false);
    SetVisible(true);
}

void AquaAboutBox::CreateControls() {
    CreateControls0();
}

void AquaAboutBox::CreateControls0() {
    auto icon = fw::New<fw::Canvas>();
    AddControl("icon", icon);
    auto iconMe = ControlAs<fw::Canvas>("icon");
    iconMe->SetBackdrop(shared::tst());
    iconMe->SetBounds(118, 25, 48, 47);
    iconMe->SetEnabled(true);
    iconMe->SetVisible(true);

    auto name = AddLabel<fw::StaticText>(*this, "name", 24, 84, 236, 19, 14, false, "kAppName");
    name->SetBold(true);
    name->Open = [this] { name_Open(); };

    auto version =
        AddLabel<fw::StaticText>(*this, "version", 24, 111, 236, 12, 10, true, "app.shortVersion");
    version->Open = [this] { version_Open(); };

    auto description = AddLabel<fw::StaticText>(*this, "description", 24, 131, 236, 39, 11, true,
                                                "kAppAboutBoxDescription");
    description->Open = [this] { description_Open(); };

    auto credits = fw::New<fw::EditField>();
    AddControl("credits", credits);
    auto creditsMe = ControlAs<fw::EditField>("credits");
    creditsMe->SetBounds(24, 168, 236, 109);
    creditsMe->SetTextFont("System");
    creditsMe->SetTextSize(10);
    creditsMe->SetReadOnly(true);
    creditsMe->SetBorder(true);
    creditsMe->SetMultiline(true);
    creditsMe->SetScrollbarVertical(true);
    creditsMe->SetScrollbarHorizontal(false);
    creditsMe->SetAcceptTabs(false);
    creditsMe->SetTextColor(fw::RGB(0, 0, 0));
    creditsMe->SetBackColor(fw::RGB(255, 255, 255));
    creditsMe->SetEnabled(true);
    creditsMe->SetVisible(true);
    creditsMe->SetText("kAppAboutBoxCredits");
    creditsMe->SetAlignment(1);
    creditsMe->Open = [this] { credits_Open(); };

    auto copyright = AddLabel<fw::StaticText>(*this, "copyright", 24, 295, 236, 12, 10, true,
                                              "kAppCopyrightPrefix");
    copyright->Open = [this] { copyright_Open(); };

    auto homePage =
        AddLabel<StaticURL>(*this, "homePage", 24, 307, 236, 13, 10, false, "kAppHomePageString");
    homePage->SetTextColor(fw::RGB(0, 0, 0xCC));
    homePage->SetUnderline(true);
    homePage->Open = [this] { homePage_Open(); };
}

void AquaAboutBox::name_Open() {
    Located("AquaAboutBox.Name.Open",
            [&] { ControlAs<fw::StaticText>("name")->SetText("Quillet"); });
}

void AquaAboutBox::version_Open() {
    Located("AquaAboutBox.Version.Open",
            [&] { ControlAs<fw::StaticText>("version")->SetText(App()->ShortVersion()); });
}

void AquaAboutBox::description_Open() {
    Located("AquaAboutBox.Description.Open", [&] {
        ControlAs<fw::StaticText>("description")->SetText("Plug-n-Play Keyboard Synthesizer");
    });
}

void AquaAboutBox::credits_Open() {
    Located("AquaAboutBox.Credits.Open",
            [&] { ControlAs<fw::EditField>("credits")->SetText(kLicenceText); });
}

void AquaAboutBox::copyright_Open() {
    Located("AquaAboutBox.Copyright.Open",
            [&] { ControlAs<fw::StaticText>("copyright")->SetText(kCopyright); });
}

void AquaAboutBox::homePage_Open() {
    Located("AquaAboutBox.HomePage.Open", [&] {
        auto me = ControlAs<StaticURL>("homePage");
        me->SetText("Brindlewood Software");
        me->URL = HomePageURL();
        if (me->Text().empty()) me->SetText(me->URL);
        if (me->URL.empty()) hideControl(me);
    });
}

void AquaAboutBox::Event_Open() {
    Located(
        "AquaAboutBox.Open",
        [&] {
            // The window cannot be minimised.
            SetMinimizeButton(false);
        },
        fw::EndOfLine());
}

void AquaAboutBox::hideControl(fw::Ref<fw::RectControl> c) {
    Located("AquaAboutBox.HideControl", [&] {
        if (!c->Visible()) return;
        int32_t i = 0;
        while (i < ControlCount() && Control(i) != c) ++i;
        // The last control has no successor to measure from: its own height is the gap.
        bool last = i == ControlCount() - 1;
        int32_t gap = last ? c->Height() : Control(i + 1).Cast<fw::RectControl>()->Top() - c->Top();
        c->SetVisible(false);
        for (int32_t j = i; j < ControlCount(); ++j) {
            auto control = Control(j).Cast<fw::RectControl>();
            control->SetTop(control->Top() - gap);
        }
        SetHeight(Height() - gap);
    });
}

std::string AquaAboutBox::HomePageURL() const {
    return kHomePageURL;
}

namespace shared {

fw::Ref<quillet::AquaAboutBox> AquaAboutBox() {
    if (auto w = fw::Window::FindOpen<quillet::AquaAboutBox>()) return w;
    return fw::Window::Build<quillet::AquaAboutBox>();
}

}  // namespace shared

}  // namespace quillet
