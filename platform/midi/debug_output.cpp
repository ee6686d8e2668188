#include "debug_output.h"

#include <fluidsynth.h>
#include <poll.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "component.h"
#include "platform/framework/core/waker.h"

namespace mbs {

namespace {

std::atomic<bool> debugEnabled{true};

// A bounded queue of texts for many writers and one reader, without locks: each slot's
// sequence number says whose turn it is (a writer's when it equals the slot's ticket, the
// reader's one above that).
class TextQueue {
public:
    static constexpr std::size_t kSlots = 64;
    static constexpr std::size_t kTextBytes = 256;

    TextQueue() {
        for (std::size_t i = 0; i < kSlots; ++i) slots_[i].turn.store(i);
    }

    bool Push(const char* text) noexcept {
        std::size_t ticket = next_.load(std::memory_order_relaxed);
        Slot* slot;
        for (;;) {
            slot = &slots_[ticket % kSlots];
            const auto turn =
                static_cast<std::ptrdiff_t>(slot->turn.load(std::memory_order_acquire) - ticket);
            if (turn < 0) return false;  // full
            if (turn == 0 &&
                next_.compare_exchange_weak(ticket, ticket + 1, std::memory_order_relaxed))
                break;
            if (turn > 0) ticket = next_.load(std::memory_order_relaxed);
        }
        const std::size_t n = strnlen(text, kTextBytes - 1);
        std::memcpy(slot->text.data(), text, n);
        slot->text[n] = '\0';
        slot->turn.store(ticket + 1, std::memory_order_release);
        return true;
    }

    // The reader's: the oldest text, or null when there is none yet.
    const char* Front() const noexcept {
        const Slot& slot = slots_[read_ % kSlots];
        return slot.turn.load(std::memory_order_acquire) == read_ + 1 ? slot.text.data() : nullptr;
    }
    void Pop() noexcept {
        slots_[read_ % kSlots].turn.store(read_ + kSlots, std::memory_order_release);
        ++read_;
    }

private:
    struct Slot {
        std::atomic<std::size_t> turn;
        std::array<char, kTextBytes> text;
    };
    std::array<Slot, kSlots> slots_;
    std::atomic<std::size_t> next_{0};
    std::size_t read_ = 0;
};

// FluidSynth's debug level tells of every sample it loads: left out, as FluidSynth does itself.
constexpr int kLevels[] = {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO};

// The queue and the thread that writes it out, blocked in poll until a text comes.
class Writer {
public:
    Writer() : thread_([this] { Run(); }) {}
    ~Writer() {
        // Nothing reports here any more.
        for (int level : kLevels) fluid_set_log_function(level, nullptr, nullptr);
        stopping_.store(true);
        waker_.Wake();
        thread_.join();
    }

    void Queue(const char* text) noexcept {
        if (queue_.Push(text)) waker_.Wake();
    }

private:
    void Run() {
        pollfd fd{waker_.Fd(), POLLIN, 0};
        while (!stopping_.load()) {
            if (poll(&fd, 1, -1) < 0 && errno != EINTR) return;
            waker_.Clear();
            for (const char* text; (text = queue_.Front()) != nullptr; queue_.Pop())
                if (debugEnabled.load()) std::fprintf(stderr, "quillet: %s\n", text);
        }
    }

    TextQueue queue_;
    fw::Waker waker_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

Writer& TheWriter() {
    static Writer writer;
    return writer;
}

void FluidSynthReport(int, const char* message, void*) {
    DebugText("FluidSynth:", message);
}

}  // namespace

void DebugMessageEnableMBS(bool activate) {
    debugEnabled.store(activate);
}

void DebugMessageMBS(const std::string& message) {
    if (debugEnabled.load()) std::fprintf(stderr, "%s\n", message.c_str());
}

void DebugText(const char* source, const char* text) noexcept {
    // Put together on the stack: no allocation.
    std::array<char, TextQueue::kTextBytes> line;
    const std::size_t n = strnlen(source, line.size() - 2);
    std::memcpy(line.data(), source, n);
    line[n] = ' ';
    const std::size_t m = strnlen(text, line.size() - n - 2);
    std::memcpy(line.data() + n + 1, text, m);
    line[n + 1 + m] = '\0';
    TheWriter().Queue(line.data());
}

void RouteFluidSynthReports() {
    TheWriter();
    for (int level : kLevels) fluid_set_log_function(level, FluidSynthReport, nullptr);
    fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
}

}  // namespace mbs
