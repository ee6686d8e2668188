// Fuzz target for the MIDI byte-stream decoder. Byte 0 chooses the SysEx bound (bits 3-7) and
// how many packet-length bytes follow (bits 0-2); those give the lengths of successive packets,
// cycled, 0 meaning an empty packet; the rest is the byte stream.
//
// Every message must be well formed (a short message has its status's length and data bytes
// below 0x80; a SysEx runs F0 ... F7 within the bound with data bytes between), packet
// boundaries must not change what is decoded, and decoding the messages again gives them back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "decoder.h"

namespace {

using Message = std::vector<std::uint8_t>;

// Message lengths by status, written out apart from the decoder; 0: never a short message.
std::size_t ShortLength(std::uint8_t status) {
    if (status < 0x80) return 0;
    if (status < 0xF0) return (status >> 4) == 0xC || (status >> 4) == 0xD ? 2 : 3;
    static const std::uint8_t kSystem[16] = {0, 2, 3, 2, 0, 0, 1, 0, 1, 0, 1, 1, 1, 0, 1, 1};
    return kSystem[status & 0x0F];
}

bool WellFormed(const Message& m, std::size_t bound) {
    if (m.empty()) return false;
    if (m[0] == 0xF0) {
        if (m.size() < 2 || m.size() > bound || m.back() != 0xF7) return false;
        for (std::size_t i = 1; i + 1 < m.size(); ++i)
            if (m[i] >= 0x80) return false;
        return true;
    }
    if (ShortLength(m[0]) != m.size()) return false;
    for (std::size_t i = 1; i < m.size(); ++i)
        if (m[i] >= 0x80) return false;
    return true;
}

std::vector<Message> Decode(std::span<const std::uint8_t> stream,
                            std::span<const std::uint8_t> lengths, std::size_t bound) {
    mbs::MidiDecoder decoder(bound);
    std::vector<Message> out;
    const auto sink = [&](const mbs::MidiMessage& m) {
        out.emplace_back(m.Bytes().begin(), m.Bytes().end());
        if (!WellFormed(out.back(), decoder.MaxSysExBytes())) {
            for (std::uint8_t b : out.back()) std::fprintf(stderr, " %02X", b);
            std::fprintf(stderr, ": not a well-formed message\n");
            std::abort();
        }
    };
    std::size_t at = 0, next = 0, empties = 0;
    while (at < stream.size()) {
        std::size_t n = stream.size() - at;
        if (!lengths.empty()) n = std::min<std::size_t>(n, lengths[next++ % lengths.size()]);
        // Only empty packets: the rest goes in one.
        empties = n == 0 ? empties + 1 : 0;
        if (empties > lengths.size()) n = stream.size() - at;
        decoder.Feed(stream.subspan(at, n), sink);
        at += n;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t choice = data[0] >> 3;
    const std::size_t bound = choice == 31 ? mbs::MidiDecoder::kDefaultMaxSysExBytes : choice + 1;
    const std::size_t count = std::min<std::size_t>(data[0] & 7, size - 1);
    const std::span<const std::uint8_t> stream(data + 1 + count, size - 1 - count);
    const std::vector<Message> whole = Decode(stream, {}, bound);
    Message again;
    for (const Message& m : whole) again.insert(again.end(), m.begin(), m.end());
    if (Decode(stream, {data + 1, count}, bound) != whole || Decode(again, {}, bound) != whole) {
        std::fprintf(stderr, "packet boundaries or decoding again changed the messages\n");
        std::abort();
    }
    return 0;
}
