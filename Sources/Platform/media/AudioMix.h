#pragma once

#include "Platform/media/MediaTime.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

// Processing of one sound track's samples after its volume, before the
// tracks are summed (a maximizer, for example). One tap per track: it keeps
// its own state between blocks. All three calls come from the one thread
// that mixes (the player's audio thread, or the thread of an offline mix),
// in the order prepare, process…, unprepare; prepare may come again after
// unprepare (a seek, or the tap's mix being used again).
class AudioTap {
public:
    virtual ~AudioTap() = default;

    // The format of the blocks to come: interleaved 32-bit float at
    // `sampleRate` with `channels` channels, at most `maxFrames` per block.
    virtual void prepare(int sampleRate, int channels, int maxFrames) = 0;
    // `frames` interleaved frames, changed in place.
    virtual void process(float* samples, int frames) = 0;
    // No block follows until the next prepare.
    virtual void unprepare() {}
};

// How the sound tracks of a composition are mixed: per track, its volume over
// time and an optional tap. A track without parameters plays at volume 1.
//
// Built on one thread; once handed to a player item or a mix (as
// shared_ptr<const AudioMix>) it no longer changes. Its taps are then used by
// that one mixing thread.
class AudioMix {
public:
    class TrackParameters {
    public:
        explicit TrackParameters(std::int32_t trackId) : trackId_(trackId) {}

        std::int32_t trackId() const { return trackId_; }

        // From `at` on the volume is `volume` (1 is unchanged, 0 silent)
        // until the next change. Before the first change it is 1. Changes
        // at the same time apply in the order made, so the last one wins.
        void setVolume(float volume, const MediaTime& at);
        // Within `range` the volume moves linearly from `from` to `to`;
        // afterwards it stays `to` until the next change. Throws MediaError
        // for a range that is not a finite, non-empty span.
        void setVolumeRamp(float from, float to, const TimeRange& range);

        // The volume at `seconds`.
        float volumeAt(double seconds) const;
        // Multiplies `frames` interleaved frames whose first lies at frame
        // index `firstFrame` of `sampleRate` (frame n at n / sampleRate s)
        // by the volume at each frame's time.
        void applyVolume(float* samples, int channels, std::int64_t firstFrame, int frames, int sampleRate) const;
        bool hasVolumeChanges() const { return !events_.empty(); }

        // Runs on the track's samples after the volume; null for none.
        std::shared_ptr<AudioTap> tap;

    private:
        struct Event {
            double start = 0;  // seconds
            double end = 0;    // seconds; equal to start for a set
            float from = 1;
            float to = 1;
        };

        std::int32_t trackId_;
        std::vector<Event> events_;  // ascending by start, equal starts in the order made
    };

    // The parameters of `trackId`, made on first use.
    TrackParameters& parameters(std::int32_t trackId);
    // The parameters of `trackId`, or null.
    const TrackParameters* find(std::int32_t trackId) const;
    const std::vector<TrackParameters>& tracks() const { return tracks_; }

private:
    std::vector<TrackParameters> tracks_;
};

} // namespace platform
