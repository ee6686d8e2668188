#include "source_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#if __has_include(<alsa/asoundlib.h>)
#include <alsa/asoundlib.h>
#define QUILLET_HAVE_ALSA_HEADERS 1
#endif

namespace {

using namespace mbs;

constexpr int kOurClient = 129;
constexpr AlsaClientType kKernel = AlsaClientType::Kernel;
constexpr AlsaClientType kUser = AlsaClientType::User;

// Capabilities as the kernel and the programs set them.
constexpr unsigned int kDuplexRw = kAlsaPortCapRead | kAlsaPortCapWrite | kAlsaPortCapSubsRead |
                                   kAlsaPortCapSubsWrite | kAlsaPortCapDuplex;
constexpr unsigned int kSyncRw = kDuplexRw | kAlsaPortCapSyncRead | kAlsaPortCapSyncWrite;
constexpr unsigned int kUsbInput = kAlsaPortCapRead | kAlsaPortCapSyncRead | kAlsaPortCapSubsRead |
                                   kAlsaPortCapWrite | kAlsaPortCapSyncWrite |
                                   kAlsaPortCapSubsWrite | kAlsaPortCapDuplex;
constexpr unsigned int kAppOutput = kAlsaPortCapRead | kAlsaPortCapSubsRead;
constexpr unsigned int kSoftwarePort =
    kAlsaPortTypeMidiGeneric | kAlsaPortTypeSoftware | kAlsaPortTypePort;
constexpr unsigned int kHardwarePort =
    kAlsaPortTypeMidiGeneric | kAlsaPortTypeHardware | kAlsaPortTypePort;
constexpr unsigned int kApplication = kAlsaPortTypeMidiGeneric | kAlsaPortTypeApplication;

struct AlsaCase {
    const char* name;
    AlsaPortInfo port;
    bool source;
    const char* display;
};

AlsaPortInfo Alsa(int client, AlsaClientType type, const char* client_name, int port,
                  const char* port_name, unsigned int caps, unsigned int port_type) {
    AlsaPortInfo p;
    p.client_id = client;
    p.client_type = type;
    p.client_name = client_name;
    p.port_id = port;
    p.port_name = port_name;
    p.capability = caps;
    p.type = port_type;
    p.own_client_id = kOurClient;
    return p;
}

TEST(AlsaSourceRules, Table) {
    const AlsaCase cases[] = {
        {"System Timer",
         Alsa(0, kKernel, "System", 0, "Timer",
              kAlsaPortCapRead | kAlsaPortCapSubsRead | kAlsaPortCapWrite, 0),
         false, "System: Timer"},
        {"System Announce", Alsa(0, kKernel, "System", 1, "Announce", kAppOutput, 0), false,
         "System: Announce"},
        {"a port of client 0 even when typed like a keyboard",
         Alsa(0, kKernel, "System", 2, "Clock", kUsbInput, kHardwarePort), false, "System: Clock"},
        {"Midi Through",
         Alsa(14, kKernel, "Midi Through", 0, "Midi Through Port-0", kDuplexRw, kSoftwarePort),
         false, "Midi Through Port-0"},
        {"VirMIDI",
         Alsa(20, kKernel, "Virtual Raw MIDI 1-0", 0, "VirMIDI 1-0", kSyncRw, kSoftwarePort), false,
         "Virtual Raw MIDI 1-0: VirMIDI 1-0"},
        {"USB keyboard",
         Alsa(24, kKernel, "Launchkey Mini", 0, "Launchkey Mini MIDI 1", kUsbInput, kHardwarePort),
         true, "Launchkey Mini MIDI 1"},
        {"USB keyboard's second port",
         Alsa(24, kKernel, "Launchkey Mini", 1, "Launchkey Mini MIDI 2", kUsbInput, kHardwarePort),
         true, "Launchkey Mini MIDI 2"},
        {"kernel client numbered like a user client is still kernel",
         Alsa(130, kKernel, "Midi Through", 0, "Midi Through Port-0", kDuplexRw, kSoftwarePort),
         false, "Midi Through Port-0"},
        {"USB output-only port (a synth module's input)",
         Alsa(28, kKernel, "MIDI Module", 0, "MIDI Module MIDI 1",
              kAlsaPortCapWrite | kAlsaPortCapSyncWrite | kAlsaPortCapSubsWrite, kHardwarePort),
         false, "MIDI Module MIDI 1"},
        {"PipeWire-System",
         Alsa(128, kUser, "PipeWire-System", 0, "input", kAlsaPortCapRead | kAlsaPortCapWrite,
              kApplication),
         false, "PipeWire-System: input"},
        {"PipeWire-RT-Event",
         Alsa(131, kUser, "PipeWire-RT-Event", 0, "input", kAlsaPortCapRead | kAlsaPortCapWrite,
              kApplication),
         false, "PipeWire-RT-Event: input"},
        {"JACK bridge private port",
         Alsa(132, kUser, "a2j", 0, "port",
              kAlsaPortCapRead | kAlsaPortCapWrite | kAlsaPortCapNoExport,
              kAlsaPortTypeApplication),
         false, "a2j: port"},
        {"unexported port that is otherwise a source",
         Alsa(133, kUser, "Hidden", 0, "out", kAppOutput | kAlsaPortCapNoExport, kApplication),
         false, "Hidden: out"},
        {"inactive port",
         Alsa(133, kUser, "Sleeper", 0, "out", kAppOutput | kAlsaPortCapInactive, kApplication),
         false, "Sleeper: out"},
        {"UMP endpoint port of a MIDI 2.0 device",
         Alsa(36, kKernel, "Keystep", 0, "MIDI 2.0", kUsbInput | kAlsaPortCapUmpEndpoint,
              kHardwarePort | kAlsaPortTypeMidiUmp),
         false, "Keystep: MIDI 2.0"},
        {"virtual keyboard", Alsa(134, kUser, "VMPK Output", 0, "out", kAppOutput, kApplication),
         true, "VMPK Output: out"},
        {"user client with MIDI_GENERIC only",
         Alsa(135, kUser, "Sequencer", 0, "Sequencer out", kAppOutput, kAlsaPortTypeMidiGeneric),
         true, "Sequencer out"},
        {"user client with APPLICATION only",
         Alsa(136, kUser, "Arpeggiator", 0, "output", kAppOutput, kAlsaPortTypeApplication), true,
         "Arpeggiator: output"},
        {"user client without a MIDI or application type",
         Alsa(137, kUser, "Timer app", 0, "ticks", kAppOutput, kAlsaPortTypeSynth), false,
         "Timer app: ticks"},
        {"readable without SUBS_READ",
         Alsa(138, kUser, "Monitor", 0, "out", kAlsaPortCapRead, kApplication), false,
         "Monitor: out"},
        {"SUBS_READ without READ",
         Alsa(139, kUser, "Odd", 0, "out", kAlsaPortCapSubsRead, kApplication), false, "Odd: out"},
        {"our own port",
         Alsa(kOurClient, kUser, "Velunor", 0, "VelunorPort",
              kAlsaPortCapWrite | kAlsaPortCapSubsWrite, kApplication),
         false, "VelunorPort"},
        {"our own client even with a readable port",
         Alsa(kOurClient, kUser, "Velunor", 1, "out", kAppOutput, kApplication), false,
         "Velunor: out"},
        {"port name that only shares a prefix with the client name",
         Alsa(140, kUser, "Launch", 0, "Launchpad", kAppOutput, kApplication), true, "Launchpad"},
        {"client name differs in case",
         Alsa(141, kUser, "launchkey mini", 0, "Launchkey Mini MIDI 1", kAppOutput, kApplication),
         true, "launchkey mini: Launchkey Mini MIDI 1"},
        {"empty port name", Alsa(142, kUser, "Keys", 0, "", kAppOutput, kApplication), true,
         "Keys: "},
    };
    for (const AlsaCase& c : cases) {
        EXPECT_EQ(IsAlsaSource(c.port), c.source) << c.name;
        EXPECT_EQ(AlsaDisplayName(c.port), c.display) << c.name;
    }
}

TEST(AlsaSourceRules, BitValuesAreAlsas) {
#ifdef QUILLET_HAVE_ALSA_HEADERS
    EXPECT_EQ(kAlsaPortCapRead, unsigned{SND_SEQ_PORT_CAP_READ});
    EXPECT_EQ(kAlsaPortCapWrite, unsigned{SND_SEQ_PORT_CAP_WRITE});
    EXPECT_EQ(kAlsaPortCapSyncRead, unsigned{SND_SEQ_PORT_CAP_SYNC_READ});
    EXPECT_EQ(kAlsaPortCapSyncWrite, unsigned{SND_SEQ_PORT_CAP_SYNC_WRITE});
    EXPECT_EQ(kAlsaPortCapDuplex, unsigned{SND_SEQ_PORT_CAP_DUPLEX});
    EXPECT_EQ(kAlsaPortCapSubsRead, unsigned{SND_SEQ_PORT_CAP_SUBS_READ});
    EXPECT_EQ(kAlsaPortCapSubsWrite, unsigned{SND_SEQ_PORT_CAP_SUBS_WRITE});
    EXPECT_EQ(kAlsaPortCapNoExport, unsigned{SND_SEQ_PORT_CAP_NO_EXPORT});
#ifdef SND_SEQ_PORT_CAP_INACTIVE
    EXPECT_EQ(kAlsaPortCapInactive, unsigned{SND_SEQ_PORT_CAP_INACTIVE});
#endif
#ifdef SND_SEQ_PORT_CAP_UMP_ENDPOINT
    EXPECT_EQ(kAlsaPortCapUmpEndpoint, unsigned{SND_SEQ_PORT_CAP_UMP_ENDPOINT});
#endif
#ifdef SND_SEQ_PORT_TYPE_MIDI_UMP
    EXPECT_EQ(kAlsaPortTypeMidiUmp, unsigned{SND_SEQ_PORT_TYPE_MIDI_UMP});
#endif
    EXPECT_EQ(kAlsaPortTypeMidiGeneric, unsigned{SND_SEQ_PORT_TYPE_MIDI_GENERIC});
    EXPECT_EQ(kAlsaPortTypeMidiGm, unsigned{SND_SEQ_PORT_TYPE_MIDI_GM});
    EXPECT_EQ(kAlsaPortTypeMidiGs, unsigned{SND_SEQ_PORT_TYPE_MIDI_GS});
    EXPECT_EQ(kAlsaPortTypeMidiXg, unsigned{SND_SEQ_PORT_TYPE_MIDI_XG});
    EXPECT_EQ(kAlsaPortTypeMidiMt32, unsigned{SND_SEQ_PORT_TYPE_MIDI_MT32});
    EXPECT_EQ(kAlsaPortTypeMidiGm2, unsigned{SND_SEQ_PORT_TYPE_MIDI_GM2});
    EXPECT_EQ(kAlsaPortTypeSynth, unsigned{SND_SEQ_PORT_TYPE_SYNTH});
    EXPECT_EQ(kAlsaPortTypeDirectSample, unsigned{SND_SEQ_PORT_TYPE_DIRECT_SAMPLE});
    EXPECT_EQ(kAlsaPortTypeSample, unsigned{SND_SEQ_PORT_TYPE_SAMPLE});
    EXPECT_EQ(kAlsaPortTypeHardware, unsigned{SND_SEQ_PORT_TYPE_HARDWARE});
    EXPECT_EQ(kAlsaPortTypeSoftware, unsigned{SND_SEQ_PORT_TYPE_SOFTWARE});
    EXPECT_EQ(kAlsaPortTypeSynthesizer, unsigned{SND_SEQ_PORT_TYPE_SYNTHESIZER});
    EXPECT_EQ(kAlsaPortTypePort, unsigned{SND_SEQ_PORT_TYPE_PORT});
    EXPECT_EQ(kAlsaPortTypeApplication, unsigned{SND_SEQ_PORT_TYPE_APPLICATION});
    EXPECT_EQ(static_cast<int>(AlsaClientType::User), static_cast<int>(SND_SEQ_USER_CLIENT));
    EXPECT_EQ(static_cast<int>(AlsaClientType::Kernel), static_cast<int>(SND_SEQ_KERNEL_CLIENT));
    EXPECT_EQ(kAlsaSystemClient, SND_SEQ_CLIENT_SYSTEM);
#else
    GTEST_SKIP() << "alsa/asoundlib.h is not installed";
#endif
}

struct JackCase {
    const char* name;
    JackPortInfo port;
    bool source;
    const char* display;
};

JackPortInfo Jack(const char* name, std::vector<std::string> aliases = {},
                  const char* pretty = "") {
    JackPortInfo p;
    p.name = name;
    p.is_output = true;
    p.is_midi = true;
    p.aliases = std::move(aliases);
    p.pretty_name = pretty;
    p.own_client_name = "Velunor";
    return p;
}

JackPortInfo With(JackPortInfo p, bool output, bool midi) {
    p.is_output = output;
    p.is_midi = midi;
    return p;
}

TEST(JackSourceRules, Table) {
    const JackCase cases[] = {
        // a2jmidid, with and without its unique-name option.
        {"Midi Through by a2jmidid", Jack("a2j:Midi Through [14] (capture): Midi Through Port-0"),
         false, "Midi Through Port-0"},
        {"Midi Through by a2jmidid without client number",
         Jack("a2j:Midi Through (capture): Midi Through Port-0"), false, "Midi Through Port-0"},
        {"keyboard by a2jmidid", Jack("a2j:Launchkey Mini [24] (capture): Launchkey Mini MIDI 1"),
         true, "Launchkey Mini MIDI 1"},
        {"keyboard by a2jmidid without client number",
         Jack("a2j:Launchkey Mini (capture): Launchkey Mini MIDI 1"), true,
         "Launchkey Mini MIDI 1"},
        // jackd's ALSA sequencer MIDI driver (-X seq): system ports with two aliases.
        {"Midi Through by jackd",
         Jack("system:midi_capture_1",
              {"alsa_pcm:Midi-Through/midi_capture_1", "Midi-Through:midi/capture_1"}),
         false, "Midi-Through:midi/capture_1"},
        {"keyboard by jackd",
         Jack("system:midi_capture_2",
              {"alsa_pcm:Launchkey-Mini/midi_capture_1", "Launchkey-Mini:midi/capture_1"}),
         true, "Launchkey-Mini:midi/capture_1"},
        // PipeWire's JACK: Midi-Bridge ports, aliases only with jack.fill-aliases.
        {"Midi Through by PipeWire", Jack("Midi-Bridge:Midi Through Port-0 (capture)"), false,
         "Midi Through Port-0"},
        {"Midi Through by PipeWire with aliases",
         Jack("Midi-Bridge:Midi Through Port-0 (capture)",
              {"alsa:seq:default:client_14:capture_0", "Midi Through:Midi Through Port-0"}),
         false, "Midi Through:Midi Through Port-0"},
        {"keyboard by PipeWire", Jack("Midi-Bridge:Launchkey Mini MIDI 1 (capture)"), true,
         "Launchkey Mini MIDI 1"},
        {"keyboard by PipeWire with aliases",
         Jack("Midi-Bridge:Launchkey Mini MIDI 1 (capture)",
              {"alsa:seq:default:client_24:capture_0", "Launchkey Mini:Launchkey Mini MIDI 1"}),
         true, "Launchkey Mini:Launchkey Mini MIDI 1"},
        {"keyboard by PipeWire with long names",
         Jack("Midi-Bridge:[24:0] Launchkey Mini MIDI 1 (capture)"), true, "Launchkey Mini MIDI 1"},
        {"Midi Through by PipeWire with long names",
         Jack("Midi-Bridge:[14:0] Midi Through Port-0 (capture)"), false, "Midi Through Port-0"},

        {"pretty name wins", Jack("system:midi_capture_2", {"a", "b"}, "Launchkey Mini"), true,
         "Launchkey Mini"},
        {"Midi Through in the pretty name", Jack("system:midi_capture_1", {}, "Midi Through"),
         false, "Midi Through"},
        {"one alias is not used", Jack("vkeybd:out", {"alsa_pcm:vkeybd/out"}), true, "vkeybd:out"},
        {"empty second alias is not used", Jack("vkeybd:out", {"first", ""}), true, "vkeybd:out"},
        {"virtual keyboard client", Jack("VMPK Output:out"), true, "VMPK Output:out"},
        {"bridge decoration with nothing after it", Jack("a2j:Odd (capture): "), true,
         "a2j:Odd (capture): "},
        {"bracket that is not an address", Jack("Midi-Bridge:[x] Pad (capture)"), true, "[x] Pad"},
        {"our own port", Jack("Velunor:VelunorPort"), false, "Velunor:VelunorPort"},
        {"a client whose name starts like ours", Jack("Velunor-2:out"), true, "Velunor-2:out"},
        {"MIDI input port", With(Jack("fluidsynth:midi_00"), false, true), false,
         "fluidsynth:midi_00"},
        {"audio output port", With(Jack("system:capture_1"), true, false), false,
         "system:capture_1"},
    };
    for (const JackCase& c : cases) {
        EXPECT_EQ(IsJackSource(c.port), c.source) << c.name;
        EXPECT_EQ(JackDisplayName(c.port), c.display) << c.name;
    }
}

}  // namespace
