// Where the clip inspector's size, preset and corner controls put a picture,
// and the ranges of its fade sliders.

#include "Ondexa/editor/inspector/ActionTimes.h"
#include "Ondexa/editor/inspector/ClipGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

namespace ondexa {
namespace {

namespace geo = clipgeometry;

constexpr double wide = 16.0 / 9.0;
constexpr double classic = 4.0 / 3.0;

void expectRect(const NRect& actual, const NRect& expected, const std::string& where)
{
    SCOPED_TRACE(where);
    EXPECT_NEAR(actual.x, expected.x, 1e-9);
    EXPECT_NEAR(actual.y, expected.y, 1e-9);
    EXPECT_NEAR(actual.w, expected.w, 1e-9);
    EXPECT_NEAR(actual.h, expected.h, 1e-9);
}

Clip clipOf(double aspect, std::optional<NRect> frame = std::nullopt)
{
    Clip clip;
    clip.aspect = aspect;
    clip.frame = frame;
    clip.rotation = 12;
    return clip;
}

TEST(InspectorClipGeometry, FillCoversTheOutputCentred)
{
    struct Case {
        double clipAspect;
        NRect expected;
    };
    const Case cases[] = {
        {classic, {0, -1.0 / 6.0, 1, 4.0 / 3.0}},         // narrower: cut at top and bottom
        {wide, {0, 0, 1, 1}},                             // same shape
        {21.0 / 9.0, {-0.15625, 0, 1.3125, 1}},           // wider: cut at the sides
        {0, {0, 0, 1, 1}},                                // damaged aspect: no infinite frame
        {std::numeric_limits<double>::quiet_NaN(), {0, 0, 1, 1}},
    };
    for (const Case& c : cases) expectRect(geo::filling(wide, c.clipAspect), c.expected, std::to_string(c.clipAspect));
}

TEST(InspectorClipGeometry, CornerPresetKeepsTheClipsAspect)
{
    expectRect(geo::inCorner(wide, classic), {0.69, 0.6, 0.28, 0.28 * wide / classic}, "4:3");
    EXPECT_NEAR(geo::inCorner(wide, classic).h, 0.3733333333, 1e-9);
    expectRect(geo::inCorner(wide, wide), {0.69, 0.6, 0.28, 0.28}, "16:9");
    expectRect(geo::inCorner(wide, -1), {0.69, 0.6, 0.28, 0.28}, "damaged aspect");
}

TEST(InspectorClipGeometry, SizeIsMeasuredAgainstTheFitAndKeepsTheCentre)
{
    EXPECT_DOUBLE_EQ(geo::size(clipOf(classic), wide), 1);
    EXPECT_DOUBLE_EQ(geo::size(clipOf(classic, NRect{0, 0, 0.375, 0.5}), wide), 0.5);
    EXPECT_DOUBLE_EQ(geo::size(clipOf(wide / 2, NRect{0, 0, 0.25, 0.5}), wide), 0.5);
    EXPECT_DOUBLE_EQ(geo::size(clipOf(2 * wide, NRect{0, 0, 0.5, 0.25}), wide), 0.5);

    expectRect(geo::sized(clipOf(classic), wide, 0.5), {0.3125, 0.25, 0.375, 0.5}, "no frame: centred");
    expectRect(geo::sized(clipOf(wide, NRect{0.1, 0.2, 0.2, 0.2}), wide, 2), {-0.8, -0.7, 2, 2}, "framed: centre kept");
    expectRect(geo::sized(clipOf(2 * wide), wide, 1), {0, 0.25, 1, 0.5}, "wider than the output");
}

TEST(InspectorClipGeometry, FadeLimitsLeaveRoomForTheOtherFade)
{
    struct Case {
        double duration, otherFade, limit;
    };
    const Case cases[] = {{30, 0, 10}, {5, 2, 3}, {4, 1, 3}, {0.05, 0, 0.1}, {2, 2, 0.1}, {10.5, 0.25, 10}};
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(geo::fadeLimit(c.duration, c.otherFade), c.limit) << c.duration << " − " << c.otherFade;
}

TEST(InspectorActionTimes, EndsMoveToThePlayheadKeepingATenthApart)
{
    TrackAction action;
    action.start = 1;
    action.end = 2;
    struct Case {
        bool start;
        double actionStart, playhead;
        double expected;
    };
    // The clip starts at 5; action times are relative to it.
    const Case cases[] = {
        {true, 1, 3, -2},     // before the clip: negative
        {true, 1, 10, 1.9},   // after the end: a tenth before it
        {true, 1, 6.5, 1.5},
        {false, 1, 3, 1.1},   // before the start: a tenth after it
        {false, 1, 9, 4},     // no upper limit
        {false, -2, 5.5, 0.5},
    };
    for (const Case& c : cases) {
        action.start = c.actionStart;
        const TrackAction moved =
            c.start ? actiontimes::startingAt(action, 5, c.playhead) : actiontimes::endingAt(action, 5, c.playhead);
        const double value = c.start ? moved.start : moved.end;
        EXPECT_NEAR(value, c.expected, 1e-12) << (c.start ? "start" : "end") << " at " << c.playhead;
        EXPECT_EQ(c.start ? moved.end : moved.start, c.start ? action.end : action.start);
    }
}

} // namespace
} // namespace ondexa
