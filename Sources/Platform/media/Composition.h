#pragma once

#include "Platform/media/Asset.h"
#include "Platform/media/MediaTime.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

// What a player or an export plays: video and sound tracks, each a sequence
// of segments laid end to end from time zero. A segment shows a time range of
// one stream of one source file, or nothing (an empty range).
//
// Built on one thread; once handed to a player item or an export (as
// shared_ptr<const Composition>) it no longer changes and is read from any
// thread.
class Composition {
public:
    enum class TrackKind { video, sound };

    struct Segment {
        std::shared_ptr<const Asset> asset;  // null: an empty range
        StreamInfo stream;                   // the source stream; unused when empty
        TimeRange source;                    // on the file's timeline; unused when empty
        TimeRange target;                    // on the composition's timeline

        bool isEmpty() const { return !asset; }
        // The source time that plays at composition time `t`. A scaled
        // segment (source and target durations differ) maps linearly.
        MediaTime sourceTime(const MediaTime& t) const;
    };

    struct Track {
        std::int32_t id = 0;
        TrackKind kind = TrackKind::video;
        std::vector<Segment> segments;  // contiguous and in time order from zero

        // The target end of the last segment; zero without segments.
        MediaTime end() const;
        // The segment (possibly an empty range) whose target holds `t`;
        // null before zero and from the end on.
        const Segment* segmentAt(const MediaTime& t) const;
    };

    Composition() = default;

    // Adds a track without segments and returns its id: `preferredId` when
    // it is positive and not taken, else a fresh one.
    std::int32_t addTrack(TrackKind kind, std::int32_t preferredId = 0);
    // Removes a track; an unknown id changes nothing.
    void removeTrack(std::int32_t id);

    const std::vector<Track>& tracks() const { return tracks_; }
    // The track with this id, or null.
    const Track* track(std::int32_t id) const;

    // Inserts `sourceRange` of `stream` (a stream of `asset`: a video or
    // still picture on a video track, sound on a sound track) into track
    // `trackId` at `at`. What lay from `at` on moves later by the range's
    // duration; a track that ends before `at` gets an empty range up to it.
    // Throws MediaError for an unknown track, a stream of the wrong kind, or
    // a range or time that is not a finite, non-empty span from zero on.
    void insertTimeRange(std::int32_t trackId, std::shared_ptr<const Asset> asset, const StreamInfo& stream,
                         const TimeRange& sourceRange, const MediaTime& at);
    // Inserts an empty range; what lay from its start on moves later.
    void insertEmptyTimeRange(std::int32_t trackId, const TimeRange& range);
    // Stretches (or squeezes) what video track `trackId` shows in `range` to
    // last `duration`; what follows moves accordingly. Sound can't be
    // stretched: a sound track throws MediaError, as do empty spans.
    void scaleTimeRange(std::int32_t trackId, const TimeRange& range, const MediaTime& duration);

    // The end of the longest track; zero without tracks.
    MediaTime duration() const;

private:
    Track& editable(std::int32_t id);

    std::vector<Track> tracks_;
    std::int32_t nextId_ = 1;
};

} // namespace platform
