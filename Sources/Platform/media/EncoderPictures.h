#pragma once

// Internal to the media layer: a compositor's output frames made into the
// pictures the export's video encoders take (BT.709 limited-range yuv420p).

#include "Platform/media/EncoderSupport.h"
#include "Platform/media/VideoCompositing.h"

extern "C" {
#include <libavutil/buffer.h>
}

#include <QSize>

#include <array>
#include <map>
#include <memory>

namespace platform {

// A frame drawn in BGRA is converted whole; a frame composed over an
// undecoded source picture is that picture, with only the part drawn over it
// converted and written in. One thread at a time.
class EncoderPictures {
public:
    explicit EncoderPictures(QSize size) : size_(size) {}

    // The picture of a composed result. Throws MediaError (or bad_alloc).
    encodersupport::FramePtr picture(const FrameRequest::Result& result);

private:
    encodersupport::FramePtr converted(const QImage& image);
    encodersupport::FramePtr overBase(const YuvFrame& base, const QImage& image, QPoint origin);
    SwsContext* scalerFor(QSize from, QSize to);
    void allocate(AVFrame* frame);

    struct PoolDeleter {
        void operator()(AVBufferPool* pool) const { av_buffer_pool_uninit(&pool); }
    };

    QSize size_;
    std::map<std::array<int, 4>, encodersupport::ScalerPtr> scalers_;  // by source and target width and height
    std::unique_ptr<AVBufferPool, PoolDeleter> buffers_;               // of whole pictures
};

} // namespace platform
