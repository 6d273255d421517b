#pragma once

#include <QPoint>
#include <QSize>

#include <cstdint>

// Pixel work shared by the picture sources. Pictures are 32-bit B, G, R, X
// words, rows packed (stride = width × 4).
namespace platform::pictures {

// Premultiplied ARGB words (a pointer image) over the picture, its top left at `at`.
void drawCursor(std::uint8_t* pixels, QSize size, const std::uint32_t* cursor, int cursorWidth, int cursorHeight,
                QPoint at);

// Fits `source` into `out` keeping its aspect, centred on black.
void fitInto(const std::uint8_t* source, QSize sourceSize, std::uint8_t* out, QSize outSize);

// A source within one pixel of the output (odd sides rounded down to even)
// is cut rather than scaled: scaling by 1001/1000 would only blur.
bool cutsTo(QSize source, QSize out);

} // namespace platform::pictures
