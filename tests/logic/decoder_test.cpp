#include "decoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<Bytes> Decode(const std::vector<Bytes>& packets, std::size_t bound = 512) {
    mbs::MidiDecoder decoder(bound);
    std::vector<Bytes> out;
    for (const Bytes& packet : packets)
        decoder.Feed(packet, [&](const mbs::MidiMessage& m) {
            out.emplace_back(m.Bytes().begin(), m.Bytes().end());
        });
    return out;
}

// A SysEx message of `total` bytes, F0 and F7 included.
Bytes SysEx(std::size_t total) {
    Bytes b(total, 0x11);
    b.front() = 0xF0;
    b.back() = 0xF7;
    return b;
}

const Bytes kGmReset = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};

TEST(MidiDecoder, DeliversExactlyTheExpectedMessages) {
    const struct {
        const char* name;
        std::vector<Bytes> packets, expected;
        std::size_t bound = 512;
    } cases[] = {
        // clang-format off
        {"channel messages", {{0x80, 0x3C, 0x40, 0xA1, 0x3C, 0x20, 0xD2, 0x55, 0xB0, 0x40, 0x7F, 0xC0, 0x0F, 0xE0, 0x00, 0x40}},
         {{0x80, 0x3C, 0x40}, {0xA1, 0x3C, 0x20}, {0xD2, 0x55}, {0xB0, 0x40, 0x7F}, {0xC0, 0x0F}, {0xE0, 0x00, 0x40}}},
        {"velocity 0 unchanged, last channel", {{0x9F, 0x7F, 0x00}}, {{0x9F, 0x7F, 0x00}}},
        {"split at every byte, empty packets", {{}, {0x90}, {}, {0x3C}, {0x64}, {}}, {{0x90, 0x3C, 0x64}}},
        {"running status across packets", {{0x90, 0x3C}, {0x64, 0x3E}, {0x64}, {0x40, 0x7F}},
         {{0x90, 0x3C, 0x64}, {0x90, 0x3E, 0x64}, {0x90, 0x40, 0x7F}}},
        {"running status of two-byte messages", {{0xC3, 0x05}, {0x06}}, {{0xC3, 0x05}, {0xC3, 0x06}}},
        {"new status replaces running status", {{0x90, 0x3C, 0x64, 0xB1, 0x07, 0x64, 0x0A, 0x40}},
         {{0x90, 0x3C, 0x64}, {0xB1, 0x07, 0x64}, {0xB1, 0x0A, 0x40}}},
        {"real-time inside a note keeps it", {{0x90, 0xF8, 0x3C}, {0xFF}, {0x64}}, {{0xF8}, {0xFF}, {0x90, 0x3C, 0x64}}},
        {"real-time keeps running status", {{0x90, 0x3C, 0x64, 0xFA, 0x3E, 0xFC, 0x64}},
         {{0x90, 0x3C, 0x64}, {0xFA}, {0xFC}, {0x90, 0x3E, 0x64}}},
        {"real-time inside SysEx", {{0xF0, 0x7E, 0x7F}, {0xF8}, {0x09, 0x01}, {}, {0xFE, 0xF7}}, {{0xF8}, {0xFE}, kGmReset}},
        {"shortest SysEx", {{0xF0, 0xF7}}, {{0xF0, 0xF7}}},
        {"system common cancels running status", {{0x90, 0x3C, 0x64, 0xF3, 0x05, 0x3E, 0x64, 0xF6, 0x3E}},
         {{0x90, 0x3C, 0x64}, {0xF3, 0x05}, {0xF6}}},
        {"quarter frame, song position", {{0xF1, 0x23, 0xF2, 0x10}, {0x20}}, {{0xF1, 0x23}, {0xF2, 0x10, 0x20}}},
        {"SysEx cancels running status", {{0x90, 0x3C, 0x64, 0xF0, 0x7D, 0xF7, 0x3E, 0x64}}, {{0x90, 0x3C, 0x64}, {0xF0, 0x7D, 0xF7}}},
        {"stray data", {{0x3C, 0x64}, {0x7F, 0x90, 0x3C, 0x64}, {0xF3, 0x01, 0x02, 0x03}}, {{0x90, 0x3C, 0x64}, {0xF3, 0x01}}},
        {"F4 and F5 dropped, cancel running status", {{0x90, 0x3C, 0x64, 0xF4, 0x3E, 0x64}, {0x90, 0x3C, 0xF5, 0x64}},
         {{0x90, 0x3C, 0x64}}},
        {"F9 and FD dropped, note kept", {{0x90, 0xF9, 0x3C, 0xFD, 0x64}}, {{0x90, 0x3C, 0x64}}},
        {"truncated by a status", {{0x90, 0x3C}, {0x80, 0x3C, 0x40, 0x3E, 0xF6, 0xF2, 0x10, 0x90, 0x3C, 0x64}},
         {{0x80, 0x3C, 0x40}, {0xF6}, {0x90, 0x3C, 0x64}}},
        {"stray end of SysEx cancels running status", {{0x90, 0x3C, 0x64, 0xF7, 0x3E, 0x64}}, {{0x90, 0x3C, 0x64}}},
        {"SysEx at the bound", {{0xF0, 1, 2, 3, 4, 5, 6, 0xF7}}, {{0xF0, 1, 2, 3, 4, 5, 6, 0xF7}}, 8},
        {"SysEx over the bound dropped whole", {{0xF0, 1, 2, 3}, {4, 5, 6, 7, 8}, {0xF7, 0xF0, 9, 0xF7}}, {{0xF0, 9, 0xF7}}, 8},
        {"default bound", {SysEx(512), {0xC0, 0x01}}, {SysEx(512), {0xC0, 0x01}}},
        {"default bound plus one", {SysEx(513), {0xC0, 0x01}}, {{0xC0, 0x01}}},
        {"unterminated SysEx ended by a note", {{0xF0, 0x7E}, {0x7F, 0x90, 0x3C}, {0x64}}, {{0x90, 0x3C, 0x64}}},
        {"unterminated SysEx ended by SysEx", {{0xF0, 0x01, 0x02, 0xF0, 0x03, 0xF7}}, {{0xF0, 0x03, 0xF7}}},
        {"unterminated SysEx ended by undefined", {{0xF0, 0x01, 0xF4, 0xF7, 0x90, 0x3C, 0x64}}, {{0x90, 0x3C, 0x64}}},
        {"over-long unterminated SysEx ended by a note", {{0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 0x90, 0x3C, 0x64}}, {{0x90, 0x3C, 0x64}}, 8},
        // clang-format on
    };
    for (const auto& c : cases) EXPECT_EQ(Decode(c.packets, c.bound), c.expected) << c.name;
}

TEST(MidiDecoder, SplittingAStreamAnywhereGivesTheSameMessages) {
    const Bytes stream = {0x3C, 0x90, 0x3C, 0x64, 0xF8, 0x3E, 0x64, 0xF0, 0x7E, 0xFE, 0x7F, 0x09,
                          0x01, 0xF7, 0xB0, 0x40, 0x7F, 0xF4, 0x40, 0xC2, 0x05, 0x06, 0xF6};
    const std::vector<Bytes> whole = Decode({stream});
    ASSERT_EQ(whole, (std::vector<Bytes>{{0x90, 0x3C, 0x64},
                                         {0xF8},
                                         {0x90, 0x3E, 0x64},
                                         {0xFE},
                                         kGmReset,
                                         {0xB0, 0x40, 0x7F},
                                         {0xC2, 0x05},
                                         {0xC2, 0x06},
                                         {0xF6}}));
    for (auto a = stream.begin(); a <= stream.end(); ++a)
        for (auto b = a; b <= stream.end(); ++b)
            EXPECT_EQ(Decode({{stream.begin(), a}, {a, b}, {b, stream.end()}}), whole)
                << "split at " << a - stream.begin() << " and " << b - stream.begin();
}

TEST(MidiDecoder, ValidChannelEventsAndTraceKinds) {
    using namespace mbs;
    const struct {
        int type, channel, a, b;
        bool valid;
    } events[] = {
        {kChannelEventNoteOn, 15, 127, 127, true},
        {kChannelEventNoteOn, 0, 60, 0, true},
        {kChannelEventNoteOn, 0, 128, 100, false},
        {kChannelEventNoteOn, 0, -1, 100, false},
        {kChannelEventNoteOn, 0, 60, 128, false},
        {kChannelEventNoteOn, 16, 60, 100, false},
        {kChannelEventNoteOn, -1, 60, 100, false},
        {kChannelEventNoteOff, 3, 60, 128, false},
        {kChannelEventKeyPressure, 9, 60, 128, false},
        {kChannelEventController, 0, 128, 0, false},
        {kChannelEventController, 0, 7, 128, false},
        {kChannelEventProgramChange, 0, 5, 999, true},
        {kChannelEventProgramChange, 0, 128, 0, false},
        {kChannelEventChannelPressure, 2, 128, 0, false},
        {kChannelEventPitchBend, 0, -8192, 0, true},
        {kChannelEventPitchBend, 0, 8191, 0, true},
        {kChannelEventPitchBend, 0, -8193, 0, false},
        {kChannelEventPitchBend, 0, 8192, 0, false},
        {0xF0, 0, 0, 0, false},
        {0x91, 0, 60, 100, false},
    };
    for (const auto& e : events)
        EXPECT_EQ(ValidChannelEvent(e.type, e.channel, e.a, e.b), e.valid)
            << std::hex << e.type << " " << e.channel << " " << e.a << " " << e.b;

    const std::pair<int, PacketKind> kinds[] = {
        {0x90, PacketKind::NoteOn},    {0x9F, PacketKind::NoteOn},
        {0x8F, PacketKind::NoteOff},   {0xB0, PacketKind::Controller},
        {0xEF, PacketKind::PitchBend}, {0xFE, PacketKind::ActiveSensing},
        {0x3C, PacketKind::Other},     {0xA0, PacketKind::Other},
        {0xC0, PacketKind::Other},     {0xF0, PacketKind::Other},
        {-1, PacketKind::Other},       {0x190, PacketKind::Other},
    };
    for (auto [first, kind] : kinds) EXPECT_EQ(ClassifyFirstByte(first), kind) << first;
}

}  // namespace
