#include "jack/jack_client.h"

#include <poll.h>
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <mutex>
#include <vector>

#include "debug_output.h"

namespace mbs::jack {

namespace {

// libjack reports a missing server; that is a normal answer when looking for one, so its
// complaints are kept back while a client opens. Its reports may come from the audio thread.
std::atomic<int> quietJack{0};

void JackReport(const char* message) {
    if (quietJack.load(std::memory_order_relaxed) == 0) DebugText("JACK:", message);
}

void InstallErrorFunction() {
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(JackReport);
        jack_set_info_function(JackReport);
    });
}

struct QuietJack {
    QuietJack() { quietJack.fetch_add(1); }
    ~QuietJack() { quietJack.fetch_sub(1); }
};

std::mutex& ClientMutex() {
    static std::mutex m;
    return m;
}

std::weak_ptr<Client>& SharedClient() {
    static std::weak_ptr<Client> client;
    return client;
}

// libjack writes to the server's socket without MSG_NOSIGNAL: a server that goes away (or
// is just starting) would end the whole program with SIGPIPE. Nothing of ours relies on
// SIGPIPE, so it is ignored unless someone has set a handler.
void IgnoreBrokenPipes() {
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        std::signal(SIGPIPE, SIG_IGN);
}

// libjack's complaints while a client opens say no more than its status, which goes to `why`.
ClientPtr OpenClient(const std::string& name, std::string& why) {
    InstallErrorFunction();
    IgnoreBrokenPipes();
    QuietJack silence;
    jack_status_t status{};
    ClientPtr client(jack_client_open(name.c_str(), JackNoStartServer, &status));
    if (!client && (status & JackServerFailed))
        why = "no JACK server runs here (" + DescribeStatus(status) + ")";
    else if (!client)
        why = "the JACK server did not take the client (" + DescribeStatus(status) + ")";
    return client;
}

}  // namespace

std::string DescribeStatus(jack_status_t status) {
    struct Bit {
        int bit;
        const char* text;
    };
    static constexpr Bit kBits[] = {
        {JackFailure, "failure"},
        {JackInvalidOption, "invalid option"},
        {JackNameNotUnique, "name not unique"},
        {JackServerStarted, "server started"},
        {JackServerFailed, "cannot connect to the server"},
        {JackServerError, "communication error with the server"},
        {JackNoSuchClient, "no such client"},
        {JackLoadFailure, "cannot load internal client"},
        {JackInitFailure, "cannot initialize client"},
        {JackShmFailure, "cannot access shared memory"},
        {JackVersionError, "client's protocol version does not match"},
        {JackBackendError, "back-end error"},
        {JackClientZombie, "client zombified"},
    };
    std::string text;
    for (const Bit& b : kBits) {
        if ((status & b.bit) == 0) continue;
        if (!text.empty()) text += ", ";
        text += b.text;
    }
    return text.empty() ? "status 0" : text;
}

std::shared_ptr<Client> Client::Acquire(const std::string& name, std::string& why) {
    std::lock_guard lock(ClientMutex());
    if (auto existing = SharedClient().lock()) return existing;
    std::shared_ptr<Client> client(new Client);
    client->name_ = name;
    client->handle_ = client->Open(why);
    if (!client->handle_ || !client->waker_.Valid()) return nullptr;
    client->watcher_ = std::thread([c = client.get()] { c->Watch(); });
    SharedClient() = client;
    return client;
}

ClientPtr Client::Open(std::string& why) {
    ClientPtr handle = OpenClient(name_, why);
    if (!handle) return nullptr;
    // Callbacks can only be set before activation, so the client is made ready for both
    // parts now and they join later.
    jack_set_process_callback(handle.get(), &Client::Process, this);
    jack_set_port_connect_callback(handle.get(), &Client::PortConnected, this);
    jack_set_port_registration_callback(handle.get(), &Client::PortRegistered, this);
    jack_on_info_shutdown(handle.get(), &Client::ServerGone, this);
    if (int err = jack_activate(handle.get()); err != 0) {
        why = "the JACK server did not activate the client (error " + std::to_string(err) + ")";
        return nullptr;
    }
    return handle;
}

Client::~Client() {
    stopping_.store(true);
    waker_.Wake();
    if (watcher_.joinable()) watcher_.join();
}

std::string Client::Name() const {
    return handle_ ? jack_get_client_name(handle_.get()) : name_;
}

int Client::Process(jack_nframes_t nframes, void* arg) {
    auto* self = static_cast<Client*>(arg);
    // Set before the parts are read, so that a Detach that cleared a part before this load
    // sees the cycle and waits for it.
    self->inCycle_.store(true);
    if (self->partsTakePart_.load()) {
        AudioPart* audio = self->audio_.load();
        InputPart* input = self->input_.load();
        if (audio) audio->BeginCycle(nframes);
        if (input) input->Process(nframes, audio);
        if (audio) audio->EndCycle();
    }
    self->cycles_.fetch_add(1);
    self->inCycle_.store(false);
    self->cycles_.notify_all();
    return 0;
}

void Client::PortConnected(jack_port_id_t, jack_port_id_t, int, void* arg) {
    static_cast<Client*>(arg)->connections_.fetch_add(1, std::memory_order_acq_rel);
}

void Client::PortRegistered(jack_port_id_t, int registered, void* arg) {
    auto* self = static_cast<Client*>(arg);
    if (!registered) return;
    self->portsChanged_.store(true);
    self->waker_.Wake();
}

// As from a signal handler: JACK calls it from a thread of its own, in the middle of things.
void Client::ServerGone(jack_status_t, const char*, void* arg) {
    auto* self = static_cast<Client*>(arg);
    self->serverGone_.store(true);
    self->waker_.Wake();
}

void Client::WaitForCycleEnd() const {
    // Only a cycle that started before the part was cleared can still be using it: wait
    // until no cycle runs or the one running has ended. Never called on the audio thread.
    const uint64_t cycle = cycles_.load();
    if (inCycle_.load()) cycles_.wait(cycle);
}

void Client::Watch() {
    pollfd fd{waker_.Fd(), POLLIN, 0};
    while (!stopping_.load()) {
        const bool looking = !handle_;
        if (poll(&fd, 1, looking ? 500 : -1) < 0 && errno != EINTR) return;
        waker_.Clear();
        if (stopping_.load()) return;
        if (serverGone_.exchange(false) && handle_) {
            std::fprintf(stderr,
                         "quillet: the JACK server went away; the sound comes back when a JACK "
                         "server runs again\n");
            // No cycle uses the parts from now on; their ports go with the client.
            partsTakePart_.store(false);
            WaitForCycleEnd();
            ClientPtr gone;
            {
                std::lock_guard lock(handleMutex_);
                for (Part* part : Parts()) part->Detached();
                gone = std::move(handle_);
            }
        }
        if (!handle_) Reattach();
        if (portsChanged_.exchange(false) && handle_) {
            std::lock_guard lock(handleMutex_);
            if (InputPart* input = input_.load()) input->PortsChanged();
        }
    }
}

void Client::Reattach() {
    std::string why;
    ClientPtr handle;
    {
        QuietJack silence;
        handle = Open(why);
    }
    if (!handle) return;
    {
        std::lock_guard lock(handleMutex_);
        handle_ = std::move(handle);
        for (Part* part : Parts()) part->Reattached(handle_.get());
    }
    partsTakePart_.store(true);
    std::fprintf(stderr, "quillet: reattached to the JACK server as %s\n", Name().c_str());
}

std::vector<Part*> Client::Parts() const {
    std::vector<Part*> parts;
    if (AudioPart* audio = audio_.load()) parts.push_back(audio);
    if (InputPart* input = input_.load()) parts.push_back(input);
    return parts;
}

void Client::AttachAudio(AudioPart* part) {
    audio_.store(part);
}

void Client::DetachAudio(AudioPart* part) {
    AudioPart* expected = part;
    audio_.compare_exchange_strong(expected, nullptr);
    WaitForCycleEnd();
}

void Client::AttachInput(InputPart* part) {
    input_.store(part);
}

void Client::DetachInput(InputPart* part) {
    InputPart* expected = part;
    input_.compare_exchange_strong(expected, nullptr);
    WaitForCycleEnd();
}

bool ServerRuns(std::string& why) {
    {
        std::lock_guard lock(ClientMutex());
        if (!SharedClient().expired()) return true;
    }
    return OpenClient("quillet-probe", why) != nullptr;
}

}  // namespace mbs::jack
