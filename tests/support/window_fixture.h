#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <optional>
#include <string>
#include <vector>

#include "app/quillet_free.h"
#include "platform/framework/gui/application.h"
#include "platform/framework/gui/testing.h"
#include "platform/framework/gui/window.h"
#include "platform/midi/component.h"
#include "platform/midi/loopback/loopback.h"
#include "platform/midi/synth_engine.h"
#include "platform/midi/testing.h"
#include "ui/main/window1.h"

// Builds the real main window on the offscreen platform, with the synthesizer rendering
// offline, and closes every window afterwards.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        mbs::testing::ForceAudioBackend("offline");
        mbs::testing::ForceMidiBackend("loopback");
        mbs::LoadMidiComponent();
        mbs::testing::ClearInstrumentRequests();
        fw::testing::SetMsgBoxHook([this](const std::string& m) { messages.push_back(m); });
        fw::testing::SetUnhandledExceptionHook(
            [this](const std::string& cls, const std::string& m) {
                unhandled.push_back(cls + ": " + m);
            });
        fw::Application::Register(fw::New<quillet::QuilletFree>());
    }

    void TearDown() override {
        for (auto& w : fw::Window::OpenWindows()) w->TryClose(true);
        QCoreApplication::processEvents();
        fw::testing::ResetQuit();
        fw::testing::SetMsgBoxHook(nullptr);
        fw::testing::SetUnhandledExceptionHook(nullptr);
        mbs::testing::SetInstrumentOverride(std::nullopt);
        mbs::testing::SetSoundFontOverride(std::nullopt);
        mbs::testing::SetDebugMessageHook(nullptr);
        mbs::loopback::RemoveAllSources();
        fw::Application::Register(nullptr);
        EXPECT_TRUE(unhandled.empty()) << unhandled.front();
    }

    static std::vector<mbs::Instrument> Instruments(
        std::initializer_list<std::pair<int32_t, const char*>> list) {
        std::vector<mbs::Instrument> out;
        for (auto& [id, name] : list) out.push_back({id, name});
        return out;
    }

    std::vector<std::string> messages;
    std::vector<std::string> unhandled;
};
