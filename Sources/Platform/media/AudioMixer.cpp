#include "Platform/media/AudioMixer.h"

#include "Platform/media/MediaError.h"
#include "Platform/media/SoundSource.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace platform {

namespace {

std::int64_t frameOf(const MediaTime& t)
{
    const __int128 n = static_cast<__int128>(t.value()) * AudioMixer::sampleRate;
    const __int128 d = t.timescale();
    return static_cast<std::int64_t>(n >= 0 ? (n + d / 2) / d : (n - d / 2) / d);
}

} // namespace

AudioMixer::AudioMixer(std::shared_ptr<const Composition> composition, std::shared_ptr<SourceFiles> files)
    : composition_(std::move(composition)), files_(files ? std::move(files) : std::make_shared<SourceFiles>()),
      track_(std::size_t(maxFrames) * channels)
{
}

AudioMixer::~AudioMixer()
{
    unprepareTaps();
}

void AudioMixer::seek(const MediaTime& t)
{
    position_ = t.isNumeric() ? std::max<std::int64_t>(0, frameOf(t)) : 0;
    if (prepared_) {
        unprepareTaps();
        prepareTaps();
    }
}

void AudioMixer::mix(float* out, int frames, const std::shared_ptr<const AudioMix>& mix)
{
    if (mix != mix_ || !prepared_) {
        unprepareTaps();
        mix_ = mix;
        prepareTaps();
    }
    for (int done = 0; done < frames;) {
        const int n = std::min(maxFrames, frames - done);
        mixBlock(out + std::ptrdiff_t(done) * channels, n);
        done += n;
    }
}

void AudioMixer::mixBlock(float* out, int frames)
{
    std::fill_n(out, std::size_t(frames) * channels, 0.0f);
    ++blocks_;
    if (composition_) {
        for (const Composition::Track& track : composition_->tracks()) {
            if (track.kind != Composition::TrackKind::sound) continue;
            float* buffer = track_.data();
            std::fill_n(buffer, std::size_t(frames) * channels, 0.0f);
            readTrack(track, buffer, frames);
            if (const AudioMix::TrackParameters* p = mix_ ? mix_->find(track.id) : nullptr) {
                p->applyVolume(buffer, channels, position_, frames, sampleRate);
                if (p->tap) p->tap->process(buffer, frames);
            }
            for (std::size_t i = 0; i < std::size_t(frames) * channels; ++i) out[i] += buffer[i];
        }
    }
    position_ += frames;
}

void AudioMixer::readTrack(const Composition::Track& track, float* buffer, int frames)
{
    const std::int64_t from = position_;
    const std::int64_t to = position_ + frames;
    // The first segment that ends after `from`.
    auto it = std::upper_bound(track.segments.begin(), track.segments.end(), from,
                               [](std::int64_t f, const Composition::Segment& s) { return f < frameOf(s.target.end()); });
    for (; it != track.segments.end(); ++it) {
        const std::int64_t start = frameOf(it->target.start);
        if (start >= to) break;
        if (it->isEmpty()) continue;
        const std::int64_t a = std::max(from, start);
        const std::int64_t b = std::min(to, frameOf(it->target.end()));
        if (a >= b) continue;
        SoundSource* s = source(*it);
        if (!s) continue;
        const std::int64_t sourceFrame = frameOf(it->source.start) + (a - start);
        try {
            s->read(sourceFrame, buffer + (a - from) * channels, std::size_t(b - a), blocks_);
        } catch (const MediaError& e) {
            fail(e.what());
            sources_[StreamKey{it->asset->identity(), it->stream.fileIndex}].reset();
        }
    }
}

SoundSource* AudioMixer::source(const Composition::Segment& segment)
{
    const StreamKey key{segment.asset->identity(), segment.stream.fileIndex};
    auto found = sources_.find(key);
    if (found != sources_.end()) return found->second.get();
    return sources_.emplace(key, std::make_unique<SoundSource>(segment.asset, segment.stream, sampleRate, channels, files_))
        .first->second.get();
}

void AudioMixer::prepareTaps()
{
    if (mix_)
        for (const auto& p : mix_->tracks())
            if (p.tap) p.tap->prepare(sampleRate, channels, maxFrames);
    prepared_ = true;
}

void AudioMixer::unprepareTaps()
{
    if (prepared_ && mix_)
        for (const auto& p : mix_->tracks())
            if (p.tap) p.tap->unprepare();
    prepared_ = false;
}

void AudioMixer::fail(const std::string& message)
{
    if (!error_) error_ = message;
}

std::optional<std::string> AudioMixer::takeError()
{
    return std::exchange(error_, std::nullopt);
}

} // namespace platform
