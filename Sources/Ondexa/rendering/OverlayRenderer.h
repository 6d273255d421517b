#pragma once

// Drawing of text, arrow, rectangle and ellipse overlays, and the one rule
// by which a text overlay's box is measured. The compositor, the editor's
// document model and the preview all measure text boxes here, so what is
// drawn always fits what was measured.
//
// Coordinates are output pixels with the origin at the top left (QPainter's);
// an overlay's normalised rectangle and points map to x × W and y × H.
// Text is laid out at 72 dpi: one point is one pixel.
//
// Everything here is stateless and may run on any thread (a QGuiApplication
// must exist, as for any font use).

#include "Ondexa/model/Overlays.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <optional>
#include <span>

class QPainter;

namespace ondexa::OverlayRenderer {

// The default overlay family, then its fallback; an unknown family falls back
// the same way.
inline constexpr const char* defaultFamily = "Liberation Sans";
inline constexpr const char* fallbackFamily = "DejaVu Sans";

// Text padding as a fraction of the font size, and the height at which text
// boxes are measured so that a box keeps its shape at every output size.
inline constexpr double paddingFactor = 0.35;
inline constexpr double referenceHeight = 1000;

// The text of a text overlay with what Qt needs to lay it out.
struct AttributedText {
    QString text;             // never empty: an empty text becomes one space
    QFont font;               // point size = pixel size (laid out at 72 dpi)
    QColor color;             // the overlay's colour, sRGB
    TextAlignment alignment;  // left when the overlay has none
};

// The overlay's text, font (its family, else the default; bold unless it says
// otherwise; at least 4 points), colour and alignment, at an output height in
// pixels.
AttributedText attributed(const Overlay& overlay, double height);

// The size that the text needs when laid out in the given width (lines wrap at
// word boundaries, a word longer than the width anywhere): the widest line's
// width and the sum of the line heights.
QSizeF suggestedSize(const AttributedText& text, double width);

// THE text-box measurement: the height of a text overlay's box as a fraction of
// the output height, for an output aspect (width / height). It depends only on
// the aspect, not on the output's pixel size.
double textBoxHeight(const Overlay& overlay, double outputAspect);

// The text overlay's box in output pixels (top-left origin): left rect.x × W,
// top rect.y × H, width rect.w × W, height textBoxHeight × H.
QRectF textBox(const Overlay& overlay, QSizeF outputSize);

// Draws a text overlay (its dark background when asked for, then the text)
// into the painter, for an output of the given size.
void drawText(const Overlay& overlay, QPainter& painter, QSizeF outputSize);

// Draws each overlay in order, with the drop shadow, the line width, caps and
// joins that overlays get. Zoom and picture-in-picture overlays draw nothing.
void drawAnnotations(std::span<const Overlay> overlays, QPainter& painter, QSizeF outputSize);

// One overlay drawn over a transparent picture of the output size, kept as the
// part that holds ink: `image` (premultiplied ARGB32) belongs at `origin` in
// the output picture; everything else is transparent. An empty `image` means
// the overlay draws nothing.
struct OverlayImage {
    QImage image;
    QPoint origin;
};

// Draws one overlay at the output size; nothing when the bitmap can't be made.
std::optional<OverlayImage> render(const Overlay& overlay, QSize outputSize);

} // namespace ondexa::OverlayRenderer
