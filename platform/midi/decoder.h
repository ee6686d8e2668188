#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace mbs {

enum class MidiMessageKind : std::uint8_t {
    Short,  // channel, system common or real-time message of 1 to 3 bytes
    SysEx,  // F0 ... F7, bytes in the decoder's buffer
};

// A complete MIDI 1.0 message. Plain data so that a real-time thread can copy it freely.
struct MidiMessage {
    MidiMessageKind kind;
    std::uint8_t bytes[3];      // Short: status, then data bytes; unused bytes are zero
    std::size_t length;         // bytes of the whole message, F0 and F7 included for SysEx
    const std::uint8_t* sysex;  // SysEx only: valid until the decoder is next fed

    std::uint8_t Status() const { return kind == MidiMessageKind::SysEx ? 0xF0 : bytes[0]; }
    std::uint8_t Data1() const { return bytes[1]; }
    std::uint8_t Data2() const { return bytes[2]; }
    bool IsChannelMessage() const { return kind == MidiMessageKind::Short && bytes[0] < 0xF0; }
    int Channel() const { return bytes[0] & 0x0F; }
    std::span<const std::uint8_t> Bytes() const {
        return {kind == MidiMessageKind::SysEx ? sysex : bytes, length};
    }
};

// Note-on with velocity 0 is a note-off by MIDI convention; the decoder passes it unchanged.
bool IsNoteOff(const MidiMessage& message);
// A note-on with a velocity above 0.
bool IsNoteOn(const MidiMessage& message);

// The message made of the bytes of one complete message, as the decoder gave it out; a SysEx
// message refers to `bytes`, which must outlive it.
MidiMessage MessageOfBytes(std::span<const std::uint8_t> bytes);

// Decodes the raw MIDI 1.0 byte stream of one source, keeping running status and any
// message in progress across packets. Allocates only in its constructor, so it can run on
// a real-time thread.
class MidiDecoder {
public:
    static constexpr std::size_t kDefaultMaxSysExBytes = 512;

    // max_sysex_bytes bounds a SysEx message, F0 and F7 included; longer ones are dropped.
    explicit MidiDecoder(std::size_t max_sysex_bytes = kDefaultMaxSysExBytes);

    MidiDecoder(const MidiDecoder&) = delete;
    MidiDecoder& operator=(const MidiDecoder&) = delete;

    // Feeds one byte; returns true and fills `out` when that byte completes a message.
    bool Push(std::uint8_t byte, MidiMessage& out);

    // Feeds one packet, calling sink(const MidiMessage&) for each message it completes.
    template <typename Sink>
    void Feed(std::span<const std::uint8_t> packet, Sink&& sink) {
        MidiMessage message;
        for (std::uint8_t byte : packet) {
            if (Push(byte, message)) sink(static_cast<const MidiMessage&>(message));
        }
    }

    std::size_t MaxSysExBytes() const { return max_sysex_; }

private:
    void StartStatus(std::uint8_t status, MidiMessage& out, bool& complete);

    std::size_t max_sysex_;
    std::unique_ptr<std::uint8_t[]> sysex_buffer_;
    std::size_t sysex_length_ = 0;
    bool in_sysex_ = false;
    bool sysex_overflow_ = false;

    std::uint8_t running_status_ = 0;  // 0: none
    std::uint8_t current_status_ = 0;  // status of the message being assembled; 0: none
    std::uint8_t data_[2] = {};
    std::uint8_t data_needed_ = 0;
    std::uint8_t data_count_ = 0;
};

// Values of the `type` argument of ValidChannelEvent: the channel message's status nibble.
enum ChannelEventType : int {
    kChannelEventNoteOff = 0x80,
    kChannelEventNoteOn = 0x90,
    kChannelEventKeyPressure = 0xA0,
    kChannelEventController = 0xB0,
    kChannelEventProgramChange = 0xC0,
    kChannelEventChannelPressure = 0xD0,
    kChannelEventPitchBend = 0xE0,
};

// Checks a channel event taken from an ALSA sequencer event before it reaches the
// synthesizer. a and b are, by type: note and velocity; note and pressure; controller and
// value; program (b unused); pressure (b unused); pitch bend as ALSA carries it, -8192 to
// 8191 (b unused). Channel must be 0-15 and 7-bit values 0-127.
bool ValidChannelEvent(int type, int channel, int a, int b);

// Kind of a packet by its first byte, for the input port's trace.
enum class PacketKind { NoteOn, NoteOff, Controller, PitchBend, ActiveSensing, Other };

PacketKind ClassifyFirstByte(int b);

}  // namespace mbs
