#pragma once

#include <string>
#include <vector>

namespace mbs {

// ALSA sequencer client types, with the values of snd_seq_client_type_t.
enum class AlsaClientType : int { User = 1, Kernel = 2 };

// ALSA sequencer port capability bits, with the values of SND_SEQ_PORT_CAP_*.
inline constexpr unsigned int kAlsaPortCapRead = 1u << 0;
inline constexpr unsigned int kAlsaPortCapWrite = 1u << 1;
inline constexpr unsigned int kAlsaPortCapSyncRead = 1u << 2;
inline constexpr unsigned int kAlsaPortCapSyncWrite = 1u << 3;
inline constexpr unsigned int kAlsaPortCapDuplex = 1u << 4;
inline constexpr unsigned int kAlsaPortCapSubsRead = 1u << 5;
inline constexpr unsigned int kAlsaPortCapSubsWrite = 1u << 6;
inline constexpr unsigned int kAlsaPortCapNoExport = 1u << 7;
// Newer than some alsa-lib headers still in use; these are the kernel's values.
inline constexpr unsigned int kAlsaPortCapInactive = 1u << 8;
inline constexpr unsigned int kAlsaPortCapUmpEndpoint = 1u << 9;

// ALSA sequencer port type bits, with the values of SND_SEQ_PORT_TYPE_*.
inline constexpr unsigned int kAlsaPortTypeMidiGeneric = 1u << 1;
inline constexpr unsigned int kAlsaPortTypeMidiGm = 1u << 2;
inline constexpr unsigned int kAlsaPortTypeMidiGs = 1u << 3;
inline constexpr unsigned int kAlsaPortTypeMidiXg = 1u << 4;
inline constexpr unsigned int kAlsaPortTypeMidiMt32 = 1u << 5;
inline constexpr unsigned int kAlsaPortTypeMidiGm2 = 1u << 6;
inline constexpr unsigned int kAlsaPortTypeMidiUmp = 1u << 7;  // kernel value, as above
inline constexpr unsigned int kAlsaPortTypeSynth = 1u << 10;
inline constexpr unsigned int kAlsaPortTypeDirectSample = 1u << 11;
inline constexpr unsigned int kAlsaPortTypeSample = 1u << 12;
inline constexpr unsigned int kAlsaPortTypeHardware = 1u << 16;
inline constexpr unsigned int kAlsaPortTypeSoftware = 1u << 17;
inline constexpr unsigned int kAlsaPortTypeSynthesizer = 1u << 18;
inline constexpr unsigned int kAlsaPortTypePort = 1u << 19;
inline constexpr unsigned int kAlsaPortTypeApplication = 1u << 20;

// The ALSA sequencer's own client (System Timer, System Announce).
inline constexpr int kAlsaSystemClient = 0;

struct AlsaPortInfo {
    int client_id = -1;
    AlsaClientType client_type = AlsaClientType::User;
    std::string client_name;
    int port_id = -1;
    std::string port_name;
    unsigned int capability = 0;  // kAlsaPortCap* bits
    unsigned int type = 0;        // kAlsaPortType* bits
    int own_client_id = -1;       // our sequencer client
};

// Whether the port is a keyboard a user would want connected (not a system, through,
// bridge, unexported or own port).
bool IsAlsaSource(const AlsaPortInfo& port);

// The port name when it begins with the client name, otherwise "client: port".
std::string AlsaDisplayName(const AlsaPortInfo& port);

struct JackPortInfo {
    std::string name;  // full name, "client:port"
    bool is_output = false;
    bool is_midi = false;
    std::vector<std::string> aliases;
    std::string pretty_name;  // JACK metadata pretty name; empty when unset
    std::string own_client_name;
};

// Whether the port is another client's MIDI output that is not a "Midi Through" port.
bool IsJackSource(const JackPortInfo& port);

// The pretty name, else the second alias, else the short name of a bridge port without
// the bridge's decoration, else the full name.
std::string JackDisplayName(const JackPortInfo& port);

}  // namespace mbs
