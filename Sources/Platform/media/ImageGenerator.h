#pragma once

#include "Platform/media/Asset.h"
#include "Platform/media/FrameReader.h"
#include "Platform/media/MediaTime.h"

#include <QImage>
#include <QSize>

#include <memory>

namespace platform {

// Pictures of one video stream or still image at chosen times, turned as the
// file asks for display and scaled down to fit a maximum size (never up),
// for thumbnails and previews. One thread at a time per generator.
class ImageGenerator {
public:
    // Throws MediaError when the file cannot be opened again.
    ImageGenerator(const Asset& asset, const StreamInfo& stream);
    ~ImageGenerator();

    // Fit within this box, keeping the aspect; an empty size means no limit.
    void setMaximumSize(QSize size) { maximumSize_ = size; }
    // Any frame showing within [t - before, t + after] will do; zero asks
    // for the exact frame (the default).
    void setTolerance(MediaTime before, MediaTime after);

    // The picture at `t` as displayed; `actualTime`, when given, receives the
    // time of the frame used. Throws MediaError when no frame can be decoded.
    QImage imageAt(const MediaTime& t, MediaTime* actualTime = nullptr);

private:
    FrameReader reader_;
    QSize maximumSize_;
    MediaTime before_ = MediaTime::zero();
    MediaTime after_ = MediaTime::zero();
};

} // namespace platform
