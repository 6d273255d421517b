// The player on pictures alone: the monotonic clock leads, so no sound
// server is needed.

#include "Platform/media/BgraConversion.h"
#include "Platform/media/Composition.h"
#include "Platform/media/Player.h"
#include "Platform/media/PlayerItem.h"

#include "support/MediaFixtures.h"
#include "support/PlayerSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <atomic>

using namespace platform;
using namespace std::chrono_literals;
using Kind = Composition::TrackKind;

namespace {

MediaTime sec(double s)
{
    return MediaTime::fromSeconds(s);
}

// Shows the first track's picture, taking it undecoded where it comes so,
// and counts those.
class UndecodedTakingCompositor : public VideoCompositor {
public:
    explicit UndecodedTakingCompositor(std::shared_ptr<std::atomic<int>> undecoded) : undecoded_(std::move(undecoded)) {}

    void startRequest(std::shared_ptr<FrameRequest> request) override
    {
        const std::int32_t id = request->instruction()->requiredSourceTrackIds().front();
        QImage frame = request->sourceFrame(id);
        if (const auto yuv = request->yuvFrame(id); frame.isNull() && yuv) {
            ++*undecoded_;
            frame = bgraImage(yuv->size().width(), yuv->size().height(), QImage::Format_ARGB32_Premultiplied);
            BgraConverter converter(BgraSampling::smooth);
            if (yuv->toBgra(converter, QRect(QPoint(0, 0), yuv->size()), frame.bits()) < 0) frame = QImage();
        }
        request->finish(frame.isNull() ? blackFrame(request->renderSize()) : frame);
    }
    void cancelAllPendingRequests() override {}
    bool acceptsYuvFrames() const override { return true; }

private:
    std::shared_ptr<std::atomic<int>> undecoded_;
};

class PlayerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = new fixtures::TempDir;
        video = Asset::open(fixtures::makeNumberedVideo(*dir / "a.mp4", fixtures::NumberedVideo(90)));
    }
    static void TearDownTestSuite()
    {
        video.reset();
        delete dir;
    }

    // 3 s of frames 0…89, or `seconds` of them from `from`.
    static std::shared_ptr<PlayerItem> item(double from = 0, double seconds = 3, QRgb band = 0)
    {
        auto c = std::make_shared<Composition>();
        const std::int32_t id = c->addTrack(Kind::video);
        c->insertTimeRange(id, video, video->videoStreams().at(0), {sec(from), sec(seconds)}, MediaTime::zero());
        auto result = std::make_shared<PlayerItem>(c);
        result->setVideoComposition(fixtures::passThrough({320, 240}, {id}, c->duration(), band));
        return result;
    }

    // Seeks and waits until the frame there is shown.
    static bool seekAndWait(Player& player, double t)
    {
        bool done = false;
        bool finished = false;
        player.seek(sec(t), [&](bool f) {
            done = true;
            finished = f;
        });
        return fixtures::runUntil([&] { return done; }, 5s) && finished;
    }

    static inline fixtures::TempDir* dir = nullptr;
    static inline std::shared_ptr<const Asset> video;
};

} // namespace

TEST_F(PlayerTest, SeeksPlaysToTheEndAndRedrawsForANewComposition)
{
    Player player;
    auto first = item();
    player.replaceCurrentItem(first);
    ASSERT_TRUE(fixtures::runUntil([&] { return !player.currentFrame().isNull(); }, 5s));
    EXPECT_EQ(fixtures::frameNumber(player.currentFrame()), 0);

    for (const auto& [t, frame] : std::vector<std::pair<double, int>>{{1.5, 45}, {0.5, 15}, {2.99, 89}, {1.0 / 30, 1}}) {
        SCOPED_TRACE(t);
        ASSERT_TRUE(seekAndWait(player, t));
        EXPECT_EQ(fixtures::frameNumber(player.currentFrame()), frame);
        EXPECT_EQ(player.currentTime(), sec(t));
    }
    // Beyond the end: the end, showing the last frame; before zero: zero.
    ASSERT_TRUE(seekAndWait(player, 7));
    EXPECT_EQ(player.currentTime(), sec(3));
    EXPECT_EQ(fixtures::frameNumber(player.currentFrame()), 89);
    ASSERT_TRUE(seekAndWait(player, -1));
    EXPECT_EQ(player.currentTime(), MediaTime::zero());
    EXPECT_EQ(fixtures::frameNumber(player.currentFrame()), 0);

    // A seek overtaken by another finishes unfinished; the later one shows.
    std::vector<bool> outcomes;
    player.seek(sec(1), [&](bool f) { outcomes.push_back(f); });
    player.seek(sec(2), [&](bool f) { outcomes.push_back(f); });
    ASSERT_TRUE(fixtures::runUntil([&] { return outcomes.size() == 2; }, 5s));
    EXPECT_EQ(outcomes, (std::vector<bool>{false, true}));
    EXPECT_EQ(fixtures::frameNumber(player.currentFrame()), 60);
    EXPECT_FALSE(player.isPlaying());

    // Played from 2 s it reaches the end in about a second and pauses there.
    std::vector<double> rates;
    QObject::connect(&player, &Player::rateChanged, [&](double r) { rates.push_back(r); });
    std::vector<int> shown;
    QObject::connect(&player, &Player::frameChanged, [&](const QImage& f) { shown.push_back(fixtures::frameNumber(f)); });
    std::vector<MediaTime> ticks;
    player.addPeriodicTimeObserver(MediaTime(1, 30), [&](const MediaTime& t) { ticks.push_back(t); });

    QElapsedTimer wall;
    wall.start();
    player.play();
    ASSERT_TRUE(fixtures::runUntil([&] { return !player.isPlaying(); }, 5s));
    const double elapsed = double(wall.elapsed()) / 1000;

    EXPECT_EQ(rates, (std::vector<double>{1, 0}));
    EXPECT_EQ(player.currentTime(), sec(3));
    EXPECT_NEAR(elapsed, 1.0, 0.3);
    ASSERT_FALSE(ticks.empty());
    EXPECT_EQ(ticks.back(), sec(3));  // the last call gives the end
    for (std::size_t i = 1; i < ticks.size(); ++i) EXPECT_GE(ticks[i], ticks[i - 1]);
    ASSERT_FALSE(shown.empty());
    for (std::size_t i = 1; i < shown.size(); ++i) EXPECT_GT(shown[i], shown[i - 1]);
    EXPECT_GE(shown.back(), 75);

    // Paused at the end it stays there; playing again from there ends at once.
    fixtures::runFor(100ms);
    EXPECT_EQ(player.currentTime(), sec(3));
    player.play();
    ASSERT_TRUE(fixtures::runUntil([&] { return !player.isPlaying(); }, 2s));
    EXPECT_EQ(player.currentTime(), sec(3));

    // Paused, a new video composition redraws the frame in place.
    const QRgb red = qRgb(255, 0, 0);
    first->setVideoComposition(item(0, 3, red)->videoComposition());
    ASSERT_TRUE(fixtures::runUntil([&] { return player.currentFrame().pixel(5, 235) == red; }, 5s));
    EXPECT_EQ(fixtures::frameNumber(player.currentFrame()), 89);
    EXPECT_EQ(player.currentTime(), sec(3));
    // Without one nothing is drawn; a seek still finishes.
    first->setVideoComposition(nullptr);
    EXPECT_TRUE(player.currentFrame().isNull());
    EXPECT_TRUE(seekAndWait(player, 1.0));
}

// Pictures the player passed undecoded to a compositor that takes them so
// reach the next compositor, one that doesn't, decoded.
TEST_F(PlayerTest, PicturesKeptUndecodedForOneCompositorReachTheNextDecoded)
{
    Player player;
    auto shown = item();
    auto undecoded = std::make_shared<std::atomic<int>>(0);
    auto taking = std::make_shared<VideoComposition>(*shown->videoComposition());
    taking->compositorFactory = [undecoded] { return std::make_unique<UndecodedTakingCompositor>(undecoded); };
    shown->setVideoComposition(taking);
    player.replaceCurrentItem(shown);
    ASSERT_TRUE(seekAndWait(player, 1.0));
    EXPECT_EQ(fixtures::frameNumber(player.currentFrame()), 30);
    EXPECT_GT(undecoded->load(), 0);

    const QRgb red = qRgb(255, 0, 0);
    shown->setVideoComposition(item(0, 3, red)->videoComposition());
    ASSERT_TRUE(fixtures::runUntil([&] { return player.currentFrame().pixel(5, 235) == red; }, 5s));
    EXPECT_EQ(fixtures::frameNumber(player.currentFrame()), 30);
}
