#include "preset_store.h"

#include <malloc.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace mbs {

std::unique_ptr<PresetStore> PresetStore::Create(fluid_sfont_t* sfont, std::string& why) {
    std::unique_ptr<PresetStore> s(new PresetStore);
    s->settings_.reset(new_fluid_settings());
    if (!s->settings_) {
        why = "FluidSynth could not create the loader's settings";
        return nullptr;
    }
    fluid_settings_t* settings = s->settings_.get();
    // It never sounds: one voice, no effects, no lock of its own (loads are serialized).
    fluid_settings_setint(settings, "synth.polyphony", 1);
    fluid_settings_setint(settings, "synth.reverb.active", 0);
    fluid_settings_setint(settings, "synth.chorus.active", 0);
    fluid_settings_setint(settings, "synth.cpu-cores", 1);
    fluid_settings_setint(settings, "synth.threadsafe-api", 0);
    fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
    fluid_settings_setint(settings, "synth.lock-memory", 0);
    s->loader_.reset(new_fluid_synth(settings));
    if (!s->loader_) {
        why = "FluidSynth could not create the loader's synthesizer";
        return nullptr;
    }
    // Channels without a program, so that taking the SoundFont selects (and loads) nothing.
    for (int ch = 0; ch < 16; ++ch) fluid_synth_unset_program(s->loader_.get(), ch);
    if (fluid_synth_add_sfont(s->loader_.get(), sfont) == FLUID_FAILED) {
        why = "FluidSynth could not share the SoundFont with the loader";
        return nullptr;
    }
    s->sfont_ = sfont;
    s->shared_ = true;

    fluid_sfont_iteration_start(sfont);
    while (fluid_preset_t* p = fluid_sfont_iteration_next(sfont))
        s->keys_.push_back(fluid_preset_get_banknum(p) * 128 + fluid_preset_get_num(p));
    std::sort(s->keys_.begin(), s->keys_.end());
    s->keys_.erase(std::unique(s->keys_.begin(), s->keys_.end()), s->keys_.end());
    s->ready_ = std::make_unique<std::atomic<bool>[]>(s->keys_.size());
    s->requested_ = std::make_unique<std::atomic<bool>[]>(s->keys_.size());
    s->failed_ = std::make_unique<std::atomic<bool>[]>(s->keys_.size());
    // Reading the SoundFont's directory left several megabytes of freed memory behind.
    malloc_trim(0);
    return s;
}

PresetStore::~PresetStore() {
    StopThread();
    // The playing synthesizer owns the SoundFont; the loader only gives it back.
    if (shared_) fluid_synth_remove_sfont(loader_.get(), sfont_);
}

int PresetStore::Find(PresetKey key) const {
    if (key.bank < 0 || key.program < 0 || key.program > 127) return -1;
    const int k = key.bank * 128 + key.program;
    const auto it = std::lower_bound(keys_.begin(), keys_.end(), k);
    return it != keys_.end() && *it == k ? static_cast<int>(it - keys_.begin()) : -1;
}

bool PresetStore::Ready(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < keys_.size() &&
           ready_[static_cast<std::size_t>(index)].load(std::memory_order_acquire);
}

bool PresetStore::Failed(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < keys_.size() &&
           failed_[static_cast<std::size_t>(index)].load(std::memory_order_acquire);
}

bool PresetStore::Load(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= keys_.size()) return false;
    const auto i = static_cast<std::size_t>(index);
    std::lock_guard lock(loadMutex_);
    if (ready_[i].load(std::memory_order_acquire)) return true;
    if (failed_[i].load(std::memory_order_acquire)) return false;
    // Keep selections out, then wait for the one in progress, if any, to end.
    loading_.store(true);
    for (int n = selecting_.load(); n != 0; n = selecting_.load()) selecting_.wait(n);
    const int bank = keys_[i] / 128, program = keys_[i] % 128;
    const bool ok = fluid_synth_pin_preset(loader_.get(), fluid_sfont_get_id(sfont_), bank,
                                           program) == FLUID_OK;
    loading_.store(false);
    if (!ok) {
        std::fprintf(stderr, "quillet: the samples of preset %d:%d could not be loaded\n", bank,
                     program);
        failed_[i].store(true, std::memory_order_release);
        completed_.fetch_add(1, std::memory_order_acq_rel);
        return false;
    }
    ready_[i].store(true, std::memory_order_release);
    completed_.fetch_add(1, std::memory_order_acq_rel);
    return true;
}

bool PresetStore::TryBeginSelect() {
    selecting_.fetch_add(1);
    if (!loading_.load()) return true;
    EndSelect();
    return false;
}

void PresetStore::BeginSelect() {
    // Loads hold the mutex throughout, so none is in progress while it is held here.
    std::lock_guard lock(loadMutex_);
    selecting_.fetch_add(1);
}

void PresetStore::EndSelect() {
    if (selecting_.fetch_sub(1) == 1 && loading_.load()) selecting_.notify_all();
}

void PresetStore::StopThread() {
    if (!thread_.joinable()) return;
    stopping_.store(true);
    wake_.Wake();
    thread_.join();
}

bool PresetStore::StartThread(std::string& why, std::function<void()> loaded) {
    if (thread_.joinable()) return true;
    if (!wake_.Valid()) {
        why = "no eventfd for the preset loader";
        return false;
    }
    loaded_ = std::move(loaded);
    thread_ = std::thread([this] { Run(); });
    return true;
}

void PresetStore::Request(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= keys_.size() || !thread_.joinable()) return;
    const auto i = static_cast<std::size_t>(index);
    if (ready_[i].load(std::memory_order_acquire) || failed_[i].load(std::memory_order_acquire) ||
        requested_[i].exchange(true))
        return;
    wake_.Wake();
}

void PresetStore::Run() {
    pollfd fd{wake_.Fd(), POLLIN, 0};
    for (;;) {
        if (poll(&fd, 1, -1) < 0 && errno != EINTR) return;
        wake_.Clear();
        for (std::size_t i = 0; i < keys_.size(); ++i) {
            if (stopping_.load()) return;
            if (requested_[i].exchange(false)) {
                Load(static_cast<int>(i));
                if (loaded_) loaded_();
            }
        }
        // FluidSynth reads the SoundFont's directory again for every load and frees it
        // after: give those pages back rather than keep them for the next load.
        malloc_trim(0);
        if (stopping_.load()) return;
    }
}

}  // namespace mbs
