#include "Ondexa/rendering/CursorRenderer.h"

#include "Ondexa/rendering/DropShadow.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

namespace ondexa::CursorRenderer {
namespace {

// The arrow on a design grid 12 units wide and 19 high, from the tip rightwards
// and downwards.
constexpr std::array<QPointF, 7> arrowShape{{
    {0, 0}, {0, 16.5}, {4, 12.8}, {6.8, 19}, {9.4, 17.9}, {6.7, 11.8}, {12, 11.8},
}};

QColor colour(const RGBA& c, double alphaFactor = 1)
{
    auto unit = [](double v) { return static_cast<float>(std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0); };
    return QColor::fromRgbF(unit(c.r), unit(c.g), unit(c.b), unit(c.a * alphaFactor));
}

QImage newBitmap(double width, double height)
{
    if (!(width >= 1 && height >= 1 && width <= maximumBitmapSide && height <= maximumBitmapSide))
        return QImage();
    QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32_Premultiplied);
    if (!image.isNull())
        image.fill(Qt::transparent);
    return image;
}

} // namespace

std::optional<int> pointerPixels(const CursorStyle& style, double pictureHeight)
{
    const double size = style.base * pictureHeight * style.scale;
    if (std::isnan(size))
        return std::nullopt;
    const double pixels = std::floor(std::max(size, static_cast<double>(minimumPointerPixels)));
    if (pixels > INT_MAX)
        return std::nullopt;
    return static_cast<int>(pixels);
}

std::optional<PointerImage> image(double height, const CursorStyle& style)
{
    const double unit = height / 19;
    const double padding = std::max(1.5 * unit, 2.0);
    const double width = std::ceil(12 * unit + 2 * padding);
    const double bitmapHeight = std::ceil(19 * unit + 2 * padding);
    if (!(width > 2))
        return std::nullopt;
    QImage bitmap = newBitmap(width, bitmapHeight);
    if (bitmap.isNull())
        return std::nullopt;

    QPainterPath shape;
    shape.setFillRule(Qt::WindingFill);
    for (std::size_t i = 0; i < arrowShape.size(); ++i) {
        const QPointF point(padding + unit * arrowShape[i].x(), padding + unit * arrowShape[i].y());
        if (i == 0)
            shape.moveTo(point);
        else
            shape.lineTo(point);
    }
    shape.closeSubpath();

    QPainter painter(&bitmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // The outline colour, filled and stroked two units wide, leaves a rim of one
    // unit around the fill; it alone casts the shadow.
    const DropShadow shadow{QPointF(0, 0.6 * unit), 1.2 * unit, QColor::fromRgbF(0, 0, 0, 0.35f)};
    painter.setPen(QPen(colour(style.outline), 2 * unit, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    painter.setBrush(colour(style.outline));
    drawWithShadow(painter, &shadow, shape.boundingRect().adjusted(-2 * unit, -2 * unit, 2 * unit, 2 * unit),
                   [&](QPainter& p) { p.drawPath(shape); });
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour(style.fill));
    painter.drawPath(shape);
    painter.end();
    return PointerImage{bitmap, padding};
}

std::optional<QImage> ring(double diameter, const CursorStyle& style, const RGBA& color)
{
    const double side = std::ceil(diameter + 4);
    if (!(side >= 5))
        return std::nullopt;
    QImage bitmap = newBitmap(side, side);
    if (bitmap.isNull())
        return std::nullopt;

    const double ringWidth = std::isfinite(style.ringWidth) ? style.ringWidth : 0;
    const double lineWidth = std::max(diameter * 0.5 * ringWidth, 1.5);
    const double corner = side / 2 - diameter / 2 + lineWidth / 2;
    const QRectF band = QRectF(corner, corner, diameter - lineWidth, diameter - lineWidth).normalized();
    const double grow = 0.325 * lineWidth;

    QPainter painter(&bitmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    // A translucent band, and a crisp line along its outer edge.
    painter.setPen(QPen(colour(color, 0.55), lineWidth));
    painter.drawEllipse(band);
    painter.setPen(QPen(colour(color), std::max(0.35 * lineWidth, 1.0)));
    painter.drawEllipse(band.adjusted(-grow, -grow, grow, grow));
    painter.end();
    return bitmap;
}

std::optional<CursorSample> position(std::span<const CursorSample> samples, double t)
{
    if (samples.empty() || samples.front().t > t)
        return std::nullopt;
    // The last sample at or before t.
    const auto after = std::upper_bound(samples.begin(), samples.end(), t,
                                        [](double time, const CursorSample& s) { return time < s.t; });
    const auto a = after - 1;
    if (after == samples.end())
        return *a;
    const CursorSample& b = *after;
    const double f = a->t < b.t ? std::min((t - a->t) / (b.t - a->t), 1.0) : 0.0;
    return CursorSample{t, a->x + (b.x - a->x) * f, a->y + (b.y - a->y) * f};
}

} // namespace ondexa::CursorRenderer
