// The player with sound, on the test desktop's PulseAudio. It plays into the
// default sink "desk", which also plays a 440 Hz sine; the tests play a
// 2 kHz tone and listen for it on the sink's monitor.

#include "Platform/audio/AudioInputStream.h"
#include "Platform/audio/AudioServer.h"
#include "Platform/media/AudioMix.h"
#include "Platform/media/Composition.h"
#include "Platform/media/MediaError.h"
#include "Platform/media/Player.h"
#include "Platform/media/PlayerItem.h"

#include "support/MediaFixtures.h"
#include "support/PlayerSupport.h"
#include "support/ScopedEnv.h"
#include "support/SoundOutputs.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;
using Kind = Composition::TrackKind;

namespace {

MediaTime sec(double s)
{
    return MediaTime::fromSeconds(s);
}

constexpr double kTone = 2000;

// What the default sink plays, left channel, at 48 kHz.
class Recording {
public:
    Recording()
        : stream_({"desk.monitor", 2, 48000, 480}, [this](const AudioInputStream::Buffer& b) {
              std::lock_guard guard(mutex_);
              for (int i = 0; i < b.frames; ++i) left_.push_back(b.samples[i * b.channels]);
          })
    {
    }

    // The amplitude of the 2 kHz tone in each 10 ms of what was heard: a
    // Hann-windowed DFT at that one frequency, far from the desk's 440 Hz sine.
    std::vector<double> levels()
    {
        std::lock_guard guard(mutex_);
        constexpr std::size_t n = 480;
        std::vector<double> out;
        for (std::size_t i = 0; i + n <= left_.size(); i += n) {
            double re = 0, im = 0, weights = 0;
            for (std::size_t j = 0; j < n; ++j) {
                const double w = 0.5 - 0.5 * std::cos(2 * M_PI * double(j) / n);
                const double phase = 2 * M_PI * kTone * double(j) / 48000;
                re += w * left_[i + j] * std::cos(phase);
                im -= w * left_[i + j] * std::sin(phase);
                weights += w;
            }
            out.push_back(2 * std::hypot(re, im) / weights);
        }
        return out;
    }

private:
    std::mutex mutex_;
    std::vector<float> left_;  // guarded by mutex_; written on the sound thread
    AudioInputStream stream_;  // last: closed first, so no buffer comes after the fields go
};

using fixtures::openCount;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

class PlayerSoundTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = new fixtures::TempDir;
        video = Asset::open(fixtures::makeNumberedVideo(*dir / "a.mp4", fixtures::NumberedVideo(90)));
        // 2 kHz at amplitude 0.25: with the desk's sine it stays clear of clipping.
        fixtures::runFfmpeg({"-f", "lavfi", "-i", "aevalsrc=0.25*sin(2*PI*2000*t):s=48000:d=3:c=stereo", "-c:a",
                             "pcm_f32le", (*dir / "tone.wav").string()});
        sound = Asset::open(*dir / "tone.wav");
    }
    static void TearDownTestSuite()
    {
        video.reset();
        sound.reset();
        delete dir;
    }

    void SetUp() override
    {
        auto c = std::make_shared<Composition>();
        const std::int32_t picture = c->addTrack(Kind::video);
        c->insertTimeRange(picture, video, video->videoStreams().at(0), {sec(0), sec(3)}, sec(0));
        soundTrack = c->addTrack(Kind::sound);
        c->insertTimeRange(soundTrack, sound, sound->audioStreams().at(0), {sec(0), sec(3)}, sec(0));
        item = std::make_shared<PlayerItem>(c);
        item->setVideoComposition(fixtures::passThrough({320, 240}, {picture}, c->duration()));
        QObject::connect(&player, &Player::errorOccurred,
                         [](const QString& m) { ADD_FAILURE() << m.toStdString(); });
        player.replaceCurrentItem(item);
        ASSERT_TRUE(fixtures::runUntil([&] { return !player.currentFrame().isNull(); }, 5s));
    }

    std::shared_ptr<const AudioMix> mixAt(float volume) const
    {
        auto mix = std::make_shared<AudioMix>();
        mix->parameters(soundTrack).setVolume(volume, MediaTime::zero());
        return mix;
    }

    static inline fixtures::TempDir* dir = nullptr;
    static inline std::shared_ptr<const Asset> video;
    static inline std::shared_ptr<const Asset> sound;
    std::int32_t soundTrack = 0;
    std::shared_ptr<PlayerItem> item;
    Player player;
};

} // namespace

// Judged by the player's own clock, the sound: a loaded machine may start the
// sound late or let it stall, and then the ticks, the picture and the end
// follow the sound, not the wall.
TEST_F(PlayerSoundTest, TicksKeepTimeAndTheEndPauses)
{
    std::vector<MediaTime> ticks;
    player.addPeriodicTimeObserver(MediaTime(1, 30), [&](const MediaTime& t) { ticks.push_back(t); });
    // What a plain timer of the same interval gets of this machine while the
    // sound moves: a busy machine delays both alike.
    int plainTicks = 0;
    QTimer plain;
    plain.setTimerType(Qt::PreciseTimer);
    plain.setInterval(33);
    QObject::connect(&plain, &QTimer::timeout, [&] { plainTicks += player.currentTime() > MediaTime::zero(); });
    QElapsedTimer wall;
    wall.start();
    player.play();
    plain.start();
    ASSERT_TRUE(fixtures::runUntil([&] { return player.currentTime() >= sec(2.0); }, 30s))
        << "the sound stands at " << player.currentTime().seconds() << " s";
    player.pause();
    plain.stop();
    const double played = double(wall.elapsed()) / 1000;
    const MediaTime t = player.currentTime();

    // Ticks come no more often than every 33 ms of the wall, and once the
    // sound moves, about as often as the plain timer's.
    ASSERT_FALSE(ticks.empty());
    for (std::size_t i = 1; i < ticks.size(); ++i) EXPECT_GE(ticks[i], ticks[i - 1]);
    EXPECT_LE(double(ticks.size()), played / 0.033 + 2);
    const auto moving = std::find_if(ticks.begin(), ticks.end(), [](const MediaTime& m) { return m > MediaTime::zero(); });
    ASSERT_GE(ticks.end() - moving, 2);
    EXPECT_GE(ticks.end() - moving, plainTicks * 3 / 4 - 2) << ticks.size() << " ticks";
    EXPECT_LE(ticks.back(), t);
    // Paused, the clock stands still and the observer rests.
    const std::size_t count = ticks.size();
    fixtures::runFor(200ms);
    EXPECT_EQ(player.currentTime(), t);
    EXPECT_EQ(ticks.size(), count);

    // From 2.5 s the end comes after half a second, and pauses there.
    bool done = false;
    player.seek(sec(2.5), [&](bool) { done = true; });
    ASSERT_TRUE(fixtures::runUntil([&] { return done; }, 10s));
    std::vector<double> rates;
    QObject::connect(&player, &Player::rateChanged, [&](double r) { rates.push_back(r); });

    wall.restart();
    player.play();
    ASSERT_TRUE(fixtures::runUntil([&] { return !player.isPlaying(); }, 30s));
    // Half a second of sound is never heard in less; a loaded machine only adds to it.
    EXPECT_GE(double(wall.elapsed()) / 1000, 0.3);
    EXPECT_EQ(rates, (std::vector<double>{1, 0}));
    EXPECT_EQ(player.currentTime(), sec(3));
    // The last frames show, however late a busy machine composes them.
    EXPECT_TRUE(fixtures::runUntil([&] { return fixtures::frameNumber(player.currentFrame()) >= 86; }, 10s))
        << fixtures::frameNumber(player.currentFrame());
}

TEST_F(PlayerSoundTest, SwappingTheAudioMixWhilePlayingChangesTheLevelWithoutAGap)
{
    item->setAudioMix(mixAt(1.0f));
    Recording recording;
    player.play();
    fixtures::runFor(1000ms);
    item->setAudioMix(mixAt(0.25f));
    fixtures::runFor(800ms);
    player.pause();
    fixtures::runFor(200ms);

    const std::vector<double> levels = recording.levels();
    const auto first = std::find_if(levels.begin(), levels.end(), [](double l) { return l > 0.15; });
    ASSERT_NE(first, levels.end()) << "nothing was heard";
    const auto last = std::find_if(levels.rbegin(), levels.rend(), [](double l) { return l > 0.03; }).base();
    ASSERT_GT(last - first, 150);  // about 1.8 s of 10 ms windows
    // From the first sound to the pause, never a silent window.
    const auto gap = std::find_if(first, last, [](double l) { return l < 0.03; });
    EXPECT_EQ(gap, last) << "silence at " << (gap - first) * 10 << " ms";
    // Loud first, a quarter as loud after the swap, and one clean step.
    EXPECT_NEAR(median({first + 5, first + 60}), 0.25, 0.02);
    EXPECT_NEAR(median({last - 40, last - 5}), 0.0625, 0.01);
    const auto between = std::count_if(first + 5, last - 5, [](double l) { return l > 0.08 && l < 0.23; });
    EXPECT_LE(between, 3);
}

TEST_F(PlayerSoundTest, PictureAndSoundOfOneRecordingPlayFromOneOpenFile)
{
    // The picture and the tone in one fragmented movie, as a recording has them.
    const auto path = *dir / "recording.mov";
    fixtures::runFfmpeg({"-i", (*dir / "a.mp4").string(), "-i", (*dir / "tone.wav").string(), "-map", "0:v", "-map",
                         "1:a", "-c:v", "copy", "-c:a", "aac", "-movflags", "frag_keyframe+empty_moov+default_base_moof",
                         path.string()});
    const auto recording = Asset::open(path);
    auto c = std::make_shared<Composition>();
    const std::int32_t picture = c->addTrack(Kind::video);
    c->insertTimeRange(picture, recording, recording->videoStreams().at(0), {sec(0), sec(3)}, sec(0));
    c->insertTimeRange(c->addTrack(Kind::sound), recording, recording->audioStreams().at(0), {sec(0), sec(3)}, sec(0));
    auto one = std::make_shared<PlayerItem>(c);
    one->setVideoComposition(fixtures::passThrough({320, 240}, {picture}, c->duration()));
    player.replaceCurrentItem(one);

    Recording heard;
    player.play();
    fixtures::runFor(700ms);
    EXPECT_EQ(openCount(path), 1);
    // A jump while playing: both threads move on the one file.
    bool done = false;
    player.seek(sec(2.0), [&](bool) { done = true; });
    ASSERT_TRUE(fixtures::runUntil([&] { return done; }, 5s));
    fixtures::runFor(500ms);
    player.pause();
    EXPECT_EQ(openCount(path), 1);
    EXPECT_GE(fixtures::frameNumber(player.currentFrame()), 70);

    const std::vector<double> levels = heard.levels();
    const auto first = std::find_if(levels.begin(), levels.end(), [](double l) { return l > 0.15; });
    ASSERT_NE(first, levels.end()) << "nothing was heard";
    EXPECT_NEAR(median({first + 5, first + 50}), 0.25, 0.03);
}

TEST(PlayerSoundServer, AfterAFailureTheOutputIsOpenedAgainOnlyWhenTheServerIsReportedBack)
{
    fixtures::TempDir dir;
    fixtures::runFfmpeg({"-f", "lavfi", "-i", "aevalsrc=0.25*sin(2*PI*2000*t):s=48000:d=3:c=stereo", "-c:a",
                         "pcm_f32le", (dir / "tone.wav").string()});
    const auto tone = Asset::open(dir / "tone.wav");
    auto c = std::make_shared<Composition>();
    c->insertTimeRange(c->addTrack(Kind::sound), tone, tone->audioStreams().at(0), {sec(0), sec(3)}, sec(0));
    const auto item = std::make_shared<PlayerItem>(c);

    Player player;
    std::vector<std::string> errors;
    QObject::connect(&player, &Player::errorOccurred, [&](const QString& m) { errors.push_back(m.toStdString()); });
    {
        testsupport::ScopedEnv gone("PULSE_SERVER", "unix:/nonexistent/ondexa/native");
        player.replaceCurrentItem(item);
        ASSERT_TRUE(fixtures::runUntil([&] { return !errors.empty(); }, 10s));
    }
    EXPECT_NE(errors[0].find("Az előnézet hang nélkül megy tovább."), std::string::npos) << errors[0];

    // The server is there again, but nothing has reached it yet: a new item
    // plays by the clock and asks nothing of the server.
    player.replaceCurrentItem(item);
    player.play();
    fixtures::runFor(500ms);
    EXPECT_GT(player.currentTime().seconds(), 0.3);
    EXPECT_TRUE(testsupport::ownSoundOutputs().empty());

    // Reached again (as the recorder's device list does), it reports itself
    // back, and the sound output opens without a word.
    AudioServer::shared();
    EXPECT_TRUE(fixtures::runUntil([&] { return !testsupport::ownSoundOutputs().empty(); }, 5s));
    EXPECT_TRUE(player.isPlaying());
    EXPECT_EQ(errors.size(), 1u);
}

// While every player is held (a recording runs), a playing one falls silent
// and play is ignored; released, it plays again.
TEST_F(PlayerSoundTest, HeldPlayersStaySilentUntilReleased)
{
    struct Release {
        ~Release() { Player::setAllHeld(false); }
    } release;
    Recording recording;
    player.play();
    fixtures::runFor(600ms);
    Player::setAllHeld(true);
    EXPECT_FALSE(player.isPlaying());
    const MediaTime stoodAt = player.currentTime();
    player.play();
    player.setRate(2);
    EXPECT_FALSE(player.isPlaying());
    EXPECT_THROW(player.setRate(-1), MediaError);  // nonsense is still refused
    fixtures::runFor(800ms);
    EXPECT_EQ(player.currentTime(), stoodAt);

    const std::vector<double> levels = recording.levels();
    ASSERT_GT(levels.size(), 100u);
    // Heard before the hold; after it (leaving 100 ms for the server) silence.
    EXPECT_GT(*std::max_element(levels.begin(), levels.end() - 80), 0.15);
    EXPECT_LT(*std::max_element(levels.end() - 70, levels.end()), 0.01);

    Player::setAllHeld(false);
    player.play();
    EXPECT_TRUE(player.isPlaying());
}
