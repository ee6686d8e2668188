// The decoder may run on a JACK real-time thread, where allocating can block: once built it
// must decode anything without touching the heap. This executable counts every allocation.

#include "decoder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

// The replacements below pair malloc with free themselves; GCC, inlining them, takes the
// free for one of memory from new.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return ::operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

TEST(MidiDecoderAllocation, ConstructorAllocatesAndDecodingNeverDoes) {
    // Everything with a SysEx as long as the bound, one over it, realtime bytes inside,
    // running status, truncations, strays and undefined bytes.
    std::vector<std::uint8_t> stream = {0x90, 0x3C, 0x64, 0x3E, 0xF8, 0x64, 0xF4, 0x01, 0xF9};
    stream.push_back(0xF0);
    for (int i = 0; i < 2000; ++i) stream.push_back(i % 2 ? 0x11 : 0xFE);
    stream.push_back(0xF7);
    stream.push_back(0xF0);
    for (int i = 0; i < 510; ++i) stream.push_back(0x22);
    stream.insert(stream.end(), {0xF7, 0xB0, 0x07, 0xC0, 0x05, 0x06, 0xF0, 0x01, 0x90, 0x3C, 0x64});

    const long before_construction = g_allocations.load();
    mbs::MidiDecoder decoder;
    const long after_construction = g_allocations.load();
    EXPECT_GT(after_construction, before_construction);

    long messages = 0;
    std::size_t sysex_bytes = 0;
    for (int round = 0; round < 3; ++round) {
        for (std::size_t at = 0; at < stream.size(); at += 7) {
            const std::size_t n = std::min<std::size_t>(7, stream.size() - at);
            decoder.Feed(std::span<const std::uint8_t>(stream.data() + at, n),
                         [&](const mbs::MidiMessage& m) {
                             ++messages;
                             if (m.kind == mbs::MidiMessageKind::SysEx) sysex_bytes += m.length;
                         });
        }
    }
    EXPECT_EQ(g_allocations.load(), after_construction);
    // The 512-byte SysEx came through each round, so the buffer was used in full.
    EXPECT_EQ(sysex_bytes, 3u * 512u);
    EXPECT_GT(messages, 3000);
}

}  // namespace
