// Peaks and filmstrips read from real streams, and which media the loaders
// still have to read.

#include "Ondexa/rendering/Peaks.h"
#include "Ondexa/rendering/Thumbnails.h"
#include "rendering/media/RecordingFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

using namespace ondexa;
using platform::MediaTime;

namespace {

class PeaksAndThumbnails : public ondexa::testing::RecordingFixture {};

Track trackOf(const std::string& path, MediaKind kind, int index, int clips = 1)
{
    Track track;
    track.media = MediaRef{path, kind, index};
    for (int i = 0; i < clips; ++i) {
        Clip clip;
        clip.start = i;
        clip.duration = 1;
        track.clips.push_back(clip);
    }
    return track;
}

TEST_F(PeaksAndThumbnails, FiftyPeaksASecondOfWholeWindows)
{
    struct Case {
        const char* name;
        double seconds, offset;
        std::size_t peaks, silentFirst;
    } cases[] = {
        {"ten.wav", 10.000, 0, 500, 0},
        {"longer.wav", 10.015, 0, 500, 0},  // the last 15 ms are dropped
        {"late.mov", 2.0, 0.5, 125, 25},   // read from the file's time 0
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args{"-f", "lavfi", "-i", "sine=f=440:r=48000:d=" + std::to_string(c.seconds) + ",volume=4"};
        if (c.offset > 0) {
            const std::vector<std::string> late{"-f", "lavfi", "-i", "testsrc=s=64x48:r=30:d=2.5", "-map", "1:v",
                                                "-map", "0:a", "-c:v", "libx264", "-c:a", "pcm_s16le",
                                                "-output_ts_offset", std::to_string(c.offset)};
            args.insert(args.end(), late.begin(), late.end());
        }
        args.push_back(file(c.name).string());
        fixtures::runFfmpeg(args);
        const auto source = loadMediaSource(file(c.name));
        ASSERT_TRUE(source && !source->audio.empty());

        const std::vector<float> peaks = computePeaks(*source->asset, source->audio[0].stream);
        ASSERT_EQ(peaks.size(), c.peaks);
        for (std::size_t i = 0; i < c.silentFirst; ++i) EXPECT_EQ(peaks[i], 0.0f) << i;
        for (std::size_t i = c.silentFirst + 1; i + 1 < peaks.size(); ++i)
            ASSERT_NEAR(peaks[i], 0.5f, 0.02f) << i;  // the sine's amplitude
    }
}

TEST_F(PeaksAndThumbnails, AnUnreadableStreamGivesNoPeaksAndIsNotRetried)
{
    fixtures::runFfmpeg({"-f", "lavfi", "-i", "sine=d=1", file("gone.wav").string()});
    const auto source = loadMediaSource(file("gone.wav"));
    ASSERT_TRUE(source);
    std::ofstream(file("gone.wav"), std::ios::trunc) << "no longer a sound file";
    EXPECT_TRUE(computePeaks(*source->asset, source->audio[0].stream).empty());

    MediaSources sources;
    sources.emplace("gone.wav", *source);
    const std::vector<Track> tracks{trackOf("gone.wav", MediaKind::audio, 0)};
    PeakMap peaks;
    EXPECT_EQ(missingPeaks(tracks, sources, peaks).size(), 1u);
    peaks[tracks[0].media] = {};  // stored empty
    EXPECT_TRUE(missingPeaks(tracks, sources, peaks).empty());
}

TEST_F(PeaksAndThumbnails, LoadersGatherEachLoadedStreamOnce)
{
    fixtures::makePicture(file("still.png"), 4000, 1000);
    MediaSources sources = loadedRecording();
    sources.emplace("still.png", *loadMediaSource(file("still.png")));
    const std::string rec = recording();

    Track sound = trackOf(rec, MediaKind::audio, 0, 2);  // two clips of one stream
    Track second = trackOf(rec, MediaKind::audio, 1);
    second.clips[0].media = MediaRef{rec, MediaKind::audio, 5};  // no such stream
    second.clips.push_back(second.clips[0]);
    second.clips[1].media.reset();
    Track unloaded = trackOf("elsewhere.wav", MediaKind::audio, 0);
    Track screen = trackOf(rec, MediaKind::video, 0, 2);
    screen.clips[1].media = MediaRef{rec, MediaKind::video, 1};  // the camera on the screen's track
    Track still = trackOf("still.png", MediaKind::image, 0);
    Track effects = trackOf("", MediaKind::effects, 0);
    const std::vector<Track> tracks{sound, second, unloaded, screen, still, effects};

    const auto peakJobs = missingPeaks(tracks, sources, {});
    ASSERT_EQ(peakJobs.size(), 2u);  // video and image tracks get none
    EXPECT_EQ(peakJobs[0].media, sound.media);
    EXPECT_EQ(peakJobs[1].media, second.media);
    EXPECT_EQ(peakJobs[1].stream.fileIndex, sources.at(rec).audio[1].stream.fileIndex);
    EXPECT_EQ(missingPeaks(tracks, sources, {{sound.media, {0.5f}}}).size(), 1u);

    const auto jobs = missingThumbnails(tracks, sources, {});
    ASSERT_EQ(jobs.size(), 3u);  // sound and effects get none
    EXPECT_EQ(jobs[0].media, screen.media);
    EXPECT_EQ(jobs[1].media, *screen.clips[1].media);
    EXPECT_EQ(jobs[1].stream.naturalSize, QSize(160, 120));
    EXPECT_EQ(jobs[1].plan.batches.size(), 1u);  // 16 times
    EXPECT_EQ(jobs[1].plan.batches[0].size(), 16u);
    EXPECT_EQ(jobs[2].media, still.media);
    EXPECT_FALSE(jobs[2].asset);
    EXPECT_EQ(stillThumbnail(jobs[2].still)->image.size(), QSize(240, 60));
    EXPECT_EQ(missingThumbnails(tracks, sources, {{screen.media, {}}}).size(), 2u);
}

TEST_F(PeaksAndThumbnails, FilmstripsShowTheReferencedStreamNearEachTime)
{
    const MediaSources sources = loadedRecording();
    const std::string rec = recording();
    Track screen = trackOf(rec, MediaKind::video, 0);
    Track camera = trackOf(rec, MediaKind::video, 1);
    const std::vector<Track> tracks{screen, camera};
    const auto jobs = missingThumbnails(tracks, sources, {});
    ASSERT_EQ(jobs.size(), 2u);

    // The screen: its frame numbers within the tolerance of each time.
    const auto& screenJob = jobs[0];
    const auto& times = screenJob.plan.batches[0];
    const auto strip = makeThumbnails(*screenJob.asset, screenJob.stream, times, screenJob.plan.tolerance);
    ASSERT_EQ(strip.size(), times.size());
    for (std::size_t i = 0; i < strip.size(); ++i) {
        EXPECT_EQ(strip[i].time, times[i]);
        const QImage& image = strip[i].image;
        ASSERT_EQ(image.size(), QSize(240, 180));
        const int frame = fixtures::frameNumberOf([&](int x, int y) { return image.pixel(x, y); }, 240, 180);
        EXPECT_LE(std::abs(frame - times[i] * 30), screenJob.plan.tolerance * 30 + 1) << times[i];
        EXPECT_GT(image.pixelColor(120, 150).red(), 150);
    }

    // The camera clip's filmstrip shows the camera, not the screen.
    const auto& cameraJob = jobs[1];
    const auto cameraStrip =
        makeThumbnails(*cameraJob.asset, cameraJob.stream, std::vector<double>{0.25, 7.75}, cameraJob.plan.tolerance);
    ASSERT_EQ(cameraStrip.size(), 2u);
    for (const Thumbnail& t : cameraStrip) {
        EXPECT_EQ(t.image.size(), QSize(160, 120));  // never enlarged
        const QColor c = t.image.pixelColor(80, 60);
        EXPECT_GT(c.blue(), 200);
        EXPECT_LT(c.red(), 40);
    }

    // A file that has gone since it was opened gives none.
    std::filesystem::copy_file(rec, file("copy.mov"));
    const auto copy = loadMediaSource(file("copy.mov"));
    std::filesystem::remove(file("copy.mov"));
    EXPECT_TRUE(makeThumbnails(*copy->asset, copy->video[0].stream, std::vector<double>{1.0}, 0.25).empty());
}

} // namespace
