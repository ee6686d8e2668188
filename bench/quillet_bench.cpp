// Quillet against FluidSynth's own command line, side by side on private JACK servers with
// the dummy driver: the same SoundFont, the same program change and the same notes go to
// both, and the figures come out as one table and a CSV file.

#include <jack/jack.h>
#include <jack/midiport.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/percentile.h"
#include "tests/jack/jack_rig.h"
#include "tests/support/sound.h"

namespace {

using bench::Percentile;

using namespace std::chrono_literals;
using jackrig::Keyboard;

struct Options {
    std::vector<unsigned> periods{64, 256, 1024};
    int notes = 200;
    int startRuns = 5;
    double idleSeconds = 10;
    double stormSeconds = 30;
    int stormIntervalMs = 50;
    int programs = 128;
    int program = 0;
    // Onset notes: one pitch, so that the sample's own attack adds the same to every onset;
    // -1 for random pitches from 48 to 72.
    int note = 60;
    std::string quillet = QUILLET_EXECUTABLE;
    std::string soundFont = "/usr/share/sounds/sf2/FluidR3_GM.sf2";
    std::string out = "bench-out";
    bool wav = false;
    // Key to sound through the kernel, in the guest: notes without and with program changes.
    int guestNotes = 100;
    int guestChanges = 40;
    // Which measurements run: onsets, start, resources, dynamic, alsa.
    std::string parts = "onsets,start,resources,dynamic,alsa";
    bool Runs(const std::string& part) const {
        return ("," + parts + ",").find("," + part + ",") != std::string::npos;
    }
};

// One program under test: how to start it on a server (whose name its environment holds) and
// where its ports are.
struct Target {
    std::string name;
    // Ports whose full names start with this belong to the program.
    std::string portPrefix;
    std::function<std::unique_ptr<jackrig::Child>(const jackrig::Server&, const std::string& log)>
        start;
};

struct Ports {
    std::string midiIn;
    std::string left;
    std::string right;
};

Ports FindPorts(jack_client_t* client, const std::string& prefix) {
    Ports ports;
    const std::string pattern = "^" + prefix;
    if (const char** midi =
            jack_get_ports(client, pattern.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput)) {
        if (midi[0]) ports.midiIn = midi[0];
        jack_free(midi);
    }
    if (const char** audio =
            jack_get_ports(client, pattern.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput)) {
        if (audio[0] && audio[1]) {
            ports.left = audio[0];
            ports.right = audio[1];
        }
        jack_free(audio);
    }
    return ports;
}

// FluidSynth ends at once without a shell to serve, so it serves one on a port of its own.
int ShellPort() {
    static int next = 20000 + static_cast<int>(getpid() % 20000);
    return next++;
}

std::vector<Target> Targets(const Options& o) {
    Target quillet{"Quillet", "Velunor:", [o](const jackrig::Server&, const std::string& log) {
                       // A runtime directory per run: the single-instance socket lives there.
                       const std::string runtime = log + ".runtime";
                       mkdir(runtime.c_str(), 0700);
                       return std::make_unique<jackrig::Child>(
                           std::vector<std::string>{"env", "QT_QPA_PLATFORM=offscreen",
                                                    "XDG_RUNTIME_DIR=" + runtime,
                                                    "QUILLET_AUDIO=jack", "QUILLET_MIDI=jack",
                                                    "QUILLET_SOUNDFONT=" + o.soundFont, o.quillet},
                           log);
                   }};
    Target fluid{
        "FluidSynth", "fluidsynth", [o](const jackrig::Server& server, const std::string& log) {
            // -j connects the audio to the playback ports, as Quillet does; our own
            // keyboard is connected by hand, so no MIDI auto-connection.
            return std::make_unique<jackrig::Child>(
                std::vector<std::string>{
                    "fluidsynth", "-a", "jack", "-m", "jack", "-i", "-j", "-s", "-o",
                    "shell.port=" + std::to_string(ShellPort()), "-o", "midi.autoconnect=0", "-o",
                    "synth.sample-rate=" + std::to_string(server.Rate()), o.soundFont},
                log);
        }};
    return {quillet, fluid};
}

// CPU time of a process, in seconds: the time its threads ran, in nanoseconds from the
// scheduler (/proc/<pid>/task/*/schedstat), since an idle program uses a few clock ticks
// (10 ms each) in ten seconds and ticks would round that away. Falls back to ticks.
double CpuSeconds(pid_t pid) {
    const std::string base = "/proc/" + std::to_string(pid);
    std::error_code error;
    double total = 0;
    bool any = false;
    for (const auto& task : std::filesystem::directory_iterator(base + "/task", error)) {
        std::ifstream in(task.path() / "schedstat");
        unsigned long long ns = 0;
        if (in >> ns) {
            total += static_cast<double>(ns) / 1e9;
            any = true;
        }
    }
    if (any) return total;
    std::ifstream in(base + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The command name may hold spaces; the fields after it are plain.
    const auto close = text.rfind(')');
    if (close == std::string::npos) return NAN;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stoul(field);
        if (i == 15) stime = std::stoul(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// CPU seconds of each thread of a process, by thread id, with the thread's name.
std::map<std::string, std::pair<std::string, double>> ThreadCpuSeconds(pid_t pid) {
    std::map<std::string, std::pair<std::string, double>> out;
    std::error_code error;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream stat(task.path() / "schedstat");
        std::ifstream comm(task.path() / "comm");
        unsigned long long ns = 0;
        std::string name;
        if (stat >> ns && std::getline(comm, name))
            out[task.path().filename().string()] = {name, static_cast<double>(ns) / 1e9};
    }
    return out;
}

// What each thread used between two readings, busiest first, as "name (tid) 1.2 ms, ...".
std::string ThreadCpuDelta(const std::map<std::string, std::pair<std::string, double>>& before,
                           const std::map<std::string, std::pair<std::string, double>>& after) {
    std::vector<std::pair<double, std::string>> used;
    for (const auto& [tid, now] : after) {
        const auto it = before.find(tid);
        const double was = it == before.end() ? 0.0 : it->second.second;
        used.push_back({now.second - was, now.first + " (" + tid + ")"});
    }
    std::sort(used.rbegin(), used.rend());
    std::string text;
    for (const auto& [seconds, name] : used) {
        char buf[128];
        std::snprintf(buf, sizeof buf, "%s%s %.1f ms", text.empty() ? "" : ", ", name.c_str(),
                      seconds * 1000);
        text += buf;
    }
    return text;
}

// A field of /proc/<pid>/status in kB, in MB.
double StatusMb(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field + ":", 0) == 0)
            return std::stod(line.substr(field.size() + 1)) / 1024.0;
    return NAN;
}

// Peak resident set size of a process, in MB.
double PeakRssMb(pid_t pid) {
    return StatusMb(pid, "VmHWM");
}

// The same without shared memory: every JACK client maps the server's segment of port
// buffers and, with a real-time server, locks it, so that about 100 MB that belong to the
// server count in each client's RSS. The segment is mapped once at start-up and stays.
double PeakOwnRssMb(pid_t pid) {
    return StatusMb(pid, "VmHWM") - StatusMb(pid, "RssShmem");
}

// Writes a 16-bit stereo WAV file.
bool WriteWav(const std::string& path, std::span<const float> left, std::span<const float> right,
              unsigned rate) {
    std::ofstream out(path, std::ios::binary);
    const std::size_t frames = std::min(left.size(), right.size());
    const auto put32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    const auto put16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const auto dataBytes = static_cast<std::uint32_t>(frames * 4);
    out.write("RIFF", 4);
    put32(36 + dataBytes);
    out.write("WAVEfmt ", 8);
    put32(16);
    put16(1);  // PCM
    put16(2);
    put32(rate);
    put32(rate * 4);
    put16(4);
    put16(16);
    out.write("data", 4);
    put32(dataBytes);
    for (std::size_t i = 0; i < frames; ++i)
        for (float v : {left[i], right[i]})
            put16(static_cast<std::uint16_t>(
                static_cast<std::int16_t>(std::lrint(std::clamp(v, -1.0f, 1.0f) * 32767.0f))));
    return static_cast<bool>(out);
}

long FirstSound(const jackrig::Recorder& r, long from, long to, float threshold) {
    const long a = FirstAbove(r.Channel(0), from, to, threshold);
    const long b = FirstAbove(r.Channel(1), from, to, threshold);
    return a < 0 ? b : (b < 0 ? a : std::min(a, b));
}

// A program started on a server, with its ports found, a keyboard connected to its MIDI input
// and, when asked, a recorder on its outputs.
// Ends the program and waits until the server has let its client go. A program killed with
// its client open holds the server up for seconds when it stops; stopped that late, the
// server loses its slot in JACK's registry of servers, which has room for eight.
void StopAndWaitGone(std::unique_ptr<jackrig::Child>& child, jack_client_t* checker,
                     const std::string& prefix) {
    if (!child) return;
    child->Stop();
    child.reset();
    if (checker) WaitUntil([&] { return FindPorts(checker, prefix).left.empty(); }, 5s, 20ms);
}

struct Session {
    std::string prefix;
    std::unique_ptr<jackrig::Child> child;
    jackrig::ClientPtr checker;
    Ports ports;
    std::unique_ptr<Keyboard> keyboard;
    std::unique_ptr<jackrig::Recorder> recorder;
    std::string error;

    ~Session() {
        recorder.reset();
        keyboard.reset();
        StopAndWaitGone(child, checker.get(), prefix);
    }

    bool Open(const Target& t, const jackrig::Server& server, const std::string& log) {
        prefix = t.portPrefix;
        checker = jackrig::OpenClient("bench-checker");
        if (!checker) return Fail("no JACK client");
        child = t.start(server, log);
        const bool found = WaitUntil(
            [&] {
                ports = FindPorts(checker.get(), t.portPrefix);
                return !child->Running() || (!ports.midiIn.empty() && !ports.left.empty());
            },
            60s, 10ms);
        if (!found || !child->Running()) return Fail(t.name + " did not open its ports");
        keyboard = std::make_unique<Keyboard>("bench-keys");
        if (!keyboard->Client() ||
            jack_connect(keyboard->Client(), keyboard->PortName().c_str(), ports.midiIn.c_str()))
            return Fail("could not connect the keyboard");
        return true;
    }
    // A new keyboard in place of the old one, connected the same way.
    bool FreshKeyboard() {
        keyboard.reset();
        keyboard = std::make_unique<Keyboard>("bench-keys");
        if (!keyboard->Client() ||
            jack_connect(keyboard->Client(), keyboard->PortName().c_str(), ports.midiIn.c_str()))
            return Fail("could not connect the keyboard");
        return true;
    }
    bool Record(double seconds, unsigned rate) {
        recorder = std::make_unique<jackrig::Recorder>("bench-recorder", seconds, rate);
        if (!recorder->ConnectFrom(ports.left, ports.right)) return Fail("could not record");
        return true;
    }
    // Sends a group in the next cycle and waits until it went out; its cycle's first frame.
    std::optional<jack_nframes_t> Send(std::vector<Keyboard::Event> events) {
        const jack_nframes_t cycle = keyboard->Send(std::move(events));
        if (cycle == 0) return std::nullopt;
        return cycle;
    }
    bool Fail(const std::string& why) {
        error = why;
        return false;
    }
};

std::vector<Keyboard::Event> ProgramOnAll(int program) {
    std::vector<Keyboard::Event> e;
    for (int ch = 0; ch < 16; ++ch)
        if (ch != 9)
            e.push_back(
                {0, {static_cast<std::uint8_t>(0xC0 | ch), static_cast<std::uint8_t>(program)}});
    return e;
}

// Rows of the table, in the order measured.
struct Row {
    std::string metric;
    std::string unit;
    std::map<std::string, double> value;
    std::string note;
};

class Table {
public:
    Row& Get(const std::string& metric, const std::string& unit) {
        for (auto& r : rows_)
            if (r.metric == metric && r.unit == unit) return r;
        rows_.push_back({metric, unit, {}, {}});
        return rows_.back();
    }
    void Set(const std::string& metric, const std::string& unit, const std::string& target,
             double v) {
        Get(metric, unit).value[target] = v;
    }
    void Print(const std::vector<Target>& targets, const std::string& csvPath) const {
        std::ofstream csv(csvPath);
        csv << "metric,unit";
        for (auto& t : targets) csv << "," << t.name;
        csv << ",ratio\n";
        std::printf("\n%-62s %-6s", "metric", "unit");
        for (auto& t : targets) std::printf(" %12s", t.name.c_str());
        std::printf(" %8s\n", "ratio");
        for (const Row& r : rows_) {
            std::printf("%-62s %-6s", r.metric.c_str(), r.unit.c_str());
            csv << '"' << r.metric << "\"," << r.unit;
            std::vector<double> vs;
            for (auto& t : targets) {
                const auto it = r.value.find(t.name);
                const double v = it == r.value.end() ? NAN : it->second;
                vs.push_back(v);
                std::printf(" %12s", Format(v).c_str());
                csv << "," << Format(v);
            }
            // A ratio of signed latencies says nothing; those rows get none.
            const bool signedRow = r.metric.rfind("onset - event", 0) == 0;
            const double ratio = !signedRow && vs.size() == 2 && std::isfinite(vs[0]) &&
                                         std::isfinite(vs[1]) && vs[0] >= 0 && vs[1] > 0
                                     ? vs[0] / vs[1]
                                     : NAN;
            std::printf(" %8s\n", std::isfinite(ratio) ? Format(ratio, 2).c_str() : "-");
            csv << "," << (std::isfinite(ratio) ? Format(ratio, 3) : "") << "\n";
        }
    }

private:
    static std::string Format(double v, int decimals = -1) {
        if (!std::isfinite(v)) return "n/a";
        char buf[64];
        if (decimals < 0) decimals = std::fabs(v - std::round(v)) < 1e-9 ? 0 : 2;
        std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
        return buf;
    }
    std::vector<Row> rows_;
};

void Log(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Log(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::fprintf(stderr, "bench: ");
    std::vfprintf(stderr, fmt, args);
    std::fprintf(stderr, "\n");
    va_end(args);
}

std::string LogPath(const Options& o, const std::string& what) {
    return o.out + "/logs/" + what + ".log";
}

// Note-ons at random offsets in their cycles, on a dry channel so that the sound ends when
// the previous note is cut off (all sound off), half a spacing earlier: a synthesizer that
// renders in blocks applies the cut only at its next block, which must not count as onset.
void MeasureOnsets(const Options& o, const std::vector<Target>& targets, Table& table) {
    for (unsigned period : o.periods) {
        jackrig::Server server(period);
        if (!server.Ready()) {
            Log("jackd did not start at period %u:\n%s", period, server.Log().c_str());
            continue;
        }
        std::mt19937 random(period);
        std::vector<jack_nframes_t> offsets;
        std::vector<std::uint8_t> notes;
        for (int i = 0; i < o.notes; ++i) {
            offsets.push_back(std::uniform_int_distribution<jack_nframes_t>(1, period - 1)(random));
            notes.push_back(static_cast<std::uint8_t>(
                o.note >= 0 ? o.note : std::uniform_int_distribution(48, 72)(random)));
        }
        // Half of it between cut and note, and room after the note for a latency of a period.
        const jack_nframes_t spacing = std::max<jack_nframes_t>(6 * period, server.Rate() / 20);
        for (const Target& t : targets) {
            Session s;
            const std::string tag = t.name + "-onset-" + std::to_string(period);
            // Each note takes its spacing, and two sends of a cycle or more each beside it.
            const double seconds = (o.notes + 20.0) * (spacing / double(server.Rate()) + 0.1) + 5;
            if (!s.Open(t, server, LogPath(o, tag)) || !s.Record(seconds, server.Rate())) {
                Log("%s: %s", tag.c_str(), s.error.c_str());
                continue;
            }
            std::vector<Keyboard::Event> setup;
            for (auto& b : jackrig::DryAndPanned(0, -1)) setup.push_back({0, b});
            setup.push_back({0, {0xC0, static_cast<std::uint8_t>(o.program)}});
            s.Send(setup);
            std::this_thread::sleep_for(300ms);

            // A cut, then the note half a spacing later, in its own cycle at its offset.
            std::vector<jack_nframes_t> cycles;
            const auto half = std::chrono::microseconds(spacing * 500000LL / server.Rate());
            for (int n = 0; n < o.notes; ++n) {
                s.keyboard->Send({{0, {0xB0, 120, 0}}});
                std::this_thread::sleep_for(half);
                cycles.push_back(s.keyboard->Send({{offsets[n], {0x90, notes[n], 100}}}));
                std::this_thread::sleep_for(half);
            }
            s.recorder->WaitRecordedUntil(cycles.back() + spacing, 5s);
            std::vector<double> latencies;
            int found = 0;
            for (int n = 0; n < o.notes; ++n) {
                if (cycles[n] == 0) continue;  // it did not go out
                const long start = s.recorder->IndexOf(cycles[n]);
                const long event = start + offsets[n];
                const long onset =
                    FirstSound(*s.recorder, start, start + spacing / 2, jackrig::kHeard);
                if (onset < 0) continue;
                ++found;
                latencies.push_back(static_cast<double>(onset - event));
            }
            if (o.wav)
                WriteWav(o.out + "/" + tag + ".wav", s.recorder->Channel(0), s.recorder->Channel(1),
                         server.Rate());
            const std::string p = " @" + std::to_string(period);
            table.Set("onset found" + p, "notes", t.name, found);
            table.Set("onset - event median" + p, "frames", t.name, Percentile(latencies, 50));
            table.Set("onset - event p95" + p, "frames", t.name, Percentile(latencies, 95));
            table.Set("onset - event max" + p, "frames", t.name, Percentile(latencies, 100));
            table.Set("onset spread (max - min)" + p, "frames", t.name,
                      Percentile(latencies, 100) - Percentile(latencies, 0));
            Log("%s: %d of %d onsets found", tag.c_str(), found, o.notes);
        }
    }
}

// From the fork to the first audible sample of a note sent as soon as the MIDI port exists.
void MeasureTimeToSound(const Options& o, const std::vector<Target>& targets, Table& table) {
    jackrig::Server server(256);
    if (!server.Ready()) {
        Log("jackd did not start:\n%s", server.Log().c_str());
        return;
    }
    for (const Target& t : targets) {
        std::vector<double> times, portTimes;
        int firstHeard = 0;
        for (int run = 0; run < o.startRuns; ++run) {
            jackrig::ClientPtr checker = jackrig::OpenClient("bench-checker");
            jackrig::Recorder recorder("bench-recorder", 70, server.Rate());
            Keyboard keyboard("bench-keys");
            const jack_time_t started = jack_get_time();
            auto child = t.start(server, LogPath(o, t.name + "-start-" + std::to_string(run)));
            Ports ports;
            bool midi = false, audio = false;
            std::optional<long> heard;
            auto nextNote = std::chrono::steady_clock::now();
            std::vector<jack_nframes_t> strikes;
            const auto deadline = std::chrono::steady_clock::now() + 60s;
            while (!heard && child->Running() && std::chrono::steady_clock::now() < deadline) {
                ports = FindPorts(checker.get(), t.portPrefix);
                if (!audio && !ports.left.empty())
                    audio = recorder.ConnectFrom(ports.left, ports.right);
                if (!midi && !ports.midiIn.empty()) {
                    midi = jack_connect(keyboard.Client(), keyboard.PortName().c_str(),
                                        ports.midiIn.c_str()) == 0;
                    if (midi) portTimes.push_back((jack_get_time() - started) / 1000.0);
                }
                // A note that came too early to sound is struck again, so that the time until
                // the program can sound at all is measured too.
                if (midi && std::chrono::steady_clock::now() >= nextNote) {
                    strikes.push_back(keyboard.Send(
                        {{0, {0xC0, static_cast<std::uint8_t>(o.program)}}, {0, {0x90, 60, 100}}}));
                    nextNote = std::chrono::steady_clock::now() + 100ms;
                }
                if (audio) {
                    const long at = FirstSound(recorder, 0, static_cast<long>(recorder.Recorded()),
                                               jackrig::kHeard);
                    if (at >= 0) heard = at;
                }
                std::this_thread::sleep_for(1ms);
            }
            StopAndWaitGone(child, checker.get(), t.portPrefix);
            if (!heard) {
                Log("%s start %d: no sound", t.name.c_str(), run);
                continue;
            }
            // The frame recorded at index *heard, from the index of frame 0.
            const jack_time_t at = jack_frames_to_time(
                keyboard.Client(), static_cast<jack_nframes_t>(*heard - recorder.IndexOf(0)));
            times.push_back(static_cast<double>(at - started) / 1000.0);
            // Heard before the second strike's cycle: the first note sounded.
            const bool first = strikes.size() < 2 || recorder.IndexOf(strikes[1]) > *heard;
            firstHeard += first ? 1 : 0;
            Log("%s start %d: MIDI port after %.1f ms, first sound after %.1f ms, %s",
                t.name.c_str(), run, portTimes.empty() ? NAN : portTimes.back(), times.back(),
                first ? "of the first note" : "the first note was lost");
        }
        table.Set("MIDI port exists after (median)", "ms", t.name, Percentile(portTimes, 50));
        table.Set("time to first sound (median)", "ms", t.name, Percentile(times, 50));
        table.Set("first note sent to the new port sounded", "runs", t.name, firstHeard);
    }
}

// A JACK client whose callback does nothing, with the ports of a synthesizer, fed by a
// keyboard and recorded like the programs measured: what any client costs per cycle.
class IdleClient {
public:
    IdleClient() : client_(jackrig::OpenClient("bench-idle")) {
        if (!client_) return;
        jack_client_t* c = client_.get();
        midi_ = jack_port_register(c, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        left_ = jack_port_register(c, "out_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        right_ = jack_port_register(c, "out_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(c, &IdleClient::Process, this);
        jack_activate(c);
    }
    ~IdleClient() {
        if (client_) jack_deactivate(client_.get());
    }
    // Connects a keyboard's output, the playback ports and a recorder's inputs as the
    // measured programs have them.
    void Wire(const std::string& keyboard, jackrig::Recorder& recorder) {
        if (!client_) return;
        jack_client_t* c = client_.get();
        jack_connect(c, keyboard.c_str(), jack_port_name(midi_));
        jack_connect(c, jack_port_name(left_), "system:playback_1");
        jack_connect(c, jack_port_name(right_), "system:playback_2");
        recorder.ConnectFrom(jack_port_name(left_), jack_port_name(right_));
    }
    // CPU seconds of its process thread so far.
    double CpuSeconds() const {
        const pid_t tid = tid_.load();
        if (tid == 0) return NAN;
        std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/schedstat");
        unsigned long long ns = 0;
        return in >> ns ? static_cast<double>(ns) / 1e9 : NAN;
    }

private:
    static int Process(jack_nframes_t nframes, void* arg) {
        auto* self = static_cast<IdleClient*>(arg);
        if (self->tid_.load(std::memory_order_relaxed) == 0) self->tid_.store(gettid());
        std::memset(jack_port_get_buffer(self->left_, nframes), 0, nframes * sizeof(float));
        std::memset(jack_port_get_buffer(self->right_, nframes), 0, nframes * sizeof(float));
        return jack_midi_get_event_count(jack_port_get_buffer(self->midi_, nframes)) > 0 ? 0 : 0;
    }
    jackrig::ClientPtr client_;
    jack_port_t* midi_ = nullptr;
    jack_port_t* left_ = nullptr;
    jack_port_t* right_ = nullptr;
    std::atomic<pid_t> tid_{0};
};

// Counts the server's xruns.
class XrunCounter {
public:
    XrunCounter() : client_(jackrig::OpenClient("bench-xruns")) {
        if (!client_) return;
        jack_set_xrun_callback(client_.get(), &XrunCounter::OnXrun, this);
        jack_activate(client_.get());
    }
    ~XrunCounter() {
        if (client_) jack_deactivate(client_.get());
    }
    int Count() const { return count_.load(); }

private:
    static int OnXrun(void* arg) {
        static_cast<XrunCounter*>(arg)->count_.fetch_add(1);
        return 0;
    }
    jackrig::ClientPtr client_;
    std::atomic<int> count_{0};
};

// 16 channels of 8 notes each, released and struck again every interval, from the process
// callback so that the storm keeps its pace whatever this process does.
class Storm {
public:
    explicit Storm(jack_nframes_t interval)
        : interval_(interval), client_(jackrig::OpenClient("bench-storm")) {
        if (!client_) return;
        port_ = jack_port_register(client_.get(), "midi_out", JACK_DEFAULT_MIDI_TYPE,
                                   JackPortIsOutput, 0);
        jack_set_process_callback(client_.get(), &Storm::Process, this);
        jack_activate(client_.get());
    }
    ~Storm() {
        if (client_) jack_deactivate(client_.get());
    }
    bool Connect(const std::string& to) {
        return client_ && jack_connect(client_.get(), jack_port_name(port_), to.c_str()) == 0;
    }
    void Run(bool on) { running_.store(on); }
    long Strikes() const { return strikes_.load(); }

private:
    static int Process(jack_nframes_t nframes, void* arg) {
        auto* self = static_cast<Storm*>(arg);
        void* buffer = jack_port_get_buffer(self->port_, nframes);
        jack_midi_clear_buffer(buffer);
        const bool on = self->running_.load();
        for (jack_nframes_t i = 0; i < nframes; ++i, ++self->clock_) {
            if (self->clock_ % self->interval_ != 0) continue;
            if (!on && !self->sounding_) continue;
            for (int ch = 0; ch < 16; ++ch) {
                for (int k = 0; k < 8; ++k) {
                    const auto status = static_cast<std::uint8_t>(ch);
                    const auto note = static_cast<std::uint8_t>(48 + 3 * k + (ch % 4));
                    const std::uint8_t off[3] = {static_cast<std::uint8_t>(0x80 | status), note, 0};
                    if (self->sounding_) jack_midi_event_write(buffer, i, off, 3);
                    const std::uint8_t hit[3] = {static_cast<std::uint8_t>(0x90 | status), note,
                                                 100};
                    if (on) jack_midi_event_write(buffer, i, hit, 3);
                }
            }
            self->sounding_ = on;
            if (on) self->strikes_.fetch_add(1);
        }
        return 0;
    }

    jack_nframes_t interval_;
    jackrig::ClientPtr client_;
    jack_port_t* port_ = nullptr;
    std::atomic<bool> running_{false};
    std::atomic<long> strikes_{0};
    std::uint64_t clock_ = 0;
    bool sounding_ = false;
};

// Memory, idle CPU, all programs and the storm, in one life of each program.
void MeasureResources(const Options& o, const std::vector<Target>& targets, Table& table) {
    jackrig::Server server(256);
    if (!server.Ready()) {
        Log("jackd did not start:\n%s", server.Log().c_str());
        return;
    }
    for (const Target& t : targets) {
        Session s;
        if (!s.Open(t, server, LogPath(o, t.name + "-resources"))) {
            Log("%s: %s", t.name.c_str(), s.error.c_str());
            continue;
        }
        const pid_t pid = s.child->Pid();
        // Start-up is over when the program has sounded a first note.
        s.Record(5, server.Rate());
        s.Send({{0, {0xC0, static_cast<std::uint8_t>(o.program)}}, {0, {0x90, 60, 100}}});
        WaitUntil(
            [&] {
                return FirstSound(*s.recorder, 0, static_cast<long>(s.recorder->Recorded()),
                                  jackrig::kHeard) >= 0;
            },
            10s);
        s.Send({{0, {0x80, 60, 0}}});
        std::this_thread::sleep_for(3s);
        table.Set("peak RSS after start-up", "MB", t.name, PeakOwnRssMb(pid));
        table.Set("  the same with JACK's shared memory", "MB", t.name, PeakRssMb(pid));

        // Beside it, a client that does nothing, wired the same way: the floor any JACK
        // client pays for being woken every cycle.
        IdleClient idle;
        jackrig::Recorder idleRecorder("bench-idle-recorder", o.idleSeconds + 5, server.Rate());
        idle.Wire(s.keyboard->PortName(), idleRecorder);
        std::this_thread::sleep_for(200ms);
        const double cpu0 = CpuSeconds(pid);
        const double idle0 = idle.CpuSeconds();
        const auto threads0 = ThreadCpuSeconds(pid);
        std::this_thread::sleep_for(
            std::chrono::milliseconds(static_cast<long>(o.idleSeconds * 1000)));
        Log("%s idle, by thread: %s", t.name.c_str(),
            ThreadCpuDelta(threads0, ThreadCpuSeconds(pid)).c_str());
        const std::string idleSeconds = std::to_string(static_cast<int>(o.idleSeconds));
        table.Set("idle CPU over " + idleSeconds + " s", "s", t.name, CpuSeconds(pid) - cpu0);
        table.Set("  a JACK client doing nothing, beside it", "s", t.name,
                  idle.CpuSeconds() - idle0);

        XrunCounter xruns;
        s.FreshKeyboard();
        std::this_thread::sleep_for(200ms);
        const int xrunsBefore = xruns.Count();
        for (int p = 0; p < o.programs; ++p) {
            std::vector<Keyboard::Event> e{{0, {0x80, 60, 0}}};
            const auto select = ProgramOnAll(p);
            e.insert(e.end(), select.begin(), select.end());
            e.push_back({0, {0x90, 60, 100}});
            s.Send(std::move(e));
            std::this_thread::sleep_for(50ms);
        }
        s.Send({{0, {0x80, 60, 0}}});
        std::this_thread::sleep_for(1s);
        table.Set("peak RSS after " + std::to_string(o.programs) + " programs", "MB", t.name,
                  PeakOwnRssMb(pid));
        table.Set("xruns while changing programs", "count", t.name, xruns.Count() - xrunsBefore);
        s.Send(ProgramOnAll(o.program));

        Storm storm(server.Rate() * static_cast<unsigned>(o.stormIntervalMs) / 1000);
        if (!storm.Connect(s.ports.midiIn)) Log("%s: the storm is not connected", t.name.c_str());
        std::this_thread::sleep_for(200ms);
        const int stormXruns0 = xruns.Count();
        const double stormCpu0 = CpuSeconds(pid);
        storm.Run(true);
        std::this_thread::sleep_for(
            std::chrono::milliseconds(static_cast<long>(o.stormSeconds * 1000)));
        storm.Run(false);
        const double stormCpu = CpuSeconds(pid) - stormCpu0;
        table.Set("storm CPU", "%", t.name, 100.0 * stormCpu / o.stormSeconds);
        table.Set("storm xruns", "count", t.name, xruns.Count() - stormXruns0);
        Log("%s: storm of %ld strikes, %.2f s CPU", t.name.c_str(), storm.Strikes(), stormCpu);

        // The storm's last release, then quiet, then one note that must be heard.
        std::this_thread::sleep_for(3s);
        const bool alive = s.child->Running();
        bool sounds = false;
        if (alive && s.FreshKeyboard() && s.Record(4, server.Rate())) {
            std::vector<Keyboard::Event> e;
            for (int ch = 0; ch < 16; ++ch)
                e.push_back({0, {static_cast<std::uint8_t>(0xB0 | ch), 123, 0}});
            s.Send(std::move(e));
            std::this_thread::sleep_for(500ms);
            if (const auto cycle = s.Send({{0, {0x90, 64, 100}}})) {
                const long from = s.recorder->IndexOf(*cycle);
                s.recorder->WaitRecordedUntil(*cycle + server.Rate() / 2, 3s);
                sounds = FirstSound(*s.recorder, from, from + server.Rate() / 2, 1e-3f) >= 0;
            }
        }
        table.Set("running and sounding after the storm", "1=yes", t.name, alive && sounds ? 1 : 0);
    }
}

// What lazy sample loading would save: FluidSynth's command line with
// synth.dynamic-sample-loading, which loads only the presets that its channels select.
void MeasureDynamicLoading(const Options& o, const std::vector<Target>& targets, Table& table) {
    jackrig::Server server(256);
    if (!server.Ready()) return;
    Target lazy = targets.back();
    lazy.start = [o](const jackrig::Server& srv, const std::string& log) {
        return std::make_unique<jackrig::Child>(
            std::vector<std::string>{"fluidsynth", "-a", "jack", "-m", "jack", "-i", "-j", "-s",
                                     "-o", "shell.port=" + std::to_string(ShellPort()), "-o",
                                     "midi.autoconnect=0", "-o", "synth.dynamic-sample-loading=1",
                                     "-o", "synth.sample-rate=" + std::to_string(srv.Rate()),
                                     o.soundFont},
            log);
    };
    Session s;
    if (!s.Open(lazy, server, LogPath(o, "FluidSynth-dynamic-loading"))) return;
    s.Send({{0, {0xC0, static_cast<std::uint8_t>(o.program)}}, {0, {0x90, 60, 100}}});
    std::this_thread::sleep_for(2s);
    table.Set("peak RSS after start-up (dynamic loading)", "MB", lazy.name,
              PeakOwnRssMb(s.child->Pid()));
}

// Key to sound through the kernel, and storms, on the desktop's own paths: bench/alsa-guest.sh
// in a QEMU guest (tests/vm/run-guest.sh) with the programs of this build folder. Its figures
// come back on the guest's console as "alsa-bench: TARGET|metric|unit|value".
void MeasureGuest(const Options& o, Table& table) {
    const auto build = std::filesystem::path(o.quillet).parent_path().parent_path().string();
    {
        std::ofstream options(build + "/bench/alsa-guest-options");
        options << "NOTES=" << o.guestNotes << " CHANGES=" << o.guestChanges
                << " STORM=" << static_cast<int>(o.stormSeconds) << "\n";
    }
    // Each target: its start, notes at 0.65 s each and the storm.
    const int limit =
        3 * (90 + (o.guestNotes + o.guestChanges) * 65 / 100 + static_cast<int>(o.stormSeconds)) +
        60;
    const std::string source = QUILLET_SOURCE_DIR;
    const std::string command = "QUILLET_BUILD_DIR='" + build + "' '" + source +
                                "/tests/vm/run-guest.sh' '" + source + "/bench/alsa-guest.sh' " +
                                std::to_string(limit) + " 2>&1";
    Log("booting the guest (a few minutes); its console goes to %s",
        LogPath(o, "alsa-guest").c_str());
    FILE* guest = popen(command.c_str(), "r");
    if (!guest) return;
    std::ofstream log(LogPath(o, "alsa-guest"));
    char buffer[4096];
    int rows = 0;
    while (std::fgets(buffer, sizeof buffer, guest)) {
        std::string line(buffer);
        log << line << std::flush;
        if (!line.empty() && line.back() == '\n') line.pop_back();
        const auto at = line.find("alsa-bench: ");
        if (at == std::string::npos) {
            // Progress: the scenario's own lines and the harness's.
            if (line.rfind("  guest| [", 0) == 0 || line.rfind("run-guest:", 0) == 0)
                Log("%s", line.c_str());
            continue;
        }
        std::vector<std::string> fields;
        std::stringstream text(line.substr(at + 12));
        for (std::string f; std::getline(text, f, '|');) fields.push_back(f);
        if (fields.size() != 4 || fields[3].empty()) continue;
        table.Set("guest " + fields[1], fields[2], fields[0], std::atof(fields[3].c_str()));
        ++rows;
    }
    const int status = pclose(guest);
    Log("guest: %d figures, run-guest.sh status %d", rows,
        WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

unsigned ToUnsigned(const char* text) {
    return static_cast<unsigned>(std::strtoul(text, nullptr, 10));
}

int Usage() {
    std::fprintf(stderr,
                 "usage: quillet_bench [--notes N] [--periods 64,256,1024] [--start-runs N]\n"
                 "       [--idle-seconds S] [--storm-seconds S] [--storm-interval-ms MS]\n"
                 "       [--programs N] [--program P] [--note N|-1] [--quillet PATH]\n"
                 "       [--soundfont PATH] [--out DIR] [--wav 0|1]\n"
                 "       [--guest-notes N] [--guest-changes N]\n"
                 "       [--parts onsets,start,resources,dynamic,alsa]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) return Usage();
        const char* v = argv[++i];
        if (a == "--notes")
            o.notes = std::atoi(v);
        else if (a == "--periods") {
            o.periods.clear();
            std::stringstream list(v);
            for (std::string p; std::getline(list, p, ',');)
                o.periods.push_back(ToUnsigned(p.c_str()));
        } else if (a == "--start-runs")
            o.startRuns = std::atoi(v);
        else if (a == "--idle-seconds")
            o.idleSeconds = std::atof(v);
        else if (a == "--storm-seconds")
            o.stormSeconds = std::atof(v);
        else if (a == "--storm-interval-ms")
            o.stormIntervalMs = std::atoi(v);
        else if (a == "--programs")
            o.programs = std::clamp(std::atoi(v), 0, 128);
        else if (a == "--note")
            o.note = std::clamp(std::atoi(v), -1, 127);
        else if (a == "--program")
            o.program = std::clamp(std::atoi(v), 0, 127);
        else if (a == "--quillet")
            o.quillet = v;
        else if (a == "--soundfont")
            o.soundFont = v;
        else if (a == "--out")
            o.out = v;
        else if (a == "--wav")
            o.wav = std::atoi(v) != 0;
        else if (a == "--parts")
            o.parts = v;
        else if (a == "--guest-notes")
            o.guestNotes = std::atoi(v);
        else if (a == "--guest-changes")
            o.guestChanges = std::atoi(v);
        else
            return Usage();
    }
    std::filesystem::create_directories(o.out + "/logs");
    const std::vector<Target> targets = Targets(o);
    Table table;
    const auto began = std::chrono::steady_clock::now();
    if (o.Runs("onsets")) MeasureOnsets(o, targets, table);
    if (o.Runs("start")) MeasureTimeToSound(o, targets, table);
    if (o.Runs("resources")) MeasureResources(o, targets, table);
    if (o.Runs("dynamic")) MeasureDynamicLoading(o, targets, table);
    if (o.Runs("alsa")) MeasureGuest(o, table);
    const std::string csv = o.out + "/results.csv";
    table.Print(targets, csv);
    std::printf("\nratio = Quillet / FluidSynth; %s; took %.0f s\n", csv.c_str(),
                std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
    return 0;
}
