#include "source_rules.h"

#include <cctype>
#include <string_view>

namespace mbs {
namespace {

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Bridges write the kernel's "Midi Through" client with its space replaced ("Midi-Through"
// in the aliases of jackd's sequencer driver), so separators are treated alike.
bool ContainsMidiThrough(std::string_view s) {
    constexpr std::string_view kWords = "Midi Through";
    const auto same = [](char a, char b) {
        const auto separator = [](char c) { return c == ' ' || c == '-' || c == '_'; };
        return a == b || (separator(a) && separator(b));
    };
    for (std::size_t i = 0; i + kWords.size() <= s.size(); ++i) {
        std::size_t k = 0;
        while (k < kWords.size() && same(s[i + k], kWords[k])) ++k;
        if (k == kWords.size()) return true;
    }
    return false;
}

// PipeWire's older long names begin with the sequencer address: "[20:0] ".
std::string_view WithoutAddressPrefix(std::string_view s) {
    if (s.empty() || s[0] != '[') return s;
    std::size_t i = 1;
    const auto digits = [&] {
        const std::size_t start = i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
        return i > start;
    };
    if (!digits() || i >= s.size() || s[i] != ':') return s;
    ++i;
    if (!digits() || !StartsWith(s.substr(i), "] ")) return s;
    return s.substr(i + 2);
}

// The sequencer port's own name inside a bridge's JACK port name, or empty when the
// short name is not one a bridge writes:
//   a2jmidid:  "Launchkey Mini [20] (capture): Launchkey Mini MIDI 1"
//   PipeWire:  "Launchkey Mini MIDI 1 (capture)", formerly "[20:0] Launchkey Mini MIDI 1 (capture)"
std::string_view BridgedPortName(std::string_view short_name) {
    constexpr std::string_view kA2jSeparator = " (capture): ";
    constexpr std::string_view kCaptureSuffix = " (capture)";
    if (const auto at = short_name.find(kA2jSeparator); at != std::string_view::npos) {
        return short_name.substr(at + kA2jSeparator.size());
    }
    if (EndsWith(short_name, kCaptureSuffix)) {
        short_name.remove_suffix(kCaptureSuffix.size());
        return WithoutAddressPrefix(short_name);
    }
    return {};
}

}  // namespace

bool IsAlsaSource(const AlsaPortInfo& port) {
    if (port.client_id == kAlsaSystemClient || port.client_id == port.own_client_id) {
        return false;
    }
    constexpr unsigned int kReadable = kAlsaPortCapRead | kAlsaPortCapSubsRead;
    if ((port.capability & kReadable) != kReadable) return false;
    if (port.capability & (kAlsaPortCapNoExport | kAlsaPortCapInactive | kAlsaPortCapUmpEndpoint)) {
        return false;
    }
    if ((port.type & (kAlsaPortTypeMidiGeneric | kAlsaPortTypeApplication)) == 0) return false;
    // Kernel clients without HARDWARE are software ports: Midi Through, VirMIDI.
    if (port.client_type == AlsaClientType::Kernel && (port.type & kAlsaPortTypeHardware) == 0) {
        return false;
    }
    return true;
}

std::string AlsaDisplayName(const AlsaPortInfo& port) {
    if (StartsWith(port.port_name, port.client_name)) return port.port_name;
    return port.client_name + ": " + port.port_name;
}

bool IsJackSource(const JackPortInfo& port) {
    if (!port.is_output || !port.is_midi) return false;
    const std::string_view name = port.name;
    if (name.substr(0, name.find(':')) == port.own_client_name) return false;
    if (ContainsMidiThrough(name) || ContainsMidiThrough(port.pretty_name)) return false;
    for (const std::string& alias : port.aliases) {
        if (ContainsMidiThrough(alias)) return false;
    }
    return true;
}

std::string JackDisplayName(const JackPortInfo& port) {
    if (!port.pretty_name.empty()) return port.pretty_name;
    if (port.aliases.size() >= 2 && !port.aliases[1].empty()) return port.aliases[1];
    const std::string_view name = port.name;
    const std::size_t colon = name.find(':');
    if (colon != std::string_view::npos) {
        const std::string_view bridged = BridgedPortName(name.substr(colon + 1));
        if (!bridged.empty()) return std::string(bridged);
    }
    return port.name;
}

}  // namespace mbs
