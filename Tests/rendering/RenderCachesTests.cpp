// The compositor's image caches: what is shared, what is drawn again, the
// bound.

#include "Ondexa/rendering/RenderCaches.h"

#include "rendering/GuiTestApplication.h"

#include <gtest/gtest.h>

#include <vector>

using namespace ondexa;

namespace {

Overlay rectangle(double x)
{
    Overlay overlay;
    overlay.kind = OverlayKind::rectangle;
    overlay.rect = NRect{x, 0.25, 0.2, 0.5};
    overlay.lineWidth = 0.005;
    overlay.color = RGBA{1, 1, 1, 1};
    return overlay;
}

} // namespace

TEST(RenderCaches, OverlayImageIsSharedAcrossTimesButNotSizesAndTheCacheIsBounded)
{
    RenderCaches caches;
    Overlay overlay = rectangle(0.1);
    overlay.end = 2;
    const auto first = caches.overlay(overlay, QSize(320, 180));
    overlay.start = 5;
    overlay.end = 9;
    EXPECT_EQ(caches.overlay(overlay, QSize(320, 180))->image.cacheKey(), first->image.cacheKey());
    EXPECT_EQ(caches.overlayCount(), 1u);
    // Same width, another height: drawn again for that height. The rectangle's
    // top is at 0.25 of the height; the faint shadow reaches a little above it.
    const auto taller = caches.overlay(overlay, QSize(320, 360));
    EXPECT_EQ(caches.overlayCount(), 2u);
    EXPECT_NEAR(first->origin.y(), 45, 3);
    EXPECT_NEAR(taller->origin.y(), 90, 3);

    // The 26th distinct image finds the cache full and empties it first.
    RenderCaches bounded;
    for (int i = 0; i < 60; ++i) {
        ASSERT_TRUE(bounded.overlay(rectangle(i / 100.0), QSize(320, 180)).has_value());
        EXPECT_EQ(bounded.overlayCount(), std::size_t(i % 25 + 1));
    }
}

TEST(RenderCaches, PointerAndRingAreRedrawnOnlyForANewPixelSizeStyleOrButton)
{
    RenderCaches caches;
    EXPECT_FALSE(caches.pointer(std::nullopt, 1000).has_value());
    CursorStyle style;  // 0.024 × 1.5: 36 px at 1000, also at 1001; 39 at 1100
    const auto first = caches.pointer(style, 1000);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->image.height(), 42);  // ceil(36 + 2 × 1.5 × 36 / 19)
    EXPECT_EQ(caches.pointer(style, 1001)->image.cacheKey(), first->image.cacheKey());
    const auto larger = caches.pointer(style, 1100);
    EXPECT_GT(larger->image.height(), first->image.height());
    style.fill = RGBA{1, 0, 0, 1};
    EXPECT_NE(caches.pointer(style, 1100)->image.cacheKey(), larger->image.cacheKey());

    EXPECT_FALSE(caches.ring(style, 1000, false).has_value());  // rings are off by default
    style.ring = true;
    style.ringColor = RGBA{1, 0, 0, 1};
    style.ringRightColor = RGBA{0, 0, 1, 1};
    const auto left = caches.ring(style, 1000, false), right = caches.ring(style, 1000, true);
    ASSERT_TRUE(left && right);
    // 2.2 × 36 = 79.2 px across in a bitmap of 84; the crisp line runs just inside the outer edge.
    ASSERT_EQ(left->width(), 84);
    EXPECT_EQ(left->pixel(42 + 38, 42), qRgb(255, 0, 0));
    EXPECT_EQ(right->pixel(42 + 38, 42), qRgb(0, 0, 255));
    EXPECT_EQ(caches.ring(style, 1000, false)->cacheKey(), left->cacheKey());
    EXPECT_EQ(caches.ring(style, 1000, true)->cacheKey(), right->cacheKey());
}
