#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

#include "mbs.h"
#include "midi_input.h"
#include "synth_engine.h"

namespace mbs {

std::string MidiInputBackendName();
std::string MidiInputFailures();

namespace {

int32_t HandleOf(uint64_t sourceId) {
    auto h = static_cast<int32_t>(sourceId & 0x7FFFFFFF);
    return h != 0 ? h : 1;
}

}  // namespace

// Joins a port to its back-end: plays what arrives once the port is routed, and raises the
// port's Read event for every delivery. What arrives between the port's creation and the
// route (the synthesizer is still starting) is kept and played at the route, so that a key
// struck during start-up sounds as soon as it can.
class PortListener : public InputListener {
public:
    static constexpr std::size_t kMaxKept = 1024;

    explicit PortListener(MidiPortMBS& port) : port_(&port) {}

    void Play(const MidiMessage& message) override {
        fw::Ref<MidiPlaybackMBS> player;
        {
            std::lock_guard lock(mutex_);
            if (!routed_.load(std::memory_order_relaxed)) {
                Keep(message);
                return;
            }
            player = player_;
        }
        if (player && player->Engine()) player->Engine()->Output().PostMessage(message);
    }

    void Deliver(Delivery delivery) override {
        std::shared_ptr<MidiPortMBS> port;
        std::weak_ptr<MidiInput> input;
        {
            std::lock_guard lock(mutex_);
            if (!port_) return;
            port = port_->weak_from_this().lock();
            input = input_;
        }
        if (!port) return;
        auto endpoint = fw::New<MidiEndpointMBS>(delivery.sourceId, delivery.sourceName, input);
        std::vector<fw::Ref<MidiPacketMBS>> packets;
        packets.reserve(delivery.packets.size());
        for (auto& bytes : delivery.packets)
            packets.push_back(fw::New<MidiPacketMBS>(std::move(bytes)));
        try {
            port->Event_Read(endpoint, fw::New<MidiPacketListMBS>(std::move(packets)));
        } catch (const fw::RuntimeException& e) {
            std::fprintf(stderr, "quillet: %s in the input port's Read handler: %s\n",
                         e.ClassName(), e.Message.c_str());
        }
    }

    bool Routed() const override { return routed_.load(std::memory_order_acquire); }

    void Route(fw::Ref<MidiPlaybackMBS> player) {
        std::lock_guard lock(mutex_);
        player_ = std::move(player);
        if (player_ && player_->Engine()) {
            // In arrival order, before anything that arrives after the route.
            for (const auto& bytes : kept_)
                player_->Engine()->Output().PostMessage(MessageOfBytes(bytes));
        }
        kept_.clear();
        routed_.store(static_cast<bool>(player_), std::memory_order_release);
    }

    void SetInput(std::weak_ptr<MidiInput> input) {
        std::lock_guard lock(mutex_);
        input_ = std::move(input);
    }

    void Detach() {
        std::lock_guard lock(mutex_);
        port_ = nullptr;
    }

private:
    void Keep(const MidiMessage& message) {
        const auto bytes = message.Bytes();
        if (bytes.empty() || (message.kind == MidiMessageKind::Short && bytes.size() > 3)) return;
        if (kept_.size() == kMaxKept) {
            if (!overflowReported_)
                std::fprintf(stderr,
                             "quillet: more than %zu MIDI messages arrived before the "
                             "synthesizer was ready; later ones are dropped\n",
                             kMaxKept);
            overflowReported_ = true;
            return;
        }
        kept_.emplace_back(bytes.begin(), bytes.end());
    }

    std::mutex mutex_;
    std::vector<std::vector<std::uint8_t>> kept_;
    bool overflowReported_ = false;
    MidiPortMBS* port_;
    std::weak_ptr<MidiInput> input_;
    fw::Ref<MidiPlaybackMBS> player_;
    std::atomic<bool> routed_{false};
};

fw::Ref<CFStringMBS> NewCFStringMBS(const std::string& text) {
    return fw::New<CFStringMBS>(text);
}

fw::Ref<CFStringMBS> kMIDIPropertyName() {
    static const fw::Ref<CFStringMBS> key = NewCFStringMBS("name");
    return key;
}

MidiEndpointMBS::MidiEndpointMBS(uint64_t sourceId, std::string name,
                                 std::weak_ptr<MidiInput> input)
    : sourceId_(sourceId), name_(std::move(name)), input_(std::move(input)) {
    handle_ = HandleOf(sourceId);
}

fw::Ref<CFStringMBS> MidiEndpointMBS::StringProperty(const fw::Ref<CFStringMBS>& key) const {
    if (key->Str() != kMIDIPropertyName()->Str() || name_.empty()) return nullptr;
    return NewCFStringMBS(name_);
}

fw::Ref<MidiPacketMBS> MidiPacketListMBS::Item(int32_t index) const {
    if (index < 0 || index >= Count()) throw fw::OutOfBoundsException("Packet index out of bounds");
    return packets_[static_cast<size_t>(index)];
}

MidiPortMBS::MidiPortMBS() : listener_(std::make_shared<PortListener>(*this)) {}

MidiPortMBS::~MidiPortMBS() {
    // The input thread must not reach a port that is going away.
    if (auto input = input_.lock()) input->Close();
    listener_->Detach();
}

void MidiPortMBS::SetCallback(int64_t callback, const fw::Ref<MidiPlaybackMBS>& player) {
    listener_->Route(callback == kPlaybackCallback ? player : nullptr);
}

bool MidiPortMBS::IsRouted() const {
    return listener_->Routed();
}

void MidiPortMBS::ConnectSource(const fw::Ref<MidiEndpointMBS>& source) {
    uint64_t id = source->SourceId();
    if (source->Handle() == 0 || id == 0) return;
    auto input = input_.lock();
    if (!input) return;
    if (!input->Connect(id)) lasterror_ = kMIDIInvalidClient;
}

void MidiPortMBS::Attach(int32_t handle, std::weak_ptr<MidiInput> input) {
    handle_ = handle;
    input_ = input;
    listener_->SetInput(std::move(input));
}

MidiClientMBS::MidiClientMBS() = default;

MidiClientMBS::~MidiClientMBS() {
    if (input_) input_->Close();
}

void MidiClientMBS::Init(const fw::Ref<CFStringMBS>& name) {
    std::string clientName = name->Str();
    const MidiInputBackend* backend = FindMidiInputBackend(MidiInputBackendName());
    if (!backend) {
        lasterror_ = kMIDINoMidiSystem;
        std::fprintf(stderr, "quillet: no MIDI system to take keyboards from:%s\n",
                     MidiInputFailures().c_str());
        return;
    }
    std::shared_ptr<MidiInput> input(backend->create());
    int32_t error = input->Open(clientName);
    if (error != 0) {
        lasterror_ = error;
        std::fprintf(stderr, "quillet: the %s MIDI client could not start (error %d)\n",
                     backend->name, error);
        return;
    }
    input_ = std::move(input);
    handle_ = 1;
    lasterror_ = 0;
}

void MidiClientMBS::CreateInputPort(const fw::Ref<CFStringMBS>& name,
                                    const fw::Ref<MidiPortMBS>& port) {
    std::string portName = name->Str();
    if (!input_) {
        lasterror_ = kMIDIInvalidClient;
        return;
    }
    int32_t error = 0;
    int32_t handle = input_->CreatePort(portName, port->Listener().get(), error);
    if (handle == 0) {
        lasterror_ = error != 0 ? error : kMIDIInvalidClient;
        return;
    }
    lasterror_ = 0;
    port->Attach(handle, input_);
}

int32_t MidiClientMBS::NumberOfSources() {
    if (!input_) return 0;
    return static_cast<int32_t>(input_->Sources().size());
}

fw::Ref<MidiEndpointMBS> MidiClientMBS::GetSource(int32_t index) {
    if (!input_) return fw::New<MidiEndpointMBS>();
    std::vector<SourceInfo> sources = input_->Sources();
    if (index < 0 || static_cast<size_t>(index) >= sources.size())
        return fw::New<MidiEndpointMBS>();
    const SourceInfo& s = sources[static_cast<size_t>(index)];
    return fw::New<MidiEndpointMBS>(s.id, s.name, input_);
}

}  // namespace mbs
