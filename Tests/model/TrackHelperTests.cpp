#include "Ondexa/model/Timeline.h"

#include <gtest/gtest.h>

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

TEST(TrackHelpers, EndCoversClipsAndEffectsOverlays)
{
    Track track;
    EXPECT_DOUBLE_EQ(track.end(), 0);
    track.clips = {makeClip(0, 5), makeClip(2, 2)};
    EXPECT_DOUBLE_EQ(track.end(), 5);
    track.effects = {makeOverlay(OverlayKind::text, 1, 7)};
    EXPECT_DOUBLE_EQ(track.end(), 7);
    track.clips.clear();
    EXPECT_DOUBLE_EQ(track.end(), 7);
}

TEST(TrackHelpers, ClipAtTimeTakesTheFirstStoredCoveringClip)
{
    Track track;
    track.clips = {makeClip(5, 3), makeClip(0, 5)};
    EXPECT_EQ(track.clip(5), &track.clips[0]);  // the end of 0–5 belongs to the next clip
    EXPECT_EQ(track.clip(0), &track.clips[1]);
    EXPECT_EQ(track.clip(8), nullptr);
    EXPECT_EQ(track.clip(-1), nullptr);

    track.clips = {makeClip(2, 2), makeClip(0, 10)};
    EXPECT_EQ(track.clip(3), &track.clips[0]);
    EXPECT_EQ(track.clip(5), &track.clips[1]);
}

TEST(TrackHelpers, LanesFillTheFirstFreeLane)
{
    Track track;
    EXPECT_TRUE(track.lanes().empty());

    track.clips = {makeClip(0, 5), makeClip(5, 3), makeClip(4, 2)};
    auto lanes = track.lanes();
    ASSERT_EQ(lanes.size(), 2u);
    EXPECT_EQ(starts(lanes[0]), (std::vector<double>{0, 5}));
    EXPECT_EQ(starts(lanes[1]), (std::vector<double>{4}));
    // The lanes hold the clips with their automatic cross-fades.
    EXPECT_DOUBLE_EQ(lanes[0][0].fadeOut, 1);
    EXPECT_DOUBLE_EQ(lanes[1][0].fadeIn, 1);

    // A later clip goes back to an earlier lane as soon as that one is free.
    track.clips = {makeClip(0, 10), makeClip(1, 2), makeClip(2, 10), makeClip(4, 1)};
    lanes = track.lanes();
    ASSERT_EQ(lanes.size(), 3u);
    EXPECT_EQ(starts(lanes[0]), (std::vector<double>{0}));
    EXPECT_EQ(starts(lanes[1]), (std::vector<double>{1, 4}));
    EXPECT_EQ(starts(lanes[2]), (std::vector<double>{2}));

    // Touching within a tenth of a millisecond shares a lane; more overlap does not.
    track.clips = {makeClip(0, 5), makeClip(4.99995, 1)};
    EXPECT_EQ(track.lanes().size(), 1u);
    track.clips = {makeClip(0, 5), makeClip(4.999, 1)};
    EXPECT_EQ(track.lanes().size(), 2u);
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
    clip.aspect = 4.0 / 3.0;
    clip.rotation = 15;
    clip.rounded = false;
    clip.volume = 0.7f;
    clip.link = Uuid::random();
    clip.transition = Transition::wipe;

    EXPECT_FALSE(clip.split(20.004));
    EXPECT_FALSE(clip.split(29.996));
    EXPECT_FALSE(clip.split(19));
    EXPECT_FALSE(clip.split(std::nan("")));

    auto parts = clip.split(24);
    ASSERT_TRUE(parts);
    auto [first, second] = *parts;
    EXPECT_DOUBLE_EQ(first.start, 20);
    EXPECT_DOUBLE_EQ(first.sourceStart, 3);
    EXPECT_DOUBLE_EQ(first.duration, 4);
    EXPECT_DOUBLE_EQ(first.fadeIn, 4);
    EXPECT_DOUBLE_EQ(first.fadeOut, 0);
    EXPECT_DOUBLE_EQ(second.start, 24);
    EXPECT_DOUBLE_EQ(second.sourceStart, 7);
    EXPECT_DOUBLE_EQ(second.duration, 6);
    EXPECT_DOUBLE_EQ(second.fadeIn, 0);
    EXPECT_DOUBLE_EQ(second.fadeOut, 6);

    EXPECT_NE(first.id, clip.id);
    EXPECT_NE(second.id, clip.id);
    EXPECT_NE(first.id, second.id);
    EXPECT_NE(first.overlay->id, clip.overlay->id);
    EXPECT_NE(second.overlay->id, clip.overlay->id);
    EXPECT_NE(first.overlay->id, second.overlay->id);

    // Apart from ids, times and fades, both parts are the cut clip.
    for (Clip part : {first, second}) {
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

    auto parts = clip.split(15);
    ASSERT_TRUE(parts);
    const auto& [first, second] = *parts;

    auto expected = [](const TrackAction& action, double start, double end) {
        TrackAction cut = action;
        cut.start = start;
        cut.end = end;
        return cut;
    };
    EXPECT_EQ(first.actions, (std::vector{expected(spanning, 3, 5), before, expected(endsAtCut, 4, 5)}));
    EXPECT_EQ(second.actions,
              (std::vector{expected(spanning, 0, 2), expected(after, 1, 3), expected(startsAtCut, 0, 1)}));
}

TEST(TrackCopies, RenewedAndDuplicatedGetNewIdentities)
{
    Clip clip = makeClip(0, 5);
    clip.actions = {makeAction(0, 1), makeAction(1, 2)};
    clip.link = Uuid::random();
    Clip plain = makeClip(5, 1);

    Clip copy = clip.renewed();
    EXPECT_NE(copy.id, clip.id);
    EXPECT_NE(copy.actions[0].id, clip.actions[0].id);
    EXPECT_NE(copy.actions[1].id, clip.actions[1].id);
    copy.id = clip.id;
    for (std::size_t i = 0; i < 2; ++i) copy.actions[i].id = clip.actions[i].id;
    EXPECT_EQ(copy, clip);
    EXPECT_FALSE(plain.renewed().overlay);

    Track track;
    track.name = "Kamera";
    track.volume = 0.5f;
    track.clips = {clip, plain};
    track.clips[1].overlay = makeOverlay(OverlayKind::text, 0, 1);
    track.effects = {makeOverlay(OverlayKind::text, 1, 2)};
    track.zooms = {makeOverlay(OverlayKind::zoom, 1, 2)};
    track.actions = {makeAction(1, 2)};

    Track duplicate = track.duplicated("Kamera 2");
    EXPECT_NE(duplicate.id, track.id);
    EXPECT_EQ(duplicate.name, "Kamera 2");
    EXPECT_NE(duplicate.clips[0].id, track.clips[0].id);
    EXPECT_NE(duplicate.clips[0].actions[0].id, track.clips[0].actions[0].id);
    EXPECT_NE(duplicate.clips[1].overlay->id, track.clips[1].overlay->id);
    EXPECT_EQ(duplicate.clips[0].link, track.clips[0].link);
    // Track-level lists and everything else are copied as they are.
    duplicate.id = track.id;
    duplicate.name = track.name;
    duplicate.clips = track.clips;
    EXPECT_EQ(duplicate, track);
}

TEST(TrackMigration, PictureSettingsMoveOntoClips)
{
    Track track;
    track.media = MediaRef{"/tmp/rec.mov", MediaKind::video, 1};
    track.rotation = 90;
    track.frame = NRect{0.1, 0.1, 0.5, 0.5};
    track.aspect = 4.0 / 3.0;
    track.rounded = false;
    Clip bare = makeClip(0, 5);
    Clip own = makeClip(5, 5);
    own.media = MediaRef{"/tmp/other.mov", MediaKind::video, 0};
    own.frame = NRect{0, 0, 1, 1};
    track.clips = {bare, own};

    track.moveSettingsToClips(wide);
    const Clip& a = track.clips[0];
    EXPECT_EQ(a.media, track.media);
    EXPECT_EQ(a.frame, (NRect{0.1, 0.1, 0.5, 0.5}));
    EXPECT_DOUBLE_EQ(a.aspect, 4.0 / 3.0);
    EXPECT_DOUBLE_EQ(a.rotation, 90);
    EXPECT_FALSE(a.rounded);
    const Clip& b = track.clips[1];
    EXPECT_EQ(b.media, own.media);
    EXPECT_EQ(b.frame, own.frame);
    EXPECT_DOUBLE_EQ(b.rotation, 90);

    EXPECT_DOUBLE_EQ(track.rotation, 0);
    EXPECT_FALSE(track.frame);
    EXPECT_DOUBLE_EQ(track.aspect, 4.0 / 3.0);
    EXPECT_FALSE(track.rounded);
    EXPECT_EQ(track.media.index, 1);
}

TEST(TrackMigration, SoundAndEffectsTracksKeepPictureSettings)
{
    Track sound;
    sound.media = MediaRef{"/tmp/rec.mov", MediaKind::audio, 0};
    sound.rotation = 90;
    sound.frame = NRect{0.1, 0.1, 0.5, 0.5};
    sound.clips = {makeClip(0, 5)};
    sound.moveSettingsToClips(wide);
    EXPECT_EQ(sound.clips[0].media, sound.media);
    EXPECT_FALSE(sound.clips[0].frame);
    EXPECT_DOUBLE_EQ(sound.clips[0].rotation, 0);

    Track effects;
    effects.media = MediaRef{"effects", MediaKind::effects, 0};
    effects.clips = {makeClip(0, 5)};
    effects.moveSettingsToClips(wide);
    EXPECT_FALSE(effects.clips[0].media);
}

TEST(TrackMigration, ZoomsBecomeReturningActions)
{
    auto migratedZoom = [](NRect rect, double clipAspect, double outputAspect) {
        Track track;
        track.aspect = clipAspect;
        track.clips = {makeClip(0, 4), makeClip(10, 10)};
        track.zooms = {makeOverlay(OverlayKind::zoom, 12, 14, rect)};
        track.moveSettingsToClips(outputAspect);
        EXPECT_TRUE(track.clips[0].actions.empty());
        EXPECT_EQ(track.clips[1].actions.size(), 1u);
        return track.clips[1].actions.at(0);
    };

    TrackAction centred = migratedZoom({0.25, 0.25, 0.5, 0.5}, wide, wide);
    EXPECT_DOUBLE_EQ(centred.start, 2);
    EXPECT_DOUBLE_EQ(centred.end, 4);
    EXPECT_DOUBLE_EQ(*centred.scale, 2);
    EXPECT_DOUBLE_EQ(*centred.centerX, 0.5);
    EXPECT_DOUBLE_EQ(*centred.centerY, 0.5);
    EXPECT_FALSE(centred.rotation);
    EXPECT_FALSE(centred.volume);
    EXPECT_TRUE(centred.returns);

    // Zooming into a corner moves the picture the other way, by k times the offset.
    TrackAction corner = migratedZoom({0.5, 0.5, 0.25, 0.25}, wide, wide);
    EXPECT_DOUBLE_EQ(*corner.scale, 4);
    EXPECT_DOUBLE_EQ(*corner.centerX, 0);
    EXPECT_DOUBLE_EQ(*corner.centerY, 0);

    // 4:3 in 16:9: the picture fills three quarters of the width.
    TrackAction narrow = migratedZoom({0.5, 0.25, 0.25, 0.5}, 4.0 / 3.0, wide);
    EXPECT_DOUBLE_EQ(*narrow.scale, 4);
    EXPECT_NEAR(*narrow.centerX, 0.125, 1e-12);
    EXPECT_DOUBLE_EQ(*narrow.centerY, 0.5);

    // 16:9 in 4:3: the picture fills three quarters of the height.
    TrackAction flat = migratedZoom({0, 0, 0.5, 0.5}, wide, 4.0 / 3.0);
    EXPECT_NEAR(*flat.centerX, 1, 1e-12);
    EXPECT_NEAR(*flat.centerY, 0.875, 1e-12);

    EXPECT_DOUBLE_EQ(*migratedZoom({0.5, 0.5, 0.01, 0.01}, wide, wide).scale, 20);
}

TEST(TrackMigration, TrackActionsMoveToTheClipUnderTheirStart)
{
    Track track;
    Clip clip = makeClip(10, 10);
    clip.actions = {makeAction(0, 1)};
    track.clips = {makeClip(0, 4), clip};
    const TrackAction old = makeAction(12, 30), orphan = makeAction(5, 6);
    track.actions = {old, orphan};
    track.zooms = {makeOverlay(OverlayKind::zoom, 15, 16, {0.25, 0.25, 0.5, 0.5}),
                   makeOverlay(OverlayKind::zoom, 25, 26, {0.25, 0.25, 0.5, 0.5})};

    track.moveSettingsToClips(wide);
    EXPECT_TRUE(track.clips[0].actions.empty());
    const auto& actions = track.clips[1].actions;
    ASSERT_EQ(actions.size(), 3u);  // its own, the old one, the first zoom
    EXPECT_EQ(actions[0], clip.actions[0]);
    EXPECT_EQ(actions[1].id, old.id);
    EXPECT_DOUBLE_EQ(actions[1].start, 2);
    EXPECT_DOUBLE_EQ(actions[1].end, 10);  // cut at the clip's end
    EXPECT_DOUBLE_EQ(actions[2].start, 5);
    EXPECT_TRUE(track.actions.empty());
    EXPECT_TRUE(track.zooms.empty());
}

TEST(TrackMigration, EffectsOverlaysBecomeClips)
{
    Track track;
    track.media = MediaRef{"/tmp/rec.mov", MediaKind::video, 0};
    track.clips = {makeClip(0, 5), makeClip(10, 5)};
    const Overlay brief = makeOverlay(OverlayKind::text, 2, 2.05), later = makeOverlay(OverlayKind::arrow, 10, 12);
    track.effects = {brief, later};

    track.moveSettingsToClips(wide);
    ASSERT_EQ(track.clips.size(), 4u);
    EXPECT_EQ(starts(track.clips), (std::vector<double>{0, 2, 10, 10}));
    const Clip& made = track.clips[1];
    EXPECT_EQ(made.overlay, brief);
    EXPECT_DOUBLE_EQ(made.duration, 0.1);
    EXPECT_FALSE(made.media);
    EXPECT_FALSE(made.frame);
    EXPECT_DOUBLE_EQ(made.aspect, 16.0 / 9.0);
    EXPECT_TRUE(made.rounded);
    EXPECT_FLOAT_EQ(made.volume, 1);
    EXPECT_TRUE(made.actions.empty());
    EXPECT_FALSE(made.link);
    // An equal start keeps the existing clip first.
    EXPECT_TRUE(track.clips[2].media);
    EXPECT_EQ(track.clips[3].overlay, later);
    EXPECT_DOUBLE_EQ(track.clips[3].duration, 2);
    EXPECT_TRUE(track.effects.empty());
}
