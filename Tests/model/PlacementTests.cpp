// Picture placement over time, fades, automatic cross-fades and gain steps.

#include "Ondexa/model/Timeline.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>

using namespace ondexa;

namespace {

constexpr double wide = 16.0 / 9.0;

Clip makeClip(double start, double duration, double fadeIn = 0, double fadeOut = 0)
{
    Clip clip;
    clip.start = start;
    clip.duration = duration;
    clip.fadeIn = fadeIn;
    clip.fadeOut = fadeOut;
    return clip;
}

TrackAction action(double start, double end, bool returns = false)
{
    TrackAction action;
    action.start = start;
    action.end = end;
    action.returns = returns;
    return action;
}

TrackAction zoomTo(double start, double end, double scale, bool returns = false)
{
    TrackAction zoom = action(start, end, returns);
    zoom.scale = scale;
    return zoom;
}

TrackAction volumeTo(double start, double end, float volume, bool returns = false)
{
    TrackAction change = action(start, end, returns);
    change.volume = volume;
    return change;
}

void expectState(const PictureState& actual, const PictureState& expected)
{
    EXPECT_NEAR(actual.scale, expected.scale, 1e-9);
    EXPECT_NEAR(actual.centerX, expected.centerX, 1e-9);
    EXPECT_NEAR(actual.centerY, expected.centerY, 1e-9);
    EXPECT_NEAR(actual.rotation, expected.rotation, 1e-9);
}

// "set time level;" and "ramp start-end level-level;", six digits each.
std::string describe(const std::vector<VolumeStep>& steps)
{
    std::string text;
    char buffer[128];
    for (const VolumeStep& step : steps) {
        if (const auto* s = std::get_if<VolumeStep::Set>(&step.step))
            std::snprintf(buffer, sizeof buffer, "set %g %g; ", s->time, s->level);
        else if (const auto* r = std::get_if<VolumeStep::Ramp>(&step.step))
            std::snprintf(buffer, sizeof buffer, "ramp %g-%g %g-%g; ", r->start, r->end, r->startLevel, r->endLevel);
        text += buffer;
    }
    return text;
}

} // namespace

TEST(PictureState, BaseStateFollowsFrameAndFittedWidth)
{
    struct Case {
        double aspect;
        std::optional<NRect> frame;
        double outputAspect;
        PictureState want;
    };
    for (const Case& c : {
             Case{wide, std::nullopt, wide, {1, 0.5, 0.5, 30}},
             Case{4.0 / 3.0, NRect{0, 0, 0.75, 1}, wide, {1, 0.375, 0.5, 30}},  // fills 3/4 of the width
             Case{wide, NRect{0.1, 0.2, 0.5, 0.4}, 4.0 / 3.0, {0.5, 0.35, 0.4, 30}},
             Case{0, NRect{0, 0, 0.5, 0.5}, wide, {0.5, 0.25, 0.25, 30}},  // zero aspect from a file: finite
         }) {
        SCOPED_TRACE(c.aspect);
        Clip clip = makeClip(0, 5);
        clip.rotation = 30;
        clip.aspect = c.aspect;
        clip.frame = c.frame;
        expectState(clip.baseState(c.outputAspect), c.want);
        clip.overlay = Overlay{};  // an overlay clip ignores its frame
        expectState(clip.baseState(wide), {1, 0.5, 0.5, 30});
    }
}

TEST(PictureState, ActionsEaseAndChainInStartOrder)
{
    struct Case {
        std::vector<TrackAction> actions;
        double time;
        double scale;
    };
    const std::vector<Case> cases{
        // Non-returning: smoothstep over its length, then held.
        {{zoomTo(1, 3, 2)}, 1, 1}, {{zoomTo(1, 3, 2)}, 1.5, 1.15625}, {{zoomTo(1, 3, 2)}, 20, 2},
        // Returning: ramps of 0.6 s, or a third of a shorter action.
        {{zoomTo(0, 3, 3, true)}, 0.3, 2}, {{zoomTo(0, 3, 3, true)}, 2.4, 3}, {{zoomTo(0, 3, 3, true)}, 2.7, 2},
        {{zoomTo(0, 3, 3, true)}, 3, 1}, {{zoomTo(0, 0.9, 3, true)}, 0.15, 2},
        // Very short: returning ramps of 1/300 s; 0 s jumps at its start; 0.005 s eases as if 0.01 s long.
        {{zoomTo(1, 1.005, 2, true)}, 1.0025, 1.84375}, {{zoomTo(1, 1.005, 2, true)}, 1.005, 1},
        {{zoomTo(2, 2, 2)}, 1.999, 1}, {{zoomTo(2, 2, 2)}, 2, 2},
        {{zoomTo(2, 2.005, 2)}, 2.004, 1.352}, {{zoomTo(2, 2.005, 2)}, 2.005, 2},
        // Start order, whatever the stored order; a returning action goes back to what came before.
        {{zoomTo(2, 4, 4), zoomTo(0, 1, 2)}, 3, 3},
        {{zoomTo(0, 1, 2), zoomTo(2, 5, 3, true)}, 3.5, 3}, {{zoomTo(0, 1, 2), zoomTo(2, 5, 3, true)}, 5, 2},
        // Equal starts keep the stored order: 1 → 2 → 3.5, or 1 → 3 → 3.
        {{zoomTo(0, 2, 3), zoomTo(0, 2, 5)}, 1, 3.5}, {{zoomTo(0, 2, 5), zoomTo(0, 2, 3)}, 1, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "case " << &c - cases.data());
        Clip clip = makeClip(0, 30);
        clip.actions = c.actions;
        EXPECT_NEAR(clip.pictureState(c.time, wide).scale, c.scale, 1e-9);
    }
    // Action times count from the clip's start.
    Clip later = makeClip(10, 10);
    later.actions = {zoomTo(1, 3, 2)};
    EXPECT_NEAR(later.pictureState(12, wide).scale, 1.5, 1e-12);
}

TEST(PictureState, MovesStartFromThePlacementBeforeThem)
{
    Clip framed = makeClip(0, 10);
    framed.frame = NRect{0, 0, 0.5, 0.5};
    framed.actions = {action(0, 2)};
    framed.actions[0].centerX = 0.75;
    expectState(framed.pictureState(1, wide), {0.5, 0.5, 0.25, 0});

    Clip clip = makeClip(10, 10);
    clip.rotation = 5;
    TrackAction pan = action(3, 4);
    pan.centerX = 0.3;
    clip.actions = {zoomTo(0, 2, 2), pan};
    expectState(clip.targetState(pan, wide), {2, 0.3, 0.5, 5});  // from what the zoom left
}

TEST(FadeLevel, FadesInAndOutAndTheLowerWins)
{
    struct Case {
        double fadeIn, fadeOut, time, level;
    };
    for (const Case& c : {Case{0, 0, -5, 1}, Case{0, 0, 25, 1}, Case{2, 0, 9, 0}, Case{2, 0, 11, 0.5},
                          Case{2, 0, 12, 1}, Case{0, 4, 5, 1}, Case{0, 4, 18, 0.5}, Case{0, 4, 20, 0},
                          Case{0, 4, 25, 0}, Case{6, 6, 14, 4.0 / 6}, Case{6, 6, 15, 5.0 / 6}}) {
        EXPECT_NEAR(makeClip(10, 10, c.fadeIn, c.fadeOut).fadeLevel(c.time), c.level, 1e-12)
            << c.fadeIn << " " << c.fadeOut << " at " << c.time;
    }
}

TEST(EffectiveClips, SortedWithFadesRaisedOnEveryOverlappingPair)
{
    using Result = std::vector<std::array<double, 4>>;  // start, duration, fade-in, fade-out
    struct Case {
        std::vector<Clip> clips;
        Result want;
    };
    const std::vector<Case> cases{
        {{makeClip(8, 7), makeClip(0, 10, 0, 3)}, {{0, 10, 0, 3}, {8, 7, 2, 0}}},  // 3 is already longer
        {{makeClip(0, 10), makeClip(2, 3)}, {{0, 10, 0, 3}, {2, 3, 3, 0}}},          // the inner clip's length
        {{makeClip(0, 10), makeClip(2, 2), makeClip(6, 6)}, {{0, 10, 0, 4}, {2, 2, 2, 0}, {6, 6, 4, 0}}},
        {{makeClip(0, 5), makeClip(5, 3)}, {{0, 5, 0, 0}, {5, 3, 0, 0}}},  // touching
        {{makeClip(0, 5), makeClip(0, 3)}, {{0, 5, 0, 3}, {0, 3, 3, 0}}},  // equal starts keep stored order
        {{makeClip(0, 3), makeClip(0, 5)}, {{0, 3, 0, 3}, {0, 5, 3, 0}}},
        {{makeClip(0, 2, 5, 3)}, {{0, 2, 2, 2}}},  // capped at the clip's length
    };
    for (const Case& c : cases) {
        Track track;
        track.clips = c.clips;
        Result got;
        for (const Clip& clip : track.effectiveClips())
            got.push_back({clip.start, clip.duration, clip.fadeIn, clip.fadeOut});
        EXPECT_EQ(got, c.want) << "case " << &c - cases.data();
    }
}

TEST(VolumeSteps, ClipLevelsFadesAndActions)
{
    Clip loud = makeClip(2, 6), faded = makeClip(10, 2, 1.5, 1.5);
    loud.volume = 0.8f;
    Clip acting = makeClip(0, 10, 1, 2);
    acting.actions = {volumeTo(5, 8, 0.2f, true), zoomTo(3, 4, 2), volumeTo(2, 4, 0.5f)};
    Clip crowded = makeClip(0, 10, 1, 2);
    crowded.actions = {volumeTo(0, 0.5, 0.1f), volumeTo(0.5, 3, 0.8f), volumeTo(2, 4, 0.4f), volumeTo(6, 12, 0.6f),
                       volumeTo(9, 10, 0.9f)};
    struct Case {
        float trackVolume;
        std::vector<Clip> clips;
        std::string want;
    };
    const std::vector<Case> cases{
        {1, {}, "set 0 0; "},
        // Any order; the track gain applies; the fade-out starts where the fade-in ended, not at 10.5.
        {0.5f, {faded, loud}, "set 0 0; set 2 0.4; set 10 0; ramp 10-11.5 0-0.5; ramp 11.5-12 0.5-0; "},
        // Actions ramp between the fades; a returning one in ramps of 0.6 s back to the level before it.
        {1, {acting}, "set 0 0; set 0 0; ramp 0-1 0-1; ramp 2-4 1-0.5; ramp 5-5.6 0.5-0.2; ramp 7.4-8 0.2-0.5; "
                      "ramp 8-10 0.5-0; "},
        // Cut to the fade-in, the fade-out and each other.
        {0.5f, {crowded}, "set 0 0; set 0 0; ramp 0-1 0-0.5; ramp 1-3 0.5-0.4; ramp 3-4 0.4-0.2; ramp 6-8 0.2-0.3; "
                          "ramp 8-10 0.3-0; "},
        // Fades longer than the clip stay inside it.
        {1, {makeClip(4, 2, 3, 0)}, "set 0 0; set 4 0; ramp 4-6 0-1; "},
        {1, {makeClip(4, 2, 0, 3)}, "set 0 0; set 4 1; ramp 4-6 1-0; "},
    };
    for (const Case& c : cases) {
        Track track;
        track.volume = c.trackVolume;
        EXPECT_EQ(describe(track.volumeSteps(c.clips)), c.want) << "case " << &c - cases.data();
    }
}
