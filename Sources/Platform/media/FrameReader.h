#pragma once

#include "Platform/media/Asset.h"
#include "Platform/media/DrawnSize.h"
#include "Platform/media/FrameCache.h"
#include "Platform/media/MediaTime.h"
#include "Platform/media/SourceFiles.h"

#include <QSize>

#include <memory>

namespace platform {

// Decodes the pictures of one video stream (or the one picture of a still
// image) as premultiplied ARGB32, converted with the stream's own colour
// matrix and range, and turned and mirrored as its display matrix asks.
// Reading forward continues the decoder; a jump back, or past a key frame,
// seeks to the key frame before the target and decodes forward, so every
// answer is exact. One thread at a time per reader.
class FrameReader {
public:
    struct Options {
        int threads = 0;                    // decoder threads; 0 lets FFmpeg choose
        std::shared_ptr<FrameCache> cache;  // optional, may be shared between readers
        // Pictures of this size that an encoder of it takes as they are
        // (YuvFrame::fits, shown as stored) come in VideoFrame::yuv,
        // unconverted. Empty: every picture is converted.
        QSize keepYuvAt;
    };

    // Takes over the file as the asset's probe or an earlier reader left it,
    // or opens it again when none is free; or takes its packets from the
    // file's demuxer in `files` (may be null). Throws MediaError.
    FrameReader(const Asset& asset, const StreamInfo& stream, Options options,
                const std::shared_ptr<SourceFiles>& files = {});
    FrameReader(const Asset& asset, const StreamInfo& stream);
    ~FrameReader();
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;

    // The frame showing at `t`: the one whose [time, time + duration) holds
    // it. Before the first frame gives the first, past the last the last.
    // With a size, the picture comes scaled to it (upright, as drawn).
    // Throws MediaError when the stream yields no picture.
    VideoFrame frameAt(const MediaTime& t, const DrawnSize& size = {});
    // Some frame showing within [t - before, t + after], chosen to need as
    // little decoding as possible (a key frame in the window, or the frame
    // the decoder already holds); exact when both tolerances are zero.
    VideoFrame frameNear(const MediaTime& t, const MediaTime& before, const MediaTime& after);

    const StreamInfo& stream() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace platform
