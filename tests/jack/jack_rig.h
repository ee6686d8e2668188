#pragma once

// A private JACK server with the dummy driver, and the clients that stand around Quillet in
// the tests and the demo: a keyboard that sends MIDI at chosen frames and a recorder of
// audio indexed by JACK's frame clock, so that times are compared in frames, not in
// wall-clock time.

#include <jack/jack.h>
#include <sys/types.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace jackrig {

// Checks the condition every `step` until it holds or the time is up; true when it held.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds step = std::chrono::milliseconds(5));

// A child process with its output in a log file; ended (SIGTERM, then SIGKILL) when this
// object goes.
class Child {
public:
    // `env` entries ("NAME=value") are added to this process's environment.
    Child(std::vector<std::string> argv, std::vector<std::string> env, std::string logPath);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    // True while the process has not ended.
    bool Running();
    // The exit status once it has ended by itself; -1 when a signal ended it.
    std::optional<int> ExitCode();
    // Ends the process; true when it ended by itself within the time after SIGTERM.
    bool Stop(std::chrono::milliseconds grace = std::chrono::milliseconds(5000));
    std::string Log() const;
    const std::string& LogPath() const { return logPath_; }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    std::string logPath_;
};

// jackd with the dummy driver under a name of its own. This process's JACK clients
// (JACK_DEFAULT_SERVER) and the environment handed to children use it.
class Server {
public:
    Server(unsigned period, unsigned rate = 48000);
    ~Server();

    // Whether it accepts clients; the constructor has waited for that, up to a deadline.
    bool Ready() const { return ready_; }
    const std::string& Name() const { return name_; }
    unsigned Period() const { return period_; }
    unsigned Rate() const { return rate_; }
    std::string Log() const { return child_ ? child_->Log() : std::string(); }
    // A directory that lives as long as the server, for logs and runtime files.
    const std::string& Dir() const { return dir_; }

private:
    std::string name_;
    std::string dir_;
    unsigned period_;
    unsigned rate_;
    bool ready_ = false;
    std::unique_ptr<Child> child_;
};

// A unique name for a server of this process.
std::string UniqueServerName();

struct ClientClose {
    void operator()(jack_client_t* c) const noexcept { jack_client_close(c); }
};
using ClientPtr = std::unique_ptr<jack_client_t, ClientClose>;

// Opens a client on this process's server, never starting one.
ClientPtr OpenClient(const std::string& name);

// Whether the two ports (full names) are connected.
bool Connected(jack_client_t* client, const std::string& a, const std::string& b);
bool PortExists(jack_client_t* client, const std::string& name);

// A MIDI keyboard: one MIDI output port. Groups of events go out in the first cycle that
// starts at or after a chosen frame, each event at its offset in that cycle.
class Keyboard {
public:
    struct Event {
        jack_nframes_t offset;
        std::vector<std::uint8_t> bytes;
    };

    explicit Keyboard(const std::string& clientName, const std::string& portName = "midi_out");
    ~Keyboard();

    jack_client_t* Client() const { return client_.get(); }
    std::string PortName() const { return jack_port_name(port_); }
    jack_port_t* Port() const { return port_; }
    // Sets the port's pretty name, as a desktop MIDI tool would.
    void SetPrettyName(const std::string& name);

    // Queues a group; groups go out in the order queued. Returns the group's number.
    std::size_t SendInCycle(jack_nframes_t notBefore, std::vector<Event> events);
    // Sends one event as soon as possible.
    std::size_t SendNow(std::vector<std::uint8_t> bytes);
    // The start frame of the cycle the group went out in, once it has.
    std::optional<jack_nframes_t> SentCycle(std::size_t group) const;
    bool WaitSent(std::size_t group, std::chrono::milliseconds timeout) const;
    jack_nframes_t Now() const { return jack_frame_time(client_.get()); }

private:
    static int Process(jack_nframes_t nframes, void* arg);

    struct Group {
        jack_nframes_t notBefore = 0;
        bool asap = false;
        std::vector<Event> events;
        std::atomic<bool> sent{false};
        std::atomic<jack_nframes_t> cycle{0};
    };
    static constexpr std::size_t kGroups = 256;

    ClientPtr client_;
    jack_port_t* port_ = nullptr;
    bool named_ = false;
    std::array<Group, kGroups> groups_;
    std::atomic<std::size_t> queued_{0};
    std::size_t next_ = 0;  // the audio thread's
};

// Records two audio inputs into memory from its first cycle on; frame i of the recording is
// JACK frame StartFrame() + i.
class Recorder {
public:
    Recorder(const std::string& clientName, double seconds, unsigned rate);
    ~Recorder();

    jack_client_t* Client() const { return client_.get(); }
    std::string PortName(int channel) const;
    bool ConnectFrom(const std::string& left, const std::string& right);
    // Waits until the first cycle has been recorded.
    bool WaitStarted(std::chrono::milliseconds timeout) const;
    jack_nframes_t StartFrame() const { return start_.load(std::memory_order_acquire); }
    // Waits until frames up to (not including) this JACK frame are recorded.
    bool WaitRecordedUntil(jack_nframes_t frame, std::chrono::milliseconds timeout) const;
    // Frames recorded so far.
    std::size_t Recorded() const { return recorded_.load(std::memory_order_acquire); }
    std::span<const float> Channel(int channel) const;
    // Index in the recording of a JACK frame.
    long IndexOf(jack_nframes_t frame) const {
        return static_cast<long>(static_cast<int32_t>(frame - StartFrame()));
    }

private:
    static int Process(jack_nframes_t nframes, void* arg);

    ClientPtr client_;
    jack_port_t* ports_[2] = {nullptr, nullptr};
    std::vector<float> data_[2];
    std::atomic<bool> started_{false};
    std::atomic<jack_nframes_t> start_{0};
    std::atomic<std::size_t> recorded_{0};
};

// Controller messages that make a channel dry (no reverb, no chorus) and panned hard to one
// side (-1 left, +1 right) through SoundFont NRPNs, so that the two outputs carry two
// channels apart. What remains on the other side is the reverb's anti-denormal offset,
// far below kHeard.
std::vector<std::vector<std::uint8_t>> DryAndPanned(int channel, int side);
inline constexpr float kHeard = 1e-6f;

// Index of the first sample in [from, to) whose magnitude exceeds the threshold, or -1.
long FirstAbove(std::span<const float> x, long from, long to, float threshold);
float Peak(std::span<const float> x, long from, long to);
// The fundamental frequency of a stretch of sound, by autocorrelation.
double EstimateFrequency(std::span<const float> x, double rate, double minHz = 60,
                         double maxHz = 2500);
double NoteFrequency(int note);

// Writes a 16-bit stereo WAV file.
bool WriteWav(const std::string& path, std::span<const float> left, std::span<const float> right,
              unsigned rate);

}  // namespace jackrig
