// Key to sound through the kernel, in the benchmark's guest (alsa-guest.sh): plays a USB gadget
// keyboard by writing to its gadget side's rawmidi device, records the loopback card's capture
// side, and finds each note's onset in what came back. Event and onset are counted in frames of
// the capture: the loopback card moves its position once a jiffy, so the capture clock is the
// line through the upper edge of (monotonic time, frames captured) and each note-on is placed
// on it by the time it was written. Prints "alsa-bench: TARGET|metric|unit|value" lines.

#include <alsa/asoundlib.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "bench/percentile.h"
#include "tests/support/sound.h"

namespace {

using bench::Percentile;

constexpr unsigned kRate = 48000;
// -60 dBFS: above the dither of a 16-bit synthesizer's silence, reached within a frame or two
// of a piano's attack.
constexpr float kHeard = 1e-3f;

struct Options {
    std::string target = "Quillet";
    std::string path = "ALSA";
    std::string midi = "hw:Gkeys";
    std::string capture = "plughw:Loopback,1,0";
    int notes = 100;
    // Notes each right after a program change to an instrument not used before.
    int changes = 0;
    double stormSeconds = 0;
    int note = 60;
    int program = 0;
};

double Now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void SleepUntil(double when) {
    timespec t{};
    t.tv_sec = static_cast<time_t>(when);
    t.tv_nsec = static_cast<long>((when - static_cast<double>(t.tv_sec)) * 1e9);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
    }
}

void Row(const Options& o, const std::string& metric, const char* unit, double value) {
    std::printf("alsa-bench: %s|%s: %s|%s|%.2f\n", o.target.c_str(), o.path.c_str(), metric.c_str(),
                unit, value);
    std::fflush(stdout);
}

// The loopback card's capture side, read on a thread of its own: the loudest channel of each
// frame, and (time, frames captured by then) after each read. What is below Frames() is
// written and stays.
class Capture {
public:
    static constexpr long kMaxFrames = 400L * kRate;

    bool Open(const std::string& device) {
        if (snd_pcm_open(&pcm_, device.c_str(), SND_PCM_STREAM_CAPTURE, 0) < 0) return false;
        if (snd_pcm_set_params(pcm_, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 2, kRate,
                               1, 500000) < 0)
            return false;
        thread_ = std::thread([this] { Run(); });
        return true;
    }
    ~Capture() {
        Stop();
        if (pcm_) snd_pcm_close(pcm_);
    }
    void Stop() {
        stop_.store(true);
        if (thread_.joinable()) thread_.join();
    }
    long Frames() const { return frames_.load(); }
    bool Overrun() const { return overrun_.load(); }
    std::span<const float> Sound() const {
        return {sound_.data(), static_cast<std::size_t>(Frames())};
    }
    // The frame being captured at a monotonic time.
    double FrameAt(double when) const { return offset_ + kRate * when; }
    // After Stop: the capture clock from the readings, the line of slope kRate through their
    // upper edge; how far the readings fall below it at most (the loopback card's step).
    double Fit() {
        offset_ = -INFINITY;
        for (const auto& [t, pos] : readings_) offset_ = std::max(offset_, pos - kRate * t);
        double below = 0;
        for (const auto& [t, pos] : readings_) below = std::max(below, FrameAt(t) - pos);
        return below;
    }

private:
    void Run() {
        std::vector<std::int16_t> block(2 * 480);
        while (!stop_.load()) {
            const snd_pcm_sframes_t n = snd_pcm_readi(pcm_, block.data(), 480);
            if (n < 0) {
                if (n == -EPIPE) overrun_.store(true);
                if (snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0) return;
                continue;
            }
            const long at = frames_.load();
            if (at + n > kMaxFrames) return;
            for (snd_pcm_sframes_t i = 0; i < n; ++i) {
                const auto l = std::abs(static_cast<int>(block[2 * i]));
                const auto r = std::abs(static_cast<int>(block[2 * i + 1]));
                sound_[static_cast<std::size_t>(at + i)] =
                    static_cast<float>(std::max(l, r)) / 32768.0f;
            }
            frames_.store(at + n);
            const snd_pcm_sframes_t avail = snd_pcm_avail(pcm_);
            if (avail >= 0) readings_.push_back({Now(), static_cast<double>(at + n + avail)});
        }
    }

    snd_pcm_t* pcm_ = nullptr;
    std::vector<float> sound_ = std::vector<float>(kMaxFrames);
    std::vector<std::pair<double, double>> readings_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> overrun_{false};
    std::atomic<long> frames_{0};
    std::thread thread_;
    double offset_ = 0;
};

class Keyboard {
public:
    explicit Keyboard(const std::string& device) {
        if (snd_rawmidi_open(nullptr, &out_, device.c_str(), 0) < 0) out_ = nullptr;
    }
    ~Keyboard() {
        if (out_) snd_rawmidi_close(out_);
    }
    bool Ok() const { return out_ != nullptr; }
    // Writes the bytes; the time the write began.
    double Send(std::vector<std::uint8_t> bytes) {
        const double t = Now();
        if (snd_rawmidi_write(out_, bytes.data(), bytes.size()) < 0) return NAN;
        return t;
    }

private:
    snd_rawmidi_t* out_ = nullptr;
};

// The first sound at or after the event that follows 1 ms of silence (the cut before the note
// makes it), before `to`; -1 if none.
long Onset(std::span<const float> x, long from, long to) {
    const long quiet = kRate / 1000;
    long silent = 0;
    for (long i = std::max(from - quiet, 0L); i < std::min(to, static_cast<long>(x.size())); ++i) {
        if (x[static_cast<std::size_t>(i)] <= kHeard) {
            ++silent;
        } else {
            if (silent >= quiet && i >= from) return i;
            silent = 0;
        }
    }
    return -1;
}

std::uint8_t Byte(int v) {
    return static_cast<std::uint8_t>(v);
}

// Until the synthesizer sounds a note at all (it may still be loading its SoundFont), then
// silence: the channel dry, its instrument chosen and loaded.
bool WarmUp(const Options& o, Keyboard& keys, Capture& capture) {
    keys.Send({0xB0, 91, 0, 0xB0, 93, 0, 0xC0, Byte(o.program)});
    const double deadline = Now() + 120;
    while (Now() < deadline) {
        const long from = capture.Frames();
        keys.Send({0x90, Byte(o.note), 100});
        SleepUntil(Now() + 1);
        const bool heard = FirstAbove(capture.Sound(), from, capture.Frames(), kHeard) >= 0;
        keys.Send({0xB0, 120, 0});
        SleepUntil(Now() + 0.5);
        if (heard) return true;
    }
    return false;
}

// Notes at random times: a cut (all sound off), 150 to 250 ms later the note-on, 450 ms for
// its sound to come; with `change`, a program change to an instrument not used before goes
// with each note-on, and the cut takes the channel back to the loaded one, so that every note
// plays the same instrument. The times the note-ons were written.
std::vector<double> Play(const Options& o, Keyboard& keys, int notes, bool change) {
    std::mt19937 random(1234 + notes);
    std::vector<double> events;
    double next = Now() + 0.2;
    for (int n = 0; n < notes; ++n) {
        keys.Send({0xB0, 120, 0, 0xC0, Byte(o.program)});
        next += std::uniform_real_distribution(0.15, 0.25)(random);
        SleepUntil(next);
        const auto program = Byte(1 + (o.program + n) % 127);
        if (change)
            events.push_back(keys.Send({0xC0, program, 0x90, Byte(o.note), 100}));
        else
            events.push_back(keys.Send({0x90, Byte(o.note), 100}));
        next += 0.45;
        SleepUntil(next);
    }
    keys.Send({0xB0, 120, 0, 0xC0, Byte(o.program)});
    return events;
}

// Onset - event of each note, in frames of the capture; the lost ones counted.
void Report(const Options& o, const Capture& capture, const std::vector<double>& events,
            const std::string& label) {
    std::vector<double> frames;
    int lost = 0, merged = 0;
    for (std::size_t n = 0; n < events.size(); ++n) {
        const auto event = std::lround(capture.FrameAt(events[n]));
        const long to = n + 1 < events.size() ? std::lround(capture.FrameAt(events[n + 1]))
                                              : event + static_cast<long>(kRate) / 2;
        const long onset = Onset(capture.Sound(), event, to);
        if (onset >= 0) {
            frames.push_back(static_cast<double>(onset - event));
            continue;
        }
        // Silence all the way: the note was lost. Sound with no gap before it: the cut came
        // late, with the note, and its onset cannot be told from the note before.
        const bool sound = FirstAbove(capture.Sound(), event, to, kHeard) >= 0;
        (sound ? merged : lost) += 1;
        std::fprintf(stderr, "alsa_latency: note %zu at frame %ld: %s\n", n, event,
                     sound ? "no silence before its onset" : "no sound");
    }
    std::fprintf(stderr, "alsa_latency: %s %s: %zu of %zu notes heard, frames:", o.target.c_str(),
                 label.c_str(), frames.size(), events.size());
    for (double f : frames) std::fprintf(stderr, " %.0f", f);
    std::fprintf(stderr, "\n");
    Row(o, label + " notes lost", "notes", lost);
    Row(o, label + " onsets merged", "notes", merged);
    for (const auto& [name, p] : {std::pair{"median", 50.0}, {"p95", 95.0}, {"max", 100.0}}) {
        const double v = Percentile(frames, p);
        Row(o, label + " " + name, "frames", v);
        Row(o, label + " " + name, "ms", v * 1000 / kRate);
    }
    const double spread = Percentile(frames, 100) - Percentile(frames, 0);
    Row(o, label + " spread (max - min)", "frames", spread);
    Row(o, label + " spread (max - min)", "ms", spread * 1000 / kRate);
}

// 16 channels of 8 notes each, released and struck again every 50 ms in one write: the sound
// never stops on its own, so each stretch of 1 ms of silence in it, from a second after the
// first strike to the last, is a dropout a listener hears.
void Storm(const Options& o, Keyboard& keys, Capture& capture) {
    std::vector<std::uint8_t> setup;
    for (int ch = 0; ch < 16; ++ch)
        if (ch != 9) setup.insert(setup.end(), {Byte(0xC0 | ch), Byte(o.program)});
    keys.Send(setup);
    std::vector<std::uint8_t> strike, release;
    for (int ch = 0; ch < 16; ++ch)
        for (int k = 0; k < 8; ++k) {
            const auto note = Byte(48 + 3 * k + ch % 4);
            release.insert(release.end(), {Byte(0x80 | ch), note, 0});
            strike.insert(strike.end(), {Byte(0x90 | ch), note, 100});
        }
    std::vector<std::uint8_t> both = release;
    both.insert(both.end(), strike.begin(), strike.end());
    double next = Now();
    const double start = next, end = next + o.stormSeconds;
    keys.Send(strike);
    long late = 0;
    while ((next += 0.05) < end) {
        SleepUntil(next);
        late += Now() - next > 0.05 ? 1 : 0;
        keys.Send(both);
    }
    const double last = Now();
    keys.Send(release);
    SleepUntil(Now() + 0.3);
    capture.Stop();
    capture.Fit();
    const auto sound = capture.Sound();
    const long from = std::lround(capture.FrameAt(start + 1));
    const long to = std::min(std::lround(capture.FrameAt(last)), static_cast<long>(sound.size()));
    long dropouts = 0, silent = 0, run = 0;
    for (long i = std::max(from, 0L); i < to; ++i) {
        if (sound[static_cast<std::size_t>(i)] > kHeard) {
            run = 0;
            continue;
        }
        const long quiet = static_cast<long>(kRate) / 1000;
        if (++run == quiet) {
            ++dropouts;
            silent += quiet;
        } else if (run > quiet) {
            ++silent;
        }
    }
    std::fprintf(stderr, "alsa_latency: %s storm of %.0f s, %ld strikes more than 50 ms late\n",
                 o.target.c_str(), o.stormSeconds, late);
    Row(o, "dropouts heard in the storm", "count", static_cast<double>(dropouts));
    Row(o, "silence in the storm", "ms", static_cast<double>(silent) * 1000 / kRate);
}

int Usage() {
    std::fprintf(stderr,
                 "usage: alsa_latency [--target NAME] [--path NAME] [--midi DEVICE]\n"
                 "       [--capture DEVICE] [--notes N] [--changes N] [--storm SECONDS]\n"
                 "       [--note N] [--program P]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const char* v = argv[i + 1];
        if (a == "--target")
            o.target = v;
        else if (a == "--path")
            o.path = v;
        else if (a == "--midi")
            o.midi = v;
        else if (a == "--capture")
            o.capture = v;
        else if (a == "--notes")
            o.notes = std::atoi(v);
        else if (a == "--changes")
            o.changes = std::clamp(std::atoi(v), 0, 127);
        else if (a == "--storm")
            o.stormSeconds = std::atof(v);
        else if (a == "--note")
            o.note = std::clamp(std::atoi(v), 0, 127);
        else if (a == "--program")
            o.program = std::clamp(std::atoi(v), 0, 127);
        else
            return Usage();
    }
    if (argc % 2 == 0) return Usage();
    // Ahead of the synthesizer's threads, as a keyboard's USB interrupt is: the time a note-on
    // is written, and the capture's readings, are then taken when they happen.
    const sched_param priority{.sched_priority = 50};
    if (sched_setscheduler(0, SCHED_FIFO, &priority) != 0)
        std::fprintf(stderr, "alsa_latency: no real-time priority: %s\n", std::strerror(errno));
    Keyboard keys(o.midi);
    if (!keys.Ok()) {
        std::fprintf(stderr, "alsa_latency: cannot open %s\n", o.midi.c_str());
        return 1;
    }
    Capture capture;
    if (!capture.Open(o.capture)) {
        std::fprintf(stderr, "alsa_latency: cannot record %s\n", o.capture.c_str());
        return 1;
    }
    if (o.stormSeconds > 0) {
        Storm(o, keys, capture);
        return 0;
    }
    if (!WarmUp(o, keys, capture)) {
        std::fprintf(stderr, "alsa_latency: %s sounds no note\n", o.target.c_str());
        Row(o, "key to sound notes lost", "notes", o.notes);
        return 1;
    }
    const auto plain = Play(o, keys, o.notes, false);
    const auto changed = Play(o, keys, o.changes, true);
    SleepUntil(Now() + 0.5);
    capture.Stop();
    std::fprintf(stderr, "alsa_latency: capture clock within %.0f frames%s\n", capture.Fit(),
                 capture.Overrun() ? "; the capture overran" : "");
    if (!plain.empty()) Report(o, capture, plain, "key to sound");
    if (!changed.empty()) Report(o, capture, changed, "key to sound, new program");
    return 0;
}
