#pragma once

#include <cstdint>

#include "platform/midi/mbs.h"

namespace quillet {

// The application's one MIDI input port. Playing does not pass through it: the port is routed
// to the synthesizer. It counts deliveries and writes a trace of each to the debug output.
class MyMidiPort : public mbs::MidiPortMBS {
public:
    // Deliveries handled so far, by every source together.
    int32_t count = 0;

    void Event_Read(fw::Ref<mbs::MidiEndpointMBS> endpoint,
                    fw::Ref<mbs::MidiPacketListMBS> packets) override;
};

}  // namespace quillet
