#include "jack/jack_output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace mbs {

namespace {

// Instrument changes of the window between two cycles: a few at most.
constexpr std::size_t kChangeQueueBytes = 4096;
// Messages from other input threads within one period or two, SysEx included.
constexpr std::size_t kMessageQueueBytes = 64 * 1024;
// Below this peak (-100 dBFS) the reverb tail after the last voice is inaudible.
constexpr float kQuietPeak = 1e-5f;

}  // namespace

JackOutput::JackOutput()
    : changes_(kChangeQueueBytes),
      messages_(kMessageQueueBytes),
      client_(jack::Client::Acquire(jack::kDefaultClientName, openWhy_)) {}

JackOutput::~JackOutput() {
    if (attached_) client_->DetachAudio(this);
}

void JackOutput::Configure(fluid_settings_t* settings) const {
    fluid_settings_setint(settings, "synth.threadsafe-api", 0);
}

double JackOutput::SampleRate() const {
    if (!client_) return 0.0;
    const auto server = client_->Lock();
    return client_->get() ? static_cast<double>(jack_get_sample_rate(client_->get())) : 0.0;
}

bool JackOutput::Start(fluid_settings_t*, fluid_synth_t* synth, PresetStore& store,
                       std::string& why) {
    if (!client_) {
        why = openWhy_;
        return false;
    }
    if (!store.StartThread(why)) return false;
    const auto lock = client_->Lock();
    jack_client_t* c = client_->get();
    if (!c || !RegisterPorts(c)) {
        why = "JACK did not register the audio ports out_1 and out_2";
        return false;
    }
    Attach(synth, store, PresetPlayer::Loading::Defer, PresetPlayer::Caller::Audio);
    blockSize_ = std::clamp(fluid_synth_get_internal_bufsize(synth), 1,
                            static_cast<int>(scratch_.size()) / 2);
    rate_ = jack_get_sample_rate(c);
    quietNeeded_ = rate_ / 20;
    tailLimit_ = rate_ * 10;
    RefreshAllPrograms();
    // From here on only the callback calls the synthesizer.
    client_->AttachAudio(this);
    attached_ = true;
    ConnectToPlayback(c);
    return true;
}

bool JackOutput::RegisterPorts(jack_client_t* c) {
    const auto reg = [c](const char* name) {
        return jack::PortPtr(
            jack_port_register(c, name, JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0), {c});
    };
    left_ = reg("out_1");
    right_ = reg("out_2");
    if (left_ && right_) return true;
    left_.reset();
    right_.reset();
    return false;
}

void JackOutput::ConnectToPlayback(jack_client_t* c) {
    jack::PortList playback(
        jack_get_ports(c, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput));
    if (!playback || !playback.get()[0]) {
        std::fprintf(stderr,
                     "quillet: JACK has no playback ports; connect %s:out_1 and out_2 by hand\n",
                     jack_get_client_name(c));
        return;
    }
    const char* first = playback.get()[0];
    const char* second = playback.get()[1] ? playback.get()[1] : first;
    for (auto [port, to] : {std::pair{left_.get(), first}, std::pair{right_.get(), second}}) {
        int err = jack_connect(c, jack_port_name(port), to);
        if (err != 0 && err != EEXIST)
            std::fprintf(stderr, "quillet: JACK did not connect %s to %s (error %d)\n",
                         jack_port_name(port), to, err);
    }
}

void JackOutput::Detached() {
    // The ports went with the client.
    left_.release();
    right_.release();
}

void JackOutput::Reattached(jack_client_t* c) {
    if (!RegisterPorts(c)) {
        std::fprintf(stderr, "quillet: JACK did not register the audio ports out_1 and out_2\n");
        return;
    }
    // What was posted for the gone server's clock plays no more.
    Posted posted;
    while (messages_.Peek(&posted, sizeof posted)) messages_.Skip(sizeof posted + posted.length);
    if (jack_get_sample_rate(c) != rate_)
        std::fprintf(stderr,
                     "quillet: the JACK server now runs at %u Hz, the synthesizer at %u Hz: "
                     "notes sound off pitch until Quillet starts again\n",
                     jack_get_sample_rate(c), rate_);
    ConnectToPlayback(c);
}

void JackOutput::SelectInstrument(int channel, PresetKey key) {
    const InstrumentChange change{channel, key};
    std::lock_guard lock(postMutex_);
    changes_.Write({jack::ByteQueue::BytesOf(change)});
}

void JackOutput::PostMessage(const MidiMessage& message) {
    if (!client_) return;
    const auto bytes = message.Bytes();
    if (bytes.empty() || bytes.size() > kMaxPostedBytes) return;
    const auto server = client_->Lock();
    jack_client_t* c = client_->get();
    if (!c) return;  // no server: nothing would be heard
    Posted posted{};
    posted.due = jack_frame_time(c) + jack_get_buffer_size(c);
    posted.length = static_cast<std::uint16_t>(bytes.size());
    std::lock_guard lock(postMutex_);
    messages_.Write({jack::ByteQueue::BytesOf(posted), bytes});
}

int32_t JackOutput::InstrumentIDOnChannel(int channel) const {
    if (channel < 0 || channel >= static_cast<int>(programs_.size())) return 0;
    return programs_[static_cast<std::size_t>(channel)].load(std::memory_order_acquire);
}

void JackOutput::RefreshProgram(int channel) {
    programs_[static_cast<std::size_t>(channel)].store(InstrumentIDOf(synth_, channel),
                                                       std::memory_order_release);
}

void JackOutput::RefreshChangedPrograms() {
    const std::uint32_t changed = player_->TakeChangedChannels();
    if (changed == 0) return;
    for (int ch = 0; ch < static_cast<int>(programs_.size()); ++ch)
        if (changed & (1u << ch)) RefreshProgram(ch);
}

void JackOutput::RefreshAllPrograms() {
    for (int ch = 0; ch < static_cast<int>(programs_.size()); ++ch) RefreshProgram(ch);
}

void JackOutput::BeginCycle(jack_nframes_t nframes) {
    cycleBegan_ = std::chrono::steady_clock::now();
    outLeft_ = static_cast<float*>(jack_port_get_buffer(left_.get(), nframes));
    outRight_ = static_cast<float*>(jack_port_get_buffer(right_.get(), nframes));
    cycleFrames_ = nframes;
    cycleStart_ = jack_last_frame_time(client_->get());
    done_ = 0;
    InstrumentChange change;
    while (changes_.Readable() >= sizeof change) {
        changes_.Read(&change, sizeof change);
        player_->Select(change.channel, change.key);
    }
    player_->Retry();
    RefreshChangedPrograms();
}

void JackOutput::PlayAt(jack_nframes_t frame, const MidiMessage& message) {
    AdvanceTo(std::min(frame, cycleFrames_));
    Apply(message);
}

void JackOutput::EndCycle() {
    AdvanceTo(cycleFrames_);
    framesHandled_.fetch_add(cycleFrames_, std::memory_order_relaxed);
    const std::int64_t took = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                  std::chrono::steady_clock::now() - cycleBegan_)
                                  .count();
    if (took > longestCycleNs_.load(std::memory_order_relaxed))
        longestCycleNs_.store(took, std::memory_order_relaxed);
}

bool JackOutput::NextPostedDue(jack_nframes_t& offset) {
    Posted posted;
    if (!messages_.Peek(&posted, sizeof posted)) return false;
    // Frame times wrap; the difference is small and signed.
    const auto delta = static_cast<int32_t>(posted.due - cycleStart_);
    if (delta >= static_cast<int32_t>(cycleFrames_)) return false;
    // One that is late (the cycle it was due in was missed) plays at once.
    offset = std::max(done_, static_cast<jack_nframes_t>(std::max<int32_t>(delta, 0)));
    return true;
}

void JackOutput::AdvanceTo(jack_nframes_t frame) {
    jack_nframes_t due = 0;
    while (NextPostedDue(due) && due <= frame) {
        RenderSlice(due);
        Posted posted;
        messages_.Read(&posted, sizeof posted);
        messages_.Read(postedBytes_.data(), posted.length);
        const MidiMessage message = MessageOfBytes({postedBytes_.data(), posted.length});
        Apply(message);
    }
    RenderSlice(frame);
}

void JackOutput::RenderSlice(jack_nframes_t to) {
    if (to <= done_) return;
    const jack_nframes_t n = to - done_;
    float* left = outLeft_ + done_;
    float* right = outRight_ + done_;
    done_ = to;
    const bool voices = fluid_synth_get_active_voice_count(synth_) > 0;
    if (voices) {
        sounding_ = true;
        quietFrames_ = 0;
        tailFrames_ = 0;
    }
    if (!sounding_) {
        std::fill_n(left, n, 0.0f);
        std::fill_n(right, n, 0.0f);
        return;
    }
    fluid_synth_write_float(synth_, static_cast<int>(n), left, 0, 1, right, 0, 1);
    blockPhase_ = static_cast<int>((static_cast<jack_nframes_t>(blockPhase_) + n) %
                                   static_cast<jack_nframes_t>(blockSize_));
    framesRendered_.fetch_add(n, std::memory_order_relaxed);
    if (voices) return;
    // No voice left: render the effects' tail until it has been inaudible for a while.
    float peak = 0.0f;
    for (jack_nframes_t i = 0; i < n; ++i)
        peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
    quietFrames_ = peak < kQuietPeak ? quietFrames_ + n : 0;
    tailFrames_ += n;
    if (quietFrames_ >= quietNeeded_ || tailFrames_ >= tailLimit_) sounding_ = false;
}

void JackOutput::Apply(const MidiMessage& message) {
    if (IsNoteOn(message)) AlignBlock();
    player_->Play(message);
    RefreshChangedPrograms();
}

void JackOutput::AlignBlock() {
    if (blockPhase_ == 0 || fluid_synth_get_active_voice_count(synth_) > 0) return;
    if (sounding_ && quietFrames_ == 0) return;  // an effects tail is still audible
    // The frames are already rendered into the synthesizer's buffer: taking them costs a copy.
    const int rest = blockSize_ - blockPhase_;
    float* half = scratch_.data() + scratch_.size() / 2;
    fluid_synth_write_float(synth_, rest, scratch_.data(), 0, 1, half, 0, 1);
    blockPhase_ = 0;
}

bool JackAvailable(std::string& why) {
    return jack::ServerRuns(why);
}

std::unique_ptr<AudioOutput> CreateJackOutput() {
    return std::make_unique<JackOutput>();
}

}  // namespace mbs
