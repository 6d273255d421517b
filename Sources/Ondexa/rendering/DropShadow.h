#pragma once

// Drop shadows for QPainter, which has none of its own: a drawing is made in a
// transparent layer, its coverage blurred and tinted into the shadow, and the
// shadow composited under the drawing. Offsets are in device pixels (positive
// y is downwards), whatever the painter's transform.

#include <QColor>
#include <QPainter>
#include <QPointF>
#include <QRectF>

#include <functional>

namespace ondexa {

struct DropShadow {
    QPointF offset;  // device pixels
    double blur = 0; // blur amount; the Gaussian's standard deviation is half of it
    QColor color;    // its alpha scales the drawing's coverage
};

// Runs `draw` with a painter set up like `painter` (transform, pen, brush, font,
// hints) and composites the result with the shadow under it. `bounds`, in the
// painter's user coordinates, must hold everything `draw` paints. Without a
// shadow, `draw` paints into `painter` directly.
void drawWithShadow(QPainter& painter, const DropShadow* shadow, const QRectF& bounds,
                    const std::function<void(QPainter&)>& draw);

// Largest bitmap side that drawing will allocate; beyond it a bitmap counts as
// one that can't be made.
inline constexpr int maximumBitmapSide = 16384;

} // namespace ondexa
