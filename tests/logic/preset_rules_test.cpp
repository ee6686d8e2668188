#include "preset_rules.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace {

using mbs::PresetKey;

// A General MIDI SoundFont in small: bank 0 with programs 0, 5 and 40, bank 8 with 5 (a
// variation), and kits 0 and 40 in the drum bank.
bool InGm(int bank, int program) {
    static const std::set<std::pair<int, int>> presets = {{0, 0}, {0, 5},   {0, 40},
                                                          {8, 5}, {128, 0}, {128, 40}};
    return presets.count({bank, program}) > 0;
}

TEST(PresetRules, ProgramChangesResolveAsFluidSynthSelects) {
    struct Case {
        bool drum;
        int bank, program;
        std::optional<PresetKey> expected;
    };
    const std::vector<Case> cases = {
        {false, 0, 40, PresetKey{0, 40}},      // present
        {false, 8, 5, PresetKey{8, 5}},        // a variation in its own bank
        {false, 8, 40, PresetKey{0, 40}},      // missing in bank 8: the same program of bank 0
        {false, 3, 77, PresetKey{0, 0}},       // missing everywhere: bank 0's first preset
        {false, 128, 40, PresetKey{128, 40}},  // a melodic channel may select a kit
        {false, 128, 7, PresetKey{128, 0}},    // a missing kit falls back to the first kit
        {true, 0, 40, PresetKey{128, 40}},     // the drum channel ignores the selected bank
        {true, 5, 7, PresetKey{128, 0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mbs::ResolveProgramChange(c.drum, c.bank, c.program, InGm), c.expected)
            << (c.drum ? "drum " : "") << c.bank << ":" << c.program;

    const auto none = [](int, int) { return false; };
    EXPECT_EQ(mbs::ResolveProgramChange(false, 0, 3, none), std::nullopt);
    EXPECT_EQ(mbs::ResolveProgramChange(true, 0, 3, none), std::nullopt);
}

mbs::MidiMessage Short(std::vector<std::uint8_t> bytes) {
    mbs::MidiMessage m{};
    m.kind = mbs::MidiMessageKind::Short;
    m.length = bytes.size();
    for (std::size_t i = 0; i < bytes.size() && i < 3; ++i) m.bytes[i] = bytes[i];
    return m;
}

TEST(PresetRules, MessagesThatChangePresetsAreRecognised) {
    using E = mbs::PresetEffect;
    EXPECT_EQ(mbs::PresetEffectOf(Short({0xC3, 40})), E::ProgramChange);
    EXPECT_EQ(mbs::PresetEffectOf(Short({0xFF})), E::Reset);
    for (auto bytes : std::vector<std::vector<std::uint8_t>>{
             {0x90, 60, 100}, {0xB0, 0, 8}, {0xB0, 121, 0}, {0xE0, 0, 64}, {0xF8}, {0xFE}})
        EXPECT_EQ(mbs::PresetEffectOf(Short(bytes)), E::None) << int(bytes[0]);

    const auto sysex = [](std::vector<std::uint8_t> bytes) {
        static std::vector<std::uint8_t> keep;
        keep = std::move(bytes);
        mbs::MidiMessage m{};
        m.kind = mbs::MidiMessageKind::SysEx;
        m.length = keep.size();
        m.sysex = keep.data();
        return mbs::PresetEffectOf(m);
    };
    EXPECT_EQ(sysex({0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}), E::Reset);  // GM System On
    EXPECT_EQ(sysex({0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}),
              E::Reset);                                                                 // GS reset
    EXPECT_EQ(sysex({0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}), E::Reset);  // XG
    EXPECT_EQ(sysex({0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x60, 0xF7}), E::None);         // volume
    EXPECT_EQ(sysex({0xF0, 0xF7}), E::None);
}

}  // namespace
