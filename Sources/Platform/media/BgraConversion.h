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

// Halves a BGRA picture of `width` × `height` by averaging each 2 × 2 block
// of pixels, channel by channel (blocks cut by the right or lower edge
// average what they hold): what smooth drawing at half size shows. `out`
// holds ((width + 1) / 2) × ((height + 1) / 2) pixels.
void halveBgra(const std::uint8_t* in, std::ptrdiff_t inStride, int width, int height, std::uint8_t* out,
               std::ptrdiff_t outStride);

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

    // The picture convert() gives, halved by halveBgra into `target`, laid
    // out as bgraLayout((frame.width + 1) / 2, (frame.height + 1) / 2) says.
    // Where the conversion goes row by row, the whole picture never lies in
    // memory: bands of rows are converted and halved while in the cache.
    int convertHalved(const AVFrame& frame, int colorspace, std::uint8_t* target);

private:
    struct ScalerDeleter {
        void operator()(SwsContext* s) const;
    };
    struct Buffer {
        void operator()(std::uint8_t* p) const;
    };
    // One scaler, kept while the pictures stay alike.
    struct Scaler {
        std::unique_ptr<SwsContext, ScalerDeleter> context;
        int width = 0;
        int height = 0;
        int format = -1;
        bool fullRange = false;
        int colorspace = -1;

        int convert(const AVFrame& frame, int colorspace, std::uint8_t* target, BgraSampling sampling);
    };

    BgraSampling sampling_;
    Scaler whole_;
    Scaler band_;   // convertHalved's bands
    Scaler last_;   // and the last one, when shorter
    std::unique_ptr<std::uint8_t, Buffer> rows_;  // a band, or a whole picture where there are none
    std::size_t rowsBytes_ = 0;
};

} // namespace platform
