#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fluid_handles.h"
#include "platform/framework/core/waker.h"
#include "preset_rules.h"

namespace mbs {

// Loads the samples of a SoundFont's presets when they are first needed, so that start-up
// reads the SoundFont's directory only. The SoundFont is shared with a silent synthesizer of
// the store's own, which does the loading (FluidSynth loads a preset's samples in whatever
// thread pins or selects it); a preset once loaded stays loaded, so that no sample memory is
// ever freed under a playing voice or on the audio thread.
//
// FluidSynth counts, per sample, the presets that use it, without atomics; the store's
// synthesizer and the playing one touch those counts only in turn. A thread that selects
// presets on the playing synthesizer brackets each selection with TryBeginSelect/EndSelect,
// and a load waits until no selection is in progress and keeps new ones out meanwhile.
class PresetStore {
public:
    // Shares `sfont`, which the playing synthesizer owns and must outlive the store; null
    // with the reason when FluidSynth cannot make the store's synthesizer.
    static std::unique_ptr<PresetStore> Create(fluid_sfont_t* sfont, std::string& why);
    ~PresetStore();
    PresetStore(const PresetStore&) = delete;
    PresetStore& operator=(const PresetStore&) = delete;

    // The preset's index, or -1 when the SoundFont has no such preset. No allocation.
    int Find(PresetKey key) const;
    bool Exists(PresetKey key) const { return Find(key) >= 0; }
    // Whether the preset's samples are in memory; lock-free.
    bool Ready(int index) const;
    // Whether loading the preset failed (its file went away, say); lock-free.
    bool Failed(int index) const;
    // Loads on the calling thread, which must not be a real-time one; true once loaded.
    bool Load(int index);

    // Starts the loading thread that serves Request; `loaded`, when given, runs on that
    // thread after each load, for players that have no cycle of their own to notice it.
    bool StartThread(std::string& why, std::function<void()> loaded = {});
    // Stops the loading thread, before what `loaded` calls goes.
    void StopThread();
    // Asks the loading thread for the preset; lock-free and never blocks.
    void Request(int index);
    // Loads finished so far: a reader that saw this number before has nothing new to try.
    std::uint64_t Completed() const { return completed_.load(std::memory_order_acquire); }

    // Whether the caller may select presets on the playing synthesizer now; false while a
    // load is in progress. Never blocks. A true answer must be followed by EndSelect.
    bool TryBeginSelect();
    // The same for a thread that may wait: waits for a load in progress to end.
    void BeginSelect();
    void EndSelect();

private:
    PresetStore() = default;
    void Run();

    SettingsPtr settings_;
    SynthPtr loader_;
    fluid_sfont_t* sfont_ = nullptr;  // owned by the playing synthesizer
    bool shared_ = false;
    std::vector<int> keys_;  // bank * 128 + program, ascending
    std::unique_ptr<std::atomic<bool>[]> ready_;
    std::unique_ptr<std::atomic<bool>[]> requested_;
    std::unique_ptr<std::atomic<bool>[]> failed_;

    std::mutex loadMutex_;  // one load at a time, whichever thread asks
    std::atomic<int> selecting_{0};
    std::atomic<bool> loading_{false};
    std::atomic<std::uint64_t> completed_{0};

    fw::Waker wake_;
    std::function<void()> loaded_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace mbs
