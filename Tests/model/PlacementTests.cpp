#include "Ondexa/model/Timeline.h"

#include <gtest/gtest.h>

#include <variant>

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

TrackAction makeAction(double start, double end, bool returns)
{
    TrackAction action;
    action.start = start;
    action.end = end;
    action.returns = returns;
    return action;
}

TrackAction zoomTo(double start, double end, double scale, bool returns = false)
{
    TrackAction action = makeAction(start, end, returns);
    action.scale = scale;
    return action;
}

TrackAction volumeTo(double start, double end, float volume, bool returns = false)
{
    TrackAction action = makeAction(start, end, returns);
    action.volume = volume;
    return action;
}

double scaleAt(const Clip& clip, double time) { return clip.pictureState(time, wide).scale; }

void expectState(const PictureState& actual, const PictureState& expected)
{
    EXPECT_NEAR(actual.scale, expected.scale, 1e-9);
    EXPECT_NEAR(actual.centerX, expected.centerX, 1e-9);
    EXPECT_NEAR(actual.centerY, expected.centerY, 1e-9);
    EXPECT_NEAR(actual.rotation, expected.rotation, 1e-9);
}

void expectSteps(const std::vector<VolumeStep>& actual, const std::vector<VolumeStep>& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(actual[i].step.index(), expected[i].step.index());
        if (auto* set = std::get_if<VolumeStep::Set>(&actual[i].step)) {
            const auto& want = std::get<VolumeStep::Set>(expected[i].step);
            EXPECT_NEAR(set->time, want.time, 1e-9);
            EXPECT_NEAR(set->level, want.level, 1e-6);
        } else {
            const auto& ramp = std::get<VolumeStep::Ramp>(actual[i].step);
            const auto& want = std::get<VolumeStep::Ramp>(expected[i].step);
            EXPECT_NEAR(ramp.start, want.start, 1e-9);
            EXPECT_NEAR(ramp.end, want.end, 1e-9);
            EXPECT_NEAR(ramp.startLevel, want.startLevel, 1e-6);
            EXPECT_NEAR(ramp.endLevel, want.endLevel, 1e-6);
        }
    }
}

} // namespace

TEST(PictureState, BaseStateFollowsFrameAndFittedWidth)
{
    Clip clip = makeClip(0, 5);
    clip.rotation = 30;
    expectState(clip.baseState(wide), {1, 0.5, 0.5, 30});

    // A 4:3 picture fitted into 16:9 fills three quarters of the width.
    clip.aspect = 4.0 / 3.0;
    clip.frame = NRect{0, 0, 0.75, 1};
    expectState(clip.baseState(wide), {1, 0.375, 0.5, 30});

    // A 16:9 picture in a 4:3 output is fitted to the full width.
    clip.aspect = wide;
    clip.frame = NRect{0.1, 0.2, 0.5, 0.4};
    expectState(clip.baseState(4.0 / 3.0), {0.5, 0.35, 0.4, 30});

    clip.overlay = Overlay{};
    expectState(clip.baseState(wide), {1, 0.5, 0.5, 30});
}

TEST(PictureState, ZeroAspectFromAFileGivesAFiniteScale)
{
    Clip clip = makeClip(0, 5);
    clip.aspect = 0;
    clip.frame = NRect{0, 0, 0.5, 0.5};
    expectState(clip.baseState(wide), {0.5, 0.25, 0.25, 0});
}

TEST(PictureState, NonReturningActionEasesOverItsLengthAndHolds)
{
    Clip clip = makeClip(10, 10);
    clip.actions = {zoomTo(1, 3, 2)};
    EXPECT_DOUBLE_EQ(scaleAt(clip, 10.5), 1);
    EXPECT_DOUBLE_EQ(scaleAt(clip, 11), 1);
    EXPECT_NEAR(scaleAt(clip, 11.5), 1 + 0.15625, 1e-12);  // smoothstep(0.25) = 0.15625
    EXPECT_NEAR(scaleAt(clip, 12), 1.5, 1e-12);
    EXPECT_DOUBLE_EQ(scaleAt(clip, 13), 2);
    EXPECT_DOUBLE_EQ(scaleAt(clip, 30), 2);
    EXPECT_DOUBLE_EQ(clip.pictureState(12, wide).centerX, 0.5);
}

TEST(PictureState, ReturningActionRampsInHoldsAndGoesBack)
{
    Clip clip = makeClip(0, 10);
    clip.actions = {zoomTo(0, 3, 3, true)};  // ramps of 0.6 s
    EXPECT_NEAR(scaleAt(clip, 0.3), 2, 1e-12);
    EXPECT_NEAR(scaleAt(clip, 0.6), 3, 1e-12);
    EXPECT_NEAR(scaleAt(clip, 1.5), 3, 1e-12);
    EXPECT_NEAR(scaleAt(clip, 2.4), 3, 1e-12);
    EXPECT_NEAR(scaleAt(clip, 2.7), 2, 1e-12);
    EXPECT_DOUBLE_EQ(scaleAt(clip, 3), 1);
    EXPECT_DOUBLE_EQ(scaleAt(clip, 8), 1);

    // A short action ramps over a third of its length.
    clip.actions = {zoomTo(0, 0.9, 3, true)};
    EXPECT_NEAR(scaleAt(clip, 0.15), 2, 1e-12);
    EXPECT_NEAR(scaleAt(clip, 0.45), 3, 1e-12);
}

TEST(PictureState, VeryShortActions)
{
    Clip clip = makeClip(0, 10);
    // Returning, 0.005 s long: ramps of 1/300 s; in its middle x = 0.75.
    clip.actions = {zoomTo(1, 1.005, 2, true)};
    EXPECT_NEAR(scaleAt(clip, 1.0025), 1 + 0.84375, 1e-9);
    EXPECT_DOUBLE_EQ(scaleAt(clip, 1.005), 1);

    // Non-returning, 0 s long: jumps fully at its start.
    clip.actions = {zoomTo(2, 2, 2)};
    EXPECT_DOUBLE_EQ(scaleAt(clip, 1.999), 1);
    EXPECT_DOUBLE_EQ(scaleAt(clip, 2), 2);

    // Non-returning, 0.005 s long: eased as if 0.01 s long until its end.
    clip.actions = {zoomTo(2, 2.005, 2)};
    EXPECT_NEAR(scaleAt(clip, 2.004), 1.352, 1e-9);
    EXPECT_DOUBLE_EQ(scaleAt(clip, 2.005), 2);
}

TEST(PictureState, ActionsChainInStartOrderKeepingStoredOrderOfEqualStarts)
{
    Clip clip = makeClip(0, 10);
    TrackAction later = zoomTo(2, 4, 4);
    later.centerX = 0.2;
    clip.actions = {later, zoomTo(0, 1, 2)};  // stored out of order
    expectState(clip.pictureState(3, wide), {3, 0.35, 0.5, 0});

    // A returning action goes back to what the earlier action made.
    clip.actions = {zoomTo(0, 1, 2), zoomTo(2, 5, 3, true)};
    EXPECT_NEAR(scaleAt(clip, 3.5), 3, 1e-12);
    EXPECT_DOUBLE_EQ(scaleAt(clip, 5), 2);

    // Same start: halfway through, 1 → 2 → 3.5 in stored order, 1 → 3 → 3 reversed.
    clip.actions = {zoomTo(0, 2, 3), zoomTo(0, 2, 5)};
    EXPECT_NEAR(scaleAt(clip, 1), 3.5, 1e-12);
    clip.actions = {zoomTo(0, 2, 5), zoomTo(0, 2, 3)};
    EXPECT_NEAR(scaleAt(clip, 1), 3, 1e-12);
}

TEST(PictureState, ActionsStartFromTheFramedPlacement)
{
    Clip clip = makeClip(0, 10);
    clip.frame = NRect{0, 0, 0.5, 0.5};
    TrackAction pan = makeAction(0, 2, false);
    pan.centerX = 0.75;
    clip.actions = {pan};
    expectState(clip.pictureState(1, wide), {0.5, 0.5, 0.25, 0});
}

TEST(PictureState, TargetStateStartsFromThePlacementAtTheActionStart)
{
    Clip clip = makeClip(10, 10);
    clip.rotation = 5;
    TrackAction pan = makeAction(3, 4, false);
    pan.centerX = 0.3;
    clip.actions = {zoomTo(0, 2, 2), pan};
    expectState(clip.targetState(pan, wide), {2, 0.3, 0.5, 5});
    expectState(clip.targetState(clip.actions[0], wide), {2, 0.5, 0.5, 5});
}

TEST(FadeLevel, FadesInAndOut)
{
    Clip clip = makeClip(10, 10);
    for (double t : {-5.0, 10.0, 15.0, 25.0}) EXPECT_DOUBLE_EQ(clip.fadeLevel(t), 1);

    clip.fadeIn = 2;
    EXPECT_DOUBLE_EQ(clip.fadeLevel(9), 0);
    EXPECT_DOUBLE_EQ(clip.fadeLevel(11), 0.5);
    EXPECT_DOUBLE_EQ(clip.fadeLevel(12), 1);

    clip.fadeIn = 0;
    clip.fadeOut = 4;
    EXPECT_DOUBLE_EQ(clip.fadeLevel(5), 1);
    EXPECT_DOUBLE_EQ(clip.fadeLevel(18), 0.5);
    EXPECT_DOUBLE_EQ(clip.fadeLevel(20), 0);
    EXPECT_DOUBLE_EQ(clip.fadeLevel(25), 0);

    // Overlapping fades: the lower of the two wins.
    clip.fadeIn = 6;
    clip.fadeOut = 6;
    EXPECT_NEAR(clip.fadeLevel(14), 4.0 / 6.0, 1e-12);
    EXPECT_NEAR(clip.fadeLevel(15), 5.0 / 6.0, 1e-12);
}

TEST(EffectiveClips, OverlapsRaiseFadesOnEveryPair)
{
    Track track;
    Clip a = makeClip(0, 10), b = makeClip(8, 7);
    a.fadeOut = 3;
    track.clips = {b, a};
    auto clips = track.effectiveClips();
    ASSERT_EQ(clips.size(), 2u);
    EXPECT_EQ(clips[0].id, a.id);
    EXPECT_DOUBLE_EQ(clips[0].fadeOut, 3);  // already longer than the overlap
    EXPECT_DOUBLE_EQ(clips[1].fadeIn, 2);

    // A clip inside another: the fade is the inner clip's length.
    track.clips = {makeClip(0, 10), makeClip(2, 3)};
    clips = track.effectiveClips();
    EXPECT_DOUBLE_EQ(clips[0].fadeOut, 3);
    EXPECT_DOUBLE_EQ(clips[1].fadeIn, 3);

    // Pairs that are not neighbours count too: A 0–10 overlaps C 6–12 by 4.
    track.clips = {makeClip(0, 10), makeClip(2, 2), makeClip(6, 6)};
    clips = track.effectiveClips();
    EXPECT_DOUBLE_EQ(clips[0].fadeOut, 4);
    EXPECT_DOUBLE_EQ(clips[1].fadeIn, 2);
    EXPECT_DOUBLE_EQ(clips[1].fadeOut, 0);
    EXPECT_DOUBLE_EQ(clips[2].fadeIn, 4);

    // Touching clips get no fades; the stored track is untouched.
    track.clips = {makeClip(0, 5), makeClip(5, 3)};
    const Track before = track;
    clips = track.effectiveClips();
    EXPECT_DOUBLE_EQ(clips[0].fadeOut, 0);
    EXPECT_DOUBLE_EQ(clips[1].fadeIn, 0);
    EXPECT_EQ(track, before);
}

TEST(EffectiveClips, EqualStartsKeepStoredOrderAndFadesAreCapped)
{
    Track track;
    Clip p = makeClip(0, 5), q = makeClip(0, 3);
    track.clips = {p, q};
    auto clips = track.effectiveClips();
    EXPECT_EQ(clips[0].id, p.id);
    EXPECT_DOUBLE_EQ(clips[0].fadeOut, 3);
    EXPECT_DOUBLE_EQ(clips[1].fadeIn, 3);

    track.clips = {q, p};
    clips = track.effectiveClips();
    EXPECT_EQ(clips[0].id, q.id);
    EXPECT_DOUBLE_EQ(clips[0].fadeOut, 3);
    EXPECT_DOUBLE_EQ(clips[1].fadeIn, 3);
    EXPECT_DOUBLE_EQ(clips[1].fadeOut, 0);

    Clip longFades = makeClip(0, 2);
    longFades.fadeIn = 5;
    longFades.fadeOut = 3;
    track.clips = {longFades};
    clips = track.effectiveClips();
    EXPECT_DOUBLE_EQ(clips[0].fadeIn, 2);
    EXPECT_DOUBLE_EQ(clips[0].fadeOut, 2);
}

TEST(VolumeSteps, ClipLevelsAndFades)
{
    Track track;
    EXPECT_EQ(track.volumeSteps({}), std::vector<VolumeStep>{VolumeStep::set(0, 0)});

    track.volume = 0.5f;
    Clip loud = makeClip(2, 6), faded = makeClip(10, 2);
    loud.volume = 0.8f;
    faded.fadeIn = 1.5;
    faded.fadeOut = 1.5;
    const std::vector<Clip> given = {faded, loud};  // any order
    // The fade-out ramp starts where the fade-in ended, not at 10.5.
    expectSteps(track.volumeSteps(given), {VolumeStep::set(0, 0), VolumeStep::set(2, 0.4f), VolumeStep::set(10, 0),
                                           VolumeStep::ramp(10, 11.5, 0, 0.5f), VolumeStep::ramp(11.5, 12, 0.5f, 0)});
}

TEST(VolumeSteps, ActionsRampBetweenFadesWithACursor)
{
    Track track;
    Clip clip = makeClip(0, 10);
    clip.fadeIn = 1;
    clip.fadeOut = 2;
    clip.actions = {volumeTo(5, 8, 0.2f, true), zoomTo(3, 4, 2), volumeTo(2, 4, 0.5f)};
    expectSteps(track.volumeSteps(std::vector{clip}),
                {VolumeStep::set(0, 0), VolumeStep::set(0, 0), VolumeStep::ramp(0, 1, 0, 1),
                 VolumeStep::ramp(2, 4, 1, 0.5f),         // the level becomes 0.5
                 VolumeStep::ramp(5, 5.6, 0.5f, 0.2f),    // returning: ramps of 0.6 s
                 VolumeStep::ramp(7.4, 8, 0.2f, 0.5f), VolumeStep::ramp(8, 10, 0.5f, 0)});

    // Clipped to the fade-in, the fade-out and each other; the track gain applies.
    track.volume = 0.5f;
    clip.actions = {volumeTo(0, 0.5, 0.1f), volumeTo(0.5, 3, 0.8f), volumeTo(2, 4, 0.4f), volumeTo(6, 12, 0.6f),
                    volumeTo(9, 10, 0.9f)};
    expectSteps(track.volumeSteps(std::vector{clip}),
                {VolumeStep::set(0, 0), VolumeStep::set(0, 0), VolumeStep::ramp(0, 1, 0, 0.5f),
                 VolumeStep::ramp(1, 3, 0.5f, 0.4f), VolumeStep::ramp(3, 4, 0.4f, 0.2f),
                 VolumeStep::ramp(6, 8, 0.2f, 0.3f), VolumeStep::ramp(8, 10, 0.3f, 0)});
}

TEST(VolumeSteps, FadesLongerThanTheClipStayInsideIt)
{
    Track track;
    Clip clip = makeClip(4, 2);
    clip.fadeIn = 3;
    expectSteps(track.volumeSteps(std::vector{clip}),
                {VolumeStep::set(0, 0), VolumeStep::set(4, 0), VolumeStep::ramp(4, 6, 0, 1)});
    clip.fadeIn = 0;
    clip.fadeOut = 3;
    expectSteps(track.volumeSteps(std::vector{clip}),
                {VolumeStep::set(0, 0), VolumeStep::set(4, 1), VolumeStep::ramp(4, 6, 1, 0)});
}
