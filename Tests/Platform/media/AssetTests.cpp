#include "Platform/media/Asset.h"
#include "Platform/media/MediaError.h"

#include "support/MediaFixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

using platform::Asset;
using platform::MediaError;
using platform::MediaTime;
using platform::StreamKind;

namespace {

const std::vector<std::string> kFragmented{"-bf", "0", "-movflags", "frag_keyframe+empty_moov+default_base_moof"};

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
    EXPECT_EQ(v0.kind, StreamKind::video);
    EXPECT_EQ(v0.name, "Képernyő");
    EXPECT_EQ(v0.naturalSize, QSize(320, 240));
    EXPECT_EQ(v0.rotation, 0);
    EXPECT_DOUBLE_EQ(v0.aspect(), 320.0 / 240.0);
    EXPECT_DOUBLE_EQ(v0.nominalFrameRate, 30.0);
    EXPECT_EQ(v0.timeRange.start, MediaTime::zero());
    EXPECT_EQ(v0.timeRange.duration, MediaTime(3, 1));

    const auto& v1 = asset->videoStreams()[1];
    EXPECT_EQ(v1.name, "Kamera");
    EXPECT_EQ(v1.naturalSize, QSize(160, 120));
    EXPECT_EQ(v1.timeRange.duration, MediaTime(2, 1));
    EXPECT_LT(v0.trackId, v1.trackId);

    const auto& a0 = asset->audioStreams()[0];
    EXPECT_EQ(a0.kind, StreamKind::audio);
    EXPECT_EQ(a0.name, "Mikrofon");
    EXPECT_EQ(a0.sampleRate, 48000);
    EXPECT_EQ(a0.channels, 2);
    EXPECT_EQ(a0.timeRange.start, MediaTime::zero());
    EXPECT_NEAR(a0.timeRange.duration.seconds(), 3.0, 0.03);
    EXPECT_EQ(asset->duration(), std::max(a0.timeRange.end(), v0.timeRange.end()));
}

TEST(Asset, SoundOnlyFileHasNoVideo)
{
    fixtures::TempDir dir;
    const auto asset = Asset::open(fixtures::makeStereoSine(dir / "sine.wav", 2.0, 44100));
    EXPECT_TRUE(asset->videoStreams().empty());
    ASSERT_EQ(asset->audioStreams().size(), 1u);
    EXPECT_EQ(asset->audioStreams()[0].sampleRate, 44100);
    EXPECT_EQ(asset->audioStreams()[0].timeRange.duration, MediaTime(2, 1));
}

TEST(Asset, RotatedVideoReportsTurnAndDisplayedAspect)
{
    fixtures::TempDir dir;
    const auto plain = fixtures::makeNumberedVideo(dir / "plain.mov", fixtures::NumberedVideo(30));
    const auto turned = dir / "turned.mov";
    // This ffmpeg writes "rotate=90" as a quarter turn counterclockwise.
    fixtures::runFfmpeg({"-i", plain.string(), "-c", "copy", "-metadata:s:v:0", "rotate=90", turned.string()});
    const auto asset = Asset::open(turned);
    ASSERT_EQ(asset->videoStreams().size(), 1u);
    const auto& v = asset->videoStreams()[0];
    EXPECT_EQ(v.rotation, 270);
    EXPECT_EQ(v.naturalSize, QSize(320, 240));
    EXPECT_EQ(v.displaySize(), QSizeF(240, 320));
    EXPECT_DOUBLE_EQ(v.aspect(), 0.75);
}

TEST(Asset, PixelAspectWidensTheDisplayedPicture)
{
    fixtures::TempDir dir;
    const auto file = fixtures::makeNumberedVideo(dir / "anamorphic.mov", fixtures::NumberedVideo(10, {"-aspect", "16:9"}));
    const auto asset = Asset::open(file);
    const auto& v = asset->videoStreams().at(0);
    EXPECT_NEAR(v.pixelAspect, (16.0 / 9.0) / (320.0 / 240.0), 1e-9);
    EXPECT_NEAR(v.aspect(), 16.0 / 9.0, 1e-9);
}

TEST(Asset, FragmentedMovieHasExactRanges)
{
    fixtures::TempDir dir;
    const auto file = fixtures::makeNumberedVideo(dir / "frag.mov", fixtures::NumberedVideo(150, kFragmented));
    const auto asset = Asset::open(file);
    const auto& v = asset->videoStreams().at(0);
    EXPECT_EQ(v.timeRange.start, MediaTime::zero());
    EXPECT_EQ(v.timeRange.duration, MediaTime(5, 1));
}

TEST(Asset, TruncatedFragmentedMovieEndsWithItsLastWholeFrame)
{
    fixtures::TempDir dir;
    const auto whole = fixtures::makeNumberedVideo(dir / "whole.mov", fixtures::NumberedVideo(300, kFragmented));
    // Cut through the middle of frame 285, inside the last fragment, as a
    // killed recorder leaves it; ffprobe tells where that frame lies.
    const std::string packets =
        fixtures::runFfprobe({"-select_streams", "v", "-show_entries", "packet=pos,size", "-of", "csv=p=0"}, whole);
    std::istringstream lines(packets);
    std::string line;
    for (int i = 0; i <= 285; ++i) std::getline(lines, line);
    const auto comma = line.find(',');  // ffprobe prints size, then pos
    const auto cutAt = std::stoull(line.substr(comma + 1)) + std::stoull(line.substr(0, comma)) / 2;
    const auto cut = dir / "cut.mov";
    std::filesystem::copy_file(whole, cut);
    std::filesystem::resize_file(cut, cutAt);

    const auto asset = Asset::open(cut);
    const auto& v = asset->videoStreams().at(0);
    EXPECT_EQ(v.timeRange.start, MediaTime::zero());
    EXPECT_EQ(v.timeRange.duration, MediaTime(285, 30));
}

TEST(Asset, StillPictureHasOneImageAndItsSize)
{
    fixtures::TempDir dir;
    for (const char* name : {"picture.png", "picture.JPG"}) {
        const auto asset = Asset::open(fixtures::makePicture(dir / name, 64, 48));
        EXPECT_TRUE(asset->isStillImage()) << name;
        ASSERT_TRUE(asset->image().has_value()) << name;
        EXPECT_EQ(asset->image()->kind, StreamKind::image);
        EXPECT_EQ(asset->image()->naturalSize, QSize(64, 48));
        EXPECT_TRUE(asset->videoStreams().empty());
        EXPECT_TRUE(asset->audioStreams().empty());
        EXPECT_EQ(asset->duration(), MediaTime::zero());
    }
    // A movie extension is taken at its word: a picture so named is no movie.
    const auto disguised = dir / "picture.MOV";
    std::filesystem::copy_file(dir / "picture.png", disguised);
    EXPECT_NE(openError(disguised).find("„" + disguised.string() + "”"), std::string::npos);
}

TEST(Asset, BadFilesGiveClearErrorsQuickly)
{
    fixtures::TempDir dir;
    const auto started = std::chrono::steady_clock::now();

    EXPECT_EQ(openError(dir / "missing.mov"), "A fájl nem található: „" + (dir / "missing.mov").string() + "”.");

    const auto text = fixtures::makeTextFile(dir / "notes.mov");
    const std::string textError = openError(text);
    EXPECT_EQ(textError.rfind("A fájl nem kép-, hang- vagy videofájl, vagy sérült: „" + text.string() + "”", 0), 0u)
        << textError;
    // FFmpeg's own words follow in parentheses.
    EXPECT_NE(textError.find(" ("), std::string::npos) << textError;

    EXPECT_NE(openError(fixtures::makeTextFile(dir / "notes.txt", "Hello\nworld\n")), "(no error)");
    EXPECT_NE(openError(fixtures::makeTextFile(dir / "empty.mp4", "")), "(no error)");
    EXPECT_NE(openError(dir.path()), "(no error)");

    const std::string fifo = (dir / "pipe.mov").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_NE(openError(fifo), "(no error)");

    // Half a movie: its index lies past the cut.
    const auto whole = fixtures::makeNumberedVideo(dir / "whole.mp4", fixtures::NumberedVideo(30));
    std::filesystem::resize_file(whole, std::filesystem::file_size(whole) / 2);
    EXPECT_NE(openError(whole), "(no error)");

    if (geteuid() != 0) {
        const auto locked = fixtures::makeNumberedVideo(dir / "locked.mov", fixtures::NumberedVideo(5));
        std::filesystem::permissions(locked, std::filesystem::perms::none);
        EXPECT_EQ(openError(locked).rfind("A fájl nem olvasható", 0), 0u);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}
