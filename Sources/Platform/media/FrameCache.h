#pragma once

#include "Platform/media/MediaTime.h"
#include "Platform/media/YuvFrame.h"

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace platform {

// One decoded picture and the span of time it shows.
struct VideoFrame {
    QImage image;        // Format_ARGB32_Premultiplied, upright as displayed, pixel aspect not applied
    MediaTime time;      // presentation time on the file's timeline
    MediaTime duration;  // until the next frame (indefinite for a still picture)
    // Instead of `image`, from a reader asked to keep pictures the encoder takes as they are.
    std::shared_ptr<const YuvFrame> yuv;
};

// Decoded frames, least recently used dropped first once their bytes exceed
// the bound. Thread-safe; several readers of the same or different files may
// share one. Frames are found by a time within their span, in the ticks of
// their stream's time base, and by how often their picture was halved: one
// decoded smaller for drawing small is another entry than the full one.
class FrameCache {
public:
    explicit FrameCache(std::size_t maxBytes);
    FrameCache(const FrameCache&) = delete;
    FrameCache& operator=(const FrameCache&) = delete;

    // The frame of `file`'s stream `stream` at 1 / 2^halvings of its size
    // whose [start, end) holds `ticks`.
    std::optional<VideoFrame> find(const std::string& file, int stream, std::int64_t ticks, int halvings = 0);
    // Stores a frame spanning [start, end) ticks; replaces one with the same start and halvings.
    void insert(const std::string& file, int stream, std::int64_t start, std::int64_t end, const VideoFrame& frame,
                int halvings = 0);

    std::size_t bytes() const;
    std::size_t maxBytes() const;
    void setMaxBytes(std::size_t maxBytes);
    void clear();

private:
    struct StreamKey {
        std::string file;
        int stream;
        int halvings;
        auto operator<=>(const StreamKey&) const = default;
    };
    struct Entry;
    using Lru = std::list<Entry*>;
    struct Entry {
        StreamKey key;
        std::int64_t start;
        std::int64_t end;
        VideoFrame frame;
        std::size_t bytes;
        Lru::iterator lru;
    };

    void erase(std::map<std::int64_t, Entry>& frames, std::map<std::int64_t, Entry>::iterator it);
    void trim();

    mutable std::mutex mutex_;
    std::map<StreamKey, std::map<std::int64_t, Entry>> streams_;  // guarded by mutex_
    Lru lru_;                                                     // most recent first; guarded
    std::size_t bytes_ = 0;                                       // guarded
    std::size_t maxBytes_;                                        // guarded
};

} // namespace platform
