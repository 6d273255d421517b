// New overlays and actions, and property edits of clips, actions and tracks.

#include "EditTestSupport.h"
#include "rendering/GuiTestApplication.h"

#include "Ondexa/rendering/OverlayRenderer.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

using namespace ondexa;
using namespace ondexa::testing;

namespace {

Track screenTrack(std::vector<Clip> clips)
{
    Track track = trackWith("Képernyő", std::move(clips));
    track.fromRecording = true;
    return track;
}

// What a new rectangle overlay clip over [start, end) holds; its ids are new.
Clip newRectangle(double start, double end)
{
    Overlay overlay;
    overlay.id = Uuid();
    overlay.kind = OverlayKind::rectangle;
    overlay.rect = NRect{0.35, 0.35, 0.3, 0.3};
    overlay.fontSize = 0.05;
    overlay.color = RGBA{0.95, 0.2, 0.2, 1};
    overlay.lineWidth = 0.006;
    overlay.background = true;
    overlay.aspect = 16.0 / 9.0;
    Clip clip;
    clip.id = Uuid();
    clip.start = start;
    clip.duration = end - start;
    clip.overlay = overlay;
    return clip;
}

// An overlay clip already on a track.
Clip overlayClip(double start, double end)
{
    Clip clip = newRectangle(start, end);
    clip.id = Uuid::random();
    clip.overlay->id = Uuid::random();
    return clip;
}

Track newEffectsTrack(const std::string& name, std::vector<Clip> clips)
{
    Track track = trackWith(name, std::move(clips), MediaKind::effects);
    track.id = Uuid();
    return track;
}

TEST(EditorOverlays, EachOverlapOpensANewEffectsTrackOnTop)
{
    TempFolder folder;
    const std::vector<Track> screen = {screenTrack({clipAt(0, 30)})};
    auto model = editorWith(folder.path, screen);
    model->clock().setTime(10);

    const auto add = [](EditorModel& m) {
        m.addOverlay(OverlayKind::rectangle);
        // The new clip is selected on its track (undo and redo keep no selection of it).
        const Track& top = m.tracks()[0];
        EXPECT_EQ(m.selectedClips(), std::set<Uuid>{top.clips.at(0).id});
        EXPECT_EQ(m.selectedTrackID(), top.id);
    };
    ASSERT_TRUE(editGives(*model, add, {newEffectsTrack("Effektek 1", {newRectangle(10, 14)}), screen[0]}));
    const Track first = model->tracks()[0];

    EXPECT_TRUE(editGives(*model, add,
                          {newEffectsTrack("Effektek 2", {newRectangle(10, 14)}), first, screen[0]}));
}

TEST(EditorOverlays, ZoomAndPictureInPictureAddNothing)
{
    TempFolder folder;
    auto model = editorWith(folder.path, {screenTrack({clipAt(0, 30)})});
    for (OverlayKind kind : {OverlayKind::zoom, OverlayKind::pip})
        EXPECT_TRUE(editChangesNothing(*model, [kind](EditorModel& m) { m.addOverlay(kind); }));
}

TEST(EditorOverlays, SpanFollowsTheMarksAndTheTrackIsTheFirstFreeOne)
{
    struct Case {
        const char* label;
        std::optional<double> markIn, markOut;
        bool selectSecond;  // the second effects track is the selected track
        double start, end;
        std::size_t row;
    } cases[] = {
        {"playhead, 4 s", std::nullopt, std::nullopt, false, 10, 14, 2},
        {"between the marks", 3, 5, false, 3, 5, 2},
        {"an out mark before the in mark", 6, 5, false, 6, 10, 1},
        {"only an out mark; clips that touch don't overlap", std::nullopt, 12, false, 10, 12, 1},
        {"the selected free track before the first free one", 6, 5, true, 6, 10, 2},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        // Effects tracks: one busy from 0 to 5 and from 12 to 20, one empty.
        const std::vector<Track> before = {trackWith("Hang", {}, MediaKind::audio),
                                           trackWith("E1", {overlayClip(0, 5), overlayClip(12, 20)},
                                                     MediaKind::effects),
                                           trackWith("E2", {}, MediaKind::effects)};
        auto model = editorWith(folder.path, before);
        model->clock().setTime(10);
        model->setMarkIn(c.markIn);
        model->setMarkOut(c.markOut);
        if (c.selectSecond) model->setSelectedTrackID(before[2].id);
        model->addOverlay(OverlayKind::ellipse);

        ASSERT_EQ(model->tracks().size(), before.size()) << c.label;
        const auto& clips = model->tracks()[c.row].clips;
        const auto added = std::find_if(clips.begin(), clips.end(),
                                        [&](const Clip& clip) { return model->selectedClips().count(clip.id); });
        ASSERT_NE(added, clips.end()) << c.label;
        EXPECT_EQ(added->start, c.start) << c.label;
        EXPECT_EQ(added->start + added->duration, c.end) << c.label;
        EXPECT_TRUE(std::is_sorted(clips.begin(), clips.end(),
                                   [](const Clip& a, const Clip& b) { return a.start < b.start; }))
            << c.label;
    }
}

TEST(EditorOverlays, TextIsMeasuredAsTheCompositorDrawsIt)
{
    TempFolder folder;
    auto model = editorWith(folder.path, {screenTrack({clipAt(0, 30)})});
    model->addOverlay(OverlayKind::text);
    Clip clip = model->tracks()[0].clips[0];
    const Overlay& overlay = *clip.overlay;
    EXPECT_EQ(overlay.text, "Szöveg");
    EXPECT_EQ(overlay.alignment, TextAlignment::center);
    EXPECT_EQ(overlay.rect.x, 0.3);
    EXPECT_EQ(overlay.rect.w, 0.4);
    // One line at 50 units plus the padding of 2 × 17.5 units.
    EXPECT_GT(overlay.rect.h, (35 + 40) / 1000.0);
    EXPECT_LT(overlay.rect.h, (35 + 80) / 1000.0);
    EXPECT_EQ(overlay.rect.h, OverlayRenderer::textBoxHeight(overlay, model->aspect()));
    EXPECT_DOUBLE_EQ(overlay.rect.y + overlay.rect.h / 2, 0.5);

    // A long text in a wider box takes fewer lines: it shrinks from the top edge down.
    clip.overlay->text = "Egy hosszabb szöveg, amely több sorba törik, ha a doboz keskeny.";
    model->pushUndo();
    model->updateClip(clip);
    const NRect narrow = model->tracks()[0].clips[0].overlay->rect;
    clip.overlay->rect.w = 0.9;
    model->updateClip(clip);
    const NRect wide = model->tracks()[0].clips[0].overlay->rect;
    EXPECT_LT(wide.h, narrow.h);
    EXPECT_EQ(wide.y, narrow.y);
    EXPECT_EQ(model->undoStack().size(), 2u);  // the edits pushed none of their own
}

TEST(EditorActions, ANewActionSpansOneSecondOfTheClipUnderThePlayhead)
{
    struct Case {
        const char* label;
        double playhead;
        bool added;
        double start, end;
    } cases[] = {
        {"inside the clip", 10.5, true, 0.5, 1.5},
        {"cut by the clip's end", 14.5, true, 4.5, 5},
        {"too short before the clip's end", 14.98, false, 0, 0},
        {"in a gap", 20, false, 0, 0},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        const std::vector<Track> before = {trackWith("Kamera", {clipAt(0, 30)}),
                                           screenTrack({clipAt(0, 9), clipAt(10, 5)})};
        auto model = editorWith(folder.path, before);
        model->clock().setTime(c.playhead);
        if (!c.added) {
            EXPECT_TRUE(editChangesNothing(*model, [](EditorModel& m) { m.addAction(); })) << c.label;
            continue;
        }
        std::vector<Track> expected = before;
        TrackAction action;
        action.id = Uuid();
        action.start = c.start;
        action.end = c.end;
        action.returns = true;
        expected[1].clips[1].actions.push_back(action);
        const auto add = [&](EditorModel& m) {
            m.addAction();
            EXPECT_EQ(m.selectedActionID(), m.tracks()[1].clips[1].actions.at(0).id) << c.label;
            EXPECT_TRUE(m.selectedClips().empty()) << c.label;
            EXPECT_EQ(m.selectedTrackID(), before[1].id) << c.label;
        };
        EXPECT_TRUE(editGives(*model, add, expected)) << c.label;
    }
}

TEST(EditorActions, TheSelectedClipTakesTheActionOverTheMarks)
{
    TempFolder folder;
    const std::vector<Track> before = {trackWith("Kamera", {clipAt(2, 10)}), screenTrack({clipAt(0, 30)})};
    auto model = editorWith(folder.path, before);
    model->setSelectedClips({before[0].clips[0].id});
    model->setMarkIn(1);
    model->setMarkOut(4);
    model->addAction();
    ASSERT_EQ(model->tracks()[0].clips[0].actions.size(), 1u);
    EXPECT_EQ(model->tracks()[0].clips[0].actions[0].start, 0);
    EXPECT_EQ(model->tracks()[0].clips[0].actions[0].end, 2);
    EXPECT_TRUE(model->tracks()[1].clips[0].actions.empty());
}

TEST(EditorProperties, UpdateActionLimitsEachCopyToItsClipAndStopsAtAnUnchangedOne)
{
    TrackAction shared;
    shared.start = 1;
    shared.end = 2;
    struct Case {
        const char* label;
        double start, end;
        double firstStart, firstEnd, secondStart, secondEnd;
    } cases[] = {
        // The second clip (3 s) holds the action too, as after a cut.
        {"both limited to their clip", -1, 100, 0, 5, 0, 3},
        {"unchanged in the first clip: the second is left", 1, 2, 1, 2, 0.5, 1},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        Clip first = clipAt(0, 5), second = clipAt(5, 3);
        first.actions = {shared};
        TrackAction half = shared;
        half.start = 0.5;
        half.end = 1;
        second.actions = {half};
        auto model = editorWith(folder.path, {trackWith("V", {first, second})});
        TrackAction edited = shared;
        edited.start = c.start;
        edited.end = c.end;
        model->updateAction(edited);
        const auto& clips = model->tracks()[0].clips;
        EXPECT_EQ(clips[0].actions[0].start, c.firstStart) << c.label;
        EXPECT_EQ(clips[0].actions[0].end, c.firstEnd) << c.label;
        EXPECT_EQ(clips[1].actions[0].start, c.secondStart) << c.label;
        EXPECT_EQ(clips[1].actions[0].end, c.secondEnd) << c.label;
    }
}

TEST(EditorProperties, UpdateTrackPushesAnUndoStepOnlyForARealChangeWhenAsked)
{
    TempFolder folder;
    const std::vector<Track> before = {trackWith("V", {clipAt(0, 5)}), trackWith("A", {}, MediaKind::audio)};
    auto model = editorWith(folder.path, before);
    model->updateTrack(before[0], true);
    EXPECT_TRUE(model->undoStack().empty());

    Track turned = before[0];
    turned.rotation = 90;
    model->updateTrack(turned, false);
    EXPECT_TRUE(model->undoStack().empty());
    EXPECT_EQ(model->tracks()[0].rotation, 90);

    Track quieter = before[1];
    quieter.volume = 0.5f;
    model->updateTrack(quieter, true);
    ASSERT_EQ(model->undoStack().size(), 1u);
    EXPECT_EQ(model->undoStack()[0].tracks[0].toTrack().rotation, 90);
    EXPECT_EQ(model->tracks()[1].volume, 0.5f);

    Track unknown = quieter;
    unknown.id = Uuid::random();
    unknown.volume = 0.1f;
    model->updateTrack(unknown, true);
    EXPECT_EQ(model->undoStack().size(), 1u);
    EXPECT_EQ(model->tracks()[1].volume, 0.5f);
}

TEST(EditorProperties, ActiveVisualClipsAreThePictureClipsUnderThePlayheadLastTrackFirst)
{
    TempFolder folder;
    Track hidden = trackWith("rejtett", {clipAt(0, 10)});
    hidden.hidden = true;
    const std::vector<Track> tracks = {trackWith("felső", {clipAt(0, 10), clipAt(2, 1)}),
                                       trackWith("véget ért", {clipAt(0, 4)}), hidden,
                                       trackWith("hang", {clipAt(0, 10)}, MediaKind::audio),
                                       trackWith("alsó", {clipAt(3, 2)})};
    auto model = editorWith(folder.path, tracks);
    model->clock().setTime(4);
    std::vector<Uuid> ids;
    for (const auto& placed : model->activeVisualClips()) ids.push_back(placed.clip->id);
    EXPECT_EQ(ids, (std::vector<Uuid>{tracks[4].clips[0].id, tracks[0].clips[0].id}));
}

} // namespace
