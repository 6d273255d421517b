#pragma once

// The audio mix of a build: per sound lane the track's mute and volume
// automation, and for a maximized track a Dynamics tap of its own whose
// pre-gain comes from the track's waveform peaks.

#include "Ondexa/model/Timeline.h"
#include "Ondexa/rendering/CompositionBuilder.h"
#include "Platform/media/AudioMix.h"

#include <memory>

namespace ondexa {

// A new mix for the lanes of `built`; lanes whose track is no longer in
// settings.tracks get no parameters.
std::shared_ptr<platform::AudioMix> makeAudioMix(const Built& built, const RenderSettings& settings);

// The maximizer's linear pre-gain: 0.89 over the 99th percentile of the
// track's peaks above 0.001 (times its volume), within 1 and 31.6, times its
// boost. 1 (times the boost) until peaks are known.
float maximizerGain(const Track& track, const PeakMap& peaks);

} // namespace ondexa
