#pragma once

// An immutable picture described as a recipe — images and filled shapes under
// transforms, crops, masks and opacity — that is only turned into pixels when
// drawn onto the output. Placing, fading and transitioning a clip thus costs
// one pass over the pixels it covers instead of one per step. Effects that
// must act on a finished group (group opacity, darkening, soft masks) go
// through a scratch layer the size of what they cover.
//
// Coordinates are pixels with the origin at the top left.

#include <QBrush>
#include <QImage>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QTransform>

#include <memory>
#include <vector>

class QPainter;

namespace ondexa::compositing {

// Scratch images for the layers of one frame, reused from frame to frame.
// Belongs to one thread at a time (the compositor's queue).
class LayerPool {
public:
    QImage acquire(QSize size);
    void release(QImage image);

private:
    std::vector<QImage> free_;
};

class Picture {
public:
    // The empty picture: draws nothing.
    Picture() = default;

    // An image with its top-left corner at `origin`. A null image is empty.
    static Picture image(QImage image, QPointF origin = {});
    // A shape filled with a brush (antialiased).
    static Picture filled(const QPainterPath& path, const QBrush& brush);

    bool isEmpty() const { return !node_; }
    // The rectangle outside which the picture is transparent (may be larger
    // than what is really covered). Empty for the empty picture.
    QRectF extent() const;

    // This picture over `below`.
    Picture over(const Picture& below) const;
    Picture transformed(const QTransform& transform) const;
    // Keeps only what lies inside `rect` (hard edges, like a crop).
    Picture cropped(const QRectF& rect) const;
    // Keeps only what lies inside the path, with antialiased edges.
    Picture clipped(const QPainterPath& path) const;
    // Opacity multiplied by `level`.
    Picture withOpacity(double level) const;
    // Colour multiplied by `factor` (towards black), opacity kept.
    Picture colourScaled(double factor) const;
    // Opacity multiplied by the mask brush's opacity; nothing outside `maskExtent`.
    Picture masked(const QBrush& mask, const QRectF& maskExtent) const;

    // Draws onto the painter with its current transform, clip and opacity.
    void draw(QPainter& painter, LayerPool& pool) const;

    // The image itself when the picture is one image at (0, 0) with nothing
    // done to it; else a null image.
    QImage plainImage() const;
    // The image at the bottom when it is one image at (0, 0) drawn whole and
    // as it is, with what is drawn over it in `above`; else a null image.
    QImage bottomImage(Picture& above) const;

    struct Node;

private:
    explicit Picture(std::shared_ptr<const Node> node) : node_(std::move(node)) {}
    std::shared_ptr<const Node> node_;
};

} // namespace ondexa::compositing
