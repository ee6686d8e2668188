// The demo's keyboard: waits for Quillet's MIDI port, appears a second later as a JACK MIDI
// keyboard, waits to be connected, plays a short phrase and goes.
//
// Usage: demo_keyboard [name]

#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "jack_rig.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kInputPort = "Velunor:VelunorPort";

struct Note {
    double beat;
    double length;
    int key;
    int velocity;
};

// A short tune in D major over a held chord, at 120 beats a minute.
const std::vector<Note> kPhrase = {
    {0.0, 0.9, 62, 96},  {1.0, 0.9, 66, 90},  {2.0, 0.9, 69, 96},  {3.0, 0.9, 74, 104},
    {4.0, 0.45, 73, 92}, {4.5, 0.45, 71, 88}, {5.0, 0.9, 69, 96},  {6.0, 0.9, 66, 90},
    {7.0, 1.8, 67, 96},  {9.0, 0.45, 66, 88}, {9.5, 0.45, 64, 84}, {10.0, 3.5, 62, 100},
    {0.0, 3.8, 50, 70},  {4.0, 3.8, 55, 70},  {7.0, 2.8, 52, 70},  {10.0, 3.5, 45, 74},
    {10.0, 3.5, 57, 70},
};
constexpr double kSecondsPerBeat = 0.5;

}  // namespace

int main(int argc, char** argv) {
    const std::string name = argc > 1 ? argv[1] : "Demo Keys";
    auto watch = jackrig::OpenClient("demo-watch");
    if (!watch) {
        std::fprintf(stderr, "demo_keyboard: no JACK server\n");
        return 1;
    }
    if (!jackrig::WaitUntil([&] { return jackrig::PortExists(watch.get(), kInputPort); }, 60s,
                            50ms)) {
        std::fprintf(stderr, "demo_keyboard: %s did not appear\n", kInputPort);
        return 1;
    }
    const jack_nframes_t rate = jack_get_sample_rate(watch.get());
    const jack_nframes_t appeared = jack_frame_time(watch.get());
    // A second after Quillet, counted in JACK's frames.
    jackrig::WaitUntil(
        [&] {
            return static_cast<int32_t>(jack_frame_time(watch.get()) - appeared) >= int32_t(rate);
        },
        5s, 10ms);

    jackrig::Keyboard keys(name);
    if (!keys.Client()) {
        std::fprintf(stderr, "demo_keyboard: could not open the keyboard's client\n");
        return 1;
    }
    keys.SetPrettyName(name);
    std::printf("keyboard %s plugged in\n", name.c_str());
    std::fflush(stdout);
    const auto plugged = std::chrono::steady_clock::now();
    if (!jackrig::WaitUntil(
            [&] { return jackrig::Connected(watch.get(), keys.PortName(), kInputPort); }, 10s,
            5ms)) {
        std::fprintf(stderr, "demo_keyboard: Quillet did not connect the keyboard\n");
        return 1;
    }
    std::printf("connected after %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - plugged)
                                           .count()));
    std::fflush(stdout);

    // Every note-on and note-off at its frame, grouped by frame.
    const jack_nframes_t start = keys.Now() + rate / 2;
    std::map<jack_nframes_t, std::vector<std::vector<std::uint8_t>>> events;
    for (const Note& n : kPhrase) {
        const auto at = [&](double beat) {
            return start + static_cast<jack_nframes_t>(beat * kSecondsPerBeat * rate);
        };
        events[at(n.beat)].push_back(
            {0x90, static_cast<std::uint8_t>(n.key), static_cast<std::uint8_t>(n.velocity)});
        events[at(n.beat + n.length)].push_back({0x80, static_cast<std::uint8_t>(n.key), 0});
    }
    std::size_t last = 0;
    for (auto& [frame, messages] : events) {
        std::vector<jackrig::Keyboard::Event> group;
        for (auto& m : messages) group.push_back({0, std::move(m)});
        last = keys.SendInCycle(frame, std::move(group));
    }
    if (!keys.WaitSent(last, 60s)) {
        std::fprintf(stderr, "demo_keyboard: the phrase did not go out\n");
        return 1;
    }
    std::printf("phrase played\n");
    return 0;
}
