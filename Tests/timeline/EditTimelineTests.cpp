// The timeline panel's view and mouse: zoom fit and playhead follow, the
// left-button drags, the right-button matrix and the wheel, driven by events
// sent to the timeline area at explicit positions, buttons and modifiers.
// Geometry in every case: time t at content x 10 + t·pps, rows from y 24.

#include "Ondexa/timeline/EditTimeline.h"
#include "Ondexa/timeline/TimelineCanvas.h"
#include "Ondexa/timeline/PlayheadOverlay.h"
#include "Ondexa/timeline/TrackHeaders.h"
#include "Ondexa/ui/Theme.h"
#include "Ondexa/ui/WheelDeltas.h"
#include "editing/EditTestSupport.h"
#include "support/TempFolder.h"
#include "support/WheelEvents.h"
#include "support/WidgetTestApplication.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <optional>
#include <vector>

namespace ondexa::testing {
namespace {

class TimelineTest : public ::testing::Test {
protected:
    // A panel whose timeline area is `areaWidth` wide, at zoom `pps` (none: fitted).
    void make(std::vector<Track> tracks, std::optional<double> pps = 100, int areaWidth = 1000)
    {
        timeline.reset();
        // Settings of its own: a row height set by one case must not reach the next.
        const auto place = folder.path / std::to_string(++made_);
        std::filesystem::create_directories(place);
        model = editorWith(place, std::move(tracks));
        if (pps) model->setPixelsPerSecond(*pps);
        timeline = std::make_unique<EditTimeline>(*model);
        timeline->resize(TrackHeaders::columnWidth + EditTimeline::dividerWidth + areaWidth, 300);
        timeline->show();
        ASSERT_EQ(timeline->areaWidth(), areaWidth);
    }

    void mouse(QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons,
               Qt::KeyboardModifiers modifiers = {}, quint64 time = 0)
    {
        QWidget* area = timeline->area();
        QMouseEvent event(type, at, area->mapToGlobal(at), button, buttons, modifiers);
        event.setTimestamp(time);
        QApplication::sendEvent(area, &event);
    }
    void press(QPointF at, Qt::MouseButton button = Qt::LeftButton, Qt::KeyboardModifiers modifiers = {},
               quint64 time = 0)
    {
        mouse(QEvent::MouseButtonPress, at, button, button, modifiers, time);
    }
    void moveTo(QPointF at, Qt::MouseButton held = Qt::LeftButton) { mouse(QEvent::MouseMove, at, Qt::NoButton, held); }
    void release(QPointF at, Qt::MouseButton button = Qt::LeftButton, quint64 time = 0)
    {
        mouse(QEvent::MouseButtonRelease, at, button, Qt::NoButton, {}, time);
    }
    void click(QPointF at, quint64 time)
    {
        press(at, Qt::LeftButton, {}, time);
        release(at, Qt::LeftButton, time + 50);
    }
    // Returns whether the area took the event.
    bool wheel(QPointF at, QPoint pixelDelta, QPoint angleDelta, Qt::KeyboardModifiers modifiers)
    {
        QWidget* area = timeline->area();
        QWheelEvent event(at, area->mapToGlobal(at), pixelDelta, angleDelta, Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        event.setAccepted(false);
        QApplication::sendEvent(area, &event);
        return event.isAccepted();
    }

    double playhead() const { return model->clock().time(); }

    TempFolder folder;
    int made_ = 0;
    std::unique_ptr<EditorModel> model;
    std::unique_ptr<EditTimeline> timeline;
};

// --- View: width, fit, follow ---

TEST_F(TimelineTest, FitsTheZoomOnceWithinItsBounds)
{
    struct Case {
        double duration;
        int areaWidth;
        double timelineWidth;
        double pps;
    } cases[] = {
        {60, 1020, 1000, 980.0 / 60},
        {100000, 1020, 1000, 1000.0 / 10800},  // three hours fill the timeline width at the least
        {50000, 80, 60, 100.0 / 10800},        // and at least 100 points
        {0.001, 1020, 1000, 4000},
    };
    for (const Case& c : cases) {
        make({trackWith("A", {clipAt(0, c.duration)})}, std::nullopt, c.areaWidth);
        EXPECT_DOUBLE_EQ(model->timelineWidth(), c.timelineWidth) << c.duration;
        ASSERT_TRUE(model->pixelsPerSecond()) << c.duration;
        EXPECT_DOUBLE_EQ(*model->pixelsPerSecond(), c.pps) << c.duration;
        EXPECT_DOUBLE_EQ(timeline->pixelsPerSecond(), c.pps) << c.duration;
    }
}

TEST_F(TimelineTest, AnEmptyEditFitsWhenItsFirstClipsArriveAndAnExplicitZoomStays)
{
    make({}, std::nullopt, 1020);
    EXPECT_FALSE(model->pixelsPerSecond());
    // Drawn as 0.1 s long meanwhile; the content never narrower than the area.
    EXPECT_DOUBLE_EQ(timeline->pixelsPerSecond(), 1000 / 0.1);
    EXPECT_GE(timeline->contentWidth(), 1020);

    model->setTracks({trackWith("A", {clipAt(0, 60)})});
    ASSERT_TRUE(model->pixelsPerSecond());
    EXPECT_DOUBLE_EQ(*model->pixelsPerSecond(), 980.0 / 60);

    model->setTracks({trackWith("A", {clipAt(0, 30)})});
    EXPECT_DOUBLE_EQ(*model->pixelsPerSecond(), 980.0 / 60);

    // The width follows the area at once.
    timeline->resize(TrackHeaders::columnWidth + EditTimeline::dividerWidth + 700, 300);
    EXPECT_DOUBLE_EQ(model->timelineWidth(), 680);
}

TEST_F(TimelineTest, FollowsThePlayheadOnlyWhilePlaying)
{
    struct Case {
        bool playing;
        double scrollBefore, time, scrollAfter;
    } cases[] = {
        {true, 0, 7.65, 745},   // past W − 30
        {true, 0, 7.60, 0},     // on the margin
        {false, 0, 7.65, 0},    // paused: never
        {true, 745, 2, 180},    // left of the view: back to 30 points before it
        {true, 745, 0.1, 0},    // never before 0
    };
    for (const Case& c : cases) {
        make({trackWith("A", {clipAt(0, 20)})}, 100, 800);
        timeline->scrollTo(c.scrollBefore);
        if (c.playing) model->player().play();
        model->clock().setTime(c.time);
        EXPECT_EQ(timeline->scrollX(), c.scrollAfter) << c.time << (c.playing ? " playing" : " paused");
        model->player().pause();
    }
}

TEST_F(TimelineTest, ScrollRequestsStayWithinTheContent)
{
    // 9.8 s at 100 pps in 1000 points: content 980 + 20 + 500.
    make({trackWith("A", {clipAt(0, 9.8)})}, 100, 1000);
    EXPECT_DOUBLE_EQ(timeline->contentWidth(), 1500);
    for (const auto& [asked, got] : std::vector<std::pair<double, double>>{{-50, 0}, {120, 120}, {900, 500}}) {
        timeline->scrollTo(asked);
        EXPECT_EQ(timeline->scrollX(), got) << asked;
        EXPECT_EQ(timeline->interaction().view().scrollX, got) << asked;
    }
}

// --- Left button ---

TEST_F(TimelineTest, AClipMovesPastTwoPointsWithOneUndoStep)
{
    // Rightwards and leftwards alike.
    for (const double sign : {1.0, -1.0}) {
        Track a = trackWith("A", {clipAt(2, 3)});
        make({a});
        Track moved = a;
        moved.clips[0].start = 2 + sign * 0.5;
        EXPECT_TRUE(editGives(
            *model,
            [&](EditorModel& m) {
                press({260, 44});
                moveTo({260 + sign * 2, 44});
                EXPECT_EQ(m.tracks(), std::vector<Track>{a});
                EXPECT_TRUE(m.undoStack().empty());
                moveTo({260 + sign * 2.5, 44});
                EXPECT_DOUBLE_EQ(m.tracks()[0].clips[0].start, 2 + sign * 0.025);
                moveTo({260 + sign * 50, 44});
                release({260 + sign * 50, 44});
            },
            {moved}))
            << sign;
        EXPECT_EQ(model->selectedClips(), std::set<Uuid>{a.clips[0].id});
        EXPECT_DOUBLE_EQ(playhead(), 0);  // a drag on a clip never seeks
    }
}

TEST_F(TimelineTest, AClickOnAClipSelectsItAndEditsNothing)
{
    Track a = trackWith("A", {clipAt(2, 3)});
    make({a});
    EXPECT_TRUE(editChangesNothing(*model, [&](EditorModel&) {
        press({260, 44});
        moveTo({261, 50});  // within the thresholds
        release({261, 50});
    }));
    EXPECT_EQ(model->selectedClips(), std::set<Uuid>{a.clips[0].id});
    EXPECT_DOUBLE_EQ(playhead(), 0);
}

TEST_F(TimelineTest, ClipDragsMoveGroupsTrimAndChangeTracks)
{
    const Clip first = clipAt(1, 1);
    const Clip second = clipAt(3, 1);
    const auto shifted = [](Clip c, double start) {
        c.start = start;
        return c;
    };
    Clip trimmed = first;
    trimmed.start = 1.25;
    trimmed.sourceStart = 0.25;
    trimmed.duration = 0.75;
    struct Case {
        const char* what;
        std::set<Uuid> selected;
        Qt::KeyboardModifiers modifiers;
        QPointF from, to;
        std::vector<std::vector<Clip>> expected;  // per track A, B
    } cases[] = {
        {"a plain press on one of two selected clips moves both", {first.id, second.id}, {}, {160, 44}, {210, 44},
         {{shifted(first, 1.5), shifted(second, 3.5)}, {}}},
        {"with shift only that one", {first.id, second.id}, Qt::ShiftModifier, {160, 44}, {210, 44},
         {{shifted(first, 1.5), second}, {}}},
        {"on its edge zone only that one, trimmed", {first.id, second.id}, {}, {115, 44}, {140, 44},
         {{trimmed, second}, {}}},
        {"seven points down onto the next track", {}, {}, {160, 60}, {160, 67}, {{second}, {first}}},
    };
    for (const Case& c : cases) {
        Track a = trackWith("A", {first, second});
        Track b = trackWith("B", {});
        make({a, b});
        model->setSelectedClips(c.selected);
        a.clips = c.expected[0];
        b.clips = c.expected[1];
        EXPECT_TRUE(editGives(
            *model,
            [&](EditorModel&) {
                press(c.from, Qt::LeftButton, c.modifiers);
                moveTo(c.to);
                release(c.to);
            },
            {a, b}))
            << c.what;
    }
}

TEST_F(TimelineTest, AnActionBarMovesSidewaysOnly)
{
    Clip clip = clipAt(0, 10);
    TrackAction action;
    action.start = 1;
    action.end = 3;
    action.scale = 2;
    clip.actions = {action};
    Track a = trackWith("A", {clip});
    make({a});
    Track moved = a;
    moved.clips[0].actions[0].start = 1.5;
    moved.clips[0].actions[0].end = 3.5;
    EXPECT_TRUE(editGives(
        *model,
        [&](EditorModel& m) {
            press({210, 29});
            moveTo({210, 60});
            EXPECT_TRUE(m.undoStack().empty());
            moveTo({260, 29});
            release({260, 29});
        },
        {moved}));
    EXPECT_DOUBLE_EQ(playhead(), 0);  // a moved action does not seek
}

TEST_F(TimelineTest, AltPressesSelectOneLinkedClip)
{
    const Uuid group = link(1);
    Track a = trackWith("A", {linked(clipAt(1, 1), group)});
    Track b = trackWith("B", {linked(clipAt(1, 1, 0, MediaKind::audio), group)}, MediaKind::audio);
    for (const auto& [modifiers, both] :
         std::vector<std::pair<Qt::KeyboardModifiers, bool>>{{{}, true}, {Qt::AltModifier, false}}) {
        make({a, b});
        press({160, 44}, Qt::LeftButton, modifiers);
        release({160, 44});
        const std::set<Uuid> expected =
            both ? std::set<Uuid>{a.clips[0].id, b.clips[0].id} : std::set<Uuid>{a.clips[0].id};
        EXPECT_EQ(model->selectedClips(), expected) << both;
        EXPECT_EQ(model->selectedTrackID(), a.id);
    }
}

TEST_F(TimelineTest, DragsNearAnEdgeScrollTwelvePointsAMove)
{
    // 60 s at 100 pps in 1000 points: content 6000 + 20 + 500.
    make({trackWith("A", {clipAt(0, 60)})});
    press({500, 10});
    moveTo({980, 10});
    EXPECT_EQ(timeline->scrollX(), 12);
    moveTo({985, 10});
    EXPECT_EQ(timeline->scrollX(), 24);
    moveTo({500, 10});
    EXPECT_EQ(timeline->scrollX(), 24);
    moveTo({10, 10});
    EXPECT_EQ(timeline->scrollX(), 12);
    // The playhead under the pointer, in content coordinates before the scroll.
    EXPECT_DOUBLE_EQ(playhead(), 0.24);
    release({10, 10});
    timeline->scrollTo(5515);
    press({500, 10});
    moveTo({990, 10});
    EXPECT_EQ(timeline->scrollX(), 5520);
    moveTo({995, 10});
    EXPECT_EQ(timeline->scrollX(), 5520);
    release({995, 10});
}

TEST_F(TimelineTest, AFadeGripStartsPastOnePoint)
{
    Track a = trackWith("A", {clipAt(0, 4)});
    make({a});
    Track faded = a;
    faded.clips[0].fadeIn = 1.01;
    EXPECT_TRUE(editGives(
        *model,
        [&](EditorModel& m) {
            press({10, 30});
            moveTo({11, 30});
            EXPECT_TRUE(m.undoStack().empty());
            EXPECT_EQ(m.tracks(), std::vector<Track>{a});
            moveTo({111, 30});
            release({111, 30});
        },
        {faded}));
}

TEST_F(TimelineTest, RubberBandsSelectOrSeek)
{
    struct Case {
        QPointF from, to;
        bool selects;
        double playhead;
    } cases[] = {
        {{290, 30}, {130, 75}, true, 0},        // A [1, 2] and B [1.5, 2.5]
        {{290, 30}, {293, 33}, false, 2.83},    // 3 × 3 is a click
        {{290, 30}, {293, 34}, true, 0},        // 3 × 4 selects (nothing here)
    };
    for (const Case& c : cases) {
        Track a = trackWith("A", {clipAt(1, 1), clipAt(3, 1)});
        Track b = trackWith("B", {clipAt(1.5, 1)});
        make({a, b});
        model->setSelectedClips({a.clips[1].id});
        EXPECT_TRUE(editChangesNothing(*model, [&](EditorModel&) {
            press(c.from);
            moveTo(c.to);
            release(c.to);
        }));
        const std::set<Uuid> band =
            c.to.y() > 64 ? std::set<Uuid>{a.clips[0].id, b.clips[0].id} : std::set<Uuid>{};
        EXPECT_EQ(model->selectedClips(), band) << c.to.x();
        EXPECT_DOUBLE_EQ(playhead(), c.playhead) << c.to.x();
        EXPECT_FALSE(timeline->interaction().marquee());
    }
}

TEST_F(TimelineTest, ARubberBandThatOnlyTouchesAClipInTimeLeavesItOut)
{
    // Row A only: from A's first clip's end, and up to its second clip's start.
    for (const auto& [from, to] : std::vector<std::pair<QPointF, QPointF>>{{{350, 30}, {210, 50}},
                                                                          {{250, 30}, {410, 50}}}) {
        Track a = trackWith("A", {clipAt(0, 2), clipAt(4, 2)});
        make({a, trackWith("B", {clipAt(0, 6)})});
        press(from);
        moveTo(to);
        release(to);
        EXPECT_TRUE(model->selectedClips().empty()) << to.x();
    }
}

TEST_F(TimelineTest, ADoubleClickSelectsTheGapAndATripleClickSeeks)
{
    Track a = trackWith("A", {clipAt(1, 1), clipAt(3, 1)});
    make({a});
    click({260, 30}, 1000);
    EXPECT_DOUBLE_EQ(playhead(), 2.5);
    EXPECT_FALSE(model->gap());
    model->clock().setTime(0);

    click({260, 30}, 1150);
    ASSERT_TRUE(model->gap());
    EXPECT_EQ(*model->gap(), (EditorModel::Gap{a.id, 2, 3}));
    EXPECT_DOUBLE_EQ(playhead(), 0);

    click({260, 30}, 1300);
    EXPECT_DOUBLE_EQ(playhead(), 2.5);

    // Too late for a double click: a seek again.
    model->clock().setTime(0);
    click({260, 30}, 5000);
    EXPECT_DOUBLE_EQ(playhead(), 2.5);
}

TEST_F(TimelineTest, AClickOnAnActionShowsItsGoal)
{
    for (const auto& [returns, expected] : std::vector<std::pair<bool, double>>{{true, 12}, {false, 12.98}}) {
        Clip clip = clipAt(10, 10);
        TrackAction action;
        action.start = 1;
        action.end = 3;
        action.scale = 1.5;
        action.returns = returns;
        clip.actions = {action};
        make({trackWith("A", {clip})}, 100, 1400);
        EXPECT_TRUE(editChangesNothing(*model, [&](EditorModel&) {
            press({1210, 29});
            release({1210, 29});
        }));
        EXPECT_EQ(model->selectedActionID(), action.id);
        EXPECT_DOUBLE_EQ(playhead(), expected) << returns;
    }
}

TEST_F(TimelineTest, ScrubbingInTheRulerFollowsThePointerWithinTheEdit)
{
    make({trackWith("A", {clipAt(0, 5)})});
    press({110, 10});
    EXPECT_DOUBLE_EQ(playhead(), 1);
    moveTo({-90, 10});
    EXPECT_DOUBLE_EQ(playhead(), 0);
    moveTo({810, 10});
    EXPECT_DOUBLE_EQ(playhead(), 5);
    release({310, 10});
    EXPECT_DOUBLE_EQ(playhead(), 3);
}

// --- Right button and the matrix ---

TEST_F(TimelineTest, ARightDragBuildsTheMatrixAndALeftPressCutsIt)
{
    const std::vector<Track> tracks = {trackWith("A", {clipAt(0, 5)}), trackWith("B", {clipAt(0, 5)}),
                                       trackWith("C", {clipAt(0, 5)})};
    const std::set<Uuid> ab = {tracks[0].id, tracks[1].id};

    // What the model's own cut gives, new ids left open.
    TempFolder otherFolder;
    auto reference = editorWith(otherFolder.path, tracks);
    reference->cutMatrix(1.5, 3.5, ab);
    std::vector<Track> expected = reference->tracks();
    std::set<Uuid> old;
    for (const Track& t : tracks)
        for (const Clip& c : t.clips) old.insert(c.id);
    for (Track& t : expected)
        for (Clip& c : t.clips)
            if (!old.count(c.id)) c.id = Uuid();

    make(tracks);
    press({160, 50}, Qt::RightButton);
    moveTo({360, 100}, Qt::RightButton);
    release({360, 100}, Qt::RightButton);
    ASSERT_TRUE(timeline->interaction().matrix());
    EXPECT_EQ(*timeline->interaction().matrix(), QRectF(160, 24, 200, 80));
    EXPECT_EQ(timeline->canvas()->matrix(), timeline->interaction().matrix());
    ASSERT_TRUE(model->matrixSelection());
    EXPECT_EQ(*model->matrixSelection(), (EditorModel::MatrixSelection{1.5, 3.5, ab}));
    EXPECT_DOUBLE_EQ(playhead(), 3.5);

    EXPECT_TRUE(editGives(
        *model,
        [&](EditorModel&) {
            press({200, 60});
            release({200, 60});
        },
        expected));
    EXPECT_FALSE(timeline->interaction().matrix());
    EXPECT_FALSE(timeline->canvas()->matrix());
    EXPECT_FALSE(model->matrixSelection());
}

TEST_F(TimelineTest, AMatrixCutThatOnlyTouchesAClipInTimeLeavesItWholeAndUnselected)
{
    // 2 s to 4 s over both rows: A's clips end and start at its edges.
    const std::vector<Track> tracks = {trackWith("A", {clipAt(0, 2), clipAt(4, 2)}), trackWith("B", {clipAt(0, 6)})};
    make(tracks);
    press({210, 30}, Qt::RightButton);
    moveTo({410, 100}, Qt::RightButton);
    release({410, 100}, Qt::RightButton);
    ASSERT_TRUE(model->matrixSelection());
    EXPECT_EQ(*model->matrixSelection(), (EditorModel::MatrixSelection{2, 4, {tracks[0].id, tracks[1].id}}));

    press({300, 60});
    release({300, 60});
    EXPECT_EQ(model->tracks()[0], tracks[0]);
    ASSERT_EQ(model->tracks()[1].clips.size(), 3u);
    EXPECT_EQ(model->selectedClips(), std::set<Uuid>{model->tracks()[1].clips[1].id});
}

TEST_F(TimelineTest, RightClicksAndNarrowMatricesLeaveNoSelection)
{
    make({trackWith("A", {clipAt(0, 5)})});
    press({160, 50}, Qt::RightButton);
    moveTo({360, 50}, Qt::RightButton);
    ASSERT_TRUE(model->matrixSelection());
    // A new right press clears it at once; a drag under 3 points leaves none.
    press({200, 50}, Qt::RightButton);
    EXPECT_FALSE(model->matrixSelection());
    moveTo({202, 50}, Qt::RightButton);
    release({202, 50}, Qt::RightButton);
    EXPECT_FALSE(timeline->interaction().matrix());
    EXPECT_FALSE(model->matrixSelection());
}

TEST_F(TimelineTest, AMatrixOverNoTracksSelectsAndCutsNothing)
{
    // Tracks deleted under a matrix, and a timeline that never had any.
    for (const bool hadTracks : {true, false}) {
        make(hadTracks ? std::vector<Track>{trackWith("A", {clipAt(0, 5)})} : std::vector<Track>{});
        press({160, 50}, Qt::RightButton);
        moveTo({360, 50}, Qt::RightButton);
        release({360, 50}, Qt::RightButton);
        EXPECT_EQ(model->matrixSelection().has_value(), hadTracks);
        if (hadTracks) model->setTracks({});
        EXPECT_TRUE(editChangesNothing(*model, [&](EditorModel&) {
            press({200, 40});
            release({200, 40});
        }));
        EXPECT_FALSE(timeline->interaction().matrix());
        EXPECT_FALSE(model->matrixSelection());
    }
}

TEST_F(TimelineTest, AMatrixEdgeDragSnapsAndKeepsFourPoints)
{
    make({trackWith("A", {clipAt(0, 5)}), trackWith("B", {clipAt(2.04, 3)})});
    press({160, 50}, Qt::RightButton);
    moveTo({360, 100}, Qt::RightButton);
    release({360, 100}, Qt::RightButton);
    // The left edge onto B's start (within 8 points), then the right edge past it.
    press({160, 64});
    moveTo({210, 64});
    EXPECT_EQ(*timeline->interaction().matrix(), QRectF(214, 24, 146, 80));
    EXPECT_DOUBLE_EQ(playhead(), 2.04);
    release({210, 64});
    press({362, 64});
    moveTo({100, 64});
    EXPECT_EQ(*timeline->interaction().matrix(), QRectF(214, 24, 4, 80));
    release({100, 64});
    EXPECT_TRUE(model->undoStack().empty());
}

// --- Wheel ---

TEST_F(TimelineTest, TheWheelZoomsSetsTheRowHeightOrScrolls)
{
    struct Case {
        const char* what;
        double pps, scrollBefore;
        Qt::KeyboardModifiers modifiers;
        QPoint pixelDelta, angleDelta;
        double x;
        double ppsAfter, scrollAfter, heightAfter;
    } cases[] = {
        {"zoom", 50, 0, Qt::AltModifier, {}, {0, 120}, 510, 55, 50, 40},
        {"zoom, axes swapped", 50, 0, Qt::AltModifier, {}, {120, 0}, 510, 55, 50, 40},
        {"zoom out to the least", 50, 0, Qt::AltModifier, {}, {0, -1200}, 510, 980.0 / 10800, 0, 40},
        {"height", 100, 0, Qt::ControlModifier, {}, {0, 240}, 300, 100, 0, 48},
        {"height at least", 100, 0, Qt::ControlModifier, {}, {0, -1200}, 300, 100, 0, 22},
        {"precise horizontal", 100, 100, {}, {-30, 0}, {-90, 0}, 300, 100, 130, 40},
        {"notch horizontal", 100, 100, {}, {}, {120, 0}, 300, 100, 88, 40},
        {"shift vertical", 100, 100, Qt::ShiftModifier, {}, {0, -240}, 300, 100, 124, 40},
        {"plain vertical", 100, 100, {}, {}, {0, 120}, 300, 100, 100, 40},
    };
    for (const Case& c : cases) {
        make({trackWith("A", {clipAt(0, 9.8)})}, c.pps, 1000);
        timeline->scrollTo(c.scrollBefore);
        ASSERT_EQ(timeline->scrollX(), c.scrollBefore) << c.what;
        EXPECT_TRUE(wheel({c.x, 50}, c.pixelDelta, c.angleDelta, c.modifiers)) << c.what;
        EXPECT_DOUBLE_EQ(*model->pixelsPerSecond(), c.ppsAfter) << c.what;
        EXPECT_EQ(timeline->scrollX(), c.scrollAfter) << c.what;
        EXPECT_DOUBLE_EQ(model->trackHeight(), c.heightAfter) << c.what;
    }
}

TEST_F(TimelineTest, ATouchpadToldFromAWheelScrollsByItsPixels)
{
    // 15 units a step, as a touchpad's valuator under the libinput driver.
    setSmoothScrolling([](qint64, QPoint angle) -> std::optional<QPointF> { return QPointF(angle) * 15 / 120; });
    make({trackWith("A", {clipAt(0, 9.8)})}, 100, 1000);
    timeline->scrollTo(100);
    EXPECT_TRUE(wheel({300, 50}, {}, {-80, 0}, {}));
    EXPECT_EQ(timeline->scrollX(), 110) << "the fingers' 10 pixels, not two thirds of a 12-point notch";
    EXPECT_TRUE(wheel({510, 50}, {}, {0, 80}, Qt::AltModifier));
    EXPECT_DOUBLE_EQ(*model->pixelsPerSecond(), 100 * (1 + 10 / 150.0)) << "a precise zoom";
    setSmoothScrolling({});
}

TEST_F(TimelineTest, RowsUnderAPoint)
{
    make({trackWith("A", {}), trackWith("B", {})});
    const TimelineInteraction& i = timeline->interaction();
    struct Case {
        double y;
        int index;
        std::optional<int> row;
    } cases[] = {{0, 0, std::nullopt}, {23.9, 0, std::nullopt}, {24, 0, 0}, {63.9, 0, 0},
                 {64, 1, 1},           {103.9, 1, 1},           {104, 1, std::nullopt}};
    for (const Case& c : cases) {
        EXPECT_EQ(i.rowIndex(c.y), c.index) << c.y;
        EXPECT_EQ(i.row(c.y), c.row) << c.y;
    }
    make({});
    EXPECT_EQ(timeline->interaction().rowIndex(50), 0);
    EXPECT_EQ(timeline->interaction().row(50), std::nullopt);
    EXPECT_EQ(timeline->panelHeight(), 30);
}

// --- Rows: vertical scrolling ---

class ManyRowsTest : public TimelineTest {
protected:
    // Twenty tracks of one clip each (1 s to 3 s, the first to 21 s), in a panel 300 points high.
    void makeTwenty()
    {
        std::vector<Track> tracks;
        for (int i = 1; i <= 20; ++i) tracks.push_back(trackWith("Sáv " + std::to_string(i), {clipAt(1, 2)}));
        tracks[0].clips[0].duration = 20;  // wide enough to scroll sideways
        make(tracks);
        QCoreApplication::sendPostedEvents();  // the row scroll bar takes its place
        height = timeline->area()->height();
        last = 24 + 20 * 40 + 6 - height;
    }
    const Track& track(int i) const { return model->tracks()[std::size_t(i)]; }
    // The index of the header row at a point of the column, or -1.
    int headerAt(QPoint at) const
    {
        for (QWidget* w = timeline->headers()->childAt(at); w; w = w->parentWidget())
            for (int i = 0; i < 20; ++i)
                if (w == timeline->headers()->row(track(i).id)) return i;
        return -1;
    }
    static void clickOn(QWidget* widget, QPointF at)
    {
        for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent event(type, at, widget->mapToGlobal(at), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, {});
            QApplication::sendEvent(widget, &event);
        }
    }
    double rows() const { return timeline->scrollY(); }
    // The visible y of the middle of row i.
    double rowY(int i) const { return 24 + 40 * i + 20 - rows(); }

    double height = 0;
    double last = 0;
};

TEST_F(ManyRowsTest, EveryRowAndItsHeaderCanBeBroughtIntoViewAndEdited)
{
    makeTwenty();
    ASSERT_GT(last, 0);
    EXPECT_TRUE(timeline->rowScrollBar()->isVisible());
    EXPECT_EQ(timeline->rowScrollBar()->maximum(), last);
    // Never past the last row, nor above the first.
    timeline->scrollRowsTo(1e6);
    EXPECT_EQ(rows(), last);
    timeline->scrollRowsTo(-5);
    EXPECT_EQ(rows(), 0);

    TrackHeaders* headers = timeline->headers();
    for (const double to : {0.0, 300.0, last}) {
        timeline->scrollRowsTo(to);
        EXPECT_EQ(timeline->canvas()->scrollY(), to);
        // Each header level with its row, the ruler's spacer over those scrolled away.
        for (int i = 0; i < 20; ++i)
            EXPECT_EQ(headers->row(track(i).id)->y(), 24 + 40 * i - int(to)) << i << " at " << to;
        EXPECT_EQ(headerAt(QPoint(100, 12)), -1) << to;
        EXPECT_EQ(headerAt(QPoint(100, 30)), int((30 - 24 + to) / 40)) << to;
    }

    // Track 20 at the end: its clip is clicked, its header tapped, its eye switched.
    ASSERT_EQ(rows(), last);
    EXPECT_LE(rowY(19) + 20, height);
    press({200, rowY(19)}, Qt::LeftButton, {}, 1000);
    release({200, rowY(19)}, Qt::LeftButton, 1050);
    EXPECT_EQ(model->selectedClips(), std::set<Uuid>{track(19).clips[0].id});

    QWidget* header = headers->row(track(19).id);
    QAbstractButton* eye = nullptr;
    for (auto* button : header->findChildren<QAbstractButton*>())
        if (button->isVisibleTo(header) && button->toolTip() == "Elrejtés") eye = button;
    ASSERT_NE(eye, nullptr);
    const QPoint at = eye->mapTo(headers, eye->rect().center());
    EXPECT_LT(at.y(), headers->height());
    EXPECT_EQ(headers->childAt(at), eye);  // in view and not covered
    clickOn(eye, eye->rect().center());
    EXPECT_TRUE(track(19).hidden);
    clickOn(header, QPointF(100, 5));
    EXPECT_EQ(model->selectedTrackID(), track(19).id);
    EXPECT_TRUE(model->selectedClips().empty());
}

TEST_F(ManyRowsTest, APressOnTheRulerScrubsWhateverRowLiesUnderIt)
{
    makeTwenty();
    timeline->scrollRowsTo(last);
    model->selectClip(track(5).clips[0].id, false, true);
    press({200, 10});
    release({200, 10});
    EXPECT_DOUBLE_EQ(playhead(), 1.9);
    EXPECT_EQ(model->selectedClips(), std::set<Uuid>{track(5).clips[0].id});
    EXPECT_EQ(rows(), last);
}

TEST_F(ManyRowsTest, TheWheelScrollsRowsWhereItMeansNothingElse)
{
    struct Case {
        const char* what;
        Qt::KeyboardModifiers modifiers;
        QPoint pixelDelta, angleDelta;
        double rowsAfter, scrollXAfter;
    } cases[] = {
        {"notch down: one row", {}, {}, {0, -120}, 140, 100},
        {"two notches up", {}, {}, {0, 240}, 20, 100},
        {"precise", {}, {0, -30}, {0, -90}, 130, 100},
        {"diagonal swipe: both", {}, {-20, -30}, {-60, -90}, 130, 120},
        {"shift: sideways only", Qt::ShiftModifier, {}, {0, -120}, 100, 112},
        {"alt: zoom only", Qt::AltModifier, {}, {0, 120}, 100, 100},
        {"ctrl: row height only", Qt::ControlModifier, {}, {0, 120}, 100, 100},
    };
    for (const Case& c : cases) {
        makeTwenty();
        timeline->scrollTo(100);
        timeline->scrollRowsTo(100);
        EXPECT_TRUE(wheel({300, 150}, c.pixelDelta, c.angleDelta, c.modifiers)) << c.what;
        EXPECT_EQ(rows(), c.rowsAfter) << c.what;
        if (!(c.modifiers & Qt::AltModifier)) {
            EXPECT_EQ(timeline->scrollX(), c.scrollXAfter) << c.what;
        }
    }
    // Over the headers too; never past the ends.
    makeTwenty();
    QWidget* header = timeline->headers()->row(track(1).id);
    QWheelEvent event(QPointF(100, 20), header->mapToGlobal(QPointF(100, 20)), {}, {0, -1200}, Qt::NoButton, {},
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(header, &event);
    EXPECT_EQ(rows(), 400);
    for (int i = 0; i < 3; ++i) wheel({300, 150}, {}, {0, -2400}, {});
    EXPECT_EQ(rows(), last);
}

TEST_F(ManyRowsTest, DragsNearTheTopOrBottomScrollTheRows)
{
    makeTwenty();
    // A clip carried down: the rows follow 12 points a move, the clip to the row under the pointer.
    const Uuid clip = track(2).clips[0].id;
    press({200, rowY(2)});
    EXPECT_EQ(rows(), 0);
    moveTo({200, height - 5});
    EXPECT_EQ(rows(), 12);
    moveTo({200, height - 4});
    moveTo({600, height + 30});  // below the area: the grab still reports
    EXPECT_EQ(rows(), 36);
    release({600, height + 30});
    // Placed by the last move, read before its scroll.
    const int landed = int((height + 30 + 24 - 24) / 40);
    ASSERT_EQ(track(landed).clips.size(), 2u);
    EXPECT_EQ(track(landed).clips[1].id, clip);
    EXPECT_DOUBLE_EQ(track(landed).clips[1].start, 5);
    EXPECT_TRUE(track(2).clips.empty());

    // A press near the edge alone leaves the rows; a rubber band up to the top scrolls back.
    press({700, height - 3});
    release({700, height - 3});
    EXPECT_EQ(rows(), 36);
    press({700, 100});
    moveTo({690, 30});
    moveTo({680, 28});
    EXPECT_EQ(rows(), 12);
    release({680, 28});
    // A scrub never moves the rows; a right drag for the matrix does.
    press({300, 5});
    moveTo({310, height - 2});
    release({310, height - 2});
    EXPECT_EQ(rows(), 12);
    press({150, 60}, Qt::RightButton);
    moveTo({250, height - 2}, Qt::RightButton);
    moveTo({260, height - 2}, Qt::RightButton);
    release({260, height - 2}, Qt::RightButton);
    EXPECT_EQ(rows(), 36);
}

TEST_F(ManyRowsTest, RowsScrolledUnderTheRulerDoNotShowThroughIt)
{
    makeTwenty();
    model->selectClip(track(0).clips[0].id, false, true);
    const auto picture = [&] { return timeline->canvas()->grab().toImage(); };
    const QImage top = picture();
    timeline->scrollRowsTo(30);
    const QImage scrolled = picture();
    EXPECT_EQ(top.copy(0, 0, top.width(), 24), scrolled.copy(0, 0, top.width(), 24));
    // Below the ruler everything moved up by 30 points.
    EXPECT_EQ(top.copy(0, 64, top.width(), 100), scrolled.copy(0, 34, top.width(), 100));
    saveScreenshot(*timeline, "edit-timeline-rows-scrolled");
}

TEST_F(TimelineTest, TheScrollBarStripTakesTheWheelAndRightButtonAsTheArea)
{
    make({trackWith("A", {clipAt(0, 9.8)}), trackWith("B", {clipAt(1, 5)})}, 100, 1000);
    QScrollBar* bar = timeline->scrollBar();
    EXPECT_EQ(bar->contextMenuPolicy(), Qt::PreventContextMenu) << "no menu of the scroll bar's own";
    timeline->scrollTo(100);
    ASSERT_EQ(timeline->scrollX(), 100);

    EXPECT_TRUE(turnWheel(*bar, {0, -120}));
    EXPECT_EQ(timeline->scrollX(), 100) << "a plain vertical wheel means the rows, which fit";
    EXPECT_TRUE(turnWheel(*bar, {-120, 0}));
    EXPECT_EQ(timeline->scrollX(), 112) << "a horizontal wheel scrolls as over the rows";
    // The X server hands a wheel turned with Alt on as a sideways one.
    EXPECT_TRUE(turnWheel(*bar, {120, 0}, Qt::AltModifier));
    EXPECT_DOUBLE_EQ(*model->pixelsPerSecond(), 110) << "Alt and the wheel zoom";

    // A right drag along the strip builds the matrix down to the last row.
    model->setPixelsPerSecond(100);
    timeline->scrollTo(0);
    const auto send = [&](QEvent::Type type, double x, Qt::MouseButton button, Qt::MouseButtons buttons) {
        const QPointF at(x, bar->height() / 2.0);
        QMouseEvent event(type, at, bar->mapToGlobal(at), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(bar, &event);
    };
    send(QEvent::MouseButtonPress, 160, Qt::RightButton, Qt::RightButton);
    send(QEvent::MouseMove, 420, Qt::NoButton, Qt::RightButton);
    send(QEvent::MouseButtonRelease, 420, Qt::RightButton, Qt::NoButton);
    ASSERT_TRUE(timeline->interaction().matrix());
    EXPECT_EQ(timeline->interaction().matrix()->bottom(), 24 + 2 * model->trackHeight());
    EXPECT_NEAR(timeline->interaction().matrix()->left(), 160, 10);
    EXPECT_NEAR(timeline->interaction().matrix()->right(), 420, 10);
    EXPECT_EQ(timeline->scrollX(), 0) << "the scroll bar itself did not move";
}

TEST_F(TimelineTest, TheMatrixHandleLiesInFrontOfThePlayhead)
{
    make({trackWith("Képernyő", {clipAt(0.5, 7)}), trackWith("Kamera", {clipAt(1, 5)})}, 100, 900);
    press({160, 50}, Qt::RightButton);
    moveTo({420, 100}, Qt::RightButton);
    release({420, 100}, Qt::RightButton);
    ASSERT_TRUE(timeline->interaction().matrix());
    const QRectF matrix = *timeline->interaction().matrix();
    // After the drag the playhead stands on the edge the pointer let go of.
    const int line = timeline->playhead()->lineX();
    ASSERT_LE(std::abs(line + 1 - matrix.right()), 1.0);

    const QImage image = timeline->area()->grab().toImage();
    const QColor centre = image.pixelColor(int(std::lround(matrix.right())), int(matrix.center().y()));
    const QColor orange = Theme::systemOrange();
    const int off = std::abs(centre.red() - orange.red()) + std::abs(centre.green() - orange.green()) +
                    std::abs(centre.blue() - orange.blue());
    EXPECT_LE(off, 12) << "the handle's orange, not the playhead's red: " << centre.name().toStdString();
    saveScreenshot(*timeline, "edit-timeline-matrix-over-playhead");
}

TEST_F(TimelineTest, Screenshots)
{
    Track a = trackWith("Képernyő", {clipAt(0.5, 3), clipAt(4.5, 3)});
    Track b = trackWith("Hang", {clipAt(1, 5)}, MediaKind::audio);
    make({a, b}, 100, 900);
    press({160, 50}, Qt::RightButton);
    moveTo({420, 100}, Qt::RightButton);
    release({420, 100}, Qt::RightButton);
    saveScreenshot(*timeline, "edit-timeline-matrix");

    press({880, 30});
    moveTo({560, 90});
    saveScreenshot(*timeline, "edit-timeline-band");
    release({560, 90});
}

} // namespace
} // namespace ondexa::testing
