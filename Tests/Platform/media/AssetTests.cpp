#include "Platform/media/Asset.h"
#include "Platform/media/FrameReader.h"
#include "Platform/media/ImageGenerator.h"
#include "Platform/media/MediaError.h"
#include "Platform/media/ReadSupport.h"
#include "Platform/media/SampleReader.h"

#include "support/DamagedMedia.h"
#include "support/MediaFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

using platform::Asset;
using platform::MediaError;
using platform::MediaTime;

namespace {

// Where the packets of a stream that lie whole in the first `bytes` bytes of
// the file end (presentation end of the latest), as ffprobe lists them.
double wholePacketsEnd(const std::vector<fixtures::PacketPlace>& packets, std::uint64_t bytes)
{
    double end = 0;
    for (const auto& p : packets)
        if (p.pos + p.size <= bytes) end = std::max(end, p.time + p.duration);
    return end;
}

// The end of the last picture a reader shows and of the sound it reads.
std::pair<double, double> decodedEnds(const Asset& asset)
{
    platform::FrameReader frames(asset, asset.videoStreams().at(0));
    const auto last = frames.frameAt(MediaTime(1000, 1));
    platform::SampleReader sound(asset, asset.audioStreams().at(0), 48000, 2);
    std::vector<float> block(2 * 48000);
    std::size_t count = 0;
    while (const std::size_t n = sound.read(block.data(), 48000)) count += n;
    return {(last.time + last.duration).seconds(), double(count) / 48000};
}

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

TEST(Asset, AMovieCutInsideAFragmentHeaderOpensUpToItsLastWholeFragment)
{
    fixtures::TempDir dir;
    const auto whole = fixtures::makeFragmentedMovie(dir / "whole.mov", 6);
    const std::string bytes = fixtures::fileBytes(whole);
    int fragments = 0;
    for (const auto& box : fixtures::boxesIn(bytes, 0, bytes.size())) {
        if (box.type != "moof") continue;
        SCOPED_TRACE(fragments);
        // What an independent reader finds in the movie that ends before this header.
        const auto clean = fixtures::cutCopy(whole, dir / "clean.mov", box.offset);
        const auto cut = fixtures::cutCopy(whole, dir / ("cut" + std::to_string(fragments++) + ".mov"),
                                           box.offset + box.size / 2);
        const auto asset = Asset::open(cut);
        EXPECT_EQ(asset->readableBytes(), box.offset);
        const double videoEnd = wholePacketsEnd(fixtures::packetPlaces(clean, "v"), box.offset);
        const double soundEnd = wholePacketsEnd(fixtures::packetPlaces(clean, "a"), box.offset);
        EXPECT_NEAR(asset->videoStreams().at(0).timeRange.end().seconds(), videoEnd, 1e-3);
        EXPECT_NEAR(asset->audioStreams().at(0).timeRange.end().seconds(), soundEnd, 1e-3);
        if (videoEnd == 0) continue;  // before the first fragment: nothing to read
        const auto [pictureEnd, soundRead] = decodedEnds(*asset);
        EXPECT_NEAR(pictureEnd, videoEnd, 1e-3);
        EXPECT_NEAR(soundRead, soundEnd, 1e-3);
    }
    EXPECT_GE(fragments, 3);
    // A whole movie keeps all of itself.
    EXPECT_EQ(Asset::open(whole)->readableBytes(), 0u);
}

TEST(Asset, AMovieThatEndsEarlyStatesWhatItsLastWholeSamplesHold)
{
    fixtures::TempDir dir;
    // A recording killed half-way through its 3rd fragment's data, and a
    // movie with its index in front (faststart) cut to 60 %.
    const auto fragmented = fixtures::makeFragmentedMovie(dir / "fragmented.mov", 6);
    const std::string bytes = fixtures::fileBytes(fragmented);
    std::vector<fixtures::Box> mdats;
    for (const auto& box : fixtures::boxesIn(bytes, 0, bytes.size()))
        if (box.type == "mdat") mdats.push_back(box);
    ASSERT_GE(mdats.size(), 3u);
    const auto faststart = dir / "faststart.mp4";
    fixtures::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=320x240:r=30:d=2", "-f", "lavfi", "-i",
                         "sine=f=440:sample_rate=48000:d=2", "-c:v", "libx264", "-c:a", "aac", "-movflags", "+faststart",
                         faststart.string()});

    for (const auto& [file, cut] : {std::pair{fragmented, mdats[2].offset + mdats[2].size / 2},
                                    {faststart, std::filesystem::file_size(faststart) * 6 / 10}}) {
        SCOPED_TRACE(file.filename().string());
        const auto damaged = fixtures::cutCopy(file, dir / ("cut-" + file.filename().string()), cut);
        const double videoEnd = wholePacketsEnd(fixtures::packetPlaces(file, "v"), cut);
        const double soundEnd = wholePacketsEnd(fixtures::packetPlaces(file, "a"), cut);
        const auto asset = Asset::open(damaged);
        const auto& video = asset->videoStreams().at(0);
        const auto& sound = asset->audioStreams().at(0);
        EXPECT_NEAR(video.timeRange.end().seconds(), videoEnd, 1e-3);
        EXPECT_NEAR(sound.timeRange.end().seconds(), soundEnd, 1e-3);
        EXPECT_EQ(asset->duration(), std::max(video.timeRange.end(), sound.timeRange.end()));
        const auto [pictureEnd, soundRead] = decodedEnds(*asset);
        EXPECT_NEAR(pictureEnd, videoEnd, 1e-3);
        EXPECT_NEAR(soundRead, soundEnd, 1e-3);
    }
}

TEST(Asset, AMovieKilledBeforeItsFirstFragmentIsEmptyNotBroken)
{
    fixtures::TempDir dir;
    const auto whole = fixtures::makeFragmentedMovie(dir / "whole.mov", 2);
    const std::string bytes = fixtures::fileBytes(whole);
    const auto top = fixtures::boxesIn(bytes, 0, bytes.size());
    const auto moof = std::find_if(top.begin(), top.end(), [](const auto& b) { return b.type == "moof"; });
    ASSERT_NE(moof, top.end());
    // Its header alone, and its header with the first fragment header cut.
    for (const auto size : {moof->offset, moof->offset + 20}) {
        SCOPED_TRACE(size);
        const auto asset = Asset::open(fixtures::cutCopy(whole, dir / "killed.mov", size));
        const auto& video = asset->videoStreams().at(0);
        EXPECT_DOUBLE_EQ(video.nominalFrameRate, 30.0);  // no rate known: not the time base
        EXPECT_EQ(video.nominalFrameDuration(), MediaTime(1, 30));
        EXPECT_TRUE(video.timeRange.isEmpty());
        try {
            platform::FrameReader(*asset, video).frameAt(MediaTime::zero());
            ADD_FAILURE() << "a frame from an empty stream";
        } catch (const MediaError& e) {
            EXPECT_EQ(std::string(e.what()), "A videó üres, nincs benne képkocka: „" + (dir / "killed.mov").string() + "”.");
        }
        // Its sound reads as silence that ends at once.
        platform::SampleReader sound(*asset, asset->audioStreams().at(0), 48000, 2);
        const auto silence = sound.read(platform::TimeRange(MediaTime(-1, 1), MediaTime(2, 1)));
        EXPECT_EQ(silence, std::vector<float>(2 * 96000, 0.0f));
        float block[2 * 100];
        sound.seek(MediaTime::zero());
        EXPECT_EQ(sound.read(block, 100), 0u);
    }
}

TEST(Asset, AFileIsOpenedOnceForItsProbeAndTheReadersThatFollowIt)
{
    using platform::readsupport::Demuxer;
    fixtures::TempDir dir;
    const auto movie = fixtures::makeNumberedVideo(
        dir / "numbered.mov",
        fixtures::NumberedVideo(90, {"-bf", "0", "-movflags", "frag_keyframe+empty_moov+default_base_moof"}));
    const auto sound = fixtures::makeStereoSine(dir / "sine.m4a", 2.0);
    auto numberAt = [](platform::FrameReader& reader, int k) {
        const QImage image = reader.frameAt(MediaTime(k, 30)).image;
        return fixtures::frameNumberOf([&](int x, int y) { return image.pixel(x, y); }, image.width(), image.height());
    };

    const std::uint64_t before = Demuxer::opens();
    const auto asset = Asset::open(movie);
    auto audio = Asset::open(sound);
    EXPECT_EQ(Demuxer::opens(), before + 2);
    EXPECT_EQ(Asset::open(movie), asset);  // probed once while it lives
    const auto& video = asset->videoStreams().at(0);

    // Readers one after the other take over what the probe opened, each
    // reading from where it asks, whatever the one before left.
    for (int k : {75, 10, 44}) {
        platform::FrameReader reader(*asset, video);
        EXPECT_EQ(numberAt(reader, k), k);
        EXPECT_EQ(numberAt(reader, k + 1), k + 1);
    }
    platform::ImageGenerator thumbnails(*asset, video);
    EXPECT_EQ(thumbnails.imageAt(MediaTime(2, 1)).size(), QSize(320, 240));
    std::vector<std::vector<float>> parts;
    for (const double at : {1.5, 0.5, 1.5}) {
        platform::SampleReader reader(*audio, audio->audioStreams().at(0), 48000, 2);
        parts.push_back(reader.read(platform::TimeRange(MediaTime::fromSeconds(at), MediaTime(1, 10))));
    }
    EXPECT_EQ(parts[2], parts[0]);
    EXPECT_NE(parts[1], parts[0]);
    // Probed again once every user has gone: the kept input serves again.
    audio.reset();
    audio = Asset::open(sound);
    EXPECT_NEAR(audio->audioStreams().at(0).timeRange.duration.seconds(), 2.0, 0.03);
    EXPECT_EQ(Demuxer::opens(), before + 2);

    // Readers at the same time need their own; once they end, theirs are kept too.
    {
        platform::FrameReader first(*asset, video);
        platform::FrameReader second(*asset, video);
        EXPECT_EQ(numberAt(first, 30) + numberAt(second, 60), 90);
    }
    EXPECT_EQ(Demuxer::opens(), before + 4);
    {
        platform::FrameReader first(*asset, video);
        platform::FrameReader second(*asset, video);
        EXPECT_EQ(numberAt(first, 89) + numberAt(second, 1), 90);
    }
    EXPECT_EQ(Demuxer::opens(), before + 4);

    // A file written anew is another file.
    std::filesystem::last_write_time(movie, std::filesystem::last_write_time(movie) + std::chrono::seconds(5));
    const auto rewritten = Asset::open(movie);
    EXPECT_NE(rewritten, asset);
    platform::FrameReader reader(*asset, video);
    EXPECT_EQ(numberAt(reader, 5), 5);
    EXPECT_EQ(Demuxer::opens(), before + 6);
}
