// The JACK audio output and MIDI input of the MIDI component, in this process, against a
// private JACK server with the dummy driver, real FluidSynth and the GM SoundFont. A test
// keyboard sends MIDI at chosen frames; a recorder takes Velunor's audio frame by frame.

#include <gtest/gtest.h>
#include <pthread.h>

#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

#include "audio_output.h"
#include "jack/jack_client.h"
#include "jack/jack_input.h"
#include "jack/jack_output.h"
#include "jack_rig.h"
#include "midi_input.h"
#include "synth_engine.h"

namespace {

using namespace std::chrono_literals;
using jackrig::Keyboard;
using Bytes = std::vector<std::uint8_t>;

// What the output writes while idle is exactly zero, so a note's first frame is the first
// that is not.
constexpr float kSilent = 0.0f;
// FluidSynth renders in blocks of this many frames; a note starts at the next block.
constexpr long kBlock = 64;

class RecordingListener : public mbs::InputListener {
public:
    std::atomic<bool> routed{true};
    // The JACK client's process thread, once known.
    std::optional<pthread_t> audioThread;

    void Play(const mbs::MidiMessage& message) override {
        std::lock_guard lock(mutex_);
        auto bytes = message.Bytes();
        played_.emplace_back(bytes.begin(), bytes.end());
        changed_.notify_all();
    }

    void Deliver(mbs::Delivery delivery) override {
        std::lock_guard lock(mutex_);
        if (audioThread && pthread_equal(pthread_self(), *audioThread))
            deliveredOnAudioThread_ = true;
        deliveries_.push_back(std::move(delivery));
        changed_.notify_all();
    }

    bool Routed() const override { return routed.load(); }

    bool WaitDeliveries(std::size_t count, std::chrono::milliseconds timeout = 3s) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return deliveries_.size() >= count; });
    }
    bool WaitPlayed(std::size_t count, std::chrono::milliseconds timeout = 3s) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return played_.size() >= count; });
    }
    std::vector<mbs::Delivery> Deliveries() {
        std::lock_guard lock(mutex_);
        return deliveries_;
    }
    // Every packet of every delivery, in order.
    std::vector<Bytes> Packets() {
        std::lock_guard lock(mutex_);
        std::vector<Bytes> all;
        for (const auto& d : deliveries_) all.insert(all.end(), d.packets.begin(), d.packets.end());
        return all;
    }
    std::vector<Bytes> Played() {
        std::lock_guard lock(mutex_);
        return played_;
    }
    bool DeliveredOnAudioThread() {
        std::lock_guard lock(mutex_);
        return deliveredOnAudioThread_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<mbs::Delivery> deliveries_;
    std::vector<Bytes> played_;
    bool deliveredOnAudioThread_ = false;
};

class JackBackends : public ::testing::Test {
protected:
    void TearDown() override {
        if (server_ && HasFailure())
            std::fprintf(stderr, "--- jackd's output ---\n%s\n", server_->Log().c_str());
        if (input_) input_->Close();
        input_.reset();
        engine_.reset();
        keyboards_.clear();
        recorder_.reset();
        server_.reset();
    }

    void StartServer(unsigned period, unsigned rate = 48000) {
        server_ = std::make_unique<jackrig::Server>(period, rate);
        ASSERT_TRUE(server_->Ready()) << "jackd (package jackd2) did not start:\n"
                                      << server_->Log();
    }

    // With `pianos`, channels 0 and 1 play the piano, loaded, before the test goes on.
    void StartEngine(bool pianos = true) {
        std::string why;
        engine_ = mbs::SynthEngine::Create("jack", why);
        ASSERT_TRUE(engine_) << why;
        output_ = dynamic_cast<mbs::JackOutput*>(&engine_->Output());
        ASSERT_NE(output_, nullptr);
        if (!pianos) return;
        for (int ch = 0; ch < 2; ++ch) output_->SelectInstrument(ch, {0, 0});
        ASSERT_TRUE(jackrig::WaitUntil(
            [&] {
                return output_->InstrumentIDOnChannel(0) == 1 &&
                       output_->InstrumentIDOnChannel(1) == 1;
            },
            5s));
    }

    void StartInput() {
        input_ = mbs::CreateJackInput();
        ASSERT_EQ(input_->Open("Velunor"), 0);
        std::string why;
        auto client = mbs::jack::Client::Acquire("Velunor", why);
        ASSERT_TRUE(client) << why;
        listener_.audioThread = jack_client_thread_id(client->get());
        int32_t error = 0;
        ASSERT_NE(input_->CreatePort("VelunorPort", &listener_, error), 0) << error;
    }

    void StartRecorder() {
        recorder_ = std::make_unique<jackrig::Recorder>("recorder", 12.0, server_->Rate());
        ASSERT_TRUE(recorder_->ConnectFrom("Velunor:out_1", "Velunor:out_2"));
        ASSERT_TRUE(recorder_->WaitStarted(5s));
    }

    // A server at 256 frames, the engine, the input, a recorder and a connected keyboard.
    void StartAll() {
        ASSERT_NO_FATAL_FAILURE(StartServer(256));
        ASSERT_NO_FATAL_FAILURE(StartEngine());
        ASSERT_NO_FATAL_FAILURE(StartInput());
        ASSERT_NO_FATAL_FAILURE(StartRecorder());
        keys_ = &AddKeyboard("Test Keys");
        ASSERT_NO_FATAL_FAILURE(ConnectKeyboard(*keys_));
    }

    Keyboard& AddKeyboard(const std::string& client, const std::string& port = "midi_out") {
        keyboards_.push_back(std::make_unique<Keyboard>(client, port));
        EXPECT_NE(keyboards_.back()->Client(), nullptr);
        return *keyboards_.back();
    }

    // Connects a keyboard to the input port the way the program does: by its source.
    void ConnectKeyboard(Keyboard& keyboard) {
        for (const auto& s : input_->Sources()) {
            jack_port_t* port = jack_port_by_name(keyboard.Client(), keyboard.PortName().c_str());
            if (port && s.id == jack_port_uuid(port)) {
                ASSERT_TRUE(input_->Connect(s.id));
                ASSERT_TRUE(jackrig::WaitUntil(
                    [&] {
                        return jackrig::Connected(keyboard.Client(), keyboard.PortName(),
                                                  "Velunor:VelunorPort");
                    },
                    2s));
                return;
            }
        }
        FAIL() << keyboard.PortName() << " is not among the sources";
    }

    // A frame a quarter of a second ahead: time enough to queue events before it.
    jack_nframes_t Soon(const Keyboard& keyboard) const {
        return keyboard.Now() + server_->Rate() / 4;
    }

    // Sends a group and returns the JACK frame of the cycle it went out in.
    jack_nframes_t Send(Keyboard& keyboard, std::vector<Keyboard::Event> events) {
        const std::size_t group = keyboard.SendInCycle(Soon(keyboard), std::move(events));
        EXPECT_TRUE(keyboard.WaitSent(group, 5s));
        return keyboard.SentCycle(group).value_or(0);
    }

    // The first frame in [from, to) at which either output is not silent.
    long FirstSound(long from, long to) const {
        const long l = jackrig::FirstAbove(recorder_->Channel(0), from, to, kSilent);
        const long r = jackrig::FirstAbove(recorder_->Channel(1), from, to, kSilent);
        if (l < 0) return r;
        if (r < 0) return l;
        return std::min(l, r);
    }

    float PeakBoth(long from, long to) const {
        return std::max(jackrig::Peak(recorder_->Channel(0), from, to),
                        jackrig::Peak(recorder_->Channel(1), from, to));
    }

    double FrequencyAt(long from) const {
        auto x = recorder_->Channel(0);
        const long length = 8192;
        if (from < 0 || from + length > static_cast<long>(x.size())) return 0;
        return jackrig::EstimateFrequency(x.subspan(static_cast<std::size_t>(from), length),
                                          server_->Rate());
    }

    std::unique_ptr<jackrig::Server> server_;
    Keyboard* keys_ = nullptr;
    std::unique_ptr<mbs::SynthEngine> engine_;
    mbs::JackOutput* output_ = nullptr;
    RecordingListener listener_;
    std::unique_ptr<mbs::MidiInput> input_;
    std::vector<std::unique_ptr<Keyboard>> keyboards_;
    std::unique_ptr<jackrig::Recorder> recorder_;
};

TEST_F(JackBackends, WithoutAServerTheyStepAsideAndStartNone) {
    const std::string name = jackrig::UniqueServerName();
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    std::string why;
    EXPECT_FALSE(mbs::FindAudioBackend("jack")->available(why));
    EXPECT_NE(why.find("no JACK server"), std::string::npos) << why;
    why.clear();
    EXPECT_FALSE(mbs::FindMidiInputBackend("jack")->available(why));
    EXPECT_FALSE(why.empty());
    why.clear();
    EXPECT_EQ(mbs::SynthEngine::Create("jack", why), nullptr);
    EXPECT_NE(why.find("no JACK server"), std::string::npos) << why;
    EXPECT_NE(mbs::CreateJackInput()->Open("Velunor"), 0);
    // None of that started a server.
    EXPECT_EQ(jackrig::OpenClient("checker"), nullptr);

    ASSERT_NO_FATAL_FAILURE(StartServer(256));
    EXPECT_TRUE(mbs::FindAudioBackend("jack")->available(why)) << why;
    EXPECT_TRUE(mbs::FindMidiInputBackend("jack")->available(why)) << why;
}

TEST_F(JackBackends, OutputRunsAtTheServersRateIntoThePlaybackPorts) {
    ASSERT_NO_FATAL_FAILURE(StartServer(256, 44100));
    ASSERT_NO_FATAL_FAILURE(StartEngine());
    double rate = 0;
    fluid_settings_getnum(fluid_synth_get_settings(engine_->Synth()), "synth.sample-rate", &rate);
    EXPECT_EQ(rate, 44100.0);
    auto checker = jackrig::OpenClient("checker");
    EXPECT_TRUE(jackrig::Connected(checker.get(), "Velunor:out_1", "system:playback_1"));
    EXPECT_TRUE(jackrig::Connected(checker.get(), "Velunor:out_2", "system:playback_2"));

    // At that rate A4 still sounds at 440 Hz: the synthesizer renders at JACK's rate.
    ASSERT_NO_FATAL_FAILURE(StartInput());
    ASSERT_NO_FATAL_FAILURE(StartRecorder());
    Keyboard& keys = AddKeyboard("Test Keys");
    ASSERT_NO_FATAL_FAILURE(ConnectKeyboard(keys));
    const jack_nframes_t cycle = Send(keys, {{10, {0x90, 69, 100}}});
    const long event = recorder_->IndexOf(cycle + 10);
    ASSERT_TRUE(recorder_->WaitRecordedUntil(cycle + 44100, 10s));
    const long onset = FirstSound(event, event + 4410);
    ASSERT_GE(onset, 0);
    EXPECT_NEAR(FrequencyAt(onset + 4410), 440.0, 440.0 * 0.02);
}

// A note sounds from its own frame on, whatever the period: never before, and within one
// synthesizer block after. Nothing is rendered before the first note.
class NoteOnset : public JackBackends, public ::testing::WithParamInterface<unsigned> {};

TEST_P(NoteOnset, ANoteStartsWithinOneBlockOfItsFrame) {
    const unsigned period = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartServer(period));
    ASSERT_NO_FATAL_FAILURE(StartEngine());
    ASSERT_NO_FATAL_FAILURE(StartInput());
    ASSERT_NO_FATAL_FAILURE(StartRecorder());
    Keyboard& keys = AddKeyboard("Test Keys");
    ASSERT_NO_FATAL_FAILURE(ConnectKeyboard(keys));

    ASSERT_TRUE(jackrig::WaitUntil([&] { return output_->FramesHandled() > 8 * period; }, 5s));
    EXPECT_EQ(output_->FramesRendered(), 0u) << "rendered while no voice was active";

    const jack_nframes_t offset = period * 5 / 8 + 3;
    const jack_nframes_t cycle = Send(keys, {{offset, {0x90, 69, 100}}});
    const long event = recorder_->IndexOf(cycle + offset);
    ASSERT_TRUE(recorder_->WaitRecordedUntil(cycle + offset + server_->Rate() / 2, 10s));

    EXPECT_EQ(PeakBoth(0, event), 0.0f) << "sound before the note's frame";
    const long onset = FirstSound(event, event + server_->Rate() / 2);
    ASSERT_GE(onset, 0) << "no sound after the note-on";
    EXPECT_GE(onset - event, 0);
    EXPECT_LT(onset - event, kBlock);
    std::printf("period %u: note-on at offset %u, sound %ld frames after its frame\n", period,
                offset, onset - event);
    EXPECT_NEAR(FrequencyAt(onset + 4800), 440.0, 440.0 * 0.02);

    // After the note is released the synthesizer renders its tail, then stops rendering.
    Send(keys, {{0, {0x80, 69, 0}}});
    uint64_t rendered = 0;
    ASSERT_TRUE(jackrig::WaitUntil(
        [&] {
            const uint64_t before = output_->FramesRendered();
            const uint64_t handled = output_->FramesHandled();
            if (!jackrig::WaitUntil([&] { return output_->FramesHandled() > handled + 4 * period; },
                                    2s))
                return false;
            rendered = output_->FramesRendered();
            return rendered == before;
        },
        10s, 10ms));
    const jack_nframes_t now = keys.Now();
    ASSERT_TRUE(recorder_->WaitRecordedUntil(now, 5s));
    auto left = recorder_->Channel(0);
    long last = static_cast<long>(left.size()) - 1;
    while (last > onset && left[static_cast<std::size_t>(last)] == kSilent) --last;
    EXPECT_LT(PeakBoth(last - 2400, last + 1), 1e-4f) << "the sound was cut off, not faded out";
}

INSTANTIATE_TEST_SUITE_P(Periods, NoteOnset, ::testing::Values(64u, 256u, 1024u),
                         [](const auto& info) { return "Period" + std::to_string(info.param); });

TEST_F(JackBackends, MessagesFromOtherThreadsPlayOnePeriodAfterTheyArrive) {
    const unsigned period = 256;
    ASSERT_NO_FATAL_FAILURE(StartServer(period));
    ASSERT_NO_FATAL_FAILURE(StartEngine());
    ASSERT_NO_FATAL_FAILURE(StartRecorder());
    Keyboard& clock = AddKeyboard("clock");

    // As the ALSA input thread would: controllers, a note, and another one about 300
    // frames later.
    const auto post = [&](const Bytes& bytes) {
        mbs::MidiMessage message{};
        message.kind = mbs::MidiMessageKind::Short;
        message.length = bytes.size();
        std::copy(bytes.begin(), bytes.end(), message.bytes);
        output_->PostMessage(message);
    };
    for (int ch = 0; ch < 2; ++ch)
        for (const auto& bytes : jackrig::DryAndPanned(ch, ch == 0 ? -1 : 1)) post(bytes);
    const jack_nframes_t first = clock.Now();
    post({0x90, 69, 110});
    ASSERT_TRUE(jackrig::WaitUntil([&] { return static_cast<int32_t>(clock.Now() - first) >= 300; },
                                   2s, 0ms));
    const jack_nframes_t second = clock.Now();
    post({0x91, 81, 110});

    ASSERT_TRUE(recorder_->WaitRecordedUntil(second + 24000, 10s));
    const long from = recorder_->IndexOf(first);
    const long onsetFirst = jackrig::FirstAbove(recorder_->Channel(0), from, from + 4800, 0.0f);
    const long onsetSecond =
        jackrig::FirstAbove(recorder_->Channel(1), from, from + 4800, jackrig::kHeard);
    ASSERT_GE(onsetFirst, 0);
    ASSERT_GE(onsetSecond, 0);
    const long late = onsetFirst - from;
    const long apart = onsetSecond - onsetFirst;
    const long posted = static_cast<int32_t>(second - first);
    std::printf(
        "posted notes sound %ld frames after they were posted (period %u); posted %ld "
        "apart, sound %ld apart\n",
        late, period, posted, apart);
    // One period, give or take the estimate of the frame clock outside the audio thread.
    EXPECT_GE(late, static_cast<long>(period) - 32);
    EXPECT_LT(late, static_cast<long>(period) + kBlock + 32);
    EXPECT_NEAR(apart, posted, kBlock + 32) << "arrival times were not kept";
}

TEST_F(JackBackends, InstrumentChangesReachTheCallbackAndAreReadableFromAnyThread) {
    ASSERT_NO_FATAL_FAILURE(StartServer(256));
    ASSERT_NO_FATAL_FAILURE(StartEngine(false));
    ASSERT_NO_FATAL_FAILURE(StartInput());
    Keyboard& keys = AddKeyboard("Test Keys");
    ASSERT_NO_FATAL_FAILURE(ConnectKeyboard(keys));
    // Nothing is selected, so nothing is loaded, before a channel is used.
    for (int ch = 0; ch < 16; ++ch) EXPECT_EQ(output_->InstrumentIDOnChannel(ch), 0) << ch;

    output_->SelectInstrument(0, {0, 15});
    EXPECT_TRUE(jackrig::WaitUntil([&] { return output_->InstrumentIDOnChannel(0) == 16; }, 2s));

    Send(keys, {{0, {0xC1, 40}}});
    EXPECT_TRUE(jackrig::WaitUntil([&] { return output_->InstrumentIDOnChannel(1) == 41; }, 2s));
    // A channel's first note selects its default: the first kit on the drum channel.
    Send(keys, {{0, {0x99, 36, 100}}, {0, {0x89, 36, 0}}});
    EXPECT_TRUE(
        jackrig::WaitUntil([&] { return output_->InstrumentIDOnChannel(9) == 128 * 128 + 1; }, 2s));
    Send(keys, {{0, {0xFF}}});
    EXPECT_TRUE(jackrig::WaitUntil(
        [&] {
            return output_->InstrumentIDOnChannel(0) == 1 && output_->InstrumentIDOnChannel(1) == 1;
        },
        2s));
}

// Loading a preset's samples takes milliseconds of file reading: it happens beside the
// callback, which keeps playing the channel's current instrument meanwhile.
TEST_F(JackBackends, AnInstrumentChangeDuringPlaybackLoadsBesideTheCallback) {
    ASSERT_NO_FATAL_FAILURE(StartAll());
    Keyboard& keys = *keys_;
    jackrig::ClientPtr watcher = jackrig::OpenClient("xrun-watcher");
    ASSERT_TRUE(watcher);
    static std::atomic<int> xruns{0};
    xruns = 0;
    jack_set_xrun_callback(
        watcher.get(), [](void*) { return xruns.fetch_add(1), 0; }, nullptr);
    ASSERT_EQ(jack_activate(watcher.get()), 0);

    // Channel 0 on the left, channel 1 on the right. A note held on channel 1, then changes
    // to presets not loaded yet: strings on channel 0 with a note at once, and an organ on
    // channel 1 under its held note.
    std::vector<Keyboard::Event> setup;
    for (int ch = 0; ch < 2; ++ch)
        for (auto& bytes : jackrig::DryAndPanned(ch, ch == 0 ? -1 : 1))
            setup.push_back({0, std::move(bytes)});
    Send(keys, std::move(setup));
    const jack_nframes_t held = Send(keys, {{0, {0x91, 57, 100}}});
    output_->TakeLongestCycle();
    const jack_nframes_t change =
        Send(keys, {{10, {0xC0, 48}}, {10, {0x90, 69, 100}}, {20, {0xC1, 19}}});
    EXPECT_TRUE(jackrig::WaitUntil(
        [&] {
            return output_->InstrumentIDOnChannel(0) == 49 &&
                   output_->InstrumentIDOnChannel(1) == 20;
        },
        5s))
        << "loaded instruments were not taken: " << output_->InstrumentIDOnChannel(0) << ", "
        << output_->InstrumentIDOnChannel(1);
    const jack_nframes_t after = Send(keys, {{0, {0x81, 57, 0}}, {0, {0x80, 69, 0}}});
    ASSERT_TRUE(recorder_->WaitRecordedUntil(after, 5s));

    // The note struck with the change sounded at once, with the instrument there was.
    const long event = recorder_->IndexOf(change + 10);
    const long onset =
        jackrig::FirstAbove(recorder_->Channel(0), event - 4800, event + 4800, jackrig::kHeard);
    ASSERT_GE(onset, 0);
    EXPECT_GE(onset - event, 0);
    EXPECT_LT(onset - event, kBlock);
    // No cycle went silent while the held note sounded, and JACK saw no xrun.
    const long from = recorder_->IndexOf(held) + 4800;
    const long to = recorder_->IndexOf(after);
    long run = 0, longest = 0;
    const auto right = recorder_->Channel(1);
    for (long i = from; i < to; ++i) {
        run = right[static_cast<std::size_t>(i)] == 0.0f ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    EXPECT_LT(longest, 16) << "a gap in the sound while presets loaded";
    EXPECT_EQ(xruns.load(), 0);
    // The dummy driver waits for a late cycle instead of counting an xrun: the callback's
    // own time says whether it loaded anything (that takes milliseconds).
    const auto longest_cycle = output_->TakeLongestCycle();
    std::printf("longest cycle while two presets loaded: %.3f ms\n",
                std::chrono::duration<double, std::milli>(longest_cycle).count());
    EXPECT_LT(longest_cycle, 1ms);
    jack_deactivate(watcher.get());
}

// Before the route the callback plays nothing itself: messages go to the listener, which
// keeps them for the route.
TEST_F(JackBackends, AnUnroutedPortHandsMessagesToTheListenerInsteadOfPlaying) {
    ASSERT_NO_FATAL_FAILURE(StartAll());
    Keyboard& keys = *keys_;
    listener_.routed = false;

    const jack_nframes_t quiet = Send(keys, {{0, {0x90, 69, 100}}});
    ASSERT_TRUE(listener_.WaitDeliveries(1));
    ASSERT_TRUE(recorder_->WaitRecordedUntil(quiet + 24000, 5s));
    EXPECT_EQ(PeakBoth(0, recorder_->IndexOf(quiet + 24000)), 0.0f);
    EXPECT_EQ(output_->FramesRendered(), 0u);
    ASSERT_TRUE(listener_.WaitPlayed(1));
    EXPECT_EQ(listener_.Played(), std::vector<Bytes>{Bytes({0x90, 69, 100})});

    listener_.routed = true;
    const jack_nframes_t cycle = Send(keys, {{0, {0x90, 72, 100}}});
    ASSERT_TRUE(recorder_->WaitRecordedUntil(cycle + 4800, 5s));
    EXPECT_GE(FirstSound(recorder_->IndexOf(cycle), recorder_->IndexOf(cycle + 4800)), 0);
    EXPECT_EQ(listener_.Played().size(), 1u) << "played twice: by the callback and through Play";
}

TEST_F(JackBackends, SourcesAreOtherProgramsMidiOutputsByTheirNames) {
    ASSERT_NO_FATAL_FAILURE(StartServer(256));
    ASSERT_NO_FATAL_FAILURE(StartInput());
    Keyboard& named = AddKeyboard("Test Keys");
    named.SetPrettyName("Keystation 49");
    Keyboard& plain = AddKeyboard("Virtual Piano", "out");
    Keyboard& through = AddKeyboard("Midi Through", "Midi Through Port-0");
    auto checker = jackrig::OpenClient("checker");
    jack_port_t* audio = jack_port_register(checker.get(), "audio_out", JACK_DEFAULT_AUDIO_TYPE,
                                            JackPortIsOutput, 0);
    ASSERT_NE(audio, nullptr);
    (void)through;

    const auto uuidOf = [](Keyboard& k) {
        return jack_port_uuid(jack_port_by_name(k.Client(), k.PortName().c_str()));
    };
    std::vector<std::pair<uint64_t, std::string>> sources;
    for (const auto& s : input_->Sources()) sources.emplace_back(s.id, s.name);
    const std::vector<std::pair<uint64_t, std::string>> expected = {
        {uuidOf(named), "Keystation 49"}, {uuidOf(plain), "Virtual Piano:out"}};
    EXPECT_EQ(sources, expected);

    EXPECT_TRUE(input_->Connect(uuidOf(named)));
    EXPECT_TRUE(jackrig::Connected(checker.get(), named.PortName(), "Velunor:VelunorPort"));
    EXPECT_TRUE(input_->Connect(uuidOf(named))) << "connecting twice is no failure";
    EXPECT_FALSE(input_->Connect(0x12345678)) << "a source that is not there";

    // With one source connected, deliveries name it; with two, the "several" source.
    Send(named, {{0, {0x90, 60, 1}}});
    ASSERT_TRUE(listener_.WaitDeliveries(1));
    EXPECT_EQ(listener_.Deliveries()[0].sourceId, uuidOf(named));
    EXPECT_EQ(listener_.Deliveries()[0].sourceName, "Keystation 49");

    EXPECT_TRUE(input_->Connect(uuidOf(plain)));
    Send(plain, {{0, {0x90, 62, 1}}});
    ASSERT_TRUE(listener_.WaitDeliveries(2));
    EXPECT_EQ(listener_.Deliveries()[1].sourceId, mbs::kJackSeveralSources);
    EXPECT_FALSE(listener_.DeliveredOnAudioThread());
}

TEST_F(JackBackends, WithAnotherAudioOutputTheInputHandsMessagesToPlay) {
    ASSERT_NO_FATAL_FAILURE(StartServer(256));
    ASSERT_NO_FATAL_FAILURE(StartInput());
    Keyboard& keys = AddKeyboard("Test Keys");
    ASSERT_NO_FATAL_FAILURE(ConnectKeyboard(keys));

    // Running status, a timing clock inside a message, and a GM reset across two events.
    Send(keys,
         {{5, {0x90, 60, 100, 62}}, {6, {0xF8, 100, 0xF0, 0x7E, 0x7F}}, {7, {0x09, 0x01, 0xF7}}});
    ASSERT_TRUE(listener_.WaitPlayed(4));
    ASSERT_TRUE(listener_.WaitDeliveries(1));
    const std::vector<Bytes> played = {
        {0x90, 60, 100}, {0xF8}, {0x90, 62, 100}, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}};
    EXPECT_EQ(listener_.Played(), played);
    const std::vector<Bytes> packets = {
        {0x90, 60, 100, 62}, {0xF8, 100, 0xF0, 0x7E, 0x7F}, {0x09, 0x01, 0xF7}};
    EXPECT_EQ(listener_.Packets(), packets);
    EXPECT_EQ(listener_.Deliveries().size(), 1u) << "one cycle's events are one delivery";
    EXPECT_FALSE(listener_.DeliveredOnAudioThread());
}

}  // namespace
