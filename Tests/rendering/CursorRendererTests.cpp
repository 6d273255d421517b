// The redrawn pointer and click ring, checked at pixels computed from their
// geometry, and the pointer position between samples.

#include "Ondexa/rendering/CursorRenderer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace ondexa;

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

// The premultiplied pixel.
QRgb at(const QImage& image, int x, int y) { return reinterpret_cast<const QRgb*>(image.constScanLine(y))[x]; }

} // namespace

TEST(CursorRenderer, PointerSizeIsTheWholePartWithAFloorOfEight)
{
    CursorStyle style;  // base 0.024, scale 1.5
    EXPECT_EQ(CursorRenderer::pointerPixels(style, 1080), 38);  // 38.88
    EXPECT_EQ(CursorRenderer::pointerPixels(style, 100), 8);    // 3.6
    style.base = notANumber;
    EXPECT_FALSE(CursorRenderer::pointerPixels(style, 1080).has_value());

    // Unit u = h / 19, padding max(1.5u, 2), bitmap ceil(12u + 2p) × ceil(19u + 2p).
    struct Case {
        double height;
        int width, bitmapHeight;
        double padding;
    };
    for (const Case c : {Case{19, 16, 23, 2}, Case{38, 30, 44, 3}, Case{100, 79, 116, 150.0 / 19}, Case{0, 4, 4, 2}}) {
        const auto pointer = CursorRenderer::image(c.height, style);
        ASSERT_TRUE(pointer.has_value()) << c.height;
        EXPECT_EQ(pointer->image.size(), QSize(c.width, c.bitmapHeight)) << c.height;
        EXPECT_DOUBLE_EQ(pointer->padding, c.padding) << c.height;
        EXPECT_EQ(pointer->image.format(), QImage::Format_ARGB32_Premultiplied);
    }
    // 2 pixels wide or less, or absurdly large: nothing.
    EXPECT_FALSE(CursorRenderer::image(-19, style).has_value());
    EXPECT_FALSE(CursorRenderer::image(1e7, style).has_value());
}

TEST(CursorRenderer, PointerHasFillRimAndShadow)
{
    CursorStyle style;
    style.fill = RGBA{1, 0, 0, 1};
    style.outline = RGBA{0, 1, 0, 1};
    // Height 38: unit 2, padding 3; the tip at (3, 3), grid point (gx, gy) at (3 + 2gx, 3 + 2gy).
    const QImage image = CursorRenderer::image(38, style)->image;
    EXPECT_EQ(at(image, 7, 19), qRgba(255, 0, 0, 255));  // grid (2.25, 8.25)
    // The rim: one unit outside the left edge at x = 3.
    EXPECT_EQ(at(image, 1, 19), qRgba(0, 255, 0, 255));
    EXPECT_EQ(at(image, 2, 19), qRgba(0, 255, 0, 255));
    // Beyond the rim under the lower left corner (3, 36): only the black shadow, cast 1.2 px down.
    const QRgb shadow = at(image, 3, 39);
    EXPECT_EQ(shadow & 0xffffff, 0u);
    EXPECT_GE(qAlpha(shadow), 5);
    EXPECT_LE(qAlpha(shadow), 90);
    EXPECT_EQ(qAlpha(at(image, image.width() - 1, 0)), 0);  // far from the diagonal edge
}

TEST(CursorRenderer, RingSizeAndBands)
{
    const CursorStyle style;  // ringWidth 0.22
    EXPECT_EQ(CursorRenderer::ring(0.5, style, style.ringColor)->size(), QSize(5, 5));
    for (const double diameter : {0.0, -3.0, notANumber})
        EXPECT_FALSE(CursorRenderer::ring(diameter, style, style.ringColor)) << diameter;

    // Diameter 80: bitmap 84, centre 42, line width 8.8. The broad band spans
    // radii 31.2 to 40 at 0.55 opacity; the crisp line radii 36.9 to 40.
    const QImage ring = *CursorRenderer::ring(80, style, RGBA{0, 0, 1, 1});
    ASSERT_EQ(ring.width(), 84);
    const QRgb band = at(ring, 42 + 33, 42);  // radius 33.5
    EXPECT_NEAR(qAlpha(band), 140, 2);
    EXPECT_EQ(band, qRgba(0, 0, qAlpha(band), qAlpha(band)));
    for (const QPoint p : {QPoint(42 + 38, 42), QPoint(42 - 39, 42), QPoint(42, 42 + 38)})
        EXPECT_EQ(qAlpha(at(ring, p.x(), p.y())), 255);
    for (const int x : {42 + 28, 42, 42 + 41}) EXPECT_EQ(qAlpha(at(ring, x, 42)), 0);  // inside, centre, outside
}

TEST(CursorRenderer, PositionInterpolatesBetweenSamples)
{
    const std::vector<CursorSample> samples{{1, 0.1, 0.2}, {2, 0.3, 0.6}, {2, 0.9, 0.9}, {4, 0.5, 0.5}};
    EXPECT_FALSE(CursorRenderer::position({}, 1));
    EXPECT_FALSE(CursorRenderer::position(samples, 0.999));
    EXPECT_EQ(CursorRenderer::position(samples, 1), (CursorSample{1, 0.1, 0.2}));
    const auto between = CursorRenderer::position(samples, 1.5);
    ASSERT_TRUE(between);
    EXPECT_DOUBLE_EQ(between->t, 1.5);
    EXPECT_DOUBLE_EQ(between->x, 0.2);
    EXPECT_DOUBLE_EQ(between->y, 0.4);
    // Of two samples at one time the later one counts from then on.
    EXPECT_EQ(CursorRenderer::position(samples, 2), (CursorSample{2, 0.9, 0.9}));
    EXPECT_DOUBLE_EQ(CursorRenderer::position(samples, 3)->x, 0.7);
    // After the last sample it stays, with its own time.
    EXPECT_EQ(CursorRenderer::position(samples, 10), (CursorSample{4, 0.5, 0.5}));
}
