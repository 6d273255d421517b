#pragma once

// Automatic cross-fades without copying clips: the start order of a track's
// clips and the fades each one gets there. Track::effectiveClips() and
// Track::lanes() build their copies from it.

#include "Timeline.h"

#include <cstddef>
#include <vector>

namespace ondexa {

struct CrossFades {
    std::vector<std::size_t> order;       // indices into the clips, by start; equal starts in stored order
    std::vector<double> fadeIn, fadeOut;  // by position in that order, raised and capped
};

CrossFades crossFades(const std::vector<Clip>& clips);

} // namespace ondexa
