#include "Platform/media/BgraConversion.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cstdlib>
#include <limits>

namespace platform {

namespace {

// The tail holds one more of libswscale's widest stores past the last row.
constexpr std::size_t kTail = 64;

// The decoders' full-range ("J") formats under their plain names: the range
// is then set explicitly, and FFmpeg does not warn about deprecated formats.
AVPixelFormat withoutJpegRange(AVPixelFormat format, bool& fullRange)
{
    switch (format) {
    case AV_PIX_FMT_YUVJ420P: fullRange = true; return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: fullRange = true; return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: fullRange = true; return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: fullRange = true; return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: fullRange = true; return AV_PIX_FMT_YUV411P;
    default: return format;
    }
}

} // namespace

BgraLayout bgraLayout(int width, int height)
{
    if (width <= 0 || height <= 0) return {};
    const std::size_t line = (std::size_t(width) * 4 + bgraAlignment - 1) / bgraAlignment * bgraAlignment;
    const std::size_t limit = std::size_t(std::numeric_limits<std::ptrdiff_t>::max());
    if (std::size_t(height) > (limit - kTail) / line) return {};
    return {std::ptrdiff_t(line), line * std::size_t(height) + kTail};
}

QImage bgraImage(int width, int height, QImage::Format format)
{
    const BgraLayout layout = bgraLayout(width, height);
    if (layout.bytes == 0) return {};
    auto* data = static_cast<uchar*>(std::aligned_alloc(bgraAlignment, layout.bytes));
    if (!data) return {};
    QImage image(data, width, height, layout.bytesPerLine, format, [](void* p) { std::free(p); }, data);
    if (image.isNull()) std::free(data);  // Qt takes the buffer only with the image
    return image;
}

void BgraConverter::ScalerDeleter::operator()(SwsContext* s) const
{
    sws_freeContext(s);
}

BgraConverter::BgraConverter(BgraSampling sampling) : sampling_(sampling) {}

BgraConverter::~BgraConverter() = default;

int BgraConverter::convert(const AVFrame& frame, int colorspace, std::uint8_t* target)
{
    bool fullRange = frame.color_range == AVCOL_RANGE_JPEG;
    const AVPixelFormat format = withoutJpegRange(AVPixelFormat(frame.format), fullRange);
    const BgraLayout layout = bgraLayout(frame.width, frame.height);
    if (!av_pix_fmt_desc_get(format) || layout.bytes == 0 || layout.bytesPerLine > std::numeric_limits<int>::max())
        return AVERROR(EINVAL);
    if (!scaler_ || frame.width != width_ || frame.height != height_ || format != format_ ||
        fullRange != fullRange_ || colorspace != colorspace_) {
        scaler_.reset();
        std::unique_ptr<SwsContext, ScalerDeleter> scaler(sws_alloc_context());
        if (!scaler) return AVERROR(ENOMEM);
        SwsContext* s = scaler.get();
        av_opt_set_int(s, "srcw", frame.width, 0);
        av_opt_set_int(s, "srch", frame.height, 0);
        av_opt_set_int(s, "src_format", format, 0);
        av_opt_set_int(s, "dstw", frame.width, 0);
        av_opt_set_int(s, "dsth", frame.height, 0);
        av_opt_set_int(s, "dst_format", AV_PIX_FMT_BGRA, 0);
        av_opt_set_int(s, "sws_flags",
                       sampling_ == BgraSampling::smooth ? SWS_BILINEAR
                                                         : SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                       0);
        const int rc = sws_init_context(s, nullptr, nullptr);
        if (rc < 0) return rc;
        sws_setColorspaceDetails(s, sws_getCoefficients(colorspace), fullRange ? 1 : 0,
                                 sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
        scaler_ = std::move(scaler);
        width_ = frame.width;
        height_ = frame.height;
        format_ = format;
        fullRange_ = fullRange;
        colorspace_ = colorspace;
    }
    std::uint8_t* planes[4] = {target, nullptr, nullptr, nullptr};
    const int strides[4] = {int(layout.bytesPerLine), 0, 0, 0};
    const int rows = sws_scale(scaler_.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
    if (rows < 0) return rows;
    return rows == frame.height ? 0 : AVERROR_EXTERNAL;
}

} // namespace platform
