// What reaches the input port sounds on the synthesizer by itself, with the real FluidSynth
// and the GM SoundFont, rendered offline.
#include <gtest/gtest.h>

#include <fluidsynth.h>

#include "platform/framework/gui/controls.h"
#include "tests/support/audio.h"
#include "tests/support/wait.h"
#include "tests/support/window_fixture.h"

namespace {

constexpr double kRate = 44100;

class RouteTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        keys = mbs::loopback::AddSource("Keys");
        w = quillet::shared::Window1();
        ASSERT_TRUE(WaitFor([&] { return mbs::loopback::IsConnected(keys); }, 3000));
        // Debug output off, as after the application's Open.
        mbs::DebugMessageEnableMBS(false);
    }
    void TearDown() override {
        w = nullptr;
        mbs::DebugMessageEnableMBS(true);
        WindowTest::TearDown();
    }

    void Play(const std::vector<std::vector<uint8_t>>& packets) {
        mbs::loopback::Send(keys, packets);
        mbs::loopback::Flush();
    }

    std::vector<float> Render(size_t frames) {
        Stereo s;
        s.left.resize(frames);
        s.right.resize(frames);
        EXPECT_TRUE(mbs::testing::RenderOffline(*w->player, s.left.data(), s.right.data(),
                                                static_cast<int>(frames)));
        return s.left;
    }

    void Select(const std::string& name) {
        auto list = w->ControlAs<fw::PopupMenu>("InstrumentsList");
        for (int32_t i = 0; i < list->ListCount(); ++i) {
            if (list->List(i) == name) {
                list->SetListIndex(i);
                return;
            }
        }
        ADD_FAILURE() << "no row " << name;
    }

    uint64_t keys = 0;
    fw::Ref<quillet::Window1> w;
};

// The same note on a FluidSynth of the test's own with the given preset.
std::vector<float> Reference(int bank, int program, int note, size_t frames) {
    fluid_settings_t* settings = new_fluid_settings();
    fluid_settings_setint(settings, "synth.cpu-cores", 1);
    fluid_synth_t* synth = new_fluid_synth(settings);
    int sfid = fluid_synth_sfload(synth, "/usr/share/sounds/sf2/default-GM.sf2", 1);
    fluid_synth_program_select(synth, 0, sfid, bank, program);
    fluid_synth_noteon(synth, 0, note, 100);
    std::vector<float> left(frames), right(frames);
    fluid_synth_write_float(synth, static_cast<int>(frames), left.data(), 0, 1, right.data(), 0, 1);
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
    return left;
}

// The sound's spectrum is closer to the expected instrument's than to the other one's.
::testing::AssertionResult SoundsLike(const std::vector<float>& sound,
                                      const std::vector<float>& expected,
                                      const std::vector<float>& other) {
    auto s = Spectrum(sound, 4096, 8192, kRate);
    double same = SpectralSimilarity(s, Spectrum(expected, 4096, 8192, kRate));
    double different = SpectralSimilarity(s, Spectrum(other, 4096, 8192, kRate));
    if (same > 0.8 && same > different + 0.1) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "similarity to the expected instrument " << same << ", to the other " << different;
}

}  // namespace

TEST_F(RouteTest, ANoteSoundsWithTheSelectedInstrumentUntilItsNoteOff) {
    EXPECT_LT(Rms(Render(4410), 0, 4410), 1e-6);

    Play({{0x90, 69, 100}});
    std::vector<float> dulcimer = Render(22050);
    EXPECT_GT(Rms(dulcimer, 0, 22050), 0.001);
    EXPECT_NEAR(Pitch(dulcimer, 2000, 8000, kRate), 440.0, 440.0 * 0.03);
    EXPECT_TRUE(SoundsLike(dulcimer, Reference(0, 15, 69, 22050), Reference(0, 80, 69, 22050)));
    Play({{0x80, 69, 0}});
    Render(44100 * 2);

    // Another instrument chosen in the list plays the next note.
    Select("Square Lead");
    Play({{0x90, 57, 100}});
    std::vector<float> lead = Render(44100);
    EXPECT_NEAR(Pitch(lead, 20000, 8000, kRate), 220.0, 220.0 * 0.03);
    EXPECT_TRUE(SoundsLike(lead, Reference(0, 80, 57, 44100), Reference(0, 15, 57, 44100)));
    // The lead holds its note while the key is down, and stops once it is released.
    double held = Rms(lead, 40000, 44100);
    EXPECT_GT(held, 0.3 * Rms(lead, 4000, 8000));
    Play({{0x80, 57, 0}});
    std::vector<float> after = Render(44100);
    EXPECT_LT(Rms(after, 33075, 44100), held / 100);
}

TEST_F(RouteTest, RunningStatusAndVelocityZeroAsNoteOff) {
    Select("Square Lead");
    // Note on, then a second note and the first note's release in running status.
    Play({{0x90, 60, 100}, {64, 100, 60, 0}});
    std::vector<float> held = Render(22050);
    EXPECT_NEAR(Pitch(held, 8000, 8000, kRate), NoteFrequency(64), NoteFrequency(64) * 0.03);
    Play({{64, 0}});
    EXPECT_LT(Rms(Render(44100), 33075, 44100), 1e-4);
}

TEST_F(RouteTest, MalformedInputIsDroppedAndTheNextNoteStillSounds) {
    Select("Square Lead");
    std::vector<uint8_t> longSysEx(4000, 0x11);
    longSysEx.front() = 0xF0;
    longSysEx.back() = 0xF7;
    Play({
        {0x45, 0x12, 0x7F},              // stray data bytes
        {0xF4, 0x40, 0xF5, 0xF9, 0xFD},  // undefined status bytes
        {0x90, 60},                      // truncated note on ...
        {0xB0},                          // ... cut off by another status
        longSysEx,                       // over-long SysEx
        {0xF0, 0x43, 0x10, 0x4C},        // unterminated SysEx ...
        {0x80, 60, 0},                   // ... ended by a status byte
        {0xC0},                          // truncated program change
        {},                              // an empty packet
    });
    EXPECT_LT(Rms(Render(8820), 0, 8820), 1e-6);
    // The lead is still channel 0's instrument and the next note sounds.
    Play({{0x90, 67, 100}});
    std::vector<float> after = Render(22050);
    EXPECT_GT(Rms(after, 0, 22050), 0.001);
    EXPECT_NEAR(Pitch(after, 8000, 8000, kRate), NoteFrequency(67), NoteFrequency(67) * 0.03);
    EXPECT_TRUE(SoundsLike(after, Reference(0, 80, 67, 22050), Reference(0, 15, 67, 22050)));
}

TEST_F(RouteTest, ProgramChangesControllersAndResetsReachTheSynthesizer) {
    int sfid = 0, bank = 0, program = 0;
    fluid_synth_t* synth = w->player->Engine()->Synth();
    // Program change and bank select on channel 3, real-time bytes inside the messages.
    Play({{0xB3, 0xF8, 0, 0}, {0xC3, 0xFE, 24}});
    ASSERT_EQ(fluid_synth_get_program(synth, 3, &sfid, &bank, &program), FLUID_OK);
    EXPECT_EQ(program, 24);
    // Sustain pedal, then all notes off.
    Play({{0xB3, 64, 127}});
    int value = 0;
    fluid_synth_get_cc(synth, 3, 64, &value);
    EXPECT_EQ(value, 127);
    // GM reset SysEx puts every channel back to program 0.
    Play({{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}});
    ASSERT_EQ(fluid_synth_get_program(synth, 3, &sfid, &bank, &program), FLUID_OK);
    EXPECT_EQ(program, 0);
    // Pitch bend on channel 15.
    Play({{0xEF, 0x00, 0x60}});
    int bend = 0;
    fluid_synth_get_pitch_bend(synth, 15, &bend);
    EXPECT_EQ(bend, 0x60 << 7);
    // System reset.
    Play({{0xFF}});
    fluid_synth_get_pitch_bend(synth, 15, &bend);
    EXPECT_EQ(bend, 8192);
}

// Keys struck while the synthesizer is still starting are kept, and sound when the port is
// routed, in the order they came.
TEST(RouteAtStartUp, MessagesBeforeTheRouteArePlayedAtTheRoute) {
    mbs::testing::ForceAudioBackend("offline");
    mbs::testing::ForceMidiBackend("loopback");
    mbs::LoadMidiComponent();
    mbs::DebugMessageEnableMBS(false);
    auto client = fw::New<mbs::MidiClientMBS>();
    client->Init(mbs::NewCFStringMBS("Velunor"));
    auto port = fw::New<quillet::MyMidiPort>();
    client->CreateInputPort(mbs::NewCFStringMBS("VelunorPort"), port);
    const uint64_t keys = mbs::loopback::AddSource("Keys");
    for (int32_t i = 0; i < client->NumberOfSources(); ++i)
        if (client->GetSource(i)->Handle() == static_cast<int32_t>(keys))
            port->ConnectSource(client->GetSource(i));
    // A program change, a note, and a note already released again.
    mbs::loopback::Send(keys, {{0xC0, 40}, {0x90, 69, 100}, {0x90, 76, 100}, {0x80, 76, 0}});
    mbs::loopback::Flush();
    EXPECT_EQ(port->count, 1);

    auto player = fw::New<mbs::MidiPlaybackMBS>();
    ASSERT_TRUE(player->Init());
    std::vector<float> left(22050), right(22050);
    ASSERT_TRUE(mbs::testing::RenderOffline(*player, left.data(), right.data(), 4410));
    // FluidSynth's effects keep a tiny offset against denormals; nothing is heard.
    EXPECT_LT(*std::max_element(left.begin(), left.begin() + 4410), 1e-5f) << "played unrouted";

    port->SetCallback(player->Callback(), player);
    EXPECT_EQ(player->InstrumentIDOnChannel(0), 41);
    ASSERT_TRUE(
        mbs::testing::RenderOffline(*player, left.data(), right.data(), static_cast<int>(22050)));
    EXPECT_NEAR(Pitch(left, 8000, 8000, kRate), NoteFrequency(69), NoteFrequency(69) * 0.03)
        << "the held note, and only it, sounds";

    port = nullptr;
    client = nullptr;
    player = nullptr;
    mbs::loopback::RemoveAllSources();
    mbs::DebugMessageEnableMBS(true);
    mbs::testing::ForceAudioBackend(std::nullopt);
    mbs::testing::ForceMidiBackend(std::nullopt);
}
