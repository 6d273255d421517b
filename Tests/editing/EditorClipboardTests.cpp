// The clipboard, duplicating the selection and the track operations, each
// checked on the whole track list and through undo and redo.

#include "EditTestSupport.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

using namespace ondexa;
using namespace ondexa::testing;

namespace {

Clip pastedCopy(Clip clip, double start)
{
    clip.id = Uuid();
    for (TrackAction& action : clip.actions) action.id = Uuid();
    if (clip.overlay) clip.overlay->id = Uuid();
    clip.start = start;
    return clip;
}

TEST(EditorClipboard, PastesOntoTheSameTrackOrACopyOfItBeforeIt)
{
    TempFolder folder;
    const Uuid l = Uuid::random();
    TrackAction action;
    action.end = 1;
    Clip x = linked(clipAt(5, 2, 3), l);
    x.actions = {action};
    Clip y = clipAt(8, 1);
    y.media.reset();  // takes the track's media when pasted
    const std::vector<Track> before = {trackWith("Képernyő", {x, y}),
                                       trackWith("Hang", {linked(clipAt(5, 2, 3, MediaKind::audio), l)},
                                                 MediaKind::audio)};
    auto model = editorWith(folder.path, before);
    model->setSelectedClips({x.id, y.id});
    model->copySelection();
    model->setSelectedClips({});
    model->copySelection();  // nothing selected: the clipboard stays
    ASSERT_EQ(model->clipboard().size(), 2u);

    Clip yPasted = pastedCopy(y, 23);
    yPasted.media = before[0].media;
    std::vector<Track> first = before;
    first[0].clips = {x, y, pastedCopy(x, 20), yPasted};
    ASSERT_TRUE(editGives(*model, [](EditorModel& m) { m.paste(20); }, first, [](EditorModel& m) {
        EXPECT_EQ(m.selectedClips(), (std::set<Uuid>{m.tracks()[0].clips[2].id, m.tracks()[0].clips[3].id}));
    }));

    // 21–23 overlaps the copy at 20–22: a new track, before the target.
    Track copyTrack = before[0];
    copyTrack.id = Uuid();
    copyTrack.name = "Képernyő (másolat)";
    Clip yAgain = pastedCopy(y, 24);
    yAgain.media = before[0].media;
    copyTrack.clips = {pastedCopy(x, 21), yAgain};
    std::vector<Track> second = {copyTrack, model->tracks()[0], model->tracks()[1]};
    ASSERT_TRUE(editGives(*model, [](EditorModel& m) { m.paste(21); }, second));
    EXPECT_EQ(model->tracks()[0].clips[0].link, l);  // pasted clips keep their link
}

TEST(EditorClipboard, PastesOverlaysWithoutMediaAndSkipsTracksThatAreGone)
{
    TempFolder folder;
    Clip text;
    text.start = 1;
    text.duration = 2;
    text.overlay = Overlay{};
    text.media = MediaRef{"/x", MediaKind::effects, 0};
    const std::vector<Track> before = {trackWith("Effektek 1", {text}, MediaKind::effects),
                                       trackWith("Gone", {clipAt(0, 1)})};
    auto model = editorWith(folder.path, before);
    model->setSelectedClips({text.id, before[1].clips[0].id});
    model->copySelection();
    model->setTracks({before[0]});

    Clip pasted = pastedCopy(text, 10);
    pasted.media.reset();
    std::vector<Track> expected = {before[0]};
    expected[0].clips.push_back(pasted);
    ASSERT_TRUE(editGives(*model, [](EditorModel& m) { m.paste(9); }, expected));

    // Every copied track gone: still one step, and an empty selection.
    model->setTracks({});
    ASSERT_TRUE(editGives(*model, [](EditorModel& m) { m.paste(0); }, {},
                          [](EditorModel& m) { EXPECT_TRUE(m.selectedClips().empty()); }));
}

TEST(EditorClipboard, DuplicatesTheSelectionAfterItsLatestClip)
{
    TempFolder folder;
    const std::vector<Track> before = {trackWith("V", {clipAt(3, 2)}),
                                       trackWith("A", {clipAt(6, 1.5, 0, MediaKind::audio)}, MediaKind::audio)};
    auto model = editorWith(folder.path, before);
    model->setSelectedClips({before[0].clips[0].id, before[1].clips[0].id});
    std::vector<Track> expected = before;
    expected[0].clips.push_back(pastedCopy(before[0].clips[0], 7.5));
    expected[1].clips.push_back(pastedCopy(before[1].clips[0], 10.5));
    ASSERT_TRUE(editGives(*model, [](EditorModel& m) { m.duplicateSelection(); }, expected));

    model->setSelectedClips({});
    EXPECT_TRUE(editChangesNothing(*model, [](EditorModel& m) { m.duplicateSelection(); }));
    EXPECT_TRUE(model->clipboard().empty());

    // A copy that only touches the clip it was made from stays on its track.
    const std::vector<Track> single = {trackWith("V", {clipAt(0, 2), clipAt(4, 1)})};
    auto touching = editorWith(folder.path, single);
    touching->setSelectedClips({single[0].clips[0].id});
    expected = single;
    expected[0].clips = {single[0].clips[0], pastedCopy(single[0].clips[0], 2), single[0].clips[1]};
    EXPECT_TRUE(editGives(*touching, [](EditorModel& m) { m.duplicateSelection(); }, expected));
}

// --- Track operations ---

TEST(EditorTracks, MovesATrackWithinTheListWithoutRebuilding)
{
    TempFolder folder;
    const std::vector<Track> three = {trackWith("a", {}), trackWith("b", {}), trackWith("c", {})};
    struct Case {
        std::size_t index;
        int offset;
        std::vector<std::string> order;  // empty: nothing changes
    } cases[] = {{0, -1, {}}, {2, 1, {}}, {0, 5, {"b", "c", "a"}}, {2, -5, {"c", "a", "b"}}, {1, 1, {"a", "c", "b"}}};
    for (const Case& c : cases) {
        auto model = editorWith(folder.path, three);
        const Uuid id = three[c.index].id;
        if (c.order.empty()) {
            EXPECT_TRUE(editChangesNothing(*model, [&](EditorModel& m) { m.moveTrack(id, c.offset); })) << c.offset;
            continue;
        }
        std::vector<Track> expected;
        for (const std::string& name : c.order)
            expected.push_back(*std::find_if(three.begin(), three.end(), [&](const Track& t) { return t.name == name; }));
        EXPECT_TRUE(editGives(*model, [&](EditorModel& m) { m.moveTrack(id, c.offset); }, expected, [](EditorModel& m) {
            EXPECT_EQ(m.player().currentItem(), nullptr);  // nothing was built
        })) << c.offset;
    }
}

TEST(EditorTracks, DuplicatesATrackBeforeItAndSelectsTheCopy)
{
    TempFolder folder;
    const Uuid l = Uuid::random();
    TrackAction action;
    action.end = 1;
    Clip clip = linked(clipAt(0, 4), l);
    clip.actions = {action};
    const std::vector<Track> before = {trackWith("Képernyő", {clipAt(0, 1)}), trackWith("Kamera", {clip, clipAt(5, 1)})};
    auto model = editorWith(folder.path, before);
    Track copy = before[1];
    copy.id = Uuid();
    copy.name = "Kamera (másolat)";
    for (Clip& c : copy.clips) c = pastedCopy(c, c.start);
    ASSERT_TRUE(editGives(*model, [&](EditorModel& m) { m.duplicateTrack(before[1].id); },
                          {before[0], copy, before[1]},
                          [](EditorModel& m) { EXPECT_EQ(m.selectedTrackID(), m.tracks()[1].id); }));
    EXPECT_EQ(model->tracks()[1].clips[0].link, l);  // links stay as they were
    EXPECT_TRUE(editChangesNothing(*model, [](EditorModel& m) { m.duplicateTrack(Uuid::random()); }));
}

TEST(EditorTracks, DeletesATrackAndForgetsItOnlyWhenSelected)
{
    TempFolder folder;
    const std::vector<Track> before = {trackWith("a", {clipAt(0, 1)}), trackWith("b", {clipAt(0, 2)})};
    auto model = editorWith(folder.path, before);
    EXPECT_TRUE(editChangesNothing(*model, [](EditorModel& m) { m.deleteTrack(Uuid::random()); }));

    model->setSelectedTrackID(before[1].id);
    model->setSelectedClips({before[0].clips[0].id});
    ASSERT_TRUE(editGives(*model, [&](EditorModel& m) { m.deleteTrack(before[0].id); }, {before[1]},
                          [&](EditorModel& m) {
                              EXPECT_EQ(m.selectedTrackID(), before[1].id);
                              EXPECT_EQ(m.selectedClips().size(), 1u);  // left as it is
                          }));
    ASSERT_TRUE(editGives(*model, [&](EditorModel& m) { m.deleteTrack(before[1].id); }, {}));
    EXPECT_FALSE(model->selectedTrackID());
}

} // namespace
