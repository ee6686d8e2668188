#include "loopback/loopback.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "midi_input.h"

namespace mbs {

namespace {

struct Source {
    std::string name;
    std::unique_ptr<MidiDecoder> decoder = std::make_unique<MidiDecoder>();
};

// The loopback MIDI system: one per process, like a system's MIDI service.
struct LoopbackSystem {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable drained;
    std::map<uint64_t, Source> sources;
    uint64_t nextId = 1;
    // The one open port: what is connected and who listens.
    InputListener* listener = nullptr;
    std::set<uint64_t> connected;
    std::deque<Delivery> queue;
    bool busy = false;
};

LoopbackSystem& System() {
    static LoopbackSystem system;
    return system;
}

class LoopbackInput : public MidiInput {
public:
    ~LoopbackInput() override { Close(); }
    const char* Name() const override { return "loopback"; }

    int32_t Open(const std::string&) override { return 0; }

    int32_t CreatePort(const std::string&, InputListener* listener, int32_t& error) override {
        auto& s = System();
        std::lock_guard lock(s.mutex);
        if (s.listener) {
            error = -1;
            return 0;
        }
        s.listener = listener;
        s.connected.clear();
        s.queue.clear();
        running_ = true;
        thread_ = std::thread([this] { Run(); });
        error = 0;
        return 1;
    }

    std::vector<SourceInfo> Sources() override {
        auto& s = System();
        std::lock_guard lock(s.mutex);
        std::vector<SourceInfo> out;
        for (auto& [id, src] : s.sources) out.push_back({id, src.name});
        return out;
    }

    bool Connect(uint64_t id) override {
        auto& s = System();
        std::lock_guard lock(s.mutex);
        if (!s.listener || !s.sources.count(id)) return false;
        s.connected.insert(id);
        return true;
    }

    void Close() override {
        auto& s = System();
        {
            std::lock_guard lock(s.mutex);
            if (!running_) return;
            running_ = false;
        }
        s.wake.notify_all();
        thread_.join();
        std::lock_guard lock(s.mutex);
        s.listener = nullptr;
        s.connected.clear();
        s.queue.clear();
        s.drained.notify_all();
    }

private:
    // The port's input thread: decodes each delivery for the synthesizer and raises Read.
    void Run() {
        auto& s = System();
        std::unique_lock lock(s.mutex);
        for (;;) {
            s.wake.wait(lock, [&] { return !running_ || !s.queue.empty(); });
            if (!running_) return;
            Delivery d = std::move(s.queue.front());
            s.queue.pop_front();
            s.busy = true;
            InputListener* listener = s.listener;
            auto it = s.sources.find(d.sourceId);
            MidiDecoder* decoder = it != s.sources.end() ? it->second.decoder.get() : nullptr;
            lock.unlock();
            if (decoder)
                for (const auto& packet : d.packets)
                    decoder->Feed(packet, [&](const MidiMessage& m) { listener->Play(m); });
            listener->Deliver(std::move(d));
            lock.lock();
            s.busy = false;
            s.drained.notify_all();
        }
    }

    bool running_ = false;
    std::thread thread_;
};

}  // namespace

bool LoopbackInputAvailable(std::string&) {
    return true;
}

std::unique_ptr<MidiInput> CreateLoopbackInput() {
    return std::make_unique<LoopbackInput>();
}

namespace loopback {

uint64_t AddSource(const std::string& name) {
    auto& s = System();
    std::lock_guard lock(s.mutex);
    uint64_t id = s.nextId++;
    s.sources[id].name = name;
    return id;
}

void RemoveSource(uint64_t id) {
    auto& s = System();
    std::unique_lock lock(s.mutex);
    // The input thread may be decoding with this source's decoder.
    s.drained.wait(lock, [&] { return !s.busy; });
    s.sources.erase(id);
    s.connected.erase(id);
}

void RemoveAllSources() {
    auto& s = System();
    std::unique_lock lock(s.mutex);
    s.drained.wait(lock, [&] { return !s.busy; });
    s.sources.clear();
    s.connected.clear();
}

void Send(uint64_t id, const std::vector<std::vector<uint8_t>>& packets) {
    auto& s = System();
    {
        std::lock_guard lock(s.mutex);
        auto it = s.sources.find(id);
        if (it == s.sources.end() || !s.listener || !s.connected.count(id)) return;
        s.queue.push_back(Delivery{id, it->second.name, packets});
    }
    s.wake.notify_all();
}

bool IsConnected(uint64_t id) {
    auto& s = System();
    std::lock_guard lock(s.mutex);
    return s.connected.count(id) != 0;
}

void Flush() {
    auto& s = System();
    std::unique_lock lock(s.mutex);
    s.drained.wait(lock, [&] { return s.queue.empty() && !s.busy; });
}

}  // namespace loopback

}  // namespace mbs
