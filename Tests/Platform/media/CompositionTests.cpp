#include "Platform/media/Composition.h"
#include "Platform/media/CompositionRenderer.h"
#include "Platform/media/MediaError.h"

#include "support/MediaFixtures.h"
#include "support/PlayerSupport.h"

#include <gtest/gtest.h>

using namespace platform;
using Kind = Composition::TrackKind;

namespace {

MediaTime sec(double s)
{
    return MediaTime::fromSeconds(s);
}

TimeRange span(double start, double duration)
{
    return {sec(start), sec(duration)};
}

class CompositionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = new fixtures::TempDir;
        // Frames 0…89 at 30 frames per second, and a second file of 60.
        video = Asset::open(fixtures::makeNumberedVideo(*dir / "a.mp4", fixtures::NumberedVideo(90)));
        other = Asset::open(fixtures::makeNumberedVideo(*dir / "b.mp4", fixtures::NumberedVideo(60)));
        sound = Asset::open(fixtures::makeStereoSine(*dir / "sine.wav", 2.0, 48000, {"-c:a", "pcm_f32le"}));
    }
    static void TearDownTestSuite()
    {
        video.reset();
        other.reset();
        sound.reset();
        delete dir;
    }

    static const StreamInfo& v(const std::shared_ptr<const Asset>& a) { return a->videoStreams().at(0); }

    static inline fixtures::TempDir* dir = nullptr;
    static inline std::shared_ptr<const Asset> video;
    static inline std::shared_ptr<const Asset> other;
    static inline std::shared_ptr<const Asset> sound;
};

struct Slice {
    double start, end;
    bool empty;
    double sourceStart;
};

void expectSlices(const Composition::Track& track, const std::vector<Slice>& expected)
{
    ASSERT_EQ(track.segments.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& s = track.segments[i];
        EXPECT_DOUBLE_EQ(s.target.start.seconds(), expected[i].start);
        EXPECT_DOUBLE_EQ(s.target.end().seconds(), expected[i].end);
        EXPECT_EQ(s.isEmpty(), expected[i].empty);
        if (!expected[i].empty) {
            EXPECT_NEAR(s.source.start.seconds(), expected[i].sourceStart, 1e-9);
        }
    }
}

} // namespace

TEST_F(CompositionTest, SplitsOnInsertStretchesVideoOnlyAndRefusesWhatCannotBePlaced)
{
    Composition c;
    // Placing after the end leaves an empty range; inserting inside a segment
    // cuts it and moves what follows later.
    const std::int32_t cut = c.addTrack(Kind::video, 7);
    EXPECT_EQ(cut, 7);
    EXPECT_NE(c.addTrack(Kind::video, 7), 7);  // taken: a fresh id
    c.insertTimeRange(cut, video, v(video), span(1, 1), sec(1.5));
    c.insertTimeRange(cut, other, v(other), span(0, 0.25), sec(2));
    expectSlices(*c.track(cut), {{0, 1.5, true, -1}, {1.5, 2, false, 1}, {2, 2.25, false, 0}, {2.25, 2.75, false, 1.5}});
    EXPECT_EQ(c.duration(), sec(2.75));
    c.removeTrack(cut);
    EXPECT_EQ(c.track(cut), nullptr);

    const std::int32_t id = c.addTrack(Kind::video);
    // One frame stretched over 3 s, as a filler track is made.
    c.insertTimeRange(id, video, v(video), TimeRange(MediaTime::zero(), MediaTime(1, 30)), MediaTime::zero());
    c.scaleTimeRange(id, TimeRange(MediaTime::zero(), MediaTime(1, 30)), sec(3));
    ASSERT_EQ(c.track(id)->segments.size(), 1u);
    const auto& s = c.track(id)->segments[0];
    EXPECT_EQ(s.target.end(), sec(3));
    EXPECT_EQ(s.sourceTime(sec(1.5)), MediaTime(1, 60));

    const std::int32_t snd = c.addTrack(Kind::sound);
    c.insertTimeRange(snd, sound, sound->audioStreams().at(0), span(0, 1), sec(0));
    EXPECT_THROW(c.scaleTimeRange(snd, span(0, 1), sec(2)), MediaError);

    // What cannot be placed changes nothing.
    const std::int32_t vid = c.addTrack(Kind::video);
    EXPECT_THROW(c.insertTimeRange(snd, video, v(video), span(0, 1), sec(0)), MediaError);
    EXPECT_THROW(c.insertTimeRange(vid, sound, sound->audioStreams().at(0), span(0, 1), sec(0)), MediaError);
    EXPECT_THROW(c.insertTimeRange(vid, video, v(video), span(0, 0), sec(0)), MediaError);
    EXPECT_THROW(c.insertTimeRange(vid, video, v(video), span(0, 1), sec(-1)), MediaError);
    EXPECT_THROW(c.insertTimeRange(vid, video, v(video), TimeRange(sec(0), MediaTime::indefinite()), sec(0)),
                 MediaError);
    EXPECT_THROW(c.insertTimeRange(99, video, v(video), span(0, 1), sec(0)), MediaError);
    EXPECT_THROW(c.insertEmptyTimeRange(vid, span(1, -1)), MediaError);
    EXPECT_TRUE(c.track(vid)->segments.empty());
    EXPECT_EQ(c.track(snd)->segments.size(), 1u);
}

TEST_F(CompositionTest, ShowsTheSourceFrameOfEachSegmentAndBlackInEmptyRanges)
{
    auto c = std::make_shared<Composition>();
    const std::int32_t top = c->addTrack(Kind::video);
    // 0–1 s: a.mp4 from 1 s (frames 30…59); 1–1.5 s: nothing; 1.5–2 s:
    // a.mp4 from 0 (frames 0…14); 2–2.5 s: b.mp4 from 1.5 s (45…59).
    c->insertTimeRange(top, video, v(video), span(1, 1), sec(0));
    c->insertEmptyTimeRange(top, span(1, 0.5));
    c->insertTimeRange(top, video, v(video), span(0, 0.5), sec(1.5));
    c->insertTimeRange(top, other, v(other), span(1.5, 0.5), sec(2));
    // A second track showing the same stream elsewhere at once.
    const std::int32_t second = c->addTrack(Kind::video);
    c->insertTimeRange(second, video, v(video), span(2, 1), sec(0));

    auto vc = fixtures::passThrough({320, 240}, {top}, c->duration());
    CompositionRenderer renderer(c, vc);
    const std::vector<std::pair<double, int>> expected{
        {0, 30}, {0.5, 45}, {0.99, 59}, {1.5, 0}, {1.75, 7}, {1.999, 14}, {2.0, 45}, {2.49, 59},
        // the end shows the last frame, as a player paused there does
        {2.5, 59}, {9, 59}, {0.2, 36}};
    for (const auto& [t, frame] : expected) {
        SCOPED_TRACE(t);
        EXPECT_EQ(fixtures::frameNumber(renderer.imageAt(sec(t))), frame);
    }
    EXPECT_TRUE(fixtures::isBlack(renderer.imageAt(sec(1.0))));
    EXPECT_TRUE(fixtures::isBlack(renderer.imageAt(sec(1.49))));

    // The other track, read by a reader of its own while the first jumps about.
    CompositionRenderer both(c, fixtures::passThrough({320, 240}, {second}, c->duration()));
    for (double t : {0.0, 0.5, 0.9}) EXPECT_EQ(fixtures::frameNumber(both.imageAt(sec(t))), 60 + int(t * 30 + 1e-9));

    // Outside every instruction the frame is black; without a render size nothing is drawn.
    auto partial = fixtures::passThrough({320, 240}, {top}, sec(1));
    EXPECT_TRUE(fixtures::isBlack(CompositionRenderer(c, partial).imageAt(sec(1.6))));
    auto sizeless = fixtures::passThrough({}, {top}, c->duration());
    EXPECT_THROW(CompositionRenderer(c, sizeless).imageAt(sec(0)), MediaError);
}
