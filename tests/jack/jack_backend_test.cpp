// The JACK MIDI input and audio output of the MIDI component, in this process, against a
// private JACK server with the dummy driver, real FluidSynth and the GM SoundFont: keyboards
// send MIDI at chosen frames, a recorder takes the sound frame by frame.

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include "audio_output.h"
#include "component.h"
#include "jack/jack_client.h"
#include "jack/jack_output.h"
#include "midi_input.h"
#include "synth_engine.h"
#include "tests/jack/jack_rig.h"
#include "tests/support/allocation_watch.h"
#include "tests/support/sound.h"

// What the audio thread must never do, counted there: allocating and opening files.
std::atomic<int> openings{0};
extern "C" FILE* fopen(const char* path, const char* mode) {
    static const auto real =
        reinterpret_cast<FILE* (*)(const char*, const char*)>(dlsym(RTLD_NEXT, "fopen"));
    return CountIfWatched(openings), real(path, mode);
}

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using jackrig::kHeard;

// FluidSynth renders in blocks of this many frames: a note starts at the next block at latest.
constexpr long kBlock = 64;
// Below this level a reverb tail has faded; what it leaves in the reverb stays below it.
constexpr float kFaded = 1e-4f;

// Keeps what the input hands it to play, one message at a time on the input's thread.
struct Listener : mbs::InputListener {
    std::vector<Bytes> played;  // to be read once `count` says the messages are all there
    std::atomic<std::size_t> count{0};
    std::atomic<bool> routed{true};

    void Play(const mbs::MidiMessage& message) override {
        played.emplace_back(message.Bytes().begin(), message.Bytes().end());
        ++count;
    }
    void Deliver(mbs::Delivery) override {}
    bool Routed() const override { return routed; }
};

void PlaysAtItsFrames(unsigned period, unsigned rate) {
    jackrig::Server server(period, rate);
    ASSERT_TRUE(server.Ready()) << server.Log();
    std::atomic<int> xruns{0};
    jackrig::ClientPtr watcher = jackrig::OpenClient("xruns");
    jack_set_xrun_callback(
        watcher.get(), [](void* n) { return ++*static_cast<std::atomic<int>*>(n), 0; }, &xruns);
    ASSERT_EQ(jack_activate(watcher.get()), 0);
    Listener listener;
    auto input = mbs::CreateJackInput();
    int32_t error = 0;
    ASSERT_EQ(input->Open("Velunor"), 0);
    ASSERT_NE(input->CreatePort("VelunorPort", &listener, error), 0) << error;

    // The input lists other programs' MIDI outputs by their names, and connects them. With no
    // synthesizer on its client it hands what they send to the listener, decoded across events:
    // running status, a clock inside a message, a GM reset in two parts.
    jackrig::Keyboard keys("Midi-Bridge", "Keystation 49 MIDI 1 (capture)"),
        through("alsa", "midi_capture_1");
    jack_port_set_alias(through.Port(), "alsa_pcm:Midi-Through/midi_capture_1");
    const auto sources = input->Sources();
    ASSERT_EQ(sources.size(), 1u) << "a port named or aliased Midi Through is no source";
    EXPECT_EQ(sources[0].name, "Keystation 49 MIDI 1");
    ASSERT_TRUE(input->Connect(sources[0].id));
    keys.Send(
        {{5, {0x90, 60, 100, 62}}, {6, {0xF8, 100, 0xF0, 0x7E, 0x7F}}, {7, {0x09, 0x01, 0xF7}}});
    ASSERT_TRUE(WaitUntil([&] { return listener.count == 4; }, 3s));

    std::string why;
    auto engine = mbs::SynthEngine::Create("jack", why);
    ASSERT_TRUE(engine) << why;
    auto& out = dynamic_cast<mbs::JackOutput&>(engine->Output());
    for (int ch = 0; ch < 16; ++ch) EXPECT_EQ(out.InstrumentIDOnChannel(ch), 0) << "loaded early";
    for (int ch : {0, 1}) out.SelectInstrument(ch, {0, 0});
    ASSERT_TRUE(WaitUntil([&] { return out.InstrumentIDOnChannel(1) == 1; }, 5s));
    jackrig::Recorder recorder("recorder", 20, rate);
    ASSERT_TRUE(recorder.ConnectFrom("Velunor:out_1", "Velunor:out_2"));
    const auto left = [&] { return recorder.Channel(0); };
    const auto right = [&] { return recorder.Channel(1); };

    // Before the route the callback plays nothing itself: the listener keeps the note.
    listener.routed = false;
    const uint64_t handled = out.FramesHandled();
    keys.Send({{0, {0x90, 69, 100}}});
    ASSERT_TRUE(WaitUntil(
        [&] { return listener.count == 5 && out.FramesHandled() > handled + 8 * period; }, 3s));
    const Bytes gmReset = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    EXPECT_EQ(
        listener.played,
        (std::vector<Bytes>{{0x90, 60, 100}, {0xF8}, {0x90, 62, 100}, gmReset, {0x90, 69, 100}}));
    EXPECT_EQ(out.FramesRendered(), 0u) << "rendered while no voice sounded";
    listener.routed = true;

    // Channel 0 on the left and channel 1 on the right. Messages from other threads play one
    // period after they arrive, so that they keep their spacing.
    const auto post = [&](Bytes bytes) { out.PostMessage(mbs::MessageOfBytes(bytes)); };
    for (int ch : {0, 1})
        for (const Bytes& bytes : jackrig::DryAndPanned(ch, ch == 0 ? -1 : 1)) post(bytes);
    const jack_nframes_t first = keys.Now();
    post({0x90, 69, 110});
    ASSERT_TRUE(WaitUntil([&] { return int32_t(keys.Now() - first) >= 300; }, 2s, 0ms));
    const jack_nframes_t second = keys.Now();
    post({0x91, 81, 110});
    post({0x92, 64, 110});  // in the middle, with reverb, for the tail below
    ASSERT_TRUE(recorder.WaitRecordedUntil(second + rate / 2, 10s));
    const long from = recorder.IndexOf(first);
    const long late = FirstAbove(left(), from, from + rate, 0.0f) - from;
    const long apart = FirstAbove(right(), from, from + rate, kHeard) - from - late;
    // One period late, give or take the frame clock's estimate outside the audio thread.
    EXPECT_GE(late, long(period) - 32);
    EXPECT_LT(late, long(period) + kBlock + 32);
    EXPECT_NEAR(apart, int32_t(second - first), kBlock + 32) << "arrival times were not kept";

    // Silenced at once, the notes leave channel 2's reverb, rendered until it has faded; then
    // rendering stops.
    for (int ch : {0, 1, 2}) post({std::uint8_t(0xB0 | ch), 120, 0});
    ASSERT_TRUE(WaitUntil(
        [&] {
            const uint64_t rendered = out.FramesRendered(), now = out.FramesHandled();
            return WaitUntil([&] { return out.FramesHandled() > now + 4 * period; }, 2s) &&
                   out.FramesRendered() == rendered;
        },
        10s, 10ms));
    ASSERT_TRUE(recorder.WaitRecordedUntil(keys.Now(), 5s));
    long last = long(recorder.Recorded()) - 1;
    while (last > from && left()[std::size_t(last)] == 0.0f) --last;
    EXPECT_LT(Peak(left(), last - rate / 20, last + 1), kFaded) << "cut off, not faded out";

    // Two notes of one cycle each sound from their frame on, within a block, at their pitch.
    const jack_nframes_t a = period / 8 + 3, b = period * 7 / 8;
    const jack_nframes_t cycle = keys.Send({{a, {0x90, 69, 100}}, {b, {0x91, 81, 100}}});
    ASSERT_TRUE(recorder.WaitRecordedUntil(cycle + rate / 2, 10s));
    const long atA = recorder.IndexOf(cycle + a), atB = recorder.IndexOf(cycle + b);
    const long onsetA = FirstAbove(left(), last + 1, atA + rate, 0.0f);
    const long onsetB = FirstAbove(right(), last + 1, atB + rate, kFaded);
    ASSERT_GE(onsetA, atA) << "sound before the note";
    ASSERT_GE(onsetB, atB);
    EXPECT_LT(onsetA - atA, kBlock);
    EXPECT_LT(onsetB - atB, kBlock);
    EXPECT_TRUE(AtPitch(left().subspan(std::size_t(onsetA) + rate / 10, 8192), rate, 69));

    // At 64 frames a loaded machine misses cycles whatever the program does.
    if (period == 64) return;
    // Presets not loaded yet: strings on channel 0, silenced, with a note at once, and an organ
    // under channel 1's held note. They load beside the callback, which plays on meanwhile with
    // the instruments there were: no cycle of it takes the milliseconds a load takes, and none
    // is left silent.
    const jack_nframes_t cut = keys.Send({{0, {0xB0, 120, 0}}});
    const int xrunsBefore = xruns;
    out.TakeLongestCycle();
    const jack_nframes_t change =
        keys.Send({{10, {0xC0, 48}}, {10, {0x90, 72, 100}}, {20, {0xC1, 19}}});
    EXPECT_TRUE(WaitUntil(
        [&] { return out.InstrumentIDOnChannel(0) == 49 && out.InstrumentIDOnChannel(1) == 20; },
        5s));
    const auto longest = out.TakeLongestCycle();
    const jack_nframes_t after = keys.Send({{0, {0x80, 72, 0}}});
    ASSERT_TRUE(recorder.WaitRecordedUntil(after, 5s));
    const long event = recorder.IndexOf(change + 10);
    const long onset = FirstAbove(left(), recorder.IndexOf(cut) + kBlock, event + rate, kHeard);
    EXPECT_GE(onset, event);
    EXPECT_LT(onset - event, kBlock);
    const auto held = right().first(std::size_t(recorder.IndexOf(after))).last(after - cut);
    // A cycle JACK reports missed on a busy machine (an xrun) is silent too: no gap counts then.
    EXPECT_TRUE(xruns != xrunsBefore ||
                std::search_n(held.begin(), held.end(), 16, 0.0f) == held.end())
        << "a gap in the sound";
    EXPECT_LT(longest, 1ms) << longest.count() << " ns: a cycle loaded samples";
}

// Without a server the back-ends start none. With one, at every period, nothing is rendered
// while no voice sounds and each note starts at its own frame.
TEST(JackBackends, PlayEachNoteAtItsFrameAtEveryPeriod) {
    setenv("JACK_DEFAULT_SERVER", ("quillet-none-" + std::to_string(getpid())).c_str(), 1);
    std::string why;
    EXPECT_FALSE(mbs::FindAudioBackend("jack")->available(why));
    EXPECT_NE(why.find("no JACK server"), std::string::npos) << why;
    EXPECT_FALSE(mbs::SynthEngine::Create("jack", why));
    EXPECT_FALSE(jackrig::OpenClient("checker")) << "a server was started";

    for (const auto& [period, rate] : {std::pair{64u, 48000u}, {256u, 48000u}, {1024u, 44100u}}) {
        SCOPED_TRACE("period " + std::to_string(period) + " at " + std::to_string(rate) + " Hz");
        PlaysAtItsFrames(period, rate);
    }
}

// What a keyboard may send that makes FluidSynth log, allocate or load samples, played while
// standard error is a pipe nobody reads, full already: nothing of it blocks, allocates or
// opens a file on the audio thread, nothing reaches standard error after the application's
// Open, and a note sounds after it.
TEST(JackBackends, HostileInputNeitherBlocksNorAllocatesOnTheAudioThread) {
    const unsigned period = 256, rate = 48000;
    jackrig::Server server(period, rate);
    ASSERT_TRUE(server.Ready()) << server.Log();
    mbs::LoadMidiComponent();
    std::string why;
    auto engine = mbs::SynthEngine::Create("jack", why);
    ASSERT_TRUE(engine) << why;
    auto& out = dynamic_cast<mbs::JackOutput&>(engine->Output());
    Listener listener;
    auto input = mbs::CreateJackInput();
    int32_t error = 0;
    ASSERT_EQ(input->Open("Velunor"), 0);
    ASSERT_NE(input->CreatePort("VelunorPort", &listener, error), 0) << error;
    jackrig::Keyboard keys("Midi-Bridge", "Keys MIDI 1 (capture)");
    ASSERT_TRUE(input->Connect(input->Sources().at(0).id));
    jackrig::Recorder recorder("recorder", 30, rate);
    ASSERT_TRUE(recorder.ConnectFrom("Velunor:out_1", "Velunor:out_2"));
    watchedThread = jack_client_thread_id(mbs::jack::Client::Acquire("Velunor", why)->get());

    mbs::DebugMessageEnableMBS(false);  // as after the application's Open
    int pipe[2];
    ASSERT_EQ(pipe2(pipe, O_NONBLOCK), 0);
    fcntl(pipe[1], F_SETPIPE_SZ, 4096);
    std::size_t filled = 0;
    for (ssize_t n; (n = write(pipe[1], "x", 1)) == 1;) filled += std::size_t(n);
    fcntl(pipe[1], F_SETFL, 0);
    const int stderrWas = dup(2);
    dup2(pipe[1], 2);

    out.TakeLongestCycle();
    const auto quiet = [&] {
        const long end = long(recorder.Recorded());
        return Peak(recorder.Channel(0), end - rate / 20, end) < kFaded;
    };
    const auto send = [&](std::vector<Bytes> messages) {
        std::vector<jackrig::Keyboard::Event> events;
        for (auto& m : messages) events.push_back({0, std::move(m)});
        keys.Send(std::move(events));
    };
    // A channel's first instrument, with more messages behind it than are held while it
    // loads: its note must not hang.
    std::vector<Bytes> burst{{0xC5, 19}};
    for (int i = 0; i < 520; ++i) {
        burst.push_back({0xB5, 1, std::uint8_t(i % 128)});
        if (i == 505) burst.push_back({0x95, 60, 100});
    }
    burst.push_back({0x85, 60, 0});
    send(burst);
    ASSERT_TRUE(WaitUntil([&] { return out.InstrumentIDOnChannel(5) == 20; }, 5s));
    EXPECT_TRUE(WaitUntil(quiet, 5s, 10ms)) << "a note hangs";
    // A bank the SoundFont lacks; a GS message with a bad checksum; a tuning; channel 2 made a
    // drum part by GS and channel 4 by XG, each with a program change.
    send({{0xB0, 0, 5},
          {0xC0, 3},
          {0xF0, 0x41, 0x00, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x40, 0xF7},
          {0xF0, 0x7F, 0x7F, 0x08, 0x02, 0x00, 0x01, 0x45, 0x45, 0x00, 0x00, 0xF7},
          {0xF0, 0x41, 0x7F, 0x42, 0x12, 0x40, 0x13, 0x15, 0x01, 0x17, 0xF7},
          {0xC2, 8}});
    send({{0xF0, 0x43, 0x7F, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}, {0xB4, 0, 127}, {0xC4, 16}});
    // Every voice taken: 16 channels of 16 notes.
    for (std::uint8_t ch = 0; ch < 16; ++ch) {
        std::vector<Bytes> notes;
        for (std::uint8_t key = 40; key < 56; ++key)
            notes.push_back({std::uint8_t(0x90 | ch), key, 100});
        send(notes);
    }
    // A SysEx of a megabyte, as much of it a cycle as the port takes.
    send({{0xF0, 0x7D}});
    for (std::size_t sent = 0; sent < (1u << 20); sent += 8192) send({Bytes(8192, 0x11)});
    send({{0xF7}, {0xB0, 120, 0}, {0xB0, 121, 0}});
    for (int ch = 0; ch < 16; ++ch) send({{std::uint8_t(0xB0 | ch), 120, 0}});
    ASSERT_TRUE(WaitUntil([&] { return out.InstrumentIDOnChannel(4) == 16385 + 16; }, 5s));
    // Once the reverb of all that has faded, a piano note.
    ASSERT_TRUE(WaitUntil(quiet, 10s, 10ms));
    const jack_nframes_t note = keys.Send({{0, {0xC0, 0}}, {0, {0x90, 69, 100}}});
    ASSERT_TRUE(recorder.WaitRecordedUntil(note + rate / 2, 10s));
    const auto longest = out.TakeLongestCycle();

    dup2(stderrWas, 2);
    std::vector<char> written(filled + 4096);
    const ssize_t got = read(pipe[0], written.data(), written.size());
    EXPECT_EQ(got, ssize_t(filled))
        << std::string(written.data() + filled, std::max<ssize_t>(0, got - ssize_t(filled)));
    EXPECT_LT(longest, 1ms * 1000 * period / rate) << longest.count() << " ns";
    EXPECT_EQ(watchedAllocations.load(), 0) << "allocations on the audio thread";
    EXPECT_EQ(openings.load(), 0) << "files opened on the audio thread";
    const long at = recorder.IndexOf(note);
    EXPECT_TRUE(AtPitch(recorder.Channel(0).subspan(std::size_t(at) + rate / 10, 8192), rate, 69));

    watchedThread = pthread_t{};
    mbs::DebugMessageEnableMBS(true);
}

}  // namespace
