#pragma once

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "decoder.h"

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

// The synthesizer's side of a cycle. All three run on the process callback, in this order:
// BeginCycle, PlayAt for each input event in frame order, EndCycle.
class AudioPart {
public:
    virtual ~AudioPart() = default;
    virtual void BeginCycle(jack_nframes_t nframes) = 0;
    // Plays a message at a frame of the cycle, not before any frame already passed.
    virtual void PlayAt(jack_nframes_t frame, const MidiMessage& message) = 0;
    virtual void EndCycle() = 0;
};

// The MIDI input's side of a cycle; `audio` is the output that plays in this cycle, or null
// when the synthesizer's sound goes elsewhere.
class InputPart {
public:
    virtual ~InputPart() = default;
    virtual void Process(jack_nframes_t nframes, AudioPart* audio) = 0;
};

class Client {
public:
    // The process's client: the open one, or a new one under `name` (never starting a
    // server). Null with the reason in `why` when no JACK server accepts it.
    static std::shared_ptr<Client> Acquire(const std::string& name, std::string& why);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    jack_client_t* get() const { return handle_.get(); }
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
    explicit Client(ClientPtr handle) : handle_(std::move(handle)) {}
    static int Process(jack_nframes_t nframes, void* arg);
    static void PortConnected(jack_port_id_t a, jack_port_id_t b, int connect, void* arg);
    void WaitForCycleEnd() const;

    ClientPtr handle_;
    std::atomic<AudioPart*> audio_{nullptr};
    std::atomic<InputPart*> input_{nullptr};
    std::atomic<bool> inCycle_{false};
    std::atomic<uint64_t> cycles_{0};
    std::atomic<uint64_t> connections_{0};
};

// Whether a JACK server runs and takes clients: a client is opened without starting a
// server, and closed again. The process's own client counts as proof.
bool ServerRuns(std::string& why);

// A JACK status as text, for messages.
std::string DescribeStatus(jack_status_t status);

}  // namespace mbs::jack
