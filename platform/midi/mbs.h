#pragma once

// The MIDI component as the program sees it: a client with an input port, the system's MIDI
// sources as endpoints, the packets a port receives, and the synthesizer (playback.h).

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/framework/core/memoryblock.h"
#include "platform/framework/core/ref.h"
#include "platform/midi/component.h"
#include "platform/midi/playback.h"

namespace mbs {

class MidiInput;
class PortListener;
struct SourceInfo;

// Error codes in Lasterror.
inline constexpr int32_t kMIDINoMidiSystem = -10845;   // no MIDI back-end can work here
inline constexpr int32_t kMIDIInvalidClient = -10830;  // the client did not start

// A text of the component.
class CFStringMBS {
public:
    explicit CFStringMBS(std::string text) : text_(std::move(text)) {}
    std::string Str() const { return text_; }

private:
    std::string text_;
};

fw::Ref<CFStringMBS> NewCFStringMBS(const std::string& text);
// The key of an object's display name.
fw::Ref<CFStringMBS> kMIDIPropertyName();

class MidiObjectMBS {
public:
    virtual ~MidiObjectMBS() = default;
    // The system object behind this one; 0 when there is none.
    int32_t Handle() const { return handle_; }
    // 0 when the last operation succeeded.
    int32_t Lasterror() const { return lasterror_; }

protected:
    int32_t handle_ = 0;
    int32_t lasterror_ = 0;
};

// A MIDI source. An endpoint for a source that has gone connects to nothing.
class MidiEndpointMBS : public MidiObjectMBS {
public:
    MidiEndpointMBS() = default;
    MidiEndpointMBS(uint64_t sourceId, std::string name, std::weak_ptr<MidiInput> input);
    // The endpoint's name for kMIDIPropertyName; nil for other keys and for a nameless source.
    fw::Ref<CFStringMBS> StringProperty(const fw::Ref<CFStringMBS>& key) const;
    uint64_t SourceId() const { return sourceId_; }
    std::weak_ptr<MidiInput> Input() const { return input_; }

private:
    uint64_t sourceId_ = 0;
    std::string name_;
    std::weak_ptr<MidiInput> input_;
};

class MidiPacketMBS {
public:
    explicit MidiPacketMBS(std::vector<uint8_t> bytes)
        : data_(fw::New<fw::MemoryBlock>(std::move(bytes))) {}
    fw::Ref<fw::MemoryBlock> DataMemory() const { return data_; }

private:
    fw::Ref<fw::MemoryBlock> data_;
};

class MidiPacketListMBS {
public:
    explicit MidiPacketListMBS(std::vector<fw::Ref<MidiPacketMBS>> packets)
        : packets_(std::move(packets)) {}
    int32_t Count() const { return static_cast<int32_t>(packets_.size()); }
    // Throws OutOfBoundsException outside the list.
    fw::Ref<MidiPacketMBS> Item(int32_t index) const;

private:
    std::vector<fw::Ref<MidiPacketMBS>> packets_;
};

// An input port. Subclasses take its Read event, which the component raises on its own
// input thread, one delivery at a time and in delivery order.
class MidiPortMBS : public MidiObjectMBS, public std::enable_shared_from_this<MidiPortMBS> {
public:
    MidiPortMBS();
    ~MidiPortMBS() override;

    virtual void Event_Read(fw::Ref<MidiEndpointMBS> endpoint, fw::Ref<MidiPacketListMBS> packets) {
        (void)endpoint, (void)packets;
    }

    // Routes every message that reaches the port to the synthesizer, given the value of the
    // synthesizer's Callback and the synthesizer itself.
    void SetCallback(int64_t callback, const fw::Ref<MidiPlaybackMBS>& player);
    // Subscribes the port to a source; an endpoint of a vanished source connects nothing.
    void ConnectSource(const fw::Ref<MidiEndpointMBS>& source);

    // Whether SetCallback has routed the port to a synthesizer.
    bool IsRouted() const;
    std::shared_ptr<PortListener> Listener() const { return listener_; }
    void Attach(int32_t handle, std::weak_ptr<MidiInput> input);

private:
    std::shared_ptr<PortListener> listener_;
    std::weak_ptr<MidiInput> input_;
};

class MidiClientMBS : public MidiObjectMBS {
public:
    MidiClientMBS();
    ~MidiClientMBS() override;

    void Init(const fw::Ref<CFStringMBS>& name);
    void CreateInputPort(const fw::Ref<CFStringMBS>& name, const fw::Ref<MidiPortMBS>& port);
    int32_t NumberOfSources();
    fw::Ref<MidiEndpointMBS> GetSource(int32_t index);

private:
    std::shared_ptr<MidiInput> input_;
};

}  // namespace mbs
