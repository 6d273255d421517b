#include "Platform/media/Asset.h"
#include "Platform/media/MediaError.h"

#include "support/MediaFixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

using platform::Asset;
using platform::MediaError;
using platform::MediaTime;

namespace {

// The message of the MediaError that opening `file` throws.
std::string openError(const std::filesystem::path& file)
{
    try {
        Asset::open(file);
    } catch (const MediaError& e) {
        return e.what();
    }
    return "(no error)";
}

} // namespace

TEST(Asset, ProbesAMovieWithSeveralStreamsInTrackOrder)
{
    fixtures::TempDir dir;
    const auto screen = fixtures::makeNumberedVideo(dir / "screen.mov", fixtures::NumberedVideo(90));
    const auto camera = fixtures::makeNumberedVideo(dir / "camera.mov", fixtures::NumberedVideo(60, 160, 120));
    const auto sound = fixtures::makeStereoSine(dir / "sound.wav", 3.0);
    const auto movie = dir / "movie.mov";
    fixtures::runFfmpeg({"-i", screen.string(), "-i", camera.string(), "-i", sound.string(), "-map", "0:v", "-map",
                         "1:v", "-map", "2:a", "-c:v", "copy", "-c:a", "aac", "-metadata:s:v:0", "handler_name=Képernyő",
                         "-metadata:s:v:1", "handler_name=Kamera", "-metadata:s:a:0", "handler_name=Mikrofon",
                         movie.string()});

    const auto asset = Asset::open(movie);
    EXPECT_FALSE(asset->isStillImage());
    ASSERT_EQ(asset->videoStreams().size(), 2u);
    ASSERT_EQ(asset->audioStreams().size(), 1u);
    const auto& v0 = asset->videoStreams()[0];
    const auto& v1 = asset->videoStreams()[1];
    const auto& a0 = asset->audioStreams()[0];
    EXPECT_EQ(v0.name, "Képernyő");
    EXPECT_EQ(v0.naturalSize, QSize(320, 240));
    EXPECT_DOUBLE_EQ(v0.nominalFrameRate, 30.0);
    EXPECT_EQ(v0.timeRange.start, MediaTime::zero());
    EXPECT_EQ(v0.timeRange.duration, MediaTime(3, 1));
    EXPECT_EQ(v1.name, "Kamera");
    EXPECT_EQ(v1.naturalSize, QSize(160, 120));
    EXPECT_EQ(v1.timeRange.duration, MediaTime(2, 1));
    EXPECT_LT(v0.trackId, v1.trackId);
    EXPECT_EQ(a0.name, "Mikrofon");
    EXPECT_EQ(a0.sampleRate, 48000);
    EXPECT_EQ(a0.channels, 2);
    EXPECT_EQ(a0.timeRange.start, MediaTime::zero());
    EXPECT_NEAR(a0.timeRange.duration.seconds(), 3.0, 0.03);
    EXPECT_EQ(asset->duration(), std::max(a0.timeRange.end(), v0.timeRange.end()));
}

TEST(Asset, StillPictureHasOneImageAndItsSize)
{
    fixtures::TempDir dir;
    for (const char* name : {"picture.png", "picture.JPG"}) {
        SCOPED_TRACE(name);
        const auto asset = Asset::open(fixtures::makePicture(dir / name, 64, 48));
        EXPECT_TRUE(asset->isStillImage());
        ASSERT_TRUE(asset->image().has_value());
        EXPECT_EQ(asset->image()->naturalSize, QSize(64, 48));
        EXPECT_TRUE(asset->videoStreams().empty() && asset->audioStreams().empty());
        EXPECT_EQ(asset->duration(), MediaTime::zero());
    }
}

TEST(Asset, BadFilesGiveClearErrorsQuickly)
{
    fixtures::TempDir dir;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(openError(dir / "missing.mov"), "A fájl nem található: „" + (dir / "missing.mov").string() + "”.");

    const auto text = dir / "notes.mov";
    std::ofstream(text) << "Ez nem film.\n";
    const std::string textError = openError(text);
    EXPECT_EQ(textError.rfind("A fájl nem kép-, hang- vagy videofájl, vagy sérült: „" + text.string() + "”", 0), 0u)
        << textError;
    EXPECT_NE(textError.find(" ("), std::string::npos) << textError;  // FFmpeg's own words follow

    // A movie extension is taken at its word: a picture so named is no movie.
    const auto disguised = dir / "picture.MOV";
    std::filesystem::copy_file(fixtures::makePicture(dir / "picture.png", 64, 48), disguised);
    EXPECT_NE(openError(disguised).find("„" + disguised.string() + "”"), std::string::npos);

    const auto fifo = dir / "pipe.mov";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Half a movie: its index lies past the cut.
    const auto half = fixtures::makeNumberedVideo(dir / "half.mp4", fixtures::NumberedVideo(30));
    std::filesystem::resize_file(half, std::filesystem::file_size(half) / 2);
    for (const auto& bad : {dir.path(), fifo, half})
        EXPECT_NE(openError(bad), "(no error)") << bad;

    if (geteuid() != 0) {
        const auto locked = fixtures::makeNumberedVideo(dir / "locked.mov", fixtures::NumberedVideo(5));
        std::filesystem::permissions(locked, std::filesystem::perms::none);
        EXPECT_EQ(openError(locked).rfind("A fájl nem olvasható", 0), 0u);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}
