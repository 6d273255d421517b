#pragma once

// Decoded pictures to 8-bit B, G, R, A, in memory laid out as libswscale
// needs it. Shared by the media layer and the camera.

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <memory>

struct AVFrame;
struct SwsContext;

namespace platform {

// The memory of a BGRA picture that libswscale writes. Its SIMD paths store
// whole vectors: past the last pixel of a row on some widths (360, 1080,
// 1918 among others), and with tightly packed rows they leave a row's last
// pixels unconverted instead. So rows start 64 bytes apart at least and the
// buffer runs on past the last row.
// Lines and the start of our BGRA buffers are aligned to the widest vector
// libswscale stores (AVX-512).
inline constexpr std::size_t bgraAlignment = 64;

struct BgraLayout {
    std::ptrdiff_t bytesPerLine = 0;
    std::size_t bytes = 0;  // the whole buffer, the padding included; 0 when too large
};
BgraLayout bgraLayout(int width, int height);

// An image of `format` (a 32-bit RGB format) over a 64-byte aligned buffer
// laid out as bgraLayout says, freed with the image's last copy. Its pixels
// are not set. Null when the memory can't be had.
QImage bgraImage(int width, int height, QImage::Format format);

// How chroma is sampled: `smooth` interpolates it (video); `exact` takes each
// pixel's own sample with accurate rounding (the camera, whose colours are
// compared exactly).
enum class BgraSampling { smooth, exact };

// Converts decoded pictures to BGRA at their own size; the scaler is kept
// while the pictures stay alike. One thread at a time.
class BgraConverter {
public:
    explicit BgraConverter(BgraSampling sampling);
    ~BgraConverter();
    BgraConverter(const BgraConverter&) = delete;
    BgraConverter& operator=(const BgraConverter&) = delete;

    // Converts `frame` with the colour matrix `colorspace` (SWS_CS_*), in
    // full range when the frame is tagged so or has a "J" format, into
    // `target`: a 64-byte aligned buffer laid out as
    // bgraLayout(frame.width, frame.height) says. 0, or a negative AVERROR.
    int convert(const AVFrame& frame, int colorspace, std::uint8_t* target);

private:
    struct ScalerDeleter {
        void operator()(SwsContext* s) const;
    };

    BgraSampling sampling_;
    std::unique_ptr<SwsContext, ScalerDeleter> scaler_;
    int width_ = 0;
    int height_ = 0;
    int format_ = -1;
    bool fullRange_ = false;
    int colorspace_ = -1;
};

} // namespace platform
