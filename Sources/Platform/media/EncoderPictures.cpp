#include "Platform/media/EncoderPictures.h"

#include "Platform/media/MediaError.h"

#include <QImage>

#include <bit>
#include <cstring>
#include <vector>

namespace platform {

using namespace encodersupport;

namespace {

static_assert(std::endian::native == std::endian::little, "QImage's 32-bit formats are taken as B, G, R, A bytes");

constexpr const char* kConversionError = "A kép nem alakítható át a videó kódolóhoz.";

// Sizes of the parts drawn over undecoded pictures whose scalers are kept;
// an edit's overlays come in few sizes, a moving one in many.
constexpr std::size_t kKeptScalers = 8;

QImage opaqueRgb(const QImage& image)
{
    if (image.format() == QImage::Format_ARGB32_Premultiplied || image.format() == QImage::Format_RGB32 ||
        image.format() == QImage::Format_ARGB32)
        return image;
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

FramePtr EncoderPictures::picture(const FrameRequest::Result& result)
{
    if (!result.base) {
        if (result.image.isNull()) throw MediaError(kConversionError);
        return converted(result.image);
    }
    return overBase(*result.base, result.image, result.origin);
}

SwsContext* EncoderPictures::scalerFor(QSize from, QSize to)
{
    const std::array<int, 4> key{from.width(), from.height(), to.width(), to.height()};
    auto found = scalers_.find(key);
    if (found == scalers_.end()) {
        if (scalers_.size() >= kKeptScalers) scalers_.clear();
        ScalerPtr scaler;
        // Each compositor's frames are converted on its own thread already.
        resetScaler(scaler, from.width(), from.height(), to.width(), to.height(), 1);
        found = scalers_.emplace(key, std::move(scaler)).first;
    }
    return found->second.get();
}

void EncoderPictures::allocate(AVFrame* frame)
{
    // Rows with room past their end for the scaler's vector stores; the
    // buffers come back to the pool once the encoder lets go of them, so
    // that no frame's memory has to be mapped and cleared anew.
    constexpr int kAlign = 64;
    const auto rowOf = [](int width) { return (width + 2 * kAlign - 1) / kAlign * kAlign; };
    const int luma = rowOf(size_.width());
    const int chroma = rowOf(size_.width() / 2);
    const std::size_t lumaBytes = std::size_t(luma) * std::size_t(size_.height());
    const std::size_t chromaBytes = std::size_t(chroma) * std::size_t(size_.height() / 2);
    if (!buffers_) {
        buffers_.reset(av_buffer_pool_init(lumaBytes + 2 * chromaBytes + kAlign, nullptr));
        if (!buffers_) throw std::bad_alloc();
    }
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = size_.width();
    frame->height = size_.height();
    tagBt709(frame);
    frame->buf[0] = av_buffer_pool_get(buffers_.get());
    if (!frame->buf[0]) throw std::bad_alloc();
    std::uint8_t* data = frame->buf[0]->data;
    frame->data[0] = data;
    frame->data[1] = data + lumaBytes;
    frame->data[2] = data + lumaBytes + chromaBytes;
    frame->linesize[0] = luma;
    frame->linesize[1] = frame->linesize[2] = chroma;
}

FramePtr EncoderPictures::converted(const QImage& image)
{
    const QImage source = opaqueRgb(image);
    SwsContext* scaler = scalerFor(source.size(), size_);
    FramePtr frame(checkedAlloc(av_frame_alloc()));
    allocate(frame.get());
    const std::uint8_t* in[4] = {source.constBits(), nullptr, nullptr, nullptr};
    const int inStride[4] = {int(source.bytesPerLine()), 0, 0, 0};
    check(sws_scale(scaler, in, inStride, 0, source.height(), frame->data, frame->linesize), kConversionError);
    return frame;
}

FramePtr EncoderPictures::overBase(const YuvFrame& base, const QImage& image, QPoint origin)
{
    const AVFrame& from = base.frame();
    if (from.format != AV_PIX_FMT_YUV420P || from.width != size_.width() || from.height != size_.height())
        throw MediaError(kConversionError);
    FramePtr frame(checkedAlloc(av_frame_alloc()));
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = size_.width();
    frame->height = size_.height();
    tagBt709(frame.get());
    if (image.isNull()) {
        // The decoder's planes themselves, without its frame's other
        // properties (its picture type would steer the encoder).
        for (int i = 0; i < AV_NUM_DATA_POINTERS; ++i) {
            if (from.buf[i]) frame->buf[i] = checkedAlloc(av_buffer_ref(from.buf[i]));
            frame->data[i] = from.data[i];
            frame->linesize[i] = from.linesize[i];
        }
        return frame;
    }
    const QRect area(origin, image.size());
    if (!QRect(QPoint(0, 0), size_).contains(area) || area.x() % 2 || area.y() % 2 || area.width() % 2 ||
        area.height() % 2)
        throw MediaError(kConversionError);
    frame.reset(checkedAlloc(av_frame_alloc()));
    allocate(frame.get());
    check(av_frame_copy(frame.get(), &from), kConversionError);
    // Converted apart and copied in: the scaler's vector stores may run past
    // the end of a row, over the picture beside the part.
    FramePtr part(checkedAlloc(av_frame_alloc()));
    part->format = AV_PIX_FMT_YUV420P;
    part->width = area.width();
    part->height = area.height();
    check(av_frame_get_buffer(part.get(), 0), kConversionError);
    const QImage source = opaqueRgb(image);
    const std::uint8_t* in[4] = {source.constBits(), nullptr, nullptr, nullptr};
    const int inStride[4] = {int(source.bytesPerLine()), 0, 0, 0};
    check(sws_scale(scalerFor(area.size(), area.size()), in, inStride, 0, area.height(), part->data, part->linesize),
          kConversionError);
    // Where nothing is drawn the source stays as decoded: each row takes the
    // converted samples from its first drawn pixel to its last (a chroma row
    // those of its two rows).
    const bool everywhere = image.format() != QImage::Format_ARGB32;
    std::vector<std::pair<int, int>> spans(std::size_t(area.height()), {0, area.width()});
    if (!everywhere) {
        for (int y = 0; y < area.height(); ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            int first = 0, end = area.width();
            while (first < end && qAlpha(row[first]) == 0) ++first;
            while (end > first && qAlpha(row[end - 1]) == 0) --end;
            spans[std::size_t(y)] = {first, end};
        }
    }
    for (int plane = 0; plane < 3; ++plane) {
        const int shift = plane == 0 ? 0 : 1;
        std::uint8_t* to = frame->data[plane] + std::ptrdiff_t(area.y() >> shift) * frame->linesize[plane] +
                           (area.x() >> shift);
        for (int y = 0; y < area.height() >> shift; ++y) {
            auto [first, end] = spans[std::size_t(y << shift)];
            if (shift) {
                const auto [first2, end2] = spans[std::size_t((y << 1) + 1)];
                if (first >= end) {
                    first = first2;
                    end = end2;
                } else if (first2 < end2) {
                    first = std::min(first, first2);
                    end = std::max(end, end2);
                }
                first >>= 1;
                end = (end + 1) >> 1;
            }
            if (first >= end) continue;
            std::memcpy(to + std::ptrdiff_t(y) * frame->linesize[plane] + first,
                        part->data[plane] + std::ptrdiff_t(y) * part->linesize[plane] + first, std::size_t(end - first));
        }
    }
    return frame;
}

} // namespace platform
