#pragma once

// Internal to the reading half of the media layer: owning handles for FFmpeg
// objects and an opened input file. Not for use outside Platform/media.

#include "Platform/media/MediaTime.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace platform::readsupport {

struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct SwsDeleter {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct SwrDeleter {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;

FramePtr makeFrame();
PacketPtr makePacket();

// Exact media time of `ticks` in time base `tb`.
MediaTime timeOf(std::int64_t ticks, AVRational tb);
// The largest tick of `tb` at or before `t` (so t lies in [tick, tick + 1)).
std::int64_t ticksAtOrBefore(const MediaTime& t, AVRational tb);

// How a file splits into top-level boxes (ISO base media: MOV, MP4).
struct BoxLayout {
    bool isBoxes = false;         // the file starts like a box-structured movie
    std::uint64_t wholeEnd = 0;   // where the last box that the file holds whole ends
    std::string cutType;          // the type of the box cut by the file's end; empty when none
};
// Reads the box headers only. A file that isn't box-structured (or can't be
// read) gives isBoxes false.
BoxLayout topLevelBoxes(const std::filesystem::path& path);

// An input file opened for demuxing. Every blocking call runs under a
// deadline so a stalled read ends with an error instead of hanging.
//
// Opening parses a movie's whole index (seconds for a long or damaged
// fragmented one), so the inputs of demuxers that end are kept for the next
// demuxer of the same file content: a file probed once and then read by
// several readers one after the other is opened once. Readers at the same
// time each have their own input.
class Demuxer {
public:
    // Opens `path`, seeing only its first `byteLimit` bytes when that is not
    // zero (the rest is taken as never written). Throws MediaError for a
    // missing, unreadable or unrecognised file.
    explicit Demuxer(const std::filesystem::path& path, std::uint64_t byteLimit = 0);
    // The same, for a file whose content is `identity` (fileIdentity): takes
    // a kept input of that content when there is one, and keeps its own
    // input for the next such demuxer when it ends. Its position is then
    // anywhere: seek before reading.
    Demuxer(const std::filesystem::path& path, std::uint64_t byteLimit, std::string identity);
    // Keeps the input for the next demuxer of `identity`, once this one ends.
    void share(std::string identity) { identity_ = std::move(identity); }
    // Closes the input or keeps it (see above).
    ~Demuxer();
    Demuxer(const Demuxer&) = delete;
    Demuxer& operator=(const Demuxer&) = delete;

    AVFormatContext* context() const { return ctx_; }
    AVStream* stream(int index) const { return ctx_->streams[index]; }
    const std::filesystem::path& path() const { return path_; }

    // Reads the stream parameters (frame rates, durations). Throws MediaError.
    void findStreamInfo();
    // av_read_frame under a deadline: 0, AVERROR_EOF or another error.
    int readPacket(AVPacket* packet);
    // Seeks `streamIndex` to the key frame at or before `ticks`; returns the
    // FFmpeg result.
    int seekBackward(int streamIndex, std::int64_t ticks);
    // Opens a decoder for the stream. `threads` 0 lets FFmpeg choose.
    CodecContextPtr openDecoder(int streamIndex, int threads) const;

    // Only streams in this list reach readPacket's caller.
    void keepOnly(int streamIndex);

    bool isImageFormat() const;
    bool isMovFamily() const;
    // The bytes the demuxer sees: the file's size, or the limit it was opened with.
    std::int64_t size() const;

    // Files opened (parsed) by demuxers so far in this process.
    static std::uint64_t opens();

private:
    struct LimitedInput;
    struct Pool;
    // When the call under way must give up. On the heap: FFmpeg keeps its
    // address in the input, which outlives this demuxer when kept.
    struct Deadline {
        std::chrono::steady_clock::time_point at;
    };

    void open(std::uint64_t byteLimit);
    bool takeKept(std::uint64_t byteLimit);
    void arm(std::chrono::seconds budget);
    static int interrupted(void* opaque);

    std::filesystem::path path_;
    std::string identity_;                   // the content whose next demuxer gets the input; empty: close it
    std::uint64_t byteLimit_ = 0;
    std::unique_ptr<LimitedInput> limited_;  // our own reading of a file's prefix, else null
    AVFormatContext* ctx_ = nullptr;
    bool infoFound_ = false;
    bool stalled_ = false;  // a deadline ended a call: the input's state is unknown
    std::unique_ptr<Deadline> deadline_ = std::make_unique<Deadline>();
};

// Tells a file's content from a later one at the same path: its path, size
// and modification time.
std::string fileIdentity(const std::filesystem::path& path);

// "„path”" for messages.
std::string quoted(const std::filesystem::path& path);

} // namespace platform::readsupport
