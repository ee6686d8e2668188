#pragma once

// A private JACK server with the dummy driver, child processes, and the clients that stand
// around Quillet: a keyboard that sends MIDI at chosen frames and a recorder of audio indexed
// by JACK's frame clock, so that times are compared in frames, not in wall-clock time.

#include <fcntl.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "tests/support/wait_until.h"

namespace jackrig {

using namespace std::chrono_literals;

// A program found on PATH, run with its output in a log file and ended (SIGTERM, then SIGKILL)
// when this object goes. {"env", "NAME=value", ..., program, ...} sets its environment.
class Child {
public:
    Child(std::vector<std::string> argv, std::string log) : log_(std::move(log)) {
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        const pid_t parent = getpid();
        if ((pid_ = fork()) != 0) return;
        // The child goes when the test does, even a killed one: no server is left running.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int out = open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int none = open("/dev/null", O_RDONLY);
        if (getppid() == parent && out > 2 && none > 2 && dup2(none, 0) == 0 && dup2(out, 1) == 1 &&
            dup2(out, 2) == 2)
            execvp(args[0], args.data());
        _exit(127);
    }
    ~Child() { Stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t Pid() const { return pid_; }
    bool Running() {
        ended_ = ended_ || pid_ <= 0 || waitpid(pid_, nullptr, WNOHANG) != 0;
        return !ended_;
    }
    void Stop() {
        if (!Running()) return;
        kill(pid_, SIGTERM);
        if (WaitUntil([&] { return !Running(); }, 5s)) return;
        kill(pid_, SIGKILL);
        ended_ = waitpid(pid_, nullptr, 0) == pid_;
    }
    std::string Log() const {
        std::ifstream in(log_);
        return {std::istreambuf_iterator<char>(in), {}};
    }

private:
    std::string log_;
    pid_t pid_ = -1;
    bool ended_ = false;
};

struct ClientClose {
    void operator()(jack_client_t* c) const noexcept { jack_client_close(c); }
};
using ClientPtr = std::unique_ptr<jack_client_t, ClientClose>;

// Opens a client on this process's server, never starting one; null when no server runs.
inline ClientPtr OpenClient(const std::string& name) {
    ClientPtr client;
    // A server busy with other clients can turn one away for a moment.
    WaitUntil(
        [&] {
            jack_status_t status{};
            client.reset(jack_client_open(name.c_str(), JackNoStartServer, &status));
            return client || (status & JackServerFailed);
        },
        10s, 100ms);
    return client;
}

// jackd with the dummy driver under a name of its own, which this process's clients use
// (JACK_DEFAULT_SERVER) and children inherit. Stopped, it starts again under the same name.
class Server {
public:
    explicit Server(unsigned period, unsigned rate = 48000)
        : name_("quillet-test-" + std::to_string(getpid()) + "-" + std::to_string(count_++)),
          dir_(std::filesystem::temp_directory_path() / name_),
          period_(period),
          rate_(rate) {
        mkdir(dir_.c_str(), 0700);
        setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);  // no sound card to ask D-Bus for
        // libjack writes without MSG_NOSIGNAL: a server starting or gone must not end the test.
        std::signal(SIGPIPE, SIG_IGN);
        Start();
    }
    ~Server() {
        Stop();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    // Starts jackd and waits until it takes clients; true when it does. JACK runs at most
    // eight servers per machine: while others hold them all, it tries again.
    bool Start() {
        jack_set_error_function([](const char*) {});  // libjack complains of every early try
        WaitUntil(
            [&] {
                // Before -d: a small port limit, which sizes the shared memory, and a long time
                // limit for clients' answers on a loaded machine. After it, the dummy driver's.
                jackd_ = std::make_unique<Child>(
                    std::vector<std::string>{"jackd", "-n", name_, "-p", "64", "-t", "5000", "-d",
                                             "dummy", "-r", std::to_string(rate_), "-p",
                                             std::to_string(period_)},
                    dir_ + "/jackd.log");
                const auto up = [&] { return !jackd_->Running() || OpenClient("probe"); };
                ready_ = WaitUntil(up, 15s, 20ms) && jackd_->Running();
                return ready_ || Log().find("Too many servers") == std::string::npos;
            },
            60s, 200ms);
        jack_set_error_function([](const char* message) { std::fprintf(stderr, "%s\n", message); });
        return ready_;
    }
    void Stop() { jackd_.reset(); }

    bool Ready() const { return jackd_ && ready_; }
    unsigned Rate() const { return rate_; }
    std::string Log() const { return jackd_ ? jackd_->Log() : ""; }
    // A directory of this user's alone for logs and runtime files, while the server object lives.
    const std::string& Dir() const { return dir_; }

private:
    static inline std::atomic<int> count_{0};
    std::string name_;
    std::string dir_;
    unsigned period_;
    unsigned rate_;
    bool ready_ = false;
    std::unique_ptr<Child> jackd_;
};

// A MIDI keyboard with one output port, which sends events at chosen offsets of a cycle.
class Keyboard {
public:
    struct Event {
        jack_nframes_t offset;
        std::vector<std::uint8_t> bytes;
    };

    explicit Keyboard(const std::string& client, const std::string& port = "midi_out")
        : client_(OpenClient(client)) {
        if (!client_) return;
        jack_set_process_callback(client_.get(), &Keyboard::Process, this);
        // Active first: JACK connects only active clients' ports, and a watcher may at once.
        jack_activate(client_.get());
        port_ = jack_port_register(client_.get(), port.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                   JackPortIsOutput, 0);
    }

    jack_client_t* Client() const { return client_.get(); }
    jack_port_t* Port() const { return port_; }
    std::string PortName() const { return port_ ? jack_port_name(port_) : ""; }
    jack_nframes_t Now() const { return jack_frame_time(client_.get()); }

    // Sends the events in the next cycle; its first frame, or 0 when they did not go out.
    jack_nframes_t Send(std::vector<Event> events) {
        if (!WaitUntil([&] { return !pending_; }, 5s)) return 0;
        events_ = std::move(events);
        pending_ = true;
        return WaitUntil([&] { return !pending_; }, 5s) ? cycle_.load() : 0;
    }

private:
    static int Process(jack_nframes_t nframes, void* arg) {
        auto* self = static_cast<Keyboard*>(arg);
        if (!self->port_) return 0;
        void* buffer = jack_port_get_buffer(self->port_, nframes);
        jack_midi_clear_buffer(buffer);
        if (!self->pending_) return 0;
        for (const Event& e : self->events_)
            jack_midi_event_write(buffer, std::min(e.offset, nframes - 1), e.bytes.data(),
                                  e.bytes.size());
        self->cycle_ = jack_last_frame_time(self->client_.get());
        self->pending_ = false;
        return 0;
    }

    std::atomic<jack_port_t*> port_{nullptr};
    std::vector<Event> events_;  // the process callback's while pending_
    std::atomic<bool> pending_{false};
    std::atomic<jack_nframes_t> cycle_{0};
    ClientPtr client_;  // last, to go first: closed, it calls the members above no more
};

// Records two audio inputs into memory from its first cycle on, which it waits for, until its
// memory is full; IndexOf says where a JACK frame is in the recording.
class Recorder {
public:
    Recorder(const std::string& client, double seconds, unsigned rate)
        : client_(OpenClient(client)) {
        for (auto& d : data_) d.resize(static_cast<std::size_t>(seconds * rate));
        if (!client_) return;
        for (const char* name : {"in_1", "in_2"})
            ports_.push_back(jack_port_register(client_.get(), name, JACK_DEFAULT_AUDIO_TYPE,
                                                JackPortIsInput, 0));
        jack_set_process_callback(client_.get(), &Recorder::Process, this);
        jack_activate(client_.get());
        WaitUntil([&] { return recorded_ > 0; }, 5s);
    }

    bool ConnectFrom(const std::string& left, const std::string& right) {
        return client_ && !jack_connect(client_.get(), left.c_str(), jack_port_name(ports_[0])) &&
               !jack_connect(client_.get(), right.c_str(), jack_port_name(ports_[1]));
    }
    long IndexOf(jack_nframes_t frame) const { return static_cast<int32_t>(frame - start_); }
    std::size_t Recorded() const { return recorded_; }
    // Waits until frames up to (not including) this JACK frame are recorded.
    bool WaitRecordedUntil(jack_nframes_t frame, std::chrono::milliseconds timeout) const {
        return WaitUntil([&] { return IndexOf(frame) <= long(recorded_); }, timeout);
    }
    std::span<const float> Channel(int ch) const { return {data_[ch].data(), recorded_}; }

private:
    static int Process(jack_nframes_t nframes, void* arg) {
        auto* self = static_cast<Recorder*>(arg);
        const jack_nframes_t now = jack_last_frame_time(self->client_.get());
        if (self->recorded_ == 0) self->start_ = now;
        const auto at = static_cast<std::size_t>(now - self->start_);
        if (at + nframes > self->data_[0].size()) return 0;
        for (int ch = 0; ch < 2; ++ch)
            std::copy_n(static_cast<const float*>(jack_port_get_buffer(self->ports_[ch], nframes)),
                        nframes, self->data_[ch].begin() + static_cast<long>(at));
        self->recorded_ = at + nframes;
        return 0;
    }

    std::vector<jack_port_t*> ports_;
    std::vector<float> data_[2];
    std::atomic<jack_nframes_t> start_{0};
    std::atomic<std::size_t> recorded_{0};
    ClientPtr client_;  // last, to go first: closed, it calls the members above no more
};

// Controller messages that make a channel dry and panned hard to one side (-1 left, +1 right),
// so that the two outputs carry two channels apart: what remains on the other side is the
// reverb's anti-denormal offset, far below kHeard.
inline std::vector<std::vector<std::uint8_t>> DryAndPanned(int channel, int side) {
    const auto cc = static_cast<std::uint8_t>(0xB0 | channel);
    std::vector<std::vector<std::uint8_t>> out{{cc, 91, 0}, {cc, 93, 0}};
    // NRPN 120/<generator>: an offset to chorus send, reverb send or pan; data 8192 = none.
    for (const auto& [generator, offset] : {std::pair{15, -1000}, {16, -1000}, {17, side * 1000}}) {
        const auto data = static_cast<std::uint16_t>(8192 + offset);
        out.insert(out.end(), {{cc, 99, 120},
                               {cc, 98, std::uint8_t(generator)},
                               {cc, 38, std::uint8_t(data & 0x7F)},
                               {cc, 6, std::uint8_t(data >> 7)}});
    }
    return out;
}
inline constexpr float kHeard = 1e-6f;

}  // namespace jackrig
