#include "LayerGeometry.h"

#include "Ondexa/rendering/OverlayRenderer.h"

#include <QColor>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ondexa::compositing {

namespace {

// Soft edge of the circle transition, in pixels.
constexpr double circleEdge = 3;
// Corner radius of a rounded picture-in-picture as a share of its shorter side.
constexpr float cornerShare = 0.06f;
// Border of a rounded picture-in-picture as a share of the output height,
// at least one pixel, and its opacity.
constexpr double borderShare = 0.003;
constexpr double borderOpacity = 0.9;
// Smallest scale the zoom transition starts from.
constexpr double zoomStart = 0.35;

QTransform aboutCentre(const QPointF& centre, const QTransform& transform)
{
    return QTransform::fromTranslate(-centre.x(), -centre.y()) * transform *
           QTransform::fromTranslate(centre.x(), centre.y());
}

double clamp01(double value)
{
    return std::clamp(value, 0.0, 1.0);
}

// Shows the picture inside a circle about the centre of `bounds` with a soft rim.
Picture insideCircle(const Picture& picture, const QRectF& bounds, double radius)
{
    const QPointF centre = bounds.center();
    const double outer = radius + circleEdge;
    QRadialGradient gradient(centre, outer);
    gradient.setColorAt(0, Qt::white);
    gradient.setColorAt(radius / outer, Qt::white);
    gradient.setColorAt(1, Qt::transparent);
    const QRectF reach(centre.x() - outer, centre.y() - outer, 2 * outer, 2 * outer);
    return picture.masked(QBrush(gradient), reach & bounds);
}

} // namespace

bool isIdentity(const PictureState& state)
{
    return std::abs(state.scale - 1) < 0.0001 && std::abs(state.centerX - 0.5) < 0.0001 &&
           std::abs(state.centerY - 0.5) < 0.0001 && std::abs(state.rotation) < 0.01;
}

double smoothstep(double p)
{
    return p * p * (3 - 2 * p);
}

QPointF pivot(const Overlay& overlay, QSizeF outputSize)
{
    const double w = outputSize.width();
    const double h = outputSize.height();
    switch (overlay.kind) {
    case OverlayKind::arrow:
        return {(overlay.from.x + overlay.to.x) / 2 * w, (overlay.from.y + overlay.to.y) / 2 * h};
    case OverlayKind::text:
        // The text's box is measured, not taken from the stored rectangle.
        return OverlayRenderer::textBox(overlay, outputSize).center();
    default:
        return {(overlay.rect.x + overlay.rect.w / 2) * w, (overlay.rect.y + overlay.rect.h / 2) * h};
    }
}

Placement placement(const Clip& clip, const PictureState& state, double outputAspect, const QRectF& bounds)
{
    if (!clip.frame && isIdentity(state)) return {bounds, true};
    const double r = outputAspect / clip.aspect;
    double fw = 1;
    double fh = r;
    if (r > 1) {
        fw = clip.aspect / outputAspect;
        fh = 1;
    }
    fw *= state.scale;
    fh *= state.scale;
    const double W = bounds.width();
    const double H = bounds.height();
    return {QRectF(W * (state.centerX - fw / 2), H * (state.centerY - fh / 2), W * fw, H * fh), false};
}

Picture fit(const Picture& picture, const QRectF& rect)
{
    const QRectF extent = picture.extent();
    if (!(extent.width() > 0) || !(extent.height() > 0)) return {};
    const double s = std::min(rect.width() / extent.width(), rect.height() / extent.height());
    const double dx = rect.x() + (rect.width() - s * extent.width()) / 2;
    const double dy = rect.y() + (rect.height() - s * extent.height()) / 2;
    return picture.transformed(QTransform(s, 0, 0, s, dx - s * extent.x(), dy - s * extent.y()));
}

Picture pictureInPicture(const Picture& picture, const QRectF& box, const QRectF& bounds, bool rounded)
{
    const QRectF extent = picture.extent();
    if (!(box.width() > 2) || !(box.height() > 2) || !(extent.width() > 0) || !(extent.height() > 0)) return {};
    // Fill the box; what sticks out is cropped.
    const double s = std::max(box.width() / extent.width(), box.height() / extent.height());
    const QPointF centre = box.center();
    const QTransform fill(s, 0, 0, s, centre.x() - s * extent.center().x(), centre.y() - s * extent.center().y());
    const Picture filled = picture.transformed(fill).cropped(box);
    if (!rounded || box.contains(bounds.adjusted(1, 1, -1, -1))) return filled;

    const float radius = float(std::min(box.width(), box.height())) * cornerShare;
    QPainterPath corners;
    corners.addRoundedRect(box, radius, radius);
    const double border = std::max(bounds.height() * borderShare, 1.0);
    QPainterPath frame;
    frame.addRoundedRect(box.adjusted(-border, -border, border, border), radius + border, radius + border);
    QColor white(Qt::white);
    white.setAlphaF(float(borderOpacity));
    return filled.clipped(corners).over(Picture::filled(frame, white));
}

Picture faded(const Picture& picture, double level)
{
    if (level >= 0.999) return picture;
    if (!(level > 0.001)) return {};
    return picture.withOpacity(level);
}

Picture darkened(const Picture& picture, double level)
{
    if (level >= 0.999) return picture;
    return picture.colourScaled(std::max(level, 0.0));
}

Picture transitioned(const Picture& picture, const Clip& clip, const Clip* incoming, double t, const QRectF& bounds)
{
    const double out = clip.fadeOut > 0 ? clamp01((clip.start + clip.duration - t) / clip.fadeOut) : 1;

    // A clip's transition lasts as long as its fade-in.
    if (clip.fadeIn > 0 && t < clip.start + clip.fadeIn) {
        const double p = clamp01((t - clip.start) / clip.fadeIn);
        const double e = smoothstep(p);
        Picture result;
        switch (clip.transition.value_or(Transition::dissolve)) {
        case Transition::dissolve:
            // With no transition too: a plain linear fade-in over what lies below.
            result = faded(picture, p);
            break;
        case Transition::dipToBlack:
            if (incoming && incoming->id == clip.id) {
                // The outgoing clip darkens during the first half, this one rises during the second.
                result = p < 0.5 ? Picture() : darkened(picture, 2 * p - 1);
            } else {
                result = darkened(picture, p);
            }
            break;
        case Transition::wipe:
            result = picture.cropped(QRectF(bounds.left(), bounds.top(), e * bounds.width(), bounds.height()));
            break;
        case Transition::push:
            result = picture.transformed(QTransform::fromTranslate((1 - e) * bounds.width(), 0)).cropped(bounds);
            break;
        case Transition::circle:
            result = insideCircle(picture, bounds, e * std::hypot(bounds.width(), bounds.height()) * 0.5);
            break;
        case Transition::zoom: {
            const double k = zoomStart + (1 - zoomStart) * e;
            result = faded(picture.transformed(aboutCentre(bounds.center(), QTransform::fromScale(k, k))),
                           std::min(2 * p, 1.0));
            break;
        }
        }
        return faded(result, out);
    }

    if (incoming && incoming->id != clip.id && incoming->fadeIn > 0 && t < incoming->start + incoming->fadeIn) {
        const double q = clamp01((t - incoming->start) / incoming->fadeIn);
        switch (incoming->transition.value_or(Transition::dissolve)) {
        case Transition::dissolve:
            return faded(picture, out);
        case Transition::dipToBlack:
            return q < 0.5 ? darkened(picture, 1 - 2 * q) : Picture();
        case Transition::wipe:
        case Transition::circle:
        case Transition::zoom:
            // The incoming picture is drawn over this one.
            return picture;
        case Transition::push:
            return picture.transformed(QTransform::fromTranslate(-smoothstep(q) * bounds.width(), 0)).cropped(bounds);
        }
    }

    return faded(picture, clip.fadeLevel(t));
}

Picture clickHighlight(const ClickEvent& click, double progress, const QRectF& extent)
{
    const QPointF centre(extent.x() + click.x * extent.width(), extent.y() + click.y * extent.height());
    const double radius = (0.025 * progress + 0.015) * extent.height();
    const double opacity = (1 - progress) * 0.6;
    if (!(radius > 0) || !(opacity > 0)) return {};
    QColor colour = QColor::fromRgbF(1, 0.85f, 0.1f, float(opacity));
    QColor clear = colour;
    clear.setAlpha(0);
    QRadialGradient gradient(centre, float(radius));
    gradient.setColorAt(0, colour);
    gradient.setColorAt(0.7, colour);
    gradient.setColorAt(1, clear);
    QPainterPath square;
    square.addRect(QRectF(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius));
    return Picture::filled(square, QBrush(gradient));
}

} // namespace ondexa::compositing
