// The area selector and highlight on the test desktop: the pointer and the
// keyboard driven by xdotool, the screen read back through the X server.

#include "Ondexa/recording/AreaHighlight.h"
#include "Ondexa/recording/AreaSelector.h"
#include "Platform/capture/ScreenContent.h"
#include "Platform/capture/ScreenGrab.h"
#include "Platform/capture/TestDesktop.h"
#include "recording/AppStateFakes.h"

#include <QWindow>

using namespace std::chrono_literals;
using namespace ondexa::testing;
using ondexa::AreaHighlight;
using ondexa::AreaSelector;

namespace {

constexpr std::uint32_t kBlue = 0x3366CC;
constexpr std::uint32_t kDimmedBlue = 0x1C3870;  // under black at 0.45

std::uint32_t screenPixel(QPoint at) { return testdesktop::rgbAt(platform::grabScreen(QRect(at, QSize(1, 1))), 0, 0); }

bool near(std::uint32_t a, std::uint32_t b)
{
    for (int shift : {0, 8, 16})
        if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > 3) return false;
    return true;
}

bool screenShows(QPoint at, std::uint32_t rgb)
{
    return pumpUntil([&] { return near(screenPixel(at), rgb); }, 5s);
}

class AreaWindowsOnTheDesktop : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(testdesktop::haveDisplay());
        display = platform::ScreenContent::fetch().displays.front();
        background.emplace(client, QRect(0, 0, 640, 480), kBlue);
        client.sync();
        ASSERT_TRUE(screenShows(QPoint(320, 240), kBlue));
    }

    // A background window at a chosen place, and no panel over the screen.
    testdesktop::BareDesktop bare;
    testdesktop::Client client;
    std::optional<testdesktop::Window> background;
    platform::ScreenDisplay display;
};

} // namespace

TEST_F(AreaWindowsOnTheDesktop, TheSelectorShowsTheScreenDimmedAndEscapeDuringADragCancels)
{
    int calls = 0;
    std::optional<QRectF> chosen = QRectF(1, 1, 1, 1);
    AreaSelector selector(display, [&](std::optional<QRectF> area) {
        ++calls;
        chosen = area;
    });
    EXPECT_TRUE(near(testdesktop::rgbAt(selector.snapshot(), 320, 50), kDimmedBlue));
    ASSERT_TRUE(screenShows(QPoint(320, 50), kDimmedBlue));  // above everything

    ASSERT_EQ(xdotool("mousemove 100 100 mousedown 1 mousemove 300 300 key Escape mouseup 1"), 0);
    ASSERT_TRUE(pumpUntil([&] { return calls > 0; }, 5s));
    EXPECT_FALSE(chosen);
    EXPECT_TRUE(screenShows(QPoint(320, 50), kBlue)) << "the screen is ours again";
    pumpFor(200ms);
    EXPECT_EQ(calls, 1);
}

TEST_F(AreaWindowsOnTheDesktop, TheHighlightLeavesTheAreaUntouched)
{
    // Xvfb runs no compositing manager: the highlight is a frame around the area.
    EXPECT_FALSE(platform::compositingManagerRunning());
    const QRectF area(100.5, 80, 200, 120);
    const QRect hole = AreaHighlight::hole(display.frame, area);
    AreaHighlight highlight(display, area);
    ASSERT_EQ(highlight.style(), AreaHighlight::Style::outlineOnly);
    ASSERT_EQ(highlight.windows().size(), 4u);

    // The outline is drawn just outside the area on every side …
    const QPoint c = hole.center();
    const std::vector<QPoint> ring = {{hole.left() - 1, c.y()}, {hole.right() + 1, c.y()}, {c.x(), hole.top() - 1},
                                      {c.x(), hole.bottom() + 1}};
    const auto ringShown = [&] {
        return std::none_of(ring.begin(), ring.end(), [](QPoint at) { return screenPixel(at) == kBlue; });
    };
    ASSERT_TRUE(pumpUntil(ringShown, 5s));

    // … and every pixel inside is what was there.
    const QImage inside = platform::grabScreen(hole);
    for (int y = 0; y < inside.height(); ++y)
        for (int x = 0; x < inside.width(); ++x) ASSERT_EQ(testdesktop::rgbAt(inside, x, y), kBlue) << x << "," << y;
    for (QWindow* window : highlight.windows()) EXPECT_TRUE(AreaHighlight::isHighlightWindow(window));

    highlight.orderOut();
    EXPECT_TRUE(screenShows(ring[0], kBlue));
}
