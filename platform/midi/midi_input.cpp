#include "midi_input.h"

namespace mbs {

bool AlsaInputAvailable(std::string& why);
bool JackInputAvailable(std::string& why);
bool LoopbackInputAvailable(std::string& why);

const std::vector<MidiInputBackend>& MidiInputBackends() {
    // In the order they are tried; the loopback one only when asked for by name.
    static const std::vector<MidiInputBackend> backends = {
        {"alsa", AlsaInputAvailable, CreateAlsaInput},
        {"jack", JackInputAvailable, CreateJackInput},
        {"loopback", LoopbackInputAvailable, CreateLoopbackInput},
    };
    return backends;
}

const MidiInputBackend* FindMidiInputBackend(const std::string& name) {
    for (const auto& b : MidiInputBackends())
        if (name == b.name) return &b;
    return nullptr;
}

}  // namespace mbs
