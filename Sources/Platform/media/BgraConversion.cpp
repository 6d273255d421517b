#include "Platform/media/BgraConversion.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdlib>
#include <limits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

// Rows converted and halved at a time: a band of a 4K picture's rows stays
// in a core's own cache.
constexpr int kBandRows = 16;

// Whether libswscale converts pictures of `format` row by row at their own
// size, so that a band of rows converts as it does in the whole picture: its
// unscaled YUV-to-RGB path, taken at even heights, where a chroma row serves
// one pair of rows at most.
bool convertsRowByRow(AVPixelFormat format, int height, BgraSampling sampling)
{
    return sampling == BgraSampling::smooth && height % 2 == 0 &&
           (format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUV422P);
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

void halveBgra(const std::uint8_t* in, std::ptrdiff_t inStride, int width, int height, std::uint8_t* out,
               std::ptrdiff_t outStride)
{
    const int outWidth = (width + 1) / 2;
    const int outHeight = (height + 1) / 2;
    for (int oy = 0; oy < outHeight; ++oy) {
        const std::uint8_t* a = in + std::ptrdiff_t(2 * oy) * inStride;
        const std::uint8_t* b = in + std::ptrdiff_t(std::min(2 * oy + 1, height - 1)) * inStride;
        std::uint8_t* o = out + std::ptrdiff_t(oy) * outStride;
        int x = 0;
#ifdef __SSE2__
        // Two blocks at a time, summed and rounded as in the plain loop below.
        const __m128i zero = _mm_setzero_si128();
        const __m128i two = _mm_set1_epi16(2);
        for (; 2 * x + 4 <= width; x += 2) {
            const __m128i rowA = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 8 * x));
            const __m128i rowB = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 8 * x));
            const __m128i left = _mm_add_epi16(_mm_unpacklo_epi8(rowA, zero), _mm_unpacklo_epi8(rowB, zero));
            const __m128i right = _mm_add_epi16(_mm_unpackhi_epi8(rowA, zero), _mm_unpackhi_epi8(rowB, zero));
            __m128i sum = _mm_unpacklo_epi64(_mm_add_epi16(left, _mm_srli_si128(left, 8)),
                                             _mm_add_epi16(right, _mm_srli_si128(right, 8)));
            sum = _mm_srli_epi16(_mm_add_epi16(sum, two), 2);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 4 * x), _mm_packus_epi16(sum, sum));
        }
#endif
        for (; x < outWidth; ++x) {
            const int x0 = 2 * x;
            const int x1 = std::min(x0 + 1, width - 1);
            for (int c = 0; c < 4; ++c)
                o[4 * x + c] = std::uint8_t((a[4 * x0 + c] + a[4 * x1 + c] + b[4 * x0 + c] + b[4 * x1 + c] + 2) >> 2);
        }
    }
}

void BgraConverter::ScalerDeleter::operator()(SwsContext* s) const
{
    sws_freeContext(s);
}

void BgraConverter::Buffer::operator()(std::uint8_t* p) const
{
    std::free(p);
}

BgraConverter::BgraConverter(BgraSampling sampling) : sampling_(sampling) {}

BgraConverter::~BgraConverter() = default;

int BgraConverter::convert(const AVFrame& frame, int colorspace, std::uint8_t* target)
{
    return whole_.convert(frame, colorspace, target, sampling_);
}

int BgraConverter::Scaler::convert(const AVFrame& frame, int space, std::uint8_t* target, BgraSampling sampling)
{
    bool range = frame.color_range == AVCOL_RANGE_JPEG;
    const AVPixelFormat pixels = withoutJpegRange(AVPixelFormat(frame.format), range);
    const BgraLayout layout = bgraLayout(frame.width, frame.height);
    if (!av_pix_fmt_desc_get(pixels) || layout.bytes == 0 || layout.bytesPerLine > std::numeric_limits<int>::max())
        return AVERROR(EINVAL);
    if (!context || frame.width != width || frame.height != height || pixels != format || range != fullRange ||
        space != colorspace) {
        context.reset();
        std::unique_ptr<SwsContext, ScalerDeleter> scaler(sws_alloc_context());
        if (!scaler) return AVERROR(ENOMEM);
        SwsContext* s = scaler.get();
        av_opt_set_int(s, "srcw", frame.width, 0);
        av_opt_set_int(s, "srch", frame.height, 0);
        av_opt_set_int(s, "src_format", pixels, 0);
        av_opt_set_int(s, "dstw", frame.width, 0);
        av_opt_set_int(s, "dsth", frame.height, 0);
        av_opt_set_int(s, "dst_format", AV_PIX_FMT_BGRA, 0);
        av_opt_set_int(s, "sws_flags",
                       sampling == BgraSampling::smooth ? SWS_BILINEAR
                                                        : SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                       0);
        const int rc = sws_init_context(s, nullptr, nullptr);
        if (rc < 0) return rc;
        sws_setColorspaceDetails(s, sws_getCoefficients(space), range ? 1 : 0, sws_getCoefficients(SWS_CS_DEFAULT),
                                 1, 0, 1 << 16, 1 << 16);
        context = std::move(scaler);
        width = frame.width;
        height = frame.height;
        format = pixels;
        fullRange = range;
        colorspace = space;
    }
    std::uint8_t* planes[4] = {target, nullptr, nullptr, nullptr};
    const int strides[4] = {int(layout.bytesPerLine), 0, 0, 0};
    const int rows = sws_scale(context.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
    if (rows < 0) return rows;
    return rows == frame.height ? 0 : AVERROR_EXTERNAL;
}

int BgraConverter::convertHalved(const AVFrame& frame, int colorspace, std::uint8_t* target)
{
    bool fullRange = frame.color_range == AVCOL_RANGE_JPEG;
    const AVPixelFormat format = withoutJpegRange(AVPixelFormat(frame.format), fullRange);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    const BgraLayout half = bgraLayout((frame.width + 1) / 2, (frame.height + 1) / 2);
    if (!desc || half.bytes == 0) return AVERROR(EINVAL);
    const bool banded = convertsRowByRow(format, frame.height, sampling_) && frame.height > kBandRows;
    const BgraLayout rows = bgraLayout(frame.width, banded ? kBandRows : frame.height);
    if (rows.bytes == 0) return AVERROR(EINVAL);
    if (rowsBytes_ < rows.bytes) {
        rows_.reset(static_cast<std::uint8_t*>(std::aligned_alloc(bgraAlignment, rows.bytes)));
        rowsBytes_ = rows_ ? rows.bytes : 0;
        if (!rows_) return AVERROR(ENOMEM);
    }
    if (!banded) {
        const int rc = whole_.convert(frame, colorspace, rows_.get(), sampling_);
        if (rc < 0) return rc;
        halveBgra(rows_.get(), rows.bytesPerLine, frame.width, frame.height, target, half.bytesPerLine);
        return 0;
    }
    for (int y = 0; y < frame.height; y += kBandRows) {
        const int n = std::min(kBandRows, frame.height - y);
        // The band as a picture of its own: its planes start inside the whole one's.
        AVFrame band = frame;
        band.height = n;
        band.data[0] = frame.data[0] + std::ptrdiff_t(y) * frame.linesize[0];
        for (int plane : {1, 2})
            band.data[plane] = frame.data[plane] + std::ptrdiff_t(y >> desc->log2_chroma_h) * frame.linesize[plane];
        const int rc = (n == kBandRows ? band_ : last_).convert(band, colorspace, rows_.get(), sampling_);
        if (rc < 0) return rc;
        halveBgra(rows_.get(), rows.bytesPerLine, frame.width, n, target + std::ptrdiff_t(y / 2) * half.bytesPerLine,
                  half.bytesPerLine);
    }
    return 0;
}

} // namespace platform
