#pragma once

// Internal to the media layer: a compositor's output frames made into the
// pictures the export's video encoders take (BT.709 limited-range yuv420p).

#include "Platform/media/EncoderSupport.h"
#include "Platform/media/VideoCompositing.h"

#include <QSize>

#include <array>
#include <map>

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

    QSize size_;
    std::map<std::array<int, 4>, encodersupport::ScalerPtr> scalers_;  // by source and target width and height
};

} // namespace platform
