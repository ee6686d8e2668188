// Quillet as its own process on a private JACK server, a display and a session bus: a keyboard
// that appears after start-up is connected and named on the status line as a screen reader reads
// it, and what it plays after malformed MIDI comes out at its frame and pitch.

#include <gtest/gtest.h>

#include <optional>

#include "tests/jack/jack_rig.h"
#include "tests/support/sound.h"

namespace {

using namespace std::chrono_literals;

// The status line as tests/jack/read_status.py reads it through AT-SPI.
std::string ReadStatus(const std::string& dir) {
    jackrig::Child reader({"/usr/bin/python3", READ_STATUS_SCRIPT}, dir + "/status.log");
    WaitUntil([&] { return !reader.Running(); }, 10s);
    return reader.Log();
}

TEST(QuilletOverJack, ConnectsNamesAndPlaysAKeyboardPluggedInLater) {
    jackrig::Server server(256);
    ASSERT_TRUE(server.Ready()) << server.Log();
    const std::string dir = server.Dir();
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);  // for all that follows, the accessibility bus too
    jackrig::Child bus({"dbus-daemon", "--session", "--nofork", "--nopidfile",
                        "--address=unix:path=" + dir + "/bus"},
                       dir + "/dbus.log");
    jackrig::Child xvfb(
        {"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "640x400x24"},
        dir + "/xvfb.log");
    std::string display;
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::istringstream lines(xvfb.Log());
            for (std::string line; std::getline(lines, line);)
                if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos)
                    display = ":" + line;
            return !display.empty() && std::filesystem::exists(dir + "/bus");
        },
        10s, 20ms))
        << "Xvfb and dbus-daemon (xvfb, dbus) did not start:\n"
        << xvfb.Log() << bus.Log();
    setenv("DISPLAY", display.c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir + "/bus").c_str(), 1);

    // libxkbcommon-x11 strndup()s key names that are not NUL-terminated, which is allowed but
    // what AddressSanitizer's strict string checks report.
    const char* asan = std::getenv("ASAN_OPTIONS");
    jackrig::Child quillet(
        {"env", "QT_QPA_PLATFORM=xcb", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1", "QUILLET_MIDI=jack",
         "QUILLET_AUDIO=jack",
         std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":strict_string_checks=0",
         QUILLET_EXECUTABLE},
        dir + "/quillet.log");
    jackrig::ClientPtr checker = jackrig::OpenClient("checker");
    const auto connected = [&](const std::string& from, const char* to) {
        jack_port_t* port = jack_port_by_name(checker.get(), from.c_str());
        return port && jack_port_connected_to(port, to);
    };
    ASSERT_TRUE(WaitUntil([&] { return connected("Velunor:out_2", "system:playback_2"); }, 30s))
        << quillet.Log();
    EXPECT_TRUE(connected("Velunor:out_1", "system:playback_1"));
    std::optional<jackrig::Recorder> recorder;
    recorder.emplace("recorder", 20, server.Rate());
    ASSERT_TRUE(recorder->ConnectFrom("Velunor:out_1", "Velunor:out_2"));
    std::string status;
    const auto statusIs = [&](const std::string& text) {
        return WaitUntil([&] { return (status = ReadStatus(dir)) == text; }, 10s, 50ms);
    };
    EXPECT_TRUE(statusIs("No keyboard found")) << status;  // the watch has looked once

    // A keyboard behind a bridge, whose port's name names it from the moment it exists.
    std::optional<jackrig::Keyboard> keys;
    const auto plug = [&] { keys.emplace("Midi-Bridge", "Keystation 49 MIDI 1 (capture)"); };
    const auto plugged = [&] { return connected(keys->PortName(), "Velunor:VelunorPort"); };
    plug();
    EXPECT_TRUE(WaitUntil(plugged, 1500ms, 2ms)) << "not connected within 1.5 s";
    ASSERT_TRUE(WaitUntil(plugged, 5s));
    EXPECT_TRUE(statusIs("Keystation 49 MIDI 1")) << status;

    // Malformed MIDI: stray data bytes, a truncated note, undefined status bytes, an unended
    // SysEx, a lone status, an over-long SysEx. None of it sounds, and the note after it does.
    std::vector<std::uint8_t> longSysEx(3000, 0x10);
    longSysEx[0] = 0xF0;
    longSysEx.push_back(0xF7);
    const std::vector<std::vector<std::uint8_t>> junk = {
        {0x40, 0x40}, {0x90, 0x3C}, {0xF5},       {0xF4, 0x10},      {0xF0, 0x7E, 0x09},
        {0xC0},       longSysEx,    {0xB0, 0x07}, {0xF9, 0xFD, 0xF6}};
    std::vector<jackrig::Keyboard::Event> events;
    for (const auto& bytes : junk) events.push_back({0, bytes});
    keys->Send(events);
    const jack_nframes_t cycle = keys->Send({{163, {0x90, 69, 100}}});
    const long event = recorder->IndexOf(cycle + 163);
    ASSERT_TRUE(recorder->WaitRecordedUntil(cycle + server.Rate() / 2, 10s));
    const auto left = recorder->Channel(0), right = recorder->Channel(1);
    EXPECT_EQ(std::max(Peak(left, 0, event), Peak(right, 0, event)), 0.0f) << "sound before";
    const long onset = FirstAbove(left, event, event + server.Rate(), 0.0f);
    ASSERT_GE(onset, 0) << "the note did not sound\n" << quillet.Log();
    EXPECT_LT(onset - event, 64) << "later than one synthesizer block";
    EXPECT_TRUE(AtPitch(left.subspan(std::size_t(onset) + 4800, 8192), server.Rate(), 69));

    // The keyboard unplugged and plugged in again is connected again, the watch long stopped.
    keys.reset();
    plug();
    EXPECT_TRUE(WaitUntil(plugged, 1500ms, 2ms)) << "not connected again within 1.5 s";

    // The server goes and comes back: Quillet lives on, within 2 s its client is back with its
    // outputs connected, and the keyboard that comes back plays its note.
    keys.reset();
    recorder.reset();
    checker.reset();
    server.Stop();
    ASSERT_TRUE(
        WaitUntil([&] { return quillet.Log().find("server went away") != std::string::npos; }, 5s));
    ASSERT_TRUE(server.Start()) << server.Log();
    checker = jackrig::OpenClient("checker");
    EXPECT_TRUE(WaitUntil([&] { return connected("Velunor:out_2", "system:playback_2"); }, 2s));
    ASSERT_TRUE(WaitUntil([&] { return connected("Velunor:out_1", "system:playback_1"); }, 5s))
        << quillet.Log();
    recorder.emplace("recorder", 5, server.Rate());
    ASSERT_TRUE(recorder->ConnectFrom("Velunor:out_1", "Velunor:out_2"));
    plug();
    ASSERT_TRUE(WaitUntil(plugged, 1500ms, 2ms)) << quillet.Log();
    const jack_nframes_t again = keys->Send({{0, {0x90, 64, 100}}});
    ASSERT_TRUE(recorder->WaitRecordedUntil(again + server.Rate() / 2, 10s));
    const long at = recorder->IndexOf(again);
    const long heard = FirstAbove(recorder->Channel(0), at, at + server.Rate(), jackrig::kHeard);
    ASSERT_GE(heard, 0) << "no sound after the server came back\n" << quillet.Log();
    EXPECT_TRUE(
        AtPitch(recorder->Channel(0).subspan(std::size_t(heard) + 4800, 8192), server.Rate(), 64));
    EXPECT_NE(quillet.Log().find("reattached"), std::string::npos);
}

}  // namespace
