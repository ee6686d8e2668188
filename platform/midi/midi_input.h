#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "decoder.h"

namespace mbs {

// A source as a MIDI back-end sees it: its own identifier and the name other tools show.
struct SourceInfo {
    uint64_t id = 0;
    std::string name;
};

// One delivery to the input port: the bytes of one or more messages per packet.
struct Delivery {
    uint64_t sourceId = 0;
    std::string sourceName;
    std::vector<std::vector<uint8_t>> packets;
};

// What an input back-end hands its messages to. Called on the back-end's input thread,
// never on a real-time audio thread, one call at a time.
class InputListener {
public:
    virtual ~InputListener() = default;
    // A complete, valid message for the synthesizer (kept for the route when the port is not
    // routed yet).
    virtual void Play(const MidiMessage& message) = 0;
    // The delivery as it arrived, for the port's Read event.
    virtual void Deliver(Delivery delivery) = 0;
    // Whether the port has been routed to the synthesizer; a back-end that plays messages
    // itself (on a real-time thread) asks this first. Lock-free.
    virtual bool Routed() const = 0;
};

// A MIDI input back-end: one client with one input port. Each lives in its own file and
// says at run time whether it can work here.
class MidiInput {
public:
    virtual ~MidiInput() = default;
    virtual const char* Name() const = 0;
    // 0 on success, else an error code.
    virtual int32_t Open(const std::string& clientName) = 0;
    // The port's handle (non-zero) on success, else 0 with the error code in `error`.
    virtual int32_t CreatePort(const std::string& portName, InputListener* listener,
                               int32_t& error) = 0;
    virtual std::vector<SourceInfo> Sources() = 0;
    // False when the source is gone or the port does not exist.
    virtual bool Connect(uint64_t sourceId) = 0;
    // Stops the input thread before the listener goes away.
    virtual void Close() = 0;
};

struct MidiInputBackend {
    const char* name;
    bool (*available)(std::string& why);
    std::unique_ptr<MidiInput> (*create)();
};

const std::vector<MidiInputBackend>& MidiInputBackends();
const MidiInputBackend* FindMidiInputBackend(const std::string& name);

std::unique_ptr<MidiInput> CreateAlsaInput();
std::unique_ptr<MidiInput> CreateJackInput();
std::unique_ptr<MidiInput> CreateLoopbackInput();

}  // namespace mbs
