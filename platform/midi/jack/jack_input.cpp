#include "jack/jack_input.h"

#include <jack/metadata.h>
#include <jack/midiport.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "debug_output.h"
#include "jack/byte_queue.h"
#include "jack/jack_client.h"
#include "midi_input.h"
#include "platform/framework/core/waker.h"
#include "source_rules.h"

namespace mbs {

namespace {

// A cycle's events for the reader thread: a few seconds of a busy keyboard, or one large
// SysEx dump.
constexpr std::size_t kQueueBytes = 64 * 1024;

// One record of the queue to the reader thread, followed by `size` bytes.
struct Record {
    enum Type : std::uint8_t { Packet, Message };
    std::uint32_t size;
    Type type;
    std::uint8_t endOfCycle;  // a Packet that is the cycle's last
    std::uint16_t reserved;
};
static_assert(sizeof(Record) == 8);

JackPortInfo Describe(jack_port_t* port, const std::string& ownClient) {
    JackPortInfo info;
    info.name = jack_port_name(port);
    info.is_output = (jack_port_flags(port) & JackPortIsOutput) != 0;
    const char* type = jack_port_type(port);
    info.is_midi = type && std::strcmp(type, JACK_DEFAULT_MIDI_TYPE) == 0;
    const auto size = static_cast<std::size_t>(jack_port_name_size());
    std::vector<char> first(size), second(size);
    char* aliases[2] = {first.data(), second.data()};
    const int count = jack_port_get_aliases(port, aliases);
    for (int i = 0; i < count && i < 2; ++i) info.aliases.emplace_back(aliases[i]);
    char* value = nullptr;
    char* valueType = nullptr;
    if (jack_get_property(jack_port_uuid(port), JACK_METADATA_PRETTY_NAME, &value, &valueType) ==
        0) {
        if (value) info.pretty_name = value;
        jack_free(value);
        jack_free(valueType);
    }
    info.own_client_name = ownClient;
    return info;
}

class JackInput : public MidiInput, private jack::InputPart {
public:
    JackInput() : queue_(kQueueBytes) {}
    ~JackInput() override { Close(); }

    const char* Name() const override { return "jack"; }

    int32_t Open(const std::string& clientName) override {
        if (client_) return 0;
        std::string why;
        client_ = jack::Client::Acquire(clientName, why);
        if (!client_) {
            std::fprintf(stderr, "quillet: %s\n", why.c_str());
            return -ECONNREFUSED;
        }
        return 0;
    }

    int32_t CreatePort(const std::string& portName, InputListener* listener,
                       int32_t& error) override {
        if (!client_) {
            error = -ENODEV;
            return 0;
        }
        if (port_) {
            error = -EEXIST;
            return 0;
        }
        const auto server = client_->Lock();
        jack_client_t* c = client_->get();
        portName_ = portName;
        if (!c || !RegisterPort(c)) {
            error = -EINVAL;
            return 0;
        }
        if (!wake_.Valid()) {
            error = -EMFILE;
            return 0;
        }
        listener_ = listener;
        stopping_.store(false);
        reader_ = std::thread([this] { Run(); });
        client_->AttachInput(this);
        attached_ = true;
        error = 0;
        const auto handle = static_cast<int32_t>(jack_port_uuid(port_.get()) & 0x7FFFFFFF);
        return handle != 0 ? handle : 1;
    }

    std::vector<SourceInfo> Sources() override {
        std::vector<SourceInfo> out;
        if (!client_) return out;
        const auto server = client_->Lock();
        jack_client_t* c = client_->get();
        if (!c) return out;
        const std::string own = client_->Name();
        jack::PortList names(jack_get_ports(c, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput));
        for (const char** name = names.get(); name && *name; ++name) {
            jack_port_t* port = jack_port_by_name(c, *name);
            if (!port) continue;  // gone since the list was made
            JackPortInfo info = Describe(port, own);
            if (IsJackSource(info)) out.push_back({jack_port_uuid(port), JackDisplayName(info)});
        }
        return out;
    }

    bool Connect(uint64_t sourceId) override {
        if (!client_) return false;
        const auto server = client_->Lock();
        jack_client_t* c = client_->get();
        if (!c || !port_) return false;
        jack::PortList names(jack_get_ports(c, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput));
        for (const char** name = names.get(); name && *name; ++name) {
            jack_port_t* port = jack_port_by_name(c, *name);
            if (!port || jack_port_uuid(port) != sourceId) continue;
            const int err = jack_connect(c, *name, jack_port_name(port_.get()));
            connects_.fetch_add(1, std::memory_order_acq_rel);
            if (err != 0 && err != EEXIST) return false;
            // A keyboard unplugged and plugged in again comes back as a new port with the same
            // names: it is connected again then (PortsChanged).
            const JackPortInfo info = Describe(port, client_->Name());
            known_.emplace_back(info.name, info.aliases);
            return true;
        }
        return false;
    }

    void Close() override {
        if (attached_) {
            client_->DetachInput(this);
            attached_ = false;
        }
        if (reader_.joinable()) {
            stopping_.store(true);
            wake_.Wake();
            reader_.join();
        }
        if (client_) {
            const auto server = client_->Lock();
            port_.reset();
        }
        listener_ = nullptr;
    }

private:
    bool RegisterPort(jack_client_t* c) {
        port_ = jack::PortPtr(
            jack_port_register(c, portName_.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0),
            {c});
        return static_cast<bool>(port_);
    }

    // The client's thread, holding its lock.
    void Detached() override { port_.release(); }
    void Reattached(jack_client_t* c) override {
        if (RegisterPort(c))
            PortsChanged();
        else
            std::fprintf(stderr, "quillet: JACK did not register the MIDI port %s\n",
                         portName_.c_str());
    }
    // Connects the ports that are connected sources come back.
    void PortsChanged() override {
        jack_client_t* c = client_->get();
        if (!c || !port_ || known_.empty()) return;
        jack::PortList names(jack_get_ports(c, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput));
        for (const char** name = names.get(); name && *name; ++name) {
            jack_port_t* port = jack_port_by_name(c, *name);
            if (!port || jack_port_connected_to(port, jack_port_name(port_.get()))) continue;
            const JackPortInfo info = Describe(port, client_->Name());
            for (const auto& [known, aliases] : known_)
                if (info.name == known && info.aliases == aliases) {
                    jack_connect(c, *name, jack_port_name(port_.get()));
                    break;
                }
        }
    }

    // The audio thread: plays the cycle's messages at their frames when the synthesizer is
    // on this client and the port is routed, and hands every event to the reader thread,
    // with the messages it did not play.
    void Process(jack_nframes_t nframes, jack::AudioPart* audio) override {
        void* buffer = jack_port_get_buffer(port_.get(), nframes);
        const std::uint32_t count = jack_midi_get_event_count(buffer);
        if (count == 0) return;
        const bool playHere = audio && listener_->Routed();
        bool queued = false;
        for (std::uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) != 0) continue;
            const std::span<const std::uint8_t> bytes(event.buffer, event.size);
            decoder_.Feed(bytes, [&](const MidiMessage& message) {
                if (playHere)
                    audio->PlayAt(event.time, message);
                else
                    queued |= Queue(Record::Message, false, message.Bytes());
            });
            queued |= Queue(Record::Packet, i + 1 == count, bytes);
        }
        if (queued) wake_.Wake();
    }

    bool Queue(Record::Type type, bool endOfCycle, std::span<const std::uint8_t> bytes) {
        Record record{};
        record.size = static_cast<std::uint32_t>(bytes.size());
        record.type = type;
        record.endOfCycle = endOfCycle ? 1 : 0;
        if (queue_.Write({jack::ByteQueue::BytesOf(record), bytes})) return true;
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }

    // The reader thread: blocked in poll until the audio thread or Close wakes it.
    void Run() {
        std::vector<std::uint8_t> bytes(kQueueBytes);
        std::vector<std::vector<std::uint8_t>> packets;
        pollfd fd{wake_.Fd(), POLLIN, 0};
        for (;;) {
            if (poll(&fd, 1, -1) < 0 && errno != EINTR) return;
            wake_.Clear();
            if (stopping_.load()) return;
            Record record;
            while (queue_.Peek(&record, sizeof record) &&
                   queue_.Readable() >= sizeof record + record.size) {
                queue_.Skip(sizeof record);
                queue_.Read(bytes.data(), record.size);
                if (record.type == Record::Message) {
                    listener_->Play(MessageOfBytes({bytes.data(), record.size}));
                    continue;
                }
                packets.emplace_back(bytes.begin(), bytes.begin() + record.size);
                if (!record.endOfCycle) continue;
                Delivery delivery;
                SourceOfDeliveries(delivery.sourceId, delivery.sourceName);
                delivery.packets = std::move(packets);
                packets.clear();
                listener_->Deliver(std::move(delivery));
            }
            if (const auto lost = dropped_.exchange(0, std::memory_order_relaxed); lost > 0)
                DebugText("JACK MIDI input:",
                          (std::to_string(lost) + " events lost, queue full").c_str());
        }
    }

    // The source the deliveries come from: the one connected source, else the "several"
    // source. Looked up again only when connections have changed.
    void SourceOfDeliveries(uint64_t& id, std::string& name) {
        const uint64_t generation = client_->ConnectionGeneration() + connects_.load();
        if (!sourceKnown_ || generation != sourceGeneration_) {
            sourceGeneration_ = generation;
            sourceKnown_ = true;
            LookUpSource();
        }
        id = sourceId_;
        name = sourceName_;
    }

    void LookUpSource() {
        const auto server = client_->Lock();
        jack_client_t* c = client_->get();
        if (!c || !port_) return;
        const std::string own = client_->Name();
        jack::PortList connected(jack_port_get_all_connections(c, port_.get()));
        std::vector<std::pair<uint64_t, std::string>> found;
        for (const char** name = connected.get(); name && *name; ++name) {
            if (jack_port_t* port = jack_port_by_name(c, *name))
                found.emplace_back(jack_port_uuid(port), JackDisplayName(Describe(port, own)));
        }
        if (found.size() == 1) {
            sourceId_ = found[0].first;
            sourceName_ = found[0].second;
            return;
        }
        sourceId_ = kJackSeveralSources;
        sourceName_.clear();
        for (const auto& f : found) sourceName_ += (sourceName_.empty() ? "" : ", ") + f.second;
    }

    std::shared_ptr<jack::Client> client_;
    std::string portName_;
    // Under the client's lock, as the handle: the port, and the names and aliases of the
    // sources connected so far.
    jack::PortPtr port_;
    std::vector<std::pair<std::string, std::vector<std::string>>> known_;
    fw::Waker wake_;
    InputListener* listener_ = nullptr;
    bool attached_ = false;
    std::thread reader_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint32_t> dropped_{0};
    std::atomic<uint64_t> connects_{0};

    // The audio thread's.
    MidiDecoder decoder_;
    jack::ByteQueue queue_;

    // The reader thread's.
    bool sourceKnown_ = false;
    uint64_t sourceGeneration_ = 0;
    uint64_t sourceId_ = kJackSeveralSources;
    std::string sourceName_;
};

}  // namespace

bool JackInputAvailable(std::string& why) {
    return jack::ServerRuns(why);
}

std::unique_ptr<MidiInput> CreateJackInput() {
    return std::make_unique<JackInput>();
}

}  // namespace mbs
