#include "Ondexa/rendering/AudioMixBuilder.h"

#include "Ondexa/rendering/Dynamics.h"
#include "Platform/media/MediaError.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace ondexa {

using platform::MediaTime;
using platform::TimeRange;

namespace {

constexpr double peaksPerSecond = 50;
// Peaks at or below this are silence and say nothing about loudness.
constexpr float silentPeak = 0.001f;
// The loudness taken as the track's level: loud enough to ignore rare
// spikes, which the limiter catches anyway.
constexpr double levelPercentile = 0.99;
// Where the maximizer's limiter sits; the pre-gain aims the level there.
constexpr float targetLevel = 0.89f;
// About +30 dB: more would lift noise, not speech.
constexpr float largestGain = 31.6f;

MediaTime at(double seconds)
{
    return MediaTime::fromSeconds(seconds, MediaTime::kDefaultTimescale);
}

void automate(platform::AudioMix::TrackParameters& parameters, const Track& track, const AudioLane& lane)
{
    if (track.muted) {
        parameters.setVolume(0, MediaTime::zero());
        return;
    }
    for (const VolumeStep& step : track.volumeSteps(lane.clips)) {
        try {
            if (const auto* set = std::get_if<VolumeStep::Set>(&step.step)) {
                const MediaTime time = at(set->time);
                if (time.isNumeric()) parameters.setVolume(set->level, time);
            } else {
                const auto& ramp = std::get<VolumeStep::Ramp>(step.step);
                if (ramp.start < ramp.end)
                    parameters.setVolumeRamp(ramp.startLevel, ramp.endLevel,
                                             TimeRange::fromStartEnd(at(ramp.start), at(ramp.end)));
            }
        } catch (const platform::MediaError&) {
            // A step with times that are no numbers (a damaged file) is dropped.
        }
    }
}

} // namespace

std::shared_ptr<platform::AudioMix> makeAudioMix(const Built& built, const RenderSettings& settings)
{
    static const PeakMap noPeaks;
    const PeakMap& peaks = settings.peaks ? *settings.peaks : noPeaks;
    auto mix = std::make_shared<platform::AudioMix>();
    // The lanes of one track share its pre-gain; it reads all of its peaks.
    std::unordered_map<Uuid, float> gains;
    for (const AudioLane& lane : built.audio) {
        const auto track = std::find_if(settings.tracks.begin(), settings.tracks.end(),
                                        [&](const Track& t) { return t.id == lane.trackID; });
        if (track == settings.tracks.end()) continue;
        platform::AudioMix::TrackParameters& parameters = mix->parameters(lane.compositionTrack);
        automate(parameters, *track, lane);
        // Muted or not: unmuting later refreshes the mix, and the tap's state
        // must not depend on it. Every lane gets its own maximizer.
        if (track->maximize) {
            auto gain = gains.find(track->id);
            if (gain == gains.end()) gain = gains.emplace(track->id, maximizerGain(*track, peaks)).first;
            parameters.tap = makeTap(gain->second);
        }
    }
    return mix;
}

float maximizerGain(const Track& track, const PeakMap& peaks)
{
    std::vector<float> kept;
    for (const Clip& clip : track.clips) {
        const auto found = peaks.find(mediaOf(clip, track));
        if (found == peaks.end() || found->second.empty()) continue;
        const std::vector<float>& values = found->second;
        const double first = clip.sourceStart * peaksPerSecond;
        const double last = (clip.sourceStart + clip.duration) * peaksPerSecond;
        if (!std::isfinite(first) || !std::isfinite(last)) continue;
        const auto from = std::max<std::int64_t>(static_cast<std::int64_t>(first), 0);
        const auto to = std::min<std::int64_t>(static_cast<std::int64_t>(last), static_cast<std::int64_t>(values.size()));
        for (std::int64_t i = from; i < to; ++i)
            if (values[static_cast<std::size_t>(i)] > silentPeak) kept.push_back(values[static_cast<std::size_t>(i)]);
    }

    float gain = 1.0f;
    if (!kept.empty()) {
        const std::size_t n = kept.size();
        const std::size_t index = std::min(n - 1, static_cast<std::size_t>(static_cast<double>(n) * levelPercentile));
        std::nth_element(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(index), kept.end());
        const float level = kept[index] * track.volume;
        // Written as a positive test so that a volume that is no number gives the cap.
        gain = level > 0.0001f ? std::clamp(targetLevel / level, 1.0f, largestGain) : largestGain;
    }
    return gain * std::pow(10.0f, static_cast<float>(track.maximizeBoost) / 20.0f);
}

} // namespace ondexa
