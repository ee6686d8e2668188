#include "synth_engine.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

#include "testing.h"

namespace mbs {

namespace {

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string TrimBlanks(const char* text) {
    std::string s = text ? text : "";
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

}  // namespace

namespace {

using ParallelFunction = void (*)(void (*)(void*), void*, unsigned, unsigned);

ParallelFunction OpenMPParallel() {
    static const auto parallel =
        reinterpret_cast<ParallelFunction>(dlvsym(RTLD_NEXT, "GOMP_parallel", "GOMP_4.0"));
    return parallel;
}

}  // namespace

}  // namespace mbs

// FluidSynth runs its reverb and chorus in an OpenMP parallel region of one thread (ours have
// one effects unit), and the OpenMP runtime allocates and frees a team for every such region:
// on the audio thread, at every block. A region of one thread is run here in place, as OpenMP
// runs the constructs of a region that has no team; wider ones go to the runtime.
extern "C" void GOMP_parallel(void (*function)(void*), void* data, unsigned threads,
                              unsigned flags) {
    if (threads == 1) {
        function(data);
        return;
    }
    mbs::OpenMPParallel()(function, data, threads, flags);
}

namespace mbs {

std::vector<std::string> SoundFontCandidates(fluid_settings_t* settings) {
    if (auto forced = testing::SoundFontOverride()) return *forced;
    std::vector<std::string> list;
    char* configured = nullptr;
    if (fluid_settings_dupstr(settings, "synth.default-soundfont", &configured) == FLUID_OK &&
        configured) {
        if (*configured) list.emplace_back(configured);
        fluid_free(configured);
    }
    for (const char* path : {
             "/usr/share/sounds/sf2/default-GM.sf2",
             "/usr/share/sounds/sf3/default-GM.sf3",
             "/usr/share/sounds/sf2/FluidR3_GM.sf2",
             "/usr/share/sounds/sf3/FluidR3Mono_GM.sf3",
             "/usr/share/sounds/sf2/TimGM6mb.sf2",
             "/usr/share/sounds/sf2/MuseScore_General.sf2",
             "/usr/share/sounds/sf3/MuseScore_General.sf3",
             "/usr/share/soundfonts/default.sf2",
             "/usr/share/soundfonts/FluidR3_GM.sf2",
             "/usr/share/soundfonts/FluidR3_GM2-2.sf2",
             "/usr/share/soundfonts/TimGM6mb.sf2",
             "/usr/share/soundfonts/MuseScore_General.sf2",
             "/usr/share/soundfonts/freepats-general-midi.sf2",
         }) {
        if (std::find(list.begin(), list.end(), path) == list.end()) list.emplace_back(path);
    }
    return list;
}

std::vector<Instrument> ListInstruments(fluid_sfont_t* sfont) {
    struct Preset {
        int bank, program;
        std::string name;
    };
    std::vector<Preset> presets;
    fluid_sfont_iteration_start(sfont);
    while (fluid_preset_t* p = fluid_sfont_iteration_next(sfont))
        presets.push_back({fluid_preset_get_banknum(p), fluid_preset_get_num(p),
                           TrimBlanks(fluid_preset_get_name(p))});
    std::sort(presets.begin(), presets.end(), [](const Preset& a, const Preset& b) {
        return a.bank != b.bank ? a.bank < b.bank : a.program < b.program;
    });
    std::vector<Instrument> out;
    out.reserve(presets.size());
    for (auto& p : presets) out.push_back({p.bank * 128 + p.program + 1, std::move(p.name)});
    return out;
}

std::unique_ptr<SynthEngine> SynthEngine::Create(const std::string& audioBackend,
                                                 std::string& why) {
    // Found now, not first on the audio thread.
    if (!OpenMPParallel()) {
        why = "the OpenMP runtime that FluidSynth uses has no GOMP_parallel";
        return nullptr;
    }
    std::unique_ptr<SynthEngine> e(new SynthEngine);
    e->settings_.reset(new_fluid_settings());
    if (!e->settings_) {
        why = "FluidSynth could not create its settings";
        return nullptr;
    }
    fluid_settings_setint(e->settings_.get(), "synth.cpu-cores", 1);
    // Samples load when a preset is first needed (see PresetStore); locking them in memory
    // would make every page of them resident at once.
    fluid_settings_setint(e->settings_.get(), "synth.dynamic-sample-loading", 1);
    fluid_settings_setint(e->settings_.get(), "synth.lock-memory", 0);

    const AudioBackend* backend = FindAudioBackend(audioBackend);
    if (!backend) {
        why = "unknown audio back-end '" + audioBackend + "'";
        return nullptr;
    }
    e->output_ = backend->create();
    if (double rate = e->output_->SampleRate(); rate > 0)
        fluid_settings_setnum(e->settings_.get(), "synth.sample-rate", rate);

    e->output_->Configure(e->settings_.get());
    e->synth_.reset(new_fluid_synth(e->settings_.get()));
    if (!e->synth_) {
        why = "FluidSynth could not create a synthesizer";
        return nullptr;
    }

    // No channel has a program yet, so that loading the SoundFont loads no samples; a
    // channel's first note or program change selects one.
    for (int ch = 0; ch < fluid_synth_count_midi_channels(e->synth_.get()); ++ch)
        fluid_synth_unset_program(e->synth_.get(), ch);

    std::string tried;
    int sfid = FLUID_FAILED;
    for (const auto& path : SoundFontCandidates(e->settings_.get())) {
        if (!IsRegularFile(path)) {
            tried += "\n  " + path + ": not found";
            continue;
        }
        sfid = fluid_synth_sfload(e->synth_.get(), path.c_str(), 1);
        if (sfid != FLUID_FAILED) break;
        tried += "\n  " + path + ": not a SoundFont FluidSynth can load";
    }
    if (sfid == FLUID_FAILED) {
        why = "no General MIDI SoundFont found (install fluid-soundfont-gm); tried:" + tried;
        return nullptr;
    }
    fluid_sfont_t* sfont = fluid_synth_get_sfont_by_id(e->synth_.get(), sfid);
    if (auto forced = testing::InstrumentOverride())
        e->instruments_ = *forced;
    else
        e->instruments_ = ListInstruments(sfont);
    e->store_ = PresetStore::Create(sfont, why);
    if (!e->store_) return nullptr;

    std::string audioWhy;
    if (!e->output_->Start(e->settings_.get(), e->synth_.get(), *e->store_, audioWhy)) {
        why = std::string("no audio output (") + backend->name + "): " + audioWhy;
        return nullptr;
    }
    return e;
}

SynthEngine::~SynthEngine() = default;

}  // namespace mbs
