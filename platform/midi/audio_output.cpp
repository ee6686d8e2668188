#include "audio_output.h"

namespace mbs {

void AudioOutput::Attach(fluid_synth_t* synth, PresetStore& store, PresetPlayer::Loading loading,
                         PresetPlayer::Caller caller) {
    synth_ = synth;
    player_ = std::make_unique<PresetPlayer>(synth, store, loading, caller);
}

void AudioOutput::PlayWaiting() {
    std::lock_guard lock(playMutex_);
    if (player_) player_->Retry();
}

void AudioOutput::SelectInstrument(int channel, PresetKey key) {
    std::lock_guard lock(playMutex_);
    if (player_) player_->Select(channel, key);
}

int32_t AudioOutput::InstrumentIDOnChannel(int channel) const {
    return synth_ ? InstrumentIDOf(synth_, channel) : 0;
}

int32_t InstrumentIDOf(fluid_synth_t* synth, int channel) {
    // The preset the channel plays, which a fallback or a drum part may have chosen from
    // another bank than the channel's.
    fluid_preset_t* preset = fluid_synth_get_channel_preset(synth, channel);
    return preset ? fluid_preset_get_banknum(preset) * 128 + fluid_preset_get_num(preset) + 1 : 0;
}

void AudioOutput::PostMessage(const MidiMessage& message) {
    std::lock_guard lock(playMutex_);
    if (player_) player_->Play(message);
}

void ApplyMessage(fluid_synth_t* synth, const MidiMessage& m) {
    if (m.kind == MidiMessageKind::SysEx) {
        // FluidSynth takes the bytes between F0 and F7.
        if (m.length >= 2)
            fluid_synth_sysex(synth, reinterpret_cast<const char*>(m.sysex + 1),
                              static_cast<int>(m.length - 2), nullptr, nullptr, nullptr, 0);
        return;
    }
    uint8_t status = m.Status();
    if (status == 0xFF) {
        fluid_synth_system_reset(synth);
        return;
    }
    if (status >= 0xF0) return;
    int ch = m.Channel();
    switch (status & 0xF0) {
        case 0x80:
            fluid_synth_noteoff(synth, ch, m.Data1());
            break;
        case 0x90:
            if (m.Data2() == 0)
                fluid_synth_noteoff(synth, ch, m.Data1());
            else
                fluid_synth_noteon(synth, ch, m.Data1(), m.Data2());
            break;
        case 0xA0:
            fluid_synth_key_pressure(synth, ch, m.Data1(), m.Data2());
            break;
        case 0xB0:
            fluid_synth_cc(synth, ch, m.Data1(), m.Data2());
            break;
        case 0xC0:
            fluid_synth_program_change(synth, ch, m.Data1());
            break;
        case 0xD0:
            fluid_synth_channel_pressure(synth, ch, m.Data1());
            break;
        case 0xE0:
            fluid_synth_pitch_bend(synth, ch, m.Data1() | (m.Data2() << 7));
            break;
        default:
            break;
    }
}

namespace {

bool DriverAvailable(std::string&) {
    return true;
}
bool OfflineAvailable(std::string&) {
    return true;
}

}  // namespace

const std::vector<AudioBackend>& AudioBackends() {
    static const std::vector<AudioBackend> backends = {
        {"jack", JackAvailable, CreateJackOutput},
        {"driver", DriverAvailable, CreateDriverOutput},
        {"offline", OfflineAvailable, CreateOfflineOutput},
    };
    return backends;
}

const AudioBackend* FindAudioBackend(const std::string& name) {
    for (const auto& b : AudioBackends())
        if (name == b.name) return &b;
    return nullptr;
}

}  // namespace mbs
