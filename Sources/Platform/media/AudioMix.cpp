#include "Platform/media/AudioMix.h"

#include "Platform/media/MediaError.h"

#include <algorithm>
#include <cmath>

namespace platform {

void AudioMix::TrackParameters::setVolume(float volume, const MediaTime& at)
{
    if (!at.isNumeric() || !std::isfinite(volume)) throw MediaError("Érvénytelen hangerő-beállítás.");
    const double t = at.seconds();
    auto position = std::upper_bound(events_.begin(), events_.end(), t,
                                     [](double time, const Event& e) { return time < e.start; });
    events_.insert(position, Event{t, t, volume, volume});
}

void AudioMix::TrackParameters::setVolumeRamp(float from, float to, const TimeRange& range)
{
    if (!range.isValid() || !range.start.isNumeric() || !range.duration.isNumeric() ||
        range.duration <= MediaTime(0, 1) || !std::isfinite(from) || !std::isfinite(to))
        throw MediaError("Érvénytelen hangerő-átmenet.");
    const double start = range.start.seconds();
    auto position = std::upper_bound(events_.begin(), events_.end(), start,
                                     [](double time, const Event& e) { return time < e.start; });
    events_.insert(position, Event{start, range.end().seconds(), from, to});
}

float AudioMix::TrackParameters::volumeAt(double seconds) const
{
    auto it = std::upper_bound(events_.begin(), events_.end(), seconds,
                               [](double time, const Event& e) { return time < e.start; });
    if (it == events_.begin()) return 1.0f;
    const Event& e = *(it - 1);
    if (seconds >= e.end) return e.to;
    return e.from + (e.to - e.from) * float((seconds - e.start) / (e.end - e.start));
}

void AudioMix::TrackParameters::applyVolume(float* samples, int channels, std::int64_t firstFrame, int frames,
                                            int sampleRate) const
{
    if (events_.empty() || frames <= 0) return;
    const double rate = sampleRate;
    // The event in force and the next one, followed frame by frame.
    std::size_t next = static_cast<std::size_t>(
        std::upper_bound(events_.begin(), events_.end(), double(firstFrame) / rate,
                         [](double time, const Event& e) { return time < e.start; }) -
        events_.begin());
    for (int i = 0; i < frames; ++i) {
        const double t = double(firstFrame + i) / rate;
        while (next < events_.size() && events_[next].start <= t) ++next;
        float volume = 1.0f;
        if (next > 0) {
            const Event& e = events_[next - 1];
            volume = t >= e.end ? e.to : e.from + (e.to - e.from) * float((t - e.start) / (e.end - e.start));
        }
        float* frame = samples + std::ptrdiff_t(i) * channels;
        for (int c = 0; c < channels; ++c) frame[c] *= volume;
    }
}

AudioMix::TrackParameters& AudioMix::parameters(std::int32_t trackId)
{
    for (TrackParameters& p : tracks_)
        if (p.trackId() == trackId) return p;
    tracks_.emplace_back(trackId);
    return tracks_.back();
}

const AudioMix::TrackParameters* AudioMix::find(std::int32_t trackId) const
{
    for (const TrackParameters& p : tracks_)
        if (p.trackId() == trackId) return &p;
    return nullptr;
}

} // namespace platform
