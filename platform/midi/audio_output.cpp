#include "audio_output.h"

namespace mbs {

void AudioOutput::Post(const SynthEvent& event) {
    if (synth_) ApplyEvent(synth_, event);
}

int32_t AudioOutput::InstrumentIDOnChannel(int channel) const {
    int sfid = 0, bank = 0, program = 0;
    if (!synth_ || fluid_synth_get_program(synth_, channel, &sfid, &bank, &program) != FLUID_OK)
        return 0;
    return bank * 128 + program + 1;
}

void AudioOutput::PostMessage(const MidiMessage& message) {
    if (synth_) ApplyMessage(synth_, message);
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

void ApplyEvent(fluid_synth_t* synth, const SynthEvent& e) {
    switch (e.kind) {
        case SynthEvent::Kind::NoteOn:
            fluid_synth_noteon(synth, e.channel, e.a, e.b);
            break;
        case SynthEvent::Kind::NoteOff:
            fluid_synth_noteoff(synth, e.channel, e.a);
            break;
        case SynthEvent::Kind::KeyPressure:
            fluid_synth_key_pressure(synth, e.channel, e.a, e.b);
            break;
        case SynthEvent::Kind::Controller:
            fluid_synth_cc(synth, e.channel, e.a, e.b);
            break;
        case SynthEvent::Kind::ProgramChange:
            fluid_synth_program_change(synth, e.channel, e.a);
            break;
        case SynthEvent::Kind::ChannelPressure:
            fluid_synth_channel_pressure(synth, e.channel, e.a);
            break;
        case SynthEvent::Kind::PitchBend:
            fluid_synth_pitch_bend(synth, e.channel, e.a);
            break;
        case SynthEvent::Kind::SystemReset:
            fluid_synth_system_reset(synth);
            break;
        case SynthEvent::Kind::ProgramSelect: {
            fluid_sfont_t* sfont = fluid_synth_get_sfont(synth, 0);
            if (sfont)
                fluid_synth_program_select(synth, e.channel, fluid_sfont_get_id(sfont), e.a, e.b);
            break;
        }
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
