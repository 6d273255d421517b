#pragma once

// A decoded picture kept as the decoder gave it, in the form the export's
// encoders take (4:2:0, BT.709, limited range): where nothing is drawn over
// it, an export hands it to the encoder as it is, without the round trip
// through BGRA.

#include <QRect>
#include <QSize>

#include <cstddef>
#include <cstdint>

struct AVFrame;

namespace platform {

class BgraConverter;

class YuvFrame {
public:
    // Holds a reference to `frame`'s buffers (it must be refcounted).
    explicit YuvFrame(const AVFrame& frame);
    ~YuvFrame();
    YuvFrame(const YuvFrame&) = delete;
    YuvFrame& operator=(const YuvFrame&) = delete;

    // Whether `frame`, read with the colour matrix `colorspace` (SWS_CS_*),
    // is what an encoder of pictures of `size` takes as it is.
    static bool fits(const AVFrame& frame, int colorspace, QSize size);

    const AVFrame& frame() const { return *frame_; }
    QSize size() const;
    std::size_t bytes() const;

    // Converts `rect` (within the picture, at even coordinates and of even
    // size, or the whole picture) to premultiplied BGRA at `target`, laid
    // out as bgraLayout(rect.width(), rect.height()) says. 0, or a negative
    // AVERROR.
    int toBgra(BgraConverter& converter, QRect rect, std::uint8_t* target) const;

private:
    AVFrame* frame_;
};

} // namespace platform
