#pragma once

#include "Platform/media/MediaTime.h"

#include <QSize>
#include <QSizeF>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

enum class StreamKind { video, audio, image };

// What a media file tells about one of its streams.
struct StreamInfo {
    StreamKind kind = StreamKind::video;
    int fileIndex = -1;          // the stream's index in the container
    int trackId = 0;             // the container's track id (MOV), else index + 1
    TimeRange timeRange;         // on the file's timeline; a still picture: from 0, indefinite
    std::string name;            // the stored track name (title, else handler name); may be empty
    std::string codec;           // FFmpeg's codec name, for messages

    // Pictures (video and image).
    QSize naturalSize;           // coded size in pixels
    int rotation = 0;            // clockwise degrees to turn for display: 0, 90, 180 or 270
    bool mirrored = false;       // flipped left to right for display, before the turn
    double pixelAspect = 1.0;    // width of a pixel relative to its height
    double nominalFrameRate = 0; // frames per second; 30 when the file names none

    // Sound.
    int sampleRate = 0;
    int channels = 0;

    // The picture as displayed: pixel aspect and rotation applied.
    QSizeF displaySize() const;
    // |width / height| of the displayed picture; 16/9 when that is not a number.
    double aspect() const;
    // One frame at the nominal rate.
    MediaTime nominalFrameDuration() const;
};

// An opened media file: its video and sound streams, or a still picture.
// Immutable once opened; share it freely between threads and readers.
class Asset {
public:
    // Opens and probes the file. Throws MediaError with a Hungarian sentence
    // when it is missing, unreadable or no media; never hangs on a stalled read.
    // While an asset of the same path and content (size, modification time)
    // lives, that one is returned; the readers made from an asset take over
    // the file this probe opened. Takes as long as the file asks (seconds for
    // a damaged movie): call it off the main thread.
    static std::shared_ptr<const Asset> open(const std::filesystem::path& path);

    const std::filesystem::path& path() const { return path_; }
    // Distinguishes this file's content from a later one at the same path
    // (path, size and modification time); frame caches key on it.
    const std::string& identity() const { return identity_; }

    // The bytes of the file that hold the media, from its start: a movie cut
    // inside a box is read up to its last whole box. Zero: the whole file.
    std::uint64_t readableBytes() const { return readableBytes_; }

    bool isStillImage() const { return image_.has_value(); }
    // Video streams in ascending track id order (empty for a still picture).
    const std::vector<StreamInfo>& videoStreams() const { return video_; }
    // Sound streams in ascending track id order.
    const std::vector<StreamInfo>& audioStreams() const { return audio_; }
    // The one picture of a still image file.
    const std::optional<StreamInfo>& image() const { return image_; }
    // The end of the longest stream; zero for a still picture.
    MediaTime duration() const;

private:
    Asset() = default;
    static std::shared_ptr<const Asset> openAnew(const std::filesystem::path& path);
    static std::shared_ptr<const Asset> probe(const std::filesystem::path& path, std::uint64_t byteLimit);

    std::filesystem::path path_;
    std::string identity_;
    std::uint64_t readableBytes_ = 0;
    std::vector<StreamInfo> video_;
    std::vector<StreamInfo> audio_;
    std::optional<StreamInfo> image_;
};

} // namespace platform
