#include "Ondexa/rendering/DropShadow.h"

#include <QImage>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace ondexa {
namespace {

// Sizes of three successive box blurs whose result approximates a Gaussian of
// the given standard deviation.
std::array<int, 3> boxSizes(double sigma)
{
    constexpr int passes = 3;
    const double ideal = std::sqrt(12 * sigma * sigma / passes + 1);
    int lower = static_cast<int>(std::floor(ideal));
    if (lower % 2 == 0)
        --lower;
    lower = std::max(lower, 1);
    const int upper = lower + 2;
    const double m = (12 * sigma * sigma - passes * lower * lower - 4 * passes * lower - 3 * passes) /
                     (-4.0 * lower - 4);
    const int lowerCount = static_cast<int>(std::lround(m));
    std::array<int, 3> sizes{};
    for (int i = 0; i < passes; ++i)
        sizes[i] = i < lowerCount ? lower : upper;
    return sizes;
}

// One box blur along a line of `count` values spaced `stride` apart; outside
// the line is transparent.
void boxLine(const float* in, float* out, int count, int stride, int radius)
{
    const float scale = 1.0f / static_cast<float>(2 * radius + 1);
    float sum = 0;
    for (int i = 0; i <= std::min(radius, count - 1); ++i)
        sum += in[i * stride];
    for (int i = 0; i < count; ++i) {
        out[i * stride] = sum * scale;
        const int add = i + radius + 1;
        const int drop = i - radius;
        if (add < count)
            sum += in[add * stride];
        if (drop >= 0)
            sum -= in[drop * stride];
    }
}

void blur(std::vector<float>& values, int width, int height, double sigma)
{
    if (sigma < 0.2)
        return;
    std::vector<float> scratch(values.size());
    for (int size : boxSizes(sigma)) {
        const int radius = (size - 1) / 2;
        if (radius == 0)
            continue;
        for (int y = 0; y < height; ++y)
            boxLine(values.data() + static_cast<std::size_t>(y) * width,
                    scratch.data() + static_cast<std::size_t>(y) * width, width, 1, radius);
        for (int x = 0; x < width; ++x)
            boxLine(scratch.data() + x, values.data() + x, height, width, radius);
    }
}

QImage newLayer(QSize size)
{
    QImage layer(size, QImage::Format_ARGB32_Premultiplied);
    if (!layer.isNull())
        layer.fill(Qt::transparent);
    return layer;
}

void paintInto(QImage& layer, const QPainter& model, const QTransform& transform,
               const std::function<void(QPainter&)>& draw)
{
    QPainter painter(&layer);
    painter.setRenderHints(model.renderHints());
    painter.setTransform(transform);
    painter.setPen(model.pen());
    painter.setBrush(model.brush());
    painter.setFont(model.font());
    draw(painter);
}

} // namespace

void drawWithShadow(QPainter& painter, const DropShadow* shadow, const QRectF& bounds,
                    const std::function<void(QPainter&)>& draw)
{
    if (!shadow || shadow->color.alpha() == 0) {
        draw(painter);
        return;
    }
    // Blurs wider than this look the same (a faint even shade) and would only
    // cost memory.
    constexpr double widestSigma = 80;
    const double sigma = std::clamp(shadow->blur / 2, 0.0, widestSigma);
    const double spread = std::ceil(3 * sigma) + 2;
    const QTransform transform = painter.worldTransform();
    const QRectF drawn = transform.mapRect(bounds);
    QRectF wanted = drawn.united(drawn.translated(shadow->offset)).adjusted(-spread, -spread, spread, spread);
    // Only what can reach the device matters; the blur's reach is kept so that
    // the edge of the device doesn't cut the shadow short. Cut before rounding
    // to whole pixels, as the wanted area may be far larger than any int.
    if (const QPaintDevice* device = painter.device())
        wanted &= QRectF(-spread, -spread, device->width() + 2 * spread, device->height() + 2 * spread);
    if (!std::isfinite(wanted.width()) || !std::isfinite(wanted.height()) || wanted.isEmpty() ||
        wanted.width() > maximumBitmapSide || wanted.height() > maximumBitmapSide)
        return;
    const QRect area = wanted.toAlignedRect();

    QImage layer = newLayer(area.size());
    QImage cast = newLayer(area.size());
    if (layer.isNull() || cast.isNull())
        return;
    const QTransform toLayer = transform * QTransform::fromTranslate(-area.x(), -area.y());
    paintInto(layer, painter, toLayer, draw);
    // The shadow's shape is drawn again at its (sub-pixel) offset rather than
    // shifting pixels, so its edge stays exact.
    paintInto(cast, painter,
              toLayer * QTransform::fromTranslate(shadow->offset.x(), shadow->offset.y()), draw);

    const int width = area.width();
    const int height = area.height();
    std::vector<float> coverage(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(cast.constScanLine(y));
        for (int x = 0; x < width; ++x)
            coverage[static_cast<std::size_t>(y) * width + x] = qAlpha(row[x]) / 255.0f;
    }
    blur(coverage, width, height, sigma);
    const float alpha = static_cast<float>(shadow->color.alphaF());
    const float red = static_cast<float>(shadow->color.redF());
    const float green = static_cast<float>(shadow->color.greenF());
    const float blue = static_cast<float>(shadow->color.blueF());
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(cast.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const float a = std::clamp(coverage[static_cast<std::size_t>(y) * width + x] * alpha, 0.0f, 1.0f);
            auto channel = [a](float c) { return static_cast<int>(std::lround(c * a * 255)); };
            row[x] = qRgba(channel(red), channel(green), channel(blue), channel(1));
        }
    }

    painter.save();
    painter.resetTransform();
    painter.drawImage(area.topLeft(), cast);
    painter.drawImage(area.topLeft(), layer);
    painter.restore();
}

} // namespace ondexa
