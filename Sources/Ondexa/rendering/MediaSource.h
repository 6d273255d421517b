#pragma once

// One media file that the timeline refers to, opened once per editor: its
// video streams with their spans and displayed aspects, its sound streams, or
// a still picture. Everything the builders, peaks and thumbnails need without
// opening the file again.

#include "Ondexa/model/Timeline.h"
#include "Platform/media/Asset.h"
#include "Platform/media/MediaTime.h"

#include <QImage>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace ondexa {

struct MediaSource {
    struct VideoStream {
        platform::StreamInfo stream;
        platform::TimeRange range;  // on the file's timeline
        double aspect = 16.0 / 9.0; // width / height as displayed (rotation applied)
    };
    struct AudioStream {
        platform::StreamInfo stream;
        platform::TimeRange range;
    };

    std::shared_ptr<const platform::Asset> asset;  // null for a still picture
    std::vector<VideoStream> video;                // ascending track id: 0 the screen, 1 the camera
    std::vector<AudioStream> audio;                // ascending track id
    QImage image;                                  // the still picture; null for a movie or sound file

    bool isStill() const { return !image.isNull(); }
    // The largest nominal frame rate of the video streams; 0 without any.
    double frameRate() const;
    // Whether the file holds the stream `media` names: a video or sound
    // stream at its index, or the still of an image; never an effects track.
    bool holds(const MediaRef& media) const;
};

// The media a clip shows: its own, else its track's.
inline MediaRef mediaOf(const Clip& clip, const Track& track)
{
    return clip.media ? *clip.media : track.media;
}

// Loaded sources by path, exactly as the MediaRefs hold it.
using MediaSources = std::unordered_map<std::string, MediaSource>;

// The most pixels a still may have: 256 MiB of 4-byte pixels, 8192 × 8192.
inline constexpr qint64 kMaxStillPixels = qint64(8192) * 8192;

// Opens `file`: a picture the image reader can decode (unless it ends in
// .mov, .mp4 or .m4v, in any case) becomes a still; anything else is probed
// as a movie or sound file. None when it is neither; for a picture named as
// a movie and for one larger than kMaxStillPixels, `why` then gets a
// sentence for the user. Blocks on the file: call it off the main thread.
std::optional<MediaSource> loadMediaSource(const std::filesystem::path& file, std::string* why = nullptr);

// The editor's frame rate after loading `source`: 60 when a video stream runs
// faster than 45 frames per second, else `current` (never lowered).
int raisedFrameRate(int current, const MediaSource& source);

} // namespace ondexa
