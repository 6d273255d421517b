#pragma once

#include "Platform/capture/CameraDevice.h"

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace platform {

// YUYV (BT.601, limited range, as webcams deliver it) to 8-bit B, G, R, A
// (alpha 255). `width` pixels of each of `height` rows; an odd last pixel
// takes the colour of its pair. Rows are `sourceBytesPerLine` and
// `targetBytesPerLine` apart.
void convertYuyvToBgra(const std::uint8_t* source, std::ptrdiff_t sourceBytesPerLine, int width, int height,
                       std::uint8_t* target, std::ptrdiff_t targetBytesPerLine);

// Turns the buffers of one camera format into pictures. MJPEG is decoded
// with FFmpeg, which also reads the JPEGs many webcams send without their
// Huffman tables. Used from one thread at a time.
class CameraConverter {
public:
    explicit CameraConverter(const CameraFormat& format);
    ~CameraConverter();

    CameraConverter(const CameraConverter&) = delete;
    CameraConverter& operator=(const CameraConverter&) = delete;

    // The picture in QImage::Format_RGB32 (B, G, R, 255 bytes in memory), or
    // nothing for a short or broken buffer. An MJPEG picture keeps its own
    // size should it differ from the format's.
    std::optional<QImage> convert(const std::uint8_t* data, std::size_t size);

private:
    struct Decoder;

    CameraFormat format_;
    std::unique_ptr<Decoder> decoder_;  // MJPEG only
};

} // namespace platform
