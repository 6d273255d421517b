// Track queries, lanes, cutting and copying clips, and the migration of
// older track-level settings onto clips.

#include "Ondexa/model/Timeline.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

using namespace ondexa;

namespace {

constexpr double wide = 16.0 / 9.0;

Clip makeClip(double start, double duration)
{
    Clip clip;
    clip.start = start;
    clip.duration = duration;
    return clip;
}

TrackAction makeAction(double start, double end)
{
    TrackAction action;
    action.start = start;
    action.end = end;
    action.scale = 2;
    return action;
}

Overlay makeOverlay(OverlayKind kind, double start, double end, NRect rect = {})
{
    Overlay overlay;
    overlay.kind = kind;
    overlay.start = start;
    overlay.end = end;
    overlay.rect = rect;
    return overlay;
}

std::vector<double> starts(const std::vector<Clip>& clips)
{
    std::vector<double> result;
    for (const Clip& clip : clips) result.push_back(clip.start);
    return result;
}

} // namespace

TEST(TrackHelpers, EndClipAtATimeAndLanes)
{
    Track track;
    EXPECT_DOUBLE_EQ(track.end(), 0);
    track.effects = {makeOverlay(OverlayKind::text, 1, 9)};
    track.clips = {makeClip(5, 3), makeClip(0, 5), makeClip(4, 2)};
    EXPECT_DOUBLE_EQ(track.end(), 9);
    // The first stored clip covering the time; a clip's end belongs to the next one.
    EXPECT_EQ(track.clip(5), &track.clips[0]);
    EXPECT_EQ(track.clip(8), nullptr);
    // A clip takes the first free lane; the lanes hold the clips with their cross-fades.
    std::vector<std::vector<double>> lanes;
    for (const auto& lane : track.lanes()) lanes.push_back(starts(lane));
    EXPECT_EQ(lanes, (std::vector<std::vector<double>>{{0, 5}, {4}}));
    EXPECT_DOUBLE_EQ(track.lanes()[1][0].fadeIn, 1);
}

TEST(ClipSplit, PartsGetNewIdsAndShareTheRestWithActionsCut)
{
    Clip clip = makeClip(20, 10);
    clip.sourceStart = 3;
    clip.fadeIn = 6;
    clip.fadeOut = 6;
    clip.media = MediaRef{"/tmp/a.mov", MediaKind::video, 0};
    clip.overlay = makeOverlay(OverlayKind::arrow, 0, 1);
    clip.frame = NRect{0.1, 0.2, 0.3, 0.4};
    clip.rotation = 15;
    clip.volume = 0.7f;
    clip.link = Uuid::random();
    clip.transition = Transition::wipe;
    const TrackAction spanning = makeAction(3, 7), endsAtCut = makeAction(0, 4), startsAtCut = makeAction(4, 8);
    clip.actions = {spanning, endsAtCut, startsAtCut};

    // Parts shorter than 0.005 s, times outside and NaN are refused.
    for (double time : {20.004, 29.996, 19.0, 31.0, std::nan("")}) EXPECT_FALSE(clip.split(time)) << time;

    const auto parts = clip.split(24);
    ASSERT_TRUE(parts);
    const auto& [first, second] = *parts;
    EXPECT_EQ((std::array{first.start, first.sourceStart, first.duration, first.fadeIn, first.fadeOut}),
              (std::array{20.0, 3.0, 4.0, 4.0, 0.0}));
    EXPECT_EQ((std::array{second.start, second.sourceStart, second.duration, second.fadeIn, second.fadeOut}),
              (std::array{24.0, 7.0, 6.0, 0.0, 6.0}));
    EXPECT_NE(first.id, second.id);
    // Actions are cut at the split and keep their ids.
    const auto cut = [](TrackAction action, double start, double end) {
        action.start = start;
        action.end = end;
        return action;
    };
    EXPECT_EQ(first.actions, (std::vector{cut(spanning, 3, 4), endsAtCut}));
    EXPECT_EQ(second.actions, (std::vector{cut(spanning, 0, 3), cut(startsAtCut, 0, 4)}));

    // Apart from new ids, times, fades and actions, both parts are the cut clip.
    for (Clip part : {first, second}) {
        EXPECT_NE(part.id, clip.id);
        EXPECT_NE(part.overlay->id, clip.overlay->id);
        part.id = clip.id;
        part.overlay->id = clip.overlay->id;
        part.start = clip.start;
        part.sourceStart = clip.sourceStart;
        part.duration = clip.duration;
        part.fadeIn = clip.fadeIn;
        part.fadeOut = clip.fadeOut;
        part.actions = clip.actions;
        EXPECT_EQ(part, clip);
    }
}

TEST(TrackCopies, DuplicatedTrackGetsNewIdentitiesButKeepsLinks)
{
    Track track;
    track.clips = {makeClip(0, 5)};
    track.clips[0].actions = {makeAction(0, 1)};
    track.clips[0].link = Uuid::random();
    const Track duplicate = track.duplicated("Kamera 2");
    EXPECT_NE(duplicate.id, track.id);
    EXPECT_NE(duplicate.clips[0].id, track.clips[0].id);
    EXPECT_NE(duplicate.clips[0].actions[0].id, track.clips[0].actions[0].id);
    EXPECT_EQ(duplicate.clips[0].link, track.clips[0].link);  // the copy still moves with its partners
}

TEST(TrackMigration, MediaAndPictureSettingsMoveOntoClipsByKind)
{
    struct Case {
        MediaKind kind;
        bool media, picture;
    };
    const NRect frame{0.1, 0.1, 0.5, 0.5};
    for (const Case c : {Case{MediaKind::video, true, true}, Case{MediaKind::audio, true, false},
                         Case{MediaKind::effects, false, false}}) {
        Track track;
        track.media = MediaRef{c.kind == MediaKind::effects ? "effects" : "/tmp/rec.mov", c.kind, 1};
        track.rotation = 90;
        track.frame = frame;
        Clip own = makeClip(5, 5);
        own.frame = NRect{0, 0, 1, 1};
        track.clips = {makeClip(0, 5), own};
        track.moveSettingsToClips(wide);
        SCOPED_TRACE(int(c.kind));
        EXPECT_EQ(track.clips[0].media == track.media, c.media);
        EXPECT_EQ(track.clips[0].frame == frame, c.picture);
        EXPECT_EQ(track.clips[0].rotation == 90, c.picture);
        EXPECT_EQ(track.clips[1].frame, own.frame);  // a clip's own frame wins
    }
}

TEST(TrackMigration, ZoomsAndEffectsMoveToTheClipsUnderThem)
{
    Track track;
    track.media = MediaRef{"/tmp/rec.mov", MediaKind::video, 0};
    track.clips = {makeClip(0, 4), makeClip(10, 10)};
    track.zooms = {makeOverlay(OverlayKind::zoom, 12, 14, {0.25, 0.25, 0.5, 0.5})};
    const Overlay brief = makeOverlay(OverlayKind::text, 2, 2.05);
    track.effects = {brief};
    track.moveSettingsToClips(wide);
    EXPECT_TRUE(track.zooms.empty() && track.effects.empty());

    // A zoom becomes a returning action, its times counted from the clip's start.
    ASSERT_EQ(starts(track.clips), (std::vector<double>{0, 2, 10}));
    ASSERT_EQ(track.clips[2].actions.size(), 1u);
    const TrackAction& zoom = track.clips[2].actions[0];
    EXPECT_EQ((std::array{zoom.start, zoom.end, *zoom.scale, *zoom.centerX, *zoom.centerY}),
              (std::array{2.0, 4.0, 2.0, 0.5, 0.5}));
    EXPECT_TRUE(zoom.returns);
    // An effects overlay becomes a clip of at least 0.1 s.
    EXPECT_EQ(track.clips[1].overlay, brief);
    EXPECT_DOUBLE_EQ(track.clips[1].duration, 0.1);
}
