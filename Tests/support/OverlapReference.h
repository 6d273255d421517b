#pragma once

// The cross-fade and lane rules as first written, visiting every pair of
// clips and scanning every lane: slow, but plainly right. The model's faster
// versions are checked against them and measured beside them.

#include "Ondexa/model/Timeline.h"

#include <algorithm>
#include <vector>

namespace fixtures {

inline std::vector<ondexa::Clip> everyPairFades(const ondexa::Track& track)
{
    using ondexa::Clip;
    std::vector<Clip> sorted = track.clips;
    std::stable_sort(sorted.begin(), sorted.end(), [](const Clip& a, const Clip& b) { return a.start < b.start; });
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        for (std::size_t j = i + 1; j < sorted.size(); ++j) {
            const double overlap = sorted[i].end() - sorted[j].start;
            if (overlap <= 0) continue;
            const double fade = std::min({overlap, sorted[j].duration, sorted[i].duration});
            sorted[i].fadeOut = std::max(sorted[i].fadeOut, fade);
            sorted[j].fadeIn = std::max(sorted[j].fadeIn, fade);
        }
    }
    for (Clip& clip : sorted) {
        clip.fadeIn = std::min(clip.fadeIn, clip.duration);
        clip.fadeOut = std::min(clip.fadeOut, clip.duration);
    }
    return sorted;
}

// Each clip goes into the first lane whose last clip has ended by its start.
inline std::vector<std::vector<ondexa::Clip>> firstFittingLanes(const ondexa::Track& track)
{
    using ondexa::Clip;
    std::vector<std::vector<Clip>> lanes;
    for (Clip& clip : everyPairFades(track)) {
        auto lane = std::find_if(lanes.begin(), lanes.end(), [&](const std::vector<Clip>& lane) {
            return lane.back().end() <= clip.start + 0.0001;
        });
        if (lane == lanes.end()) {
            lanes.push_back({std::move(clip)});
        } else {
            lane->push_back(std::move(clip));
        }
    }
    return lanes;
}

} // namespace fixtures
