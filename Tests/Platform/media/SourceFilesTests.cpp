// Readers of the streams of one file sharing its demuxer (SourceFiles): each
// reads exactly what a reader with the file to itself would, in any order of
// calls and on any threads, and the file is open once.

#include "Platform/media/Asset.h"
#include "Platform/media/AudioMixer.h"
#include "Platform/media/Composition.h"
#include "Platform/media/FrameCache.h"
#include "Platform/media/FrameReader.h"
#include "Platform/media/SampleReader.h"
#include "Platform/media/SourceFiles.h"
#include "Platform/media/SourceFrames.h"

#include "support/MediaFixtures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace platform;
using Kind = Composition::TrackKind;

namespace {

MediaTime sec(double s)
{
    return MediaTime::fromSeconds(s);
}

using fixtures::openCount;

// A recording as the recorder writes it: screen, camera and sound in one
// movie, fragmented or not; key frames every second. Beside it the same in
// Matroska, whose streams can't be sought one by one: there only one reader
// takes the shared demuxer, the others open the file themselves.
class SourceFilesTest : public ::testing::TestWithParam<std::string> {
protected:
    static void SetUpTestSuite()
    {
        dir = new fixtures::TempDir;
        fixtures::NumberedVideo screen(720, {"-g", "30"});
        fixtures::makeNumberedVideo(*dir / "screen.mp4", screen);
        fixtures::NumberedVideo camera(720, {"-g", "30"});
        camera.width = 160;
        camera.height = 120;
        camera.rgb = 0x2080E0;
        fixtures::makeNumberedVideo(*dir / "camera.mp4", camera);
        for (const std::string name : {"plain.mov", "fragmented.mov", "movie.mkv"}) {
            std::vector<std::string> args{"-i", (*dir / "screen.mp4").string(), "-i", (*dir / "camera.mp4").string(),
                                          "-f", "lavfi", "-i",
                                          "aevalsrc=0.4*sin(2*PI*300*t)|0.3*sin(2*PI*500*t)*sin(2*PI*2*t):s=48000:d=24",
                                          "-map", "0:v", "-map", "1:v", "-map", "2:a", "-c:v", "copy", "-c:a", "aac",
                                          "-aac_pns", "0", "-t", "24"};
            if (name == "fragmented.mov")
                args.insert(args.end(), {"-movflags", "frag_keyframe+empty_moov+default_base_moof"});
            args.push_back((*dir / name).string());
            fixtures::runFfmpeg(args);
        }
    }
    static void TearDownTestSuite() { delete dir; }

    // A copy of the movie under a new name: no input of an earlier reader is
    // kept for it, so the files open are those of the readers alive.
    static std::filesystem::path freshMovie()
    {
        const auto copy = *dir / (std::to_string(++copies) + "-" + GetParam());
        std::filesystem::copy_file(*dir / GetParam(), copy);
        return copy;
    }
    // Files the three readers of one SourceFiles hold open.
    static int sharedOpens() { return GetParam() == "movie.mkv" ? 3 : 1; }

    static inline fixtures::TempDir* dir = nullptr;
    static inline int copies = 0;
};

// One reader of each stream, sharing or not.
struct Readers {
    Readers(const Asset& asset, const std::shared_ptr<SourceFiles>& files)
        : screen(asset, asset.videoStreams().at(0), FrameReader::Options{1, nullptr, {}}, files),
          camera(asset, asset.videoStreams().at(1), FrameReader::Options{1, nullptr, {}}, files),
          sound(asset, asset.audioStreams().at(0), 48000, 2, files)
    {
    }
    FrameReader screen;
    FrameReader camera;
    SampleReader sound;
};

} // namespace

TEST_P(SourceFilesTest, EachStreamReadsAsWithTheFileToItself)
{
    // Steps: 's' screen, 'c' camera, 'a' 0.1 s of sound, each at a time.
    struct Step {
        char reader;
        double at;
    };
    std::map<std::string, std::vector<Step>> scripts;
    auto& together = scripts["played together"];
    for (double t = 0; t < 4; t += 1.0 / 30)
        together.insert(together.end(), {{'a', t}, {'s', t}, {'c', t}});
    scripts["jumps back and forth"] = {{'s', 5.0}, {'a', 5.0}, {'c', 5.0}, {'s', 5.1}, {'a', 5.1}, {'s', 1.0},
                                       {'a', 1.2}, {'c', 0.9}, {'c', 1.0}, {'s', 7.5}, {'c', 7.5}, {'a', 7.4},
                                       {'s', 0.0}, {'a', 0.0}, {'c', 0.0}, {'a', 0.1}, {'s', 3.3}, {'c', 3.2}};
    auto& apart = scripts["screen and camera far apart"];
    for (double t = 0; t < 1.5; t += 1.0 / 30)
        apart.insert(apart.end(), {{'s', t}, {'a', t}, {'c', 20 + t}});
    auto& back = scripts["camera 6 s behind"];
    for (double t = 0; t < 1.5; t += 1.0 / 30)
        back.insert(back.end(), {{'s', 6 + t}, {'a', 6 + t}, {'c', t}});
    auto& soundAhead = scripts["sound 2.5 s ahead"];
    for (double t = 0; t < 2; t += 0.1) soundAhead.insert(soundAhead.end(), {{'s', t}, {'a', t + 2.5}});

    for (const auto& [name, script] : scripts) {
        SCOPED_TRACE(name);
        const auto movie = freshMovie();
        const auto asset = Asset::open(movie);
        Readers shared(*asset, std::make_shared<SourceFiles>());
        Readers own(*asset, nullptr);
        for (std::size_t i = 0; i < script.size(); ++i) {
            const Step& step = script[i];
            const MediaTime t = sec(step.at);
            if (step.reader == 'a') {
                const TimeRange range(t, sec(0.1));
                ASSERT_EQ(shared.sound.read(range), own.sound.read(range)) << "step " << i << " at " << step.at;
            } else {
                FrameReader& a = step.reader == 's' ? shared.screen : shared.camera;
                FrameReader& b = step.reader == 's' ? own.screen : own.camera;
                const VideoFrame x = a.frameAt(t);
                const VideoFrame y = b.frameAt(t);
                ASSERT_EQ(x.time, y.time) << step.reader << " step " << i << " at " << step.at;
                ASSERT_TRUE(x.image == y.image) << step.reader << " step " << i << " at " << step.at;
            }
        }
        // Far apart, the camera reads on its own.
        const int opens = name == "screen and camera far apart" && sharedOpens() == 1 ? 2 : sharedOpens();
        EXPECT_EQ(openCount(movie), opens + 3);  // beside the three of the others
    }
}

TEST_P(SourceFilesTest, PicturesAndSoundOnTheirOwnThreadsOpenTheFileOnce)
{
    // Screen and camera on two video tracks, the sound on a third, as a
    // player's threads read them: pictures on one, sound on the other.
    const auto movie = freshMovie();
    const auto asset = Asset::open(movie);
    auto c = std::make_shared<Composition>();
    const TimeRange span(sec(0.5), sec(6));
    const std::int32_t screen = c->addTrack(Kind::video);
    c->insertTimeRange(screen, asset, asset->videoStreams().at(0), span, MediaTime::zero());
    const std::int32_t camera = c->addTrack(Kind::video);
    c->insertTimeRange(camera, asset, asset->videoStreams().at(1), span, MediaTime::zero());
    const std::int32_t voice = c->addTrack(Kind::sound);
    c->insertTimeRange(voice, asset, asset->audioStreams().at(0), span, MediaTime::zero());

    std::vector<QImage> pictures;
    std::vector<float> sound(std::size_t(6 * 48000) * 2);
    auto files = std::make_shared<SourceFiles>();
    SourceFrames frames(c, std::make_shared<FrameCache>(std::size_t(16) << 20), files);
    AudioMixer mixer(c, files);
    std::thread video([&] {
        for (int f = 0; f < 180; ++f) {
            auto shown = frames.framesAt({screen, camera}, MediaTime(f, 30));
            for (const std::int32_t id : {screen, camera}) pictures.push_back(shown[id]);
        }
    });
    for (std::size_t done = 0; done < sound.size(); done += 2 * 1024)
        mixer.mix(sound.data() + done, int(std::min<std::size_t>(1024, (sound.size() - done) / 2)), nullptr);
    video.join();
    EXPECT_EQ(openCount(movie), sharedOpens());
    EXPECT_FALSE(frames.takeError().has_value());
    EXPECT_FALSE(mixer.takeError().has_value());

    // As readers with the file to themselves read it.
    FrameReader ownScreen(*asset, asset->videoStreams().at(0));
    FrameReader ownCamera(*asset, asset->videoStreams().at(1));
    ASSERT_EQ(pictures.size(), 360u);
    for (int f = 0; f < 180; ++f) {
        const MediaTime t = span.start + MediaTime(f, 30);
        ASSERT_TRUE(pictures[std::size_t(2 * f)] == ownScreen.frameAt(t).image) << f;
        ASSERT_TRUE(pictures[std::size_t(2 * f + 1)] == ownCamera.frameAt(t).image) << f;
    }
    SampleReader ownSound(*asset, asset->audioStreams().at(0), 48000, 2);
    ASSERT_EQ(sound, ownSound.read(span));
}

INSTANTIATE_TEST_SUITE_P(Movies, SourceFilesTest, ::testing::Values("plain.mov", "fragmented.mov", "movie.mkv"),
                         [](const auto& info) { return info.param.substr(0, info.param.find('.')); });
