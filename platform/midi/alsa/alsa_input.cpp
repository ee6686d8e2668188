#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "midi_input.h"
#include "platform/framework/core/waker.h"
#include "source_rules.h"

namespace mbs {

// The source rules are written with ALSA's own values.
static_assert(kAlsaPortCapRead == SND_SEQ_PORT_CAP_READ &&
              kAlsaPortCapWrite == SND_SEQ_PORT_CAP_WRITE &&
              kAlsaPortCapDuplex == SND_SEQ_PORT_CAP_DUPLEX &&
              kAlsaPortCapSubsRead == SND_SEQ_PORT_CAP_SUBS_READ &&
              kAlsaPortCapSubsWrite == SND_SEQ_PORT_CAP_SUBS_WRITE &&
              kAlsaPortCapNoExport == SND_SEQ_PORT_CAP_NO_EXPORT);
static_assert(kAlsaPortTypeMidiGeneric == SND_SEQ_PORT_TYPE_MIDI_GENERIC &&
              kAlsaPortTypeHardware == SND_SEQ_PORT_TYPE_HARDWARE &&
              kAlsaPortTypeSoftware == SND_SEQ_PORT_TYPE_SOFTWARE &&
              kAlsaPortTypeApplication == SND_SEQ_PORT_TYPE_APPLICATION &&
              kAlsaPortTypeSynth == SND_SEQ_PORT_TYPE_SYNTH);
static_assert(static_cast<int>(AlsaClientType::User) == SND_SEQ_USER_CLIENT &&
              static_cast<int>(AlsaClientType::Kernel) == SND_SEQ_KERNEL_CLIENT &&
              kAlsaSystemClient == SND_SEQ_CLIENT_SYSTEM);

namespace {

struct SeqCloser {
    void operator()(snd_seq_t* s) const noexcept { snd_seq_close(s); }
};
using SeqPtr = std::unique_ptr<snd_seq_t, SeqCloser>;

struct MidiEventFree {
    void operator()(snd_midi_event_t* e) const noexcept { snd_midi_event_free(e); }
};
using MidiEventPtr = std::unique_ptr<snd_midi_event_t, MidiEventFree>;

uint64_t SourceId(int client, int port) {
    return (uint64_t{1} << 40) | (static_cast<uint64_t>(client) << 16) |
           static_cast<uint64_t>(port);
}

int ClientOf(uint64_t id) {
    return static_cast<int>((id >> 16) & 0xFFFF);
}
int PortOf(uint64_t id) {
    return static_cast<int>(id & 0xFFFF);
}

// The port described as the source rules want it.
AlsaPortInfo Describe(snd_seq_client_info_t* client, snd_seq_port_info_t* port, int ownClient) {
    AlsaPortInfo info;
    info.client_id = snd_seq_client_info_get_client(client);
    info.client_type = snd_seq_client_info_get_type(client) == SND_SEQ_KERNEL_CLIENT
                           ? AlsaClientType::Kernel
                           : AlsaClientType::User;
    info.client_name = snd_seq_client_info_get_name(client);
    info.port_id = snd_seq_port_info_get_port(port);
    info.port_name = snd_seq_port_info_get_name(port);
    info.capability = snd_seq_port_info_get_capability(port);
    info.type = snd_seq_port_info_get_type(port);
    info.own_client_id = ownClient;
    return info;
}

// The port at client:port described, when it exists.
bool Describe(snd_seq_t* seq, int client, int port, int ownClient, AlsaPortInfo& info) {
    snd_seq_client_info_t* ci;
    snd_seq_port_info_t* pi;
    snd_seq_client_info_alloca(&ci);
    snd_seq_port_info_alloca(&pi);
    if (snd_seq_get_any_client_info(seq, client, ci) < 0 ||
        snd_seq_get_any_port_info(seq, client, port, pi) < 0)
        return false;
    info = Describe(ci, pi, ownClient);
    return true;
}

bool IsChannelEvent(snd_seq_event_type_t type) {
    switch (type) {
        case SND_SEQ_EVENT_NOTEON:
        case SND_SEQ_EVENT_NOTEOFF:
        case SND_SEQ_EVENT_KEYPRESS:
        case SND_SEQ_EVENT_CONTROLLER:
        case SND_SEQ_EVENT_PGMCHANGE:
        case SND_SEQ_EVENT_CHANPRESS:
        case SND_SEQ_EVENT_PITCHBEND:
            return true;
        default:
            return false;
    }
}

// Rejects values a well-behaved sender never produces, so that they never reach the
// synthesizer (alsa-lib would mask them into other notes or channels).
bool ValidEvent(const snd_seq_event_t& ev) {
    switch (ev.type) {
        case SND_SEQ_EVENT_NOTEON:
            return ValidChannelEvent(kChannelEventNoteOn, ev.data.note.channel, ev.data.note.note,
                                     ev.data.note.velocity);
        case SND_SEQ_EVENT_NOTEOFF:
            return ValidChannelEvent(kChannelEventNoteOff, ev.data.note.channel, ev.data.note.note,
                                     ev.data.note.velocity);
        case SND_SEQ_EVENT_KEYPRESS:
            return ValidChannelEvent(kChannelEventKeyPressure, ev.data.note.channel,
                                     ev.data.note.note, ev.data.note.velocity);
        case SND_SEQ_EVENT_CONTROLLER:
            return ValidChannelEvent(kChannelEventController, ev.data.control.channel,
                                     static_cast<int>(ev.data.control.param),
                                     ev.data.control.value);
        case SND_SEQ_EVENT_PGMCHANGE:
            return ValidChannelEvent(kChannelEventProgramChange, ev.data.control.channel,
                                     ev.data.control.value, 0);
        case SND_SEQ_EVENT_CHANPRESS:
            return ValidChannelEvent(kChannelEventChannelPressure, ev.data.control.channel,
                                     ev.data.control.value, 0);
        case SND_SEQ_EVENT_PITCHBEND:
            return ValidChannelEvent(kChannelEventPitchBend, ev.data.control.channel,
                                     ev.data.control.value, 0);
        default:
            return true;
    }
}

// What reaches the port as MIDI: channel, system and real-time messages. Announcements of
// the sequencer itself (subscriptions, clients coming and going) are not MIDI.
bool IsMidiEvent(snd_seq_event_type_t type) {
    if (IsChannelEvent(type)) return true;
    switch (type) {
        case SND_SEQ_EVENT_SYSEX:
        case SND_SEQ_EVENT_QFRAME:
        case SND_SEQ_EVENT_SONGPOS:
        case SND_SEQ_EVENT_SONGSEL:
        case SND_SEQ_EVENT_TUNE_REQUEST:
        case SND_SEQ_EVENT_CLOCK:
        case SND_SEQ_EVENT_START:
        case SND_SEQ_EVENT_CONTINUE:
        case SND_SEQ_EVENT_STOP:
        case SND_SEQ_EVENT_SENSING:
        case SND_SEQ_EVENT_RESET:
        case SND_SEQ_EVENT_CONTROL14:
        case SND_SEQ_EVENT_NONREGPARAM:
        case SND_SEQ_EVENT_REGPARAM:
            return true;
        default:
            return false;
    }
}

class AlsaInput : public MidiInput {
public:
    ~AlsaInput() override { Close(); }
    const char* Name() const override { return "alsa"; }

    int32_t Open(const std::string& clientName) override {
        snd_seq_t* seq = nullptr;
        int err = snd_seq_open(&seq, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK);
        if (err < 0) return err;
        input_.reset(seq);
        snd_seq_set_client_name(input_.get(), clientName.c_str());
        clientId_ = snd_seq_client_id(input_.get());
        // A second handle for the main thread's queries and subscriptions: a sequencer
        // handle is not to be used by two threads at once.
        err = snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, 0);
        if (err < 0) {
            input_.reset();
            return err;
        }
        control_.reset(seq);
        snd_seq_set_client_name(control_.get(), (clientName + " control").c_str());
        controlId_ = snd_seq_client_id(control_.get());
        return 0;
    }

    int32_t CreatePort(const std::string& portName, InputListener* listener,
                       int32_t& error) override {
        if (!input_) {
            error = -ENODEV;
            return 0;
        }
        int port = snd_seq_create_simple_port(
            input_.get(), portName.c_str(), SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
            SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        if (port < 0) {
            error = port;
            return 0;
        }
        snd_midi_event_t* encoder = nullptr;
        if (int err = snd_midi_event_new(kMaxEventBytes, &encoder); err < 0) {
            error = err;
            return 0;
        }
        encoder_.reset(encoder);
        snd_midi_event_no_status(encoder_.get(), 1);
        if (!wake_.Valid()) {
            error = -EMFILE;
            return 0;
        }
        port_ = port;
        // The System Announce port tells the input thread of new ports and of connections,
        // on a port of ours no other client may connect to. Should that fail, the port still
        // plays; only a keyboard plugged in again is not connected again.
        int announce = snd_seq_create_simple_port(
            input_.get(), "announcements", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
            SND_SEQ_PORT_TYPE_APPLICATION);
        if (announce >= 0)
            snd_seq_connect_from(input_.get(), announce, SND_SEQ_CLIENT_SYSTEM,
                                 SND_SEQ_PORT_SYSTEM_ANNOUNCE);
        listener_ = listener;
        thread_ = std::thread([this] { Run(); });
        error = 0;
        return port + 1;
    }

    std::vector<SourceInfo> Sources() override {
        std::vector<SourceInfo> out;
        if (!control_) return out;
        snd_seq_client_info_t* client;
        snd_seq_port_info_t* port;
        snd_seq_client_info_alloca(&client);
        snd_seq_port_info_alloca(&port);
        snd_seq_client_info_set_client(client, -1);
        while (snd_seq_query_next_client(control_.get(), client) >= 0) {
            int c = snd_seq_client_info_get_client(client);
            if (c == controlId_) continue;
            snd_seq_port_info_set_client(port, c);
            snd_seq_port_info_set_port(port, -1);
            while (snd_seq_query_next_port(control_.get(), port) >= 0) {
                AlsaPortInfo info = Describe(client, port, clientId_);
                if (!IsAlsaSource(info)) continue;
                uint64_t id = SourceId(info.client_id, info.port_id);
                std::string name = AlsaDisplayName(info);
                out.push_back({id, name});
                std::lock_guard lock(namesMutex_);
                names_[id] = name;
            }
        }
        return out;
    }

    bool Connect(uint64_t sourceId) override {
        if (!control_ || port_ < 0) return false;
        int err = Subscribe(control_.get(), ClientOf(sourceId), PortOf(sourceId));
        return err == 0 || err == -EBUSY;
    }

    void Close() override {
        if (thread_.joinable()) {
            wake_.Wake();
            thread_.join();
        }
        listener_ = nullptr;
    }

private:
    static constexpr long kMaxEventBytes = 512;

    // Connects client:port to our port, through the calling thread's own handle.
    int Subscribe(snd_seq_t* seq, int client, int port) const {
        snd_seq_port_subscribe_t* subs;
        snd_seq_port_subscribe_alloca(&subs);
        snd_seq_addr_t sender{static_cast<unsigned char>(client), static_cast<unsigned char>(port)};
        snd_seq_addr_t dest{static_cast<unsigned char>(clientId_),
                            static_cast<unsigned char>(port_)};
        snd_seq_port_subscribe_set_sender(subs, &sender);
        snd_seq_port_subscribe_set_dest(subs, &dest);
        return snd_seq_subscribe_port(seq, subs);
    }

    // The port's input thread: blocks in poll until events arrive or it is told to stop.
    void Run() {
        int count = snd_seq_poll_descriptors_count(input_.get(), POLLIN);
        std::vector<pollfd> fds(static_cast<size_t>(count) + 1);
        snd_seq_poll_descriptors(input_.get(), fds.data(), static_cast<unsigned>(count), POLLIN);
        fds.back() = pollfd{wake_.Fd(), POLLIN, 0};
        for (;;) {
            if (poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds.back().revents & POLLIN) return;
            snd_seq_event_t* ev = nullptr;
            int r;
            while ((r = snd_seq_event_input(input_.get(), &ev)) >= 0 || r == -ENOSPC) {
                if (r >= 0 && ev) Handle(*ev);
            }
        }
    }

    void Handle(const snd_seq_event_t& ev) {
        if (ev.type == SND_SEQ_EVENT_PORT_SUBSCRIBED) return Subscribed(ev.data.connect);
        if (ev.type == SND_SEQ_EVENT_PORT_START) return Started(ev.data.addr);
        if (!IsMidiEvent(ev.type) || !ValidEvent(ev)) return;
        uint64_t id = SourceId(ev.source.client, ev.source.port);
        std::vector<uint8_t> bytes;
        if (ev.type == SND_SEQ_EVENT_SYSEX) {
            const auto* data = static_cast<const uint8_t*>(ev.data.ext.ptr);
            bytes.assign(data, data + ev.data.ext.len);
        } else {
            uint8_t buf[kMaxEventBytes];
            snd_midi_event_reset_decode(encoder_.get());
            long n = snd_midi_event_decode(encoder_.get(), buf, sizeof buf, &ev);
            if (n <= 0) return;
            bytes.assign(buf, buf + n);
        }
        auto& decoder = decoders_[id];
        if (!decoder) decoder = std::make_unique<MidiDecoder>();
        decoder->Feed(bytes, [&](const MidiMessage& m) { listener_->Play(m); });
        listener_->Deliver(
            Delivery{id, NameOf(ev.source.client, ev.source.port), {std::move(bytes)}});
    }

    // A source connected to our port, by the watch or by anyone, is remembered by its names:
    // a USB keyboard plugged out and in again comes back as a new port with the same names.
    void Subscribed(const snd_seq_connect_t& connect) {
        AlsaPortInfo info;
        if (connect.dest.client == clientId_ && connect.dest.port == port_ &&
            Describe(input_.get(), connect.sender.client, connect.sender.port, clientId_, info))
            connected_.emplace(info.client_name, info.port_name);
    }

    // A new port may have a gone one's address: its messages start afresh. One with the
    // names of a source that was connected is that source back, and is connected again.
    void Started(const snd_seq_addr_t& addr) {
        decoders_.erase(SourceId(addr.client, addr.port));
        AlsaPortInfo info;
        if (Describe(input_.get(), addr.client, addr.port, clientId_, info) && IsAlsaSource(info) &&
            connected_.contains({info.client_name, info.port_name}))
            Subscribe(input_.get(), addr.client, addr.port);
    }

    // Asked on every event, since the kernel may give a gone keyboard's address to the next
    // one; the remembered name serves only when the port has already gone.
    std::string NameOf(int client, int port) {
        uint64_t id = SourceId(client, port);
        AlsaPortInfo info;
        bool present = Describe(input_.get(), client, port, clientId_, info);
        std::lock_guard lock(namesMutex_);
        if (present) names_[id] = AlsaDisplayName(info);
        auto it = names_.find(id);
        return it != names_.end() ? it->second : std::string();
    }

    SeqPtr input_;
    SeqPtr control_;
    MidiEventPtr encoder_;
    fw::Waker wake_;
    int clientId_ = -1;
    int controlId_ = -1;
    int port_ = -1;
    InputListener* listener_ = nullptr;
    std::map<uint64_t, std::unique_ptr<MidiDecoder>> decoders_;
    // Client and port names of the sources connected so far; the input thread's alone.
    std::set<std::pair<std::string, std::string>> connected_;
    std::mutex namesMutex_;
    std::map<uint64_t, std::string> names_;
    std::thread thread_;
};

}  // namespace

bool AlsaInputAvailable(std::string& why) {
    snd_seq_t* seq = nullptr;
    int err = snd_seq_open(&seq, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK);
    if (err < 0) {
        why = std::string("no ALSA sequencer (") + snd_strerror(err) + ")";
        return false;
    }
    snd_seq_close(seq);
    return true;
}

std::unique_ptr<MidiInput> CreateAlsaInput() {
    return std::make_unique<AlsaInput>();
}

}  // namespace mbs
