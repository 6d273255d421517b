#pragma once

// What the mouse does on the timeline area, without a widget: the left-button
// drag machine (scrub, select, move, trim, fade, action drags, rubber band,
// matrix edges), the right-button matrix and the wheel. Fed the area's
// events in visible coordinates; works in content coordinates (visible x +
// scrollX, visible y + scrollY; the ruler stays put, so a left press on it
// keeps its visible y). Edits go through the model's operations only: one undo step when
// a press first becomes a movement, each change recomputed from the
// press-time copies with the whole movement since the press.
//
// It never scrolls by itself: it asks (scrollRequested) and learns the
// result through setView.

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/model/Timeline.h"

#include <QObject>
#include <QPointF>
#include <QRectF>

#include <optional>
#include <set>
#include <variant>
#include <vector>

namespace ondexa {

// The left-button drag in progress, decided at the press.
struct TimelineDrag {
    // An action bar; mode 0 moves it, 1 its start edge, 2 its end edge.
    struct ActionBar {
        TrackAction action;
        int mode = 0;
        bool moved = false;
    };
    // One clip; kind is its track's; mode 0 moves it, 1 trims the front, 2 the end.
    struct OneClip {
        Clip clip;
        MediaKind kind = MediaKind::video;
        int mode = 0;
        bool moved = false;
    };
    // Every selected clip, moving with the grabbed one.
    struct Group {
        std::vector<Clip> clips;
        Clip grabbed;
        bool moved = false;
    };
    struct FadeGrip {
        Clip clip;
        bool front = true;  // the fade-in grip
        bool moved = false;
    };
    // A rubber band; extend adds to the selection.
    struct Marquee {
        bool extend = false;
    };
    // An edge of the matrix rectangle as it was at the press.
    struct MatrixEdge {
        bool start = true;
        QRectF original;
    };
    // The playhead follows the pointer (ruler, or below the last row).
    struct Scrub {};
    // The press was used up by a matrix cut.
    struct Ignore {};

    using State = std::variant<ActionBar, OneClip, Group, FadeGrip, Marquee, MatrixEdge, Scrub, Ignore>;
    State state;
    QPointF start;  // the press, in content coordinates
};

class TimelineInteraction final : public QObject {
    Q_OBJECT

public:
    // The view the events are read in: zoom, scroll offsets, visible and content sizes.
    struct View {
        double pps = 100;
        double scrollX = 0;
        double width = 0;
        double contentWidth = 0;
        double scrollY = 0;        // of the rows under the ruler
        double height = 0;         // of the area, ruler included
        double contentHeight = 0;  // ruler, rows and the room under them
    };
    // One mouse event of the area.
    struct Pointer {
        QPointF position;  // visible coordinates of the area
        Qt::MouseButton button = Qt::NoButton;  // the button that changed (none for a move)
        Qt::MouseButtons buttons;               // held after the event
        Qt::KeyboardModifiers modifiers;
        quint64 timestamp = 0;  // milliseconds
    };
    struct Wheel {
        QPointF position;
        QPoint pixelDelta;  // non-null: precise deltas
        QPoint angleDelta;  // eighths of a degree
        Qt::KeyboardModifiers modifiers;
    };

    static constexpr double snapPoints = 8;  // snapping tolerance on screen
    static constexpr double edgeZone = 30;   // auto-scroll and playhead-follow margin
    // At the least zoom this many seconds (three hours) fill the timeline width.
    static constexpr double zoomSpan = 10800;
    static constexpr double maxPps = 4000;
    static constexpr double minTrackHeight = EditorModel::minTrackHeight;
    static constexpr double maxTrackHeight = EditorModel::maxTrackHeight;

    explicit TimelineInteraction(EditorModel& model, QObject* parent = nullptr);

    void setView(const View& view) { view_ = view; }
    const View& view() const { return view_; }
    // Presses closer in time than this (ms) and nearer than the distance count on.
    void setDoubleClick(int interval, double distance);

    void press(const Pointer& pointer);
    void move(const Pointer& pointer);
    void release(const Pointer& pointer);
    // Every wheel event is taken: zoom (Alt), track height (Ctrl) or
    // scrolling: sideways with Shift or a horizontal wheel, else the rows.
    void wheel(const Wheel& wheel);
    // The rows' share of a wheel, also over their headers: a notch moves them by one row.
    void wheelRows(const Wheel& wheel);

    const std::optional<TimelineDrag>& drag() const { return drag_; }
    // In content coordinates.
    const std::optional<QRectF>& matrix() const { return matrix_; }
    const std::optional<QRectF>& marquee() const { return marquee_; }
    const std::optional<QPointF>& matrixStart() const { return matrixStart_; }
    // Sets the rectangle and the model's matrix selection under it.
    void setMatrix(std::optional<QRectF> rect);
    // Presses of the left button counted as one click, double click, …
    int clickCount() const { return clicks_; }

    // Geometry of the rows: the row under y clamped to the tracks (0 without
    // any), and the row under y or none (ruler, below the last row).
    int rowIndex(double y) const;
    std::optional<int> row(double y) const;

signals:
    void matrixChanged();
    void marqueeChanged();
    // The view should scroll to this content x (the scroll bar limits it).
    void scrollRequested(double x);
    // The rows should scroll to this offset.
    void rowScrollRequested(double y);

private:
    QPointF content(QPointF visible) const { return {visible.x() + view_.scrollX, visible.y() + view_.scrollY}; }
    double timeAt(double x) const { return (x - 10) / view_.pps; }
    double tolerance() const { return snapPoints / view_.pps; }
    void pause();
    // Limited to the edit, shown at once, then sought.
    void movePlayhead(double t);
    // The ids of the tracks whose rows the rectangle covers.
    std::set<Uuid> matrixTracks(const QRectF& rect) const;
    void setMarquee(std::optional<QRectF> rect);
    int countClick(const Pointer& pointer);

    TimelineDrag::State startDrag(QPointF p, Qt::KeyboardModifiers modifiers);
    void dragChanged(QPointF location);
    // Whether the drag in progress scrolls the view near its edges.
    bool followsPointer() const;
    void followDrag(QPointF location);
    // Rows scroll near the top and bottom edges while a drag goes on.
    void followRows(QPointF location);
    void dragEnded(QPointF location);
    void selectClips(const QRectF& rect, bool extend);
    void rightDragged(QPointF location);

    EditorModel& model_;
    View view_;
    std::optional<TimelineDrag> drag_;
    std::optional<QRectF> matrix_;
    std::optional<QRectF> marquee_;
    std::optional<QPointF> matrixStart_;

    int clicks_ = 0;
    quint64 lastPressTime_ = 0;
    QPointF lastPressAt_;
    int doubleClickInterval_ = 400;
    double doubleClickDistance_ = 5;
};

} // namespace ondexa
