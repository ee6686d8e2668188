#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "audio_output.h"
#include "jack/byte_queue.h"
#include "jack/jack_client.h"

namespace mbs {

// The synthesizer played by the JACK client's process callback, into two audio ports that
// are connected to the system's playback ports. Every synthesizer call after Start happens
// on that callback: the window's instrument changes and messages from other input threads
// reach it through lock-free queues, and presets load on the store's thread while the
// callback plays on. The callback renders in slices between the frames of the cycle's
// events, so a note starts within one 64-frame synthesizer block of its frame, and at its
// very frame when no voice sounds.
class JackOutput : public AudioOutput, private jack::AudioPart {
public:
    JackOutput();
    ~JackOutput() override;

    const char* Name() const override { return "jack"; }
    // Settings for the synthesizer, before it is made: no mutex around its calls, since all
    // of them happen on the callback once it runs, and the callback must not lock.
    void Configure(fluid_settings_t* settings) const override;
    bool Start(fluid_settings_t* settings, fluid_synth_t* synth, PresetStore& store,
               std::string& why) override;
    void SelectInstrument(int channel, PresetKey key) override;
    // Plays the message one period after the frame at which it arrived, so that messages
    // keep their spacing whatever the phase of the cycle they arrive in.
    void PostMessage(const MidiMessage& message) override;
    double SampleRate() const override;

    // The instrument (bank * 128 + program + 1) that a channel plays, as the callback last
    // left it; safe from any thread. 0 before Start or for a channel out of range.
    int32_t InstrumentIDOnChannel(int channel) const override;

    // Frames the callback has handled, and of those the frames the synthesizer rendered:
    // with no voice sounding it writes silence without rendering.
    uint64_t FramesHandled() const { return framesHandled_.load(std::memory_order_relaxed); }
    uint64_t FramesRendered() const { return framesRendered_.load(std::memory_order_relaxed); }

    // The longest time a cycle of the callback took since the last call, then starts over.
    std::chrono::nanoseconds TakeLongestCycle() {
        return std::chrono::nanoseconds(longestCycleNs_.exchange(0, std::memory_order_relaxed));
    }

    // The longest SysEx message PostMessage passes on; longer ones are dropped.
    static constexpr std::size_t kMaxPostedBytes = 1024;

private:
    // Laid out without padding, so that its bytes are all defined.
    struct Posted {
        jack_nframes_t due;  // frame time at which it plays
        std::uint16_t length;
        std::uint16_t reserved;
    };
    static_assert(sizeof(Posted) == 8);
    struct InstrumentChange {
        std::int32_t channel;
        PresetKey key;
    };

    bool RegisterPorts(jack_client_t* client);
    void ConnectToPlayback(jack_client_t* client);
    void Detached() override;
    void Reattached(jack_client_t* client) override;
    void BeginCycle(jack_nframes_t nframes) override;
    void PlayAt(jack_nframes_t frame, const MidiMessage& message) override;
    void EndCycle() override;

    // Renders up to `frame`, playing the posted messages that fall due before it.
    void AdvanceTo(jack_nframes_t frame);
    void RenderSlice(jack_nframes_t to);
    void Apply(const MidiMessage& message);
    bool NextPostedDue(jack_nframes_t& offset);
    void RefreshProgram(int channel);
    void RefreshAllPrograms();
    void RefreshChangedPrograms();
    // With no voice left and the output quiet, drops the rest of the synthesizer's current
    // block, so that the next note starts at its own frame instead of the next block's.
    void AlignBlock();

    // Writers of the queues are serialized among themselves; the callback only reads.
    std::mutex postMutex_;
    jack::ByteQueue changes_;
    jack::ByteQueue messages_;

    std::string openWhy_;
    std::shared_ptr<jack::Client> client_;
    jack::PortPtr left_;
    jack::PortPtr right_;
    bool attached_ = false;
    jack_nframes_t rate_ = 0;

    std::array<std::atomic<int32_t>, 16> programs_{};
    std::atomic<uint64_t> framesHandled_{0};
    std::atomic<uint64_t> framesRendered_{0};
    std::atomic<std::int64_t> longestCycleNs_{0};

    // State of the callback alone.
    float* outLeft_ = nullptr;
    float* outRight_ = nullptr;
    jack_nframes_t cycleFrames_ = 0;
    jack_nframes_t cycleStart_ = 0;
    jack_nframes_t done_ = 0;
    std::chrono::steady_clock::time_point cycleBegan_;
    bool sounding_ = false;  // rendering: a voice is active or its tail is still audible
    jack_nframes_t quietFrames_ = 0;
    jack_nframes_t tailFrames_ = 0;
    jack_nframes_t quietNeeded_ = 0;
    jack_nframes_t tailLimit_ = 0;
    int blockSize_ = 64;
    int blockPhase_ = 0;  // frames of the synthesizer's current block already taken
    std::array<float, 256> scratch_{};
    std::array<std::uint8_t, kMaxPostedBytes> postedBytes_{};
};

}  // namespace mbs
