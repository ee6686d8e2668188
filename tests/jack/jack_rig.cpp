#include "jack_rig.h"

#include <fcntl.h>
#include <jack/metadata.h>
#include <jack/midiport.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace jackrig {

using Clock = std::chrono::steady_clock;

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds step) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(step);
    }
}

namespace {

// The program's path as execvp would find it; resolved before fork, where the child may
// only call async-signal-safe functions.
std::string FindProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return name;
}

}  // namespace

Child::Child(std::vector<std::string> argv, std::vector<std::string> env, std::string logPath)
    : logPath_(std::move(logPath)) {
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string key = entry.substr(0, entry.find('='));
        const bool replaced = std::any_of(env.begin(), env.end(), [&](const std::string& n) {
            return n.compare(0, key.size() + 1, key + "=") == 0;
        });
        if (!replaced) environment.push_back(entry);
    }
    environment.insert(environment.end(), env.begin(), env.end());
    const std::string program = FindProgram(argv[0]);
    std::vector<char*> args, envp;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);

    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // The child goes when the test does, even when the test is killed, so that no
        // server is left running.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        const int log = open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int none = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (log < 0 || none < 0 || dup2(none, 0) < 0 || dup2(log, 1) < 0 || dup2(log, 2) < 0)
            _exit(127);
        execve(program.c_str(), args.data(), envp.data());
        _exit(127);
    }
    if (pid > 0) pid_ = pid;
}

Child::~Child() {
    Stop();
}

bool Child::Running() {
    if (pid_ <= 0 || reaped_) return false;
    if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        reaped_ = true;
        return false;
    }
    return true;
}

std::optional<int> Child::ExitCode() {
    if (pid_ <= 0 || Running()) return std::nullopt;
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

bool Child::Stop(std::chrono::milliseconds grace) {
    if (!Running()) return true;
    kill(pid_, SIGTERM);
    if (WaitUntil([this] { return !Running(); }, grace)) return true;
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
    reaped_ = true;
    return false;
}

std::string Child::Log() const {
    std::ifstream in(logPath_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string UniqueServerName() {
    static std::atomic<int> counter{0};
    return "quillet-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

Server::Server(unsigned period, unsigned rate)
    : name_(UniqueServerName()), period_(period), rate_(rate) {
    char dir[] = "/tmp/quillet-jack-XXXXXX";
    if (mkdtemp(dir)) dir_ = dir;
    setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
    // libjack writes to sockets without MSG_NOSIGNAL; a server that is starting or gone must
    // not end the test silently.
    std::signal(SIGPIPE, SIG_IGN);
    // Each attempt before the server is up makes libjack complain.
    jack_set_error_function([](const char*) {});
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (!ready_ && Clock::now() < deadline) {
        // Before -d: a small port limit (it sizes the shared memory) and a long time limit
        // for clients' answers, as a loaded test machine is slow. After -d, -r and -p are
        // the dummy driver's rate and period.
        child_ = std::make_unique<Child>(
            std::vector<std::string>{"jackd", "-n", name_, "-p", "64", "-t", "5000", "-d", "dummy",
                                     "-r", std::to_string(rate), "-p", std::to_string(period)},
            std::vector<std::string>{"JACK_NO_AUDIO_RESERVATION=1"}, dir_ + "/jackd.log");
        if (!child_->Started()) break;
        ready_ = WaitUntil(
            [this] {
                if (!child_->Running()) return true;
                jack_status_t status{};
                jack_client_t* probe = jack_client_open("rig-probe", JackNoStartServer, &status);
                if (!probe) return false;
                jack_client_close(probe);
                return true;
            },
            std::chrono::seconds(15), std::chrono::milliseconds(20));
        ready_ = ready_ && child_->Running();
        // JACK runs at most a few servers per machine; other tests' servers may hold all.
        if (!ready_ && child_->Log().find("Too many servers") == std::string::npos) break;
        if (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    jack_set_error_function(
        [](const char* message) { std::fprintf(stderr, "jack: %s\n", message); });
}

Server::~Server() {
    child_.reset();
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

ClientPtr OpenClient(const std::string& name) {
    // A server busy with other clients can turn one away for a moment.
    ClientPtr client;
    WaitUntil(
        [&] {
            jack_status_t status{};
            client.reset(jack_client_open(name.c_str(), JackNoStartServer, &status));
            if (!client)
                std::fprintf(stderr, "jackrig: could not open client %s (status 0x%x)\n",
                             name.c_str(), static_cast<unsigned>(status));
            return client != nullptr || (status & JackServerFailed) != 0;
        },
        std::chrono::seconds(10), std::chrono::milliseconds(100));
    return client;
}

bool Connected(jack_client_t* client, const std::string& a, const std::string& b) {
    jack_port_t* port = jack_port_by_name(client, a.c_str());
    return port && jack_port_connected_to(port, b.c_str());
}

bool PortExists(jack_client_t* client, const std::string& name) {
    return jack_port_by_name(client, name.c_str()) != nullptr;
}

Keyboard::Keyboard(const std::string& clientName, const std::string& portName)
    : client_(OpenClient(clientName)) {
    if (!client_) return;
    port_ = jack_port_register(client_.get(), portName.c_str(), JACK_DEFAULT_MIDI_TYPE,
                               JackPortIsOutput, 0);
    jack_set_process_callback(client_.get(), &Keyboard::Process, this);
    jack_activate(client_.get());
}

Keyboard::~Keyboard() {
    if (!client_) return;
    jack_deactivate(client_.get());
    // JACK keeps metadata per user, not per server, and port identities repeat across
    // servers: a name left behind would show on another server's port.
    if (named_)
        jack_remove_property(client_.get(), jack_port_uuid(port_), JACK_METADATA_PRETTY_NAME);
}

void Keyboard::SetPrettyName(const std::string& name) {
    named_ = jack_set_property(client_.get(), jack_port_uuid(port_), JACK_METADATA_PRETTY_NAME,
                               name.c_str(), "text/plain") == 0;
}

std::size_t Keyboard::SendInCycle(jack_nframes_t notBefore, std::vector<Event> events) {
    const std::size_t n = queued_.load(std::memory_order_relaxed);
    if (n >= kGroups) return n;
    groups_[n].notBefore = notBefore;
    groups_[n].asap = false;
    groups_[n].events = std::move(events);
    queued_.store(n + 1, std::memory_order_release);
    return n;
}

std::size_t Keyboard::SendNow(std::vector<std::uint8_t> bytes) {
    const std::size_t n = queued_.load(std::memory_order_relaxed);
    if (n >= kGroups) return n;
    groups_[n].asap = true;
    groups_[n].events = {Event{0, std::move(bytes)}};
    queued_.store(n + 1, std::memory_order_release);
    return n;
}

std::optional<jack_nframes_t> Keyboard::SentCycle(std::size_t group) const {
    if (group >= kGroups || !groups_[group].sent.load(std::memory_order_acquire))
        return std::nullopt;
    return groups_[group].cycle.load(std::memory_order_relaxed);
}

bool Keyboard::WaitSent(std::size_t group, std::chrono::milliseconds timeout) const {
    return WaitUntil([&] { return SentCycle(group).has_value(); }, timeout);
}

int Keyboard::Process(jack_nframes_t nframes, void* arg) {
    auto* self = static_cast<Keyboard*>(arg);
    void* buffer = jack_port_get_buffer(self->port_, nframes);
    jack_midi_clear_buffer(buffer);
    const jack_nframes_t start = jack_last_frame_time(self->client_.get());
    const std::size_t queued = self->queued_.load(std::memory_order_acquire);
    // At most one group per cycle, so that each group's events sit at their own offsets.
    if (self->next_ < queued) {
        Group& g = self->groups_[self->next_];
        if (g.asap || static_cast<int32_t>(start - g.notBefore) >= 0) {
            for (const Event& e : g.events)
                jack_midi_event_write(buffer, std::min(e.offset, nframes - 1), e.bytes.data(),
                                      e.bytes.size());
            g.cycle.store(start, std::memory_order_relaxed);
            g.sent.store(true, std::memory_order_release);
            ++self->next_;
        }
    }
    return 0;
}

Recorder::Recorder(const std::string& clientName, double seconds, unsigned rate)
    : client_(OpenClient(clientName)) {
    const auto frames = static_cast<std::size_t>(seconds * rate);
    data_[0].assign(frames, 0.0f);
    data_[1].assign(frames, 0.0f);
    if (!client_) return;
    for (int ch = 0; ch < 2; ++ch) {
        const std::string name = "in_" + std::to_string(ch + 1);
        ports_[ch] = jack_port_register(client_.get(), name.c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                        JackPortIsInput, 0);
    }
    jack_set_process_callback(client_.get(), &Recorder::Process, this);
    jack_activate(client_.get());
}

Recorder::~Recorder() {
    if (client_) jack_deactivate(client_.get());
}

std::string Recorder::PortName(int channel) const {
    return jack_port_name(ports_[channel]);
}

bool Recorder::ConnectFrom(const std::string& left, const std::string& right) {
    return jack_connect(client_.get(), left.c_str(), PortName(0).c_str()) == 0 &&
           jack_connect(client_.get(), right.c_str(), PortName(1).c_str()) == 0;
}

bool Recorder::WaitStarted(std::chrono::milliseconds timeout) const {
    return WaitUntil([this] { return started_.load(std::memory_order_acquire); }, timeout);
}

bool Recorder::WaitRecordedUntil(jack_nframes_t frame, std::chrono::milliseconds timeout) const {
    return WaitUntil(
        [&] {
            if (!started_.load(std::memory_order_acquire)) return false;
            const long index = IndexOf(frame);
            return index >= 0 && Recorded() >= static_cast<std::size_t>(index);
        },
        timeout);
}

std::span<const float> Recorder::Channel(int channel) const {
    return {data_[channel].data(), Recorded()};
}

int Recorder::Process(jack_nframes_t nframes, void* arg) {
    auto* self = static_cast<Recorder*>(arg);
    const jack_nframes_t now = jack_last_frame_time(self->client_.get());
    if (!self->started_.load(std::memory_order_relaxed)) {
        self->start_.store(now, std::memory_order_relaxed);
        self->started_.store(true, std::memory_order_release);
    }
    const auto index = static_cast<int32_t>(now - self->start_.load(std::memory_order_relaxed));
    if (index < 0) return 0;
    const auto at = static_cast<std::size_t>(index);
    if (at + nframes > self->data_[0].size()) return 0;
    for (int ch = 0; ch < 2; ++ch) {
        const auto* in = static_cast<const float*>(jack_port_get_buffer(self->ports_[ch], nframes));
        std::copy_n(in, nframes, self->data_[ch].begin() + static_cast<long>(at));
    }
    self->recorded_.store(at + nframes, std::memory_order_release);
    return 0;
}

std::vector<std::vector<std::uint8_t>> DryAndPanned(int channel, int side) {
    const auto cc = static_cast<std::uint8_t>(0xB0 | (channel & 0x0F));
    std::vector<std::vector<std::uint8_t>> out;
    // NRPN 120/<generator>: an offset added to a SoundFont generator, data 8192 = none.
    const auto generator = [&](std::uint8_t gen, int offset) {
        const int data = 8192 + offset;
        out.push_back({cc, 99, 120});
        out.push_back({cc, 98, gen});
        out.push_back({cc, 38, static_cast<std::uint8_t>(data & 0x7F)});
        out.push_back({cc, 6, static_cast<std::uint8_t>(data >> 7)});
    };
    generator(15, -1000);                    // chorus send
    generator(16, -1000);                    // reverb send
    generator(17, side < 0 ? -1000 : 1000);  // pan, beyond either end
    out.push_back({cc, 91, 0});
    out.push_back({cc, 93, 0});
    return out;
}

long FirstAbove(std::span<const float> x, long from, long to, float threshold) {
    from = std::max(from, 0L);
    to = std::min(to, static_cast<long>(x.size()));
    for (long i = from; i < to; ++i)
        if (std::fabs(x[static_cast<std::size_t>(i)]) > threshold) return i;
    return -1;
}

float Peak(std::span<const float> x, long from, long to) {
    from = std::max(from, 0L);
    to = std::min(to, static_cast<long>(x.size()));
    float peak = 0.0f;
    for (long i = from; i < to; ++i)
        peak = std::max(peak, std::fabs(x[static_cast<std::size_t>(i)]));
    return peak;
}

double EstimateFrequency(std::span<const float> x, double rate, double minHz, double maxHz) {
    const auto minLag = static_cast<std::size_t>(rate / maxHz);
    const auto maxLag = static_cast<std::size_t>(rate / minHz);
    if (x.size() < 2 * maxLag + 2) return 0;
    const std::size_t n = x.size() - maxLag - 1;
    std::vector<double> r(maxLag + 2, 0.0);
    for (std::size_t lag = minLag; lag <= maxLag + 1; ++lag) {
        double sum = 0, e0 = 0, e1 = 0;
        for (std::size_t i = 0; i < n; ++i) {
            sum += double(x[i]) * x[i + lag];
            e0 += double(x[i]) * x[i];
            e1 += double(x[i + lag]) * x[i + lag];
        }
        r[lag] = (e0 > 0 && e1 > 0) ? sum / std::sqrt(e0 * e1) : 0;
    }
    double best = 0;
    for (std::size_t lag = minLag + 1; lag <= maxLag; ++lag) best = std::max(best, r[lag]);
    if (best <= 0) return 0;
    // The shortest lag that comes close to the best peak is the period; longer ones are
    // its multiples.
    for (std::size_t lag = minLag + 1; lag <= maxLag; ++lag) {
        if (r[lag] >= 0.9 * best && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1]) {
            const double a = r[lag - 1], b = r[lag], c = r[lag + 1];
            const double denom = a - 2 * b + c;
            const double shift = denom != 0 ? 0.5 * (a - c) / denom : 0;
            return rate / (static_cast<double>(lag) + shift);
        }
    }
    return 0;
}

double NoteFrequency(int note) {
    return 440.0 * std::pow(2.0, (note - 69) / 12.0);
}

bool WriteWav(const std::string& path, std::span<const float> left, std::span<const float> right,
              unsigned rate) {
    std::ofstream out(path, std::ios::binary);
    if (!out) return false;
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
    for (std::size_t i = 0; i < frames; ++i) {
        for (float v : {left[i], right[i]}) {
            const float clipped = std::clamp(v, -1.0f, 1.0f);
            put16(static_cast<std::uint16_t>(
                static_cast<std::int16_t>(std::lrint(clipped * 32767.0f))));
        }
    }
    return static_cast<bool>(out);
}

}  // namespace jackrig
