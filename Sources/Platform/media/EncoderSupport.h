#pragma once

// Internal to the writing half of the media layer (MovieWriter, ExportSession):
// owning handles for FFmpeg encoder objects and the encoder and stream setup
// both share. Not for use outside Platform/media. Helpers throw MediaError.

#include "Platform/media/MediaTime.h"

#include <cstdint>
#include <memory>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace platform::encodersupport {

struct CodecDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct ScalerDeleter {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using ScalerPtr = std::unique_ptr<SwsContext, ScalerDeleter>;

template <typename T>
T* checkedAlloc(T* p)
{
    if (!p) throw std::bad_alloc();
    return p;
}

void check(int rc, const char* sentence);

// value × scale / timescale rounded to nearest.
std::int64_t ticksOf(const MediaTime& t, std::int64_t scale);

// An output context writing through the descriptor `*fd` (the caller's, kept
// open), seeking with `seek` (null: never).
AVIOContext* fileOutput(int* fd, int bufferSize, std::int64_t (*seek)(void*, std::int64_t, int));

// The encoder `name`, not yet opened; `failure` is the sentence if it is missing.
CodecPtr allocEncoder(const char* name, const char* failure);

// BT.709 limited range, as the converted pictures are; for a codec context or a frame.
template <typename T>
void tagBt709(T* x)
{
    x->color_primaries = AVCOL_PRI_BT709;
    x->color_trc = AVCOL_TRC_BT709;
    x->colorspace = AVCOL_SPC_BT709;
    x->color_range = AVCOL_RANGE_MPEG;
}

// Sets up and opens `c` (an AAC encoder) for planar float stereo at `rate`.
void openStereoSound(AVCodecContext* c, int rate, std::int64_t bitsPerSecond, bool globalHeader,
                     const char* failure);

// An input frame of the opened sound encoder `c`, one encoder frame long.
FramePtr soundFrameFor(const AVCodecContext* c, const char* failure);

// A stream of `format` carrying what encoder `c` writes, in its time base.
AVStream* addStream(AVFormatContext* format, const AVCodecContext* c, const char* failure);

// Makes `scaler` convert full-range BGRA of the source size to BT.709
// limited-range yuv420p of the destination size, on `threads` threads (0:
// one per core).
void resetScaler(ScalerPtr& scaler, int sourceWidth, int sourceHeight, int width, int height, int threads);

} // namespace platform::encodersupport
