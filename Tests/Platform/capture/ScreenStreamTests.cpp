#include "Platform/capture/ScreenStream.h"

#include "Platform/core/HostClock.h"
#include "TestDesktop.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

using namespace std::chrono_literals;
using platform::ScreenStream;
using testdesktop::rgbAt;

namespace {

constexpr std::uint32_t red = 0xFF0000, green = 0x00FF00, blue = 0x0000FF, white = 0xFFFFFF, yellow = 0xFFFF00;

// Collects a stream's frames as deep copies (so the stream's pool stays free).
class FrameCollector {
public:
    struct Frame {
        QImage image;
        std::int64_t hostTime = 0;
    };
    struct State {
        std::vector<Frame> frames;
        std::optional<std::string> error;
        bool frameAfterError = false;  // it must not happen
    };

    // Runs `change` under the lock and wakes the waiters.
    void update(const std::function<void(State&)>& change)
    {
        std::lock_guard lock(mutex_);
        change(state_);
        changed_.notify_all();
    }
    // The state once `done` holds (waiting up to five seconds), or now.
    State state(const std::function<bool(const State&)>& done = {})
    {
        std::unique_lock lock(mutex_);
        if (done) changed_.wait_for(lock, 5s, [&] { return done(state_); });
        return state_;
    }
    // The newest frame whose pixel at `at` has colour `rgb`, once one comes.
    std::optional<Frame> waitForPixel(QPoint at, std::uint32_t rgb)
    {
        std::optional<Frame> found;
        state([&](const State& s) {
            for (auto it = s.frames.rbegin(); it != s.frames.rend() && !found; ++it)
                if (it->image.valid(at) && rgbAt(it->image, at.x(), at.y()) == rgb) found = *it;
            return found.has_value();
        });
        return found;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    State state_;  // guarded by mutex_
};

class ScreenStreamTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(testdesktop::haveDisplay()) << "needs the test desktop (DISPLAY)"; }

    ScreenStream::Target area(QRect rect) { return ScreenStream::Target::ofArea(display, rect); }
    // A started stream delivering into `into`.
    std::unique_ptr<ScreenStream> start(ScreenStream::Target target, FrameCollector& into, int fps = 30,
                                        bool cursor = false, QSize outputSize = {})
    {
        auto onFrame = [&into](platform::ScreenFrame frame) {
            into.update([&](auto& s) {
                s.frameAfterError |= s.error.has_value();
                s.frames.push_back({frame.image.copy(), frame.hostTime});
            });
        };
        auto onError = [&into](const platform::CaptureError& e) { into.update([&](auto& s) { s.error = e.what(); }); };
        auto stream = std::make_unique<ScreenStream>(ScreenStream::Configuration{target, outputSize, fps, cursor},
                                                     onFrame, onError);
        stream->start();
        return stream;
    }
    // The first frame of a stream of an area, and the stream's output size.
    std::pair<QImage, QSize> firstFrame(QRect rect, bool cursor = false, QSize outputSize = {})
    {
        FrameCollector frames;
        auto stream = start(area(rect), frames, 30, cursor, outputSize);
        const auto state = frames.state([](const auto& s) { return !s.frames.empty(); });
        return {state.frames.empty() ? QImage() : state.frames[0].image, stream->outputSize()};
    }

    testdesktop::Client client;
    platform::ScreenDisplay display = platform::ScreenContent::fetch().displays.at(0);
    FrameCollector collector;
};

} // namespace

TEST_F(ScreenStreamTest, DisplayFramesShowThePaintingStampedOneIntervalApart)
{
    testdesktop::Window window(client, QRect(200, 150, 160, 120), red);
    const std::int64_t before = platform::HostClock::nowNanoseconds();
    auto stream = start(ScreenStream::Target::ofDisplay(display), collector, 20);
    auto first = collector.waitForPixel(QPoint(280, 210), red);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->image.size(), QSize(1920, 1080));
    EXPECT_GE(first->hostTime, before);

    // The picture changes constantly: a frame at every deadline.
    const std::size_t from = collector.state().frames.size();
    testdesktop::Window flicker(client, QRect(600, 600, 40, 40), 0);
    for (std::uint32_t i = 1; collector.state().frames.size() < from + 8 && i < 400; ++i) {
        flicker.fill(i * 0x010203u);
        std::this_thread::sleep_for(5ms);
    }
    stream->stop();

    const auto frames = collector.state().frames;
    ASSERT_GE(frames.size(), from + 8);
    for (std::size_t i = from + 1; i < from + 8; ++i) {
        const double gap = double(frames[i].hostTime - frames[i - 1].hostTime) / 1e9;
        EXPECT_GT(gap, 0.040) << i;  // never two frames in one 50 ms slot
        EXPECT_LT(gap, 0.110) << i;  // and none skipped while the picture changes
    }
    EXPECT_FALSE(collector.state().error);
}

TEST_F(ScreenStreamTest, AnUnchangedPictureDeliversNoNewFrame)
{
    testdesktop::Window window(client, QRect(1000, 100, 200, 150), green);
    auto stream = start(area(QRect(1020, 120, 100, 80)), collector);
    ASSERT_TRUE(collector.waitForPixel(QPoint(50, 40), green));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(collector.state().frames.size(), 1u);

    window.fillRect(QRect(40, 40, 10, 10), yellow);
    EXPECT_TRUE(collector.waitForPixel(QPoint(20, 20), yellow));
    EXPECT_EQ(collector.state().frames.size(), 2u);
}

TEST_F(ScreenStreamTest, AreasAreCutExactlyAndScaledToFit)
{
    // Four quadrants of 50 × 40 at (700, 300).
    testdesktop::Window window(client, QRect(700, 300, 100, 80), red);
    window.fillRect(QRect(50, 0, 50, 40), green);
    window.fillRect(QRect(0, 40, 50, 40), blue);
    window.fillRect(QRect(50, 40, 50, 40), white);

    const struct {
        QRect area;
        QSize output;  // empty: the area's size
        QSize expected;
        std::vector<std::pair<QPoint, std::uint32_t>> pixels;
    } cases[] = {
        {{700, 300, 100, 80}, {}, {100, 80}, {{{0, 0}, red}, {{49, 39}, red}, {{50, 0}, green}, {{0, 40}, blue}, {{99, 79}, white}}},
        // Odd sides rounded down to even are cut, not scaled: no blended edges.
        {{690, 290, 61, 51}, {60, 50}, {60, 50}, {{{10, 10}, red}, {{59, 49}, red}}},
        {{700, 300, 100, 80}, {50, 40}, {50, 40}, {{{12, 10}, red}, {{37, 10}, green}, {{12, 30}, blue}, {{37, 30}, white}}},
    };
    for (const auto& c : cases) {
        const auto [image, outputSize] = firstFrame(c.area, false, c.output);
        EXPECT_EQ(outputSize, c.expected);
        ASSERT_EQ(image.size(), c.expected);
        for (const auto& [at, rgb] : c.pixels)
            EXPECT_EQ(rgbAt(image, at.x(), at.y()), rgb) << c.expected.width() << " wide at " << at.x() << "," << at.y();
    }
}

TEST_F(ScreenStreamTest, AWindowIsFollowedWhenCoveredOrResizedAndEndsWhenItCloses)
{
    auto window = std::make_unique<testdesktop::Window>(client, QRect(300, 500, 200, 150), green);
    window->fillRect(QRect(10, 10, 20, 20), red);
    auto stream = start(ScreenStream::Target::ofWindow(window->id()), collector);
    EXPECT_EQ(stream->outputSize(), QSize(200, 150));
    auto first = collector.waitForPixel(QPoint(15, 15), red);
    ASSERT_TRUE(first);
    EXPECT_EQ(rgbAt(first->image, 199, 149), green);

    // Covered by another window, its own picture still arrives.
    testdesktop::Window cover(client, QRect(250, 450, 300, 250), yellow);
    window->fill(blue);
    ASSERT_TRUE(collector.waitForPixel(QPoint(5, 5), blue));

    // Twice as wide: scaled to fit the output, centred on black.
    window->setGeometry(QRect(300, 500, 400, 150));
    window->fill(red);
    auto wide = collector.waitForPixel(QPoint(100, 75), red);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->image.size(), QSize(200, 150));
    EXPECT_EQ(rgbAt(wide->image, 100, 10), 0x000000u);
    EXPECT_EQ(rgbAt(wide->image, 100, 140), 0x000000u);

    window.reset();  // closes it
    EXPECT_EQ(collector.state([](const auto& s) { return s.error.has_value(); }).error, "A felvett ablak bezárult.");
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(collector.state().frameAfterError);
}

TEST_F(ScreenStreamTest, ThePointerIsDrawnOnlyWhenAsked)
{
    testdesktop::Window window(client, QRect(800, 600, 120, 120), white);
    xcb_warp_pointer(client.get(), XCB_NONE, client.root(), 0, 0, 0, 0, 860, 660);
    client.sync();
    for (const bool cursor : {false, true}) {
        const QImage image = firstFrame(QRect(800, 600, 120, 120), cursor).first;
        ASSERT_FALSE(image.isNull());
        int nearPointer = 0, elsewhere = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (rgbAt(image, x, y) != white) ++(QRect(30, 30, 60, 60).contains(x, y) ? nearPointer : elsewhere);
        EXPECT_EQ(elsewhere, 0) << cursor;
        EXPECT_EQ(nearPointer > 10, cursor) << nearPointer;
    }
}
