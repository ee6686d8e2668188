#include "jack/jack_client.h"

#include "debug_output.h"

#include <signal.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>

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
    ClientPtr handle = OpenClient(name, why);
    if (!handle) return nullptr;
    std::shared_ptr<Client> client(new Client(std::move(handle)));
    // Callbacks can only be set before activation, so the client is made ready for both
    // parts now and they join later.
    jack_set_process_callback(client->get(), &Client::Process, client.get());
    jack_set_port_connect_callback(client->get(), &Client::PortConnected, client.get());
    if (int err = jack_activate(client->get()); err != 0) {
        why = "the JACK server did not activate the client (error " + std::to_string(err) + ")";
        return nullptr;
    }
    SharedClient() = client;
    return client;
}

Client::~Client() = default;

std::string Client::Name() const {
    return jack_get_client_name(handle_.get());
}

int Client::Process(jack_nframes_t nframes, void* arg) {
    auto* self = static_cast<Client*>(arg);
    // Set before the parts are read, so that a Detach that cleared a part before this load
    // sees the cycle and waits for it.
    self->inCycle_.store(true);
    AudioPart* audio = self->audio_.load();
    InputPart* input = self->input_.load();
    if (audio) audio->BeginCycle(nframes);
    if (input) input->Process(nframes, audio);
    if (audio) audio->EndCycle();
    self->cycles_.fetch_add(1);
    self->inCycle_.store(false);
    return 0;
}

void Client::PortConnected(jack_port_id_t, jack_port_id_t, int, void* arg) {
    static_cast<Client*>(arg)->connections_.fetch_add(1, std::memory_order_acq_rel);
}

void Client::WaitForCycleEnd() const {
    // Only a cycle that started before the part was cleared can still be using it: wait
    // until no cycle runs or the one running has ended. Never called on the audio thread.
    const uint64_t cycle = cycles_.load();
    while (inCycle_.load() && cycles_.load() == cycle)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
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
