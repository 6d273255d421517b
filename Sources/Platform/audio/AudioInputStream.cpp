#include "Platform/audio/AudioInputStream.h"

#include "Platform/audio/AudioError.h"
#include "Platform/audio/PulseStream.h"
#include "Platform/audio/AudioServer.h"
#include "Platform/core/HostClock.h"

#include <pulse/error.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace platform {


AudioInputStream::AudioInputStream(Options options, BufferCallback onBuffer, EndCallback onEnd)
    : server_(AudioServer::shared()), onBuffer_(std::move(onBuffer)), onEnd_(std::move(onEnd))
{
    const AudioSource* found = nullptr;
    auto sources = server_->sources();
    for (const auto& source : sources)
        if (source.name == options.source) found = &source;
    if (!found) throw AudioError("A hangforrás nem található: " + options.source + ".", PA_ERR_NOENTITY);

    channels_ = options.channels > 0 ? options.channels : found->channelCount;
    sampleRate_ = options.sampleRate > 0 ? options.sampleRate : found->sampleRate;
    if (channels_ < 1 || channels_ > int(PA_CHANNELS_MAX) || sampleRate_ <= 0 || sampleRate_ > int(PA_RATE_MAX))
        throw AudioError("A hangforrás nem ad hangot: " + found->description + ".");

    pa_sample_spec sampleSpec{PA_SAMPLE_FLOAT32NE, std::uint32_t(sampleRate_), std::uint8_t(channels_)};
    pa_channel_map map;
    bool ownMap = channels_ == found->channelCount;
    if (ownMap) {
        // The source's own layout, so that the server passes each channel
        // through as it is.
        pa_channel_map_init(&map);
        map.channels = std::uint8_t(channels_);
        for (int i = 0; i < channels_; ++i) {
            map.map[i] = pa_channel_position_from_string(found->channelNames[std::size_t(i)].c_str());
            if (map.map[i] == PA_CHANNEL_POSITION_INVALID) ownMap = false;
        }
        channelNames_ = found->channelNames;
    }
    if (!ownMap) {
        pa_channel_map_init_extend(&map, unsigned(channels_), PA_CHANNEL_MAP_DEFAULT);
        channelNames_.clear();
        for (int i = 0; i < channels_; ++i) channelNames_.push_back(pa_channel_position_to_string(map.map[i]));
    }

    pulse::LoopLock lock(server_->mainloop());
    stream_ = pa_stream_new(server_->context(), "Vendalum", &sampleSpec, &map);
    if (!stream_) throw AudioError("A hangkiszolgáló nem nyitott felvevő adatfolyamot.", server_->lastError());
    pa_stream_set_state_callback(stream_, &AudioInputStream::stateCallback, this);
    pa_stream_set_read_callback(stream_, &AudioInputStream::readCallback, this);

    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr);  // (uint32_t)-1: the server's choice
    attr.fragsize = std::uint32_t(std::max(options.framesPerBuffer, 1)) * std::uint32_t(pa_frame_size(&sampleSpec));
    auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                   PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_DONT_MOVE |
                                   (ownMap ? PA_STREAM_NO_REMIX_CHANNELS : 0));
    int failure = 0;
    if (pa_stream_connect_record(stream_, options.source.c_str(), &attr, flags) < 0) {
        failure = server_->lastError();
    } else {
        failure = pulse::waitUntilReady(stream_, *server_);
        running_ = failure == 0;
    }
    if (failure != 0) {
        closing_ = true;
        pulse::closeStream(stream_);
        if (failure == PA_ERR_TIMEOUT) throw AudioError(noAnswerSentence());
        throw AudioError("A hangkiszolgáló nem nyitott felvevő adatfolyamot: " + found->description + ".", failure);
    }
}

AudioInputStream::~AudioInputStream()
{
    if (!stream_) return;
    pulse::LoopLock lock(server_->mainloop());
    closing_ = true;
    pulse::closeStream(stream_);
}

void AudioInputStream::stateCallback(pa_stream* stream, void* data)
{
    auto* self = static_cast<AudioInputStream*>(data);
    pa_stream_state_t state = pa_stream_get_state(stream);
    pa_threaded_mainloop_signal(self->server_->mainloop(), 0);
    // Before READY the constructor is waiting and reports the failure itself.
    if (state == PA_STREAM_CREATING || state == PA_STREAM_UNCONNECTED || state == PA_STREAM_READY) return;
    if (self->closing_ || self->ended_) return;
    if (!self->running_) return;  // never got going: the constructor reports
    self->ended_ = true;
    if (self->onEnd_) {
        int code = pa_context_errno(pa_stream_get_context(stream));
        self->onEnd_(AudioError("A hangbemenet leállt.", code).what());
    }
}

void AudioInputStream::readCallback(pa_stream* stream, std::size_t, void* data)
{
    auto* self = static_cast<AudioInputStream*>(data);
    const std::size_t frameBytes = std::size_t(self->channels_) * sizeof(float);
    for (;;) {
        const void* bytes = nullptr;
        std::size_t length = 0;
        if (pa_stream_peek(stream, &bytes, &length) < 0 || length == 0) return;
        if (bytes && length >= frameBytes && self->onBuffer_) {
            Buffer buffer;
            buffer.frames = int(length / frameBytes);
            buffer.channels = self->channels_;
            buffer.sampleRate = self->sampleRate_;
            // The stream's latency is the age of the oldest sample still
            // unread, which is this fragment's first (read before it is dropped).
            pa_usec_t latency = 0;
            int negative = 0;
            if (pa_stream_get_latency(stream, &latency, &negative) == 0) {
                std::int64_t offset = std::int64_t(latency) * 1000;
                buffer.hostTime = HostClock::nowNanoseconds() + (negative ? offset : -offset);
            }
            if (reinterpret_cast<std::uintptr_t>(bytes) % alignof(float) == 0) {
                buffer.samples = static_cast<const float*>(bytes);
            } else {
                self->aligned_.resize(std::size_t(buffer.frames) * std::size_t(buffer.channels));
                std::memcpy(self->aligned_.data(), bytes, self->aligned_.size() * sizeof(float));
                buffer.samples = self->aligned_.data();
            }
            self->onBuffer_(buffer);
        }
        // A hole (bytes == nullptr) is skipped: the next buffer's time stamp
        // shows the gap.
        pa_stream_drop(stream);
    }
}

} // namespace platform
