#include "Platform/media/YuvFrame.h"

#include "Platform/media/BgraConversion.h"

#include <new>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace platform {

YuvFrame::YuvFrame(const AVFrame& frame) : frame_(av_frame_alloc())
{
    if (!frame_ || av_frame_ref(frame_, &frame) < 0) {
        av_frame_free(&frame_);
        throw std::bad_alloc();
    }
}

YuvFrame::~YuvFrame()
{
    av_frame_free(&frame_);
}

bool YuvFrame::fits(const AVFrame& frame, int colorspace, QSize size)
{
    return frame.format == AV_PIX_FMT_YUV420P && frame.color_range != AVCOL_RANGE_JPEG &&
           colorspace == SWS_CS_ITU709 && frame.width == size.width() && frame.height == size.height() &&
           frame.buf[0] != nullptr;
}

QSize YuvFrame::size() const
{
    return {frame_->width, frame_->height};
}

std::size_t YuvFrame::bytes() const
{
    std::size_t total = 0;
    for (const AVBufferRef* buf : frame_->buf)
        if (buf) total += buf->size;
    return total;
}

int YuvFrame::toBgra(BgraConverter& converter, QRect rect, std::uint8_t* target) const
{
    if (rect == QRect(QPoint(0, 0), size())) return converter.convert(*frame_, SWS_CS_ITU709, target);
    if (rect.isEmpty() || !QRect(QPoint(0, 0), size()).contains(rect) || rect.x() % 2 || rect.y() % 2 ||
        rect.width() % 2 || rect.height() % 2)
        return AVERROR(EINVAL);
    // The rectangle as a picture of its own: its planes start inside the whole one's.
    AVFrame part = *frame_;
    part.width = rect.width();
    part.height = rect.height();
    part.data[0] = frame_->data[0] + std::ptrdiff_t(rect.y()) * frame_->linesize[0] + rect.x();
    for (int plane : {1, 2})
        part.data[plane] = frame_->data[plane] + std::ptrdiff_t(rect.y() / 2) * frame_->linesize[plane] + rect.x() / 2;
    return converter.convert(part, SWS_CS_ITU709, target);
}

} // namespace platform
