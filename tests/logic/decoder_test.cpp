#include "decoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct DecoderCase {
    std::string name;
    std::vector<Bytes> packets;
    std::vector<Bytes> expected;  // every delivered message, in order
    std::size_t max_sysex = mbs::MidiDecoder::kDefaultMaxSysExBytes;
};

std::ostream& operator<<(std::ostream& os, const DecoderCase& c) {
    return os << c.name;
}

std::vector<Bytes> Decode(const std::vector<Bytes>& packets, std::size_t max_sysex) {
    mbs::MidiDecoder decoder(max_sysex);
    std::vector<Bytes> out;
    for (const Bytes& packet : packets) {
        decoder.Feed(packet, [&](const mbs::MidiMessage& m) {
            const auto bytes = m.Bytes();
            out.emplace_back(bytes.begin(), bytes.end());
        });
    }
    return out;
}

// A SysEx message of `total` bytes, F0 and F7 included.
Bytes SysExOfLength(std::size_t total) {
    Bytes b(total, 0x11);
    b.front() = 0xF0;
    b.back() = 0xF7;
    return b;
}

Bytes Join(const Bytes& a, const Bytes& b) {
    Bytes r = a;
    r.insert(r.end(), b.begin(), b.end());
    return r;
}

const Bytes kGmReset = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};

class DecoderTable : public ::testing::TestWithParam<DecoderCase> {};

TEST_P(DecoderTable, DeliversExactlyTheExpectedMessages) {
    const DecoderCase& c = GetParam();
    EXPECT_EQ(Decode(c.packets, c.max_sysex), c.expected);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Messages, DecoderTable,
    ::testing::Values(
        DecoderCase{"NoteOnInOnePacket", {{0x90, 0x3C, 0x64}}, {{0x90, 0x3C, 0x64}}},
        DecoderCase{"NoteOnVelocityZeroPassedUnchanged", {{0x90, 0x3C, 0x00}}, {{0x90, 0x3C, 0x00}}},
        DecoderCase{"NoteOffKeyAndChannelPressure",
                    {{0x80, 0x3C, 0x40, 0xA1, 0x3C, 0x20, 0xD2, 0x55}},
                    {{0x80, 0x3C, 0x40}, {0xA1, 0x3C, 0x20}, {0xD2, 0x55}}},
        DecoderCase{"ControllersProgramAndPitchBend",
                    {{0xB0, 0x00, 0x01, 0xB0, 0x40, 0x7F, 0xB0, 0x7B, 0x00, 0xB0, 0x79, 0x00,
                      0xC0, 0x0F, 0xE0, 0x00, 0x40}},
                    {{0xB0, 0x00, 0x01}, {0xB0, 0x40, 0x7F}, {0xB0, 0x7B, 0x00},
                     {0xB0, 0x79, 0x00}, {0xC0, 0x0F}, {0xE0, 0x00, 0x40}}},
        DecoderCase{"LastChannel", {{0x9F, 0x7F, 0x7F}}, {{0x9F, 0x7F, 0x7F}}},
        DecoderCase{"MessageSplitAtEveryByte", {{0x90}, {0x3C}, {0x64}}, {{0x90, 0x3C, 0x64}}},
        DecoderCase{"EmptyPacketsAroundAndInside",
                    {{}, {0x90, 0x3C}, {}, {0x64}, {}}, {{0x90, 0x3C, 0x64}}},
        DecoderCase{"OnlyEmptyPackets", {{}, {}, {}}, {}},

        DecoderCase{"RunningStatusInOnePacket",
                    {{0x90, 0x3C, 0x64, 0x3E, 0x64, 0x40, 0x00}},
                    {{0x90, 0x3C, 0x64}, {0x90, 0x3E, 0x64}, {0x90, 0x40, 0x00}}},
        DecoderCase{"RunningStatusAcrossPackets",
                    {{0x90, 0x3C}, {0x64, 0x3E}, {0x64}, {0x40, 0x7F}},
                    {{0x90, 0x3C, 0x64}, {0x90, 0x3E, 0x64}, {0x90, 0x40, 0x7F}}},
        DecoderCase{"RunningStatusOfTwoByteMessages",
                    {{0xC3, 0x05}, {0x06}, {0x07}},
                    {{0xC3, 0x05}, {0xC3, 0x06}, {0xC3, 0x07}}},
        DecoderCase{"NewChannelStatusReplacesRunningStatus",
                    {{0x90, 0x3C, 0x64, 0xB1, 0x07, 0x64, 0x0A, 0x40}},
                    {{0x90, 0x3C, 0x64}, {0xB1, 0x07, 0x64}, {0xB1, 0x0A, 0x40}}},

        DecoderCase{"RealTimeInsideNote",
                    {{0x90, 0xF8, 0x3C, 0xFE, 0x64}},
                    {{0xF8}, {0xFE}, {0x90, 0x3C, 0x64}}},
        DecoderCase{"RealTimeInsideNoteAcrossPackets",
                    {{0x90, 0x3C}, {0xF8}, {0x64}},
                    {{0xF8}, {0x90, 0x3C, 0x64}}},
        DecoderCase{"RealTimeKeepsRunningStatus",
                    {{0x90, 0x3C, 0x64, 0xFA, 0x3E, 0xFC, 0x64, 0xFB}},
                    {{0x90, 0x3C, 0x64}, {0xFA}, {0xFC}, {0x90, 0x3E, 0x64}, {0xFB}}},
        DecoderCase{"SystemResetInsideNoteKeepsIt",
                    {{0x90, 0x3C, 0xFF, 0x64}},
                    {{0xFF}, {0x90, 0x3C, 0x64}}},
        DecoderCase{"RealTimeInsideSysEx",
                    {{0xF0, 0x7E, 0xF8, 0x7F, 0x09, 0xFE, 0x01, 0xF7}},
                    {{0xF8}, {0xFE}, kGmReset}},
        DecoderCase{"RealTimeInsideSysExAcrossPackets",
                    {{0xF0, 0x7E, 0x7F}, {0xF8}, {0x09, 0x01}, {}, {0xF7}},
                    {{0xF8}, kGmReset}},
        DecoderCase{"GmResetSplitAcrossPackets",
                    {{0xF0, 0x7E}, {0x7F, 0x09}, {0x01, 0xF7}}, {kGmReset}},
        DecoderCase{"ShortestSysEx", {{0xF0, 0xF7}}, {{0xF0, 0xF7}}},

        DecoderCase{"TuneRequestCancelsRunningStatus",
                    {{0x90, 0x3C, 0x64, 0xF6, 0x3E, 0x64}},
                    {{0x90, 0x3C, 0x64}, {0xF6}}},
        DecoderCase{"SongSelectCancelsRunningStatus",
                    {{0x90, 0x3C, 0x64, 0xF3, 0x05, 0x3E, 0x64}},
                    {{0x90, 0x3C, 0x64}, {0xF3, 0x05}}},
        DecoderCase{"QuarterFrameAndSongPosition",
                    {{0xF1, 0x23, 0xF2, 0x10}, {0x20}},
                    {{0xF1, 0x23}, {0xF2, 0x10, 0x20}}},
        DecoderCase{"SysExCancelsRunningStatus",
                    {{0x90, 0x3C, 0x64, 0xF0, 0x7D, 0xF7, 0x3E, 0x64}},
                    {{0x90, 0x3C, 0x64}, {0xF0, 0x7D, 0xF7}}},

        DecoderCase{"StrayDataBeforeAnyStatus",
                    {{0x3C, 0x64, 0x90, 0x3C, 0x64}}, {{0x90, 0x3C, 0x64}}},
        DecoderCase{"StrayDataInItsOwnPackets", {{0x3C}, {0x64}, {0x7F}}, {}},
        DecoderCase{"StrayDataAfterSystemCommonMessage",
                    {{0xF3, 0x01, 0x02, 0x03}}, {{0xF3, 0x01}}},

        DecoderCase{"UndefinedF4DroppedAndCancelsRunningStatus",
                    {{0x90, 0x3C, 0x64, 0xF4, 0x3E, 0x64}}, {{0x90, 0x3C, 0x64}}},
        DecoderCase{"UndefinedF5DroppedAndCancelsRunningStatus",
                    {{0x90, 0x3C, 0x64}, {0xF5}, {0x3E, 0x64}}, {{0x90, 0x3C, 0x64}}},
        DecoderCase{"UndefinedF5TruncatesMessage", {{0x90, 0x3C, 0xF5, 0x64}}, {}},
        DecoderCase{"UndefinedF9AndFDDroppedKeepingTheNote",
                    {{0x90, 0xF9, 0x3C, 0xFD, 0x64, 0x3E, 0xF9, 0x64}},
                    {{0x90, 0x3C, 0x64}, {0x90, 0x3E, 0x64}}},

        DecoderCase{"TruncatedByChannelStatus",
                    {{0x90, 0x3C, 0xB0, 0x07, 0x64}}, {{0xB0, 0x07, 0x64}}},
        DecoderCase{"TruncatedAcrossPackets",
                    {{0x90, 0x3C}, {0x80, 0x3C, 0x40}}, {{0x80, 0x3C, 0x40}}},
        DecoderCase{"TruncatedRunningStatusMessage",
                    {{0x90, 0x3C, 0x64, 0x3E, 0x90, 0x40, 0x64}},
                    {{0x90, 0x3C, 0x64}, {0x90, 0x40, 0x64}}},
        DecoderCase{"TruncatedBySystemCommon", {{0x90, 0x3C, 0xF6}}, {{0xF6}}},
        DecoderCase{"TruncatedSystemCommon",
                    {{0xF2, 0x10, 0x90, 0x3C, 0x64}}, {{0x90, 0x3C, 0x64}}},
        DecoderCase{"StrayEndOfSysExDroppedAndCancelsRunningStatus",
                    {{0x90, 0x3C, 0x64, 0xF7, 0x3E, 0x64}}, {{0x90, 0x3C, 0x64}}},

        DecoderCase{"SysExAtTheBound",
                    {{0xF0, 1, 2, 3, 4, 5, 6, 0xF7}}, {{0xF0, 1, 2, 3, 4, 5, 6, 0xF7}}, 8},
        DecoderCase{"SysExOneOverTheBoundDroppedWhole",
                    {{0xF0, 1, 2, 3, 4, 5, 6, 7, 0xF7, 0x90, 0x3C, 0x64}},
                    {{0x90, 0x3C, 0x64}}, 8},
        DecoderCase{"SysExOverTheBoundAcrossPacketsThenAnotherFits",
                    {{0xF0, 1, 2, 3}, {4, 5, 6, 7, 8}, {0xF7}, {0xF0, 9, 0xF7}},
                    {{0xF0, 9, 0xF7}}, 8},
        DecoderCase{"DefaultBoundDeliversItsLength",
                    {SysExOfLength(mbs::MidiDecoder::kDefaultMaxSysExBytes)},
                    {SysExOfLength(mbs::MidiDecoder::kDefaultMaxSysExBytes)}},
        DecoderCase{"DefaultBoundDropsOneMore",
                    {Join(SysExOfLength(mbs::MidiDecoder::kDefaultMaxSysExBytes + 1),
                          {0xC0, 0x01})},
                    {{0xC0, 0x01}}},

        DecoderCase{"UnterminatedSysExEndedByNoteOn",
                    {{0xF0, 0x7E, 0x7F, 0x90, 0x3C, 0x64}}, {{0x90, 0x3C, 0x64}}},
        DecoderCase{"UnterminatedSysExEndedAcrossPackets",
                    {{0xF0, 0x7E}, {0x7F}, {0x90, 0x3C}, {0x64}}, {{0x90, 0x3C, 0x64}}},
        DecoderCase{"UnterminatedSysExEndedByAnotherSysEx",
                    {{0xF0, 0x01, 0x02, 0xF0, 0x03, 0xF7}}, {{0xF0, 0x03, 0xF7}}},
        DecoderCase{"UnterminatedSysExEndedBySystemCommon",
                    {{0xF0, 0x01, 0xF6, 0x3C, 0x64}}, {{0xF6}}},
        DecoderCase{"UnterminatedSysExEndedByUndefinedStatus",
                    {{0xF0, 0x01, 0xF4, 0xF7, 0x90, 0x3C, 0x64}}, {{0x90, 0x3C, 0x64}}},
        DecoderCase{"OverlongUnterminatedSysExEndedByNote",
                    {{0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 0x90, 0x3C, 0x64}}, {{0x90, 0x3C, 0x64}}, 8}),
    [](const ::testing::TestParamInfo<DecoderCase>& info) { return info.param.name; });
// clang-format on

TEST(MidiDecoder, SplittingAStreamAnywhereGivesTheSameMessages) {
    const Bytes stream = {0x3C, 0x90, 0x3C, 0x64, 0xF8, 0x3E, 0x64, 0xF0, 0x7E, 0xFE, 0x7F, 0x09,
                          0x01, 0xF7, 0xB0, 0x40, 0x7F, 0xF4, 0x40, 0xC2, 0x05, 0x06, 0xF6};
    const std::vector<Bytes> whole = Decode({stream}, 512);
    const std::vector<Bytes> expected = {
        {0x90, 0x3C, 0x64}, {0xF8},       {0x90, 0x3E, 0x64}, {0xFE}, kGmReset,
        {0xB0, 0x40, 0x7F}, {0xC2, 0x05}, {0xC2, 0x06},       {0xF6}};
    ASSERT_EQ(whole, expected);
    for (std::size_t a = 0; a <= stream.size(); ++a) {
        for (std::size_t b = a; b <= stream.size(); ++b) {
            const std::vector<Bytes> packets = {Bytes(stream.begin(), stream.begin() + a),
                                                Bytes(stream.begin() + a, stream.begin() + b),
                                                Bytes(stream.begin() + b, stream.end())};
            EXPECT_EQ(Decode(packets, 512), whole) << "split at " << a << " and " << b;
        }
    }
}

TEST(MidiDecoder, MessageFieldsOfChannelAndSysExMessages) {
    mbs::MidiDecoder decoder;
    std::vector<mbs::MidiMessage> got;
    const Bytes packet = {0x9A, 0x3C, 0x00, 0xF0, 0x43, 0xF7, 0xCB, 0x10};
    decoder.Feed(packet, [&](const mbs::MidiMessage& m) {
        got.push_back(m);
        if (m.kind == mbs::MidiMessageKind::SysEx) {
            EXPECT_EQ(Bytes(m.Bytes().begin(), m.Bytes().end()), (Bytes{0xF0, 0x43, 0xF7}));
        }
    });
    ASSERT_EQ(got.size(), 3u);
    EXPECT_TRUE(got[0].IsChannelMessage());
    EXPECT_EQ(got[0].Status(), 0x9A);
    EXPECT_EQ(got[0].Channel(), 10);
    EXPECT_EQ(got[0].Data1(), 0x3C);
    EXPECT_EQ(got[0].Data2(), 0x00);
    EXPECT_EQ(got[0].length, 3u);
    EXPECT_EQ(got[1].kind, mbs::MidiMessageKind::SysEx);
    EXPECT_EQ(got[1].Status(), 0xF0);
    EXPECT_FALSE(got[1].IsChannelMessage());
    EXPECT_EQ(got[1].length, 3u);
    EXPECT_EQ(got[2].Channel(), 11);
    EXPECT_EQ(got[2].length, 2u);
    EXPECT_EQ(got[2].Data2(), 0x00);
}

TEST(MidiDecoder, SeparateDecodersKeepSeparateRunningStatus) {
    mbs::MidiDecoder first;
    mbs::MidiDecoder second;
    mbs::MidiMessage m{};
    for (std::uint8_t b : {0x90, 0x3C, 0x64}) first.Push(b, m);
    EXPECT_FALSE(second.Push(0x3E, m));
    EXPECT_FALSE(second.Push(0x64, m));
    EXPECT_FALSE(first.Push(0x3E, m));
    ASSERT_TRUE(first.Push(0x64, m));
    EXPECT_EQ(Bytes(m.Bytes().begin(), m.Bytes().end()), (Bytes{0x90, 0x3E, 0x64}));
}

TEST(MidiDecoder, BoundBelowTwoStillDeliversEmptySysEx) {
    mbs::MidiDecoder decoder(0);
    EXPECT_EQ(decoder.MaxSysExBytes(), 2u);
    EXPECT_EQ(Decode({{0xF0, 0xF7, 0xF0, 0x01, 0xF7}}, 0), (std::vector<Bytes>{{0xF0, 0xF7}}));
}

struct ValidityCase {
    const char* name;
    int type, channel, a, b;
    bool valid;
};

TEST(ValidChannelEvent, AcceptsInRangeAndRejectsOutOfRange) {
    using namespace mbs;
    const ValidityCase cases[] = {
        {"note on", kChannelEventNoteOn, 0, 60, 100, true},
        {"note on velocity 0", kChannelEventNoteOn, 0, 60, 0, true},
        {"note on top values", kChannelEventNoteOn, 15, 127, 127, true},
        {"note 128", kChannelEventNoteOn, 0, 128, 100, false},
        {"negative note", kChannelEventNoteOn, 0, -1, 100, false},
        {"velocity 128", kChannelEventNoteOn, 0, 60, 128, false},
        {"negative velocity", kChannelEventNoteOn, 0, 60, -1, false},
        {"channel 16", kChannelEventNoteOn, 16, 60, 100, false},
        {"negative channel", kChannelEventNoteOn, -1, 60, 100, false},
        {"note off", kChannelEventNoteOff, 3, 60, 64, true},
        {"note off velocity 128", kChannelEventNoteOff, 3, 60, 128, false},
        {"key pressure", kChannelEventKeyPressure, 9, 60, 127, true},
        {"key pressure 128", kChannelEventKeyPressure, 9, 60, 128, false},
        {"controller", kChannelEventController, 0, 64, 127, true},
        {"controller number 128", kChannelEventController, 0, 128, 0, false},
        {"controller value 128", kChannelEventController, 0, 7, 128, false},
        {"controller channel 16", kChannelEventController, 16, 7, 100, false},
        {"program", kChannelEventProgramChange, 0, 127, 0, true},
        {"program ignores b", kChannelEventProgramChange, 0, 5, 999, true},
        {"program 128", kChannelEventProgramChange, 0, 128, 0, false},
        {"channel pressure", kChannelEventChannelPressure, 2, 0, 0, true},
        {"channel pressure 128", kChannelEventChannelPressure, 2, 128, 0, false},
        {"pitch bend low end", kChannelEventPitchBend, 0, -8192, 0, true},
        {"pitch bend high end", kChannelEventPitchBend, 0, 8191, 0, true},
        {"pitch bend below", kChannelEventPitchBend, 0, -8193, 0, false},
        {"pitch bend above", kChannelEventPitchBend, 0, 8192, 0, false},
        {"pitch bend channel 16", kChannelEventPitchBend, 16, 0, 0, false},
        {"system status", 0xF0, 0, 0, 0, false},
        {"unknown type", 0x91, 0, 60, 100, false},
    };
    for (const ValidityCase& c : cases) {
        EXPECT_EQ(ValidChannelEvent(c.type, c.channel, c.a, c.b), c.valid) << c.name;
    }
}

TEST(ClassifyFirstByte, KindsOfFirstBytes) {
    using mbs::PacketKind;
    const struct {
        const char* name;
        int first;
        PacketKind kind;
    } cases[] = {
        {"note on channel 1", 0x90, PacketKind::NoteOn},
        {"note on velocity 0 is still note on", 0x90, PacketKind::NoteOn},
        {"note on channel 16", 0x9F, PacketKind::NoteOn},
        {"note off channel 1", 0x80, PacketKind::NoteOff},
        {"note off channel 16", 0x8F, PacketKind::NoteOff},
        {"controller channel 1", 0xB0, PacketKind::Controller},
        {"controller channel 16", 0xBF, PacketKind::Controller},
        {"pitch bend channel 1", 0xE0, PacketKind::PitchBend},
        {"pitch bend channel 16", 0xEF, PacketKind::PitchBend},
        {"active sensing", 0xFE, PacketKind::ActiveSensing},
        {"data byte first", 0x3C, PacketKind::Other},
        {"zero", 0x00, PacketKind::Other},
        {"largest data byte", 0x7F, PacketKind::Other},
        {"timing clock", 0xF8, PacketKind::Other},
        {"key pressure", 0xA0, PacketKind::Other},
        {"program change", 0xC0, PacketKind::Other},
        {"channel pressure", 0xDF, PacketKind::Other},
        {"sysex", 0xF0, PacketKind::Other},
        {"system reset", 0xFF, PacketKind::Other},
        {"negative", -1, PacketKind::Other},
        {"above a byte", 0x190, PacketKind::Other},
    };
    for (const auto& c : cases) EXPECT_EQ(mbs::ClassifyFirstByte(c.first), c.kind) << c.name;
}

}  // namespace
