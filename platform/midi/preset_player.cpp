#include "preset_player.h"

#include <algorithm>
#include <string_view>

#include "audio_output.h"

namespace mbs {

namespace {

BankStyle StyleOf(fluid_settings_t* settings) {
    char* name = nullptr;
    BankStyle style = BankStyle::Gs;
    if (fluid_settings_dupstr(settings, "synth.midi-bank-select", &name) == FLUID_OK && name) {
        if (std::string_view(name) == "gm") style = BankStyle::Gm;
        if (std::string_view(name) == "xg") style = BankStyle::Xg;
        fluid_free(name);
    }
    return style;
}

}  // namespace

PresetPlayer::PresetPlayer(fluid_synth_t* synth, PresetStore& store, Loading loading, Caller caller)
    : synth_(synth), store_(store), loading_(loading), caller_(caller) {
    fluid_settings_t* settings = fluid_synth_get_settings(synth);
    fluid_settings_getint(settings, "synth.device-id", &deviceId_);
    style_ = StyleOf(settings);
}

bool PresetPlayer::BeginSelect() {
    if (loading_ == Loading::Wait) {
        store_.BeginSelect();
        return true;
    }
    if (store_.TryBeginSelect()) return true;
    // A load is in progress: try again at the next cycle.
    retryNextCycle_ = true;
    return false;
}

void PresetPlayer::EndSelect() {
    store_.EndSelect();
}

bool PresetPlayer::HasInstrument(int channel) const {
    return fluid_synth_get_channel_preset(synth_, channel) != nullptr;
}

bool PresetPlayer::Available(int index) {
    if (index < 0 || store_.Ready(index) || store_.Failed(index)) return true;
    if (loading_ == Loading::Wait) {
        store_.Load(index);
        return true;
    }
    store_.Request(index);
    return false;
}

std::uint32_t PresetPlayer::TakeChangedChannels() {
    return std::exchange(changed_, 0u);
}

bool PresetPlayer::Blocked(const MidiMessage& m) const {
    if (blockedAll_) return true;
    int channel = m.IsChannelMessage() ? m.Channel() : -1;
    if (const auto effect = PresetEffectOf(m, style_, deviceId_);
        effect.kind == PresetEffect::Kind::RhythmPart)
        channel = effect.channel;
    return channel >= 0 && (blockedChannels_ & (1u << channel)) != 0;
}

void PresetPlayer::Play(const MidiMessage& message) {
    if (Blocked(message)) {
        Hold(message);
        return;
    }
    PlayNow(message);
}

void PresetPlayer::PlayNow(const MidiMessage& m) {
    // FluidSynth allocates a tuning for these. The audio thread must not, and a keyboard
    // synthesizer has no use for retuning: there they are left out.
    if (caller_ == Caller::Audio && ChangesTuning(m, deviceId_)) return;
    const PresetEffect effect = PresetEffectOf(m, style_, deviceId_);
    switch (effect.kind) {
        case PresetEffect::Kind::Reset: {
            // Every channel takes its default again: those must be in memory first.
            const bool piano = Available(store_.Find({0, 0}));
            const bool drums = Available(store_.Find({kDrumBank, 0}));
            if (!piano || !drums || !BeginSelect()) {
                blockedAll_ = true;
                Hold(m);
                return;
            }
            ApplyMessage(synth_, m);
            EndSelect();
            style_ = effect.style;
            drums_ = 1u << kDrumChannel;
            // A reset overrides the changes that were still waiting for their presets.
            pending_.fill({});
            changed_ = 0xFFFF;
            return;
        }
        case PresetEffect::Kind::ProgramChange:
            if (ProgramChange(m.Channel(), m.Data1()) == Outcome::Waits &&
                !HasInstrument(m.Channel())) {
                blockedChannels_ |= static_cast<std::uint16_t>(1u << m.Channel());
                Hold(m);
            }
            return;
        case PresetEffect::Kind::RhythmPart:
            // FluidSynth selects program 0 of the channel's new kind right away.
            if (ProgramChange(effect.channel, 0, &m, effect.drum) == Outcome::Waits) {
                blockedChannels_ |= static_cast<std::uint16_t>(1u << effect.channel);
                Hold(m);
            }
            return;
        case PresetEffect::Kind::DrumChannel:
            ApplyMessage(synth_, m);
            SetDrum(effect.channel, effect.drum);
            return;
        case PresetEffect::Kind::None:
            break;
    }
    if (IsNoteOn(m) && !HasInstrument(m.Channel()) &&
        pending_[static_cast<std::size_t>(m.Channel())].kind == Pending::Kind::None) {
        // The channel's first note: its default instrument first.
        const std::uint8_t select[] = {static_cast<std::uint8_t>(0xC0 | m.Channel()), 0};
        PlayNow(MessageOfBytes(select));
        if (Blocked(m)) {
            Hold(m);
            return;
        }
    }
    ApplyMessage(synth_, m);
}

void PresetPlayer::SetDrum(int channel, bool drum) {
    const auto bit = static_cast<std::uint16_t>(1u << channel);
    drums_ = drum ? drums_ | bit : drums_ & ~bit;
}

PresetPlayer::Outcome PresetPlayer::ProgramChange(int channel, int program,
                                                  const MidiMessage* rhythmPart, bool drum) {
    int sfont = 0, bank = 0, current = 0;
    fluid_synth_get_program(synth_, channel, &sfont, &bank, &current);
    if (!rhythmPart) drum = (drums_ & (1u << channel)) != 0;
    const auto key = ResolveProgramChange(drum, bank, program, [this](int b, int p) {
        return store_.Exists({b, p});
    });
    const int index = key ? store_.Find(*key) : -1;
    auto& pending = pending_[static_cast<std::size_t>(channel)];
    if (store_.Failed(index)) {
        // Its samples cannot be read: the channel keeps what it has.
        pending = {};
        return Outcome::Played;
    }
    if (Available(index) && BeginSelect()) {
        if (rhythmPart)
            ApplyMessage(synth_, *rhythmPart);
        else
            fluid_synth_program_change(synth_, channel, program);
        EndSelect();
        SetDrum(channel, drum);
        pending = {};
        changed_ |= 1u << channel;
        return Outcome::Played;
    }
    // The current instrument plays on until the new one is in; a rhythm part setting waits
    // with the channel's messages.
    if (HasInstrument(channel) && !rhythmPart) pending = {Pending::Kind::Program, program, {}};
    return Outcome::Waits;
}

void PresetPlayer::Select(int channel, PresetKey key) {
    if (channel < 0 || channel > 15 || !store_.Exists(key)) return;
    if ((blockedChannels_ & (1u << channel)) != 0 || blockedAll_) {
        HoldSelect(channel, key);
        return;
    }
    if (SelectNow(channel, key) == Outcome::Waits && !HasInstrument(channel)) {
        blockedChannels_ |= static_cast<std::uint16_t>(1u << channel);
        HoldSelect(channel, key);
    }
}

PresetPlayer::Outcome PresetPlayer::SelectNow(int channel, PresetKey key) {
    auto& pending = pending_[static_cast<std::size_t>(channel)];
    const int index = store_.Find(key);
    if (store_.Failed(index)) {
        pending = {};
        return Outcome::Played;
    }
    if (Available(index) && BeginSelect()) {
        if (fluid_sfont_t* sfont = fluid_synth_get_sfont(synth_, 0))
            fluid_synth_program_select(synth_, channel, fluid_sfont_get_id(sfont), key.bank,
                                       key.program);
        EndSelect();
        pending = {};
        changed_ |= 1u << channel;
        return Outcome::Played;
    }
    if (HasInstrument(channel)) {
        pending = {Pending::Kind::Select, 0, key};
    }
    return Outcome::Waits;
}

void PresetPlayer::Retry() {
    const std::uint64_t completed = store_.Completed();
    if (completed == seenCompleted_ && !retryNextCycle_) return;
    seenCompleted_ = completed;
    retryNextCycle_ = false;
    for (int ch = 0; ch < 16; ++ch) {
        const Pending p = pending_[static_cast<std::size_t>(ch)];
        if (p.kind == Pending::Kind::Program)
            ProgramChange(ch, p.program);
        else if (p.kind == Pending::Kind::Select)
            SelectNow(ch, p.key);
    }
    if (held_.count > 0) ReplayHeld();
}

void PresetPlayer::ReplayHeld() {
    std::swap(held_, replay_);
    held_.count = 0;
    held_.poolUsed = 0;
    blockedChannels_ = 0;
    blockedAll_ = false;
    // In order: a message whose channel is still waiting is held again, and so is every
    // later one of that channel.
    for (std::size_t i = 0; i < replay_.count; ++i) {
        const Held& h = replay_.items[i];
        if (h.kind == Held::Kind::Select) {
            Select(h.channel, h.key);
            continue;
        }
        const MidiMessage m = MessageOfBytes({replay_.pool.data() + h.offset, h.length});
        Play(m);
    }
    replay_.count = 0;
    replay_.poolUsed = 0;
    // Messages beyond the bound were dropped, note-offs among them maybe: the notes of those
    // channels end now rather than hang.
    for (int ch = 0; ch < 16; ++ch) {
        const auto bit = static_cast<std::uint16_t>(1u << ch);
        if ((overflowed_ & bit) == 0 || (blockedChannels_ & bit) != 0 || blockedAll_) continue;
        overflowed_ &= static_cast<std::uint16_t>(~bit);
        const std::uint8_t allNotesOff[] = {static_cast<std::uint8_t>(0xB0 | ch), 123, 0};
        ApplyMessage(synth_, MessageOfBytes(allNotesOff));
    }
}

void PresetPlayer::Hold(const MidiMessage& m) {
    const auto bytes = m.Bytes();
    if (held_.count == held_.items.size() || bytes.size() > held_.pool.size() - held_.poolUsed) {
        if (m.IsChannelMessage()) overflowed_ |= static_cast<std::uint16_t>(1u << m.Channel());
        return;
    }
    Held h;
    h.length = static_cast<std::uint16_t>(bytes.size());
    h.offset = static_cast<std::uint16_t>(held_.poolUsed);
    std::copy(bytes.begin(), bytes.end(), held_.pool.begin() + static_cast<long>(h.offset));
    held_.poolUsed += bytes.size();
    held_.items[held_.count++] = h;
}

void PresetPlayer::HoldSelect(int channel, PresetKey key) {
    if (held_.count == held_.items.size()) return;
    Held h;
    h.kind = Held::Kind::Select;
    h.channel = static_cast<std::uint8_t>(channel);
    h.key = key;
    held_.items[held_.count++] = h;
}

}  // namespace mbs
