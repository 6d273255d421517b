#include "Platform/capture/ScreenStream.h"

#include "Platform/core/HostClock.h"
#include "TestDesktop.h"

#include <gtest/gtest.h>

#include <algorithm>
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

    // The tests paint windows at chosen places and read them back.
    testdesktop::BareDesktop bare;
    testdesktop::Client client;
    platform::ScreenDisplay display = platform::ScreenContent::fetch().displays.at(0);
    FrameCollector collector;
};

// The deadline slot of each time stamp: the stream grabs at start + k × interval
// and stamps a frame at or shortly after its deadline, so the stamps' phases
// within an interval bunch up just after the (unknown) start's phase. That
// phase is taken as the one after the widest phase-free stretch of the
// interval, which holds as long as the lateness varies by less than half an
// interval, however late each grab is.
std::vector<std::int64_t> deadlineSlots(const std::vector<std::int64_t>& stamps, std::int64_t interval)
{
    if (stamps.empty()) return {};
    std::vector<std::int64_t> phases;
    for (const std::int64_t t : stamps) phases.push_back(((t - stamps[0]) % interval + interval) % interval);
    std::sort(phases.begin(), phases.end());
    std::int64_t origin = phases[0];
    std::int64_t widest = phases[0] + interval - phases.back();
    for (std::size_t i = 1; i < phases.size(); ++i) {
        if (phases[i] - phases[i - 1] > widest) {
            widest = phases[i] - phases[i - 1];
            origin = phases[i];
        }
    }
    std::vector<std::int64_t> result;
    for (const std::int64_t t : stamps) {
        const std::int64_t since = t - stamps[0] - origin;
        result.push_back(since >= 0 ? since / interval : -((-since + interval - 1) / interval));
    }
    return result;
}

} // namespace

TEST_F(ScreenStreamTest, DisplayFramesShowThePaintingOnePerDeadline)
{
    testdesktop::Window window(client, QRect(200, 150, 160, 120), red);
    const std::int64_t before = platform::HostClock::nowNanoseconds();
    auto stream = start(ScreenStream::Target::ofDisplay(display), collector, 10);
    auto first = collector.waitForPixel(QPoint(280, 210), red);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->image.size(), QSize(1920, 1080));
    EXPECT_GE(first->hostTime, before);

    // The picture changes constantly: a frame at every deadline, unless the
    // stream says why not (a grab ran late, or saw the picture unchanged
    // because the painting fell behind on a busy machine).
    const std::size_t from = collector.state().frames.size();
    const ScreenStream::Statistics atFrom = stream->statistics();
    testdesktop::Window flicker(client, QRect(600, 600, 40, 40), 0);
    for (std::uint32_t i = 1; collector.state().frames.size() < from + 8 && i < 1000; ++i) {
        flicker.fill(i * 0x010203u);
        std::this_thread::sleep_for(5ms);
    }
    stream->stop();
    const ScreenStream::Statistics atEnd = stream->statistics();

    const auto frames = collector.state().frames;
    ASSERT_GE(frames.size(), from + 8);
    std::vector<std::int64_t> stamps;
    for (std::size_t i = from; i < frames.size(); ++i) stamps.push_back(frames[i].hostTime);
    const std::vector<std::int64_t> slot = deadlineSlots(stamps, 100'000'000);
    std::int64_t skipped = 0;
    for (std::size_t i = 1; i < slot.size(); ++i) {
        EXPECT_GT(slot[i], slot[i - 1]) << "two frames in one deadline's slot, frame " << from + i;
        skipped += std::max<std::int64_t>(slot[i] - slot[i - 1] - 1, 0);
    }
    const std::int64_t explained = (atEnd.missedDeadlines - atFrom.missedDeadlines) +
                                   (atEnd.unchanged - atFrom.unchanged) +
                                   (atEnd.droppedInFlight - atFrom.droppedInFlight);
    EXPECT_LE(skipped, explained) << "deadlines passed without a grab";
    EXPECT_FALSE(collector.state().error);
}

// One picture per deadline's slot by the picture's own time. A grab that
// ends once the next slot has begun (a starved server) is followed at once,
// not at the slot after, which would leave the running slot without a
// picture; slots wholly past are skipped, never made up in a burst.
TEST(ScreenStreamSchedule, AGrabThatEndsLateIsFollowedAtOnceAndPastSlotsAreSkipped)
{
    constexpr std::int64_t ms = 1'000'000;
    const auto slot = [](std::int64_t n) { return n * 1'000'000'000 / 30; };
    const auto next = [](std::int64_t index, std::optional<std::int64_t> picture, std::int64_t now) {
        return ScreenStream::nextDeadline(index, picture, now, 30);
    };
    // On time: the next deadline, waited for.
    EXPECT_EQ(next(5, slot(5) + 3 * ms, slot(5) + 5 * ms), 6);
    // Ended in the next slot: that one, whose deadline has passed, so at once.
    EXPECT_EQ(next(5, slot(5) + 20 * ms, slot(6) + 5 * ms), 6);
    // The server read the screen in the next slot: that slot has its picture.
    EXPECT_EQ(next(5, slot(6) + 1 * ms, slot(6) + 3 * ms), 7);
    // Ended three slots on: the running one; the two before it are missed.
    EXPECT_EQ(next(5, slot(5) + 2 * ms, slot(8) + 1 * ms), 8);
    // Nothing read (a hidden window): as from the deadline's own slot.
    EXPECT_EQ(next(5, std::nullopt, slot(5) + 2 * ms), 6);
    EXPECT_EQ(next(5, std::nullopt, slot(7) + 2 * ms), 7);
    // Never back, whatever the times say.
    EXPECT_EQ(next(5, slot(3), slot(4)), 6);
    EXPECT_EQ(next(0, -5 * ms, 0), 1);
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

// On a loaded machine the server may carry out a grab long after it was
// asked for; here it is held meanwhile, and the picture changes during the
// hold. The frame that shows the change is stamped with the moment the
// server read the screen, not with the moment of asking, which would put the
// picture hundreds of milliseconds too early against the sound.
TEST_F(ScreenStreamTest, AFrameIsStampedWhenTheServerReadTheScreenNotWhenItWasAskedFor)
{
    testdesktop::Window window(client, QRect(900, 700, 160, 120), red);
    client.sync();
    for (const bool ofWindow : {false, true}) {
        SCOPED_TRACE(ofWindow ? "window" : "area");
        window.fill(red);
        FrameCollector frames;
        auto stream = start(ofWindow ? ScreenStream::Target::ofWindow(window.id()) : area(QRect(900, 700, 160, 120)),
                            frames);
        // A few changes first, so that the stream has buffers to grab into
        // (a new one is announced to the server, and would wait for the hold
        // before the grab is even asked for).
        for (const std::uint32_t colour : {blue, yellow, white}) {
            window.fill(colour);
            ASSERT_TRUE(frames.waitForPixel(QPoint(80, 60), colour));
        }
        std::this_thread::sleep_for(100ms);

        xcb_grab_server(client.get());
        client.sync();
        std::this_thread::sleep_for(300ms);  // the stream asks for its next picture meanwhile, and waits
        const std::int64_t beforeChange = platform::HostClock::nowNanoseconds();
        window.fill(green);
        xcb_ungrab_server(client.get());
        client.sync();

        ASSERT_TRUE(frames.waitForPixel(QPoint(80, 60), green));
        stream->stop();
        const auto all = frames.state().frames;
        const auto first = std::find_if(all.begin(), all.end(),
                                        [](const auto& f) { return rgbAt(f.image, 80, 60) == green; });
        ASSERT_NE(first, all.end());
        // The server's clock counts whole milliseconds.
        EXPECT_GE(first->hostTime, beforeChange - 1'000'000) << (first->hostTime - beforeChange) / 1e6 << " ms";
        for (auto it = std::next(first); it != all.end(); ++it) EXPECT_GT(it->hostTime, std::prev(it)->hostTime);
    }
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
