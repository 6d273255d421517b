#include "Platform/input/ClickMonitor.h"
#include "Platform/input/PointerPosition.h"

#include "InputTestSupport.h"

#include <mutex>
#include <vector>

using namespace platform;
using namespace inputtest;

TEST(ClickMonitor, ReportsLeftAndRightPressesWithPositionOnTheMainThread)
{
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "these tests run on the test desktop";
    std::mutex mutex;
    std::vector<std::function<void()>> posted;  // stands in for the main thread's queue
    std::vector<MouseClick> clicks;
    const auto mainThread = std::this_thread::get_id();
    ClickMonitor monitor(
        [&](const MouseClick& click) {
            EXPECT_EQ(std::this_thread::get_id(), mainThread);
            clicks.push_back(click);
        },
        [&](std::function<void()> work) {
            std::lock_guard lock(mutex);
            posted.push_back(std::move(work));
        });
    ASSERT_TRUE(monitor.start()) << monitor.error();

    run("xdotool mousemove 100 200 click 1");
    run("xdotool mousemove 1500 40 click 3");
    // Middle button and the wheel are not clicks; the last left click comes after them.
    run("xdotool mousemove 700 700 click 2 click 4 click 5 click 6 click 7");
    run("xdotool mousemove 10 1070 click 1");
    EXPECT_TRUE(waitFor([&] {
        std::lock_guard lock(mutex);
        return posted.size() >= 3;
    }));
    std::lock_guard lock(mutex);
    for (auto& work : posted) work();

    ASSERT_EQ(clicks.size(), 3u);
    EXPECT_EQ(clicks[0].button, MouseButton::left);
    EXPECT_EQ(clicks[0].position, (RootPoint{100, 200}));
    EXPECT_EQ(clicks[1].button, MouseButton::right);
    EXPECT_EQ(clicks[1].position, (RootPoint{1500, 40}));
    EXPECT_EQ(clicks[2].button, MouseButton::left);
    EXPECT_EQ(clicks[2].position, (RootPoint{10, 1070}));
    EXPECT_LT(clicks[0].hostTime, clicks[1].hostTime);
}

TEST(PointerPosition, FollowsThePointer)
{
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "these tests run on the test desktop";
    PointerPosition pointer;
    for (RootPoint at : {RootPoint{321, 654}, RootPoint{0, 0}, RootPoint{1919, 1079}}) {
        run("xdotool mousemove " + std::to_string(at.x) + " " + std::to_string(at.y));
        EXPECT_EQ(pointer.current(), at);
    }
}

namespace {

// Puts the pointer's default button map back when the test ends, whatever
// it left: the map outlives the test on the shared test desktop.
struct DefaultButtonMapAtEnd {
    ~DefaultButtonMapAtEnd() { succeeds("xmodmap -e 'pointer = default'"); }
};

} // namespace

TEST(ClickMonitor, ALeftHandedButtonMapTurnsThePhysicalLeftPressIntoARightClick)
{
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "these tests run on the test desktop";
    DefaultButtonMapAtEnd restore;
    std::mutex mutex;
    std::vector<std::function<void()>> posted;
    std::vector<MouseButton> buttons;
    ClickMonitor monitor([&](const MouseClick& click) { buttons.push_back(click.button); },
                         [&](std::function<void()> work) {
                             std::lock_guard lock(mutex);
                             posted.push_back(std::move(work));
                         });
    const auto clicksArrived = [&](std::size_t count) {
        return waitFor([&] {
            std::lock_guard lock(mutex);
            return posted.size() >= count;
        });
    };

    // Swapped before the monitor starts: read at its start. XTest's button 1
    // is the physical left button; programs see it as button 3.
    run("xmodmap -e 'pointer = 3 2 1'");
    ASSERT_TRUE(monitor.start()) << monitor.error();
    run("xdotool mousemove 300 300 click 1");
    run("xdotool click 3");
    ASSERT_TRUE(clicksArrived(2));
    // Changed while it runs: followed from the server's notice.
    run("xmodmap -e 'pointer = default'");
    run("xdotool click 1");
    ASSERT_TRUE(clicksArrived(3));
    run("xmodmap -e 'pointer = 3 2 1'");
    run("xdotool click 1");
    ASSERT_TRUE(clicksArrived(4));

    std::lock_guard lock(mutex);
    for (auto& work : posted) work();
    EXPECT_EQ(buttons, (std::vector<MouseButton>{MouseButton::right, MouseButton::left, MouseButton::left,
                                                 MouseButton::right}));
}
