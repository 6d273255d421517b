#pragma once

// Waveform peaks: the largest absolute sample of every 20 ms of a sound
// stream, read at 8000 Hz in one channel. For the timeline's waveforms and
// the maximizer's pre-gain.

#include "Ondexa/model/Timeline.h"
#include "Ondexa/rendering/CompositionBuilder.h"
#include "Ondexa/rendering/MediaSource.h"
#include "Platform/media/Asset.h"

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

namespace ondexa {

inline constexpr int peakSampleRate = 8000;
inline constexpr int peakWindow = 160;  // samples: 20 ms, 50 peaks a second

// The peaks of one sound stream from the file's time 0 (silence before the
// stream starts); a last window shorter than 20 ms is dropped. Empty when the
// stream can't be read. Blocks: call it off the main thread.
std::vector<float> computePeaks(const platform::Asset& asset, const platform::StreamInfo& stream);

// Folds samples into peaks across blocks of any length.
class PeakAccumulator {
public:
    void add(std::span<const float> samples);
    // The peaks of the complete windows so far.
    const std::vector<float>& peaks() const { return peaks_; }
    std::vector<float> take() { return std::move(peaks_); }

private:
    std::vector<float> peaks_;
    float max_ = 0;
    int count_ = 0;
};

// One stream whose peaks are missing.
struct PeakJob {
    MediaRef media;
    std::shared_ptr<const platform::Asset> asset;
    platform::StreamInfo stream;
};

// The media of the sound tracks' clips (a clip's own media, else its
// track's), each once in track and clip order, that have no entry in `peaks`
// yet and whose stream is loaded. An empty entry (an unreadable stream) counts
// as present and is not retried.
std::vector<PeakJob> missingPeaks(std::span<const Track> tracks, const MediaSources& sources, const PeakMap& peaks);

} // namespace ondexa
