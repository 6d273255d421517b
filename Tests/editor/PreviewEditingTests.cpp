// Direct manipulation on the preview: presses, moves and releases sent to a
// 1600 × 900 preview over a 16:9 output, so the picture frame is the whole
// pane and one picture unit is 1600 points across and 900 down. Snapping is
// on and the playhead (1 s) lies inside every clip unless a case says so.

#include "Ondexa/editor/PlayerView.h"
#include "Ondexa/editor/PreviewCanvas.h"
#include "Ondexa/rendering/OverlayRenderer.h"
#include "editing/EditTestSupport.h"
#include "support/TempFolder.h"
#include "support/WidgetTestApplication.h"

#include <QApplication>
#include <QMouseEvent>

#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ondexa::testing {
namespace {

using Handle = PreviewEditingLayer::Handle;
using Guides = PreviewEditingLayer::Guides;

constexpr double tolerance = 1e-9;

void expectRect(const NRect& actual, const NRect& expected, const std::string& what)
{
    EXPECT_NEAR(actual.x, expected.x, tolerance) << what;
    EXPECT_NEAR(actual.y, expected.y, tolerance) << what;
    EXPECT_NEAR(actual.w, expected.w, tolerance) << what;
    EXPECT_NEAR(actual.h, expected.h, tolerance) << what;
}

Clip overlayClip(Overlay overlay)
{
    Clip clip = clipAt(0, 10);
    clip.media.reset();
    clip.overlay = std::move(overlay);
    return clip;
}

Overlay shape(OverlayKind kind, NRect rect)
{
    Overlay overlay;
    overlay.kind = kind;
    overlay.rect = rect;
    overlay.fontSize = 0.05;
    overlay.lineWidth = 0.006;
    return overlay;
}

Overlay arrow(NPoint from, NPoint to)
{
    Overlay overlay = shape(OverlayKind::arrow, {});
    overlay.from = from;
    overlay.to = to;
    return overlay;
}

Overlay text(std::string words, NRect rect)
{
    Overlay overlay = shape(OverlayKind::text, rect);
    overlay.text = std::move(words);
    overlay.background = true;
    return overlay;
}

TrackAction actionOf(std::optional<double> scale, std::optional<double> cx = {}, std::optional<double> cy = {})
{
    TrackAction action;
    action.start = 0;
    action.end = 2;
    action.scale = scale;
    action.centerX = cx;
    action.centerY = cy;
    return action;
}

class PreviewEditingTest : public ::testing::Test {
protected:
    // The screen track is the lowest picture: the last track.
    void make(std::vector<Track> tracks)
    {
        model = editorWith(folder.path, std::move(tracks));
        model->clock().setTime(1);
        player = std::make_unique<PlayerView>(*model);
        canvas = std::make_unique<PreviewCanvas>(*model, *player);
        canvas->resize(1600, 900);
    }
    // One clip on the screen track.
    const Clip& makeScreen(Clip clip)
    {
        make({trackWith("Képernyő", {std::move(clip)})});
        return model->tracks()[0].clips[0];
    }
    const Clip& clip(std::size_t track = 0) const { return model->tracks()[track].clips[0]; }
    const TrackAction& action() const { return clip().actions[0]; }

    void mouse(QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        QMouseEvent event(type, at, canvas->mapToGlobal(at), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(canvas.get(), &event);
    }
    void press(QPointF at) { mouse(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton); }
    void moveTo(QPointF at) { mouse(QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton); }
    void release(QPointF at) { mouse(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton); }
    // Press, one move and release; returns the guides shown before the release.
    Guides drag(QPointF from, QPointF by)
    {
        press(from);
        moveTo(from + by);
        const Guides shown = layer().guides();
        release(from + by);
        return shown;
    }
    PreviewEditingLayer& layer() { return canvas->editingLayer(); }
    QRectF frame() const { return {0, 0, 1600, 900}; }

    TempFolder folder;
    std::unique_ptr<EditorModel> model;
    std::unique_ptr<PlayerView> player;
    std::unique_ptr<PreviewCanvas> canvas;
};

// --- Media clips ---

TEST_F(PreviewEditingTest, DraggingAnUnframedClipWritesItsFrameAsOneUndoStep)
{
    struct Case {
        const char* name;
        QPointF by;
        NRect frame;
        Guides guides;
    };
    const Case cases[] = {
        {"moved", {160, 90}, {0.1, 0.1, 1, 1}, {false, false}},
        {"within 8 points of the centre lines", {5, 3}, {0, 0, 1, 1}, {true, true}},
        {"a plain click stores the default rectangle", {0, 0}, {0, 0, 1, 1}, {true, true}},
        {"8 points off does not snap", {8, 0}, {0.005, 0, 1, 1}, {false, true}},
        {"far right keeps 0.05 over the picture", {3200, 0}, {0.95, 0, 1, 1}, {false, true}},
        {"far left keeps 0.05 over the picture", {-3200, 0}, {-0.95, 0, 1, 1}, {false, true}},
        {"far down", {0, 1800}, {0, 0.95, 1, 1}, {true, false}},
    };
    for (const Case& c : cases) {
        const Clip before = makeScreen(clipAt(0, 10));
        const Guides shown = drag({800, 450}, c.by);
        ASSERT_TRUE(clip().frame) << c.name;
        expectRect(*clip().frame, c.frame, c.name);
        EXPECT_EQ(shown, c.guides) << c.name;
        EXPECT_EQ(layer().guides(), Guides{}) << c.name << ": guides after the release";
        EXPECT_FALSE(layer().drag()) << c.name;
        EXPECT_EQ(model->selectedClips(), std::set<Uuid>{before.id}) << c.name;
        EXPECT_EQ(model->undoStack().size(), 1u) << c.name;
        model->undo();
        EXPECT_EQ(clip(), before) << c.name << ": one undo puts it back";
    }
}

TEST_F(PreviewEditingTest, ResizingAMediaClipKeepsItsAspectWithinTheLimits)
{
    struct Case {
        const char* name;
        QPointF by;
        NRect frame;
    };
    // A 4:3 clip in a 16:9 picture: 0.75 wide, full height; its corner at (1400, 900).
    const Case cases[] = {
        {"wider", {400, 0}, {0.125, 0, 1.0, 4.0 / 3}},
        {"the least width, then its height from the aspect", {-1600, 0}, {0.125, 0, 0.05, 0.05 * 4 / 3}},
        {"a height beyond 4 stops there alone", {4400, 0}, {0.125, 0, 3.5, 4}},
    };
    for (const Case& c : cases) {
        Clip fourThree = clipAt(0, 10);
        fourThree.aspect = 4.0 / 3;
        makeScreen(fourThree);
        model->selectClip(clip().id, false, false);
        const auto selection = layer().selectionRect();
        ASSERT_TRUE(selection && selection->rect);
        expectRect(*selection->rect, {0.125, 0, 0.75, 1}, "the default rectangle");

        const Guides shown = drag({1400, 900}, c.by);
        ASSERT_TRUE(clip().frame) << c.name;
        expectRect(*clip().frame, c.frame, c.name);
        EXPECT_EQ(shown, Guides{}) << c.name << ": resizing never snaps";
        EXPECT_EQ(model->undoStack().size(), 1u) << c.name;
    }
}

// A clip whose file gave no usable aspect fills the picture and keeps the
// output's aspect while resized, as the inspector counts it.
TEST_F(PreviewEditingTest, ResizingAClipWithoutAUsableAspectKeepsTheOutputs)
{
    for (const double aspect : {0.0, -1.0, std::nan("")}) {
        Clip damaged = clipAt(0, 10);
        damaged.aspect = aspect;
        makeScreen(damaged);
        model->selectClip(clip().id, false, false);
        drag({1600, 900}, {-800, -100});
        ASSERT_TRUE(clip().frame) << aspect;
        expectRect(*clip().frame, {0, 0, 0.5, 0.5}, "aspect " + std::to_string(aspect));
        EXPECT_EQ(model->undoStack().size(), 1u) << aspect;
    }
}

TEST_F(PreviewEditingTest, AtCanvasZoomTwoTheDragCountsInLayerPoints)
{
    Clip framed = clipAt(0, 10);
    framed.frame = NRect{0.4, 0.4, 0.3, 0.3};
    makeScreen(framed);
    canvas->zoom(2, {0, 0});
    // The clip's centre (880, 495) in layer points lies at (960, 540) in the pane.
    drag({960, 540}, {16, 0});
    ASSERT_TRUE(clip().frame);
    expectRect(*clip().frame, {0.405, 0.4, 0.3, 0.3}, "16 pixels are 8 layer points");
}

// --- What a press grabs ---

TEST_F(PreviewEditingTest, PressesGrabTheTopmostPictureWithEdgesIncluded)
{
    Clip screen = clipAt(0, 10);
    screen.frame = NRect{0.25, 0.25, 0.5, 0.5};
    make({trackWith("Effektek", {overlayClip(shape(OverlayKind::rectangle, {0.3, 0.3, 0.2, 0.2}))}, MediaKind::effects),
          trackWith("Képernyő", {screen})});
    const Uuid overlayID = clip(0).id;
    const Uuid screenID = clip(1).id;

    struct Case {
        const char* name;
        QPointF at;
        std::optional<Uuid> grabbed;
    };
    const Case cases[] = {
        {"the right edge of the screen picture", {1200, 600}, screenID},
        {"just beyond it", {1201, 600}, std::nullopt},
        {"the overlay lies above the screen", {640, 360}, overlayID},
        {"outside every picture", {100, 100}, std::nullopt},
    };
    for (const Case& c : cases) {
        model->selectClip(screenID, false, false);
        const auto hit = layer().hitTest(c.at, frame());
        ASSERT_EQ(hit.has_value(), c.grabbed.has_value()) << c.name;
        if (hit) {
            EXPECT_EQ(hit->target.clip.id, *c.grabbed) << c.name;
            EXPECT_EQ(hit->handle, Handle::move) << c.name;
        }
    }

    // A click in the selected clip's body selects the overlay above it.
    drag({640, 360}, {0, 0});
    EXPECT_EQ(model->selectedClips(), std::set<Uuid>{overlayID});
    // A click on empty space clears the selection and takes no undo step.
    const std::size_t steps = model->undoStack().size();
    drag({100, 100}, {0, 0});
    EXPECT_TRUE(model->selectedClips().empty());
    EXPECT_EQ(model->undoStack().size(), steps);
}

TEST_F(PreviewEditingTest, AClickSelectsTheWholeLinkGroup)
{
    make({trackWith("Képernyő", {linked(clipAt(0, 10), link(1))}),
          trackWith("Hang", {linked(clipAt(0, 10, 0, MediaKind::audio), link(1))}, MediaKind::audio)});
    drag({800, 450}, {0, 0});
    EXPECT_EQ(model->selectedClips(), (std::set<Uuid>{clip(0).id, clip(1).id}));
}

TEST_F(PreviewEditingTest, WithAnActionSelectedNothingElseCanBeGrabbed)
{
    Clip screen = clipAt(0, 10);
    screen.actions = {actionOf(0.2, 0.2, 0.2)};
    make({trackWith("Effektek", {overlayClip(shape(OverlayKind::rectangle, {0.6, 0.6, 0.3, 0.3}))}, MediaKind::effects),
          trackWith("Képernyő", {screen})});
    const Uuid actionID = clip(1).actions[0].id;
    model->selectAction(actionID);
    model->player().play();
    ASSERT_TRUE(model->isPlaying());

    drag({1200, 800}, {100, 0});
    EXPECT_EQ(model->selectedActionID(), actionID);
    EXPECT_TRUE(model->selectedClips().empty());
    EXPECT_FALSE(model->canUndo());
    EXPECT_FALSE(model->isPlaying()) << "a press anywhere pauses";
    EXPECT_EQ(clip(0).overlay->rect, (NRect{0.6, 0.6, 0.3, 0.3}));
}

TEST_F(PreviewEditingTest, ASoundClipsActionHasNoPictureToMarkOrDrag)
{
    Clip sound = clipAt(0, 10, 0, MediaKind::audio);
    TrackAction louder = actionOf(std::nullopt);
    louder.volume = 2;
    sound.actions = {louder};
    make({trackWith("Képernyő", {clipAt(0, 10)}), trackWith("Hang", {sound}, MediaKind::audio)});
    model->selectAction(louder.id);

    EXPECT_FALSE(layer().currentMarks(frame()));
    drag({1600, 900}, {-800, 0});
    drag({800, 450}, {100, 0});
    EXPECT_EQ(clip(1).actions[0], louder) << "no scale or centre written into a volume action";
    EXPECT_FALSE(model->canUndo());
    EXPECT_EQ(model->selectedActionID(), louder.id);
}

TEST_F(PreviewEditingTest, MarksFollowTheSelectionAndVanishWhilePlaying)
{
    Clip screen = clipAt(0, 10);
    screen.frame = NRect{0.25, 0.25, 0.5, 0.5};
    screen.actions = {actionOf(0.5, 0.25, 0.25)};
    make({trackWith("Effektek", {overlayClip(arrow({0.1, 0.1}, {0.2, 0.3}))}, MediaKind::effects),
          trackWith("Képernyő", {screen})});

    EXPECT_FALSE(layer().currentMarks(frame())) << "nothing selected";

    model->selectClip(clip(1).id, false, false);
    auto marks = layer().currentMarks(frame());
    ASSERT_TRUE(marks && marks->outline);
    EXPECT_EQ(*marks->outline, QRectF(400, 225, 800, 450));
    EXPECT_EQ(marks->color, Theme::accent());
    EXPECT_EQ(marks->dots, std::vector<QPointF>{QPointF(1200, 675)});

    model->selectAction(clip(1).actions[0].id);
    marks = layer().currentMarks(frame());
    ASSERT_TRUE(marks && marks->outline);
    // Scale 0.5 of the full-frame fit, centred on (0.25, 0.25).
    EXPECT_EQ(*marks->outline, QRectF(0, 0, 800, 450));
    EXPECT_EQ(marks->color, Theme::yellow());

    model->selectClip(clip(0).id, false, false);
    marks = layer().currentMarks(frame());
    ASSERT_TRUE(marks);
    EXPECT_FALSE(marks->outline) << "an arrow shows its two ends only";
    EXPECT_EQ(marks->dots, (std::vector<QPointF>{QPointF(160, 90), QPointF(320, 270)}));

    model->player().play();
    EXPECT_FALSE(layer().currentMarks(frame())) << "no marks while playing";
    const auto hit = layer().hitTest({320, 270}, frame());
    ASSERT_TRUE(hit) << "the hit test still works";
    EXPECT_EQ(hit->handle, Handle::to);
    model->player().pause();

    model->clock().setTime(12);
    EXPECT_FALSE(layer().currentMarks(frame())) << "the playhead outside the selected clip";
    model->selectAction(clip(1).actions[0].id);
    EXPECT_TRUE(layer().currentMarks(frame())) << "an action's mark does not depend on the playhead";
}

TEST_F(PreviewEditingTest, AnArrowWithActionsShowsItsMovedBoxWithACornerDot)
{
    Clip pointer = overlayClip(arrow({0.1, 0.2}, {0.3, 0.4}));
    pointer.actions = {actionOf(std::nullopt, 0.6, 0.5)};
    make({trackWith("Effektek", {pointer}, MediaKind::effects)});
    model->selectClip(clip().id, false, false);
    model->clock().setTime(5);  // after the action: moved by (0.1, 0)
    const auto marks = layer().currentMarks(frame());
    ASSERT_TRUE(marks && marks->outline);
    const QRectF expected(0.2 * 1600, 0.2 * 900, 0.2 * 1600, 0.2 * 900);
    EXPECT_NEAR(marks->outline->x(), expected.x(), 1e-6);
    EXPECT_NEAR(marks->outline->y(), expected.y(), 1e-6);
    EXPECT_NEAR(marks->outline->width(), expected.width(), 1e-6);
    EXPECT_EQ(marks->dots.size(), 1u);
}

// --- Overlays ---

TEST_F(PreviewEditingTest, OverlayDrags)
{
    struct Case {
        const char* name;
        Overlay overlay;
        QPointF at;
        QPointF by;
        std::function<void(const Overlay&)> check;
        Guides guides;
    };
    const Case cases[] = {
        {"a rectangle resized to nothing", shape(OverlayKind::rectangle, {0.2, 0.2, 0.3, 0.2}), {800, 360}, {-1600, -900},
         [](const Overlay& o) { expectRect(o.rect, {0.2, 0.2, 0.03, 0.03}, "rectangle"); }, {}},
        {"an ellipse resized both ways", shape(OverlayKind::ellipse, {0.2, 0.2, 0.3, 0.2}), {800, 360}, {160, 90},
         [](const Overlay& o) { expectRect(o.rect, {0.2, 0.2, 0.4, 0.3}, "ellipse"); }, {}},
        {"a rectangle moved onto the vertical centre line", shape(OverlayKind::rectangle, {0.2, 0.2, 0.3, 0.2}),
         {600, 270}, {245, 0}, [](const Overlay& o) { expectRect(o.rect, {0.35, 0.2, 0.3, 0.2}, "snapped"); },
         {true, false}},
        {"an arrow's head", arrow({0.5, 0.5}, {0.505, 0.5}), {800, 450}, {80, 0},
         [](const Overlay& o) {
             EXPECT_NEAR(o.to.x, 0.555, tolerance);
             EXPECT_NEAR(o.to.y, 0.5, tolerance);
             EXPECT_EQ(o.from, (NPoint{0.5, 0.5}));
         },
         {}},
        {"an arrow's tail", arrow({0.1, 0.1}, {0.4, 0.1}), {160, 90}, {0, 90},
         [](const Overlay& o) {
             EXPECT_NEAR(o.from.y, 0.2, tolerance);
             EXPECT_EQ(o.to, (NPoint{0.4, 0.1}));
         },
         {}},
        {"an arrow moved by its shaft, its box snapped to the centre", arrow({0.1, 0.1}, {0.4, 0.3}), {400, 180},
         {400, 273},
         [](const Overlay& o) {
             // The box (0.1, 0.1)–(0.4, 0.3) moved by (0.25, 0.3033) comes within 3 points of
             // the horizontal centre line and is put on it; both ends move alike.
             EXPECT_NEAR(o.from.x, 0.35, tolerance);
             EXPECT_NEAR(o.to.x, 0.65, tolerance);
             EXPECT_NEAR(o.from.y, 0.4, tolerance);
             EXPECT_NEAR(o.to.y, 0.6, tolerance);
         },
         {true, true}},
    };
    for (const Case& c : cases) {
        make({trackWith("Effektek", {overlayClip(c.overlay)}, MediaKind::effects)});
        model->selectClip(clip().id, false, false);
        const Guides shown = drag(c.at, c.by);
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(clip().overlay);
        c.check(*clip().overlay);
        EXPECT_EQ(shown, c.guides);
        EXPECT_EQ(model->undoStack().size(), 1u);
    }
}

TEST_F(PreviewEditingTest, ATextBoxIsAsHighAsItsMeasuredText)
{
    // A wide box with one short line: far lower than the 0.5 stored.
    make({trackWith("Effektek", {overlayClip(text("Szia", {0.1, 0.1, 0.6, 0.5}))}, MediaKind::effects)});
    const NRect bounds = effectBounds(*clip().overlay, model->aspect());
    EXPECT_EQ(bounds.w, 0.6);
    EXPECT_GT(bounds.h, 0.035 + 0.04) << "the padding and one line of 50 points";
    EXPECT_LT(bounds.h, 0.2);
    Overlay narrow = *clip().overlay;
    narrow.rect.w = 0.1;
    narrow.text = "Egy hosszabb felirat több sorban";
    EXPECT_GT(effectBounds(narrow, model->aspect()).h, 2 * bounds.h) << "wrapped text is higher";

    // Below the measured box, inside the stored one, nothing is hit.
    const double bottom = (0.1 + bounds.h) * 900;
    EXPECT_TRUE(layer().hitTest({400, bottom - 2}, frame()));
    EXPECT_FALSE(layer().hitTest({400, bottom + 20}, frame()));

    // Its corner handle sits at the measured bottom; resizing changes the width only.
    model->selectClip(clip().id, false, false);
    drag({0.7 * 1600, bottom}, {160, 300});
    const Overlay& resized = *clip().overlay;
    EXPECT_NEAR(resized.rect.w, 0.7, tolerance);
    EXPECT_EQ(resized.rect.x, 0.1);
    EXPECT_EQ(resized.rect.y, 0.1);
    EXPECT_NEAR(resized.rect.h, OverlayRenderer::textBoxHeight(resized, model->aspect()), tolerance);
    EXPECT_LT(resized.rect.h, 0.2) << "the drag's downward motion does not reach the height";
}

// --- Action targets ---

TEST_F(PreviewEditingTest, ActionTargetDrags)
{
    struct Case {
        const char* name;
        TrackAction action;
        bool snapping;
        QPointF at;
        QPointF by;
        std::optional<double> scale, centerX, centerY;
        Guides guides;
    };
    const Case cases[] = {
        {"resized far inwards stops at 0.05", actionOf(std::nullopt), true, {1595, 895}, {-3200, 0}, 0.05,
         std::nullopt, std::nullopt, {}},
        {"resized to half", actionOf(std::nullopt), true, {1600, 900}, {-800, 0}, 0.5, std::nullopt, std::nullopt, {}},
        {"never below 5 % of the press-time scale", actionOf(1.2, 0.3, 0.3), true, {1440, 810}, {-3200, 0}, 0.06, 0.3,
         0.3, {}},
        {"below 1 at the press, still never below 0.05", actionOf(0.5, 0.5, 0.5), true, {1200, 675}, {-3200, 0}, 0.05,
         0.5, 0.5, {}},
        {"moved onto the centre", actionOf(std::nullopt), true, {800, 450}, {6, 0}, std::nullopt, 0.5, 0.5,
         {true, true}},
        {"moved with snapping off", actionOf(std::nullopt), false, {800, 450}, {6, 0}, std::nullopt, 0.50375, 0.5, {}},
        {"moved 8 points does not snap", actionOf(std::nullopt), true, {800, 450}, {8, 0}, std::nullopt, 0.505, 0.5,
         {false, true}},
    };
    for (const Case& c : cases) {
        Clip screen = clipAt(0, 10);
        screen.actions = {c.action};
        makeScreen(screen);
        model->setSnapping(c.snapping);
        model->selectAction(action().id);
        const Guides shown = drag(c.at, c.by);
        SCOPED_TRACE(c.name);
        const TrackAction& result = action();
        ASSERT_EQ(result.scale.has_value(), c.scale.has_value());
        if (c.scale) { EXPECT_NEAR(*result.scale, *c.scale, tolerance); }
        ASSERT_EQ(result.centerX.has_value(), c.centerX.has_value());
        if (c.centerX) { EXPECT_NEAR(*result.centerX, *c.centerX, tolerance); }
        ASSERT_EQ(result.centerY.has_value(), c.centerY.has_value());
        if (c.centerY) { EXPECT_NEAR(*result.centerY, *c.centerY, tolerance); }
        EXPECT_EQ(shown, c.guides);
        EXPECT_EQ(model->selectedActionID(), result.id) << "the selection stays";
        EXPECT_EQ(model->undoStack().size(), 1u);
        model->undo();
        EXPECT_EQ(action(), c.action) << "one undo puts it back";
    }
}

} // namespace
} // namespace ondexa::testing
