#include "Ondexa/recording/SoundTimeLine.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace ondexa {

namespace {

// Weight of each buffer's difference in the smoothed one: about 20 buffers, a
// tenth of a second or more, averages the stamps' jitter out.
constexpr double kSmoothing = 0.05;

} // namespace

std::int64_t SoundTimeLine::lineAt(std::int64_t frames, int sampleRate) const
{
    return *start_ + frames * 1'000'000'000 / sampleRate;
}

SoundTimeLine::Placement SoundTimeLine::place(int frames, int sampleRate, std::optional<std::int64_t> stamp,
                                              std::int64_t now)
{
    if (frames < 1 || sampleRate < 1) return {stamp.value_or(now), 0};

    int adjust = 0;  // frames repeated (> 0) or dropped (< 0)
    const auto restart = [&](std::int64_t at) {
        start_ = at;
        frames_ = 0;
        sampleRate_ = sampleRate;
        drift_ = 0;
    };
    if (!start_ || sampleRate != sampleRate_) {
        restart(stamp.value_or(now));
    } else if (stamp) {  // without a stamp the line just goes on
        const std::int64_t difference = *stamp - lineAt(frames_, sampleRate);  // > 0: the line runs early
        if (std::llabs(difference) > restartNanoseconds) {
            restart(*stamp);
        } else {
            drift_ += (double(difference) - drift_) * kSmoothing;
            if (std::abs(drift_) > deadbandNanoseconds) {
                const int most = std::min(frames / correctionFrames + 1, frames - 1);
                const int wanted = std::max(1, int(std::abs(drift_) * sampleRate / 1e9));
                adjust = std::min(most, wanted) * (drift_ > 0 ? 1 : -1);
                drift_ -= double(adjust) * 1e9 / sampleRate;
            }
        }
    }

    const Placement placement{lineAt(frames_, sampleRate), frames + adjust};
    frames_ += placement.frames;
    return placement;
}

} // namespace ondexa
