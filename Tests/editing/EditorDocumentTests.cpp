// The document itself: what a new model holds, the persisted view settings,
// the side effects of its published fields, playback and snapshot undo.

#include "EditingFixtures.h"
#include "rendering/GuiTestApplication.h"

#include "Ondexa/model/RecordingInfo.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace ondexa;
using namespace ondexa::testing;
namespace fs = std::filesystem;

namespace {

// A track whose one clip covers [start, start + duration).
Track trackOf(std::string name, double start, double duration, MediaKind kind = MediaKind::video)
{
    Track track;
    track.name = std::move(name);
    track.media = MediaRef{"/nowhere/x.mov", kind, 0};
    Clip clip;
    clip.start = start;
    clip.duration = duration;
    clip.media = track.media;
    track.clips.push_back(clip);
    return track;
}

TEST(EditorDocument, KnowsAPackageByItsExtensionInAnyCase)
{
    TempFolder folder;
    struct Case {
        const char* name;
        bool package;
    } cases[] = {{"x.vdlproj", true}, {"x.VDLPROJ", true}, {"x.VdlProj", true}, {"x.mov", false}, {"vdlproj", false}};
    for (const Case& c : cases) {
        EditorModel model(folder.path / c.name, settingsIn(folder.path));
        EXPECT_EQ(model.documentURL().has_value(), c.package) << c.name;
        if (c.package) {
            EXPECT_EQ(*model.documentURL(), folder.path / c.name);
        }
        EXPECT_EQ(model.url(), folder.path / c.name);
    }
}

TEST(EditorDocument, StartsEmptyAndPaused)
{
    TempFolder folder;
    EditorModel model(folder.path / "x.mov", settingsIn(folder.path));
    EXPECT_EQ(model.player().currentItem(), nullptr);
    EXPECT_FALSE(model.isPlaying());
    EXPECT_EQ(model.clock().time(), 0);
    EXPECT_EQ(model.duration(), 0);
    EXPECT_TRUE(model.tracks().empty());
    EXPECT_EQ(model.frameRate(), 30);
    EXPECT_EQ(model.screenSize(), QSize(1920, 1080));
    EXPECT_DOUBLE_EQ(model.aspect(), 16.0 / 9.0);
    EXPECT_EQ(model.timelineWidth(), 1000);
    EXPECT_FALSE(model.cursorStyle());
    EXPECT_FALSE(model.showClicks());
    EXPECT_FALSE(model.canUndo());
    EXPECT_FALSE(model.canRedo());
    EXPECT_FALSE(model.isLoaded());
}

TEST(EditorDocument, ReadsItsSettingsLenientlyAndWritesThemOnEverySet)
{
    struct Case {
        const char* label;
        QVariant trackHeight, snapping;  // invalid: not stored
        double expectedHeight;
        bool expectedSnapping;
    } cases[] = {
        {"nothing stored", {}, {}, 40, true},
        {"numbers", 55.5, false, 55.5, false},
        {"text that reads as a number", QStringLiteral("72"), QStringLiteral("false"), 72, false},
        {"text", QStringLiteral("tall"), QStringLiteral("maybe"), 40, true},
        {"not a number", QStringLiteral("nan"), 1, 40, true},
        // Held to what the timeline's zoom allows: rows neither vanish nor
        // ask for an image of gigabytes.
        {"below the range", -3, true, 22, true},
        {"zero", 0, true, 22, true},
        {"far above the range", 1e9, true, 160, true},
        {"text far above the range", QStringLiteral("1e9"), true, 160, true},
        {"within the range", 159.5, true, 159.5, true},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        {
            auto settings = settingsIn(folder.path);
            if (c.trackHeight.isValid()) settings->setValue("trackHeight", c.trackHeight);
            if (c.snapping.isValid()) settings->setValue("snapping", c.snapping);
        }
        EditorModel model(folder.path / "x.mov", settingsIn(folder.path));
        EXPECT_EQ(model.trackHeight(), c.expectedHeight) << c.label;
        EXPECT_EQ(model.snapping(), c.expectedSnapping) << c.label;
    }

    TempFolder folder;
    {
        EditorModel model(folder.path / "x.mov", settingsIn(folder.path));
        model.setTrackHeight(55);
        model.setSnapping(false);
    }
    EditorModel next(folder.path / "y.mov", settingsIn(folder.path));
    EXPECT_EQ(next.trackHeight(), 55);
    EXPECT_FALSE(next.snapping());
}

TEST(EditorDocument, ClipSelectionClearsTheActionAndGapOnlyWhenNotEmpty)
{
    TempFolder folder;
    EditorModel model(folder.path / "x.mov", settingsIn(folder.path));
    const Uuid action = Uuid::random();
    const EditorModel::Gap gap{Uuid::random(), 1, 2};

    model.setSelectedActionID(action);
    model.setGap(gap);
    model.setSelectedClips({});
    EXPECT_EQ(model.selectedActionID(), action);
    EXPECT_EQ(model.gap(), gap);

    model.setSelectedClips({Uuid::random()});
    EXPECT_FALSE(model.selectedActionID());
    EXPECT_FALSE(model.gap());
}

TEST(EditorDocument, PointerChangesBeforeAnythingIsBuiltTouchNothing)
{
    TempFolder folder;
    const fs::path movie = folder.path / "x.mov";
    EditorModel model(movie, settingsIn(folder.path));
    model.setShowClicks(true);
    model.setCursorStyle(CursorStyle{});
    model.setCursorStyle(CursorStyle{.enabled = false});
    waitForSaves(model);
    EXPECT_EQ(model.player().currentItem(), nullptr);
    EXPECT_FALSE(fs::exists(RecordingInfo::sideFileURL(movie)));
}

TEST(EditorDocument, ClockTicksNotifyOnlyTheClock)
{
    TempFolder folder;
    EditorModel model(folder.path / "x.mov", settingsIn(folder.path));
    int clockSignals = 0, modelSignals = 0;
    QObject::connect(&model.clock(), &PlayheadClock::timeChanged, [&] { ++clockSignals; });
    for (auto signal : {&EditorModel::tracksChanged, &EditorModel::isPlayingChanged, &EditorModel::markInChanged,
                        &EditorModel::selectedClipsChanged})
        QObject::connect(&model, signal, [&] { ++modelSignals; });
    model.clock().setTime(3);
    model.clock().setTime(3);
    EXPECT_EQ(clockSignals, 2);
    EXPECT_EQ(modelSignals, 0);
}

// --- Playback ---

TEST(EditorPlayback, TogglePlayStartsOverOnlyWithinFiftyMillisecondsOfTheEnd)
{
    struct Case {
        double duration, at, expectedStart;
    } cases[] = {{10, 9.96, 0}, {10, 9.95, 0}, {10, 9.94, 9.94}, {10, 10, 0}, {0, 0, 0}};
    for (const Case& c : cases) {
        TempFolder folder;
        EditorModel model(folder.path / "x.mov", settingsIn(folder.path));
        if (c.duration > 0) model.setTracks({trackOf("a", 0, c.duration)});
        model.clock().setTime(c.at);
        model.togglePlay();
        EXPECT_DOUBLE_EQ(model.clock().time(), c.expectedStart) << c.at;
        EXPECT_TRUE(model.player().isPlaying()) << c.at;
        model.player().pause();
    }
}

TEST(EditorPlayback, StepPausesAndStaysWithinTheEdit)
{
    struct Case {
        double at, delta, expected;
    } cases[] = {{0.4, -1, 0}, {9.5, 1, 10}, {3, 2, 5}, {3, -0.5, 2.5}, {3, std::nan(""), 0}};
    for (const Case& c : cases) {
        TempFolder folder;
        EditorModel model(folder.path / "x.mov", settingsIn(folder.path));
        model.setTracks({trackOf("a", 0, 10)});
        model.player().play();
        model.clock().setTime(c.at);
        model.step(c.delta);
        EXPECT_DOUBLE_EQ(model.clock().time(), c.expected) << c.at << " + " << c.delta;
        EXPECT_FALSE(model.player().isPlaying());
        runUntil([&] { return !model.isPlaying(); });
        EXPECT_FALSE(model.isPlaying());
    }
}

TEST(EditorPlayback, IsPlayingFollowsThePlayer)
{
    TempFolder folder;
    EditorModel model(folder.path / "x.mov", settingsIn(folder.path));
    model.setTracks({trackOf("a", 0, 10)});
    model.togglePlay();
    EXPECT_TRUE(runUntil([&] { return model.isPlaying(); }));
    model.togglePlay();
    EXPECT_TRUE(runUntil([&] { return !model.isPlaying(); }));
}

// --- Undo ---

std::vector<Track> numbered(int n) { return {trackOf(std::to_string(n), 0, 1)}; }

TEST(EditorUndo, KeepsTheLatestTwoHundredSnapshots)
{
    TempFolder folder;
    EditorModel model(folder.path / "x.mov", settingsIn(folder.path));
    for (int n = 1; n <= 201; ++n) {
        model.setTracks(numbered(n));
        model.pushUndo();
    }
    ASSERT_EQ(model.undoStack().size(), 200u);
    EXPECT_EQ(model.undoStack().front().tracks.front().name(), "2");
    EXPECT_EQ(model.undoStack().back().tracks.front().name(), "201");
    EXPECT_TRUE(model.canUndo());
    EXPECT_FALSE(model.canRedo());
}

TEST(EditorUndo, UndoAndRedoSwapWholeTimelinesAndANewEditClearsRedo)
{
    TempFolder folder;
    EditorModel model(folder.path / "x.mov", settingsIn(folder.path));
    const auto first = numbered(1), second = numbered(2), third = numbered(3);
    model.setTracks(first);
    model.commit(second);
    model.commit(third);
    EXPECT_EQ(model.tracks(), third);

    model.undo();
    EXPECT_EQ(model.tracks(), second);
    model.undo();
    EXPECT_EQ(model.tracks(), first);
    EXPECT_FALSE(model.canUndo());
    EXPECT_TRUE(model.canRedo());
    model.undo();  // nothing left: nothing changes
    EXPECT_EQ(model.tracks(), first);

    model.redo();
    EXPECT_EQ(model.tracks(), second);
    EXPECT_TRUE(model.canUndo());
    EXPECT_TRUE(model.canRedo());

    model.commit(numbered(4));
    EXPECT_TRUE(model.redoStack().empty());
    EXPECT_FALSE(model.canRedo());
    model.redo();
    EXPECT_EQ(model.tracks().front().name, "4");
}

TEST(EditorUndo, UndoPrunesTheSelectionToClipsThatStillExist)
{
    TempFolder folder;
    EditorModel model(folder.path / "x.mov", settingsIn(folder.path));
    Track kept = trackOf("kept", 0, 5);
    TrackAction action;
    action.end = 1;
    kept.clips.front().actions.push_back(action);
    const Track added = trackOf("added", 0, 5);

    model.setTracks({kept});
    model.commit({kept, added});
    model.setSelectedClips({added.clips.front().id});
    model.setSelectedActionID(action.id);
    model.setGap(EditorModel::Gap{kept.id, 5, 6});
    model.undo();
    EXPECT_TRUE(model.selectedClips().empty());
    EXPECT_EQ(model.selectedActionID(), action.id);  // its clip is still there
    EXPECT_TRUE(model.gap());

    model.redo();
    model.setSelectedClips({added.clips.front().id, kept.clips.front().id});
    model.undo();
    EXPECT_EQ(model.selectedClips(), std::set<Uuid>{kept.clips.front().id});
    EXPECT_FALSE(model.gap());

    // An undo that removes the action's clip clears the action.
    model.setTracks({added});
    model.commit({kept});
    model.setSelectedClips({});
    model.setSelectedActionID(action.id);
    model.undo();
    EXPECT_FALSE(model.selectedActionID());
}

TEST(EditorUndo, UndoToAShorterEditMovesThePlayheadToItsEnd)
{
    TempFolder folder;
    EditorModel model(folder.path / "x.mov", settingsIn(folder.path));
    model.setTracks({trackOf("a", 0, 8)});
    model.commit({trackOf("a", 0, 20)});
    model.clock().setTime(12);
    model.undo();
    EXPECT_DOUBLE_EQ(model.clock().time(), 8);
    model.redo();
    EXPECT_DOUBLE_EQ(model.clock().time(), 8);
}

} // namespace
