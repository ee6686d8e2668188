// The demo's recorder: records Quillet's two audio outputs until told to stop (SIGINT or
// SIGTERM) or for at most the given time, then writes them to a WAV file.
//
// Usage: demo_recorder out.wav [max-seconds]

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "jack_rig.h"

int main(int argc, char** argv) {
    using namespace std::chrono_literals;
    if (argc < 2) {
        std::fprintf(stderr, "usage: demo_recorder out.wav [max-seconds]\n");
        return 2;
    }
    const std::string path = argv[1];
    const double seconds = argc > 2 ? std::atof(argv[2]) : 60.0;

    // The stop signals are taken by sigtimedwait below, not by a handler.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    auto watch = jackrig::OpenClient("demo-recorder-watch");
    if (!watch) {
        std::fprintf(stderr, "demo_recorder: no JACK server\n");
        return 1;
    }
    if (!jackrig::WaitUntil(
            [&] {
                return jackrig::PortExists(watch.get(), "Velunor:out_1") &&
                       jackrig::PortExists(watch.get(), "Velunor:out_2");
            },
            60s, 50ms)) {
        std::fprintf(stderr, "demo_recorder: Quillet's audio ports did not appear\n");
        return 1;
    }
    const unsigned rate = jack_get_sample_rate(watch.get());
    watch.reset();
    jackrig::Recorder recorder("demo-recorder", seconds, rate);
    if (!recorder.Client() || !recorder.ConnectFrom("Velunor:out_1", "Velunor:out_2")) {
        std::fprintf(stderr, "demo_recorder: could not connect to Quillet's outputs\n");
        return 1;
    }
    std::printf("recording\n");
    std::fflush(stdout);
    timespec limit{static_cast<time_t>(seconds), 0};
    sigtimedwait(&stop, nullptr, &limit);

    // Recording goes on in JACK's thread; what is there now is written.
    const auto left = recorder.Channel(0);
    const auto right = recorder.Channel(1).first(left.size());
    if (!jackrig::WriteWav(path, left, right, rate)) {
        std::fprintf(stderr, "demo_recorder: could not write %s\n", path.c_str());
        return 1;
    }
    std::printf("wrote %.1f s to %s\n", static_cast<double>(left.size()) / rate, path.c_str());
    return 0;
}
