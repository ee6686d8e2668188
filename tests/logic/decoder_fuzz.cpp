// Fuzz target for the MIDI byte-stream decoder.
//
// Input layout: byte 0 chooses the SysEx bound (bits 3-7) and how many packet-length bytes
// follow (bits 0-2); those bytes give the lengths of successive packets, cycled, 0 meaning an
// empty packet; the rest is the byte stream.
//
// Checked for every message: a short message has the length its status calls for, data bytes
// below 0x80, a channel below 16 and no undefined status; a SysEx runs F0 ... F7 within the
// bound with only data bytes between. Also: packet boundaries do not change what is decoded,
// and decoding the decoded messages again gives them back unchanged.

#include "decoder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

namespace {

using Message = std::vector<std::uint8_t>;

[[noreturn]] void Fail(const char* what, const Message& m) {
    std::fprintf(stderr, "fuzz_decoder: %s:", what);
    for (std::uint8_t b : m) std::fprintf(stderr, " %02X", b);
    std::fprintf(stderr, "\n");
    std::abort();
}

// Message lengths by status, written out independently of the decoder.
std::size_t ExpectedShortLength(std::uint8_t status) {
    if (status < 0x80) return 0;
    if (status < 0xF0) {
        const std::uint8_t high = status >> 4;
        return (high == 0xC || high == 0xD) ? 2 : 3;
    }
    switch (status) {
        case 0xF1:
        case 0xF3:
            return 2;
        case 0xF2:
            return 3;
        case 0xF6:
        case 0xF8:
        case 0xFA:
        case 0xFB:
        case 0xFC:
        case 0xFE:
        case 0xFF:
            return 1;
        default:
            return 0;  // F0, F7 and the undefined F4, F5, F9, FD never come as short messages
    }
}

void Check(const mbs::MidiMessage& m, std::size_t bound) {
    const auto bytes = m.Bytes();
    const Message copy(bytes.begin(), bytes.end());
    if (copy.size() != m.length) Fail("Bytes() disagrees with length", copy);
    if (m.kind == mbs::MidiMessageKind::SysEx) {
        if (m.length < 2 || m.length > bound) Fail("SysEx length out of bounds", copy);
        if (copy.front() != 0xF0 || copy.back() != 0xF7) Fail("SysEx not framed", copy);
        for (std::size_t i = 1; i + 1 < copy.size(); ++i) {
            if (copy[i] >= 0x80) Fail("status byte inside SysEx", copy);
        }
        return;
    }
    if (m.kind != mbs::MidiMessageKind::Short) Fail("unknown kind", copy);
    const std::size_t expected = ExpectedShortLength(m.bytes[0]);
    if (expected == 0 || m.length != expected) Fail("wrong length for status", copy);
    for (std::size_t i = 1; i < 3; ++i) {
        if (i < m.length ? m.bytes[i] >= 0x80 : m.bytes[i] != 0) Fail("bad data byte", copy);
    }
    if (m.IsChannelMessage() && (m.Channel() < 0 || m.Channel() > 15)) Fail("channel", copy);
}

std::vector<Message> DecodeChecked(std::span<const std::uint8_t> stream,
                                   std::span<const std::uint8_t> lengths, std::size_t bound) {
    mbs::MidiDecoder decoder(bound);
    std::vector<Message> out;
    const auto sink = [&](const mbs::MidiMessage& m) {
        Check(m, decoder.MaxSysExBytes());
        const auto bytes = m.Bytes();
        out.emplace_back(bytes.begin(), bytes.end());
    };
    bool any_length = false;
    for (std::uint8_t l : lengths) any_length = any_length || l != 0;
    std::size_t at = 0;
    std::size_t next = 0;
    while (at < stream.size()) {
        std::size_t n = stream.size() - at;
        if (any_length) {
            n = std::min<std::size_t>(n, lengths[next]);
            next = (next + 1) % lengths.size();
        } else if (!lengths.empty()) {
            decoder.Feed({}, sink);
        }
        decoder.Feed(stream.subspan(at, n), sink);
        at += n;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t header = data[0];
    const std::size_t bound_choice = header >> 3;
    const std::size_t bound =
        bound_choice == 31 ? mbs::MidiDecoder::kDefaultMaxSysExBytes : bound_choice + 1;
    const std::size_t count = std::min<std::size_t>(header & 7, size - 1);
    const std::span<const std::uint8_t> lengths(data + 1, count);
    const std::span<const std::uint8_t> stream(data + 1 + count, size - 1 - count);

    const std::vector<Message> split = DecodeChecked(stream, lengths, bound);
    const std::vector<Message> whole = DecodeChecked(stream, {}, bound);
    if (split != whole) Fail("packet boundaries changed the messages", {});

    Message again;
    for (const Message& m : whole) again.insert(again.end(), m.begin(), m.end());
    if (DecodeChecked(again, {}, bound) != whole) Fail("re-decoding changed the messages", again);
    return 0;
}
