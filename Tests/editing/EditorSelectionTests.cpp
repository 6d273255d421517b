// Selecting clips, gaps, actions and marks, and linking: what the selection
// holds after each call, and that only linking touches the timeline.

#include "EditTestSupport.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

using namespace ondexa;
using namespace ondexa::testing;

namespace {

struct Fixture {
    TempFolder folder;
    Uuid pair = Uuid::random();
    Clip video = linked(clipAt(0, 5), pair);
    Clip audio = linked(clipAt(0, 5, 0, MediaKind::audio), pair);
    Clip lone = clipAt(6, 2);
    std::vector<Track> tracks = {trackWith("V", {video, lone}), trackWith("A", {audio}, MediaKind::audio)};
    std::unique_ptr<EditorModel> model = editorWith(folder.path, tracks);
};

TEST(EditorSelection, ClicksSelectLinkGroupsOrSingleClips)
{
    Fixture f;
    using Ids = std::set<Uuid>;
    struct Step {
        const char* label;
        Uuid id;
        bool extend, single;
        Ids expected;
    };
    const Step steps[] = {
        {"click on the sound", f.audio.id, false, false, {f.video.id, f.audio.id}},
        {"single click on the sound", f.audio.id, false, true, {f.audio.id}},
        {"extend by the lone clip", f.lone.id, true, false, {f.audio.id, f.lone.id}},
        {"extend by the picture adds its group", f.video.id, true, false, {f.video.id, f.audio.id, f.lone.id}},
        {"extending click on a selected clip takes its group", f.audio.id, true, false, {f.lone.id}},
        {"click", f.video.id, false, false, {f.video.id, f.audio.id}},
        {"extending single click takes only that clip", f.video.id, true, true, {f.audio.id}},
    };
    for (const Step& step : steps) {
        f.model->selectClip(step.id, step.extend, step.single);
        EXPECT_EQ(f.model->selectedClips(), step.expected) << step.label;
    }
    EXPECT_EQ(f.model->selectedTrackID(), f.tracks[0].id);

    f.model->selectClip(Uuid::random(), false, false);  // unknown: selected, on no track
    EXPECT_FALSE(f.model->selectedTrackID());
    EXPECT_FALSE(f.model->selectedClip());
}

TEST(EditorSelection, AnExtendingClickThatEmptiesTheSelectionKeepsGapAndAction)
{
    Fixture f;
    f.model->selectClip(f.lone.id, false, false);
    const Uuid action = Uuid::random();
    f.model->setGap(EditorModel::Gap{f.tracks[0].id, 5, 6});
    f.model->setSelectedActionID(action);
    f.model->selectClip(f.lone.id, true, false);
    EXPECT_TRUE(f.model->selectedClips().empty());
    EXPECT_TRUE(f.model->gap());
    EXPECT_FALSE(f.model->selectedActionID());  // a click always drops the action

    f.model->setSelectedActionID(action);
    f.model->selectClip(f.video.id, true, false);
    EXPECT_FALSE(f.model->gap());
}

TEST(EditorSelection, SelectsManyClipsWithTheirGroups)
{
    Fixture f;
    f.model->selectClips({f.lone.id}, false);
    EXPECT_EQ(f.model->selectedClips(), std::set<Uuid>{f.lone.id});
    f.model->selectClips({f.audio.id}, true);
    EXPECT_EQ(f.model->selectedClips(), (std::set<Uuid>{f.video.id, f.audio.id, f.lone.id}));
    EXPECT_EQ(f.model->selectedTrackID(), f.tracks[1].id);
    f.model->selectClips({}, false);
    EXPECT_TRUE(f.model->selectedClips().empty());
    EXPECT_EQ(f.model->selectedTrackID(), f.tracks[1].id);

    f.model->selectAllClips();
    EXPECT_EQ(f.model->selectedClips(), (std::set<Uuid>{f.video.id, f.audio.id, f.lone.id}));
    EXPECT_FALSE(f.model->canUndo());
}

TEST(EditorSelection, SelectsGapsOnlyBetweenClips)
{
    TempFolder folder;
    const Track track = trackWith("V", {clipAt(2, 1), clipAt(3.0005, 1), clipAt(6, 1)});
    struct Case {
        const char* label;
        double t;
        std::optional<std::pair<double, double>> gap;
    } cases[] = {
        {"before the first clip", 1, std::pair{0.0, 2.0}},
        {"between two clips", 5, std::pair{3.0005 + 1, 6.0}},
        {"at a clip's start", 6, std::nullopt},
        {"after the last clip", 8, std::nullopt},
        {"between clips 0.0005 s apart", 3.0002, std::nullopt},
    };
    for (const Case& c : cases) {
        auto model = editorWith(folder.path, {track});
        model->setSelectedClips({track.clips[0].id});
        model->selectGap(track.id, c.t);
        if (!c.gap) {
            EXPECT_FALSE(model->gap()) << c.label;
            EXPECT_EQ(model->selectedClips().size(), 1u) << c.label;
            continue;
        }
        EXPECT_EQ(model->gap(), (EditorModel::Gap{track.id, c.gap->first, c.gap->second})) << c.label;
        EXPECT_TRUE(model->selectedClips().empty()) << c.label;
        EXPECT_EQ(model->selectedTrackID(), track.id) << c.label;
    }
    auto model = editorWith(folder.path, {track});
    model->selectGap(Uuid::random(), 1);
    EXPECT_FALSE(model->gap());
}

TEST(EditorSelection, SelectingAnActionKeepsTheGapAndFindsItsTrack)
{
    TempFolder folder;
    TrackAction action;
    action.end = 1;
    Clip clip = clipAt(0, 5);
    clip.actions = {action};
    const std::vector<Track> tracks = {trackWith("V", {clipAt(0, 1)}), trackWith("W", {clip})};
    auto model = editorWith(folder.path, tracks);
    model->setSelectedClips({tracks[0].clips[0].id});
    model->setGap(EditorModel::Gap{tracks[0].id, 1, 2});
    model->selectAction(action.id);
    EXPECT_TRUE(model->selectedClips().empty());
    EXPECT_TRUE(model->gap());
    EXPECT_EQ(model->selectedActionID(), action.id);
    EXPECT_EQ(model->selectedTrackID(), tracks[1].id);

    model->clearSelection();
    EXPECT_FALSE(model->gap());
    EXPECT_FALSE(model->selectedActionID());
    EXPECT_FALSE(model->selectedTrackID());
}

TEST(EditorSelection, MarksStayOnlyInOrder)
{
    TempFolder folder;
    auto model = editorWith(folder.path, {});
    struct Step {
        bool in;
        double time;
        std::optional<double> markIn, markOut;
    } steps[] = {
        {true, 2, 2.0, std::nullopt},  {false, 4, 2.0, 4.0}, {true, 4, 4.0, std::nullopt},
        {false, 6, 4.0, 6.0},          {false, 3, std::nullopt, 3.0}, {true, 1, 1.0, 3.0},
    };
    for (const Step& step : steps) {
        model->clock().setTime(step.time);
        step.in ? model->setMarkIn() : model->setMarkOut();
        EXPECT_EQ(model->markIn(), step.markIn) << step.time;
        EXPECT_EQ(model->markOut(), step.markOut) << step.time;
    }
}

TEST(EditorSelection, FindsTheSelectedClipAndItsPartnersOnlyForOneWholeGroup)
{
    Fixture f;
    f.model->selectClip(f.video.id, false, false);
    f.model->setSelectedTrackID(f.tracks[1].id);
    ASSERT_TRUE(f.model->selectedClip());
    EXPECT_EQ(f.model->selectedClip()->clip->id, f.audio.id);
    auto partners = f.model->linkedPartners();
    ASSERT_EQ(partners.size(), 1u);
    EXPECT_EQ(partners[0].clip->id, f.video.id);
    EXPECT_EQ(partners[0].track->id, f.tracks[0].id);

    // A selected track without a selected clip: the first selected clip, top down.
    f.model->setSelectedClips({f.audio.id, f.lone.id});
    f.model->setSelectedTrackID(Uuid::random());
    EXPECT_EQ(f.model->selectedClip()->clip->id, f.lone.id);
    EXPECT_TRUE(f.model->linkedPartners().empty());

    f.model->setSelectedClips({f.video.id});
    EXPECT_TRUE(f.model->linkedPartners().empty());
    f.model->setSelectedClips({f.video.id, f.audio.id, f.lone.id});
    EXPECT_TRUE(f.model->linkedPartners().empty());
}

TEST(EditorLinks, LinksTheSelectionAloneAsOneStep)
{
    TempFolder folder;
    const Uuid first = Uuid::random(), second = Uuid::random();
    const std::vector<Track> before = {
        trackWith("V", {linked(clipAt(0, 1), first), linked(clipAt(1, 1), first), linked(clipAt(2, 1), second)}),
        trackWith("A", {linked(clipAt(2, 1, 0, MediaKind::audio), second)}, MediaKind::audio)};
    auto model = editorWith(folder.path, before);

    model->setSelectedClips({before[0].clips[0].id});
    EXPECT_TRUE(editChangesNothing(*model, [](EditorModel& m) { m.linkSelection(); }));

    // Two clips, each linked elsewhere: they form a group of their own and
    // their former partners keep theirs.
    model->setSelectedClips({before[0].clips[1].id, before[0].clips[2].id});
    std::vector<Track> expected = before;
    expected[0].clips[1].link = link(3);
    expected[0].clips[2].link = link(3);
    EXPECT_TRUE(editGives(*model, [](EditorModel& m) { m.linkSelection(); }, expected));
    EXPECT_NE(model->tracks()[0].clips[1].link, first);

    model->setSelectedClips({before[0].clips[0].id, before[1].clips[0].id});
    expected[0].clips[0].link.reset();
    expected[1].clips[0].link.reset();
    EXPECT_TRUE(editGives(*model, [](EditorModel& m) { m.unlinkSelection(); }, expected));
    EXPECT_TRUE(editChangesNothing(*model, [](EditorModel& m) { m.unlinkSelection(); }));
}

} // namespace
