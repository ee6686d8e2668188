// Quillet's real main window on the ALSA sequencer of the test guest (tests/vm): USB gadget
// keyboards plugged in and out, notes played on them and the sound recorded. The guest's
// helpers (lib.sh) plug the gadgets and record the loopback card; this program reads the
// window. Outside the guest it skips.
//
// The suites run in the guest from scenarios/quillet-alsa.sh, which creates the gadgets
// "keys" and "second" before this program starts: AlsaWindow with FluidSynth's ALSA driver,
// then, with a JACK server started, AlsaJack with the JACK audio back-end.
#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <unistd.h>

#include <QMainWindow>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "jack_rig.h"
#include "platform/framework/gui/controls.h"
#include "platform/framework/gui/native.h"
#include "tests/support/wait.h"
#include "tests/support/window_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const kKeysPort = "Quillet Test Keys MIDI 1";
const char* const kSecondPort = "Quillet Second Keys MIDI 1";

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Why this program cannot run its scenarios here, or empty.
std::string WhyNotHere() {
    if (access("/dev/snd/seq", R_OK | W_OK) != 0)
        return "no ALSA sequencer here: runs inside the VM harness (vm.quillet)";
    if (!std::getenv("QVM_LIB") || !std::getenv("QVM_OUT"))
        return "QVM_LIB is not set: runs inside the VM harness (vm.quillet), whose lib.sh plugs "
               "the gadget keyboards";
    return {};
}

// A measured time: printed, and added to the scenario's timings, which the harness prints
// again in its summary.
void Timing(const std::string& label, double seconds) {
    std::printf("TIME %s: %.3f s\n", label.c_str(), seconds);
    std::fflush(stdout);
    if (const char* out = std::getenv("QVM_OUT")) {
        std::ofstream timings(std::string(out) + "/timings", std::ios::app);
        char value[32];
        std::snprintf(value, sizeof value, "%.3f", seconds);
        timings << label << '\t' << value << '\n';
    }
}

std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

struct Shell {
    int status = -1;
    std::string output;
};

// Runs commands with lib.sh's helpers in bash, bounded by `limit` seconds. The window's
// events are handled meanwhile, so that its timer ticks as it would while a person plugs a
// keyboard in.
Shell Qvm(const std::string& commands, int limit) {
    std::string line = "timeout -k 2 " + std::to_string(limit) + " bash -c " +
                       Quoted("source \"$QVM_LIB\"; " + commands) + " 2>&1";
    auto job = std::async(std::launch::async, [line] {
        Shell result;
        FILE* pipe = popen(line.c_str(), "r");
        if (!pipe) return result;
        char buffer[512];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
        int status = pclose(pipe);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
    });
    WaitFor([&] { return job.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            (limit + 5) * 1000);
    Shell result = job.get();
    std::fputs(result.output.c_str(), stdout);
    std::fflush(stdout);
    return result;
}

// The lines a helper printed, without the log lines of lib.sh ("[1.234] ...").
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '[') lines.push_back(line);
    return lines;
}

// Names of the ports subscribed to Quillet's input port, as the sequencer lists them.
std::vector<std::string> SendersToVelunorPort() {
    Shell s = Qvm("qvm_seq_port VelunorPort >/dev/null || exit 3; qvm_seq_senders VelunorPort", 20);
    EXPECT_EQ(s.status, 0) << "the sequencer lists no port VelunorPort";
    std::vector<std::string> senders = Lines(s.output);
    std::sort(senders.begin(), senders.end());
    return senders;
}

// Whether the sequencer has a port of that name: asked in-process, so that it can be polled
// every few milliseconds while the window runs (a helper process costs a tenth of a second
// in the guest). The client has no port, so Quillet's watch never sees it.
bool SequencerHasPort(const std::string& name) {
    static snd_seq_t* seq = [] {
        snd_seq_t* s = nullptr;
        if (snd_seq_open(&s, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0)
            return static_cast<snd_seq_t*>(nullptr);
        snd_seq_set_client_name(s, "vm test probe");
        return s;
    }();
    if (!seq) return false;
    snd_seq_client_info_t* client;
    snd_seq_port_info_t* port;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq, client) >= 0) {
        snd_seq_port_info_set_client(port, snd_seq_client_info_get_client(client));
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq, port) >= 0)
            if (name == snd_seq_port_info_get_name(port)) return true;
    }
    return false;
}

std::string Status(quillet::Window1& w) {
    return w.ControlAs<fw::StaticText>("Warnings")->Text();
}
bool WatchRunning(quillet::Window1& w) {
    return w.ControlAs<fw::Timer>("Timer1")->Enabled();
}
int32_t ListIndex(quillet::Window1& w) {
    return w.ControlAs<fw::PopupMenu>("InstrumentsList")->ListIndex();
}

// The start of each tick of the window's keyboard watch, and the tick that connected.
struct Ticks {
    std::vector<Clock::time_point> starts;
    std::optional<Clock::time_point> connected;  // start of the tick that stopped the watch

    void Watch(quillet::Window1& w) {
        auto timer = w.ControlAs<fw::Timer>("Timer1");
        timer->Action = [this, &w, action = timer->Action] {
            Clock::time_point start = Clock::now();
            starts.push_back(start);
            action();
            if (!connected && !WatchRunning(w)) connected = start;
        };
    }
};

// Builds the main window with the chosen audio back-end, its ALSA MIDI input, and keeps
// what it says in message boxes.
struct Quillet {
    explicit Quillet(const std::string& audio) {
        mbs::testing::ForceMidiBackend("alsa");
        mbs::testing::ForceAudioBackend(audio);
        mbs::LoadMidiComponent();
        // The input port's Read handler traces every packet; 50 notes would bury the timings.
        mbs::DebugMessageEnableMBS(false);
        fw::testing::SetMsgBoxHook([this](const std::string& m) { messages.push_back(m); });
        fw::testing::SetUnhandledExceptionHook(
            [this](const std::string& cls, const std::string& m) {
                unhandled.push_back(cls + ": " + m);
            });
        fw::Application::Register(fw::New<quillet::QuilletFree>());
        Clock::time_point start = Clock::now();
        window = quillet::shared::Window1();
        ticks.Watch(*window);
        Timing("window built (" + audio + " audio, SoundFont loaded)",
               Seconds(Clock::now() - start));
    }
    ~Quillet() {
        window = nullptr;
        for (auto& w : fw::Window::OpenWindows()) w->TryClose(true);
        QCoreApplication::processEvents();
        fw::testing::ResetQuit();
        fw::testing::SetMsgBoxHook(nullptr);
        fw::testing::SetUnhandledExceptionHook(nullptr);
        fw::Application::Register(nullptr);
    }

    fw::Ref<quillet::Window1> window;
    Ticks ticks;
    std::vector<std::string> messages;
    std::vector<std::string> unhandled;
};

// One window for the four scenarios of the ALSA path, in order: each goes on from where the
// one before left the keyboards and the window.
class AlsaWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!WhyNotHere().empty()) return;
        // Every gadget exists (bound, not plugged in) before the window is built: creating
        // one gives its gadget side a sequencer client for a moment, which a tick would take
        // for a keyboard.
        gadgetsReady = Qvm("qvm_gadget_rawmidi keys && qvm_gadget_rawmidi second", 20).status == 0;
    }
    static void TearDownTestSuite() { quillet.reset(); }

    void SetUp() override {
        if (std::string why = WhyNotHere(); !why.empty()) GTEST_SKIP() << why;
        ASSERT_TRUE(gadgetsReady) << "the gadgets \"keys\" and \"second\" were not created before "
                                     "the window (scenarios/quillet-alsa.sh does that)";
    }

    // The window, or a failure when the first scenario did not build it.
    static quillet::Window1* W() { return quillet ? quillet->window.Get() : nullptr; }

    static inline bool gadgetsReady = false;
    static inline std::unique_ptr<Quillet> quillet;
};

TEST_F(AlsaWindow, Scenario1_NoKeyboardFoundAndNothingSubscribed) {
    quillet = std::make_unique<Quillet>("driver");
    quillet::Window1& w = *quillet->window;
    Ticks& ticks = quillet->ticks;
    ASSERT_TRUE(WaitFor([&] { return ticks.starts.size() >= 2; }, 10000))
        << "the watch did not tick";
    EXPECT_EQ(Status(w), "No keyboard found");
    EXPECT_TRUE(WatchRunning(w));
    EXPECT_TRUE(w.sources.empty());
    // "Midi Through" is there, and neither it nor a System port is taken for a keyboard.
    EXPECT_EQ(Qvm("qvm_seq_has_port 'Midi Through Port-0'", 20).status, 0);
    EXPECT_EQ(SendersToVelunorPort(), std::vector<std::string>{});
    EXPECT_TRUE(quillet->messages.empty()) << quillet->messages.front();
}

TEST_F(AlsaWindow, Scenario2_PluggingTheKeyboardInConnectsItAtTheNextTick) {
    ASSERT_TRUE(W()) << "scenario 1 did not build the window";
    quillet::Window1& w = *W();
    Ticks& ticks = quillet->ticks;
    ASSERT_TRUE(WatchRunning(w));

    // Plugged in as a cable would be; the sequencer is watched from here for the port.
    Clock::time_point plugged = Clock::now();
    ASSERT_EQ(Qvm("qvm_gadget_connect keys", 20).status, 0);
    ASSERT_TRUE(WaitFor([] { return SequencerHasPort(kKeysPort); }, 30000))
        << "the keyboard's port did not appear";
    Clock::time_point listed = Clock::now();
    ASSERT_TRUE(WaitFor([&] { return Status(w) == kKeysPort; }, 10000))
        << "the status line still reads \"" << Status(w) << "\"";
    Clock::time_point shown = Clock::now();
    ASSERT_TRUE(ticks.connected) << "the name is shown but the watch runs on";
    Timing("plug keys to its port listed", Seconds(listed - plugged));
    Timing("keys listed to its name shown", Seconds(shown - listed));
    Timing("tick that connected to its name shown", Seconds(shown - *ticks.connected));

    // The tick that connected was the first after the port was listed, or an earlier one
    // that saw it first.
    for (Clock::time_point t : ticks.starts)
        EXPECT_FALSE(t > listed && t < *ticks.connected)
            << "a tick " << Seconds(t - listed) << " s after the port was listed missed it";
    EXPECT_LE(Seconds(shown - *ticks.connected), 1.5);
    EXPECT_FALSE(WatchRunning(w));
    EXPECT_EQ(w.sources.size(), 1u);
    EXPECT_EQ(SendersToVelunorPort(), std::vector<std::string>{kKeysPort});
    EXPECT_TRUE(quillet->messages.empty()) << quillet->messages.front();
}

TEST_F(AlsaWindow, Scenario3_NotesFromTheKeyboardSoundAtTheirPitch) {
    ASSERT_TRUE(W() && quillet->ticks.connected) << "scenario 2 did not connect the keyboard";
    struct Note {
        int number;
        double hz;
    };
    for (Note note : {Note{57, 220.0}, Note{69, 440.0}, Note{76, 659.26}}) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", note.number);
        std::string wav = "\"$QVM_OUT/note-" + std::to_string(note.number) + ".wav\"";
        // The recording starts before the note, so that it shows the silence before it; the
        // capture position when the bytes leave the keyboard gives the delay.
        Shell s = Qvm("rec=" + wav + "; qvm_record_start \"$rec\"; qvm_record_wait_for 0.5;" +
                          " sent=$(qvm_capture_frames); qvm_gadget_send keys '90 " + hex +
                          " 64'; qvm_record_wait_for 1.0; qvm_gadget_send keys '80 " + hex +
                          " 00'; qvm_record_stop 0.3; qvm_analyze \"$rec\"; echo sent_s=$(awk -v " +
                          "f=\"$sent\" 'BEGIN { printf \"%.6f\", f / 48000 }')",
                      60);
        ASSERT_EQ(s.status, 0) << "recording note " << note.number << " failed";
        std::map<std::string, std::string> v;
        for (const std::string& line : Lines(s.output))
            if (auto eq = line.find('='); eq != std::string::npos)
                v[line.substr(0, eq)] = line.substr(eq + 1);
        ASSERT_NE(v["onset_s"], "") << s.output;
        ASSERT_NE(v["onset_s"], "none") << "note " << note.number << ": no sound";
        double onset = std::stod(v["onset_s"]), sent = std::stod(v["sent_s"]);
        double before = std::stod(v["pre_onset_rms_dbfs"]);
        Timing("note " + std::to_string(note.number) + " written to sound out", onset - sent);
        EXPECT_GE(onset, sent) << "note " << note.number << ": sound before the note was written";
        EXPECT_LT(before, -60.0) << "note " << note.number << ": no silence before it";
        ASSERT_NE(v["pitch_hz"], "none") << "note " << note.number << ": no pitch";
        double pitch = std::stod(v["pitch_hz"]);
        // Half a semitone either way: the SoundFont's samples are not tuned to the cent.
        EXPECT_GT(pitch, note.hz * 0.9715) << "note " << note.number;
        EXPECT_LT(pitch, note.hz * 1.0293) << "note " << note.number;
    }
    EXPECT_TRUE(quillet->messages.empty()) << quillet->messages.front();
}

TEST_F(AlsaWindow, Scenario4_ALateKeyboardIsIgnoredAndUnpluggingLeavesTheWindowWorking) {
    ASSERT_TRUE(W() && quillet->ticks.connected) << "scenario 2 did not connect the keyboard";
    quillet::Window1& w = *W();
    size_t ticks = quillet->ticks.starts.size();

    ASSERT_EQ(Qvm("qvm_gadget_plug second", 60).status, 0) << "the second keyboard did not appear";
    // Two periods of the watch: it would have connected the second keyboard by then.
    EXPECT_FALSE(WaitFor([&] { return quillet->ticks.starts.size() > ticks; }, 2500))
        << "the watch ticked again";
    EXPECT_EQ(SendersToVelunorPort(), std::vector<std::string>{kKeysPort});
    EXPECT_EQ(w.sources.size(), 1u);
    EXPECT_EQ(Status(w), kKeysPort);

    ASSERT_EQ(Qvm("qvm_gadget_unplug keys", 60).status, 0) << "the keyboard's port did not go";
    EXPECT_FALSE(WaitFor([&] { return !quillet->messages.empty(); }, 1500))
        << quillet->messages.front();
    EXPECT_EQ(SendersToVelunorPort(), std::vector<std::string>{});

    // A real key press still moves the list's selection.
    QMainWindow* native = fw::NativeWindowOf(w);
    int32_t before = ListIndex(w);
    ASSERT_GE(before, 0);
    Clock::time_point pressed = Clock::now();
    QTest::keyPress(native, Qt::Key_Down);
    QTest::keyRelease(native, Qt::Key_Down);
    ASSERT_TRUE(WaitFor([&] { return ListIndex(w) == before + 1; }, 2000))
        << "the list did not move: " << ListIndex(w);
    Timing("key press after unplugging to the list moved", Seconds(Clock::now() - pressed));
    EXPECT_EQ(Status(w), kKeysPort);
    EXPECT_TRUE(quillet->messages.empty()) << quillet->messages.front();
    EXPECT_TRUE(quillet->unhandled.empty()) << quillet->unhandled.front();
}

// ALSA MIDI input with the JACK audio back-end: scenarios/quillet-alsa.sh starts a JACK server
// with its dummy driver before running this suite.
class AlsaJack : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string why = WhyNotHere(); !why.empty()) GTEST_SKIP() << why;
    }
};

// Peak of both channels over [from, to) of a recording.
float PeakBetween(const jackrig::Recorder& rec, long from, long to) {
    return std::max(jackrig::Peak(rec.Channel(0), from, to),
                    jackrig::Peak(rec.Channel(1), from, to));
}

TEST_F(AlsaJack, Scenario5_NotesSoundWithJackAudioAndTheirOnsetSpreadIsMeasured) {
    auto probe = jackrig::OpenClient("vm-probe");
    ASSERT_TRUE(probe)
        << "no JACK server (scenarios/quillet-alsa.sh starts one with qvm_jack_start)";
    probe.reset();
    // Scenario 4 left the second keyboard plugged in; this one plays the first alone.
    if (SequencerHasPort(kSecondPort)) {
        ASSERT_EQ(Qvm("qvm_gadget_unplug second", 60).status, 0)
            << "the second keyboard did not go";
    }
    if (!SequencerHasPort(kKeysPort)) {
        ASSERT_EQ(Qvm("qvm_gadget_plug keys", 60).status, 0)
            << "the keyboard's port did not appear";
    }
    Shell raw = Qvm("qvm_gadget_rawmidi keys", 20);
    ASSERT_EQ(raw.status, 0);
    ASSERT_FALSE(Lines(raw.output).empty());
    std::string rawmidi = Lines(raw.output).front();

    Quillet q("jack");
    quillet::Window1& w = *q.window;
    ASSERT_TRUE(WaitFor([&] { return q.ticks.connected.has_value(); }, 10000))
        << "the keyboard was not connected: " << Status(w);
    EXPECT_EQ(Status(w), kKeysPort);
    EXPECT_EQ(SendersToVelunorPort(), std::vector<std::string>{kKeysPort});

    const unsigned rate = 48000;
    jackrig::Recorder rec("vm-recorder", 120, rate);
    ASSERT_TRUE(rec.Client());
    ASSERT_TRUE(rec.ConnectFrom("Velunor:out_1", "Velunor:out_2"))
        << "cannot connect the recorder to Velunor's outputs";
    ASSERT_TRUE(rec.WaitStarted(std::chrono::seconds(10)));

    // The keyboard's side of the gadget: bytes written here are keys struck.
    struct Device {
        int fd;
        ~Device() {
            if (fd >= 0) close(fd);
        }
    } keys{open(rawmidi.c_str(), O_WRONLY | O_CLOEXEC)};
    ASSERT_GE(keys.fd, 0) << "cannot open " << rawmidi;
    auto send = [&](std::vector<uint8_t> bytes) {
        return write(keys.fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    };

    const float heard = 0.01f;   // -40 dBFS
    const float quiet = 0.002f;  // -54 dBFS
    const long quietFrames = rate / 20;
    // Whether the last 50 ms recorded are quiet, so that the next onset stands out.
    auto quietNow = [&] {
        long end = static_cast<long>(rec.Recorded());
        return end >= quietFrames && PeakBetween(rec, end - quietFrames, end) < quiet;
    };
    std::vector<double> latencies;
    const int kNotes = 50;
    for (int i = 0; i < kNotes; ++i) {
        ASSERT_TRUE(jackrig::WaitUntil(quietNow, std::chrono::seconds(5)))
            << "note " << i << ": the sound before it did not die away";
        auto note = static_cast<uint8_t>(57 + i % 20);
        jack_nframes_t written = jack_frame_time(rec.Client());
        ASSERT_TRUE(send({0x90, note, 100}));
        long from = rec.IndexOf(written);
        long onset = -1;
        jackrig::WaitUntil(
            [&] {
                onset = jackrig::FirstAbove(rec.Channel(0), from, static_cast<long>(rec.Recorded()),
                                            heard);
                if (onset < 0)
                    onset = jackrig::FirstAbove(rec.Channel(1), from,
                                                static_cast<long>(rec.Recorded()), heard);
                return onset >= 0;
            },
            std::chrono::seconds(5));
        ASSERT_TRUE(send({0x80, note, 0}));
        ASSERT_GE(onset, 0) << "note " << i << " (" << int(note) << ") did not sound";
        latencies.push_back(double(onset - from) / rate);
    }

    auto [low, high] = std::minmax_element(latencies.begin(), latencies.end());
    double mean = 0;
    for (double l : latencies) mean += l;
    mean /= double(latencies.size());
    Timing("50 notes with JACK audio: written to sound out, shortest", *low);
    Timing("50 notes with JACK audio: written to sound out, mean", mean);
    Timing("50 notes with JACK audio: written to sound out, longest", *high);
    Timing("50 notes with JACK audio: onset spread (longest - shortest)", *high - *low);
    EXPECT_EQ(latencies.size(), size_t(kNotes));
    EXPECT_TRUE(q.messages.empty()) << q.messages.front();
}

}  // namespace
