#pragma once

// Filmstrip pictures of the video streams and stills that the timeline shows:
// at most 600 a stream (one every 0.5 s for shorter ones), 240 pixels on the
// longer side, made 30 at a time so the first ones show early.

#include "Ondexa/model/Timeline.h"
#include "Ondexa/rendering/MediaSource.h"
#include "Platform/media/Asset.h"
#include "Platform/media/MediaTime.h"

#include <QImage>

#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

namespace ondexa {

inline constexpr int thumbnailSide = 240;
inline constexpr int thumbnailBatch = 30;

struct Thumbnail {
    double time = 0;  // the requested time within the media file; 0 for a still
    QImage image;     // at most thumbnailSide on its longer side
};

using ThumbnailMap = std::unordered_map<MediaRef, std::vector<Thumbnail>>;

// The requested times of a stream spanning `range`, in batches of 30, and the
// tolerance either side of each (half a step).
struct ThumbnailPlan {
    std::vector<std::vector<double>> batches;
    double tolerance = 0;
};
ThumbnailPlan planThumbnails(const platform::TimeRange& range);

// One picture per time that could be decoded from `stream` (the referenced
// stream, not the file's first), taking any frame within `tolerance`.
// Blocks: call it off the main thread.
std::vector<Thumbnail> makeThumbnails(const platform::Asset& asset, const platform::StreamInfo& stream,
                                      std::span<const double> times, double tolerance);

// The one thumbnail of a still picture at time 0, scaled down to fit 240
// pixels (never up); none for a null picture.
std::optional<Thumbnail> stillThumbnail(const QImage& image);

// Adds what one job made of `media` to its entry; false when nothing
// changed. A still that gave no picture gets no entry, so that a later call
// tries again; a stream has its entry from its first batch on, even an empty one.
bool addThumbnails(ThumbnailMap& thumbnails, const MediaRef& media, std::vector<Thumbnail> made);

// One stream or still whose thumbnails are missing. A still has `still` set
// and no batches.
struct ThumbnailJob {
    MediaRef media;
    std::shared_ptr<const platform::Asset> asset;  // null for a still
    platform::StreamInfo stream;
    QImage still;
    ThumbnailPlan plan;
};

// The media of the picture tracks' clips (a clip's own media, else its
// track's), each once in track and clip order, that have no entry in
// `thumbnails` yet, are loaded and have something to show (a zero-length
// stream has not).
std::vector<ThumbnailJob> missingThumbnails(std::span<const Track> tracks, const MediaSources& sources,
                                            const ThumbnailMap& thumbnails);

} // namespace ondexa
