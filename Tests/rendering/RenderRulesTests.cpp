// The arithmetic of building, the maximizer's pre-gain, peak windows and
// thumbnail times, checked on values worked out by hand.

#include "Ondexa/rendering/AudioMixBuilder.h"
#include "Ondexa/rendering/CompositionBuilder.h"
#include "Ondexa/rendering/Peaks.h"
#include "Ondexa/rendering/Thumbnails.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace ondexa;
using platform::MediaTime;
using platform::TimeRange;

namespace {

TEST(RenderSize, FitsTheBoxWithoutEnlargingAndStaysEven)
{
    struct Case {
        QSize screen, box, expected;
    } cases[] = {
        {{2880, 1800}, previewBox, {1728, 1080}},
        {{1001, 701}, previewBox, {1000, 700}},
        {{1920, 1080}, previewBox, {1920, 1080}},
        {{2880, 1800}, exportBox, {2880, 1800}},
        {{5120, 2880}, exportBox, {3840, 2160}},
        {{3000, 1000}, {1280, 720}, {1280, 426}},   // 426.66 → 426
        {{3, 3}, previewBox, {2, 2}},                // never below 2
        {{0, 0}, previewBox, {2, 2}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(renderSize(c.screen, c.box), c.expected) << c.screen.width() << "×" << c.screen.height();
}

Track soundTrack(std::vector<float> peakValues, PeakMap& peaks, double volume = 1, double boost = 0)
{
    Track track;
    track.media = MediaRef{"/a.wav", MediaKind::audio, 0};
    track.volume = static_cast<float>(volume);
    track.maximizeBoost = boost;
    Clip clip;
    clip.duration = peakValues.size() / 50.0;
    track.clips.push_back(clip);
    peaks[track.media] = std::move(peakValues);
    return track;
}

std::vector<float> loudest(float top, std::size_t quiet = 99, float rest = 0.2f)
{
    std::vector<float> v(quiet, rest);
    v.push_back(top);
    return v;
}

TEST(MaximizerGain, AimsThe99thPercentileAtTheCeilingWithinItsBounds)
{
    struct Case {
        const char* name;
        std::vector<float> peaks;
        double volume, boost;
        float expected;
    } cases[] = {
        {"99 × 0.2 and one 0.445: the 100th is the percentile", loudest(0.445f), 1, 0, 2.0f},
        {"the same with a 6 dB boost", loudest(0.445f), 1, 6, 3.9905f},
        {"0.95 never attenuates", std::vector<float>(10, 0.95f), 1, 0, 1.0f},
        {"0.01 is capped at 31.6", std::vector<float>(10, 0.01f), 1, 0, 31.6f},
        {"the track volume scales the level", std::vector<float>(10, 0.89f), 0.5, 0, 2.0f},
        {"10 values: index 9", {0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.5f}, 1, 0, 1.78f},
        {"silence at or below 0.001 is ignored", std::vector<float>(10, 0.001f), 1, 0, 1.0f},
        {"no peaks: 1 times the boost", {}, 1, 6, 1.9953f},
        {"a level at 0.0001 or below: the cap", std::vector<float>(10, 0.5f), 0.0001, 0, 31.6f},
    };
    for (const Case& c : cases) {
        PeakMap peaks;
        const Track track = soundTrack(c.peaks, peaks, c.volume, c.boost);
        EXPECT_NEAR(maximizerGain(track, peaks), c.expected, 0.0005f) << c.name;
    }
}

TEST(MaximizerGain, ReadsOnlyEachClipsOwnSourceRangeAndMedia)
{
    PeakMap peaks;
    Track track = soundTrack(std::vector<float>(100, 0.01f), peaks);  // 2 s, quiet
    // The loud second half of the file lies outside the clip.
    std::fill(peaks[track.media].begin() + 50, peaks[track.media].end(), 0.89f);
    track.clips[0].duration = 1.0;
    EXPECT_NEAR(maximizerGain(track, peaks), 31.6f, 1e-4f);

    // Starting at 0.9 s takes five quiet and all loud values; the range past
    // the end of the peaks uses what exists.
    track.clips[0].sourceStart = 0.9;
    track.clips[0].duration = 5.0;
    EXPECT_NEAR(maximizerGain(track, peaks), 1.0f, 1e-6f);

    // A clip's own media wins over the track's.
    const MediaRef other{"/b.wav", MediaKind::audio, 0};
    peaks[other] = std::vector<float>(100, 0.445f);
    track.clips[0].media = other;
    EXPECT_NEAR(maximizerGain(track, peaks), 2.0f, 1e-5f);
}

TEST(PeakAccumulator, KeepsTheLargestMagnitudeOfEveryFullWindow)
{
    // 10.000 s and 10.015 s at 8000 Hz; the last 15 ms are dropped.
    for (const std::size_t samples : {80000u, 80120u}) {
        PeakAccumulator acc;
        std::vector<float> data(samples, 0.25f);
        // Blocks that straddle the windows.
        for (std::size_t at = 0; at < samples; at += 333)
            acc.add(std::span<const float>(data.data() + at, std::min<std::size_t>(333, samples - at)));
        EXPECT_EQ(acc.peaks().size(), 500u) << samples;
    }

    PeakAccumulator acc;
    std::vector<float> window(2 * peakWindow, 0.1f);
    window[7] = -0.75f;                                      // negative counts by its magnitude
    window[peakWindow - 1] = std::numeric_limits<float>::quiet_NaN();
    window[peakWindow] = 0.5f;                               // the first of the second window
    acc.add(window);
    EXPECT_EQ(acc.peaks(), (std::vector<float>{0.75f, 0.5f}));
}

TEST(ThumbnailPlan, OneEveryHalfSecondOrSixHundredInBatchesOfThirty)
{
    struct Case {
        double start, duration;
        std::size_t count, batches;
        double first, last, tolerance;
    } cases[] = {
        {0, 60, 120, 4, 0.25, 59.75, 0.25},
        {0, 1200, 600, 20, 1, 1199, 1},
        {2, 10, 20, 1, 2.25, 11.75, 0.25},
        {0, 0.3, 1, 1, 0.25, 0.25, 0.25},  // the last time may lie after the end
    };
    for (const Case& c : cases) {
        const ThumbnailPlan plan = planThumbnails(TimeRange(MediaTime::fromSeconds(c.start), MediaTime::fromSeconds(c.duration)));
        std::vector<double> times;
        for (const auto& batch : plan.batches) {
            EXPECT_LE(batch.size(), std::size_t(thumbnailBatch));
            times.insert(times.end(), batch.begin(), batch.end());
        }
        ASSERT_EQ(times.size(), c.count) << c.duration;
        EXPECT_EQ(plan.batches.size(), c.batches);
        EXPECT_EQ(plan.batches.front().size(), std::min<std::size_t>(c.count, 30));
        EXPECT_NEAR(times.front(), c.first, 1e-9);
        EXPECT_NEAR(times.back(), c.last, 1e-9);
        EXPECT_NEAR(plan.tolerance, c.tolerance, 1e-12);
    }
    EXPECT_TRUE(planThumbnails(TimeRange(MediaTime::zero(), MediaTime::zero())).batches.empty());
    EXPECT_TRUE(planThumbnails(TimeRange(MediaTime::zero(), MediaTime::indefinite())).batches.empty());
}

TEST(StillThumbnail, FitsTheLongerSideTo240AndNeverEnlarges)
{
    struct Case {
        QSize size, expected;
    } cases[] = {{{4000, 1000}, {240, 60}}, {{1000, 4000}, {60, 240}}, {{100, 80}, {100, 80}}, {{480, 240}, {240, 120}}};
    for (const Case& c : cases) {
        QImage image(c.size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::blue);
        const auto thumbnail = stillThumbnail(image);
        ASSERT_TRUE(thumbnail);
        EXPECT_EQ(thumbnail->image.size(), c.expected);
        EXPECT_EQ(thumbnail->time, 0);
        EXPECT_EQ(thumbnail->image.pixelColor(c.expected.width() / 2, c.expected.height() / 2), QColor(Qt::blue));
    }
    EXPECT_FALSE(stillThumbnail(QImage()));
}

// A still that gave no picture is asked for again; a stream keeps its entry
// from its first batch on, even an empty one, and is not decoded twice.
TEST(StillThumbnail, OneThatFailedIsTriedAgainByTheNextCall)
{
    QImage picture(100, 80, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::blue);
    MediaSources sources;
    sources["/m/kép.png"].image = picture;
    Track track;
    track.media = MediaRef{"/m/kép.png", MediaKind::image, 0};
    track.clips.push_back(Clip{});
    const std::vector<Track> tracks{track};

    ThumbnailMap thumbnails;
    EXPECT_FALSE(addThumbnails(thumbnails, track.media, {}));
    EXPECT_TRUE(thumbnails.empty());
    ASSERT_EQ(missingThumbnails(tracks, sources, thumbnails).size(), 1u);

    EXPECT_TRUE(addThumbnails(thumbnails, track.media, {*stillThumbnail(picture)}));
    EXPECT_EQ(thumbnails.at(track.media).size(), 1u);
    EXPECT_TRUE(missingThumbnails(tracks, sources, thumbnails).empty());

    const MediaRef stream{"/m/film.mov", MediaKind::video, 0};
    EXPECT_TRUE(addThumbnails(thumbnails, stream, {}));
    EXPECT_TRUE(addThumbnails(thumbnails, stream, {Thumbnail{0.25, picture}}));
    ASSERT_EQ(thumbnails.at(stream).size(), 1u);
    EXPECT_EQ(thumbnails.at(stream).front().time, 0.25);
}

} // namespace
