#include "Platform/audio/AudioOutputStream.h"

#include "Platform/audio/AudioError.h"
#include "Platform/audio/PulseStream.h"
#include "Platform/audio/AudioServer.h"

#include <pulse/error.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

void drop(pa_operation* operation)
{
    if (operation) pa_operation_unref(operation);
}

} // namespace

AudioOutputStream::AudioOutputStream(Options options, EndCallback onEnd)
    : server_(AudioServer::shared()), onEnd_(std::move(onEnd)), sampleRate_(options.sampleRate),
      channels_(options.channels)
{
    if (channels_ < 1 || channels_ > int(PA_CHANNELS_MAX) || sampleRate_ <= 0 || sampleRate_ > int(PA_RATE_MAX))
        throw AudioError("Érvénytelen hangformátumot kértek a lejátszáshoz.");
    pa_sample_spec sampleSpec{PA_SAMPLE_FLOAT32NE, std::uint32_t(sampleRate_), std::uint8_t(channels_)};
    pa_channel_map map;
    pa_channel_map_init_extend(&map, unsigned(channels_), PA_CHANNEL_MAP_DEFAULT);

    pulse::LoopLock lock(server_->mainloop());
    stream_ = pa_stream_new(server_->context(), "Vendalum", &sampleSpec, &map);
    if (!stream_) throw AudioError("A hangkiszolgáló nem nyitott lejátszó adatfolyamot.", server_->lastError());
    pa_stream_set_state_callback(stream_, &AudioOutputStream::stateCallback, this);
    pa_stream_set_write_callback(stream_, &AudioOutputStream::writeCallback, this);

    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr);  // (uint32_t)-1: the server's choice
    attr.tlength = std::uint32_t(pa_usec_to_bytes(pa_usec_t(std::max(options.bufferMilliseconds, 5)) * 1000, &sampleSpec));
    // Started paused so that the buffer is full before anything is heard.
    auto flags = pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                   PA_STREAM_AUTO_TIMING_UPDATE);
    int failure = 0;
    if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0) {
        failure = server_->lastError();
    } else {
        failure = pulse::waitUntilReady(stream_, *server_);
        running_ = failure == 0;
    }
    if (failure != 0) {
        closing_ = true;
        pulse::closeStream(stream_);
        if (failure == PA_ERR_TIMEOUT) throw AudioError(noAnswerSentence());
        throw AudioError("A hangkiszolgáló nem nyitott lejátszó adatfolyamot.", failure);
    }
}

AudioOutputStream::~AudioOutputStream()
{
    if (!stream_) return;
    pulse::LoopLock lock(server_->mainloop());
    closing_ = true;
    pulse::closeStream(stream_);
    // A thread still in waitWritable would have been a caller's bug; wake it anyway.
    pa_threaded_mainloop_signal(server_->mainloop(), 0);
}

void AudioOutputStream::stateCallback(pa_stream* stream, void* data)
{
    auto* self = static_cast<AudioOutputStream*>(data);
    pa_stream_state_t state = pa_stream_get_state(stream);
    pa_threaded_mainloop_signal(self->server_->mainloop(), 0);
    if (state == PA_STREAM_CREATING || state == PA_STREAM_UNCONNECTED || state == PA_STREAM_READY) return;
    if (self->closing_ || self->ended_ || !self->running_) return;
    self->ended_ = true;
    if (self->onEnd_) {
        int code = pa_context_errno(pa_stream_get_context(stream));
        self->onEnd_(AudioError("A hanglejátszás leállt.", code).what());
    }
}

void AudioOutputStream::writeCallback(pa_stream*, std::size_t, void* data)
{
    // The writer waits in waitWritable; tell it there is room.
    auto* self = static_cast<AudioOutputStream*>(data);
    pa_threaded_mainloop_signal(self->server_->mainloop(), 0);
}

void AudioOutputStream::setPaused(bool paused)
{
    pulse::LoopLock lock(server_->mainloop());
    if (ended_) return;
    drop(pa_stream_cork(stream_, paused ? 1 : 0, nullptr, nullptr));
}

int AudioOutputStream::waitWritable(int frames, std::uint64_t generation)
{
    if (pa_threaded_mainloop_in_thread(server_->mainloop())) return 0;  // would wait for itself
    const std::size_t frameBytes = std::size_t(channels_) * sizeof(float);
    pulse::LoopLock lock(server_->mainloop());
    for (;;) {
        if (ended_ || !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) return -1;
        if (interrupted_ || generation != generation_) return 0;
        const std::size_t bytes = pa_stream_writable_size(stream_);
        const int writable = bytes == std::size_t(-1) ? 0 : int(std::min<std::size_t>(bytes / frameBytes, 1 << 20));
        if (writable >= std::max(frames, 1)) return writable;
        pa_threaded_mainloop_wait(server_->mainloop());
    }
}

void AudioOutputStream::interrupt()
{
    pulse::LoopLock lock(server_->mainloop());
    interrupted_ = true;
    pa_threaded_mainloop_signal(server_->mainloop(), 0);
}

bool AudioOutputStream::write(const float* samples, int frames, std::uint64_t generation)
{
    pulse::LoopLock lock(server_->mainloop());
    if (generation != generation_ || ended_) return false;
    if (frames <= 0) return true;
    const std::size_t bytes = std::size_t(frames) * std::size_t(channels_) * sizeof(float);
    if (pa_stream_write(stream_, samples, bytes, nullptr, 0, PA_SEEK_RELATIVE) < 0) return false;
    written_ += frames;
    return true;
}

std::uint64_t AudioOutputStream::flush()
{
    pulse::LoopLock lock(server_->mainloop());
    if (!ended_) {
        drop(pa_stream_flush(stream_, nullptr, nullptr));
        // The latency is unknown until the server reports again; ask now
        // rather than at the next automatic update.
        drop(pa_stream_update_timing_info(stream_, nullptr, nullptr));
    }
    written_ = 0;
    heard_ = 0;
    ++generation_;
    pa_threaded_mainloop_signal(server_->mainloop(), 0);
    return generation_;
}

std::uint64_t AudioOutputStream::generation() const
{
    pulse::LoopLock lock(server_->mainloop());
    return generation_;
}

AudioOutputStream::Position AudioOutputStream::playingPosition() const
{
    pulse::LoopLock lock(server_->mainloop());
    Timing timing;
    const pa_timing_info* info = ended_ ? nullptr : pa_stream_get_timing_info(stream_);
    // The latency is asked only once the server says it plays: before, the
    // library's interpolation runs ahead of the server by up to the whole
    // buffer, and as its readings never go back, it would stay ahead until
    // the sound caught up. The picture would start late.
    if (info && info->playing && pa_stream_is_corked(stream_) == 0) {
        pa_usec_t latency = 0;
        int negative = 0;
        if (pa_stream_get_latency(stream_, &latency, &negative) == 0) {
            timing.playing = true;
            // A negative latency: the server has played past what we wrote.
            timing.queued = negative ? 0 : std::int64_t(latency * pa_usec_t(sampleRate_) / 1000000);
        }
    }
    heard_ = heardFrames(written_, heard_, timing);
    return Position{generation_, heard_};
}

std::int64_t AudioOutputStream::heardFrames(std::int64_t written, std::int64_t before, const Timing& timing)
{
    before = std::clamp<std::int64_t>(before, 0, written);
    if (!timing.playing) return before;
    return std::clamp<std::int64_t>(written - std::max<std::int64_t>(timing.queued, 0), before, written);
}

} // namespace platform
