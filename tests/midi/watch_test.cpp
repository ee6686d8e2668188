// The keyboard watch and the MIDI client through the real main window, with the loopback
// MIDI system standing in for keyboards.
#include <gtest/gtest.h>

#include <QDeadlineTimer>

#include "platform/framework/gui/controls.h"
#include "tests/support/wait.h"
#include "tests/support/window_fixture.h"

namespace {

std::string Status(quillet::Window1& w) {
    return w.ControlAs<fw::StaticText>("Warnings")->Text();
}
bool WatchRunning(quillet::Window1& w) {
    return w.ControlAs<fw::Timer>("Timer1")->Enabled();
}

std::vector<std::string> SourceNames(quillet::Window1& w) {
    std::vector<std::string> names;
    for (auto& s : w.sources) {
        auto name = s->StringProperty(mbs::kMIDIPropertyName());
        names.push_back(name ? name->Str() : "");
    }
    return names;
}

}  // namespace

TEST_F(WindowTest, WithoutSourcesTheWatchKeepsSayingNoKeyboardFound) {
    auto w = quillet::shared::Window1();
    EXPECT_EQ(Status(*w), "Initializing...");
    ASSERT_TRUE(WaitFor([&] { return Status(*w) == "No keyboard found"; }, 3000));
    // Each tick writes it again.
    w->Log("something else");
    ASSERT_TRUE(WaitFor([&] { return Status(*w) == "No keyboard found"; }, 3000));
    EXPECT_TRUE(WatchRunning(*w));
    EXPECT_TRUE(w->sources.empty());
    EXPECT_TRUE(messages.empty());
}

TEST_F(WindowTest, TheFirstTickWithSourcesConnectsAllOfThemAndStops) {
    uint64_t a = mbs::loopback::AddSource("Launchkey Mini MIDI 1");
    uint64_t b = mbs::loopback::AddSource("VMPK Output: out");
    auto w = quillet::shared::Window1();
    ASSERT_TRUE(WaitFor([&] { return !WatchRunning(*w); }, 3000));
    EXPECT_EQ(Status(*w), "VMPK Output: out");
    EXPECT_EQ(SourceNames(*w),
              (std::vector<std::string>{"Launchkey Mini MIDI 1", "VMPK Output: out"}));
    EXPECT_TRUE(mbs::loopback::IsConnected(a));
    EXPECT_TRUE(mbs::loopback::IsConnected(b));

    // A keyboard plugged in after that is not connected: nothing watches any more.
    uint64_t late = mbs::loopback::AddSource("Late Keys");
    EXPECT_FALSE(WaitFor([&] { return mbs::loopback::IsConnected(late); }, 2500));
    EXPECT_EQ(w->sources.size(), 2u);
    EXPECT_EQ(Status(*w), "VMPK Output: out");
    EXPECT_TRUE(messages.empty());
}

TEST_F(WindowTest, ASourceWithoutANameShowsTheEmptyText) {
    uint64_t id = mbs::loopback::AddSource("");
    auto w = quillet::shared::Window1();
    ASSERT_TRUE(WaitFor([&] { return !WatchRunning(*w); }, 3000));
    EXPECT_EQ(Status(*w), "");
    EXPECT_TRUE(mbs::loopback::IsConnected(id));
}

TEST_F(WindowTest, AClientThatCannotStartIsReportedAndTheOpeningGoesOn) {
    mbs::testing::ForceMidiBackend("none-here");
    mbs::LoadMidiComponent();
    auto w = quillet::shared::Window1();
    EXPECT_EQ(messages, (std::vector<std::string>{"Velunor initialization failed: -10845",
                                                  "There was an error: -10830"}));
    // The port exists and is routed all the same, and the watch runs on the failed client.
    ASSERT_TRUE(w->port);
    EXPECT_EQ(w->port->Handle(), 0);
    EXPECT_TRUE(w->port->IsRouted());
    EXPECT_EQ(w->ControlAs<fw::PopupMenu>("InstrumentsList")
                  ->List(w->ControlAs<fw::PopupMenu>("InstrumentsList")->ListIndex()),
              "Dulcimer");
    ASSERT_TRUE(WaitFor([&] { return Status(*w) == "No keyboard found"; }, 3000));
}

TEST_F(WindowTest, APortThatCannotBeCreatedIsReportedAndStillRouted) {
    // The loopback system has room for one port; another client holds it.
    auto other = fw::New<mbs::MidiClientMBS>();
    other->Init(mbs::NewCFStringMBS("Other"));
    auto otherPort = fw::New<mbs::MidiPortMBS>();
    other->CreateInputPort(mbs::NewCFStringMBS("OtherPort"), otherPort);
    ASSERT_NE(otherPort->Handle(), 0);

    auto w = quillet::shared::Window1();
    EXPECT_EQ(messages, std::vector<std::string>{"There was an error: -1"});
    EXPECT_EQ(w->port->Handle(), 0);
    EXPECT_TRUE(w->port->IsRouted());
}

TEST_F(WindowTest, NoTickDuringAMessageOfTheOpening) {
    // The message box runs a nested event loop for longer than the watch's period; the
    // watch must not tick before the opening has returned.
    mbs::testing::ForceMidiBackend("none-here");
    mbs::LoadMidiComponent();
    std::vector<std::string> statusDuringMessages;
    fw::testing::SetMsgBoxHook([&](const std::string& m) {
        messages.push_back(m);
        QDeadlineTimer deadline(1300);
        while (!deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (auto w = fw::Window::FindOpen<quillet::Window1>())
            statusDuringMessages.push_back(Status(*w));
    });
    auto w = quillet::shared::Window1();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(statusDuringMessages,
              (std::vector<std::string>{"Initializing...", "Initializing..."}));
    EXPECT_EQ(Status(*w), "Initializing...");
}
