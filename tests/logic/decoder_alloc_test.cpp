// The decoder may run on a JACK real-time thread, where allocating can block: once built it
// must decode anything without touching the heap.
#include <gtest/gtest.h>

#include <vector>

#include "decoder.h"
#include "tests/support/allocation_watch.h"

TEST(MidiDecoderAllocation, ConstructorAllocatesAndDecodingNeverDoes) {
    // A SysEx at the bound and one far over it with real-time bytes inside, running status,
    // truncations, strays and undefined bytes.
    std::vector<std::uint8_t> stream = {0x90, 0x3C, 0x64, 0x3E, 0xF8, 0x64, 0xF4, 0x01, 0xF9, 0xF0};
    for (int i = 0; i < 2000; ++i) stream.push_back(i % 2 ? 0x11 : 0xFE);
    stream.insert(stream.end(), {0xF7, 0xF0});
    stream.insert(stream.end(), 510, 0x22);
    stream.insert(stream.end(), {0xF7, 0xB0, 0x07, 0xC0, 0x05, 0x06, 0xF0, 0x01, 0x90, 0x3C, 0x64});

    watchedThread = pthread_self();
    mbs::MidiDecoder decoder;
    const int built = watchedAllocations.load();
    EXPECT_GT(built, 0);
    std::size_t sysexBytes = 0;
    for (int round = 0; round < 3; ++round)
        for (std::size_t at = 0; at < stream.size(); at += 7)
            decoder.Feed(
                std::span(stream).subspan(at, std::min<std::size_t>(7, stream.size() - at)),
                [&](const mbs::MidiMessage& m) {
                    if (m.kind == mbs::MidiMessageKind::SysEx) sysexBytes += m.length;
                });
    EXPECT_EQ(watchedAllocations.load(), built);
    watchedThread = pthread_t{};
    // The 512-byte SysEx came through each round, so the buffer was used in full.
    EXPECT_EQ(sysexBytes, 3u * 512u);
}
