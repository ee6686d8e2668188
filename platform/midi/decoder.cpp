#include "decoder.h"

#include <algorithm>

namespace mbs {
namespace {

constexpr std::uint8_t kSysExStart = 0xF0;
constexpr std::uint8_t kSysExEnd = 0xF7;

// Smallest SysEx that can be delivered: F0 F7.
constexpr std::size_t kMinSysExBytes = 2;

bool IsRealTime(std::uint8_t b) {
    return b >= 0xF8;
}

// F9 and FD are reserved real-time bytes; F4 and F5 reserved system-common bytes.
bool IsUndefined(std::uint8_t b) {
    return b == 0xF4 || b == 0xF5 || b == 0xF9 || b == 0xFD;
}

// Data bytes that follow a status byte, for the statuses that have a fixed length.
std::uint8_t DataBytesFor(std::uint8_t status) {
    switch (status & 0xF0) {
        case 0xC0:
        case 0xD0:
            return 1;
        case 0xF0:
            break;
        default:
            return 2;
    }
    switch (status) {
        case 0xF1:  // MTC quarter frame
        case 0xF3:  // song select
            return 1;
        case 0xF2:  // song position pointer
            return 2;
        default:
            return 0;
    }
}

MidiMessage ShortMessage(std::uint8_t status, std::uint8_t d1, std::uint8_t d2,
                         std::size_t length) {
    MidiMessage m{};
    m.kind = MidiMessageKind::Short;
    m.bytes[0] = status;
    m.bytes[1] = length > 1 ? d1 : 0;
    m.bytes[2] = length > 2 ? d2 : 0;
    m.length = length;
    m.sysex = nullptr;
    return m;
}

}  // namespace

MidiMessage MessageOfBytes(std::span<const std::uint8_t> bytes) {
    MidiMessage m{};
    m.length = bytes.size();
    if (!bytes.empty() && bytes[0] == 0xF0) {
        m.kind = MidiMessageKind::SysEx;
        m.sysex = bytes.data();
    } else {
        m.kind = MidiMessageKind::Short;
        std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), sizeof m.bytes), m.bytes);
    }
    return m;
}

bool IsNoteOn(const MidiMessage& m) {
    return m.IsChannelMessage() && (m.Status() & 0xF0) == 0x90 && m.Data2() > 0;
}

bool IsNoteOff(const MidiMessage& message) {
    if (message.kind != MidiMessageKind::Short) return false;
    const std::uint8_t high = message.bytes[0] & 0xF0;
    return high == 0x80 || (high == 0x90 && message.bytes[2] == 0);
}

MidiDecoder::MidiDecoder(std::size_t max_sysex_bytes)
    : max_sysex_(std::max(max_sysex_bytes, kMinSysExBytes)),
      sysex_buffer_(std::make_unique<std::uint8_t[]>(max_sysex_)) {}

void MidiDecoder::StartStatus(std::uint8_t status, MidiMessage& out, bool& complete) {
    // Whatever was being assembled is incomplete and is dropped.
    current_status_ = 0;
    data_count_ = 0;

    if (status < 0xF0) {
        running_status_ = status;
        current_status_ = status;
        data_needed_ = DataBytesFor(status);
        return;
    }

    // Every system-common byte, undefined ones included, cancels running status.
    running_status_ = 0;
    if (IsUndefined(status) || status == kSysExEnd) return;

    if (status == kSysExStart) {
        in_sysex_ = true;
        sysex_overflow_ = false;
        sysex_buffer_[0] = kSysExStart;
        sysex_length_ = 1;
        return;
    }

    data_needed_ = DataBytesFor(status);
    if (data_needed_ == 0) {
        out = ShortMessage(status, 0, 0, 1);
        complete = true;
        return;
    }
    current_status_ = status;
}

bool MidiDecoder::Push(std::uint8_t byte, MidiMessage& out) {
    if (IsRealTime(byte)) {
        if (IsUndefined(byte)) return false;
        out = ShortMessage(byte, 0, 0, 1);
        return true;
    }

    if (in_sysex_) {
        if (byte < 0x80) {
            // Keep room for the closing F7.
            if (sysex_length_ + 1 < max_sysex_) {
                sysex_buffer_[sysex_length_++] = byte;
            } else {
                sysex_overflow_ = true;
            }
            return false;
        }
        in_sysex_ = false;
        if (byte == kSysExEnd) {
            running_status_ = 0;
            if (sysex_overflow_) return false;
            sysex_buffer_[sysex_length_++] = kSysExEnd;
            MidiMessage m{};
            m.kind = MidiMessageKind::SysEx;
            m.length = sysex_length_;
            m.sysex = sysex_buffer_.get();
            out = m;
            return true;
        }
        // Unterminated SysEx: dropped, and the byte starts what comes next.
    }

    if (byte >= 0x80) {
        bool complete = false;
        StartStatus(byte, out, complete);
        return complete;
    }

    if (current_status_ == 0) {
        if (running_status_ == 0) return false;  // stray data byte
        current_status_ = running_status_;
        data_needed_ = DataBytesFor(running_status_);
        data_count_ = 0;
    }

    data_[data_count_++] = byte;
    if (data_count_ < data_needed_) return false;

    out = ShortMessage(current_status_, data_[0], data_[1], 1 + data_needed_);
    data_count_ = 0;
    // A channel message leaves running status for the next data bytes; a system-common
    // message has already cancelled it.
    current_status_ = running_status_;
    return true;
}

bool ValidChannelEvent(int type, int channel, int a, int b) {
    if (channel < 0 || channel > 15) return false;
    const auto is7bit = [](int v) { return v >= 0 && v <= 127; };
    switch (type) {
        case kChannelEventNoteOff:
        case kChannelEventNoteOn:
        case kChannelEventKeyPressure:
        case kChannelEventController:
            return is7bit(a) && is7bit(b);
        case kChannelEventProgramChange:
        case kChannelEventChannelPressure:
            return is7bit(a);
        case kChannelEventPitchBend:
            return a >= -8192 && a <= 8191;
        default:
            return false;
    }
}

PacketKind ClassifyFirstByte(int b) {
    if (b >= 0x90 && b <= 0x9F) return PacketKind::NoteOn;
    if (b >= 0x80 && b <= 0x8F) return PacketKind::NoteOff;
    if (b >= 0xB0 && b <= 0xBF) return PacketKind::Controller;
    if (b >= 0xE0 && b <= 0xEF) return PacketKind::PitchBend;
    if (b == 0xFE) return PacketKind::ActiveSensing;
    return PacketKind::Other;
}

}  // namespace mbs
