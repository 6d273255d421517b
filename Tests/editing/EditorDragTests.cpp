// Drags on the timeline: clip moves with snapping, trims with linked clips,
// fades and action drags. Each drag is one undo step: the view pushes it,
// then every call starts again from the drag-start copies.

#include "EditTestSupport.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

using namespace ondexa;
using namespace ondexa::testing;

namespace {

using Edge = EditorModel::ClipEdge;

Clip withoutMedia(Clip clip)
{
    clip.media.reset();
    return clip;
}

std::optional<std::size_t> rowOf(const EditorModel& model, const Uuid& clip)
{
    for (std::size_t i = 0; i < model.tracks().size(); ++i)
        for (const Clip& c : model.tracks()[i].clips)
            if (c.id == clip) return i;
    return std::nullopt;
}

TEST(EditorSnapping, TakesTheNearestPointWithinTheToleranceEarliestFirst)
{
    TempFolder folder;
    Clip clip = clipAt(3, 2);
    TrackAction action;
    action.start = 1;
    action.end = 1.5;
    clip.actions = {action};
    auto model = editorWith(folder.path, {trackWith("V", {clip})});
    model->clock().setTime(10);
    const Uuid nobody = Uuid::random();

    struct Case {
        const char* label;
        double t, tolerance;
        Uuid excluding;
        std::optional<double> expected;
    } cases[] = {
        {"a clip start, exactly at the tolerance", 3.25, 0.25, nobody, 3},
        {"a little too far", 3.25, 0.24, nobody, std::nullopt},
        {"an action's start on the timeline", 4.25, 0.25, nobody, 4},
        {"an action's end on the timeline", 4.625, 0.25, nobody, 4.5},
        {"the clip excluded with its actions", 4.25, 0.25, clip.id, std::nullopt},
        {"the action alone excluded", 4.25, 0.25, action.id, std::nullopt},
        {"the playhead", 9.875, 0.25, nobody, 10},
        {"0 before the playhead at equal distance", 5, 0.5, clip.id, std::nullopt},
        {"0 wins a tie with the playhead", 5, 5, clip.id, 0},
        {"not a number", std::nan(""), 100, nobody, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(model->snapped(c.t, c.excluding, c.tolerance), c.expected) << c.label;

    model->setSnapping(false);
    EXPECT_EQ(model->snapped(3, nobody, 1), std::nullopt);
}

TEST(EditorMoves, StartSnapsBeforeEndAndTheMoveIsOneUndoStep)
{
    TempFolder folder;
    const Clip c1 = clipAt(0, 5), c2 = withoutMedia(clipAt(8, 2)), c3 = clipAt(12, 3);
    const std::vector<Track> before = {trackWith("V1", {c1, c2}), trackWith("V2", {c3})};
    auto model = editorWith(folder.path, before);
    model->clock().setTime(20);

    std::vector<Track> expected = before;
    expected[0].clips[1].start = 10;
    expected[0].clips[1].media = before[0].media;  // pinned
    EXPECT_TRUE(editGives(
        *model,
        [&](EditorModel& m) {
            m.pushUndo();
            m.moveClip(c2, MediaKind::video, -2.9, std::nullopt, 0.2);
            EXPECT_EQ(m.tracks()[0].clips[1].start, 5);  // its start on c1's end
            m.moveClip(c2, MediaKind::video, 1.85, std::nullopt, 0.2);
            m.endClipDrag();
        },
        expected));
    EXPECT_TRUE(model->canUndo());
}

TEST(EditorMoves, AClipLandsOnlyOnTracksOfItsFamily)
{
    enum { V, I, A, E, A2 };
    struct Case {
        const char* label;
        int from;
        std::optional<int> toRow;
        int expectedRow;
    } cases[] = {
        {"video onto audio", V, A, V},       {"video onto effects", V, E, V},
        {"video onto a still track", V, I, I}, {"audio onto audio", A, A2, A2},
        {"audio onto video", A, V, A},       {"effects onto video", E, V, E},
        {"beyond the last row", V, 9, V},    {"above the first row", V, -1, V},
        {"no row", V, std::nullopt, V},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        const MediaKind kinds[] = {MediaKind::video, MediaKind::image, MediaKind::audio, MediaKind::effects,
                                   MediaKind::audio};
        std::vector<Track> tracks;
        for (MediaKind kind : kinds) tracks.push_back(trackWith("T", {}, kind));
        // The target rows hold a clip later in time, so the moved one sorts first.
        for (Track& track : tracks) track.clips.push_back(withoutMedia(clipAt(20, 1)));
        const Clip moved = withoutMedia(clipAt(5, 2));
        tracks[std::size_t(c.from)].clips.push_back(moved);
        auto model = editorWith(folder.path, tracks);

        model->pushUndo();
        model->moveClip(moved, MediaKind::video, 1, c.toRow, 0);
        ASSERT_EQ(rowOf(*model, moved.id), std::size_t(c.expectedRow)) << c.label;
        const Track& track = model->tracks()[std::size_t(c.expectedRow)];
        const Clip& clip = c.expectedRow == c.from ? track.clips.back() : track.clips.front();
        EXPECT_EQ(clip.id, moved.id) << c.label;
        EXPECT_EQ(clip.start, 6) << c.label;
        // The clip names its media from now on; an effects clip has none.
        EXPECT_EQ(clip.media, c.from == E ? std::optional<MediaRef>() : tracks[std::size_t(c.from)].media)
            << c.label;
        EXPECT_EQ(model->selectedTrackID(), c.expectedRow == c.from ? std::optional<Uuid>() : track.id)
            << c.label;
    }
}

TEST(EditorMoves, ALinkedPairChangesRowsOnlyWhereTheGrabbedFamilyFits)
{
    const Uuid link = Uuid::random();
    const Clip v = linked(clipAt(2, 4), link);
    const Clip a = linked(clipAt(2, 4, 0, MediaKind::audio), link);
    struct Case {
        const char* label;
        MediaKind below;
        bool videoMoves;
    } cases[] = {{"a picture track below", MediaKind::video, true},
                 {"a sound track below", MediaKind::audio, false}};
    for (const Case& c : cases) {
        TempFolder folder;
        const std::vector<Track> before = {trackWith("V", {v}), trackWith("below", {}, c.below),
                                           trackWith("A", {a}, MediaKind::audio)};
        auto model = editorWith(folder.path, before);
        model->clock().setTime(30);

        std::vector<Track> expected = before;
        expected[0].clips[0].start = 3;
        expected[2].clips[0].start = 3;
        if (c.videoMoves) {
            expected[1].clips.push_back(expected[0].clips[0]);
            expected[0].clips.clear();
        }
        EXPECT_TRUE(editGives(
            *model,
            [&](EditorModel& m) {
                m.pushUndo();
                m.moveClips({v, a}, v, 1, 1, 0.1);
                m.endClipDrag();
            },
            expected))
            << c.label;
    }
}

TEST(EditorMoves, OneClipDraggedPastZeroStopsThere)
{
    TempFolder folder;
    const Clip clip = clipAt(2, 1);
    const std::vector<Track> before = {trackWith("V", {clip, clipAt(10, 1)})};
    auto model = editorWith(folder.path, before);
    model->clock().setTime(30);
    std::vector<Track> expected = before;
    expected[0].clips[0].start = 0;
    EXPECT_TRUE(editGives(
        *model,
        [&](EditorModel& m) {
            m.pushUndo();
            m.moveClip(clip, MediaKind::video, -5, std::nullopt, 0.2);
            m.endClipDrag();
        },
        expected));
}

TEST(EditorMoves, AGroupStopsAtZeroAndReturnsToItsTracksWhenDraggedBack)
{
    TempFolder folder;
    const Clip x = clipAt(1, 1), y = clipAt(3, 1), z = clipAt(0, 1);
    const std::vector<Track> before = {trackWith("V1", {x, y}), trackWith("V2", {z})};
    auto model = editorWith(folder.path, before);
    model->clock().setTime(30);

    model->pushUndo();
    model->moveClips({x, y}, x, -5, 1, 0);
    ASSERT_EQ(model->tracks()[0].clips.size(), 0u);
    // Sorted in by start: x and z both at 0 keep z first.
    const std::vector<double> starts = {model->tracks()[1].clips[0].start, model->tracks()[1].clips[1].start,
                                        model->tracks()[1].clips[2].start};
    EXPECT_EQ(starts, (std::vector<double>{0, 0, 2}));
    EXPECT_EQ(model->tracks()[1].clips[0].id, z.id);

    model->moveClips({x, y}, x, 0, 0, 0);
    EXPECT_EQ(model->tracks(), before);
}

TEST(EditorMoves, AGroupWhoseFamilyCannotAllChangeRowsStaysOnItsTracks)
{
    TempFolder folder;
    const Clip x = clipAt(1, 1), y = clipAt(4, 1);
    // y's row + 1 is the sound track: neither changes rows, both move in time.
    const std::vector<Track> before = {trackWith("V1", {x}), trackWith("V2", {y}), trackWith("A", {}, MediaKind::audio)};
    auto model = editorWith(folder.path, before);
    model->clock().setTime(30);
    model->pushUndo();
    model->moveClips({x, y}, x, 2, 1, 0);
    EXPECT_EQ(rowOf(*model, x.id), 0u);
    EXPECT_EQ(rowOf(*model, y.id), 1u);
    EXPECT_EQ(model->tracks()[0].clips[0].start, 3);
    EXPECT_EQ(model->tracks()[1].clips[0].start, 6);
}

// v and a linked, u not, each at `at` on the timeline, 2 s into its media, 5 s long.
struct TrimSetup {
    TempFolder folder;
    Clip v, a, u;
    std::vector<Track> before;
    std::unique_ptr<EditorModel> model;

    explicit TrimSetup(double at, std::vector<TrackAction> actions = {})
    {
        const Uuid link = Uuid::random();
        v = linked(clipAt(at, 5, 2), link);
        v.fadeIn = 1;
        v.actions = std::move(actions);
        a = linked(clipAt(at, 5, 2, MediaKind::audio), link);
        u = clipAt(at, 5, 2);
        before = {trackWith("V", {v}), trackWith("A", {a}, MediaKind::audio), trackWith("U", {u})};
        model = editorWith(folder.path, before);
        model->clock().setTime(20);
    }

    std::function<void(EditorModel&)> trim(Edge edge, double delta)
    {
        return [this, edge, delta](EditorModel& m) {
            m.pushUndo();
            m.trimClip(v, edge, delta, 0.2);
            m.endClipDrag();
        };
    }
};

Clip spanning(Clip clip, double start, double sourceStart, double duration)
{
    clip.start = start;
    clip.sourceStart = sourceStart;
    clip.duration = duration;
    clip.fadeIn = std::min(clip.fadeIn, duration);
    return clip;
}

TEST(EditorTrims, LinkedClipsFollowWithinTheMediaAndTheShortestLength)
{
    struct Case {
        const char* label;
        double at;
        Edge edge;
        double delta;
        double start, sourceStart, duration;
    } cases[] = {
        {"front stops at the media's first frame", 10, Edge::front, -5, 8, 0, 7},
        {"front stops at 0 on the timeline", 1, Edge::front, -5, 0, 1, 6},
        {"front to nothing", 10, Edge::front, 100, 10 + (5 - 0.02), 2 + (5 - 0.02), 5 - (5 - 0.02)},
        {"end to nothing, the fade-in shortened", 10, Edge::end, -100, 10, 2, 5 + (0.02 - 5)},
        {"end of media not loaded: no upper bound", 10, Edge::end, 1000, 10, 2, 1005},
    };
    for (const Case& c : cases) {
        TrimSetup s(c.at);
        std::vector<Track> expected = s.before;
        expected[0].clips[0] = spanning(s.v, c.start, c.sourceStart, c.duration);
        expected[1].clips[0] = spanning(s.a, c.start, c.sourceStart, c.duration);
        EXPECT_TRUE(editGives(*s.model, s.trim(c.edge, c.delta), expected)) << c.label;
    }
}

TEST(EditorTrims, AFrontTrimDropsActionsItLeavesTooShortAndDraggingBackRestoresThem)
{
    TrackAction long_, short_;
    long_.start = 0.5;
    long_.end = 3;
    short_.start = 0.2;
    short_.end = 1.03;
    TrimSetup s(10, {long_, short_});

    s.model->pushUndo();
    s.model->trimClip(s.v, Edge::front, 1, 0.2);
    const Clip& trimmed = s.model->tracks()[0].clips[0];
    EXPECT_EQ(trimmed.start, 11);
    EXPECT_EQ(trimmed.duration, 4);
    ASSERT_EQ(trimmed.actions.size(), 1u);
    EXPECT_EQ(trimmed.actions[0].id, long_.id);
    EXPECT_EQ(trimmed.actions[0].start, 0);
    EXPECT_EQ(trimmed.actions[0].end, 2);
    EXPECT_EQ(s.model->tracks()[1].clips[0].start, 11);
    EXPECT_EQ(s.model->tracks()[2].clips[0], s.u);

    s.model->trimClip(s.v, Edge::front, 0, 0.2);
    EXPECT_EQ(s.model->tracks(), s.before);
}

TEST(EditorTrims, APartnerWhoseEdgeLiesApartStays)
{
    TrimSetup s(10);
    std::vector<Track> tracks = s.before;
    tracks[1].clips[0].start = 10.02;
    s.model->setTracks(tracks);
    s.model->pushUndo();
    s.model->trimClip(s.v, Edge::front, -1, 0);
    EXPECT_EQ(s.model->tracks()[0].clips[0].start, 9);
    EXPECT_EQ(s.model->tracks()[1].clips[0], tracks[1].clips[0]);
}

TEST(EditorFades, AFadeStaysWithinZeroAndTheOtherFade)
{
    struct Case {
        const char* label;
        Edge edge;
        double delta;
        double fadeIn, fadeOut;
    } cases[] = {
        {"fade-in up to the fade-out", Edge::front, 4, 3, 2},
        {"fade-in before 0", Edge::front, -1, 0, 2},
        {"fade-out dragged left grows", Edge::end, -1, 0, 3},
        {"fade-out dragged right past 0", Edge::end, 5, 0, 0},
        {"fade-out up to the clip", Edge::end, -9, 0, 5},
        {"not a number", Edge::front, std::nan(""), 0, 2},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        Clip clip = clipAt(0, 5);
        clip.fadeOut = 2;
        auto model = editorWith(folder.path, {trackWith("V", {clip})});
        model->setFade(clip, c.edge, c.delta);
        EXPECT_EQ(model->tracks()[0].clips[0].fadeIn, c.fadeIn) << c.label;
        EXPECT_EQ(model->tracks()[0].clips[0].fadeOut, c.fadeOut) << c.label;
    }
}

TEST(EditorActionDrags, EdgesKeepATenthOfASecondAndTheBarStaysInTheClip)
{
    struct Case {
        const char* label;
        int mode;
        double delta;
        double playhead;
        double start, end;
    } cases[] = {
        {"end edge onto its start", 2, -5, 30, 1, 1.1},
        {"end edge stops at the clip's end", 2, 10, 30, 1, 5},
        {"start edge below 0", 1, -5, 30, 0, 2},
        {"start edge onto its end", 1, 5, 30, 1.9, 2},
        {"the bar past the clip's end", 0, 10, 30, 4, 5},
        {"the bar's start onto the playhead", 0, 1.875, 13, 3, 4},
        {"the bar's end onto the playhead", 0, 1.875, 14, 3, 4},
        {"an unknown mode moves the bar", 7, 0.5, 30, 1.5, 2.5},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        TrackAction action;
        action.start = 1;
        action.end = 2;
        Clip clip = clipAt(10, 5);
        clip.actions = {action};
        auto model = editorWith(folder.path, {trackWith("V", {clip})});
        model->clock().setTime(c.playhead);
        model->setSelectedActionID(action.id);
        model->pushUndo();
        model->dragAction(action, c.mode, c.delta, 0.2);
        const TrackAction& dragged = model->tracks()[0].clips[0].actions[0];
        EXPECT_DOUBLE_EQ(dragged.start, c.start) << c.label;
        EXPECT_DOUBLE_EQ(dragged.end, c.end) << c.label;
    }
}

TEST(EditorActionDrags, WithoutASelectedActionNothingMoves)
{
    TempFolder folder;
    TrackAction action;
    action.start = 1;
    action.end = 2;
    Clip clip = clipAt(10, 5);
    clip.actions = {action};
    const std::vector<Track> before = {trackWith("V", {clip})};
    auto model = editorWith(folder.path, before);
    model->dragAction(action, 0, 1, 0.2);
    EXPECT_EQ(model->tracks(), before);
}

} // namespace
