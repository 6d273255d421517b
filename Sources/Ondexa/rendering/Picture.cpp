#include "Picture.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <utility>

namespace ondexa::compositing {

struct Picture::Node {
    enum class Kind { image, fill, stack, transform, crop, clip, opacity, colour, mask };
    Kind kind = Kind::stack;
    QImage image;
    QPointF origin;
    QPainterPath path;
    QBrush brush;
    QTransform transform;
    QRectF rect;
    double level = 1;
    std::vector<std::shared_ptr<const Node>> children;  // a stack's bottom first; else the one child
    QRectF extent;
    // Images and fills beneath. With exactly one, opacity can be applied while
    // drawing it; with more, overlapping parts would show through each other.
    int leaves = 0;
};

namespace {

using NodePtr = std::shared_ptr<const Picture::Node>;
using Kind = Picture::Node::Kind;

NodePtr wrap(Kind kind, const NodePtr& child, QRectF extent)
{
    auto node = std::make_shared<Picture::Node>();
    node->kind = kind;
    node->children = {child};
    node->extent = extent;
    node->leaves = child->leaves;
    return node;
}

void drawNode(const Picture::Node& node, QPainter& painter, LayerPool& pool);

// Draws a node whose effect needs the finished pixels of its child: the
// child goes into a scratch image covering only what it can reach, the effect
// is applied there, and the result is composited with the painter's opacity.
void drawThroughLayer(const Picture::Node& node, QPainter& painter, LayerPool& pool)
{
    const QSize deviceSize(painter.device()->width(), painter.device()->height());
    const QTransform world = painter.worldTransform();
    QRectF covered = world.mapRect(node.extent);
    if (painter.hasClipping()) covered &= world.mapRect(painter.clipBoundingRect());
    const QRect area = covered.toAlignedRect() & QRect(QPoint(0, 0), deviceSize);
    if (area.isEmpty()) return;

    QImage scratch = pool.acquire(deviceSize);
    if (scratch.isNull()) return;
    {
        QPainter layer(&scratch);
        layer.setCompositionMode(QPainter::CompositionMode_Source);
        layer.fillRect(area, Qt::transparent);
        layer.setCompositionMode(QPainter::CompositionMode_SourceOver);
        layer.setRenderHint(QPainter::Antialiasing);
        layer.setClipRect(area);
        layer.setWorldTransform(world);
        drawNode(*node.children.front(), layer, pool);
        switch (node.kind) {
        case Kind::colour:
            // Black over the layer's own pixels: colour × factor, opacity kept.
            layer.resetTransform();
            layer.setCompositionMode(QPainter::CompositionMode_SourceAtop);
            layer.fillRect(area, QColor::fromRgbF(0, 0, 0, float(1 - node.level)));
            break;
        case Kind::mask:
            layer.setCompositionMode(QPainter::CompositionMode_DestinationIn);
            layer.fillRect(world.inverted().mapRect(QRectF(area)), node.brush);
            break;
        default:
            break;
        }
    }
    painter.save();
    painter.resetTransform();
    if (node.kind == Kind::opacity) painter.setOpacity(painter.opacity() * node.level);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(area.topLeft(), scratch, area);
    painter.restore();
    pool.release(std::move(scratch));
}

void drawNode(const Picture::Node& node, QPainter& painter, LayerPool& pool)
{
    switch (node.kind) {
    case Kind::image:
        // Bilinear sampling only where pixels are resampled; an integer
        // placement is a plain copy.
        painter.setRenderHint(QPainter::SmoothPixmapTransform,
                              painter.worldTransform().type() > QTransform::TxTranslate);
        painter.drawImage(node.origin, node.image);
        return;
    case Kind::fill:
        painter.fillPath(node.path, node.brush);
        return;
    case Kind::stack:
        for (const NodePtr& child : node.children) drawNode(*child, painter, pool);
        return;
    case Kind::transform:
        painter.save();
        painter.setWorldTransform(node.transform, true);
        drawNode(*node.children.front(), painter, pool);
        painter.restore();
        return;
    case Kind::crop:
        painter.save();
        painter.setClipRect(node.rect, Qt::IntersectClip);
        drawNode(*node.children.front(), painter, pool);
        painter.restore();
        return;
    case Kind::clip:
        painter.save();
        painter.setClipPath(node.path, Qt::IntersectClip);
        drawNode(*node.children.front(), painter, pool);
        painter.restore();
        return;
    case Kind::opacity:
        if (node.leaves == 1) {
            painter.save();
            painter.setOpacity(painter.opacity() * node.level);
            drawNode(*node.children.front(), painter, pool);
            painter.restore();
        } else {
            drawThroughLayer(node, painter, pool);
        }
        return;
    case Kind::colour:
    case Kind::mask:
        drawThroughLayer(node, painter, pool);
        return;
    }
}

} // namespace

QImage LayerPool::acquire(QSize size)
{
    for (auto it = free_.begin(); it != free_.end(); ++it) {
        if (it->size() == size) {
            QImage image = std::move(*it);
            free_.erase(it);
            return image;
        }
    }
    return QImage(size, QImage::Format_ARGB32_Premultiplied);
}

void LayerPool::release(QImage image)
{
    // A handful covers the deepest nesting of one frame; a new output size
    // replaces the old scratch images.
    std::erase_if(free_, [&](const QImage& kept) { return kept.size() != image.size(); });
    if (free_.size() < 4) free_.push_back(std::move(image));
}

Picture Picture::image(QImage image, QPointF origin)
{
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) return {};
    auto node = std::make_shared<Node>();
    node->kind = Kind::image;
    node->extent = QRectF(origin, QSizeF(image.size()));
    node->image = std::move(image);
    node->origin = origin;
    node->leaves = 1;
    return Picture(std::move(node));
}

Picture Picture::filled(const QPainterPath& path, const QBrush& brush)
{
    const QRectF bounds = path.boundingRect();
    if (bounds.isEmpty() || brush.style() == Qt::NoBrush) return {};
    auto node = std::make_shared<Node>();
    node->kind = Kind::fill;
    node->path = path;
    node->brush = brush;
    node->extent = bounds;
    node->leaves = 1;
    return Picture(std::move(node));
}

QRectF Picture::extent() const
{
    return node_ ? node_->extent : QRectF();
}

Picture Picture::over(const Picture& below) const
{
    if (!node_) return below;
    if (!below.node_) return *this;
    auto node = std::make_shared<Node>();
    node->kind = Kind::stack;
    // Flatten stacks so that a long chain of decorations stays shallow.
    for (const Picture* part : {&below, this}) {
        if (part->node_->kind == Kind::stack) {
            node->children.insert(node->children.end(), part->node_->children.begin(),
                                  part->node_->children.end());
        } else {
            node->children.push_back(part->node_);
        }
    }
    node->extent = below.node_->extent | node_->extent;
    node->leaves = below.node_->leaves + node_->leaves;
    return Picture(std::move(node));
}

Picture Picture::transformed(const QTransform& transform) const
{
    // A non-finite value read from a document must not reach the rasteriser.
    const double parts[] = {transform.m11(), transform.m12(), transform.m13(), transform.m21(), transform.m22(),
                            transform.m23(), transform.m31(), transform.m32(), transform.m33()};
    if (!node_ || !std::all_of(std::begin(parts), std::end(parts), [](double v) { return std::isfinite(v); }) ||
        !transform.isInvertible())
        return {};
    if (transform.isIdentity()) return *this;
    if (node_->kind == Kind::transform) {
        // Fold successive transforms into one.
        auto node = std::make_shared<Node>(*node_);
        node->transform = node_->transform * transform;
        node->extent = node->transform.mapRect(node_->children.front()->extent);
        return Picture(std::move(node));
    }
    auto node = std::const_pointer_cast<Node>(wrap(Kind::transform, node_, transform.mapRect(node_->extent)));
    node->transform = transform;
    return Picture(std::move(node));
}

Picture Picture::cropped(const QRectF& rect) const
{
    if (!node_) return {};
    if (rect.contains(node_->extent)) return *this;
    const QRectF kept = node_->extent & rect;
    if (kept.isEmpty()) return {};
    auto node = std::const_pointer_cast<Node>(wrap(Kind::crop, node_, kept));
    node->rect = rect;
    return Picture(std::move(node));
}

Picture Picture::clipped(const QPainterPath& path) const
{
    if (!node_) return {};
    const QRectF kept = node_->extent & path.boundingRect();
    if (kept.isEmpty()) return {};
    auto node = std::const_pointer_cast<Node>(wrap(Kind::clip, node_, kept));
    node->path = path;
    return Picture(std::move(node));
}

Picture Picture::withOpacity(double level) const
{
    if (!node_ || !(level > 0)) return {};
    if (level >= 1) return *this;
    if (node_->kind == Kind::opacity) {
        auto node = std::make_shared<Node>(*node_);
        node->level *= level;
        return Picture(std::move(node));
    }
    auto node = std::const_pointer_cast<Node>(wrap(Kind::opacity, node_, node_->extent));
    node->level = level;
    return Picture(std::move(node));
}

Picture Picture::colourScaled(double factor) const
{
    if (!node_ || factor >= 1) return *this;
    auto node = std::const_pointer_cast<Node>(wrap(Kind::colour, node_, node_->extent));
    node->level = std::max(factor, 0.0);
    return Picture(std::move(node));
}

Picture Picture::masked(const QBrush& mask, const QRectF& maskExtent) const
{
    const Picture inside = cropped(maskExtent);
    if (!inside.node_) return {};
    auto node = std::const_pointer_cast<Node>(wrap(Kind::mask, inside.node_, inside.node_->extent));
    node->brush = mask;
    return Picture(std::move(node));
}

QImage Picture::plainImage() const
{
    if (node_ && node_->kind == Kind::image && node_->origin == QPointF(0, 0)) return node_->image;
    return {};
}

QImage Picture::bottomImage(Picture& above) const
{
    above = {};
    if (!node_) return {};
    switch (node_->kind) {
    case Kind::image:
        return plainImage();
    case Kind::stack: {
        const NodePtr& first = node_->children.front();
        if (first->kind != Kind::image || first->origin != QPointF(0, 0)) return {};
        for (std::size_t i = 1; i < node_->children.size(); ++i)
            above = Picture(node_->children[i]).over(above);
        return first->image;
    }
    case Kind::crop: {
        Picture inner;
        QImage bottom = Picture(node_->children.front()).bottomImage(inner);
        if (bottom.isNull() || !node_->rect.contains(QRectF(QPointF(0, 0), QSizeF(bottom.size())))) return {};
        above = inner.cropped(node_->rect);
        return bottom;
    }
    default:
        return {};
    }
}

void Picture::draw(QPainter& painter, LayerPool& pool) const
{
    if (node_) drawNode(*node_, painter, pool);
}

} // namespace ondexa::compositing
