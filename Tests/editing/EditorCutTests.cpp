// Cutting and deleting, removing the marked range and closing gaps: each
// edit is checked on the whole track list, then undone and redone.

#include "EditTestSupport.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

using namespace ondexa;
using namespace ondexa::testing;

namespace {

// The clip as an expected piece: a new id, the given place in time.
Clip piece(const Clip& from, double start, double duration, double sourceStart)
{
    Clip clip = from;
    clip.id = Uuid();
    clip.start = start;
    clip.duration = duration;
    clip.sourceStart = sourceStart;
    return clip;
}

Clip withLink(Clip clip, std::optional<Uuid> link)
{
    clip.link = link;
    return clip;
}

Clip movedTo(Clip clip, double start)
{
    clip.start = start;
    return clip;
}

std::set<Uuid> idsOf(const std::vector<Track>& tracks, std::initializer_list<std::pair<std::size_t, std::size_t>> at)
{
    std::set<Uuid> ids;
    for (auto [t, c] : at) ids.insert(tracks[t].clips[c].id);
    return ids;
}

TEST(EditorSplit, CutsASelectedLinkedPairIntoTwoNewGroupsAndSelectsThePartsAfter)
{
    TempFolder folder;
    const Uuid l = Uuid::random();
    Clip video = linked(clipAt(0, 10, 1), l);
    TrackAction spanning;
    spanning.start = 3;
    spanning.end = 7;
    spanning.scale = 2;
    video.actions = {spanning};
    video.fadeIn = 6;
    video.fadeOut = 6;
    const Clip audio = linked(clipAt(0, 10, 1, MediaKind::audio), l);
    const Clip other = clipAt(0, 10);  // not selected: stays whole
    const std::vector<Track> before = {trackWith("V", {video}), trackWith("A", {audio}, MediaKind::audio),
                                       trackWith("W", {other})};
    auto model = editorWith(folder.path, before);
    model->selectClip(video.id, false, false);
    ASSERT_EQ(model->selectedClips(), (std::set<Uuid>{video.id, audio.id}));
    model->clock().setTime(4);

    Clip videoLeft = withLink(piece(video, 0, 4, 1), link(1));
    videoLeft.fadeIn = 4;
    videoLeft.fadeOut = 0;
    videoLeft.actions[0].end = 4;
    Clip videoRight = withLink(piece(video, 4, 6, 5), link(2));
    videoRight.fadeIn = 0;
    videoRight.actions[0].start = 0;
    videoRight.actions[0].end = 3;
    std::vector<Track> expected = before;
    expected[0].clips = {videoLeft, videoRight};
    expected[1].clips = {withLink(piece(audio, 0, 4, 1), link(1)), withLink(piece(audio, 4, 6, 5), link(2))};
    ASSERT_TRUE(editGives(*model, [](EditorModel& m) { m.splitAtPlayhead(); }, expected, [](EditorModel& m) {
        EXPECT_EQ(m.selectedClips(), idsOf(m.tracks(), {{0, 1}, {1, 1}}));
    }));
}

TEST(EditorSplit, WithNothingSelectedCutsEveryClipUnderThePlayheadHiddenOnesToo)
{
    TempFolder folder;
    Track hidden = trackWith("H", {clipAt(2, 4)});
    hidden.hidden = true;
    const std::vector<Track> before = {trackWith("V", {clipAt(0, 3), clipAt(3, 2)}), hidden,
                                       trackWith("A", {clipAt(3.997, 5)}, MediaKind::audio)};
    auto model = editorWith(folder.path, before);
    model->clock().setTime(3);
    std::vector<Track> expected = before;
    // 0–3 ends at the playhead, 3–5 starts there: neither is under it to cut.
    expected[1].clips = {piece(hidden.clips[0], 2, 1, 0), piece(hidden.clips[0], 3, 3, 1)};
    ASSERT_TRUE(editGives(*model, [](EditorModel& m) { m.splitAtPlayhead(); }, expected));
    EXPECT_TRUE(model->selectedClips().empty());
}

TEST(EditorSplit, TooCloseToAnEdgeChangesNothingAndPushesNoUndoStep)
{
    TempFolder folder;
    const Clip clip = clipAt(2, 10);
    auto model = editorWith(folder.path, {trackWith("V", {clip})});
    for (double t : {2.0, 2.003, 11.997}) {
        model->clock().setTime(t);
        EXPECT_TRUE(editChangesNothing(*model, [](EditorModel& m) { m.splitAtPlayhead(); })) << t;
        model->setSelectedClips({clip.id});
        EXPECT_TRUE(editChangesNothing(*model, [](EditorModel& m) { m.splitAtPlayhead(); })) << t;
        EXPECT_TRUE(editChangesNothing(*model, [](EditorModel& m) { m.trimToPlayhead(true); })) << t;
        model->setSelectedClips({});
    }
    EXPECT_FALSE(model->canUndo());
}

TEST(EditorTrim, KeepsOnePartUnderTheCutClipsIdAndLink)
{
    TempFolder folder;
    const Uuid l = Uuid::random();
    const Clip clip = linked(clipAt(2, 8, 1), l);
    const Clip partner = linked(clipAt(0, 4, 0, MediaKind::audio), l);  // not under the playhead
    const std::vector<Track> before = {trackWith("V", {clip}), trackWith("A", {partner}, MediaKind::audio)};
    struct Case {
        bool front;
        double start, duration, sourceStart;
    } cases[] = {{true, 5, 5, 4}, {false, 2, 3, 1}};
    for (const Case& c : cases) {
        auto model = editorWith(folder.path, before);
        model->clock().setTime(5);
        std::vector<Track> expected = before;
        Clip& kept = expected[0].clips[0];
        kept.start = c.start;
        kept.duration = c.duration;
        kept.sourceStart = c.sourceStart;
        EXPECT_TRUE(editGives(*model, [&](EditorModel& m) { m.trimToPlayhead(c.front); }, expected)) << c.front;
        EXPECT_EQ(model->tracks()[0].clips[0].link, l);
    }
}

TEST(EditorMatrixCut, CutsTheRangeIntoPiecesOfItsOwnAndSelectsThem)
{
    TempFolder folder;
    struct Case {
        const char* label;
        Clip clip;
        double from, to;
        // start, duration, source start of each piece; the selected one by index
        std::vector<std::tuple<double, double, double>> pieces;
        int selected;
    } cases[] = {
        {"across the whole clip", clipAt(0, 10), 3, 6, {{0, 3, 0}, {3, 3, 3}, {6, 4, 6}}, 1},
        {"starting 0.002 s before the range", clipAt(2.998, 5.002), 3, 6, {{2.998, 3.002, 0}, {6, 2, 3.002}}, 0},
        {"ending inside the range", clipAt(0, 5), 3, 6, {{0, 3, 0}, {3, 2, 3}}, 1},
    };
    for (const Case& c : cases) {
        const std::vector<Track> before = {trackWith("V", {c.clip}), trackWith("Other", {clipAt(0, 10)})};
        auto model = editorWith(folder.path, before);
        std::vector<Track> expected = before;
        expected[0].clips.clear();
        for (auto [start, duration, source] : c.pieces) expected[0].clips.push_back(piece(c.clip, start, duration, source));
        auto selection = [&](EditorModel& m) {
            EXPECT_EQ(m.selectedClips(), idsOf(m.tracks(), {{0, std::size_t(c.selected)}})) << c.label;
            EXPECT_EQ(m.selectedTrackID(), before[0].id) << c.label;
        };
        ASSERT_TRUE(editGives(*model, [&](EditorModel& m) { m.cutMatrix(c.from, c.to, {before[0].id}); }, expected,
                              selection))
            << c.label;
    }
}

TEST(EditorMatrixCut, GroupsLinkedPiecesBySideAndSkipsWhatChangesNothing)
{
    TempFolder folder;
    const Uuid l = Uuid::random();
    const Clip v = linked(clipAt(0, 10), l), a = linked(clipAt(0, 10, 0, MediaKind::audio), l);
    const Clip inside = clipAt(4, 1);
    const std::vector<Track> before = {trackWith("V", {v}), trackWith("A", {a}, MediaKind::audio),
                                       trackWith("W", {inside})};
    auto model = editorWith(folder.path, before);

    // Too short, or only a whole unlinked clip: no change, no undo step.
    model->setSelectedClips({v.id});
    EXPECT_TRUE(editChangesNothing(*model, [&](EditorModel& m) { m.cutMatrix(3, 3.004, {before[0].id}); }));
    EXPECT_TRUE(editChangesNothing(*model, [&](EditorModel& m) { m.cutMatrix(3, 6, {before[2].id}); }));
    EXPECT_EQ(model->selectedClips(), std::set<Uuid>{v.id});

    std::vector<Track> expected = before;
    for (int t : {0, 1}) {
        const Clip& c = before[std::size_t(t)].clips[0];
        expected[std::size_t(t)].clips = {withLink(piece(c, 0, 3, 0), link(1)), withLink(piece(c, 3, 3, 3), link(2)),
                                          withLink(piece(c, 6, 4, 6), link(3))};
    }
    ASSERT_TRUE(editGives(*model, [&](EditorModel& m) { m.cutMatrix(3, 6, {before[0].id, before[1].id}); }, expected,
                          [](EditorModel& m) { EXPECT_EQ(m.selectedClips(), idsOf(m.tracks(), {{0, 1}, {1, 1}})); }));
}

TEST(EditorDelete, DeletesSelectedClipsWithOrWithoutClosingUp)
{
    TempFolder folder;
    const Uuid l = Uuid::random();
    const std::vector<Clip> clips = {clipAt(0, 1), clipAt(1, 1), clipAt(2, 1), linked(clipAt(5, 1), l)};
    // Linked to a clip that moves: still stays, ripple works on one track only.
    const Clip partner = linked(clipAt(5, 1, 0, MediaKind::audio), l);
    const std::vector<Track> before = {trackWith("V", clips), trackWith("A", {partner}, MediaKind::audio)};
    struct Case {
        bool ripple;
        double second, fourth;
    } cases[] = {{true, 0, 3}, {false, 1, 5}};
    for (const Case& c : cases) {
        auto model = editorWith(folder.path, before);
        model->setSelectedClips({clips[0].id, clips[2].id});
        std::vector<Track> expected = before;
        expected[0].clips = {movedTo(clips[1], c.second), movedTo(clips[3], c.fourth)};
        EXPECT_TRUE(editGives(*model, [&](EditorModel& m) { m.deleteSelection(c.ripple); }, expected)) << c.ripple;
        EXPECT_TRUE(model->selectedClips().empty());
    }
}

// The later hole is closed first: each shift then sees the starts the
// earlier one has not moved yet.
TEST(EditorDelete, RippleClosesTwoSeparateHoles)
{
    TempFolder folder;
    const std::vector<Clip> clips = {clipAt(0, 1), clipAt(1, 1), clipAt(2, 1), clipAt(3, 1)};
    const std::vector<Track> before = {trackWith("V", clips)};
    auto model = editorWith(folder.path, before);
    model->setSelectedClips({clips[0].id, clips[2].id});
    std::vector<Track> expected = before;
    expected[0].clips = {movedTo(clips[1], 0), movedTo(clips[3], 1)};
    EXPECT_TRUE(editGives(*model, [](EditorModel& m) { m.deleteSelection(true); }, expected));
}

TEST(EditorDelete, RippleMovesOnlyClipsThatStartAtTheRemovedEndOrLater)
{
    TempFolder folder;
    // Clips starting within 0.0001 s before the removed clip's end count as after it.
    const std::vector<Clip> clips = {clipAt(0, 1), clipAt(0.99995, 1), clipAt(0.9998, 1)};
    const std::vector<Track> before = {trackWith("V", clips)};
    auto model = editorWith(folder.path, before);
    model->setSelectedClips({clips[0].id});
    std::vector<Track> expected = before;
    expected[0].clips = {movedTo(clips[1], 0.99995 - 1), clips[2]};
    EXPECT_TRUE(editGives(*model, [](EditorModel& m) { m.deleteSelection(true); }, expected));
}

TEST(EditorDelete, DeletesTheSelectedActionAsOneStep)
{
    TempFolder folder;
    TrackAction kept, gone;
    kept.end = gone.end = 1;
    Clip clip = clipAt(0, 5);
    clip.actions = {kept, gone};
    const std::vector<Track> before = {trackWith("V", {clip})};
    auto model = editorWith(folder.path, before);
    model->selectAction(gone.id);
    std::vector<Track> expected = before;
    expected[0].clips[0].actions = {kept};
    EXPECT_TRUE(editGives(*model, [](EditorModel& m) { m.deleteSelection(false); }, expected));
    EXPECT_FALSE(model->selectedActionID());
}

TEST(EditorDelete, ClosesASelectedGapBeforeTouchingASelectedAction)
{
    TempFolder folder;
    TrackAction action;
    action.end = 1;
    Clip first = clipAt(0, 2);
    first.actions = {action};
    const std::vector<Track> before = {trackWith("V", {first, clipAt(4, 2)})};
    auto model = editorWith(folder.path, before);
    model->setGap(EditorModel::Gap{before[0].id, 2, 4});
    model->setSelectedActionID(action.id);
    std::vector<Track> expected = before;
    expected[0].clips[1].start = 2;
    EXPECT_TRUE(editGives(*model, [](EditorModel& m) { m.deleteSelection(true); }, expected));
    EXPECT_EQ(model->selectedActionID(), action.id);
    EXPECT_FALSE(model->gap());
}

// --- The marked range ---

TEST(EditorRange, RemovesTheMarkedRangeFromEveryTrackAndClosesIt)
{
    TempFolder folder;
    const Clip whole = clipAt(0, 10);
    const std::vector<Clip> three = {clipAt(0, 2), clipAt(2.5, 1), clipAt(6, 2)};
    const std::vector<Track> before = {trackWith("V", {whole}), trackWith("W", three)};
    auto model = editorWith(folder.path, before);
    model->setMarkIn(2.0);
    model->setMarkOut(4.0);
    model->clock().setTime(9);
    std::vector<Track> expected = before;
    expected[0].clips = {piece(whole, 0, 2, 0), piece(whole, 2, 6, 4)};
    expected[1].clips = {three[0], movedTo(three[2], 4)};
    ASSERT_TRUE(editGives(*model, [](EditorModel& m) { m.deleteSelection(false); }, expected));
    EXPECT_FALSE(model->markIn());
    EXPECT_FALSE(model->markOut());
    EXPECT_DOUBLE_EQ(model->clock().time(), 2);
}

TEST(EditorRange, WithASelectionCutsOnlyTheSelectedClipsAndLeavesTheHole)
{
    TempFolder folder;
    const Uuid l = Uuid::random();
    const Clip selected = linked(clipAt(0, 10), l);
    const Clip partner = linked(clipAt(0, 10, 0, MediaKind::audio), l);  // same group, not selected
    const Clip later = clipAt(6, 2);
    const std::vector<Track> before = {trackWith("V", {selected, later}), trackWith("A", {partner}, MediaKind::audio)};
    auto model = editorWith(folder.path, before);
    model->selectClip(selected.id, false, true);
    model->setMarkIn(2.0);
    model->setMarkOut(4.0);
    std::vector<Track> expected = before;
    expected[0].clips = {withLink(piece(selected, 0, 2, 0), link(1)), withLink(piece(selected, 4, 6, 4), link(2)),
                         later};
    ASSERT_TRUE(editGives(*model, [](EditorModel& m) { m.deleteSelection(true); }, expected,
                          [](EditorModel& m) { EXPECT_EQ(m.selectedClips(), idsOf(m.tracks(), {{0, 0}, {0, 1}})); }));
}

TEST(EditorRange, WithASelectionASelectedClipAfterTheRangeStaysWhereItWas)
{
    TempFolder folder;
    const Clip cut = clipAt(0, 10);
    const Clip after = clipAt(6, 2);
    const std::vector<Track> before = {trackWith("V", {cut}), trackWith("W", {after})};
    auto model = editorWith(folder.path, before);
    model->setSelectedClips({cut.id, after.id});
    model->setMarkIn(2.0);
    model->setMarkOut(4.0);
    std::vector<Track> expected = before;
    expected[0].clips = {piece(cut, 0, 2, 0), piece(cut, 4, 6, 4)};
    ASSERT_TRUE(editGives(*model, [](EditorModel& m) { m.deleteSelection(true); }, expected));
}

// Content after the range is kept once, whatever the clip's distance to an
// edge of the range; nothing before it plays twice.
TEST(EditorRange, KeepsEveryPieceOnceNearTheRangesEdges)
{
    TempFolder folder;
    struct Case {
        const char* label;
        Clip clip;
        std::vector<std::tuple<double, double, double>> pieces;  // start, duration, source start
        bool whole;                                              // the clip itself remains
    } cases[] = {
        {"starts 0.003 s before the range", clipAt(1.997, 8.003), {{2, 6, 2.003}}, false},
        {"ends 0.003 s after the range's start", clipAt(0, 2.003), {}, true},
        {"ends 0.003 s after the range's end", clipAt(0, 4.003), {{0, 2, 0}}, false},
        {"starts 0.003 s before the range's end", clipAt(3.997, 6.003), {{2, 6, 4 - 3.997}}, false},
        {"lies inside the range", clipAt(2.5, 1), {}, false},
        {"starts inside and ends after", clipAt(3, 7), {{2, 6, 1}}, false},
    };
    for (const Case& c : cases) {
        const std::vector<Track> before = {trackWith("V", {c.clip})};
        auto model = editorWith(folder.path, before);
        model->setMarkIn(2.0);
        model->setMarkOut(4.0);
        std::vector<Track> expected = before;
        expected[0].clips.clear();
        if (c.whole) expected[0].clips.push_back(c.clip);
        for (auto [start, duration, source] : c.pieces)
            expected[0].clips.push_back(piece(c.clip, start, duration, source));
        EXPECT_TRUE(editGives(*model, [](EditorModel& m) { m.deleteSelection(false); }, expected)) << c.label;
    }
}

// A clip starting too little before the range's end to be cut there keeps
// its content from the end on, and its fade-in loses what the range took.
TEST(EditorRange, APartKeptFromJustBeforeTheRangesEndLosesThatMuchOfItsFadeIn)
{
    TempFolder folder;
    Clip clip = clipAt(3.997, 6.003);
    clip.fadeIn = 1;
    clip.fadeOut = 0.5;
    const std::vector<Track> before = {trackWith("V", {clip})};
    auto model = editorWith(folder.path, before);
    model->setMarkIn(2.0);
    model->setMarkOut(4.0);
    std::vector<Track> expected = before;
    Clip kept = piece(clip, 2, 6, 4 - 3.997);
    kept.fadeIn = 1 - (4 - 3.997);
    expected[0].clips = {kept};
    EXPECT_TRUE(editGives(*model, [](EditorModel& m) { m.deleteSelection(false); }, expected));
}

// --- Gaps ---

TEST(EditorGap, ClosesAGapWithTheClipsLinkedToThoseThatMove)
{
    TempFolder folder;
    const Uuid l = Uuid::random();
    const std::vector<Clip> v = {clipAt(1, 2), linked(clipAt(5, 3), l)};
    const std::vector<Clip> a = {linked(clipAt(5, 3, 0, MediaKind::audio), l), clipAt(9, 1, 0, MediaKind::audio)};
    const std::vector<Clip> b = {linked(clipAt(1, 1, 0, MediaKind::audio), l)};
    const std::vector<Track> before = {trackWith("V", v), trackWith("A", a, MediaKind::audio),
                                       trackWith("B", b, MediaKind::audio)};
    auto model = editorWith(folder.path, before);
    model->selectGap(before[0].id, 4);
    ASSERT_EQ(model->gap(), (EditorModel::Gap{before[0].id, 3, 5}));
    model->clock().setTime(7);

    std::vector<Track> expected = before;
    expected[0].clips[1].start = 3;
    expected[1].clips[0].start = 3;
    expected[2].clips[0].start = 0;  // moved by the whole gap, limited at 0
    ASSERT_TRUE(editGives(*model, [](EditorModel& m) { m.deleteSelection(false); }, expected));
    EXPECT_FALSE(model->gap());
    EXPECT_DOUBLE_EQ(model->clock().time(), 3);
}

TEST(EditorGap, MovesAClipStartingJustBeforeTheGapsEndAndDropsAGapOfAGoneTrack)
{
    TempFolder folder;
    const std::vector<Track> before = {trackWith("V", {clipAt(0, 1), clipAt(2.99995, 1), clipAt(2.9998, 0.0001)})};
    auto model = editorWith(folder.path, before);
    model->setGap(EditorModel::Gap{before[0].id, 1, 3});
    std::vector<Track> expected = before;
    expected[0].clips[1].start -= 2;
    ASSERT_TRUE(editGives(*model, [](EditorModel& m) { m.deleteSelection(false); }, expected));

    model->setGap(EditorModel::Gap{Uuid::random(), 1, 3});
    EXPECT_TRUE(editChangesNothing(*model, [](EditorModel& m) { m.deleteSelection(false); }));
    EXPECT_FALSE(model->gap());
}

} // namespace
