// Quillet as its own process on a private JACK server with the dummy driver: a keyboard
// that appears after start-up is connected by the program's watch, and what it plays comes
// out of Quillet's audio ports at the right frames and pitch.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>

#include "jack_rig.h"

namespace {

using namespace std::chrono_literals;
using jackrig::Keyboard;
using Bytes = std::vector<std::uint8_t>;

constexpr long kBlock = 64;
constexpr const char* kInputPort = "Velunor:VelunorPort";

class QuilletOverJack : public ::testing::Test {
protected:
    void TearDown() override {
        keyboard_.reset();
        recorder_.reset();
        checker_.reset();
        if (quillet_ && ::testing::Test::HasFailure())
            std::fprintf(stderr, "--- Quillet's output ---\n%s\n", quillet_->Log().c_str());
        quillet_.reset();
        while (!desktop_.empty()) desktop_.pop_back();
        server_.reset();
    }

    // Starts a server and Quillet on it, and waits until Quillet's ports are there.
    void Launch(unsigned period, std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen"}) {
        server_ = std::make_unique<jackrig::Server>(period);
        ASSERT_TRUE(server_->Ready()) << "jackd (package jackd2) did not start:\n"
                                      << server_->Log();
        const std::string runtime = server_->Dir() + "/runtime";
        ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
        env.insert(env.end(), {"XDG_RUNTIME_DIR=" + runtime,
                               "JACK_DEFAULT_SERVER=" + server_->Name(), "QUILLET_MIDI=jack"});
        quillet_ =
            std::make_unique<jackrig::Child>(std::vector<std::string>{QUILLET_EXECUTABLE},
                                             std::move(env), server_->Dir() + "/quillet.log");
        ASSERT_TRUE(quillet_->Started());
        checker_ = jackrig::OpenClient("checker");
        ASSERT_NE(checker_, nullptr);
        ASSERT_TRUE(jackrig::WaitUntil(
            [&] {
                return !quillet_->Running() ||
                       (jackrig::PortExists(checker_.get(), kInputPort) &&
                        jackrig::PortExists(checker_.get(), "Velunor:out_1") &&
                        jackrig::PortExists(checker_.get(), "Velunor:out_2"));
            },
            30s, 20ms));
        ASSERT_TRUE(quillet_->Running()) << "Quillet ended:\n" << quillet_->Log();
        recorder_ = std::make_unique<jackrig::Recorder>("recorder", 20.0, server_->Rate());
        ASSERT_TRUE(recorder_->ConnectFrom("Velunor:out_1", "Velunor:out_2"));
        ASSERT_TRUE(recorder_->WaitStarted(5s));
    }

    // Plugs a keyboard in and waits for Quillet's watch to connect it; returns how long that
    // took.
    std::chrono::milliseconds PlugInKeyboard(const std::string& prettyName = {}) {
        const auto plugged = std::chrono::steady_clock::now();
        keyboard_ = std::make_unique<Keyboard>("Test Keys");
        EXPECT_NE(keyboard_->Client(), nullptr);
        if (!prettyName.empty()) keyboard_->SetPrettyName(prettyName);
        jackrig::WaitUntil(
            [&] { return jackrig::Connected(checker_.get(), keyboard_->PortName(), kInputPort); },
            5s, 2ms);
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - plugged);
    }

    jack_nframes_t Send(std::vector<Keyboard::Event> events) {
        const std::size_t group =
            keyboard_->SendInCycle(keyboard_->Now() + server_->Rate() / 4, std::move(events));
        EXPECT_TRUE(keyboard_->WaitSent(group, 5s));
        return keyboard_->SentCycle(group).value_or(0);
    }

    long FirstSound(long from, long to) const {
        const long l = jackrig::FirstAbove(recorder_->Channel(0), from, to, 0.0f);
        const long r = jackrig::FirstAbove(recorder_->Channel(1), from, to, 0.0f);
        return l < 0 ? r : (r < 0 ? l : std::min(l, r));
    }

    std::unique_ptr<jackrig::Server> server_;
    std::vector<std::unique_ptr<jackrig::Child>> desktop_;
    std::unique_ptr<jackrig::Child> quillet_;
    jackrig::ClientPtr checker_;
    std::unique_ptr<jackrig::Recorder> recorder_;
    std::unique_ptr<Keyboard> keyboard_;
};

TEST_F(QuilletOverJack, AKeyboardPluggedInLaterIsConnectedAndPlaysOnTime) {
    ASSERT_NO_FATAL_FAILURE(Launch(256));
    EXPECT_TRUE(jackrig::Connected(checker_.get(), "Velunor:out_1", "system:playback_1"));
    EXPECT_TRUE(jackrig::Connected(checker_.get(), "Velunor:out_2", "system:playback_2"));

    const auto took = PlugInKeyboard();
    ASSERT_TRUE(jackrig::Connected(checker_.get(), keyboard_->PortName(), kInputPort))
        << "the keyboard was not connected";
    std::printf("keyboard connected %lld ms after it appeared\n",
                static_cast<long long>(took.count()));
    EXPECT_LE(took, 1500ms);

    // Malformed MIDI first: it must neither sound nor stop what follows.
    Bytes longSysEx{0xF0, 0x43};
    longSysEx.resize(3000, 0x10);
    longSysEx.push_back(0xF7);
    const jack_nframes_t junk = Send({{0, {0x40, 0x40}},
                                      {0, {0x90, 0x3C}},
                                      {0, {0xF5}},
                                      {0, {0xF4, 0x10}},
                                      {0, {0xF0, 0x7E, 0x09}},
                                      {0, {0xC0}},
                                      {1, longSysEx},
                                      {2, {0xB0, 0x07}},
                                      {3, {0xF9, 0xFD, 0xF6}}});

    const jack_nframes_t offset = 163;
    const jack_nframes_t cycle = Send({{offset, {0x90, 69, 100}}});
    const long event = recorder_->IndexOf(cycle + offset);
    ASSERT_TRUE(recorder_->WaitRecordedUntil(cycle + offset + server_->Rate(), 10s));

    EXPECT_EQ(std::max(jackrig::Peak(recorder_->Channel(0), 0, event),
                       jackrig::Peak(recorder_->Channel(1), 0, event)),
              0.0f)
        << "sound before the note";
    const long onset = FirstSound(event, event + server_->Rate());
    ASSERT_GE(onset, 0) << "the note did not sound";
    std::printf("period 256: note-on at offset %u sounds %ld frames after its frame\n", offset,
                onset - event);
    EXPECT_GE(onset - event, 0);
    EXPECT_LT(onset - event, kBlock);
    const auto sound = recorder_->Channel(0).subspan(static_cast<std::size_t>(onset + 4800), 8192);
    EXPECT_NEAR(jackrig::EstimateFrequency(sound, server_->Rate()), 440.0, 440.0 * 0.02);
    EXPECT_GE(recorder_->IndexOf(junk), 0);
    EXPECT_TRUE(quillet_->Running());
}

TEST_F(QuilletOverJack, TwoNotesOfOneLongCycleStartAboutEightHundredFramesApart) {
    ASSERT_NO_FATAL_FAILURE(Launch(1024));
    PlugInKeyboard();
    ASSERT_TRUE(jackrig::Connected(checker_.get(), keyboard_->PortName(), kInputPort));

    // Channel 0 on the left output and channel 1 on the right, dry, so each note's start
    // can be seen on its own.
    std::vector<Keyboard::Event> setup;
    for (int ch = 0; ch < 2; ++ch)
        for (auto& bytes : jackrig::DryAndPanned(ch, ch == 0 ? -1 : 1))
            setup.push_back({0, std::move(bytes)});
    Send(std::move(setup));
    // Channel 1's first note loads its instrument; the measured notes come after that.
    const jack_nframes_t probe = Send({{0, {0x91, 60, 100}}});
    ASSERT_TRUE(recorder_->WaitRecordedUntil(probe + server_->Rate() / 2, 10s));
    ASSERT_GE(jackrig::FirstAbove(recorder_->Channel(1), recorder_->IndexOf(probe),
                                  recorder_->IndexOf(probe + server_->Rate() / 2), jackrig::kHeard),
              0)
        << "channel 1's instrument did not load";
    Send({{0, {0xB1, 120, 0}}});

    const jack_nframes_t cycle = Send({{100, {0x90, 69, 110}}, {900, {0x91, 81, 110}}});
    const long start = recorder_->IndexOf(cycle);
    const long first = recorder_->IndexOf(cycle + 100);
    const long second = recorder_->IndexOf(cycle + 900);
    ASSERT_TRUE(recorder_->WaitRecordedUntil(cycle + server_->Rate(), 10s));

    const long onsetFirst = jackrig::FirstAbove(recorder_->Channel(0), start, second + 1024, 0.0f);
    // A voice the probe used may be taken for the first note, whose gains glide from the
    // probe's over one block: the right side is looked at from two blocks after it.
    const long onsetSecond = jackrig::FirstAbove(recorder_->Channel(1), first + 2 * kBlock,
                                                 second + 1024, jackrig::kHeard);
    ASSERT_GE(onsetFirst, 0);
    ASSERT_GE(onsetSecond, 0);
    std::printf("period 1024, offsets 100 and 900: sound %ld and %ld frames after, %ld apart\n",
                onsetFirst - first, onsetSecond - second, onsetSecond - onsetFirst);
    EXPECT_GE(onsetFirst - first, 0);
    EXPECT_LT(onsetFirst - first, kBlock);
    EXPECT_GE(onsetSecond - second, 0);
    EXPECT_LT(onsetSecond - second, kBlock);
    EXPECT_NEAR(onsetSecond - onsetFirst, 800, kBlock);
    const auto high =
        recorder_->Channel(1).subspan(static_cast<std::size_t>(onsetSecond + 4800), 8192);
    EXPECT_NEAR(jackrig::EstimateFrequency(high, server_->Rate()), jackrig::NoteFrequency(81),
                jackrig::NoteFrequency(81) * 0.02);
}

// The status line read from outside, as a screen reader reads it: a display (Xvfb), a
// session bus with the accessibility bus on it, and tests/jack/read_status.py.
class QuilletForScreenReaders : public QuilletOverJack {
protected:
    void SetUp() override {
        char dir[] = "/tmp/quillet-desktop-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
    }
    void TearDown() override {
        QuilletOverJack::TearDown();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    // Starts a program of the desktop and waits until its log holds a line that `ready`
    // accepts; returns that line.
    std::string StartAndRead(std::vector<std::string> argv, std::vector<std::string> env,
                             const std::string& log,
                             const std::function<bool(const std::string&)>& ready) {
        desktop_.push_back(
            std::make_unique<jackrig::Child>(std::move(argv), std::move(env), dir_ + "/" + log));
        jackrig::Child& child = *desktop_.back();
        std::string found;
        jackrig::WaitUntil(
            [&] {
                std::istringstream lines(child.Log());
                for (std::string line; std::getline(lines, line);)
                    if (ready(line)) found = line;
                return !found.empty() || !child.Running();
            },
            10s, 20ms);
        EXPECT_FALSE(found.empty()) << argv[0] << " did not start:\n" << child.Log();
        return found;
    }

    // What read_status.py prints, or empty when it fails.
    std::string ReadStatus() {
        jackrig::Child reader({"/usr/bin/python3", READ_STATUS_SCRIPT}, env_, dir_ + "/status.log");
        if (!jackrig::WaitUntil([&] { return !reader.Running(); }, 10s, 10ms)) return {};
        if (reader.ExitCode() != 0) return {};
        std::string text = reader.Log();
        while (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }

    std::string dir_;
    std::vector<std::string> env_;
};

TEST_F(QuilletForScreenReaders, TheStatusLineNamesThePluggedInKeyboard) {
    for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/dbus-daemon",
                             "/usr/libexec/at-spi-bus-launcher", "/usr/bin/python3"})
        ASSERT_EQ(access(tool, X_OK), 0) << tool << " is missing (xvfb, dbus, at-spi2-core)";

    const std::string bus = StartAndRead(
        {"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"}, {},
        "dbus.log", [](const std::string& line) { return line.rfind("unix:", 0) == 0; });
    ASSERT_FALSE(bus.empty());
    env_.push_back("DBUS_SESSION_BUS_ADDRESS=" + bus);
    const std::string display = StartAndRead(
        {"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "640x400x24"}, {},
        "xvfb.log", [](const std::string& line) {
            return !line.empty() && line.find_first_not_of("0123456789") == std::string::npos;
        });
    ASSERT_FALSE(display.empty());
    env_.push_back("DISPLAY=:" + display);
    desktop_.push_back(std::make_unique<jackrig::Child>(
        std::vector<std::string>{"/usr/libexec/at-spi-bus-launcher", "--launch-immediately"}, env_,
        dir_ + "/a11y.log"));

    std::vector<std::string> env = env_;
    env.insert(env.end(), {"QT_QPA_PLATFORM=xcb", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1"});
    // libxkbcommon-x11 strndup()s key names that are not NUL-terminated, which is allowed
    // but what AddressSanitizer's strict string checks report.
    const char* asan = std::getenv("ASAN_OPTIONS");
    env.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":strict_string_checks=0");
    ASSERT_NO_FATAL_FAILURE(Launch(256, env));
    std::string status;
    EXPECT_TRUE(jackrig::WaitUntil([&] { return (status = ReadStatus()) == "No keyboard found"; },
                                   10s, 50ms))
        << "status: " << status << "\n"
        << desktop_.back()->Log();

    PlugInKeyboard("Keystation 49");
    ASSERT_TRUE(jackrig::Connected(checker_.get(), keyboard_->PortName(), kInputPort));
    EXPECT_TRUE(
        jackrig::WaitUntil([&] { return (status = ReadStatus()) == "Keystation 49"; }, 5s, 50ms))
        << "status: " << status;
}

}  // namespace
