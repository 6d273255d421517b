#include "Platform/capture/CameraConverter.h"

#include "Platform/media/BgraConversion.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <cstring>
#include <vector>

namespace platform {

namespace {

// BT.601 limited range to RGB, coefficients in 16.16 fixed point:
//   R = 1.164383 (Y − 16) + 1.596027 (V − 128)
//   G = 1.164383 (Y − 16) − 0.391762 (U − 128) − 0.812968 (V − 128)
//   B = 1.164383 (Y − 16) + 2.017232 (U − 128)
// Sixteen fraction bits keep every result within rounding of the exact value.
constexpr int kLuma = 76309;
constexpr int kRedFromV = 104597;
constexpr int kGreenFromU = 25675;
constexpr int kGreenFromV = 53279;
constexpr int kBlueFromU = 132201;
constexpr int kHalf = 1 << 15;

inline std::uint8_t clampToByte(int value)
{
    return std::uint8_t(value < 0 ? 0 : value > 255 ? 255 : value);
}

inline void writePixel(std::uint8_t* target, int y, int red, int green, int blue)
{
    const int luma = (y - 16) * kLuma;
    target[0] = clampToByte((luma + blue) >> 16);
    target[1] = clampToByte((luma + green) >> 16);
    target[2] = clampToByte((luma + red) >> 16);
    target[3] = 255;
}

} // namespace

void convertYuyvToBgra(const std::uint8_t* source, std::ptrdiff_t sourceBytesPerLine, int width, int height,
                       std::uint8_t* target, std::ptrdiff_t targetBytesPerLine)
{
    for (int row = 0; row < height; ++row) {
        const std::uint8_t* s = source + row * sourceBytesPerLine;
        std::uint8_t* t = target + row * targetBytesPerLine;
        for (int x = 0; x < width; x += 2, s += 4, t += 8) {
            const int u = s[1] - 128;
            const int v = s[3] - 128;
            const int red = kRedFromV * v + kHalf;
            const int green = -kGreenFromU * u - kGreenFromV * v + kHalf;
            const int blue = kBlueFromU * u + kHalf;
            writePixel(t, s[0], red, green, blue);
            if (x + 1 < width) writePixel(t + 4, s[2], red, green, blue);
        }
    }
}

struct CameraConverter::Decoder {
    AVCodecContext* codec = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    BgraConverter toBgra{BgraSampling::exact};
    std::vector<std::uint8_t> padded;  // the JPEG with the zero padding FFmpeg's readers need

    ~Decoder()
    {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&codec);
    }
};

CameraConverter::CameraConverter(const CameraFormat& format) : format_(format)
{
    if (format_.pixelFormat != CameraPixelFormat::mjpeg) return;
    auto decoder = std::make_unique<Decoder>();
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    if (codec) decoder->codec = avcodec_alloc_context3(codec);
    decoder->frame = av_frame_alloc();
    decoder->packet = av_packet_alloc();
    if (!decoder->codec || !decoder->frame || !decoder->packet || avcodec_open2(decoder->codec, codec, nullptr) < 0)
        throw CameraError(CameraError::Kind::failed, "A kamera képe nem bontható ki (az MJPEG dekóder nem indul).");
    decoder_ = std::move(decoder);
}

CameraConverter::~CameraConverter() = default;

std::optional<QImage> CameraConverter::convert(const std::uint8_t* data, std::size_t size)
{
    if (format_.pixelFormat == CameraPixelFormat::yuyv) {
        const int width = format_.width;
        const int height = format_.height;
        if (width <= 0 || height <= 0) return std::nullopt;
        const std::ptrdiff_t bytesPerLine = format_.bytesPerLine > 0 ? format_.bytesPerLine : 2 * width;
        const std::ptrdiff_t lastRow = (std::ptrdiff_t(width) + 1) / 2 * 4;
        if (bytesPerLine < lastRow || std::ptrdiff_t(size) < bytesPerLine * (height - 1) + lastRow)
            return std::nullopt;  // a short buffer: the driver delivered part of a frame
        QImage image(width, height, QImage::Format_RGB32);
        if (image.isNull()) return std::nullopt;
        convertYuyvToBgra(data, bytesPerLine, width, height, image.bits(), image.bytesPerLine());
        return image;
    }

    Decoder& d = *decoder_;
    d.padded.resize(size + AV_INPUT_BUFFER_PADDING_SIZE);
    std::memcpy(d.padded.data(), data, size);
    std::memset(d.padded.data() + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    d.packet->data = d.padded.data();
    d.packet->size = int(size);
    const int sent = avcodec_send_packet(d.codec, d.packet);
    av_packet_unref(d.packet);
    if (sent < 0) return std::nullopt;
    if (avcodec_receive_frame(d.codec, d.frame) < 0) return std::nullopt;

    struct Unref {
        AVFrame* frame;
        ~Unref() { av_frame_unref(frame); }
    } unref{d.frame};
    const int width = d.frame->width;
    const int height = d.frame->height;
    if (width <= 0 || height <= 0) return std::nullopt;
    QImage image = bgraImage(width, height, QImage::Format_RGB32);
    if (image.isNull()) return std::nullopt;
    if (d.toBgra.convert(*d.frame, SWS_CS_ITU601, image.bits()) < 0) return std::nullopt;
    return image;
}

} // namespace platform
