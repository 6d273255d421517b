#include "Platform/media/ImageGenerator.h"

#include <QTransform>

#include <algorithm>
#include <cmath>

namespace platform {

ImageGenerator::ImageGenerator(const Asset& asset, const StreamInfo& stream)
    // One decoder thread: a thumbnail decodes few frames, and frame threads
    // would decode several ahead before handing out the first.
    : reader_(asset, stream, FrameReader::Options{1, nullptr})
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

    // Displayed size: pixel aspect, then rotation.
    const double width = frame.image.width() * info.pixelAspect;
    const double height = frame.image.height();
    const bool quarter = info.rotation % 180 != 0;
    const double shownWidth = quarter ? height : width;
    const double shownHeight = quarter ? width : height;
    double scale = 1.0;
    if (maximumSize_.width() > 0 && maximumSize_.height() > 0)
        scale = std::min({maximumSize_.width() / shownWidth, maximumSize_.height() / shownHeight, 1.0});
    // Scaled before turning, so the turn moves fewer pixels.
    const int w = std::max(1, static_cast<int>(std::lround(width * scale)));
    const int h = std::max(1, static_cast<int>(std::lround(height * scale)));
    QImage image = (w == frame.image.width() && h == frame.image.height())
                       ? frame.image
                       : frame.image.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (info.rotation != 0) image = image.transformed(QTransform().rotate(info.rotation));
    return image;
}

} // namespace platform
