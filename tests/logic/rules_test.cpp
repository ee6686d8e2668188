// Which ports are keyboards and what they are called; which preset a program change selects
// and which messages change presets.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "preset_rules.h"
#include "source_rules.h"

namespace {

using namespace mbs;

constexpr int kOurClient = 129;
constexpr AlsaClientType K = AlsaClientType::Kernel;
constexpr AlsaClientType U = AlsaClientType::User;
constexpr unsigned kRead = kAlsaPortCapRead | kAlsaPortCapSubsRead;
constexpr unsigned kDuplex = kRead | kAlsaPortCapWrite | kAlsaPortCapSubsWrite | kAlsaPortCapDuplex;
constexpr unsigned kSoftware = kAlsaPortTypeMidiGeneric | kAlsaPortTypeSoftware;
constexpr unsigned kHardware = kAlsaPortTypeMidiGeneric | kAlsaPortTypeHardware;
constexpr unsigned kApp = kAlsaPortTypeMidiGeneric | kAlsaPortTypeApplication;

TEST(SourceRules, AlsaPorts) {
    const struct {
        int client;
        AlsaClientType type;
        const char *clientName, *portName;
        unsigned caps, portType;
        bool source;
        const char* display;
    } cases[] = {
        // clang-format off
        {0, K, "System", "Announce", kRead, 0, false, "System: Announce"},
        {0, K, "System", "Clock", kDuplex, kHardware, false, "System: Clock"},
        {14, K, "Midi Through", "Midi Through Port-0", kDuplex, kSoftware, false, "Midi Through Port-0"},
        {130, K, "Midi Through", "Midi Through Port-0", kDuplex, kSoftware, false, "Midi Through Port-0"},
        {20, K, "Virtual Raw MIDI 1-0", "VirMIDI 1-0", kDuplex, kSoftware, false, "Virtual Raw MIDI 1-0: VirMIDI 1-0"},
        {24, K, "Launchkey Mini", "Launchkey Mini MIDI 2", kDuplex, kHardware, true, "Launchkey Mini MIDI 2"},
        {28, K, "Module", "Module MIDI 1", kAlsaPortCapWrite | kAlsaPortCapSubsWrite, kHardware, false, "Module MIDI 1"},
        {36, K, "Keystep", "MIDI 2.0", kDuplex | kAlsaPortCapUmpEndpoint, kHardware, false, "Keystep: MIDI 2.0"},
        {128, U, "PipeWire-System", "input", kAlsaPortCapRead | kAlsaPortCapWrite, kApp, false, "PipeWire-System: input"},
        {132, U, "a2j", "port", kRead | kAlsaPortCapNoExport, kAlsaPortTypeApplication, false, "a2j: port"},
        {133, U, "Sleeper", "out", kRead | kAlsaPortCapInactive, kApp, false, "Sleeper: out"},
        {134, U, "VMPK Output", "out", kRead, kApp, true, "VMPK Output: out"},
        {135, U, "Sequencer", "Sequencer out", kRead, kAlsaPortTypeMidiGeneric, true, "Sequencer out"},
        {136, U, "Arpeggiator", "output", kRead, kAlsaPortTypeApplication, true, "Arpeggiator: output"},
        {137, U, "Timer app", "ticks", kRead, kAlsaPortTypeSynth, false, "Timer app: ticks"},
        {138, U, "Monitor", "out", kAlsaPortCapRead, kApp, false, "Monitor: out"},
        {kOurClient, U, "Velunor", "out", kRead, kApp, false, "Velunor: out"},
        {141, U, "launchkey mini", "Launchkey Mini MIDI 1", kRead, kApp, true, "launchkey mini: Launchkey Mini MIDI 1"},
        {142, U, "Keys", "", kRead, kApp, true, "Keys: "},
        // clang-format on
    };
    for (const auto& c : cases) {
        const AlsaPortInfo port{c.client,   c.type, c.clientName, 0,
                                c.portName, c.caps, c.portType,   kOurClient};
        EXPECT_EQ(IsAlsaSource(port), c.source) << c.clientName << ":" << c.portName;
        EXPECT_EQ(AlsaDisplayName(port), c.display);
    }
}

TEST(SourceRules, JackPorts) {
    const struct {
        const char* name;
        std::vector<std::string> aliases;
        const char* pretty;
        bool source;
        const char* display;
        bool output = true, midi = true;
    } cases[] = {
        // clang-format off
        {"a2j:Midi Through [14] (capture): Midi Through Port-0", {}, "", false, "Midi Through Port-0"},
        {"a2j:Launchkey Mini [24] (capture): Launchkey Mini MIDI 1", {}, "", true, "Launchkey Mini MIDI 1"},
        {"a2j:Launchkey Mini (capture): Launchkey Mini MIDI 1", {}, "", true, "Launchkey Mini MIDI 1"},
        {"system:midi_capture_1", {"alsa_pcm:Midi-Through/midi_capture_1", "Midi-Through:midi/capture_1"}, "", false, "Midi-Through:midi/capture_1"},
        {"system:midi_capture_2", {"alsa_pcm:Keys/midi_capture_1", "Keys:midi/capture_1"}, "", true, "Keys:midi/capture_1"},
        {"Midi-Bridge:Midi Through Port-0 (capture)", {}, "", false, "Midi Through Port-0"},
        {"Midi-Bridge:Launchkey Mini MIDI 1 (capture)", {}, "", true, "Launchkey Mini MIDI 1"},
        {"Midi-Bridge:Launchkey Mini MIDI 1 (capture)", {"alsa:seq:default:client_24:capture_0", "Launchkey Mini:Launchkey Mini MIDI 1"}, "", true, "Launchkey Mini:Launchkey Mini MIDI 1"},
        {"Midi-Bridge:[24:0] Launchkey Mini MIDI 1 (capture)", {}, "", true, "Launchkey Mini MIDI 1"},
        {"Midi-Bridge:[14:0] Midi Through Port-0 (capture)", {}, "", false, "Midi Through Port-0"},
        {"system:midi_capture_2", {"a", "b"}, "Launchkey Mini", true, "Launchkey Mini"},
        {"system:midi_capture_1", {}, "Midi Through", false, "Midi Through"},
        {"vkeybd:out", {"alsa_pcm:vkeybd/out"}, "", true, "vkeybd:out"},
        {"vkeybd:out", {"first", ""}, "", true, "vkeybd:out"},
        {"a2j:Odd (capture): ", {}, "", true, "a2j:Odd (capture): "},
        {"Midi-Bridge:[x] Pad (capture)", {}, "", true, "[x] Pad"},
        {"Velunor:VelunorPort", {}, "", false, "Velunor:VelunorPort"},
        {"Velunor-2:out", {}, "", true, "Velunor-2:out"},
        {"fluidsynth:midi_00", {}, "", false, "fluidsynth:midi_00", false, true},
        {"system:capture_1", {}, "", false, "system:capture_1", true, false},
        // clang-format on
    };
    for (const auto& c : cases) {
        const JackPortInfo port{c.name, c.output, c.midi, c.aliases, c.pretty, "Velunor"};
        EXPECT_EQ(IsJackSource(port), c.source) << c.name << " / " << c.pretty;
        EXPECT_EQ(JackDisplayName(port), c.display) << c.name;
    }
}

// A General MIDI SoundFont in small: bank 0 with programs 0, 5 and 40, bank 8 with 5 (a
// variation), and kits 0 and 40 in the drum bank.
bool InGm(int bank, int program) {
    static const std::set<std::pair<int, int>> presets = {{0, 0}, {0, 5},   {0, 40},
                                                          {8, 5}, {128, 0}, {128, 40}};
    return presets.count({bank, program}) > 0;
}

TEST(PresetRules, ProgramChangesResolveAsFluidSynthSelects) {
    const struct {
        bool drum;
        int bank, program;
        std::optional<PresetKey> expected;
    } cases[] = {
        {false, 0, 40, PresetKey{0, 40}},     {false, 8, 5, PresetKey{8, 5}},
        {false, 8, 40, PresetKey{0, 40}},     {false, 3, 77, PresetKey{0, 0}},
        {false, 128, 40, PresetKey{128, 40}}, {false, 128, 7, PresetKey{128, 0}},
        {true, 0, 40, PresetKey{128, 40}},    {true, 5, 7, PresetKey{128, 0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ResolveProgramChange(c.drum, c.bank, c.program, InGm), c.expected)
            << (c.drum ? "drum " : "") << c.bank << ":" << c.program;
    const auto none = [](int, int) { return false; };
    EXPECT_EQ(ResolveProgramChange(false, 0, 3, none), std::nullopt);
    EXPECT_EQ(ResolveProgramChange(true, 0, 3, none), std::nullopt);
}

TEST(PresetRules, MessagesThatChangePresetsAreRecognisedAsFluidSynthAppliesThem) {
    using K = PresetEffect::Kind;
    constexpr BankStyle Gs = BankStyle::Gs, Gm = BankStyle::Gm, Xg = BankStyle::Xg;
    // FluidSynth takes SysEx for its device 0 or for every device (0x7F); a GS data set wants
    // its checksum as 0x80 minus the sum's low seven bits.
    const struct {
        std::vector<std::uint8_t> bytes;
        BankStyle style;  // in force
        K kind;
        int channel = 0;
        bool drum = false;
        BankStyle after = Gs;  // Reset: the style from then on
        bool tuning = false;
    } cases[] = {
        // clang-format off
        {{0xC3, 40}, Gs, K::ProgramChange, 3},
        {{0xFF}, Xg, K::Reset, 0, false, Xg},
        {{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, Xg, K::Reset, 0, false, Gm},
        {{0xF0, 0x7E, 0x00, 0x09, 0x03, 0xF7}, Gs, K::Reset, 0, false, Gm},
        {{0xF0, 0x7E, 0x7F, 0x09, 0x02, 0xF7}, Gs, K::None},
        {{0xF0, 0x41, 0x00, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}, Gm, K::Reset, 0, false, Gs},
        {{0xF0, 0x41, 0x7F, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x7F, 0x42, 0xF7}, Gs, K::Reset, 0, false, Gm},
        {{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}, Gs, K::None},
        {{0xF0, 0x41, 0x00, 0x42, 0x12, 0x40, 0x12, 0x15, 0x01, 0x18, 0xF7}, Gs, K::RhythmPart, 1, true},
        {{0xF0, 0x41, 0x00, 0x42, 0x12, 0x40, 0x10, 0x15, 0x00, 0x1B, 0xF7}, Gs, K::RhythmPart, 9, false},
        {{0xF0, 0x41, 0x00, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x02, 0x0F, 0xF7}, Gs, K::RhythmPart, 10, true},
        {{0xF0, 0x41, 0x00, 0x42, 0x12, 0x40, 0x12, 0x15, 0x01, 0x19, 0xF7}, Gs, K::None},
        {{0xF0, 0x41, 0x00, 0x42, 0x12, 0x40, 0x12, 0x15, 0x01, 0x18, 0xF7}, Gm, K::None},
        {{0xF0, 0x43, 0x00, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}, Gs, K::Reset, 0, false, Xg},
        {{0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}, Gs, K::None},
        {{0xB2, 0, 127}, Xg, K::DrumChannel, 2, true},
        {{0xB2, 0, 5}, Xg, K::DrumChannel, 2, false},
        {{0xB2, 0, 127}, Gs, K::None},
        {{0xF0, 0x7F, 0x7F, 0x08, 0x02, 0x00, 0x01, 0x45, 0x45, 0x00, 0x00, 0xF7}, Gs, K::None, 0, false, Gs, true},
        {{0xF0, 0x7E, 0x00, 0x08, 0x08, 0x7F, 0x7F, 0x7F, 0xF7}, Gs, K::None, 0, false, Gs, true},
        {{0xF0, 0x7F, 0x10, 0x08, 0x02, 0x00, 0x01, 0x45, 0x45, 0x00, 0x00, 0xF7}, Gs, K::None},
        {{0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x60, 0xF7}, Gs, K::None},
        {{0x90, 60, 100}, Gs, K::None},
        // clang-format on
    };
    for (const auto& c : cases) {
        const MidiMessage m = MessageOfBytes(c.bytes);
        const PresetEffect e = PresetEffectOf(m, c.style, 0);
        const bool reset = c.kind == K::Reset;
        EXPECT_EQ(std::tuple(e.kind, e.channel, e.drum, reset ? e.style : Gs),
                  std::tuple(c.kind, c.channel, c.drum, c.after))
            << std::hex << int(c.bytes[0]) << " " << int(c.bytes[1]) << " " << int(c.bytes[2]);
        EXPECT_EQ(ChangesTuning(m, 0), c.tuning) << std::hex << int(c.bytes[1]);
    }
}

}  // namespace
