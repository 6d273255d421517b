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

TEST(TrackHelpers, EndAndClipAtATime)
{
    Track track;
    EXPECT_DOUBLE_EQ(track.end(), 0);
    track.effects = {makeOverlay(OverlayKind::text, 1, 9)};
    track.clips = {makeClip(5, 3), makeClip(0, 5), makeClip(2, 2)};
    EXPECT_DOUBLE_EQ(track.end(), 9);
    track.effects.clear();
    EXPECT_DOUBLE_EQ(track.end(), 8);

    // The first stored clip covering the time; a clip's end belongs to the next one.
    EXPECT_EQ(track.clip(5), &track.clips[0]);
    EXPECT_EQ(track.clip(3), &track.clips[1]);
    EXPECT_EQ(track.clip(8), nullptr);
    EXPECT_EQ(track.clip(-1), nullptr);
}

TEST(TrackHelpers, LanesFillTheFirstFreeLane)
{
    struct Case {
        std::vector<Clip> clips;
        std::vector<std::vector<double>> lanes;  // the starts in each lane
    };
    const std::vector<Case> cases{
        {{makeClip(0, 5), makeClip(5, 3), makeClip(4, 2)}, {{0, 5}, {4}}},
        // A later clip goes back to an earlier lane as soon as that one is free.
        {{makeClip(0, 10), makeClip(1, 2), makeClip(2, 10), makeClip(4, 1)}, {{0}, {1, 4}, {2}}},
        // Touching within a tenth of a millisecond shares a lane; more overlap does not.
        {{makeClip(0, 5), makeClip(4.99995, 1)}, {{0, 4.99995}}},
        {{makeClip(0, 5), makeClip(4.999, 1)}, {{0}, {4.999}}},
    };
    for (const Case& c : cases) {
        Track track;
        track.clips = c.clips;
        std::vector<std::vector<double>> lanes;
        for (const auto& lane : track.lanes()) lanes.push_back(starts(lane));
        EXPECT_EQ(lanes, c.lanes) << "case " << &c - cases.data();
    }
    // The lanes hold the clips with their automatic cross-fades.
    Track track;
    track.clips = cases[0].clips;
    EXPECT_DOUBLE_EQ(track.lanes()[1][0].fadeIn, 1);
}

TEST(ClipSplit, PartsGetNewIdsAndShareTheRest)
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

    // Apart from new ids, times and fades, both parts are the cut clip.
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
        EXPECT_EQ(part, clip);
    }
}

TEST(ClipSplit, ActionsAreCutAndKeepTheirIds)
{
    Clip clip = makeClip(10, 10);
    const TrackAction spanning = makeAction(3, 7), before = makeAction(0, 2), after = makeAction(6, 8),
                      endsAtCut = makeAction(4, 5), startsAtCut = makeAction(5, 6);
    clip.actions = {spanning, before, after, endsAtCut, startsAtCut};
    const auto cut = [](TrackAction action, double start, double end) {
        action.start = start;
        action.end = end;
        return action;
    };
    const auto parts = clip.split(15);
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->first.actions, (std::vector{cut(spanning, 3, 5), before, endsAtCut}));
    EXPECT_EQ(parts->second.actions, (std::vector{cut(spanning, 0, 2), cut(after, 1, 3), cut(startsAtCut, 0, 1)}));
}

TEST(TrackCopies, DuplicatedTrackGetsNewIdentitiesThroughout)
{
    Clip clip = makeClip(0, 5);
    clip.actions = {makeAction(0, 1)};
    clip.overlay = makeOverlay(OverlayKind::text, 0, 1);
    clip.link = Uuid::random();
    Track track;
    track.clips = {clip};

    const Track duplicate = track.duplicated("Kamera 2");
    EXPECT_NE(duplicate.id, track.id);
    const Clip& copy = duplicate.clips[0];
    EXPECT_NE(copy.id, clip.id);
    EXPECT_NE(copy.actions[0].id, clip.actions[0].id);
    EXPECT_NE(copy.overlay->id, clip.overlay->id);
    EXPECT_EQ(copy.link, clip.link);  // the copy still moves with its partners
}

TEST(TrackMigration, PictureSettingsMoveOntoPictureClips)
{
    Track track;
    track.media = MediaRef{"/tmp/rec.mov", MediaKind::video, 1};
    track.rotation = 90;
    track.frame = NRect{0.1, 0.1, 0.5, 0.5};
    track.aspect = 4.0 / 3.0;
    track.rounded = false;
    Clip own = makeClip(5, 5);
    own.media = MediaRef{"/tmp/other.mov", MediaKind::video, 0};
    own.frame = NRect{0, 0, 1, 1};
    track.clips = {makeClip(0, 5), own};
    Track sound = track, effects = track;
    sound.media.kind = MediaKind::audio;
    effects.media = MediaRef{"effects", MediaKind::effects, 0};

    track.moveSettingsToClips(wide);
    Clip want = makeClip(0, 5);
    want.id = track.clips[0].id;
    want.media = track.media;
    want.frame = NRect{0.1, 0.1, 0.5, 0.5};
    want.aspect = 4.0 / 3.0;
    want.rotation = 90;
    want.rounded = false;
    EXPECT_EQ(track.clips[0], want);
    // A clip's own media and frame win.
    EXPECT_EQ(track.clips[1].media, own.media);
    EXPECT_EQ(track.clips[1].frame, own.frame);
    EXPECT_FALSE(track.frame || track.rotation);

    // Sound clips get the media but no picture settings; effects clips get neither.
    sound.moveSettingsToClips(wide);
    EXPECT_EQ(sound.clips[0].media, sound.media);
    EXPECT_FALSE(sound.clips[0].frame || sound.clips[0].rotation);
    effects.moveSettingsToClips(wide);
    EXPECT_FALSE(effects.clips[0].media);
}

TEST(TrackMigration, ZoomsBecomeReturningActions)
{
    struct Case {
        NRect rect;
        double clipAspect, outputAspect;
        double scale, centerX, centerY;
    };
    for (const Case& c : {
             Case{{0.25, 0.25, 0.5, 0.5}, wide, wide, 2, 0.5, 0.5},
             Case{{0.5, 0.5, 0.25, 0.25}, wide, wide, 4, 0, 0},  // the picture moves the other way, k times
             Case{{0.5, 0.25, 0.25, 0.5}, 4.0 / 3.0, wide, 4, 0.125, 0.5},  // fills 3/4 of the width
             Case{{0, 0, 0.5, 0.5}, wide, 4.0 / 3.0, 2, 1, 0.875},          // fills 3/4 of the height
             Case{{0.495, 0.495, 0.01, 0.01}, wide, wide, 20, 0.5, 0.5},    // capped at 20
         }) {
        SCOPED_TRACE(c.scale);
        Track track;
        track.aspect = c.clipAspect;
        track.clips = {makeClip(0, 4), makeClip(10, 10)};
        track.zooms = {makeOverlay(OverlayKind::zoom, 12, 14, c.rect)};
        track.moveSettingsToClips(c.outputAspect);
        EXPECT_TRUE(track.clips[0].actions.empty());
        ASSERT_EQ(track.clips[1].actions.size(), 1u);
        const TrackAction& action = track.clips[1].actions[0];
        EXPECT_EQ((std::array{action.start, action.end, *action.scale}), (std::array{2.0, 4.0, c.scale}));
        EXPECT_TRUE(action.returns && !action.rotation && !action.volume);
        EXPECT_NEAR(*action.centerX, c.centerX, 1e-12);
        EXPECT_NEAR(*action.centerY, c.centerY, 1e-12);
    }
}

TEST(TrackMigration, ActionsAndEffectsMoveToTheClipsUnderThem)
{
    Track track;
    track.media = MediaRef{"/tmp/rec.mov", MediaKind::video, 0};
    Clip clip = makeClip(10, 10);
    clip.actions = {makeAction(0, 1)};
    track.clips = {makeClip(0, 4), clip};
    const TrackAction old = makeAction(12, 30), orphan = makeAction(5, 6);
    track.actions = {old, orphan};
    track.zooms = {makeOverlay(OverlayKind::zoom, 15, 16, {0.25, 0.25, 0.5, 0.5}),
                   makeOverlay(OverlayKind::zoom, 25, 26, {0.25, 0.25, 0.5, 0.5})};
    const Overlay brief = makeOverlay(OverlayKind::text, 2, 2.05), later = makeOverlay(OverlayKind::arrow, 10, 12);
    track.effects = {brief, later};

    track.moveSettingsToClips(wide);
    EXPECT_TRUE(track.actions.empty() && track.zooms.empty() && track.effects.empty());
    // Actions without a clip under their start are dropped; the others are cut at the clip's end.
    const auto& actions = track.clips[2].actions;
    ASSERT_EQ(actions.size(), 3u);  // its own, the old one, the first zoom
    EXPECT_EQ(actions[0], clip.actions[0]);
    EXPECT_EQ(actions[1].id, old.id);
    EXPECT_DOUBLE_EQ(actions[1].start, 2);
    EXPECT_DOUBLE_EQ(actions[1].end, 10);
    EXPECT_DOUBLE_EQ(actions[2].start, 5);

    // Effects overlays become clips of at least 0.1 s, after existing clips of the same start.
    EXPECT_EQ(starts(track.clips), (std::vector<double>{0, 2, 10, 10}));
    Clip made = makeClip(2, 0.1);
    made.id = track.clips[1].id;
    made.overlay = brief;
    EXPECT_EQ(track.clips[1], made);
    EXPECT_EQ(track.clips[3].overlay, later);
    EXPECT_DOUBLE_EQ(track.clips[3].duration, 2);
}
