#pragma once

// Internal to the reading half of the media layer: where a reader of one
// stream takes its packets from. Either a demuxer of its own, or a place at a
// demuxer shared with the readers of the file's other streams (SourceFiles).

#include "Platform/media/ReadSupport.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class Asset;
class SourceFiles;

namespace readsupport {

class SharedDemuxer;

// Packets of one stream of a file, in decoding order from the last seek on.
// The calls mirror Demuxer's, so that a reader uses either alike. One thread
// at a time per source; sources of one shared demuxer may be on any threads.
class PacketSource {
public:
    // `files` may be null: the file is opened for this source alone.
    PacketSource(const Asset& asset, SourceFiles* files);
    ~PacketSource();
    PacketSource(const PacketSource&) = delete;
    PacketSource& operator=(const PacketSource&) = delete;

    // The stream parameters; read-only (the shared demuxer moves on meanwhile).
    const AVFormatContext* context() const;
    AVStream* stream(int index) const;
    const std::filesystem::path& path() const { return path_; }
    bool isImageFormat() const;
    bool isMovFamily() const;
    // Done once per file; a shared file has it done when opened.
    void findStreamInfo();
    CodecContextPtr openDecoder(int streamIndex, int threads) const;

    // Chooses the stream whose packets this source hands out.
    void keepOnly(int streamIndex);
    // The next packet of the stream: 0, AVERROR_EOF or another error.
    int readPacket(AVPacket* packet);
    // To the key frame at or before `ticks` of the stream; the FFmpeg result.
    int seekBackward(int streamIndex, std::int64_t ticks);
    // To the start of the file (the last resort when seeking by time fails).
    int seekToFileStart(int streamIndex);
    // The time stamp of the indexed key frame at or before `ticks`, if any.
    std::optional<std::int64_t> keyFrameAtOrBefore(std::int64_t ticks) const;

private:
    friend class SharedDemuxer;

    // This source's share of a shared demuxer, guarded by that demuxer's lock.
    struct Place {
        int stream = -1;
        std::deque<PacketPtr> queue;       // read for it and not yet taken
        std::size_t queuedBytes = 0;
        bool following = false;            // takes its packets from the shared read position
        std::int64_t taken = AV_NOPTS_VALUE;  // decoding stamp of the last packet handed out
        std::int64_t last = AV_NOPTS_VALUE;   // of the last packet queued or handed out
        // Packets dropped on the way back in: before the key frame sought
        // (keyFrom), or up to the last one it already has (skipThrough).
        std::int64_t keyFrom = AV_NOPTS_VALUE;
        std::int64_t skipThrough = AV_NOPTS_VALUE;
        std::int64_t sought = AV_NOPTS_VALUE;  // the target of its last seek; before one, the stream's start
        int ended = 0;                     // the read error met while following, once the queue is empty
        const PacketSource* displacedBy = nullptr;  // whose seek took the shared position away from it
        bool evicted = false;  // took the position from others who came back: reads on alone
    };

    bool passes(const AVPacket* packet);
    int readOwn(AVPacket* packet);
    int goOwn(std::int64_t ticks, bool resume);

    std::filesystem::path path_;
    std::uint64_t readableBytes_ = 0;  // what of the file the asset found whole (0: all)
    std::string identity_;             // the asset's content, for demuxers of its own
    std::shared_ptr<SharedDemuxer> shared_;  // null: `own_` only
    // The shared demuxer left behind, kept open: the reader still reads its
    // stream's parameters (time base, start) from there.
    std::shared_ptr<SharedDemuxer> left_;
    std::unique_ptr<Demuxer> own_;           // a demuxer of its own, alone or after leaving the shared one
    Place place_;
};

} // namespace readsupport
} // namespace platform
