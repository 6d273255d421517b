// Touchpads told from wheels by what the X server says of their devices, over
// device descriptions as real servers report them, and the test desktop's own.

#include "Platform/input/ScrollDevices.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace platform;

namespace {

// As xinput lists them under the libinput driver (Debian's default), the
// synaptics driver and the older evdev one.
PointerDevice libinputTouchpad(int id = 12)
{
    return {id, "SynPS/2 Synaptics TouchPad", "TOUCHPAD", true, {{true, 15}, {false, 15}}};
}
PointerDevice libinputMouse(int id = 10)
{
    return {id, "Logitech USB Optical Mouse", "MOUSE", false, {{true, 15}, {false, 15}}};
}
PointerDevice i2cTouchpadWithoutType(int id = 13)
{
    return {id, "ELAN0501:00 04F3:3060 Touchpad", "", false, {{false, 15}, {true, 15}}};
}
PointerDevice synapticsTouchpad(int id = 14) { return {id, "SynPS/2 Synaptics TouchPad", "TOUCHPAD", true, {{true, 92}}}; }
PointerDevice evdevMouse(int id = 11) { return {id, "PixArt USB Optical Mouse", "MOUSE", false, {{true, 1}, {false, 1}}}; }
PointerDevice xtestPointer(int id = 4) { return {id, "Virtual core XTEST pointer", "", false, {}}; }

} // namespace

TEST(ScrollDevices, TouchpadsScrollSmoothlyAndWheelsByNotches)
{
    const struct {
        PointerDevice device;
        bool smooth;
    } cases[] = {
        {libinputTouchpad(), true},
        {i2cTouchpadWithoutType(), true},  // its name says it
        {synapticsTouchpad(), true},
        {libinputMouse(), false},  // the same increment as the touchpad: the type decides
        {evdevMouse(), false},
        {xtestPointer(), false},
        {{20, "Touchpad without scrolling", "TOUCHPAD", true, {}}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(scrollsSmoothly(c.device), c.smooth) << c.device.name;
}

TEST(ScrollDevices, AngleDeltasTurnBackIntoTheFingersMotion)
{
    // Two fingers moving 2.5, 4 and 7.5 units up, as Qt reports them: the
    // valuator's motion over its increment of 15, times 120, whole numbers.
    std::vector<SmoothDelta> pans;
    for (const int angle : {20, 32, 60}) {
        const auto delta = smoothDelta(libinputTouchpad(), 0, angle);
        ASSERT_TRUE(delta);
        pans.push_back(*delta);
    }
    EXPECT_EQ(pans, (std::vector<SmoothDelta>{{0, 2.5}, {0, 4}, {0, 7.5}}));
    EXPECT_EQ(smoothDelta(libinputTouchpad(), -40, 8), (SmoothDelta{-5, 1}));
    EXPECT_EQ(smoothDelta(synapticsTouchpad(), 0, -120), (SmoothDelta{0, -92}));
    // Without a horizontal valuator the vertical one's increment serves both.
    EXPECT_EQ(smoothDelta(synapticsTouchpad(), 60, 0), (SmoothDelta{46, 0}));
    // A wheel's notches stay notches, under either driver.
    for (const int angle : {120, -120, 240}) {
        EXPECT_FALSE(smoothDelta(libinputMouse(), 0, angle));
        EXPECT_FALSE(smoothDelta(evdevMouse(), 0, angle));
    }
}

TEST(ScrollDevices, TheJudgeAsksTheServerAtFirstAndAgainForNewDevices)
{
    int queries = 0;
    std::vector<PointerDevice> plugged{xtestPointer(), libinputMouse()};
    ScrollJudge judge([&] {
        ++queries;
        return plugged;
    });
    EXPECT_EQ(queries, 0) << "nothing is asked before the first scroll";
    EXPECT_FALSE(judge.judge(10, 0, 120));
    EXPECT_FALSE(judge.judge(10, 0, -120));
    EXPECT_EQ(queries, 1);

    // A touchpad plugged in later is found at its first scroll.
    plugged.push_back(libinputTouchpad());
    EXPECT_EQ(judge.judge(12, 0, 16), (SmoothDelta{0, 2}));
    EXPECT_EQ(judge.judge(12, 0, -16), (SmoothDelta{0, -2}));
    EXPECT_EQ(queries, 2);
    EXPECT_FALSE(judge.judge(10, 0, 120)) << "the mouse is still known";
    // An id the server never names is asked about once, not at every event.
    EXPECT_FALSE(judge.judge(99, 0, 16));
    EXPECT_FALSE(judge.judge(99, 0, 16));
    EXPECT_EQ(queries, 3);
}

TEST(ScrollDevices, TheTestDesktopNamesItsPointersAndNoneIsATouchpad)
{
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "these tests run on the test desktop";
    const std::vector<PointerDevice> devices = queryPointerDevices();
    ASSERT_FALSE(devices.empty());
    bool xtest = false;
    for (const PointerDevice& device : devices) {
        EXPECT_GT(device.id, 1) << device.name;
        EXPECT_FALSE(scrollsSmoothly(device)) << device.name;
        xtest = xtest || device.name == "Virtual core XTEST pointer";
    }
    EXPECT_TRUE(xtest);
    EXPECT_TRUE(queryPointerDevices(":9999").empty()) << "an unreachable display names none";
}
