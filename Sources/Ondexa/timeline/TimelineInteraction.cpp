#include "Ondexa/timeline/TimelineInteraction.h"

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/timeline/TimelineSnapshot.h"
#include "Platform/media/MediaTime.h"

#include <algorithm>
#include <cmath>

namespace ondexa {

namespace {

// Hit zones on screen, in points.
constexpr double fadeGripZone = 7;
constexpr double edgeGrab = 6;     // clip and action edges and ends
constexpr double fadeGripRow = 15;  // grips sit in the top of a row
constexpr double actionBarRow = 14;
constexpr double matrixHandleX = 8;
constexpr double matrixHandleY = 16;
constexpr double matrixMinWidth = 4;
// A press becomes a movement past these.
constexpr double clipThresholdX = 2;
constexpr double clipThresholdY = 6;
constexpr double fadeThreshold = 1;
// Narrower or lower rubber bands and matrices count as clicks.
constexpr double clickBand = 3;
constexpr double autoScrollStep = 12;
constexpr double autoScrollOvershoot = 40;
// Narrower than the horizontal margin: rows are short, and the first and
// last visible row must stay usable without the view running off.
constexpr double rowEdgeZone = 16;

} // namespace

TimelineInteraction::TimelineInteraction(EditorModel& model, QObject* parent) : QObject(parent), model_(model) {}

void TimelineInteraction::setDoubleClick(int interval, double distance)
{
    doubleClickInterval_ = interval;
    doubleClickDistance_ = distance;
}

int TimelineInteraction::rowIndex(double y) const
{
    const int count = int(model_.tracks().size());
    const double h = model_.trackHeight();
    const double raw = (y - 24) / h;
    // Truncated towards zero, clamped; far values are clamped before the conversion.
    const double truncated = std::isfinite(raw) ? std::trunc(std::clamp(raw, -1e9, 1e9)) : 0;
    int i = int(truncated);
    i = std::min(i, count - 1);
    return std::max(i, 0);
}

std::optional<int> TimelineInteraction::row(double y) const
{
    if (y < 24) return std::nullopt;
    const double raw = (y - 24) / model_.trackHeight();
    if (!(raw < double(model_.tracks().size()))) return std::nullopt;
    return int(raw);
}

void TimelineInteraction::pause() { model_.player().pause(); }

void TimelineInteraction::movePlayhead(double t)
{
    if (!(t >= 0)) t = 0;
    t = std::min(t, model_.duration());
    model_.clock().setTime(t);
    model_.player().seek(platform::MediaTime::fromSeconds(t));
}

std::set<Uuid> TimelineInteraction::matrixTracks(const QRectF& rect) const
{
    // Whole rows inside the rectangle; tracks removed since it was drawn don't count.
    const auto& tracks = model_.tracks();
    std::set<Uuid> ids;
    const int first = rowIndex(rect.top() + 1);
    const int last = rowIndex(rect.bottom() - 1);
    for (int i = first; i <= last && i < int(tracks.size()); ++i) ids.insert(tracks[std::size_t(i)].id);
    return ids;
}

void TimelineInteraction::setMatrix(std::optional<QRectF> rect)
{
    if (rect == matrix_) return;
    matrix_ = rect;
    std::optional<EditorModel::MatrixSelection> selection;
    if (matrix_ && matrix_->width() > clickBand) {
        auto ids = matrixTracks(*matrix_);
        if (!ids.empty())
            selection = EditorModel::MatrixSelection{std::max(timeAt(matrix_->left()), 0.0), timeAt(matrix_->right()),
                                                     std::move(ids)};
    }
    model_.setMatrixSelection(std::move(selection));
    emit matrixChanged();
}

void TimelineInteraction::setMarquee(std::optional<QRectF> rect)
{
    if (rect == marquee_) return;
    marquee_ = rect;
    emit marqueeChanged();
}

int TimelineInteraction::countClick(const Pointer& pointer)
{
    const QPointF d = pointer.position - lastPressAt_;
    const bool again = clicks_ > 0 && pointer.timestamp >= lastPressTime_
                       && pointer.timestamp - lastPressTime_ <= quint64(doubleClickInterval_)
                       && std::hypot(d.x(), d.y()) <= doubleClickDistance_;
    clicks_ = again ? clicks_ + 1 : 1;
    lastPressTime_ = pointer.timestamp;
    lastPressAt_ = pointer.position;
    return clicks_;
}

// --- Left button ---

void TimelineInteraction::press(const Pointer& pointer)
{
    QPointF p = content(pointer.position);
    if (pointer.button == Qt::RightButton) {
        matrixStart_ = p;
        setMatrix(std::nullopt);
        return;
    }
    if (pointer.button != Qt::LeftButton) return;
    countClick(pointer);
    if (drag_) return;  // a press while the drag is still on: the first one goes on
    // The ruler does not scroll: a press on it is a press on the ruler.
    if (pointer.position.y() < rulerHeight) p.setY(pointer.position.y());
    TimelineDrag::State state = startDrag(p, pointer.modifiers);
    drag_ = TimelineDrag{std::move(state), p};
    // The press is the drag's first change.
    dragChanged(p);
    followDrag(p);
}

void TimelineInteraction::move(const Pointer& pointer)
{
    const QPointF p = content(pointer.position);
    if (drag_ && (pointer.buttons & Qt::LeftButton)) {
        dragChanged(p);
        followDrag(p);
        // Not at the press: a click near an edge leaves the rows where they are.
        if (followsPointer() && !std::holds_alternative<TimelineDrag::Scrub>(drag_->state)) followRows(p);
    }
    if (matrixStart_ && (pointer.buttons & Qt::RightButton)) {
        rightDragged(p);
        followRows(p);
    }
}

void TimelineInteraction::release(const Pointer& pointer)
{
    const QPointF p = content(pointer.position);
    if (pointer.button == Qt::RightButton) {
        if (!matrixStart_) return;
        matrixStart_.reset();
        if (matrix_ && matrix_->width() < clickBand) setMatrix(std::nullopt);
        return;
    }
    if (pointer.button == Qt::LeftButton && drag_) dragEnded(p);
}

TimelineDrag::State TimelineInteraction::startDrag(QPointF p, Qt::KeyboardModifiers modifiers)
{
    const double pps = view_.pps;
    const double t = timeAt(p.x());

    if (matrix_) {
        const QRectF m = *matrix_;
        const bool level = std::abs(p.y() - m.center().y()) <= matrixHandleY;
        if (level && std::abs(p.x() - m.left()) <= matrixHandleX) return TimelineDrag::MatrixEdge{true, m};
        if (level && std::abs(p.x() - m.right()) <= matrixHandleX) return TimelineDrag::MatrixEdge{false, m};
        setMatrix(std::nullopt);
        // Left and top edges inside, right and bottom outside.
        if (p.x() >= m.left() && p.x() < m.right() && p.y() >= m.top() && p.y() < m.bottom()) {
            const auto ids = matrixTracks(m);
            if (!ids.empty()) model_.cutMatrix(timeAt(m.left()), timeAt(m.right()), ids);
            return TimelineDrag::Ignore{};
        }
    }

    const auto r = row(p.y());
    if (!r) return TimelineDrag::Scrub{};
    // A copy: the cases keep press-time copies, and the calls below emit.
    const Track track = model_.tracks()[std::size_t(*r)];
    const double ly = p.y() - 24 - model_.trackHeight() * *r;

    if (ly <= fadeGripRow) {
        const double zone = fadeGripZone / pps;
        for (const Clip& c : track.clips) {
            const double gIn = c.start + c.fadeIn;
            const double gOut = c.start + c.duration - c.fadeOut;
            bool front;
            if (std::abs(t - gIn) <= zone && t < gOut) front = true;
            else if (std::abs(t - gOut) <= zone && gIn < t) front = false;
            else continue;
            pause();
            model_.selectClip(c.id, false, true);
            return TimelineDrag::FadeGrip{c, front, false};
        }
    }

    const double grab = edgeGrab / pps;
    if (ly <= actionBarRow) {
        for (const Clip& c : track.clips) {
            for (auto a = c.actions.rbegin(); a != c.actions.rend(); ++a) {
                if (!(c.start + a->start - grab <= t && t <= c.start + a->end + grab)) continue;
                pause();
                model_.selectAction(a->id);
                const int mode = std::abs(t - (c.start + a->start)) <= grab ? 1
                                 : std::abs(t - (c.start + a->end)) <= grab ? 2
                                                                            : 0;
                return TimelineDrag::ActionBar{*a, mode, false};
            }
        }
    }

    const bool extend = modifiers & (Qt::ShiftModifier | Qt::ControlModifier);
    const bool single = modifiers & Qt::AltModifier;
    for (auto c = track.clips.rbegin(); c != track.clips.rend(); ++c) {
        if (!(c->start - grab <= t && t <= c->start + c->duration + grab)) continue;
        pause();
        const int mode = std::abs(t - c->start) <= grab ? 1 : std::abs(t - (c->start + c->duration)) <= grab ? 2 : 0;
        if (extend || !model_.selectedClips().count(c->id) || single) model_.selectClip(c->id, extend, single);
        const auto& selected = model_.selectedClips();
        if (!extend && mode == 0 && selected.size() >= 2 && selected.count(c->id)) {
            TimelineDrag::Group group{{}, *c, false};
            for (const Track& each : model_.tracks())
                for (const Clip& clip : each.clips)
                    if (selected.count(clip.id)) group.clips.push_back(clip);
            return group;
        }
        return TimelineDrag::OneClip{*c, track.media.kind, mode, false};
    }

    if (!extend) model_.clearSelection();
    model_.setSelectedTrackID(track.id);
    return TimelineDrag::Marquee{extend};
}

void TimelineInteraction::dragChanged(QPointF location)
{
    const double pps = view_.pps;
    const double dx = location.x() - drag_->start.x();
    const double dy = location.y() - drag_->start.y();
    const double dt = dx / pps;
    const double tol = tolerance();
    // The first change past the threshold takes the one undo snapshot of the drag.
    const auto begin = [&](bool& moved, bool past) {
        if (!moved && past) {
            model_.pushUndo();
            moved = true;
        }
        return moved;
    };
    const bool clipPast = std::abs(dx) > clipThresholdX || std::abs(dy) > clipThresholdY;

    std::visit(
        [&](auto& d) {
            using Case = std::decay_t<decltype(d)>;
            if constexpr (std::is_same_v<Case, TimelineDrag::Scrub>) {
                pause();
                movePlayhead(timeAt(location.x()));
            } else if constexpr (std::is_same_v<Case, TimelineDrag::MatrixEdge>) {
                const QRectF m = d.original;
                const double e = d.start ? m.left() : m.right();
                double t = timeAt(e + dx);
                if (!(t >= 0)) t = 0;
                const double s = model_.snapped(t, Uuid::random(), tol).value_or(t);
                const double x = s * pps + 10;
                pause();
                movePlayhead(timeAt(x));
                if (d.start) {
                    const double left = std::min(x, m.right() - matrixMinWidth);
                    setMatrix(QRectF(left, m.top(), m.right() - left, m.height()));
                } else {
                    const double right = std::max(x, m.left() + matrixMinWidth);
                    setMatrix(QRectF(m.left(), m.top(), right - m.left(), m.height()));
                }
            } else if constexpr (std::is_same_v<Case, TimelineDrag::Marquee>) {
                const QPointF s = drag_->start;
                setMarquee(QRectF(std::min(s.x(), location.x()), std::min(s.y(), location.y()),
                                  std::abs(location.x() - s.x()), std::abs(location.y() - s.y())));
            } else if constexpr (std::is_same_v<Case, TimelineDrag::FadeGrip>) {
                if (begin(d.moved, std::abs(dx) > fadeThreshold))
                    model_.setFade(d.clip, d.front ? EditorModel::ClipEdge::front : EditorModel::ClipEdge::end, dt);
            } else if constexpr (std::is_same_v<Case, TimelineDrag::Group>) {
                if (begin(d.moved, clipPast)) {
                    const int target = row(location.y()).value_or(rowIndex(location.y()));
                    const int rows = target - rowIndex(drag_->start.y());
                    model_.moveClips(d.clips, d.grabbed, dt, rows, tol);
                }
            } else if constexpr (std::is_same_v<Case, TimelineDrag::OneClip>) {
                if (begin(d.moved, clipPast)) {
                    if (d.mode == 2) model_.trimClip(d.clip, EditorModel::ClipEdge::end, dt, tol);
                    else if (d.mode == 1) model_.trimClip(d.clip, EditorModel::ClipEdge::front, dt, tol);
                    else model_.moveClip(d.clip, d.kind, dt, row(location.y()), tol);
                }
            } else if constexpr (std::is_same_v<Case, TimelineDrag::ActionBar>) {
                // Vertical movement never starts an action drag.
                if (begin(d.moved, std::abs(dx) > clipThresholdX)) model_.dragAction(d.action, d.mode, dt, tol);
            }
        },
        drag_->state);
}

bool TimelineInteraction::followsPointer() const
{
    if (!drag_) return false;
    const auto& s = drag_->state;
    return std::holds_alternative<TimelineDrag::OneClip>(s) || std::holds_alternative<TimelineDrag::Group>(s)
           || std::holds_alternative<TimelineDrag::Marquee>(s) || std::holds_alternative<TimelineDrag::Scrub>(s);
}

void TimelineInteraction::followDrag(QPointF location)
{
    if (!followsPointer()) return;
    // No timer: the view moves only while the pointer keeps moving near an edge.
    const double vx = location.x() - view_.scrollX;
    if (vx > view_.width - edgeZone)
        emit scrollRequested(
            std::min(view_.scrollX + autoScrollStep, view_.contentWidth - view_.width + autoScrollOvershoot));
    else if (vx < edgeZone && view_.scrollX > 0)
        emit scrollRequested(std::max(view_.scrollX - autoScrollStep, 0.0));
}

void TimelineInteraction::followRows(QPointF location)
{
    // No timer either: the rows move only while the pointer keeps moving near an edge.
    const double vy = location.y() - view_.scrollY;
    const double last = std::max(0.0, view_.contentHeight - view_.height);
    if (vy > view_.height - rowEdgeZone && view_.scrollY < last)
        emit rowScrollRequested(std::min(view_.scrollY + autoScrollStep, last));
    else if (vy < rulerHeight + rowEdgeZone && view_.scrollY > 0)
        emit rowScrollRequested(std::max(view_.scrollY - autoScrollStep, 0.0));
}

void TimelineInteraction::dragEnded(QPointF location)
{
    const TimelineDrag drag = *drag_;
    const double t = timeAt(location.x());
    if (const auto* d = std::get_if<TimelineDrag::OneClip>(&drag.state); d && d->moved) model_.endClipDrag();
    if (const auto* d = std::get_if<TimelineDrag::ActionBar>(&drag.state); d && !d->moved) {
        // A click on an action bar shows the action's goal.
        if (const auto selected = model_.selectedAction()) {
            const Clip& c = selected->clip;
            const TrackAction& a = selected->action;
            movePlayhead(a.returns ? c.start + (a.start + a.end) / 2 : c.start + std::max(a.start, a.end - 0.02));
        }
    }
    if (const auto* d = std::get_if<TimelineDrag::Group>(&drag.state); d && d->moved) model_.endClipDrag();
    if (const auto* d = std::get_if<TimelineDrag::Marquee>(&drag.state)) {
        if (marquee_ && (marquee_->width() > clickBand || marquee_->height() > clickBand)) {
            selectClips(*marquee_, d->extend);
        } else {
            const auto r = row(location.y());
            if (clicks_ == 2 && r) model_.selectGap(model_.tracks()[std::size_t(*r)].id, t);
            else movePlayhead(t);
        }
        setMarquee(std::nullopt);
    }
    if (std::holds_alternative<TimelineDrag::Scrub>(drag.state)) movePlayhead(t);
    drag_.reset();
}

void TimelineInteraction::selectClips(const QRectF& rect, bool extend)
{
    const double t0 = timeAt(rect.left());
    const double t1 = timeAt(rect.right());
    const double h = model_.trackHeight();
    std::set<Uuid> ids;
    const auto& tracks = model_.tracks();
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const double top = h * double(i) + 24;
        // Touching a row's edge counts; touching a clip in time does not.
        if (!(top <= rect.bottom() && rect.top() <= top + h)) continue;
        for (const Clip& c : tracks[i].clips)
            if (t0 < c.start + c.duration && c.start < t1) ids.insert(c.id);
    }
    model_.selectClips(ids, extend);
}

// --- Right button: the matrix ---

void TimelineInteraction::rightDragged(QPointF location)
{
    const QPointF s = *matrixStart_;
    const double pps = view_.pps;
    const double tol = tolerance();
    const double rawStart = timeAt(std::min(location.x(), s.x()));
    const double rawEnd = timeAt(std::max(location.x(), s.x()));
    const Uuid nothing = Uuid::random();
    const double start = model_.snapped(rawStart, nothing, tol).value_or(rawStart);
    const double end = model_.snapped(rawEnd, nothing, tol).value_or(rawEnd);
    const int firstRow = rowIndex(std::min(location.y(), s.y()));
    const int lastRow = rowIndex(std::max(location.y(), s.y()));
    const double h = model_.trackHeight();
    const double left = start * pps + 10;
    const double top = 24 + firstRow * h;
    setMatrix(QRectF(left, top, std::max(0.0, (end * pps + 10) - left), 24 + (lastRow + 1) * h - top));
    // The playhead follows the edge on the pointer's side.
    pause();
    movePlayhead(s.x() <= location.x() ? end : start);
}

// --- Wheel ---

void TimelineInteraction::wheel(const Wheel& wheel)
{
    const bool precise = !wheel.pixelDelta.isNull();
    const double dx = precise ? wheel.pixelDelta.x() : wheel.angleDelta.x() / 120.0;
    const double dy = precise ? wheel.pixelDelta.y() : wheel.angleDelta.y() / 120.0;
    const double x = view_.scrollX + wheel.position.x();
    // Under Alt the X server turns a vertical wheel horizontal: either axis zooms.
    const double delta = dy != 0 ? dy : dx;
    const double factor = 1 + delta / (precise ? 150.0 : 10.0);

    if (wheel.modifiers & Qt::AltModifier) {
        const double pps = view_.pps;
        const double anchor = timeAt(x);
        const double lower = std::max(model_.timelineWidth(), 100.0) / zoomSpan;
        double next = factor * pps;
        if (!(next >= lower)) next = lower;  // NaN too
        next = std::min(next, maxPps);
        model_.setPixelsPerSecond(next);
        emit scrollRequested(std::max(0.0, anchor * next + 10 - wheel.position.x()));
        return;
    }
    if (wheel.modifiers & Qt::ControlModifier) {
        double height = model_.trackHeight() * factor;
        if (!(height >= minTrackHeight)) height = minTrackHeight;
        model_.setTrackHeight(std::min(height, maxTrackHeight));
        return;
    }
    const bool shift = wheel.modifiers & Qt::ShiftModifier;
    const double along = shift && dy != 0 ? dy : dx;
    if (along != 0) {
        const double amount = precise ? along : along * 12;
        emit scrollRequested(std::max(0.0, std::min(view_.scrollX - amount, view_.contentWidth - view_.width)));
    }
    // A vertical wheel means nothing else here.
    if (!shift) wheelRows(wheel);
}

void TimelineInteraction::wheelRows(const Wheel& wheel)
{
    const bool precise = !wheel.pixelDelta.isNull();
    const double dy = precise ? wheel.pixelDelta.y() : wheel.angleDelta.y() / 120.0;
    if (dy == 0) return;
    const double amount = precise ? dy : dy * model_.trackHeight();
    const double last = std::max(0.0, view_.contentHeight - view_.height);
    emit rowScrollRequested(std::clamp(view_.scrollY - amount, 0.0, last));
}

} // namespace ondexa
