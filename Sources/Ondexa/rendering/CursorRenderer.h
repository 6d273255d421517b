#pragma once

// The redrawn mouse pointer, its click ring, and where the pointer is at a
// time. Stateless; may run on any thread.

#include "Ondexa/model/Overlays.h"

#include <QImage>

#include <optional>
#include <span>

namespace ondexa::CursorRenderer {

// The least pointer size in pixels that the compositor asks for.
inline constexpr int minimumPointerPixels = 8;

// The pointer's size in pixels for a picture height: the whole part of
// max(base × height × scale, 8). Nothing for a non-finite size.
std::optional<int> pointerPixels(const CursorStyle& style, double pictureHeight);

// The pointer bitmap (premultiplied ARGB32) and the distance of its tip from
// the bitmap's left and top edges.
struct PointerImage {
    QImage image;
    double padding = 0;
};

// The pointer drawn at a height in pixels: outline rim and shadow, then the
// fill. Nothing when the bitmap would be 2 pixels wide or less, or can't be made.
std::optional<PointerImage> image(double height, const CursorStyle& style);

// The click ring of a diameter in pixels, in a colour, centred in a square
// bitmap of ceil(diameter + 4) pixels. Nothing under 5 pixels or when the
// bitmap can't be made.
std::optional<QImage> ring(double diameter, const CursorStyle& style, const RGBA& color);

// The pointer at time t from samples ascending by time: nothing before the first
// sample, the last sample unchanged after it, else the linear interpolation
// between its neighbours, stamped with t.
std::optional<CursorSample> position(std::span<const CursorSample> samples, double t);

} // namespace ondexa::CursorRenderer
