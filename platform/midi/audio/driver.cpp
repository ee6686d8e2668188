#include <alsa/asoundlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio_output.h"
#include "debug_output.h"

namespace mbs {

namespace {

// Collects FluidSynth's complaints while a driver is tried, so that they can be reported
// together with the driver's name instead of scattered on standard error.
// alsa-lib's own complaints say less than FluidSynth's and are left out.
struct LogCapture {
    LogCapture() {
        for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN})
            fluid_set_log_function(level, &LogCapture::Collect, this);
        snd_lib_error_set_handler(&LogCapture::Quiet);
    }
    ~LogCapture() {
        RouteFluidSynthReports();
        snd_lib_error_set_handler(nullptr);
    }
    static void Quiet(const char*, int, const char*, int, const char*, ...) {}
    static void Collect(int, const char* message, void* data) {
        auto* self = static_cast<LogCapture*>(data);
        if (!self->text.empty()) self->text += "; ";
        self->text += message;
    }
    std::string text;
};

// Drivers tried first: PulseAudio (which PipeWire also serves), then ALSA. FluidSynth's file
// driver writes no sound anyone hears, and JACK has its own back-end.
std::vector<std::string> DriverOrder(fluid_settings_t* settings) {
    std::vector<std::string> available;
    fluid_settings_foreach_option(
        settings, "audio.driver", &available, [](void* data, const char*, const char* option) {
            static_cast<std::vector<std::string>*>(data)->push_back(option);
        });
    std::vector<std::string> order;
    for (const char* preferred : {"pulseaudio", "pipewire", "alsa"})
        for (const auto& a : available)
            if (a == preferred) order.push_back(a);
    for (const auto& a : available) {
        bool listed = false;
        for (const auto& o : order) listed = listed || o == a;
        if (!listed && a != "file" && a != "jack") order.push_back(a);
    }
    return order;
}

// A positive whole number from the environment, or the fallback.
int EnvInt(const char* name, int fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text) return fallback;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    return *end == '\0' && value > 0 && value <= 65536 ? static_cast<int>(value) : fallback;
}

class DriverOutput : public AudioOutput {
public:
    ~DriverOutput() override {
        driver_.reset();
        if (store_) store_->StopThread();
    }
    const char* Name() const override { return "driver"; }

    bool Start(fluid_settings_t* settings, fluid_synth_t* synth, PresetStore& store,
               std::string& why) override {
        // Presets load on the store's thread while the channels play on: neither the MIDI
        // input's thread nor the window's waits for them, and FluidSynth's driver renders
        // meanwhile. After each load the store's thread plays what waited for it.
        store_ = &store;
        if (!store.StartThread(why, [this] { PlayWaiting(); })) return false;
        Attach(synth, store, PresetPlayer::Loading::Defer, PresetPlayer::Caller::Other);
        // Small buffers: a note should sound as soon as the key is struck. A slow machine (an
        // emulated one under test) needs bigger ones, or the device underruns and stops.
        fluid_settings_setint(settings, "audio.period-size",
                              EnvInt("QUILLET_AUDIO_PERIOD_SIZE", 128));
        fluid_settings_setint(settings, "audio.periods", EnvInt("QUILLET_AUDIO_PERIODS", 3));
        std::string tried;
        for (const auto& name : DriverOrder(settings)) {
            fluid_settings_setstr(settings, "audio.driver", name.c_str());
            LogCapture capture;
            driver_.reset(new_fluid_audio_driver(settings, synth));
            if (driver_) {
                int periods = 0, size = 0;
                fluid_settings_getint(settings, "audio.periods", &periods);
                fluid_settings_getint(settings, "audio.period-size", &size);
                std::fprintf(
                    stderr,
                    "quillet: audio through FluidSynth's %s driver, %d periods of %d frames\n",
                    name.c_str(), periods, size);
                return true;
            }
            tried += "\n  " + name + ": " + (capture.text.empty() ? "failed" : capture.text);
        }
        why = "no FluidSynth audio driver could start:" +
              (tried.empty() ? std::string(" none available") : tried);
        return false;
    }

private:
    PresetStore* store_ = nullptr;  // whose thread calls PlayWaiting
    AudioDriverPtr driver_;
};

}  // namespace

std::unique_ptr<AudioOutput> CreateDriverOutput() {
    return std::make_unique<DriverOutput>();
}

}  // namespace mbs
