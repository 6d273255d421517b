// The recorder's sizes and rates, and its failed starts; no X server
// or sound server involved (recordings themselves are in desktop/).

#include "Ondexa/recording/Recorder.h"
#include "rendering/GuiTestApplication.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

extern "C" {
#include <libavutil/log.h>
}

using namespace std::chrono_literals;
using ondexa::CaptureTarget;
using ondexa::Recorder;

namespace {

platform::ScreenDisplay display(QRect frame)
{
    platform::ScreenDisplay d;
    d.id = 7;
    d.name = "DP-1";
    d.frame = frame;
    d.primary = true;
    return d;
}

std::string contentOf(const std::filesystem::path& file)
{
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Starts `recorder` and waits for its completion on this (the main) thread.
std::optional<std::string> startAndWait(Recorder& recorder)
{
    std::optional<std::optional<std::string>> result;
    recorder.start([&](std::optional<std::string> error) { result = std::move(error); });
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!result && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(result) << "start() did not complete";
    return result ? *result : std::optional<std::string>("no completion");
}

} // namespace

TEST(Recorder, OutputSizeAndBitRates)
{
    // Even sides, at least 2, at most 3840 × 2160 (scaled by the tighter side) with the aspect kept.
    const struct {
        QSizeF points;
        double scale;
        QSize pixels;
    } sizes[] = {{{1920, 1080}, 1, {1920, 1080}}, {{1470, 956}, 2, {2940, 1912}}, {{641, 361}, 1, {640, 360}},
                 {{100.5, 50.9}, 1, {100, 50}},    {{5120, 2880}, 1, {3840, 2160}}, {{3840, 2160}, 2, {3840, 2160}},
                 {{2560, 1600}, 2, {3456, 2160}},  {{1080, 3000}, 1, {776, 2160}},  {{8000, 100}, 1, {3840, 48}},
                 {{0, 0}, 1, {2, 2}},              {{1, 500}, 1, {2, 500}},         {{20000, 3}, 1, {3840, 2}},
                 {{-40, 30}, 1, {2, 30}}};
    for (const auto& c : sizes) EXPECT_EQ(Recorder::outputSize(c.points, c.scale), c.pixels) << c.points.width();

    EXPECT_DOUBLE_EQ(Recorder::screenBitsPerPixel(24), 0.10);
    EXPECT_DOUBLE_EQ(Recorder::screenBitsPerPixel(30), 0.10);
    EXPECT_DOUBLE_EQ(Recorder::screenBitsPerPixel(31), 0.07);
    EXPECT_DOUBLE_EQ(Recorder::screenBitsPerPixel(60), 0.07);
    // Pixel rate × bits per pixel, never below 2,000,000 bit/s.
    const struct {
        QSize size;
        int fps;
        double bits;
        std::int64_t rate;
    } rates[] = {{{2940, 1912}, 60, 0.07, 23'609'376}, {{1280, 720}, 30, 0.12, 3'317'760},
                 {{3840, 2160}, 60, 0.07, 34'836'480}, {{640, 360}, 30, 0.10, 2'000'000},
                 {{2, 2}, 30, 0.10, 2'000'000},         {{1000, 666}, 30, 0.10, 2'000'000},
                 {{1000, 667}, 30, 0.10, 2'001'000}};
    for (const auto& c : rates) EXPECT_EQ(Recorder::videoBitRate(c.size, c.fps, c.bits), c.rate) << c.size.width();

    // Frames in parallel from three 1080p30s of pixels a second up.
    EXPECT_TRUE(Recorder::encodesFramesInParallel({3840, 2160}, 30));
    EXPECT_TRUE(Recorder::encodesFramesInParallel({2560, 1440}, 60));
    EXPECT_TRUE(Recorder::encodesFramesInParallel({1920, 1080}, 90));
    EXPECT_FALSE(Recorder::encodesFramesInParallel({1920, 1080}, 60));
    EXPECT_FALSE(Recorder::encodesFramesInParallel({2940, 1912}, 30));
}

// The notice of a movie kept up to its last whole fragment names the second
// it ends in; frame times that round a hair past a whole second do not
// start the next one.
TEST(Recorder, TheSecondAMovieEndsInIsCountedAsPeopleCountThem)
{
    for (const auto& [seconds, second] : {std::pair{0.0, 1LL}, {0.5, 1LL}, {1.0, 1LL}, {2.0001, 2LL}, {2.0009, 2LL},
                                          {2.002, 3LL}, {2.5, 3LL}, {59.99, 60LL}})
        EXPECT_EQ(Recorder::endingSecond(seconds), second) << seconds;
}

TEST(Recorder, APortalsAreaIsWrittenInTheStreamsPixels)
{
    ondexa::testing::TempFolder folder;
    av_log_set_level(AV_LOG_ERROR);
    auto target = CaptureTarget::ofArea(display(QRect(0, 0, 960, 540)), QRectF(100, 100, 200, 150));
    CaptureTarget::PortalStream portal;
    portal.frame = QRectF(0, 0, 960, 540);
    portal.scale = 2;
    target.portal = portal;
    {
        const Recorder recorder(folder.path / "area.mov", target, false, nullptr, nullptr, 30);
        EXPECT_EQ(recorder.size(), QSize(400, 300));
        EXPECT_EQ(recorder.capturedFrame(), QRectF(100, 100, 200, 150));  // logical, for the pointer
    }
    // Within the cap.
    target.portal->scale = 4;
    target.kind = CaptureTarget::Kind::display;
    const Recorder recorder(folder.path / "whole.mov", target, false, nullptr, nullptr, 30);
    EXPECT_EQ(recorder.size(), QSize(3840, 2160));
}

TEST(Recorder, AFailedStartRemovesOnlyTheMovieItCreated)
{
    ondexa::testing::TempFolder folder;
    av_log_set_level(AV_LOG_ERROR);  // the encoders opened and closed here say nothing of interest
    ::setenv("DISPLAY", ":87", 1);  // no X server answers there
    const auto target = CaptureTarget::ofDisplay(display(QRect(0, 0, 640, 480)));

    // The screen stream can't start: the movie this recorder created goes.
    {
        Recorder recorder(folder.path / "new.mov", target, false, nullptr, nullptr, 30);
        const auto error = startAndWait(recorder);
        ASSERT_TRUE(error);
        EXPECT_FALSE(error->empty());
        EXPECT_TRUE(ondexa::testing::entries(folder.path).empty());
    }

    // A file that is already there is never written over nor removed.
    const auto existing = folder.path / "existing.mov";
    std::ofstream(existing) << "someone else's";
    {
        Recorder recorder(existing, target, false, nullptr, nullptr, 30);
        const auto error = startAndWait(recorder);
        ASSERT_TRUE(error);
        EXPECT_NE(error->find(existing.string()), std::string::npos) << *error;
        EXPECT_EQ(contentOf(existing), "someone else's");
    }
    ::unsetenv("DISPLAY");
}
