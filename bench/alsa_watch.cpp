// Preloaded into a synthesizer in the benchmark's guest (alsa-guest.sh): says on standard
// error what buffer each ALSA playback stream got and each underrun that alsa-lib reported to
// the program, whatever the program itself logs.

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

template <typename F>
F Next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

void Say(snd_pcm_t* pcm, const char* what) {
    char line[256];
    const int n =
        std::snprintf(line, sizeof line, "alsa-watch: %s on %s\n", what, snd_pcm_name(pcm));
    if (n > 0) (void)!write(2, line, static_cast<std::size_t>(n));
}

snd_pcm_sframes_t Counted(snd_pcm_t* pcm, snd_pcm_sframes_t result) {
    if (result == -EPIPE) Say(pcm, "underrun");
    return result;
}

}  // namespace

extern "C" {

int snd_pcm_hw_params(snd_pcm_t* pcm, snd_pcm_hw_params_t* params) {
    static const auto next = Next<int (*)(snd_pcm_t*, snd_pcm_hw_params_t*)>("snd_pcm_hw_params");
    const int result = next(pcm, params);
    snd_pcm_uframes_t period = 0, buffer = 0;
    unsigned rate = 0;
    if (result == 0 && snd_pcm_stream(pcm) == SND_PCM_STREAM_PLAYBACK &&
        snd_pcm_hw_params_get_period_size(params, &period, nullptr) == 0 &&
        snd_pcm_hw_params_get_buffer_size(params, &buffer) == 0 &&
        snd_pcm_hw_params_get_rate(params, &rate, nullptr) == 0) {
        char what[128];
        std::snprintf(what, sizeof what, "%u Hz, periods of %lu frames, buffer of %lu frames", rate,
                      period, buffer);
        Say(pcm, what);
    }
    return result;
}

snd_pcm_sframes_t snd_pcm_writei(snd_pcm_t* pcm, const void* buffer, snd_pcm_uframes_t size) {
    static const auto next =
        Next<snd_pcm_sframes_t (*)(snd_pcm_t*, const void*, snd_pcm_uframes_t)>("snd_pcm_writei");
    return Counted(pcm, next(pcm, buffer, size));
}

snd_pcm_sframes_t snd_pcm_writen(snd_pcm_t* pcm, void** buffers, snd_pcm_uframes_t size) {
    static const auto next =
        Next<snd_pcm_sframes_t (*)(snd_pcm_t*, void**, snd_pcm_uframes_t)>("snd_pcm_writen");
    return Counted(pcm, next(pcm, buffers, size));
}
}
