// The recorder's sizes, rates and set-up, and its failed starts; no X server
// or sound server involved (recordings themselves are in desktop/).

#include "Ondexa/recording/MicCapture.h"
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
using ondexa::MicCapture;
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

TEST(Recorder, OutputSizeIsEvenAtLeastTwoAndAtMostUhdWithTheAspectKept)
{
    EXPECT_EQ(Recorder::outputSize({1920, 1080}, 1), QSize(1920, 1080));
    EXPECT_EQ(Recorder::outputSize({1470, 956}, 2), QSize(2940, 1912));
    EXPECT_EQ(Recorder::outputSize({641, 361}, 1), QSize(640, 360));
    EXPECT_EQ(Recorder::outputSize({100.5, 50.9}, 1), QSize(100, 50));
    // Larger than 3840 × 2160: scaled down by the tighter side.
    EXPECT_EQ(Recorder::outputSize({5120, 2880}, 1), QSize(3840, 2160));
    EXPECT_EQ(Recorder::outputSize({3840, 2160}, 2), QSize(3840, 2160));
    EXPECT_EQ(Recorder::outputSize({2560, 1600}, 2), QSize(3456, 2160));
    EXPECT_EQ(Recorder::outputSize({1080, 3000}, 1), QSize(776, 2160));
    EXPECT_EQ(Recorder::outputSize({8000, 100}, 1), QSize(3840, 48));
    // Never below 2 pixels a side, however thin or empty.
    EXPECT_EQ(Recorder::outputSize({0, 0}, 1), QSize(2, 2));
    EXPECT_EQ(Recorder::outputSize({1, 500}, 1), QSize(2, 500));
    EXPECT_EQ(Recorder::outputSize({20000, 3}, 1), QSize(3840, 2));
    EXPECT_EQ(Recorder::outputSize({-40, 30}, 1), QSize(2, 30));
}

TEST(Recorder, BitRatesFollowThePixelRateWithAFloor)
{
    EXPECT_DOUBLE_EQ(Recorder::screenBitsPerPixel(30), 0.10);
    EXPECT_DOUBLE_EQ(Recorder::screenBitsPerPixel(24), 0.10);
    EXPECT_DOUBLE_EQ(Recorder::screenBitsPerPixel(31), 0.07);
    EXPECT_DOUBLE_EQ(Recorder::screenBitsPerPixel(60), 0.07);

    EXPECT_EQ(Recorder::videoBitRate({2940, 1912}, 60, 0.07), 23'609'376);
    EXPECT_EQ(Recorder::videoBitRate({1280, 720}, 30, 0.12), 3'317'760);
    EXPECT_EQ(Recorder::videoBitRate({1920, 1080}, 30, 0.10), 6'220'800);
    EXPECT_EQ(Recorder::videoBitRate({3840, 2160}, 60, 0.07), 34'836'480);
    // Small pictures get 2,000,000 bit/s.
    EXPECT_EQ(Recorder::videoBitRate({640, 360}, 30, 0.10), 2'000'000);
    EXPECT_EQ(Recorder::videoBitRate({2, 2}, 30, 0.10), 2'000'000);
    EXPECT_EQ(Recorder::videoBitRate({1000, 666}, 30, 0.10), 2'000'000);  // 1,998,000
    EXPECT_EQ(Recorder::videoBitRate({1000, 667}, 30, 0.10), 2'001'000);
}

TEST(Recorder, SetUpGivesTheFrameTheSizeAndTheSoundTrackNames)
{
    ondexa::testing::TempFolder folder;
    MicCapture mic({3, "iface", "Interfész", {"Bemenet 1", "Bemenet 2"}}, 44100, MicCapture::NoInput{});
    const auto second = display(QRect(1920, 0, 2560, 1440));

    Recorder area(folder.path / "a.mov", CaptureTarget::ofArea(second, QRectF(100.5, 40, 801, 451)), true, &mic,
                  nullptr, 60);
    EXPECT_EQ(area.capturedFrame(), QRectF(2020.5, 40, 801, 451));
    EXPECT_EQ(area.size(), QSize(800, 450));
    EXPECT_EQ(area.fps(), 60);
    EXPECT_EQ(area.audioTrackNames(), (std::vector<std::string>{"Rendszerhang", "Interfész"}));
    EXPECT_TRUE(area.showsCursor());

    Recorder whole(folder.path / "d.mov", CaptureTarget::ofDisplay(second), false, nullptr, nullptr, 30);
    EXPECT_EQ(whole.capturedFrame(), QRectF(1920, 0, 2560, 1440));
    EXPECT_EQ(whole.size(), QSize(2560, 1440));
    EXPECT_TRUE(whole.audioTrackNames().empty());

    platform::ScreenWindow window;
    window.id = 0x400001;
    window.frame = QRect(-20, 30, 5001, 801);
    Recorder one(folder.path / "w.mov", CaptureTarget::ofWindow(window), false, &mic, nullptr, 30);
    EXPECT_EQ(one.capturedFrame(), QRectF(-20, 30, 5001, 801));
    EXPECT_EQ(one.size(), QSize(3840, 614));
    EXPECT_EQ(one.audioTrackNames(), std::vector<std::string>{"Interfész"});

    // Nothing is written before start().
    EXPECT_TRUE(ondexa::testing::entries(folder.path).empty());
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
