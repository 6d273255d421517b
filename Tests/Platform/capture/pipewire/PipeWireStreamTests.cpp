// The PipeWire consumer of the Wayland capture path, fed by a video source
// of our own on a private PipeWire daemon.

#include "Platform/capture/PipeWireStream.h"

#include "support/ScopedEnv.h"
#include "support/pipewire/PipeWireDaemon.h"
#include "support/pipewire/VideoSource.h"

#include <gtest/gtest.h>

#include <spa/param/video/raw.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

using platform::PipeWireStream;
using platform::PointerSample;
using platform::ScreenFrame;
using testsupport::VideoSource;

namespace {

// Generous: a loaded machine may take a while to start streaming.
constexpr auto kPatience = std::chrono::seconds(20);

testsupport::PipeWireDaemon& daemon()
{
    static testsupport::PipeWireDaemon instance;
    return instance;
}

// What the consumer handed over, collected from its thread.
struct Collected {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<ScreenFrame> frames;
    std::vector<PointerSample> pointers;

    PipeWireStream::FrameHandler frameHandler()
    {
        return [this](ScreenFrame frame) {
            {
                std::lock_guard lock(mutex);
                // A deep copy: the stream's frames count against those in flight.
                frame.image = frame.image.copy();
                frames.push_back(std::move(frame));
            }
            changed.notify_all();
        };
    }
    PipeWireStream::PointerHandler pointerHandler()
    {
        return [this](const PointerSample& sample) {
            {
                std::lock_guard lock(mutex);
                pointers.push_back(sample);
            }
            changed.notify_all();
        };
    }
    bool waitForFrames(std::size_t count)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kPatience, [&] { return frames.size() >= count; });
    }
    std::vector<ScreenFrame> takeFrames()
    {
        std::lock_guard lock(mutex);
        return frames;
    }
};

// A consumer of `source`, linked to it by hand.
std::unique_ptr<PipeWireStream> consume(VideoSource& source, PipeWireStream::Configuration configuration,
                                        Collected& collected)
{
    configuration.nodeId = source.nodeId();
    auto stream = std::make_unique<PipeWireStream>(std::move(configuration), collected.frameHandler(),
                                                   [](const platform::CaptureError& error) {
                                                       ADD_FAILURE() << "stream error: " << error.what();
                                                   },
                                                   collected.pointerHandler());
    stream->start();
    source.linkTo(stream->nodeId());
    return stream;
}

void fill(std::uint8_t* pixels, int stride, int height, std::uint8_t b0, std::uint8_t b1, std::uint8_t b2)
{
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < stride / 4; ++x) {
            std::uint8_t* p = pixels + std::size_t(y) * stride + std::size_t(x) * 4;
            p[0] = b0, p[1] = b1, p[2] = b2, p[3] = 255;
        }
}

class PipeWireStreamTest : public ::testing::Test {
protected:
    void SetUp() override { daemon(); }
};

} // namespace

TEST_F(PipeWireStreamTest, PicturesArriveWithTheProducersTimeOnTheHostClock)
{
    // Each picture a different grey, stamped 3 ms before it is sent.
    VideoSource source({QSize(64, 48), SPA_VIDEO_FORMAT_BGRx, 30, false, 3'000'000},
                       [](std::uint8_t* pixels, int stride, std::int64_t index) {
                           const auto grey = std::uint8_t(20 + index * 10 % 200);
                           fill(pixels, stride, 48, grey, grey, grey);
                       });
    Collected collected;
    PipeWireStream::Configuration configuration;
    configuration.outputSize = QSize(64, 48);
    auto stream = consume(source, configuration, collected);
    ASSERT_TRUE(collected.waitForFrames(5));
    stream->stop();

    const auto frames = collected.takeFrames();
    const auto sent = source.sentTimes();
    std::int64_t previous = 0;
    for (const auto& frame : frames) {
        EXPECT_EQ(frame.image.size(), QSize(64, 48));
        EXPECT_EQ(frame.image.format(), QImage::Format_RGB32);
        // The producer's own stamp, not the arrival a little later.
        EXPECT_NE(std::find(sent.begin(), sent.end(), frame.hostTime), sent.end()) << frame.hostTime;
        EXPECT_GT(frame.hostTime, previous);
        previous = frame.hostTime;
        const QRgb pixel = frame.image.pixel(10, 10);
        EXPECT_EQ(qRed(pixel), qBlue(pixel));
        EXPECT_GE(qRed(pixel), 20);
    }
    // The pictures change from one to the next, as the producer painted them.
    EXPECT_NE(frames.front().image.pixel(0, 0), frames.back().image.pixel(0, 0));
    EXPECT_EQ(stream->statistics().delivered, std::int64_t(frames.size()));
}

TEST_F(PipeWireStreamTest, RedFirstPicturesAreCroppedInTheStreamsOwnPixels)
{
    // RGBx at twice the desktop's units: left half red, right half blue.
    VideoSource source({QSize(200, 100), SPA_VIDEO_FORMAT_RGBx, 30, false, 0},
                       [](std::uint8_t* pixels, int stride, std::int64_t) {
                           for (int y = 0; y < 100; ++y)
                               for (int x = 0; x < 200; ++x) {
                                   std::uint8_t* p = pixels + std::size_t(y) * stride + std::size_t(x) * 4;
                                   const bool left = x < 100;
                                   p[0] = left ? 255 : 0, p[1] = 0, p[2] = left ? 0 : 255, p[3] = 0;
                               }
                       });
    Collected collected;
    PipeWireStream::Configuration configuration;
    configuration.logicalSize = QSizeF(100, 50);
    configuration.crop = QRectF(50, 0, 50, 50);  // the right half, in desktop units
    configuration.outputSize = QSize(100, 100);
    auto stream = consume(source, configuration, collected);
    ASSERT_TRUE(collected.waitForFrames(1));
    stream->stop();

    const QImage image = collected.takeFrames().front().image;
    ASSERT_EQ(image.size(), QSize(100, 100));
    for (QPoint at : {QPoint(0, 0), QPoint(99, 0), QPoint(0, 99), QPoint(99, 99), QPoint(50, 50)})
        EXPECT_EQ(image.pixel(at), qRgb(0, 0, 255)) << at.x() << "," << at.y();
}

TEST_F(PipeWireStreamTest, PointerMetadataGivesDesktopPositionsAndIsDrawnOnlyWhenAsked)
{
    for (const bool showsCursor : {true, false}) {
        SCOPED_TRACE(showsCursor ? "drawn" : "left out");
        VideoSource source({QSize(80, 60), SPA_VIDEO_FORMAT_BGRx, 30, true, 0},
                           [](std::uint8_t* pixels, int stride, std::int64_t) { fill(pixels, stride, 60, 90, 90, 90); });
        source.setPointer(QPoint(40, 30));
        Collected collected;
        PipeWireStream::Configuration configuration;
        configuration.outputSize = QSize(80, 60);
        configuration.desktopOrigin = QPointF(1920, 0);  // the monitor right of the first
        configuration.showsCursor = showsCursor;
        auto stream = consume(source, configuration, collected);
        ASSERT_TRUE(collected.waitForFrames(2));
        stream->stop();

        {
            std::lock_guard lock(collected.mutex);
            ASSERT_FALSE(collected.pointers.empty());
            EXPECT_EQ(collected.pointers.front().position, QPointF(1960, 30));
        }
        const QImage image = collected.takeFrames().back().image;
        // The 4 × 4 red pointer with its hot spot (1, 1) on (40, 30).
        const QRgb red = qRgb(255, 0, 0), grey = qRgb(90, 90, 90);
        EXPECT_EQ(image.pixel(39, 29), showsCursor ? red : grey);
        EXPECT_EQ(image.pixel(42, 32), showsCursor ? red : grey);
        EXPECT_EQ(image.pixel(43, 33), grey);
        EXPECT_EQ(image.pixel(38, 28), grey);
    }
}

TEST_F(PipeWireStreamTest, AStreamTakenOutOfTheGraphEndsAsTheDesktopsStopNotAsAFault)
{
    VideoSource source({QSize(64, 48), SPA_VIDEO_FORMAT_BGRx, 30, false, 0},
                       [](std::uint8_t* pixels, int stride, std::int64_t) { fill(pixels, stride, 48, 9, 9, 9); });
    Collected collected;
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<platform::CaptureError> ended;  // guarded by mutex
    PipeWireStream::Configuration configuration;
    configuration.nodeId = source.nodeId();
    configuration.outputSize = QSize(64, 48);
    PipeWireStream stream(configuration, collected.frameHandler(), [&](const platform::CaptureError& error) {
        {
            std::lock_guard lock(mutex);
            ended = error;
        }
        changed.notify_all();
    });
    stream.start();
    source.linkTo(stream.nodeId());
    ASSERT_TRUE(collected.waitForFrames(1));

    source.removeNode(stream.nodeId());
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, kPatience, [&] { return ended.has_value(); }));
    EXPECT_TRUE(ended->endedByDesktop()) << ended->what();
}

TEST_F(PipeWireStreamTest, AnUnreachableDaemonFailsTheStartWithASentence)
{
    const auto empty = std::filesystem::temp_directory_path() / "ondexa-no-pipewire";
    std::filesystem::create_directories(empty);
    testsupport::ScopedEnv runtime("PIPEWIRE_RUNTIME_DIR", empty.string());
    PipeWireStream::Configuration configuration;
    configuration.nodeId = 42;
    configuration.outputSize = QSize(64, 48);
    PipeWireStream stream(configuration, {}, {});
    try {
        stream.start();
        FAIL() << "started without a daemon";
    } catch (const platform::CaptureError& error) {
        EXPECT_NE(std::string(error.what()).find("PipeWire"), std::string::npos) << error.what();
    }
}

TEST(PipeWireStreamTimes, TheProducersTimeIsTakenOnlyWhereItLiesOnTheHostClock)
{
    const std::int64_t arrival = 50'000'000'000;
    EXPECT_EQ(PipeWireStream::hostTimeOf(arrival - 4'000'000, arrival), arrival - 4'000'000);
    EXPECT_EQ(PipeWireStream::hostTimeOf(arrival, arrival), arrival);
    // Absent, in the future, or from a clock of its own: the arrival.
    EXPECT_EQ(PipeWireStream::hostTimeOf(0, arrival), arrival);
    EXPECT_EQ(PipeWireStream::hostTimeOf(arrival + 1, arrival), arrival);
    EXPECT_EQ(PipeWireStream::hostTimeOf(1'000, arrival), arrival);
}
