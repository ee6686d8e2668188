// The keyboard watch, the input port's trace and the route to the synthesizer, through the
// real main window, with loopback sources standing in for keyboards.
#include <sstream>
#include <tuple>

#include "platform/framework/core/text.h"
#include "tests/gui/gui_test.h"
#include "tests/support/sound.h"

namespace {

using Packets = std::vector<std::vector<uint8_t>>;

bool Watching(quillet::Window1& w) {
    return w.ControlAs<fw::Timer>("Timer1")->Enabled();
}

// What the input port writes to the debug output for one delivery.
std::vector<std::string> Trace(uint64_t source, const Packets& packets) {
    mbs::DebugMessageEnableMBS(true);
    testing::internal::CaptureStderr();
    mbs::loopback::Send(source, packets);
    mbs::loopback::Flush();
    mbs::DebugMessageEnableMBS(false);
    std::istringstream text(testing::internal::GetCapturedStderr());
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
}

class MidiTest : public GuiTest {
protected:
    // Quiet, as after the application's Open.
    void SetUp() override {
        GuiTest::SetUp();
        mbs::DebugMessageEnableMBS(false);
    }
    // The main window with a keyboard connected by its watch.
    fw::Ref<quillet::Window1> Connected() {
        keys = mbs::loopback::AddSource("Keys");
        auto w = WindowWith({{16, "Dulcimer"}, {81, "Square Lead"}});
        EXPECT_TRUE(WaitFor([&] { return mbs::loopback::IsConnected(keys); }, 3000));
        return w;
    }
    void Play(const Packets& packets) {
        mbs::loopback::Send(keys, packets);
        mbs::loopback::Flush();
    }
    uint64_t keys = 0;
};

// Channel 0 of a synthesizer pulled offline.
std::vector<float> Render(mbs::MidiPlaybackMBS& player, int frames) {
    std::vector<float> left(frames), right(frames);
    EXPECT_TRUE(mbs::testing::RenderOffline(player, left.data(), right.data(), frames));
    return left;
}

}  // namespace

TEST_F(MidiTest, TheWatchConnectsTheSourcesOfItsFirstTickWithOneAndThenStops) {
    auto w = WindowWith({{16, "Dulcimer"}});
    ASSERT_TRUE(WaitFor([&] { return Status(*w) == "No keyboard found"; }, 3000));
    w->Log("");
    ASSERT_TRUE(WaitFor([&] { return Status(*w) == "No keyboard found"; }, 3000));
    EXPECT_TRUE(Watching(*w));

    const uint64_t a = mbs::loopback::AddSource("Launchkey Mini MIDI 1");
    const uint64_t b = mbs::loopback::AddSource("");
    const uint64_t c = mbs::loopback::AddSource("VMPK Output: out");
    ASSERT_TRUE(WaitFor([&] { return !Watching(*w); }, 3000));
    EXPECT_EQ(Status(*w), "VMPK Output: out");
    ASSERT_EQ(w->sources.size(), 3u);
    EXPECT_TRUE(w->sources[1]->StringProperty(mbs::kMIDIPropertyName()).IsNil());
    for (uint64_t id : {a, b, c}) EXPECT_TRUE(mbs::loopback::IsConnected(id));

    // A keyboard plugged in after that is not connected: nothing watches any more.
    const uint64_t late = mbs::loopback::AddSource("Late Keys");
    EXPECT_FALSE(WaitFor([&] { return mbs::loopback::IsConnected(late); }, 2500));
    EXPECT_EQ(Status(*w), "VMPK Output: out");
    EXPECT_TRUE(messages.empty());
}

TEST_F(MidiTest, AClientOrPortThatCannotStartIsReportedAndTheOpeningGoesOn) {
    // No MIDI system: both messages, each while the status still reads "Initializing..."
    // (the watch must not tick inside a message of the opening), then the window as usual.
    mbs::testing::ForceMidiBackend("none-here");
    mbs::LoadMidiComponent();
    std::vector<std::string> statusDuringMessages;
    fw::testing::SetMsgBoxHook([&](const std::string& m) {
        messages.push_back(m);
        QDeadlineTimer deadline(1300);
        while (!deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (auto open = fw::Window::FindOpen<quillet::Window1>())
            statusDuringMessages.push_back(Status(*open));
    });
    auto w = WindowWith({{16, "Dulcimer"}});
    EXPECT_EQ(messages, (std::vector<std::string>{"Velunor initialization failed: -10845",
                                                  "There was an error: -10830"}));
    EXPECT_EQ(statusDuringMessages, std::vector<std::string>(2, "Initializing..."));
    EXPECT_EQ(w->port->Handle(), 0);
    EXPECT_TRUE(w->port->IsRouted());
    EXPECT_EQ(w->player->InstrumentIDOnChannel(0), 16);
    ASSERT_TRUE(WaitFor([&] { return Status(*w) == "No keyboard found"; }, 3000));
}

TEST_F(MidiTest, ThePortTracesEveryDeliveryByItsPacketsFirstBytes) {
    auto w = Connected();
    const std::string handle = "endpoint.Handle: " + fw::Hex(static_cast<int32_t>(keys));
    const struct {
        Packets packets;
        std::vector<std::string> lines;  // after the handle line, with the delivery's number
    } cases[] = {
        {{}, {"0 packets.", "finished. "}},
        {{{0x90, 60, 0}, {0xFE}}, {"2 packets.", "0", "insertrow", "1", "finished. "}},
        {{{0x8F, 60, 0}}, {"1 packets.", "0", "insertrow", "finished. "}},
        {{{0xB0, 64, 127}}, {"1 packets.", "0", "insertrow", "finished. "}},
        {{{0xE0, 0, 64}}, {"1 packets.", "0", "insertrow", "finished. "}},
        {{{0xC0, 5, 0x90, 60, 1}},
         {"1 packets.", "0", "something else", "insertrow", "finished. "}},
        {{{0x40, 0x7F}}, {"1 packets.", "0", "something else", "insertrow", "finished. "}},
        {{{0xFE, 0x90, 60, 100}, {}}, {"2 packets.", "0", "1", "finished. "}},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string number = fw::Str(++n);
        std::vector<std::string> expected{handle};
        for (const auto& line : c.lines) expected.push_back(number + " " + line);
        EXPECT_EQ(Trace(keys, c.packets), expected) << "delivery " << n;
    }
    EXPECT_EQ(w->port->count, n);
}

TEST_F(MidiTest, WhatReachesThePortPlaysOnTheSynthesizer) {
    auto w = Connected();
    fluid_synth_t* synth = w->player->Engine()->Synth();
    int sfont = 0, bank = 0, program = 0, sustain = 0, bend = 0;
    // Bank select and program change with real-time bytes inside, sustain and pitch bend;
    // then a GM reset and a system reset that undo them.
    const std::pair<Packets, std::tuple<int, int, int, int>> cases[] = {
        {{{0xB3, 0xF8, 0, 8}, {0xC3, 0xFE, 24}, {0xB3, 64, 127}, {0xEF, 0, 0x60}},
         {8, 24, 127, 0x60 << 7}},
        {{{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, {0xFF}}, {0, 0, 0, 8192}},
    };
    for (const auto& [packets, expected] : cases) {
        Play(packets);
        fluid_synth_get_program(synth, 3, &sfont, &bank, &program);
        fluid_synth_get_cc(synth, 3, 64, &sustain);
        fluid_synth_get_pitch_bend(synth, 15, &bend);
        EXPECT_EQ(std::tuple(bank, program, sustain, bend), expected);
    }

    // A note sounds at its pitch on the instrument chosen in the list until its note-off.
    List(*w)->SetListIndex(1);
    EXPECT_EQ(w->player->InstrumentIDOnChannel(0), 81);
    Play({{0x90, 57, 100}});
    const std::vector<float> held = Render(*w->player, 44100);
    EXPECT_TRUE(AtPitch(std::span(held).subspan(20000, 8000), 44100, 57));
    Play({{0x80, 57, 0}});
    const std::vector<float> after = Render(*w->player, 44100);
    EXPECT_LT(Peak(after, 33075, 44100), Peak(held, 40000, 44100) / 100);
}

TEST_F(MidiTest, KeysStruckBeforeTheRouteSoundAtTheRouteInOrder) {
    auto client = fw::New<mbs::MidiClientMBS>();
    client->Init(mbs::NewCFStringMBS("Velunor"));
    auto port = fw::New<quillet::MyMidiPort>();
    client->CreateInputPort(mbs::NewCFStringMBS("VelunorPort"), port);
    keys = mbs::loopback::AddSource("Keys");
    port->ConnectSource(client->GetSource(0));
    // A program change, a note, and a note already released again.
    Play({{0xC0, 40}, {0x90, 69, 100}, {0x90, 76, 100}, {0x80, 76, 0}});

    auto player = fw::New<mbs::MidiPlaybackMBS>();
    ASSERT_TRUE(player->Init());
    // FluidSynth's effects keep a tiny offset against denormals; nothing is heard.
    EXPECT_LT(Peak(Render(*player, 4410), 0, 4410), 1e-5f) << "played unrouted";
    port->SetCallback(player->Callback(), player);
    EXPECT_EQ(player->InstrumentIDOnChannel(0), 41);
    const std::vector<float> sound = Render(*player, 22050);
    EXPECT_TRUE(AtPitch(std::span(sound).subspan(8000, 8000), 44100, 69));
    port = nullptr;
    client = nullptr;
}
