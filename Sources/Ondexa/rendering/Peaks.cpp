#include "Ondexa/rendering/Peaks.h"

#include "Platform/media/MediaError.h"
#include "Platform/media/SampleReader.h"

#include <cmath>
#include <exception>
#include <unordered_set>

namespace ondexa {

namespace {

// Samples read per call: a quarter second at the peak rate.
constexpr std::size_t readBlock = 2000;

} // namespace

void PeakAccumulator::add(std::span<const float> samples)
{
    for (const float x : samples) {
        const float magnitude = std::fabs(x);
        if (magnitude > max_) max_ = magnitude;  // a NaN sample changes nothing
        if (++count_ == peakWindow) {
            peaks_.push_back(max_);
            max_ = 0;
            count_ = 0;
        }
    }
}

std::vector<float> computePeaks(const platform::Asset& asset, const platform::StreamInfo& stream)
{
    PeakAccumulator peaks;
    try {
        platform::SampleReader reader(asset, stream, peakSampleRate, 1);
        std::vector<float> block(readBlock);
        while (const std::size_t n = reader.read(block.data(), block.size()))
            peaks.add(std::span<const float>(block.data(), n));
    } catch (const std::exception&) {
        // A stream that breaks off keeps the peaks read before the damage.
    }
    return peaks.take();
}

std::vector<PeakJob> missingPeaks(std::span<const Track> tracks, const MediaSources& sources, const PeakMap& peaks)
{
    std::vector<PeakJob> jobs;
    std::unordered_set<MediaRef> seen;
    for (const Track& track : tracks) {
        if (track.media.kind != MediaKind::audio) continue;
        for (const Clip& clip : track.clips) {
            const MediaRef media = mediaOf(clip, track);
            if (!seen.insert(media).second || peaks.contains(media)) continue;
            const auto source = sources.find(media.path);
            if (source == sources.end() || !source->second.holds(media)) continue;
            const MediaSource& s = source->second;
            if (!s.asset || static_cast<std::size_t>(media.index) >= s.audio.size()) continue;
            jobs.push_back({media, s.asset, s.audio[static_cast<std::size_t>(media.index)].stream});
        }
    }
    return jobs;
}

} // namespace ondexa
