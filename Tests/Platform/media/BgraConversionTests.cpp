// Decoded pictures converted to BGRA: libswscale's writes stay inside the
// buffer it is given, and every pixel of it is converted.

#include "Platform/media/BgraConversion.h"

#include "support/GuardedMemory.h"

#include <QBuffer>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <sstream>
#include <vector>

using ondexa::testing::GuardedMemory;
using platform::BgraConverter;
using platform::BgraSampling;

namespace {

struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

// The widths where libswscale's vector stores run past a tight row (360,
// 1080, 1918) or leave its last pixels alone (34), and every small one.
std::vector<int> widths()
{
    std::vector<int> all;
    for (int w = 1; w <= 80; ++w) all.push_back(w);
    for (int w : {360, 1080, 1366, 1918, 1920, 3840}) all.push_back(w);
    return all;
}
// Even heights take libswscale's unscaled YUV-to-RGB path, odd ones its scaler.
constexpr int kHeights[] = {2, 3};

// One BT.601 colour, (201, 100, 50) in limited range.
constexpr int kY = 123, kCb = 91, kCr = 176;

struct Rgb {
    double r, g, b;
};

Rgb expectedRgb(bool fullRange)
{
    if (fullRange)
        return {kY + 1.402 * (kCr - 128), kY - 0.344136 * (kCb - 128) - 0.714136 * (kCr - 128),
                kY + 1.772 * (kCb - 128)};
    const double y = 1.164383 * (kY - 16);
    return {y + 1.596027 * (kCr - 128), y - 0.391762 * (kCb - 128) - 0.812968 * (kCr - 128),
            y + 2.017232 * (kCb - 128)};
}

// A picture of the colour above in `format` (RGB formats get its limited-range RGB).
FramePtr solidFrame(AVPixelFormat format, int width, int height)
{
    FramePtr f(av_frame_alloc());
    f->format = format;
    f->width = width;
    f->height = height;
    if (av_frame_get_buffer(f.get(), 0) < 0) return nullptr;
    for (AVBufferRef* b : f->buf)
        if (b) std::memset(b->data, 0, b->size);  // the lines below are ORed in
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    const Rgb rgb = expectedRgb(false);
    const bool isRgb = desc->flags & AV_PIX_FMT_FLAG_RGB;
    for (int c = 0; c < desc->nb_components; ++c) {
        const bool chroma = !isRgb && (c == 1 || c == 2);
        const int w = chroma ? AV_CEIL_RSHIFT(width, desc->log2_chroma_w) : width;
        const int h = chroma ? AV_CEIL_RSHIFT(height, desc->log2_chroma_h) : height;
        int value = 255;  // alpha
        if (isRgb && c < 3) value = int(std::lround(c == 0 ? rgb.r : c == 1 ? rgb.g : rgb.b));
        else if (!isRgb && c < 3) value = c == 0 ? kY : c == 1 ? kCb : kCr;
        const std::vector<std::uint16_t> line(std::size_t(w), std::uint16_t(value << (desc->comp[c].depth - 8)));
        for (int y = 0; y < h; ++y) av_write_image_line2(line.data(), f->data, f->linesize, desc, 0, y, c, w, 2);
    }
    return f;
}

// A JPEG of the colour above decoded as a webcam's MJPEG is (full range).
FramePtr decodedJpeg(int width, int height)
{
    const Rgb rgb = expectedRgb(false);
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(qRgb(int(std::lround(rgb.r)), int(std::lround(rgb.g)), int(std::lround(rgb.b))));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "JPG", 95)) return nullptr;
    bytes.append(QByteArray(AV_INPUT_BUFFER_PADDING_SIZE, '\0'));

    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    AVCodecContext* c = avcodec_alloc_context3(codec);
    AVPacket* packet = av_packet_alloc();
    FramePtr f(av_frame_alloc());
    packet->data = reinterpret_cast<std::uint8_t*>(bytes.data());
    packet->size = int(bytes.size()) - AV_INPUT_BUFFER_PADDING_SIZE;
    const bool ok = avcodec_open2(c, codec, nullptr) == 0 && avcodec_send_packet(c, packet) == 0 &&
                    avcodec_receive_frame(c, f.get()) == 0;
    av_packet_free(&packet);
    avcodec_free_context(&c);
    return ok ? std::move(f) : nullptr;
}

// Converts `frame` into a buffer that ends at a guard page, filled first with
// a pattern no conversion gives (alpha 0), and checks every pixel (the
// scaler may round an opaque alpha plane to 254). A write
// past the buffer's end stops the test with SIGSEGV.
void expectWholeConversion(BgraConverter& converter, const AVFrame& frame, Rgb expected, const std::string& what,
                           GuardedMemory& memory)
{
    const platform::BgraLayout layout = platform::bgraLayout(frame.width, frame.height);
    ASSERT_GE(layout.bytesPerLine, std::ptrdiff_t(frame.width) * 4) << what;
    ASSERT_EQ(layout.bytes % 64, 0u) << what;  // so the buffer below starts 64-byte aligned
    const std::uint8_t pattern[4] = {0x5a, 0xa5, 0x3c, 0x00};
    std::uint8_t* target = memory.last(layout.bytes, pattern, 4);
    ASSERT_EQ(converter.convert(frame, SWS_CS_ITU601, target), 0) << what;
    int wrong = 0;
    std::ostringstream first;
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            const std::uint8_t* p = target + y * layout.bytesPerLine + 4 * x;
            const bool ok = p[3] >= 250 && std::abs(p[2] - expected.r) <= 6 && std::abs(p[1] - expected.g) <= 6 &&
                            std::abs(p[0] - expected.b) <= 6;
            if (!ok && wrong++ == 0)
                first << " first at (" << x << ", " << y << "): " << int(p[2]) << ", " << int(p[1]) << ", "
                      << int(p[0]) << ", alpha " << int(p[3]);
        }
    EXPECT_EQ(wrong, 0) << what << first.str();
}

std::string describe(const char* kind, int width, int height)
{
    return std::string(kind) + " " + std::to_string(width) + "×" + std::to_string(height);
}

} // namespace

TEST(BgraConversion, VideoFormatsStayInsideTheBufferAndConvertEveryPixel)
{
    GuardedMemory memory(platform::bgraLayout(3840, 3).bytes);
    const AVPixelFormat formats[] = {AV_PIX_FMT_YUV420P,     AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_NV12,
                                     AV_PIX_FMT_YUV444P,     AV_PIX_FMT_YUV422P,  AV_PIX_FMT_YUV420P10LE,
                                     AV_PIX_FMT_P010LE,      AV_PIX_FMT_YUVA420P, AV_PIX_FMT_RGB24};
    for (AVPixelFormat format : formats) {
        const bool fullRange = format == AV_PIX_FMT_YUVJ420P;
        const bool isRgb = av_pix_fmt_desc_get(format)->flags & AV_PIX_FMT_FLAG_RGB;
        const Rgb expected = expectedRgb(fullRange && !isRgb);
        BgraConverter converter(BgraSampling::smooth);
        for (int height : kHeights)
            for (int width : widths()) {
                const FramePtr frame = solidFrame(format, width, height);
                ASSERT_TRUE(frame);
                expectWholeConversion(converter, *frame, expected,
                                      describe(av_get_pix_fmt_name(format), width, height), memory);
            }
    }
}

TEST(BgraConversion, CameraPicturesStayInsideTheBufferAndConvertEveryPixel)
{
    GuardedMemory memory(platform::bgraLayout(3840, 3).bytes);
    // What an MJPEG decoder gives, and the webcam's own JPEGs.
    for (AVPixelFormat format : {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P}) {
        BgraConverter converter(BgraSampling::exact);
        for (int height : kHeights)
            for (int width : widths()) {
                const FramePtr frame = solidFrame(format, width, height);
                ASSERT_TRUE(frame);
                expectWholeConversion(converter, *frame, expectedRgb(true),
                                      describe(av_get_pix_fmt_name(format), width, height), memory);
            }
    }
    BgraConverter converter(BgraSampling::exact);
    for (int height : kHeights)
        for (int width : widths()) {
            const FramePtr frame = decodedJpeg(width, height);
            ASSERT_TRUE(frame) << width;
            // The JPEG holds the limited-range colour's RGB.
            expectWholeConversion(converter, *frame, expectedRgb(false), describe("mjpeg", width, height), memory);
        }
}

TEST(BgraConversion, ImagesHaveThePaddedLayoutAndOwnTheirBuffer)
{
    for (int width : {1, 34, 360, 1918}) {
        const platform::BgraLayout layout = platform::bgraLayout(width, 5);
        QImage image = platform::bgraImage(width, 5, QImage::Format_RGB32);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.format(), QImage::Format_RGB32);
        EXPECT_EQ(image.bytesPerLine(), layout.bytesPerLine) << width;
        EXPECT_EQ(layout.bytesPerLine % 64, 0) << width;
        EXPECT_GE(layout.bytes, std::size_t(layout.bytesPerLine) * 5 + 64) << width;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(image.constBits()) % 64, 0u) << width;
        // Writable where it is: the converter writes through bits() into this very buffer.
        const uchar* buffer = image.constBits();
        EXPECT_EQ(image.bits(), buffer) << width;
        // Written in place; a copy keeps the buffer alive past the original.
        image.fill(qRgb(1, 2, 3));
        const QImage copy = image;
        image = QImage();
        EXPECT_EQ(copy.pixel(width - 1, 4), qRgb(1, 2, 3));
    }
    EXPECT_EQ(platform::bgraLayout(0, 5).bytes, 0u);
    EXPECT_EQ(platform::bgraLayout(INT_MAX, INT_MAX).bytes, 0u);  // beyond any address space
    EXPECT_TRUE(platform::bgraImage(-1, 5, QImage::Format_RGB32).isNull());
}

namespace {

// A picture of varied content: every sample its own pseudo-random value, so
// that a band converted with the wrong rows or chroma shows.
FramePtr noiseFrame(AVPixelFormat format, int width, int height, AVColorRange range)
{
    FramePtr f(av_frame_alloc());
    f->format = format;
    f->width = width;
    f->height = height;
    f->color_range = range;
    if (av_frame_get_buffer(f.get(), 0) < 0) return nullptr;
    std::uint32_t seed = 12345;
    for (AVBufferRef* b : f->buf)
        if (b)
            for (int i = 0; i < b->size; ++i) {
                seed = seed * 1664525u + 1013904223u;
                b->data[i] = std::uint8_t(seed >> 24);
            }
    return f;
}

} // namespace

// A halved picture holds exactly the pixels of the whole one halved, whether
// converted by bands or whole, for every format, size and range.
TEST(BgraConversion, HalvedConversionGivesTheWholeConversionHalved)
{
    const AVPixelFormat formats[] = {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV422P,
                                     AV_PIX_FMT_YUV444P, AV_PIX_FMT_YUVA420P, AV_PIX_FMT_NV12};
    // Widths of libswscale's vector path and of its plain one; heights of
    // whole bands, a shorter last band, one band or less, odd.
    const QSize sizes[] = {{1920, 1080}, {1366, 768}, {1918, 36}, {34, 50}, {80, 16}, {80, 18}, {3, 2}, {37, 35}};
    BgraConverter banded(BgraSampling::smooth);  // one converter for all: its scalers follow the pictures
    for (AVPixelFormat format : formats)
        for (AVColorRange range : {AVCOL_RANGE_MPEG, AVCOL_RANGE_JPEG})
            for (const QSize& size : sizes) {
                const std::string what = describe(av_get_pix_fmt_name(format), size.width(), size.height()) +
                                         (range == AVCOL_RANGE_JPEG ? " full range" : "");
                const FramePtr frame = noiseFrame(format, size.width(), size.height(), range);
                ASSERT_TRUE(frame) << what;
                BgraConverter whole(BgraSampling::smooth);
                QImage full = platform::bgraImage(size.width(), size.height(), QImage::Format_ARGB32);
                const QSize halfSize((size.width() + 1) / 2, (size.height() + 1) / 2);
                QImage expected = platform::bgraImage(halfSize.width(), halfSize.height(), QImage::Format_ARGB32);
                QImage actual = platform::bgraImage(halfSize.width(), halfSize.height(), QImage::Format_ARGB32);
                ASSERT_EQ(whole.convert(*frame, SWS_CS_ITU709, full.bits()), 0) << what;
                platform::halveBgra(full.constBits(), full.bytesPerLine(), size.width(), size.height(),
                                    expected.bits(), expected.bytesPerLine());
                ASSERT_EQ(banded.convertHalved(*frame, SWS_CS_ITU709, actual.bits()), 0) << what;
                for (int y = 0; y < halfSize.height(); ++y)
                    ASSERT_EQ(std::memcmp(actual.constScanLine(y), expected.constScanLine(y),
                                          std::size_t(halfSize.width()) * 4),
                              0)
                        << what << ", row " << y;
            }
}
