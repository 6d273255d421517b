#include "Platform/media/ImageGenerator.h"

#include <algorithm>
#include <cmath>

namespace platform {

ImageGenerator::ImageGenerator(const Asset& asset, const StreamInfo& stream)
    // One decoder thread: a thumbnail decodes few frames, and frame threads
    // would decode several ahead before handing out the first.
    : reader_(asset, stream, FrameReader::Options{1, nullptr, {}})
{
}

ImageGenerator::~ImageGenerator() = default;

void ImageGenerator::setTolerance(MediaTime before, MediaTime after)
{
    before_ = before.isNumeric() && before > MediaTime(0, 1) ? before : MediaTime::zero();
    after_ = after.isNumeric() && after > MediaTime(0, 1) ? after : MediaTime::zero();
}

QImage ImageGenerator::imageAt(const MediaTime& t, MediaTime* actualTime)
{
    const VideoFrame frame = reader_.frameNear(t, before_, after_);
    if (actualTime) *actualTime = frame.time;
    const StreamInfo& info = reader_.stream();

    // The reader hands out the picture turned as displayed; the pixel aspect
    // stretches the stored width, which a quarter turn made the height.
    const bool quarter = info.rotation % 180 != 0;
    const double width = frame.image.width() * (quarter ? 1.0 : info.pixelAspect);
    const double height = frame.image.height() * (quarter ? info.pixelAspect : 1.0);
    double scale = 1.0;
    if (maximumSize_.width() > 0 && maximumSize_.height() > 0)
        scale = std::min({maximumSize_.width() / width, maximumSize_.height() / height, 1.0});
    const int w = std::max(1, static_cast<int>(std::lround(width * scale)));
    const int h = std::max(1, static_cast<int>(std::lround(height * scale)));
    if (w == frame.image.width() && h == frame.image.height()) return frame.image;
    return frame.image.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace platform
