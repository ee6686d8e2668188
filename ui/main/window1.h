#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "midi/my_midi_port.h"
#include "platform/framework/core/ref.h"
#include "platform/framework/gui/controls.h"
#include "platform/framework/gui/menu.h"
#include "platform/framework/gui/window.h"
#include "platform/midi/mbs.h"
#include "platform/midi/playback.h"

namespace quillet {

// The main window: the instrument list, the status line, the keyboard picture and the
// one-second keyboard watch. It owns everything that makes sound; closing it only hides it.
class Window1 : public fw::Window {
public:
    // The timer that sits on this window.
    class Timer1 : public fw::Timer {
    public:
        Timer1() = default;
    };

    Window1() = default;
    ~Window1() override;

    // Declared in the order they are released when the window goes.
    fw::Ref<mbs::MidiClientMBS> Client;
    fw::Ref<MyMidiPort> port;
    std::vector<fw::Ref<mbs::MidiEndpointMBS>> sources;
    fw::Ref<mbs::MidiPlaybackMBS> player;
    int32_t DefaultInstrument = 16;

    void Layout() override;
    void CreateControls() override;
    void CreateControls0();
    void InstrumentsList_Change();
    void Timer1_Action();

    // The items of the window's menu bar, found by name anywhere in it.
    fw::Ref<fw::MenuItem> HelpMenu() const;
    fw::Ref<fw::MenuItem> HelpVelunorontheWeb() const;
    fw::Ref<fw::MenuItem> UntitledSeparator() const;
    fw::Ref<fw::AppleMenuItem> HelpCheckforUpdates() const;
    fw::Ref<fw::MenuItem> HelpQuickStart() const;
    fw::Ref<fw::AppleMenuItem> HelpAboutVelunor() const;
    fw::Ref<fw::MenuItem> FileMenu() const;
    fw::Ref<fw::QuitMenuItem> FileQuit() const;
    // No item of the bar has this name: nil.
    fw::Ref<fw::MenuItem> UntitledMenu1() const;
    void AddMenuHandlers() override;

    void Event_Open() override;
    void Event_Close() override;
    bool Event_CancelClose(bool appQuitting) override;
    bool Event_KeyDown(const std::string& key) override;
    bool Event_MouseWheel(int32_t x, int32_t y, int32_t deltaX, int32_t deltaY) override;

    // The menu commands; each answers true, the command being handled.
    bool HelpCheckforUpdates_Action();
    bool FileQuit_Action();
    bool HelpQuickStart_Action();
    bool HelpAboutVelunor_Action();
    bool HelpVelunorontheWeb_Action();

    void Log(const std::string& text);
    void openMidiClient();
    void closeMidiClient();

private:
    // Moves the list's selection by step rows, kept within the rows.
    void StepSelection(int64_t step);
};

namespace shared {

// The open main window, built (and opened) when there is none.
fw::Ref<quillet::Window1> Window1();
// The keyboard picture shown by the main window and the About box, made on first use.
fw::Ref<fw::Picture> tst();
void ReleaseTst();

}  // namespace shared

}  // namespace quillet
