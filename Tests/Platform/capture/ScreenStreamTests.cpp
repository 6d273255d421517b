#include "Platform/capture/ScreenStream.h"

#include "Platform/core/HostClock.h"
#include "TestDesktop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;
using platform::ScreenContent;
using platform::ScreenDisplay;
using platform::ScreenStream;
using testdesktop::FrameCollector;
using testdesktop::rgbAt;

namespace {

constexpr std::uint32_t red = 0xFF0000, green = 0x00FF00, blue = 0x0000FF, white = 0xFFFFFF, yellow = 0xFFFF00;

class ScreenStreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(testdesktop::haveDisplay()) << "needs the test desktop (DISPLAY)";
        display = ScreenContent::fetch().displays.at(0);
    }

    ScreenStream::Configuration configuration(ScreenStream::Target target, int fps = 30, bool cursor = false)
    {
        ScreenStream::Configuration c;
        c.target = target;
        c.framesPerSecond = fps;
        c.showsCursor = cursor;
        return c;
    }

    testdesktop::Client client;
    ScreenDisplay display;
    FrameCollector collector;
};

} // namespace

TEST_F(ScreenStreamTest, DisplayFramesShowTheScreenAndAreStampedAtTheirDeadlines)
{
    testdesktop::Window window(client, QRect(200, 150, 160, 120), red);
    ScreenStream stream(configuration(ScreenStream::Target::ofDisplay(display), 20), collector.frameHandler(),
                        collector.errorHandler());
    const std::int64_t before = platform::HostClock::nowNanoseconds();
    stream.start();
    EXPECT_EQ(stream.outputSize(), QSize(1920, 1080));

    auto first = collector.waitForPixel(QPoint(280, 210), red, 2s);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->image.size(), QSize(1920, 1080));
    EXPECT_GE(first->hostTime, before);
    EXPECT_LE(first->hostTime, platform::HostClock::nowNanoseconds());

    // The picture changes constantly: a frame at every deadline.
    std::atomic<bool> painting{true};
    std::thread painter([&] {
        testdesktop::Client own;
        testdesktop::Window flicker(own, QRect(600, 600, 40, 40), 0);
        for (std::uint32_t i = 1; painting; ++i) {
            flicker.fill(i * 0x010203u);
            std::this_thread::sleep_for(5ms);
        }
    });
    const std::size_t start = collector.count();
    ASSERT_TRUE(collector.waitForFrames(start + 8, 2s));
    window.fill(blue);
    EXPECT_TRUE(collector.waitForPixel(QPoint(280, 210), blue, 2s));
    painting = false;
    painter.join();
    stream.stop();

    const auto frames = collector.frames();
    for (std::size_t i = start + 1; i < start + 8; ++i) {
        const double gap = double(frames[i].hostTime - frames[i - 1].hostTime) / 1e9;
        EXPECT_GT(gap, 0.040) << i;  // never two frames in one 50 ms slot
        EXPECT_LT(gap, 0.110) << i;  // and none skipped while the picture changes
    }
    EXPECT_FALSE(collector.error());
}

TEST_F(ScreenStreamTest, AnUnchangedPictureDeliversNoNewFrame)
{
    testdesktop::Window window(client, QRect(1000, 100, 200, 150), green);
    ScreenStream stream(configuration(ScreenStream::Target::ofArea(display, QRect(1020, 120, 100, 80)), 30),
                        collector.frameHandler(), collector.errorHandler());
    stream.start();
    ASSERT_TRUE(collector.waitForPixel(QPoint(50, 40), green, 2s));
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(collector.count(), 1u);
    EXPECT_GE(stream.statistics().unchanged, 8);

    window.fillRect(QRect(40, 40, 10, 10), yellow);
    EXPECT_TRUE(collector.waitForPixel(QPoint(20, 20), yellow, 2s));
    EXPECT_EQ(collector.count(), 2u);
}

TEST_F(ScreenStreamTest, AreasAreCutExactlyAndScaledToFit)
{
    // Four quadrants of 50 × 40 at (700, 300).
    testdesktop::Window window(client, QRect(700, 300, 100, 80), red);
    window.fillRect(QRect(50, 0, 50, 40), green);
    window.fillRect(QRect(0, 40, 50, 40), blue);
    window.fillRect(QRect(50, 40, 50, 40), white);

    {   // exact: the area's corners are the quadrants' corners
        FrameCollector exact;
        ScreenStream stream(configuration(ScreenStream::Target::ofArea(display, QRect(700, 300, 100, 80))),
                            exact.frameHandler(), exact.errorHandler());
        stream.start();
        ASSERT_TRUE(exact.waitForFrames(1, 2s));
        const QImage image = exact.frames()[0].image;
        ASSERT_EQ(image.size(), QSize(100, 80));
        EXPECT_EQ(rgbAt(image, 0, 0), red);
        EXPECT_EQ(rgbAt(image, 49, 39), red);
        EXPECT_EQ(rgbAt(image, 50, 0), green);
        EXPECT_EQ(rgbAt(image, 0, 40), blue);
        EXPECT_EQ(rgbAt(image, 99, 79), white);
    }
    {   // odd sides rounded down to even are cut, not scaled: pixels stay put
        FrameCollector cut;
        auto c = configuration(ScreenStream::Target::ofArea(display, QRect(690, 290, 61, 51)));
        c.outputSize = QSize(60, 50);
        ScreenStream stream(c, cut.frameHandler(), cut.errorHandler());
        stream.start();
        ASSERT_TRUE(cut.waitForFrames(1, 2s));
        const QImage image = cut.frames()[0].image;
        ASSERT_EQ(image.size(), QSize(60, 50));
        EXPECT_NE(rgbAt(image, 9, 9), red);
        EXPECT_EQ(rgbAt(image, 10, 10), red);
        EXPECT_EQ(rgbAt(image, 59, 49), red);
    }
    {   // half size: the quadrants keep their places
        FrameCollector half;
        auto c = configuration(ScreenStream::Target::ofArea(display, QRect(700, 300, 100, 80)));
        c.outputSize = QSize(50, 40);
        ScreenStream stream(c, half.frameHandler(), half.errorHandler());
        stream.start();
        EXPECT_EQ(stream.outputSize(), QSize(50, 40));
        ASSERT_TRUE(half.waitForFrames(1, 2s));
        const QImage image = half.frames()[0].image;
        ASSERT_EQ(image.size(), QSize(50, 40));
        EXPECT_EQ(rgbAt(image, 12, 10), red);
        EXPECT_EQ(rgbAt(image, 37, 10), green);
        EXPECT_EQ(rgbAt(image, 12, 30), blue);
        EXPECT_EQ(rgbAt(image, 37, 30), white);
    }
}

TEST_F(ScreenStreamTest, TargetsOutsideTheScreenOrGoneAreRefusedAtStart)
{
    ScreenStream outside(configuration(ScreenStream::Target::ofArea(display, QRect(1900, 1000, 21, 81))),
                         collector.frameHandler(), collector.errorHandler());
    EXPECT_THROW(outside.start(), platform::CaptureError);

    std::uint32_t gone = 0;
    {
        testdesktop::Window window(client, QRect(10, 10, 50, 50), red);
        gone = window.id();
    }
    ScreenStream missing(configuration(ScreenStream::Target::ofWindow(gone)), collector.frameHandler(),
                         collector.errorHandler());
    try {
        missing.start();
        FAIL() << "a window that no longer exists was accepted";
    } catch (const platform::CaptureError& e) {
        EXPECT_STREQ(e.what(), "A kiválasztott ablak már nem található.");
    }
}

TEST_F(ScreenStreamTest, AWindowIsCapturedEvenWhenCoveredFollowsItsSizeAndEndsWhenItCloses)
{
    auto window = std::make_unique<testdesktop::Window>(client, QRect(300, 500, 200, 150), green);
    window->fillRect(QRect(10, 10, 20, 20), red);
    ScreenStream stream(configuration(ScreenStream::Target::ofWindow(window->id()), 30), collector.frameHandler(),
                        collector.errorHandler());
    stream.start();
    EXPECT_EQ(stream.outputSize(), QSize(200, 150));
    auto first = collector.waitForPixel(QPoint(15, 15), red, 2s);
    ASSERT_TRUE(first);
    EXPECT_EQ(rgbAt(first->image, 100, 100), green);
    EXPECT_EQ(rgbAt(first->image, 199, 149), green);

    // Covered by another window, its own picture still arrives.
    testdesktop::Window cover(client, QRect(250, 450, 300, 250), yellow);
    window->fill(blue);
    auto covered = collector.waitForPixel(QPoint(100, 75), blue, 2s);
    ASSERT_TRUE(covered);
    EXPECT_EQ(rgbAt(covered->image, 5, 5), blue);

    // Twice as wide, as high: scaled to fit the output, centred on black.
    window->setGeometry(QRect(300, 500, 400, 150));
    window->fill(red);
    auto wide = collector.waitForPixel(QPoint(100, 75), red, 2s);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->image.size(), QSize(200, 150));
    EXPECT_EQ(rgbAt(wide->image, 100, 10), 0x000000u);
    EXPECT_EQ(rgbAt(wide->image, 100, 140), 0x000000u);

    window.reset();  // closes it
    ASSERT_TRUE(collector.waitForError(2s));
    EXPECT_EQ(*collector.error(), "A felvett ablak bezárult.");
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(collector.frameAfterError());
    stream.stop();
}

// Under a reparenting window manager the picture is the window with its
// frame, the rectangle the window list reports. The test plays the manager.
TEST_F(ScreenStreamTest, AManagedWindowIsCapturedWithItsFrame)
{
    testdesktop::Window frame(client, QRect(900, 200, 208, 178), yellow);  // 4 px sides, 24 px title bar
    testdesktop::Window window(client, QRect(0, 0, 200, 150), blue);
    xcb_reparent_window(client.get(), window.id(), frame.id(), 4, 24);
    window.setLongs("_NET_FRAME_EXTENTS", XCB_ATOM_CARDINAL, {4, 4, 24, 4});

    {
        struct ManagerLists {
            testdesktop::Client& client;
            ~ManagerLists() { client.deleteRootProperty("_NET_CLIENT_LIST"); }
        } restore{client};
        client.setRootLongs("_NET_CLIENT_LIST", XCB_ATOM_WINDOW, {window.id()});
        const auto windows = ScreenContent::fetch({.excludeOwnProcess = false}).windows;
        ASSERT_EQ(windows.size(), 1u);
        EXPECT_EQ(windows[0].id, window.id());
        EXPECT_EQ(windows[0].frame, QRect(900, 200, 208, 178));
    }

    ScreenStream stream(configuration(ScreenStream::Target::ofWindow(window.id())), collector.frameHandler(),
                        collector.errorHandler());
    stream.start();
    EXPECT_EQ(stream.outputSize(), QSize(208, 178));
    auto picture = collector.waitForPixel(QPoint(100, 100), blue, 2s);
    ASSERT_TRUE(picture);
    EXPECT_EQ(rgbAt(picture->image, 100, 10), yellow);
    EXPECT_EQ(rgbAt(picture->image, 1, 100), yellow);
    EXPECT_EQ(rgbAt(picture->image, 4, 24), blue);
    EXPECT_EQ(rgbAt(picture->image, 203, 173), blue);
}

TEST_F(ScreenStreamTest, ThePointerIsDrawnOnlyWhenAsked)
{
    testdesktop::Window window(client, QRect(800, 600, 120, 120), white);
    client.warpPointer(860, 660);
    const QRect area(800, 600, 120, 120);

    auto nonWhite = [](const QImage& image, QRect* bounds) {
        int count = 0;
        QRect box;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (rgbAt(image, x, y) != white) {
                    ++count;
                    box |= QRect(x, y, 1, 1);
                }
        if (bounds) *bounds = box;
        return count;
    };

    {
        FrameCollector without;
        ScreenStream stream(configuration(ScreenStream::Target::ofArea(display, area), 30, false),
                            without.frameHandler(), without.errorHandler());
        stream.start();
        ASSERT_TRUE(without.waitForFrames(1, 2s));
        EXPECT_EQ(nonWhite(without.frames()[0].image, nullptr), 0);
    }
    {
        FrameCollector with;
        ScreenStream stream(configuration(ScreenStream::Target::ofArea(display, area), 30, true),
                            with.frameHandler(), with.errorHandler());
        stream.start();
        ASSERT_TRUE(with.waitForFrames(1, 2s));
        QRect bounds;
        EXPECT_GT(nonWhite(with.frames()[0].image, &bounds), 10);
        EXPECT_TRUE(QRect(30, 30, 60, 60).contains(bounds)) << bounds.x() << "," << bounds.y() << " "
                                                             << bounds.width() << "x" << bounds.height();

        // Moving the pointer is a change of the picture.
        client.warpPointer(820, 620);
        ASSERT_TRUE(with.waitForFrames(2, 2s));
        QRect moved;
        nonWhite(with.frames()[1].image, &moved);
        EXPECT_LT(moved.center().x(), bounds.center().x());
    }
}

TEST_F(ScreenStreamTest, AtMostEightFramesAreInFlight)
{
    testdesktop::Window window(client, QRect(1300, 700, 64, 64), 0);
    std::mutex mutex;
    std::vector<platform::ScreenFrame> held;  // guarded by mutex
    ScreenStream stream(configuration(ScreenStream::Target::ofArea(display, QRect(1300, 700, 64, 64)), 60),
                        [&](platform::ScreenFrame frame) {
                            std::lock_guard lock(mutex);
                            held.push_back(std::move(frame));
                        },
                        collector.errorHandler());
    stream.start();
    for (std::uint32_t i = 1; i <= 30; ++i) {
        window.fill(i * 0x050505u);
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(stream.statistics().delivered, ScreenStream::maximumFramesInFlight);
    EXPECT_GT(stream.statistics().droppedInFlight, 0);
    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(held.size(), std::size_t(ScreenStream::maximumFramesInFlight));
        EXPECT_LT(held.front().hostTime, held.back().hostTime);
        held.clear();  // the consumer catches up
    }
    // The latest picture comes through although the screen has stopped changing.
    const std::uint32_t last = 30 * 0x050505u;
    for (int i = 0; i < 40; ++i) {
        {
            std::lock_guard lock(mutex);
            if (!held.empty()) break;
        }
        std::this_thread::sleep_for(10ms);
    }
    stream.stop();
    std::lock_guard lock(mutex);
    ASSERT_FALSE(held.empty());
    EXPECT_EQ(rgbAt(held.back().image, 10, 10), last);
}
