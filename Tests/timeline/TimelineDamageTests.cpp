// A change of the model redraws only the part of the timeline it touched:
// what the partly redrawn picture shows must be what a whole redraw shows.

#include "EditTestSupport.h"

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/timeline/TimelineBands.h"
#include "Ondexa/timeline/TimelineCanvas.h"
#include "Ondexa/timeline/TimelinePainting.h"
#include "Ondexa/timeline/TrackHeaders.h"
#include "support/TempFolder.h"
#include "support/WidgetTestApplication.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <functional>
#include <string>

namespace ondexa {
namespace {

using testing::clipAt;
using testing::editorWith;
using testing::TempFolder;
using testing::trackWith;

// Where two pictures of one size differ first, or nothing. Text cut by the
// edge of a redrawn area is blended by another path of the paint engine:
// its pixels may differ by one level.
std::string firstDifference(const QImage& a, const QImage& b, int tolerance = 0)
{
    if (a.size() != b.size()) return "the sizes differ";
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row);
            const QRgb q = y.pixel(col, row);
            if (std::abs(qRed(p) - qRed(q)) > tolerance || std::abs(qGreen(p) - qGreen(q)) > tolerance
                || std::abs(qBlue(p) - qBlue(q)) > tolerance)
                return "(" + std::to_string(col) + ", " + std::to_string(row) + ")";
        }
    return {};
}

// Picture, sound and effects tracks with overlaps (transitions and automatic
// cross-fades), fades, actions and a link.
std::vector<Track> busyTracks()
{
    Clip faded = clipAt(0.5, 2);
    faded.fadeIn = 0.4;
    faded.fadeOut = 0.3;
    TrackAction grow;
    grow.start = 0.2;
    grow.end = 1.4;
    grow.scale = 1.5;
    faded.actions = {grow};
    Clip next = clipAt(2.2, 1.5, 4);
    next.transition = Transition::wipe;
    Clip loud = clipAt(1, 3, 0, MediaKind::audio);
    TrackAction quiet;
    quiet.start = 0.5;
    quiet.end = 2;
    quiet.volume = 0.4f;
    loud.actions = {quiet};
    loud.link = Uuid::random();
    Clip overlay = clipAt(3, 2.5);
    overlay.media.reset();
    overlay.overlay = Overlay{};
    overlay.overlay->kind = OverlayKind::text;
    overlay.overlay->text = "Felirat";
    return {trackWith("Képernyő", {faded, next, clipAt(4, 3, 1)}),
            trackWith("Hang", {loud, clipAt(3.6, 2, 5, MediaKind::audio)}, MediaKind::audio),
            trackWith("Effektek", {overlay}, MediaKind::effects),
            trackWith("Kamera", {clipAt(0.2, 1.8), clipAt(1.8, 2), clipAt(3.9, 1)})};
}

// busyTracks scrolled, with waveforms, filmstrips, a selection, a selected
// action, marks and a gap.
TimelineSnapshot busySnapshot(QSize size)
{
    TimelineSnapshot s;
    s.tracks = busyTracks();
    s.tracks[0].clips[0].start = -0.37;  // starts left of the canvas
    s.selectedClips = {s.tracks[0].clips[1].id, s.tracks[1].clips[0].id};
    s.selectedAction = s.tracks[0].clips[0].actions[0].id;
    s.markIn = 1.25;
    s.markOut = 3.5;
    s.gap = EditorModel::Gap{s.tracks[3].id, 2.0, 3.9};
    std::vector<float> peaks(400);
    for (std::size_t i = 0; i < peaks.size(); ++i) peaks[i] = float(0.6 + 0.55 * std::sin(double(i) * 0.7));
    s.peaks[MediaRef{testing::kMediaPath, MediaKind::audio, 0}] = peaks;
    std::vector<Thumbnail> thumbs;
    for (int i = 0; i < 8; ++i) {
        QImage picture(32, 18, QImage::Format_RGB32);
        picture.fill(QColor::fromHsv(i * 40, 200, 220));
        thumbs.push_back(Thumbnail{double(i), picture});
    }
    s.thumbnails[MediaRef{testing::kMediaPath, MediaKind::video, 0}] = thumbs;
    s.pps = 137.3;
    s.scrollX = 23.6;
    s.scrollY = 7;
    s.size = size;
    return s;
}

// Drawn over anything, an area shows exactly what the whole drawing shows
// there: waveform bars and filmstrip tiles keep their grid, shapes that
// reach in from outside (grips, strokes, action bars, transitions) are there.
TEST(TimelineDamage, AnAreaDrawnAloneMatchesTheWholeDrawing)
{
    const QSize size(900, 190);
    const TimelineSnapshot s = busySnapshot(size);

    QImage whole(size, QImage::Format_RGB32);
    {
        QPainter painter(&whole);
        paintTimelineBack(painter, s, size);
    }
    // Another picture first, then the areas over it.
    TimelineSnapshot other = s;
    other.tracks = {trackWith("Más", {clipAt(0, 9)})};
    other.selectedClips.clear();
    other.gap.reset();
    QImage patched(size, QImage::Format_RGB32);
    QPainter painter(&patched);
    paintTimelineBack(painter, other, size);
    const QRect areas[] = {{0, 30, 97, 40},  {131, 24, 77, 120}, {251, 60, 203, 70}, {333, 0, 51, 190},
                           {460, 27, 33, 150}, {509, 100, 181, 90}, {700, 24, 200, 166}};
    for (const QRect& area : areas) paintTimelineBack(painter, s, size, area);
    painter.end();
    for (const QRect& area : areas)
        EXPECT_EQ(firstDifference(patched.copy(area), whole.copy(area)), "")
            << "area " << area.x() << ", " << area.y() << ", " << area.width() << " × " << area.height();
}

// A picture of `other` at `ratio`, then `draw` over it.
QImage drawnOver(const TimelineSnapshot& other, qreal ratio, const std::function<void(QImage&)>& draw)
{
    QImage image(other.size * ratio, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    {
        QPainter painter(&image);
        paintTimelineBack(painter, other, other.size);
    }
    draw(image);
    return image;
}

// Bands drawn by several threads at once, each with a painter of its own,
// leave exactly the pixels one painter leaves, whole or in part: at the
// bands' edges and nowhere outside what was to be drawn, at device pixel
// ratios 1 and 2 (at 1.5 one painter draws).
TEST(TimelineDamage, BandsDrawnTogetherMatchOneDrawing)
{
    const QSize size(900, 620);
    TimelineSnapshot s = busySnapshot(size);
    // Four times the rows.
    const std::vector<Track> rows = s.tracks;
    for (int i = 0; i < 3; ++i) s.tracks.insert(s.tracks.end(), rows.begin(), rows.end());
    s.trackHeight = 37;
    TimelineSnapshot other = s;
    other.tracks = {trackWith("Más", {clipAt(0, 9)})};
    other.selectedClips.clear();
    other.gap.reset();
    TimelineBands bands(3);

    const QRegion everything(QRect(QPoint(0, 0), size));
    QRegion damage;
    for (const QRect& rect : {QRect(40, 0, 300, 22), QRect(131, 24, 77, 500), QRect(251, 60, 403, 170),
                              QRect(700, 301, 200, 319), QRect(0, 590, 900, 30)})
        damage += rect;
    // Scrolled by fractions: rows meet between pixel rows, and a band's
    // painter draws the neighbouring rows' edges there too.
    for (const auto& [ratio, scrollY] : {std::pair(1.0, 7.0), std::pair(1.0, 12.6), std::pair(1.0, 24.9),
                                         std::pair(2.0, 7.0), std::pair(2.0, 19.3), std::pair(2.0, 34.28),
                                         std::pair(1.5, 7.0)}) {
        s.scrollY = other.scrollY = scrollY;
        s.scrollX = other.scrollX = 23.6 + scrollY * 3.1;
        for (const QRegion& area : {everything, damage}) {
            const QImage alone = drawnOver(other, ratio, [&](QImage& image) {
                QPainter painter(&image);
                for (const QRect& rect : area) paintTimelineBack(painter, s, size, rect);
            });
            const QImage together = drawnOver(other, ratio, [&](QImage& image) { bands.paint(image, s, size, area); });
            EXPECT_EQ(firstDifference(together, alone), "")
                << "at ratio " << ratio << ", scrolled " << scrollY << (area == everything ? ", whole" : ", in part");
        }
    }
    s.scrollY = other.scrollY = 7;
    s.scrollX = other.scrollX = 23.6;
    const QImage shared = drawnOver(other, 1, [&](QImage& image) { TimelineBands::shared()->paint(image, s, size, damage); });
    const QImage alone = drawnOver(other, 1, [&](QImage& image) {
        QPainter painter(&image);
        for (const QRect& rect : damage) paintTimelineBack(painter, s, size, rect);
    });
    EXPECT_EQ(firstDifference(shared, alone), "");

    // The bands cover what is to be drawn once, and no band's edge cuts
    // through a row: the ruler, then whole rows.
    s.scrollY = 12.6;
    const std::vector<QRegion> parts = TimelineBands::bands(damage, s.trackHeight, s.scrollY);
    QRegion covered;
    for (const QRegion& part : parts) {
        EXPECT_TRUE((covered & part).isEmpty()) << "bands overlap at y " << part.boundingRect().top();
        covered += part;
        const QRect box = part.boundingRect();
        for (int row = 1; row < 20; ++row) {
            const long long edge = std::llround(rulerHeight + row * s.trackHeight - s.scrollY);
            EXPECT_FALSE(box.top() < edge && edge <= box.bottom()) << "a band across y " << edge;
        }
    }
    EXPECT_TRUE((covered ^ damage).isEmpty());
    EXPECT_GE(parts.size(), std::size_t(16));
}

// A canvas that has drawn once redraws in part after each edit; beside it a
// canvas redrawn whole each time. Both must show the same picture.
struct DamageFixture {
    TempFolder folder;
    std::unique_ptr<EditorModel> model;
    std::unique_ptr<TimelineCanvas> partly;
    std::unique_ptr<TimelineCanvas> whole;

    DamageFixture()
    {
        model = editorWith(folder.path, busyTracks());
        model->setRebuildStub([](double) {});
        for (auto* canvas : {&partly, &whole}) {
            *canvas = std::make_unique<TimelineCanvas>(*model);
            (*canvas)->resize(1000, 190);
            (*canvas)->setView(120, 15, 4);
            (*canvas)->show();
        }
        QApplication::processEvents();
        (void)partly->grab();
    }

    // The partly redrawn picture after `edit`, against the whole one.
    ::testing::AssertionResult sameAfter(const std::function<void()>& edit)
    {
        const int full = partly->fullRedrawCount();
        const int redraws = partly->redrawCount();
        edit();
        QApplication::processEvents();
        const QImage shown = partly->grab().toImage();
        whole->invalidate();
        const QImage expected = whole->grab().toImage();
        if (partly->fullRedrawCount() != full) return ::testing::AssertionFailure() << "it was redrawn whole";
        if (partly->redrawCount() == redraws) return ::testing::AssertionFailure() << "nothing was redrawn";
        const std::string at = firstDifference(shown, expected, 1);
        if (!at.empty()) return ::testing::AssertionFailure() << "the pictures differ at " << at;
        return ::testing::AssertionSuccess();
    }
};

TEST(TimelineDamage, DragSplitAndUndoRedrawInPartAsAWhole)
{
    DamageFixture f;
    EditorModel& m = *f.model;
    const Clip dragged = m.tracks()[0].clips[1];

    // A clip drag: one undo step, then each step from the drag's start.
    EXPECT_TRUE(f.sameAfter([&] {
        m.pushUndo();
        m.moveClip(dragged, MediaKind::video, 0.3, std::nullopt, 0);
    }));
    EXPECT_TRUE(f.sameAfter([&] { m.moveClip(dragged, MediaKind::video, -1.1, std::nullopt, 0); }));
    // Past its neighbours' starts, and onto another picture track.
    EXPECT_TRUE(f.sameAfter([&] { m.moveClip(dragged, MediaKind::video, 2.5, std::nullopt, 0); }));
    EXPECT_TRUE(f.sameAfter([&] { m.moveClip(dragged, MediaKind::video, 0.2, 3, 0); }));
    m.endClipDrag();

    // A split at the playhead cuts every clip under it, on every track.
    m.clock().setTime(3.95);
    EXPECT_TRUE(f.sameAfter([&] { m.splitAtPlayhead(); }));
    EXPECT_TRUE(f.sameAfter([&] { m.undo(); }));
    EXPECT_TRUE(f.sameAfter([&] { m.undo(); }));
    EXPECT_TRUE(f.sameAfter([&] { m.redo(); }));
}

TEST(TimelineDamage, SelectionMarksGapAndTrackChangesRedrawInPart)
{
    DamageFixture f;
    EditorModel& m = *f.model;
    const Track& sound = m.tracks()[1];
    EXPECT_TRUE(f.sameAfter([&] { m.selectClip(m.tracks()[0].clips[2].id, false, false); }));
    EXPECT_TRUE(f.sameAfter([&] { m.selectClip(sound.clips[1].id, true, false); }));
    EXPECT_TRUE(f.sameAfter([&] { m.setSelectedActionID(m.tracks()[0].clips[0].actions[0].id); }));
    EXPECT_TRUE(f.sameAfter([&] { m.setSelectedTrackID(m.tracks()[2].id); }));
    EXPECT_TRUE(f.sameAfter([&] { m.setGap(EditorModel::Gap{m.tracks()[3].id, 2.0, 3.9}); }));
    EXPECT_TRUE(f.sameAfter([&] { m.setMarkIn(1.5); }));
    EXPECT_TRUE(f.sameAfter([&] { m.setMarkOut(5.25); }));
    EXPECT_TRUE(f.sameAfter([&] { m.setMarkIn(6.0); }));
    // A hidden track, a muted one and a new name redraw their rows.
    for (const auto& change : std::vector<std::function<void(Track&)>>{
             [](Track& t) { t.hidden = true; }, [](Track& t) { t.muted = true; }, [](Track& t) { t.name = "Új"; }}) {
        EXPECT_TRUE(f.sameAfter([&] {
            std::vector<Track> tracks = m.tracks();
            change(tracks[1]);
            m.setTracks(tracks);
        }));
    }
}

// Counts the paint events of a widget and its children.
class PaintCount : public QObject {
public:
    int paints = 0;
    void watch(QWidget& widget)
    {
        widget.installEventFilter(this);
        for (QWidget* child : widget.findChildren<QWidget*>()) child->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) ++paints;
        return QObject::eventFilter(watched, event);
    }
};

TEST(TimelineDamage, AnEditOfClipsRepaintsNoTrackHeader)
{
    TempFolder folder;
    auto model = editorWith(folder.path, busyTracks());
    model->setRebuildStub([](double) {});
    TrackHeaders headers(*model);
    headers.resize(TrackHeaders::columnWidth, 200);
    headers.show();
    QApplication::processEvents();
    PaintCount count;
    count.watch(headers);

    model->clock().setTime(4.5);
    const std::size_t before = model->tracks()[0].clips.size();
    model->splitAtPlayhead();
    ASSERT_GT(model->tracks()[0].clips.size(), before);
    model->undo();
    QApplication::processEvents();
    EXPECT_EQ(count.paints, 0);

    std::vector<Track> tracks = model->tracks();
    tracks[1].name = "Új név";
    model->setTracks(tracks);
    QApplication::processEvents();
    EXPECT_GT(count.paints, 0) << "a new name is shown";
}

} // namespace
} // namespace ondexa
