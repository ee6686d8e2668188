#include "preset_rules.h"

namespace mbs {

namespace {

// The bytes FluidSynth takes of a SysEx message: those between F0 and F7.
struct SysExBody {
    const std::uint8_t* d;
    std::size_t n;
};

bool ForUs(SysExBody s, int deviceId) {
    return s.d[1] == deviceId || s.d[1] == 0x7F || deviceId == 0x7F;
}

// Roland's DT1 (data set) for the GS mode and the parts' rhythm setting. FluidSynth wants the
// checksum as 0x80 minus the sum's low seven bits.
PresetEffect GsDataSet(SysExBody s, BankStyle style) {
    if (s.n < 9) return {};
    int sum = 0;
    for (std::size_t i = 4; i + 1 < s.n; ++i) sum += s.d[i];
    if (0x80 - (sum & 0x7F) != s.d[s.n - 1] || s.n != 9) return {};
    const int address = s.d[4] << 16 | s.d[5] << 8 | s.d[6];
    const int value = s.d[7];
    if (address == 0x40007F && (value == 0 || value == 0x7F))
        return {PresetEffect::Kind::Reset, 0, false, value == 0 ? BankStyle::Gs : BankStyle::Gm};
    if (style != BankStyle::Gs || (address & 0xFFF0FF) != 0x401015 || value > 2) return {};
    // Parts 1 to 16 are addressed 1 to 9, 0 (part 10), then A to F.
    const int part = (address >> 8) & 0x0F;
    const int channel = part >= 0x0A ? part : (part == 0 ? kDrumChannel : part - 1);
    return {PresetEffect::Kind::RhythmPart, channel, value != 0, style};
}

}  // namespace

PresetEffect PresetEffectOf(const MidiMessage& m, BankStyle style, int deviceId) {
    using Kind = PresetEffect::Kind;
    if (m.kind == MidiMessageKind::SysEx) {
        if (m.length < 6 || !m.sysex) return {};
        const SysExBody s{m.sysex + 1, m.length - 2};
        if (!ForUs(s, deviceId)) return {};
        if (s.d[0] == 0x7E && s.d[2] == 0x09 && (s.d[3] == 0x01 || s.d[3] == 0x03))
            return {Kind::Reset, 0, false, BankStyle::Gm};
        if (s.d[0] == 0x41 && s.d[2] == 0x42 && s.d[3] == 0x12) return GsDataSet(s, style);
        if (s.d[0] == 0x43 && s.d[2] == 0x4C && s.n == 7 && s.d[3] == 0 && s.d[4] == 0 &&
            (s.d[5] == 0x7E || s.d[5] == 0x7F) && s.d[6] == 0)
            return {Kind::Reset, 0, false, BankStyle::Xg};
        return {};
    }
    const std::uint8_t status = m.Status();
    if (status == 0xFF) return {Kind::Reset, 0, false, style};
    if (status >= 0xF0) return {};
    if ((status & 0xF0) == 0xC0) return {Kind::ProgramChange, m.Channel(), false, style};
    if ((status & 0xF0) == 0xB0 && m.Data1() == 0 && style == BankStyle::Xg)
        return {Kind::DrumChannel, m.Channel(), m.Data2() >= 120, style};
    return {};
}

bool ChangesTuning(const MidiMessage& m, int deviceId) {
    if (m.kind != MidiMessageKind::SysEx || m.length < 6 || !m.sysex) return false;
    const SysExBody s{m.sysex + 1, m.length - 2};
    return (s.d[0] == 0x7E || s.d[0] == 0x7F) && ForUs(s, deviceId) && s.d[2] == 0x08;
}

}  // namespace mbs
