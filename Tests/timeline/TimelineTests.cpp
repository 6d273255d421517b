#include "EditTestSupport.h"

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/timeline/LcdTimeDisplay.h"
#include "Ondexa/timeline/PlayheadOverlay.h"
#include "Ondexa/timeline/TimelineCanvas.h"
#include "Ondexa/timeline/TimelinePainting.h"
#include "Ondexa/timeline/TrackHeaders.h"
#include "Ondexa/ui/Theme.h"
#include "support/TempFolder.h"
#include "support/WheelEvents.h"
#include "support/WidgetTestApplication.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QSlider>
#include <QToolButton>

#include <cmath>
#include <limits>

namespace ondexa {
namespace {

using testing::clipAt;
using testing::editChangesNothing;
using testing::editGives;
using testing::editorWith;
using testing::TempFolder;
using testing::trackWith;

// --- Time code ---

TEST(LcdTimeDisplay, TimeCodeCountsWholeFrames)
{
    const struct {
        double seconds;
        int fps;
        const char* shown;
    } cases[] = {
        {3725.5, 30, "01:02:05:15"},
        {0, 30, "00:00:00:00"},
        {0.999, 30, "00:00:00:29"},
        {1.0, 30, "00:00:01:00"},
        {1.0 - 1.0 / 60, 30, "00:00:00:29"},
        {-3, 30, "00:00:00:00"},
        {std::numeric_limits<double>::quiet_NaN(), 30, "00:00:00:00"},
        {360000, 30, "100:00:00:00"},
        {0.999, 60, "00:00:00:59"},
        {59.5, 60, "00:00:59:30"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LcdTimeDisplay::timeCode(c.seconds, c.fps).toStdString(), c.shown) << c.seconds << " at " << c.fps;
}

TEST(LcdTimeDisplay, RepaintsOnEveryTick)
{
    PlayheadClock clock;
    LcdTimeDisplay lcd(clock, 125.5, 30);
    lcd.resize(lcd.sizeHint());
    clock.setTime(3725.5);
    const QImage late = lcd.grab().toImage();
    clock.setTime(0);
    EXPECT_NE(lcd.grab().toImage(), late);
    testing::saveScreenshot(lcd, "lcd_time_display");
}

// --- Ruler ---

TEST(TimelineRuler, StepsByZoom)
{
    const struct {
        double pps;
        RulerStep step;
        std::vector<double> halfTicks;  // label-relative times of the 6-point ticks
    } cases[] = {
        {100, {1, 0.2}, {}},
        {5, {30, 5}, {15}},
        {0.01, {7200, 1800}, {3600}},
        {1000, {0.1, 0.02}, {}},
        {6, {15, 5}, {}},
        {800, {0.1, 0.02}, {}},
        {799, {0.2, 0.05}, {0.1}},
    };
    for (const auto& c : cases) {
        const RulerStep step = rulerStep(c.pps);
        EXPECT_EQ(step, c.step) << c.pps;
        const int n = rulerDivisions(step);
        std::vector<double> halves;
        for (int k = 0; k < n; ++k) {
            const double h = rulerTickHeight(step, k);
            EXPECT_EQ(h, k == 0 ? 9.0 : (h == 6 ? 6.0 : 3.5)) << c.pps << " k " << k;
            if (h == 6) halves.push_back(k * step.minor);
        }
        ASSERT_EQ(halves.size(), c.halfTicks.size()) << c.pps;
        for (std::size_t i = 0; i < halves.size(); ++i) EXPECT_NEAR(halves[i], c.halfTicks[i], 1e-9) << c.pps;
    }
}

TEST(TimelineRuler, Labels)
{
    const struct {
        double t;
        double step;
        const char* text;
    } cases[] = {
        {0.5, 0.1, "0.5s"}, {2, 0.5, "2s"},         {1.0, 0.2, "1s"},        {0, 1, "0s"},
        {120, 60, "2m"},    {150, 60, "2m30s"},     {3900, 60, "1h05m"},     {3930, 60, "1h05m30s"},
        {59.6, 5, "1m"},    {7200, 7200, "2h00m"},  {0.04, 0.1, "0s"},      {12.25, 0.5, "12.3s"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rulerLabel(c.t, c.step).toStdString(), c.text) << c.t << " step " << c.step;
}

// --- Texts ---

TEST(TimelineTexts, ActionLabels)
{
    const auto action = [](auto fill) {
        TrackAction a;
        fill(a);
        return a;
    };
    const struct {
        TrackAction action;
        const char* text;
    } cases[] = {
        {action([](TrackAction& a) {
             a.scale = 1.5;
             a.rotation = 30;
             a.centerX = 0.2;
             a.volume = 0.8f;
         }),
         "150% · 30° · hely · hang 80%"},
        {action([](TrackAction& a) { a.rotation = 0.4; }), "Művelet"},
        {action([](TrackAction& a) { a.rotation = -0.6; }), "-1°"},
        {action([](TrackAction&) {}), "Művelet"},
        {action([](TrackAction& a) { a.centerY = 0.9; }), "hely"},
        {action([](TrackAction& a) {
             a.scale = 0.333;
             a.volume = 0.0f;
         }),
         "33% · hang 0%"},
    };
    for (const auto& c : cases) EXPECT_EQ(actionLabel(c.action).toStdString(), c.text);
}

TEST(TimelineTexts, ClipAndGapLabels)
{
    Track track = trackWith("Képernyő", {}, MediaKind::effects);
    Clip clip = clipAt(0, 1);
    EXPECT_EQ(clipLabel(track, clip).toStdString(), "Képernyő");
    const struct {
        OverlayKind kind;
        const char* text;
    } overlays[] = {{OverlayKind::text, "Helló"},         {OverlayKind::arrow, "Nyíl"},
                    {OverlayKind::rectangle, "Téglalap"}, {OverlayKind::ellipse, "Ellipszis"},
                    {OverlayKind::zoom, "Közelítés"},     {OverlayKind::pip, "Kép a képben"}};
    for (const auto& o : overlays) {
        clip.overlay = Overlay{};
        clip.overlay->kind = o.kind;
        clip.overlay->text = "Helló";
        EXPECT_EQ(clipLabel(track, clip).toStdString(), o.text);
    }
    EXPECT_EQ(gapLabel(60).toStdString(), "");
    EXPECT_EQ(gapLabel(61).toStdString(), "Üres · Backspace");
    EXPECT_EQ(gapLabel(170).toStdString(), "Üres · Backspace");
    EXPECT_EQ(gapLabel(400).toStdString(), "Üres szakasz · Backspace összezárja");
}

// --- Pixels ---

QColor mix(const QColor& under, const QColor& over, double alpha)
{
    const auto c = [alpha](int a, int b) { return int(std::lround(a * (1 - alpha) + b * alpha)); };
    return QColor(c(under.red(), over.red()), c(under.green(), over.green()), c(under.blue(), over.blue()));
}

::testing::AssertionResult near(const QImage& image, int x, int y, const QColor& expected, int tolerance = 2)
{
    const QColor actual = image.pixelColor(x, y);
    if (std::abs(actual.red() - expected.red()) <= tolerance && std::abs(actual.green() - expected.green()) <= tolerance &&
        std::abs(actual.blue() - expected.blue()) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << x << ", " << y << ") is " << actual.red() << ", " << actual.green()
                                         << ", " << actual.blue() << "; expected " << expected.red() << ", "
                                         << expected.green() << ", " << expected.blue();
}

QColor opaque(QColor color)
{
    color.setAlpha(255);
    return color;
}

// The editor's timeline area at 1000 × 150, pps 100, rows 40 high.
struct CanvasFixture {
    TempFolder folder;
    std::unique_ptr<EditorModel> model;
    std::unique_ptr<TimelineCanvas> canvas;
    PlayheadOverlay* playhead = nullptr;

    explicit CanvasFixture(std::vector<Track> tracks)
    {
        model = editorWith(folder.path, std::move(tracks));
        canvas = std::make_unique<TimelineCanvas>(*model);
        canvas->resize(1000, 150);
        canvas->setView(100, 0);
        playhead = new PlayheadOverlay(model->clock(), canvas.get());
        playhead->setView(100, 0);
    }
    QImage image() { return canvas->grab().toImage(); }
};

// The painting tests build their snapshots by hand; this is what the canvas
// takes from the model.
TEST(TimelineSnapshot, CarriesTheModelsMarksSelectionAndGap)
{
    TempFolder folder;
    const Track a = trackWith("A", {clipAt(1, 2), clipAt(5, 1)});
    auto model = editorWith(folder.path, {a});
    model->setSelectedClips({a.clips[0].id});
    model->setSelectedTrackID(a.id);
    model->setGap(EditorModel::Gap{a.id, 3, 5});
    model->setMarkIn(1.5);
    model->setMarkOut(2.5);

    const TimelineSnapshot s = TimelineSnapshot::of(*model, 50, 30, QSize(800, 120));
    EXPECT_EQ(s.tracks, std::vector<Track>{a});
    EXPECT_EQ(s.selectedClips, std::set<Uuid>{a.clips[0].id});
    EXPECT_EQ(s.selectedTrack, a.id);
    EXPECT_EQ(s.gap, (EditorModel::Gap{a.id, 3, 5}));
    EXPECT_EQ(s.markIn, 1.5);
    EXPECT_EQ(s.markOut, 2.5);
    EXPECT_EQ(s.pps, 50);
    EXPECT_EQ(s.scrollX, 30);
    EXPECT_EQ(s.size, QSize(800, 120));
    EXPECT_EQ(s.duration, 6);
}

TEST(TimelineCanvas, ClipPlayheadAndMark)
{
    CanvasFixture f({trackWith("Képernyő", {clipAt(1, 2)})});
    f.model->setMarkIn(1.0);
    const QImage image = f.image();
    ASSERT_EQ(image.size(), QSize(1000, 150));

    EXPECT_TRUE(near(image, 200, 35, QColor(41, 64, 115)));
    const QColor red = opaque(Theme::red());
    const QColor yellow = opaque(Theme::yellow());
    for (int y : {0, 10, 20, 80, 149}) {
        EXPECT_TRUE(near(image, 9, y, red, 0));
        EXPECT_TRUE(near(image, 10, y, red, 0));
        EXPECT_FALSE(near(image, 8, y, red, 30));
        EXPECT_FALSE(near(image, 11, y, red, 30));
    }
    for (int y : {20, 21, 40, 100, 149}) {
        EXPECT_TRUE(near(image, 109, y, yellow, 1)) << y;
        EXPECT_TRUE(near(image, 110, y, yellow, 1)) << y;
        EXPECT_FALSE(near(image, 108, y, yellow, 30));
        EXPECT_FALSE(near(image, 111, y, yellow, 30));
    }
    EXPECT_FALSE(near(image, 109, 19, yellow, 30));
}

TEST(TimelineCanvas, RulerTicks)
{
    const auto lit = [](const QImage& image, int x, int y) {
        // A tick is brighter than the band beside it.
        return qGray(image.pixel(x, y)) > qGray(image.pixel(x + 3, y)) + 10;
    };
    CanvasFixture f({});
    f.canvas->setView(5, 0);
    QImage image = f.image();
    EXPECT_TRUE(lit(image, 85, 14));   // 15 s: the half tick of 30 s labels
    EXPECT_FALSE(lit(image, 85, 13));  // six points high
    EXPECT_TRUE(lit(image, 35, 17));   // 5 s: a minor tick
    EXPECT_FALSE(lit(image, 35, 15));
    EXPECT_TRUE(lit(image, 160, 11));  // 30 s: a label tick

    f.canvas->setView(100, 0);
    image = f.image();
    for (int x : {30, 50, 70, 90}) {  // no half tick between labels
        EXPECT_TRUE(lit(image, x, 17)) << x;
        EXPECT_FALSE(lit(image, x, 15)) << x;
    }
    EXPECT_TRUE(lit(image, 110, 11));
}

TEST(TimelineCanvas, ZoomThatCannotBeDrawnLeavesTheBackground)
{
    Track track = trackWith("Képernyő", {clipAt(0, 5)});
    TimelineSnapshot snapshot;
    snapshot.tracks = {track};
    snapshot.markIn = 1;
    snapshot.gap = EditorModel::Gap{track.id, 5, 6};
    for (const double pps : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        snapshot.pps = pps;
        QImage image(300, 120, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::magenta);
        QPainter painter(&image);
        paintTimeline(painter, snapshot, image.size());
        painter.end();
        QImage expected(image.size(), image.format());
        expected.fill(Theme::background());
        EXPECT_EQ(image, expected) << pps;
    }
}

// Painted pixels of features that only the drawing shows, each in its own
// 1000 × 150 frame at pps 100 with rows 40 high (row 0 from y 24 to 64).
TEST(TimelineCanvas, FeaturesPaintedWhereExpected)
{
    const QColor video(41, 64, 115);
    const QColor sound(31, 82, 51);
    const QColor background = Theme::background();
    const QColor row0 = mix(background, Qt::white, 0.03);
    const MediaRef media{testing::kMediaPath, MediaKind::video, 0};
    const MediaRef audio{testing::kMediaPath, MediaKind::audio, 0};
    QImage red(160, 90, QImage::Format_RGB32);
    red.fill(Qt::red);

    struct Case {
        const char* name;
        std::function<void(TimelineSnapshot&)> setup;
        QPoint at;
        QColor expected;
    };
    const std::vector<Case> cases{
        {"a selected clip is tinted with the accent",
         [](TimelineSnapshot& s) {
             s.tracks = {trackWith("V", {clipAt(1, 2)})};
             s.selectedClips = {s.tracks[0].clips[0].id};
         },
         {200, 35}, mix(video, Theme::accent(), 0.25)},
        {"a hidden track's clips are dimmed",
         [](TimelineSnapshot& s) {
             s.tracks = {trackWith("V", {clipAt(1, 2)})};
             s.tracks[0].hidden = true;
         },
         {200, 35}, mix(row0, video, 0.4)},
        {"a filmstrip fills the clip",
         [&](TimelineSnapshot& s) {
             s.tracks = {trackWith("V", {clipAt(1, 2)})};
             s.thumbnails[media] = {Thumbnail{0, red}};
         },
         {200, 35}, QColor(255, 0, 0)},
        {"a level above 1 draws an orange bar",
         [&](TimelineSnapshot& s) {
             s.tracks = {trackWith("A", {clipAt(0, 4, 0, MediaKind::audio)}, MediaKind::audio)};
             s.peaks[audio] = std::vector<float>(200, 2.0f);
         },
         {30, 46}, opaque(Theme::systemOrange())},
        {"a quiet level draws a green bar",
         [&](TimelineSnapshot& s) {
             s.tracks = {trackWith("A", {clipAt(0, 4, 0, MediaKind::audio)}, MediaKind::audio)};
             s.peaks[audio] = std::vector<float>(200, 0.5f);
         },
         {30, 46}, mix(sound, Theme::green(), 0.85)},
        {"a muted track's bars shrink to the centre line",
         [&](TimelineSnapshot& s) {
             s.tracks = {trackWith("A", {clipAt(0, 4, 0, MediaKind::audio)}, MediaKind::audio)};
             s.tracks[0].muted = true;
             s.peaks[audio] = std::vector<float>(200, 2.0f);
         },
         {30, 42}, mix(row0, sound, 0.4)},
        {"an action bar is yellow",
         [](TimelineSnapshot& s) {
             Clip clip = clipAt(0, 4);
             clip.actions = {TrackAction{}};
             clip.actions[0].start = 1;
             clip.actions[0].end = 3;
             s.tracks = {trackWith("V", {clip})};
         },
         {250, 28}, mix(video, Theme::yellow(), 0.92)},
        {"the marked range is tinted yellow",
         [](TimelineSnapshot& s) {
             s.tracks = {trackWith("V", {})};
             s.markIn = 1;
             s.markOut = 3;
         },
         {200, 140}, mix(background, Theme::yellow(), 0.15)},
        {"a fade darkens the clip's corner",
         [](TimelineSnapshot& s) {
             Clip clip = clipAt(1, 2);
             clip.fadeIn = 1;
             s.tracks = {trackWith("V", {clip})};
         },
         {115, 30}, mix(video, Qt::black, 0.45)},
        {"a gap on a track that is gone draws nothing",
         [](TimelineSnapshot& s) {
             s.tracks = {trackWith("V", {})};
             s.gap = EditorModel::Gap{Uuid::random(), 1, 3};
         },
         {200, 30}, row0},
        {"a matrix is tinted orange",
         [](TimelineSnapshot& s) {
             s.tracks = {trackWith("V", {})};
             s.matrix = QRectF(160, 24, 200, 80);
         },
         {250, 90}, mix(background, Theme::systemOrange(), 0.22)},
    };
    for (const Case& c : cases) {
        TimelineSnapshot snapshot;
        snapshot.pps = 100;
        c.setup(snapshot);
        QImage image(1000, 150, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        paintTimeline(painter, snapshot, image.size());
        painter.end();
        EXPECT_TRUE(near(image, c.at.x(), c.at.y(), c.expected, 3)) << c.name;
    }
}

TEST(TimelineCanvas, ClockTicksOnlyMoveThePlayhead)
{
    CanvasFixture f({trackWith("Képernyő", {clipAt(0, 30)})});
    f.canvas->show();
    QApplication::processEvents();
    (void)f.image();
    const int redraws = f.canvas->redrawCount();
    ASSERT_GE(redraws, 1);

    for (int tick = 1; tick <= 30; ++tick) {
        f.model->clock().setTime(tick / 30.0);
        QApplication::processEvents();
    }
    EXPECT_EQ(f.playhead->x(), 109);
    EXPECT_EQ(f.canvas->redrawCount(), redraws);
    const QImage moved = f.image();
    EXPECT_TRUE(near(moved, 110, 80, opaque(Theme::red()), 0));
    EXPECT_FALSE(near(moved, 10, 80, opaque(Theme::red()), 30));  // the old place shows the canvas again
    EXPECT_EQ(f.canvas->redrawCount(), redraws);

    // Model, zoom, scroll and size changes redraw, once each.
    const std::vector<std::pair<const char*, std::function<void()>>> changes{
        {"selection", [&] { f.model->selectClip(f.model->tracks()[0].clips[0].id, false, false); }},
        {"mark", [&] { f.model->setMarkOut(4.0); }},
        {"zoom", [&] { f.canvas->setView(50, 0); }},
        {"scroll", [&] { f.canvas->setView(50, 20); }},
        {"size", [&] { f.canvas->resize(900, 150); }},
    };
    for (const auto& [name, change] : changes) {
        const int before = f.canvas->redrawCount();
        change();
        QApplication::processEvents();
        (void)f.image();
        EXPECT_EQ(f.canvas->redrawCount(), before + 1) << name;
    }
    // The matrix and the rubber band have a layer of their own in front.
    const QImage plain = f.image();
    const int before = f.canvas->redrawCount();
    f.canvas->setMatrix(QRectF(100, 24, 50, 40));
    f.canvas->setMarquee(QRectF(300, 30, 50, 40));
    QApplication::processEvents();
    const QImage fronted = f.image();
    EXPECT_EQ(f.canvas->redrawCount(), before);
    EXPECT_NE(fronted.pixel(125, 44), plain.pixel(125, 44)) << "the matrix is drawn";
    EXPECT_NE(fronted.pixel(325, 50), plain.pixel(325, 50)) << "the rubber band is drawn";
}

// --- Track headers ---

struct HeadersFixture {
    TempFolder folder;
    std::unique_ptr<EditorModel> model;
    std::unique_ptr<TrackHeaders> headers;

    HeadersFixture()
    {
        Track a = trackWith("Képernyő", {clipAt(0, 5)});
        a.fromRecording = true;
        Track b = trackWith("Kamera", {clipAt(0, 5)});
        b.media.index = 1;
        b.fromRecording = true;
        Track c = trackWith("Mikrofon", {clipAt(0, 5, 0, MediaKind::audio)}, MediaKind::audio);
        model = editorWith(folder.path, {a, b, c});
        headers = std::make_unique<TrackHeaders>(*model);
        headers->resize(TrackHeaders::columnWidth, 200);
    }
    const Uuid& id(int i) const { return model->tracks()[std::size_t(i)].id; }
    template <typename W> W* child(int track, const QString& toolTip) const
    {
        for (W* widget : headers->row(id(track))->findChildren<W*>())
            if (widget->toolTip() == toolTip) return widget;
        return nullptr;
    }
    QToolButton* button(int track, const QString& text) const
    {
        for (QToolButton* b : headers->row(id(track))->findChildren<QToolButton*>())
            if (!b->isHidden() && (b->toolTip() == text || b->text() == text)) return b;
        return nullptr;
    }
    // A press on a track's handle, a move by dy and the release there.
    void dragHandle(int track, double dy) const
    {
        QWidget* handle = child<QWidget>(track, "Húzd fel vagy le a sáv áthelyezéséhez");
        ASSERT_NE(handle, nullptr);
        const QPointF local(7, 20);
        const QPointF global = handle->mapToGlobal(local);
        const QPointF end = global + QPointF(0, dy);
        QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(handle, &press);
        QMouseEvent move(QEvent::MouseMove, local + QPointF(0, dy), end, Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(handle, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, local + QPointF(0, dy), end, Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(handle, &release);
    }
};

TEST(TrackHeaders, HandleDragMovesByRoundedRows)
{
    const struct {
        int track;
        double dy;
        std::vector<int> order;  // indexes of the tracks before, in their new order; empty: no move
    } cases[] = {
        {0, 20, {1, 0, 2}},  {0, 19, {}},          {1, 150, {0, 2, 1}}, {1, -20, {1, 0, 2}},
        {2, -59, {0, 2, 1}}, {2, -100, {2, 0, 1}}, {0, 2, {}},          {1, -19.5, {}},
    };
    for (const auto& c : cases) {
        HeadersFixture f;
        const std::vector<Track> before = f.model->tracks();
        const std::string name = "track " + std::to_string(c.track) + " by " + std::to_string(c.dy);
        if (c.order.empty()) {
            EXPECT_TRUE(editChangesNothing(*f.model, [&](EditorModel&) { f.dragHandle(c.track, c.dy); })) << name;
            continue;
        }
        std::vector<Track> expected;
        for (int i : c.order) expected.push_back(before[std::size_t(i)]);
        EXPECT_TRUE(editGives(*f.model, [&](EditorModel&) { f.dragHandle(c.track, c.dy); }, expected)) << name;
        // Each header lies beside its track's row again.
        for (int i = 0; i < 3; ++i) EXPECT_EQ(f.headers->row(f.id(i))->y(), 24 + 40 * i) << name;
    }
}

TEST(TrackHeaders, SwitchesAreUndoableAndTheSliderIsNot)
{
    HeadersFixture f;
    QSlider* slider = f.headers->volumeSlider(f.id(2));
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(slider->toolTip().toStdString(), "Hangerő: 100 %");
    EXPECT_EQ(TrackHeaders::volumeTip(4).toStdString(), "Hangerő: 400 %");
    EXPECT_EQ(TrackHeaders::volumeTip(0.125f).toStdString(), "Hangerő: 13 %");
    EXPECT_EQ(f.headers->volumeSlider(f.id(0)), nullptr);

    // Dragging the slider: every value written at once, no undo step, and
    // the slider (with its row) survives each change of the tracks.
    QPointer<QSlider> held(slider);
    QWidget* row = f.headers->row(f.id(2));
    slider->setSliderDown(true);
    for (const int value : {120, 150, 90}) {
        const std::size_t steps = f.model->undoStack().size();
        slider->setValue(value);
        EXPECT_EQ(f.model->tracks()[2].volume, float(value) / 100);
        EXPECT_EQ(f.model->undoStack().size(), steps);
        ASSERT_FALSE(held.isNull());
        EXPECT_EQ(f.headers->row(f.id(2)), row);
        EXPECT_EQ(slider->value(), value);
        EXPECT_EQ(slider->toolTip().toStdString(), TrackHeaders::volumeTip(float(value) / 100).toStdString());
    }
    slider->setSliderDown(false);

    const auto flipped = [&](int track, auto change) {
        std::vector<Track> expected = f.model->tracks();
        change(expected[std::size_t(track)]);
        return expected;
    };
    QToolButton* mute = f.button(2, "Némítás");
    ASSERT_NE(mute, nullptr);
    EXPECT_TRUE(editGives(*f.model, [&](EditorModel&) { mute->click(); },
                          flipped(2, [](Track& t) { t.muted = true; })));
    EXPECT_EQ(mute->toolTip().toStdString(), "Hang be");
    QToolButton* max = f.button(2, "MAX");
    ASSERT_NE(max, nullptr);
    EXPECT_TRUE(editGives(*f.model, [&](EditorModel&) { max->click(); },
                          flipped(2, [](Track& t) { t.maximize = true; })));
    QToolButton* eye = f.button(1, "Elrejtés");
    ASSERT_NE(eye, nullptr);
    EXPECT_FALSE(f.button(2, "Elrejtés"));
    EXPECT_TRUE(editGives(*f.model, [&](EditorModel&) { eye->click(); },
                          flipped(1, [](Track& t) { t.hidden = true; })));
    EXPECT_EQ(eye->toolTip().toStdString(), "Megjelenítés");
}

// The slider changes by a drag only: a wheel over it goes on to the timeline.
TEST(TrackHeaders, TheVolumeSliderPassesTheWheelOn)
{
    HeadersFixture f;
    f.headers->show();
    QSlider* slider = f.headers->volumeSlider(f.id(2));
    ASSERT_NE(slider, nullptr);
    // The column hands every wheel over its rows on to the timeline.
    int reachedColumn = 0;
    QObject::connect(f.headers.get(), &TrackHeaders::wheelTurned, [&] { ++reachedColumn; });

    for (const QPoint delta : {QPoint(0, 120), QPoint(0, -120), QPoint(120, 0)})
        EXPECT_TRUE(editChangesNothing(*f.model, [&](EditorModel&) { testing::turnWheel(*slider, delta); }));
    EXPECT_EQ(slider->value(), 100);
    EXPECT_EQ(reachedColumn, 3);
}

TEST(TrackHeaders, RowsFollowTheTrackList)
{
    HeadersFixture f;
    QWidget* second = f.headers->row(f.id(1));
    f.model->deleteTrack(f.id(0));
    ASSERT_EQ(f.model->tracks().size(), 2u);
    EXPECT_EQ(f.headers->row(f.id(0)), second);  // kept, moved up
    EXPECT_EQ(second->y(), 24);
    f.model->duplicateTrack(f.id(1));
    ASSERT_EQ(f.model->tracks().size(), 3u);
    for (int i = 0; i < 3; ++i) {
        ASSERT_NE(f.headers->row(f.id(i)), nullptr);
        EXPECT_EQ(f.headers->row(f.id(i))->y(), 24 + 40 * i);
    }
    f.model->setTrackHeight(60);
    EXPECT_EQ(f.headers->row(f.id(2))->geometry(), QRect(0, 24 + 120, TrackHeaders::columnWidth, 60));
}

TEST(TrackHeaders, TapSelectsTheTrackAndMenuEntries)
{
    HeadersFixture f;
    f.model->selectClip(f.model->tracks()[0].clips[0].id, false, false);
    QWidget* row = f.headers->row(f.id(1));
    const QPointF at(100, 20);
    QMouseEvent press(QEvent::MouseButtonPress, at, row->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(row, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, row->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(row, &release);
    EXPECT_EQ(f.model->selectedTrackID(), f.id(1));
    EXPECT_TRUE(f.model->selectedClips().empty());

    // The handle is part of the header: a click on it, or a slip short of a
    // drag, selects its track and moves nothing.
    for (const double dy : {0.0, 2.0}) {
        f.model->selectClip(f.model->tracks()[0].clips[0].id, false, false);
        const std::size_t steps = f.model->undoStack().size();
        f.dragHandle(2, dy);
        EXPECT_EQ(f.model->selectedTrackID(), f.id(2)) << dy;
        EXPECT_TRUE(f.model->selectedClips().empty()) << dy;
        EXPECT_EQ(f.model->undoStack().size(), steps) << dy;
    }
    const Uuid first = f.id(0);
    f.model->setSelectedTrackID(first);
    f.dragHandle(1, 20);
    EXPECT_EQ(f.model->selectedTrackID(), first) << "a drag is no click";

    const struct {
        int track;
        std::vector<bool> enabled;  // Feljebb, Lejjebb, Sáv duplikálása, Sáv törlése
    } cases[] = {{0, {false, true, true, true}}, {1, {true, true, true, true}}, {2, {true, false, true, true}}};
    for (const auto& c : cases) {
        QMenu menu;
        f.headers->fillMenu(f.id(c.track), menu);
        std::vector<bool> enabled;
        QStringList texts;
        for (QAction* action : menu.actions()) {
            if (action->isSeparator()) continue;
            texts << action->text();
            enabled.push_back(action->isEnabled());
        }
        EXPECT_EQ(texts.join('|').toStdString(), "Feljebb|Lejjebb|Sáv duplikálása|Sáv törlése");
        EXPECT_EQ(enabled, c.enabled) << c.track;
    }
}

TEST(TrackHeaders, KindSymbols)
{
    const auto track = [](MediaKind kind, int index, bool fromRecording) {
        Track t = trackWith("T", {}, kind);
        t.media.index = index;
        t.fromRecording = fromRecording;
        return t;
    };
    const struct {
        Track track;
        const char* symbol;
    } cases[] = {
        {track(MediaKind::video, 0, true), "display"},  {track(MediaKind::video, 1, true), "video"},
        {track(MediaKind::video, 0, false), "video"},   {track(MediaKind::audio, 0, true), "waveform"},
        {track(MediaKind::image, 0, false), "photo"},   {track(MediaKind::effects, 0, false), "textformat"},
    };
    for (const auto& c : cases) EXPECT_EQ(TrackHeaders::symbolFor(c.track).toStdString(), c.symbol);
}

// --- A whole timeline to look at ---

TEST(TimelineScreenshot, FixtureTimeline)
{
    TempFolder folder;
    const MediaRef screen{testing::kMediaPath, MediaKind::video, 0};
    const MediaRef sound{testing::kMediaPath, MediaKind::audio, 0};

    Track effects = trackWith("Effektek", {}, MediaKind::effects);
    Clip title = clipAt(0.5, 2.5, 0, MediaKind::effects);
    title.media.reset();
    title.overlay = Overlay{};
    title.overlay->text = "Bevezető";
    Clip arrow = clipAt(4, 1.5, 0, MediaKind::effects);
    arrow.media.reset();
    arrow.overlay = Overlay{};
    arrow.overlay->kind = OverlayKind::arrow;
    effects.clips = {title, arrow};

    Track video = trackWith("Képernyő", {});
    video.fromRecording = true;
    Clip first = clipAt(0, 3.2);
    first.link = Uuid::random();
    first.fadeIn = 0.6;
    TrackAction zoom;
    zoom.start = 0.8;
    zoom.end = 2.6;
    zoom.scale = 1.5;
    zoom.rotation = 30;
    zoom.centerX = 0.3;
    zoom.volume = 0.8f;
    first.actions = {zoom};
    Clip second = clipAt(2.4, 2.6, 3);
    second.transition = Transition::wipe;
    Clip third = clipAt(6.2, 2.8, 6);
    TrackAction plain;
    plain.start = 0.5;
    plain.end = 1.4;
    third.actions = {plain};
    third.fadeOut = 0.8;
    video.clips = {first, second, third};

    Track voice = trackWith("Mikrofon", {}, MediaKind::audio);
    voice.fromRecording = true;
    Clip talk = clipAt(0, 5, 0, MediaKind::audio);
    talk.link = first.link;
    Clip later = clipAt(6.2, 2.8, 6, MediaKind::audio);
    later.fadeIn = 0.5;
    voice.clips = {talk, later};
    voice.volume = 1.4f;

    auto model = editorWith(folder.path, {effects, video, voice});
    model->setMarkIn(1.0);
    model->setMarkOut(2.0);
    model->selectGap(model->tracks()[1].id, 5.5);
    model->setSelectedClips({model->tracks()[1].clips[2].id});
    model->setSelectedActionID(model->tracks()[1].clips[0].actions[0].id);

    TimelineSnapshot snapshot = TimelineSnapshot::of(*model, 100, 0, QSize(1000, 168));
    // A filmstrip of coloured frames and a speech-like waveform.
    std::vector<Thumbnail> frames;
    for (int i = 0; i < 20; ++i) {
        QImage image(160, 90, QImage::Format_RGB32);
        image.fill(QColor::fromHsv((i * 37) % 360, 120, 200));
        QPainter painter(&image);
        painter.fillRect(QRect(10, 10, 90, 8), Qt::white);
        painter.fillRect(QRect(10, 26, 120, 6), QColor(40, 40, 40));
        frames.push_back({i * 0.5, image});
    }
    snapshot.thumbnails[screen] = frames;
    std::vector<float> peaks(50 * 10);
    for (std::size_t i = 0; i < peaks.size(); ++i)
        peaks[i] = float(0.15 + 0.6 * std::abs(std::sin(double(i) * 0.07)) * (0.6 + 0.4 * std::sin(double(i) * 0.011)));
    peaks[120] = peaks[121] = 1.0f;  // a loud spot, over the limit at 140 %
    snapshot.peaks[sound] = peaks;
    snapshot.gap = EditorModel::Gap{model->tracks()[1].id, 5.0, 6.2};
    snapshot.matrix = QRectF(10 + 3.6 * 100, 24, 110, 80);

    TrackHeaders headers(*model);
    headers.resize(TrackHeaders::columnWidth, 168);
    PlayheadClock& clock = model->clock();
    clock.setTime(3.5);

    // At 1× and, to look at closely, at 2×.
    for (const int ratio : {1, 2}) {
        QImage sheet(QSize(TrackHeaders::columnWidth + 1 + 1000, 168) * ratio, QImage::Format_ARGB32_Premultiplied);
        sheet.setDevicePixelRatio(ratio);
        sheet.fill(Theme::background());
        QPainter painter(&sheet);
        headers.render(&painter, QPoint(0, 0));
        painter.fillRect(QRect(TrackHeaders::columnWidth, 0, 1, 168), QColor(0, 0, 0));
        painter.translate(TrackHeaders::columnWidth + 1, 0);
        paintTimeline(painter, snapshot, QSize(1000, 168));
        // The playhead overlay, as the canvas's child shows it.
        painter.fillRect(QRectF(clock.time() * 100 + 10 - 1, 0, 2, 168), Theme::red());
        painter.end();
#ifdef ONDEXA_SCREENSHOTS
        QDir(QStringLiteral(ONDEXA_SCREENSHOTS)).mkpath(".");
        sheet.save(QStringLiteral(ONDEXA_SCREENSHOTS "/timeline_fixture%1.png").arg(ratio == 1 ? "" : "@2x"));
#endif
    }
    SUCCEED();
}

} // namespace
} // namespace ondexa
