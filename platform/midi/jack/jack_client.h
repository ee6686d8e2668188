#pragma once

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "decoder.h"
#include "platform/framework/core/waker.h"

// The one JACK client of the process ("Velunor"), shared by the JACK audio output and the
// JACK MIDI input: JACK gives a client one process callback, and the input's events must be
// played by the output within the same cycle, at their frames.
namespace mbs::jack {

inline constexpr const char* kDefaultClientName = "Velunor";

struct ClientCloser {
    void operator()(jack_client_t* c) const noexcept {
        jack_deactivate(c);
        jack_client_close(c);
    }
};
using ClientPtr = std::unique_ptr<jack_client_t, ClientCloser>;

// What jack_get_ports and jack_port_get_all_connections return, freed with jack_free.
struct PortListFree {
    void operator()(const char** list) const noexcept { jack_free(static_cast<void*>(list)); }
};
using PortList = std::unique_ptr<const char*, PortListFree>;

// A port of a client, unregistered when it goes.
struct PortUnregister {
    jack_client_t* client = nullptr;
    void operator()(jack_port_t* port) const noexcept { jack_port_unregister(client, port); }
};
using PortPtr = std::unique_ptr<jack_port_t, PortUnregister>;

// What takes part in the cycles. The server may go away and another come: the client then
// tells its parts, on a thread of its own while no cycle runs, that their ports are gone
// (Detached: they forget them, without unregistering from a client that no longer exists), and
// then, on the new server's client, which runs its cycles without them until they are done,
// to register them again (Reattached).
class Part {
public:
    virtual ~Part() = default;
    virtual void Detached() = 0;
    virtual void Reattached(jack_client_t* client) = 0;
};

// The synthesizer's side of a cycle. All three run on the process callback, in this order:
// BeginCycle, PlayAt for each input event in frame order, EndCycle.
class AudioPart : public Part {
public:
    virtual void BeginCycle(jack_nframes_t nframes) = 0;
    // Plays a message at a frame of the cycle, not before any frame already passed.
    virtual void PlayAt(jack_nframes_t frame, const MidiMessage& message) = 0;
    virtual void EndCycle() = 0;
};

// The MIDI input's side of a cycle; `audio` is the output that plays in this cycle, or null
// when the synthesizer's sound goes elsewhere.
class InputPart : public Part {
public:
    virtual void Process(jack_nframes_t nframes, AudioPart* audio) = 0;
    // Another client registered a port: a keyboard may have come back. On the client's
    // thread, with its lock held.
    virtual void PortsChanged() = 0;
};

class Client {
public:
    // The process's client: the open one, or a new one under `name` (never starting a
    // server). Null with the reason in `why` when no JACK server accepts it.
    static std::shared_ptr<Client> Acquire(const std::string& name, std::string& why);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // The handle, for the audio thread, and for others while they hold Lock(), which keeps it
    // from being replaced meanwhile. Null while no server runs.
    jack_client_t* get() const { return handle_.get(); }
    std::unique_lock<std::mutex> Lock() const { return std::unique_lock(handleMutex_); }
    // The client's name on the server, which may add a number to the name asked for.
    std::string Name() const;

    // A part takes part in the cycles from the next one on. Detach returns once no cycle
    // uses the part any more.
    void AttachAudio(AudioPart* part);
    void DetachAudio(AudioPart* part);
    void AttachInput(InputPart* part);
    void DetachInput(InputPart* part);

    // Rises whenever a connection between any two ports is made or broken.
    uint64_t ConnectionGeneration() const { return connections_.load(std::memory_order_acquire); }

private:
    Client() = default;
    // A client on the server with the callbacks set, active; null with the reason when none.
    ClientPtr Open(std::string& why);
    static int Process(jack_nframes_t nframes, void* arg);
    static void PortConnected(jack_port_id_t a, jack_port_id_t b, int connect, void* arg);
    static void PortRegistered(jack_port_id_t port, int registered, void* arg);
    static void ServerGone(jack_status_t status, const char* reason, void* arg);
    void WaitForCycleEnd() const;
    // The thread that notices the server going and, while none runs, looks for one twice a
    // second and reattaches the parts to it.
    void Watch();
    void Reattach();
    std::vector<Part*> Parts() const;

    std::string name_;
    mutable std::mutex handleMutex_;
    ClientPtr handle_;
    std::atomic<AudioPart*> audio_{nullptr};
    std::atomic<InputPart*> input_{nullptr};
    std::atomic<bool> partsTakePart_{true};
    std::atomic<bool> inCycle_{false};
    std::atomic<uint64_t> cycles_{0};
    std::atomic<uint64_t> connections_{0};
    std::atomic<bool> serverGone_{false};
    std::atomic<bool> portsChanged_{false};
    std::atomic<bool> stopping_{false};
    fw::Waker waker_;
    std::thread watcher_;
};

// Whether a JACK server runs and takes clients: a client is opened without starting a
// server, and closed again. The process's own client counts as proof.
bool ServerRuns(std::string& why);

// A JACK status as text, for messages.
std::string DescribeStatus(jack_status_t status);

}  // namespace mbs::jack
