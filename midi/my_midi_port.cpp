#include "midi/my_midi_port.h"

#include "platform/framework/core/text.h"
#include "platform/midi/decoder.h"

namespace quillet {

void MyMidiPort::Event_Read(fw::Ref<mbs::MidiEndpointMBS> endpoint,
                            fw::Ref<mbs::MidiPacketListMBS> packets) {
    mbs::DebugMessageMBS("endpoint.Handle: " + fw::Hex(endpoint->Handle()));
    count = count + 1;
    std::string c = fw::Str(count);
    int32_t n = packets->Count();
    mbs::DebugMessageMBS(c + " " + fw::Str(n) + " packets.");
    for (int32_t i = 0; i < n; ++i) {
        mbs::DebugMessageMBS(c + " " + fw::Str(i));
        fw::Ref<fw::MemoryBlock> data = packets->Item(i)->DataMemory();
        // An empty packet has no first byte to classify.
        if (data->Size() < 1) continue;
        mbs::PacketKind kind = mbs::ClassifyFirstByte(data->Byte(0));
        if (kind == mbs::PacketKind::Other) mbs::DebugMessageMBS(c + " something else");
        if (kind != mbs::PacketKind::ActiveSensing) mbs::DebugMessageMBS(c + " insertrow");
    }
    mbs::DebugMessageMBS(c + " finished. ");
}

}  // namespace quillet
