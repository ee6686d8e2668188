#pragma once

// The program's windows on Qt's offscreen platform, with the real FluidSynth rendering
// offline and the loopback MIDI system standing in for keyboards.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <functional>
#include <string>
#include <vector>

#include "app/quillet_free.h"
#include "platform/framework/gui/application.h"
#include "platform/framework/gui/controls.h"
#include "platform/framework/gui/native.h"
#include "platform/framework/gui/testing.h"
#include "platform/midi/component.h"
#include "platform/midi/loopback/loopback.h"
#include "platform/midi/synth_engine.h"
#include "platform/midi/testing.h"
#include "ui/main/window1.h"

// The runtime that the test program's main made.
fw::Runtime& TestRuntime();

// Handles events until the condition holds or the time is up; true when it held.
inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

class GuiTest : public ::testing::Test {
protected:
    void SetUp() override {
        mbs::testing::ForceAudioBackend("offline");
        mbs::testing::ForceMidiBackend("loopback");
        mbs::LoadMidiComponent();
        fw::testing::SetMsgBoxHook([this](const std::string& m) { messages.push_back(m); });
        fw::testing::SetShowURLHook([this](const std::string& url) { urls.push_back(url); });
        fw::testing::SetUnhandledExceptionHook([this](const std::string& c, const std::string& m) {
            unhandled.push_back(c + ": " + m);
        });
        fw::Application::Register(fw::New<quillet::QuilletFree>());
    }

    void TearDown() override {
        for (auto& w : fw::Window::OpenWindows()) w->TryClose(true);
        QCoreApplication::processEvents();
        fw::testing::ResetQuit();
        mbs::testing::SetInstrumentOverride(std::nullopt);
        mbs::testing::SetSoundFontOverride(std::nullopt);
        mbs::loopback::RemoveAllSources();
        fw::Application::Register(nullptr);
        EXPECT_TRUE(unhandled.empty()) << unhandled.front();
    }

    // The main window on a made-up instrument list, in the synthesizer's index order.
    static fw::Ref<quillet::Window1> WindowWith(std::vector<mbs::Instrument> instruments) {
        mbs::testing::SetInstrumentOverride(std::move(instruments));
        return quillet::shared::Window1();
    }

    static std::string Status(quillet::Window1& w) {
        return w.ControlAs<fw::StaticText>("Warnings")->Text();
    }
    static fw::Ref<fw::PopupMenu> List(quillet::Window1& w) {
        return w.ControlAs<fw::PopupMenu>("InstrumentsList");
    }

    std::vector<std::string> messages, urls, unhandled;
};
