#pragma once

// For tests of compositions and the player: a Qt application for the whole
// test run (the player's timers and posted frames need an event loop), a way
// to run that loop until something happens, and a compositor that shows the
// source frame as it is.

#include "Platform/media/CompositionRenderer.h"
#include "Platform/media/VideoComposition.h"
#include "Platform/media/VideoCompositing.h"
#include "support/MediaFixtures.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QImage>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace fixtures {

class CoreTestApplication : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (!QCoreApplication::instance()) application_ = std::make_unique<QCoreApplication>(argc_, argv_);
    }
    void TearDown() override { application_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "player_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QCoreApplication> application_;
};

inline const bool coreTestApplicationRegistered =
    (::testing::AddGlobalTestEnvironment(new CoreTestApplication), true);

// Runs the main thread's event loop until `done` holds or `limit` passes;
// returns whether it holds.
inline bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    if (done()) return true;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);  // a coarse one may be 5 % late
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start();
    deadline.start(limit);
    loop.exec();
    return done();
}

inline void runFor(std::chrono::milliseconds span)
{
    runUntil([] { return false; }, span);
}

// Shows the source frame of the instruction's first track as it is, black
// when there is none, optionally with a solid band over its lower quarter
// (to tell two video compositions apart). Finishes each request at once.
class PassThroughCompositor : public platform::VideoCompositor {
public:
    explicit PassThroughCompositor(QRgb band = 0) : band_(band) {}

    void startRequest(std::shared_ptr<platform::FrameRequest> request) override
    {
        const auto& ids = request->instruction()->requiredSourceTrackIds();
        QImage frame = ids.empty() ? QImage() : request->sourceFrame(ids.front());
        if (frame.isNull()) frame = platform::blackFrame(request->renderSize());
        if (band_) {
            frame = frame.copy();
            for (int y = frame.height() * 3 / 4; y < frame.height(); ++y)
                for (int x = 0; x < frame.width(); ++x) frame.setPixel(x, y, band_);
        }
        request->finish(frame);
    }
    void cancelAllPendingRequests() override {}

private:
    QRgb band_;
};

// A video composition over `trackIds` for the whole of `duration`, drawn by
// PassThroughCompositor.
inline std::shared_ptr<platform::VideoComposition> passThrough(QSize size, std::vector<std::int32_t> trackIds,
                                                               const platform::MediaTime& duration, QRgb band = 0)
{
    auto vc = std::make_shared<platform::VideoComposition>();
    vc->renderSize = size;
    vc->frameDuration = platform::MediaTime(1, 30);
    vc->instructions.push_back(std::make_shared<platform::VideoCompositionInstruction>(
        platform::TimeRange(platform::MediaTime::zero(), duration), std::move(trackIds)));
    vc->compositorFactory = [band] { return std::make_unique<PassThroughCompositor>(band); };
    return vc;
}

// The frame number drawn by makeNumberedVideo, read from a frame; -1 for a
// null frame.
inline int frameNumber(const QImage& image)
{
    if (image.isNull()) return -1;
    return frameNumberOf([&](int x, int y) { return unsigned(image.pixel(x, y)); }, image.width(), image.height());
}

inline bool isBlack(const QImage& image)
{
    if (image.isNull()) return false;
    for (int y = 0; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7)
            if ((image.pixel(x, y) & 0xffffff) != 0) return false;
    return true;
}

} // namespace fixtures
