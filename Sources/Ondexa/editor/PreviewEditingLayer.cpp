#include "Ondexa/editor/PreviewEditingLayer.h"

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/editor/inspector/ClipGeometry.h"
#include "Ondexa/rendering/OverlayRenderer.h"
#include "Ondexa/ui/Theme.h"

#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace ondexa {

namespace {

// The least side of a dragged picture or shape, and of a media clip resized
// by its corner; the most a media clip may grow to.
constexpr double minimumSide = 0.03;
constexpr double minimumResizeWidth = 0.05;
constexpr double maximumSide = 4;
// How much of a moved clip stays over the picture on each axis.
constexpr double keptOverlap = 0.05;
// The least scale a resized action target keeps, also as a share of the press-time scale.
constexpr double minimumActionScale = 0.05;

QPointF toView(const NPoint& point, const QRectF& frame)
{
    return {frame.left() + point.x * frame.width(), frame.top() + point.y * frame.height()};
}

QRectF toView(const NRect& rect, const QRectF& frame)
{
    return {frame.left() + rect.x * frame.width(), frame.top() + rect.y * frame.height(), rect.w * frame.width(),
            rect.h * frame.height()};
}

double distance(QPointF a, QPointF b)
{
    return std::hypot(a.x() - b.x(), a.y() - b.y());
}

// From `point` to the segment a–b; a segment without length is its start.
double distanceToSegment(QPointF point, QPointF a, QPointF b)
{
    const QPointF ab = b - a;
    const double length2 = QPointF::dotProduct(ab, ab);
    if (length2 <= 0) return distance(point, a);
    const double t = std::clamp(QPointF::dotProduct(point - a, ab) / length2, 0.0, 1.0);
    return distance(point, a + t * ab);
}

// Edges included.
bool contains(const NRect& rect, double x, double y)
{
    return rect.x <= x && x <= rect.x + rect.w && rect.y <= y && y <= rect.y + rect.h;
}

NRect centred(double cx, double cy, double w, double h)
{
    return {cx - w / 2, cy - h / 2, w, h};
}

// Whether a centre (picture units) lies within the snap distance of the
// picture's centre line, on an axis `extent` points long.
bool nearCentre(double centre, double extent)
{
    return std::abs(centre - 0.5) * extent < PreviewEditingLayer::snapDistance;
}

bool isPlainArrow(const Clip& clip)
{
    return clip.overlay && clip.overlay->kind == OverlayKind::arrow && clip.actions.empty();
}

} // namespace

NRect effectBounds(const Overlay& overlay, double aspect)
{
    switch (overlay.kind) {
    case OverlayKind::text: {
        NRect box = overlay.rect;
        box.h = OverlayRenderer::textBoxHeight(overlay, aspect);
        return box;
    }
    case OverlayKind::arrow:
        return {std::min(overlay.from.x, overlay.to.x), std::min(overlay.from.y, overlay.to.y),
                std::abs(overlay.to.x - overlay.from.x), std::abs(overlay.to.y - overlay.from.y)};
    default: return overlay.rect;
    }
}

PreviewEditingLayer::PreviewEditingLayer(EditorModel& model) : model_(model) {}

QRectF PreviewEditingLayer::pictureFrame(QSizeF size, double aspect)
{
    const double w = size.height() * aspect < size.width() ? size.height() * aspect : size.width();
    const double h = w / aspect;
    return {(size.width() - w) / 2, (size.height() - h) / 2, w, h};
}

QSizeF PreviewEditingLayer::fittedSize(const Clip& clip, double aspect)
{
    // A clip without a usable aspect fills the picture, as the compositor places it.
    if (!(clip.aspect > 0) || !std::isfinite(clip.aspect)) return {1, 1};
    const double r = aspect / clip.aspect;
    return r > 1 ? QSizeF(clip.aspect / aspect, 1) : QSizeF(1, r);
}

NRect PreviewEditingLayer::defaultRect(const Clip& clip, double aspect)
{
    const QSizeF size = fittedSize(clip, aspect);
    return {(1 - size.width()) / 2, (1 - size.height()) / 2, size.width(), size.height()};
}

NRect PreviewEditingLayer::placedBounds(const NRect& bounds, const PictureState& state)
{
    return centred(bounds.x + bounds.w / 2 + state.centerX - 0.5, bounds.y + bounds.h / 2 + state.centerY - 0.5,
                   bounds.w * state.scale, bounds.h * state.scale);
}

NRect PreviewEditingLayer::actionRect(const TrackAction& action, const Clip& clip) const
{
    const double aspect = model_.aspect();
    const PictureState target = clip.targetState(action, aspect);
    if (clip.overlay) return placedBounds(effectBounds(*clip.overlay, aspect), target);
    const QSizeF base = fittedSize(clip, aspect);
    return centred(target.centerX, target.centerY, target.scale * base.width(), target.scale * base.height());
}

std::optional<PreviewEditingLayer::Selection> PreviewEditingLayer::selectionRect() const
{
    const double aspect = model_.aspect();
    if (const auto selected = model_.selectedAction()) {
        // A sound clip's action (its volume) has no picture to mark.
        if (selected->track.media.kind == MediaKind::audio) return std::nullopt;
        return Selection{actionRect(selected->action, selected->clip), std::nullopt};
    }
    const auto placed = model_.selectedClip();
    if (!placed) return std::nullopt;
    const Clip& clip = *placed->clip;
    const double t = model_.clock().time();
    if (!(clip.start <= t && t < clip.end()) || placed->track->hidden || placed->track->media.kind == MediaKind::audio)
        return std::nullopt;
    if (isPlainArrow(clip)) return Selection{std::nullopt, std::pair{clip.overlay->from, clip.overlay->to}};
    if (clip.overlay)
        return Selection{placedBounds(effectBounds(*clip.overlay, aspect), clip.pictureState(t, aspect)), std::nullopt};
    // A media clip's mark shows where it stands without its actions.
    return Selection{clip.frame.value_or(defaultRect(clip, aspect)), std::nullopt};
}

PreviewEditingLayer::Marks PreviewEditingLayer::marks(const Selection& selection, const QRectF& frame) const
{
    Marks marks;
    marks.color = model_.selectedAction() ? Theme::yellow() : Theme::accent();
    if (selection.arrow) {
        marks.dots = {toView(selection.arrow->first, frame), toView(selection.arrow->second, frame)};
    } else if (selection.rect) {
        const QRectF outline = toView(*selection.rect, frame);
        marks.outline = outline;
        marks.dots = {outline.bottomRight()};
    }
    return marks;
}

std::optional<PreviewEditingLayer::Marks> PreviewEditingLayer::currentMarks(const QRectF& frame) const
{
    if (model_.isPlaying()) return std::nullopt;
    const auto selection = selectionRect();
    if (!selection) return std::nullopt;
    return marks(*selection, frame);
}

std::optional<PreviewEditingLayer::Hit> PreviewEditingLayer::hitTest(QPointF point, const QRectF& frame) const
{
    const double aspect = model_.aspect();
    const double t = model_.clock().time();

    // While an action is selected, only its target can be grabbed; a sound
    // clip's action has none, and a press must not give it a picture.
    if (const auto selected = model_.selectedAction()) {
        if (selected->track.media.kind == MediaKind::audio) return std::nullopt;
        const QRectF r = toView(actionRect(selected->action, selected->clip), frame);
        const Target target{selected->clip, selected->action};
        if (distance(point, r.bottomRight()) < grabRadius) return Hit{target, Handle::resize};
        if (r.left() <= point.x() && point.x() < r.right() && r.top() <= point.y() && point.y() < r.bottom())
            return Hit{target, Handle::move};
        return std::nullopt;
    }

    // The selected clip's own handles come before any picture.
    if (const auto placed = model_.selectedClip()) {
        const Clip& clip = *placed->clip;
        if (clip.start <= t && t < clip.end() && placed->track->media.kind != MediaKind::audio) {
            if (isPlainArrow(clip)) {
                if (distance(point, toView(clip.overlay->to, frame)) < grabRadius) return Hit{{clip, {}}, Handle::to};
                if (distance(point, toView(clip.overlay->from, frame)) < grabRadius)
                    return Hit{{clip, {}}, Handle::from};
            } else if (const auto selection = selectionRect(); selection && selection->rect) {
                if (distance(point, toView(*selection->rect, frame).bottomRight()) < grabRadius)
                    return Hit{{clip, {}}, Handle::resize};
            }
        }
    }

    // The topmost picture under the point.
    const double nx = (point.x() - frame.left()) / frame.width();
    const double ny = (point.y() - frame.top()) / frame.height();
    const auto active = model_.activeVisualClips();
    for (auto placed = active.rbegin(); placed != active.rend(); ++placed) {
        const Clip& clip = *placed->clip;
        const PictureState state = clip.pictureState(t, aspect);
        bool hit = false;
        if (isPlainArrow(clip)) {
            hit = distanceToSegment(point, toView(clip.overlay->from, frame), toView(clip.overlay->to, frame)) <
                  grabRadius;
        } else if (clip.overlay) {
            hit = contains(placedBounds(effectBounds(*clip.overlay, aspect), state), nx, ny);
        } else {
            const QSizeF size = fittedSize(clip, aspect);
            hit = contains(centred(state.centerX, state.centerY, size.width() * state.scale,
                                   size.height() * state.scale),
                           nx, ny);
        }
        if (hit) return Hit{{clip, {}}, Handle::move};
    }
    return std::nullopt;
}

void PreviewEditingLayer::dragChanged(QPointF start, QPointF translation, const QRectF& frame)
{
    if (!(frame.width() > 0)) return;
    if (!drag_) {
        model_.player().pause();
        const auto hit = hitTest(start, frame);
        if (!hit) {
            if (!model_.selectedAction()) model_.clearSelection();
            drag_ = DragState{};
            return;
        }
        if (!hit->target.action && !model_.selectedClips().count(hit->target.clip.id))
            model_.selectClip(hit->target.clip.id, false, false);
        model_.pushUndo();
        drag_ = DragState{hit->target, hit->handle};
    }
    if (!drag_->target) return;

    const double dx = translation.x() / frame.width();
    const double dy = translation.y() / frame.height();
    const Target& target = *drag_->target;
    if (target.action) dragAction(target.clip, *target.action, drag_->handle, dx, dy, frame);
    else if (target.clip.overlay) dragOverlay(target.clip, drag_->handle, dx, dy, frame);
    else dragClip(target.clip, drag_->handle, dx, dy, frame);
}

void PreviewEditingLayer::dragOverlay(Clip clip, Handle handle, double dx, double dy, const QRectF& frame)
{
    const Overlay& o = *clip.overlay;
    Overlay moved = o;
    // An arrow moves by its ends, every other kind by its rectangle.
    const auto shift = [&moved](double x, double y) {
        if (moved.kind == OverlayKind::arrow) {
            moved.from = {moved.from.x + x, moved.from.y + y};
            moved.to = {moved.to.x + x, moved.to.y + y};
        } else {
            moved.rect.x += x;
            moved.rect.y += y;
        }
    };
    switch (handle) {
    case Handle::to: moved.to = {o.to.x + dx, o.to.y + dy}; break;
    case Handle::from: moved.from = {o.from.x + dx, o.from.y + dy}; break;
    case Handle::resize:
        moved.rect.w = std::max(o.rect.w + dx, minimumSide);
        // A text box's height is measured from its text when the model stores it.
        if (o.kind != OverlayKind::text) moved.rect.h = std::max(o.rect.h + dy, minimumSide);
        break;
    case Handle::move: shift(dx, dy); break;
    }
    const NRect bounds = effectBounds(moved, model_.aspect());
    NRect snapped = bounds;
    centerSnap(snapped, frame, handle == Handle::move);
    shift(snapped.x - bounds.x, snapped.y - bounds.y);
    clip.overlay = moved;
    model_.updateClip(clip);
}

void PreviewEditingLayer::dragClip(const Clip& clip, Handle handle, double dx, double dy, const QRectF& frame)
{
    const double aspect = model_.aspect();
    const NRect f = clip.frame.value_or(defaultRect(clip, aspect));
    NRect r = f;
    if (handle == Handle::resize) {
        // The clip keeps its own aspect ratio; one that can't be used (a
        // damaged file's 0) counts as the output's, as in the inspector.
        const clipgeometry::Size fit = clipgeometry::fitSize(aspect, clip.aspect);
        r.w = std::max(f.w + dx, minimumResizeWidth);
        r.h = r.w * fit.h / fit.w;
    } else {
        r.x = f.x + dx;
        r.y = f.y + dy;
    }
    r.w = std::clamp(r.w, minimumSide, maximumSide);
    r.h = std::clamp(r.h, minimumSide, maximumSide);
    r.x = std::min(std::max(r.x, keptOverlap - r.w), 1 - keptOverlap);
    r.y = std::min(std::max(r.y, keptOverlap - r.h), 1 - keptOverlap);
    centerSnap(r, frame, handle == Handle::move);
    Clip changed = clip;
    changed.frame = r;
    model_.updateClip(changed);
}

void PreviewEditingLayer::dragAction(const Clip& clip, const TrackAction& action, Handle handle, double dx, double dy,
                                     const QRectF& frame)
{
    const PictureState atStart = clip.pictureState(clip.start + action.start, model_.aspect());
    TrackAction changed = action;
    guides_ = {};
    if (handle == Handle::resize) {
        const double s0 = action.scale.value_or(atStart.scale);
        const double w = actionRect(action, clip).w;
        const double ratio = std::max((w + dx) / (w < 0.001 ? 0.001 : w), minimumActionScale);
        changed.scale = std::max(s0 * ratio, minimumActionScale);
    } else {
        double nx = action.centerX.value_or(atStart.centerX) + dx;
        double ny = action.centerY.value_or(atStart.centerY) + dy;
        // The action's own centre snaps, not a rectangle's.
        if (model_.snapping() && nearCentre(nx, frame.width())) {
            nx = 0.5;
            guides_.vertical = true;
        }
        if (model_.snapping() && nearCentre(ny, frame.height())) {
            ny = 0.5;
            guides_.horizontal = true;
        }
        changed.centerX = nx;
        changed.centerY = ny;
    }
    model_.updateAction(changed);
}

void PreviewEditingLayer::centerSnap(NRect& rect, const QRectF& frame, bool moving)
{
    guides_ = {};
    if (!moving || !model_.snapping()) return;
    if (nearCentre(rect.x + rect.w / 2, frame.width())) {
        rect.x = 0.5 - rect.w / 2;
        guides_.vertical = true;
    }
    if (nearCentre(rect.y + rect.h / 2, frame.height())) {
        rect.y = 0.5 - rect.h / 2;
        guides_.horizontal = true;
    }
}

void PreviewEditingLayer::dragEnded()
{
    drag_.reset();
    guides_ = {};
}

void PreviewEditingLayer::paint(QPainter& painter, QSizeF size) const
{
    const QRectF frame = pictureFrame(size, model_.aspect());
    if (frame.isEmpty()) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (const auto marks = currentMarks(frame)) {
        if (marks->outline) {
            QPen pen(marks->color, 1.5, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
            // Dash lengths count in pen widths: 5 on, 3 off in points.
            pen.setDashPattern({5 / 1.5, 3 / 1.5});
            pen.setMiterLimit(10);
            painter.setPen(pen);
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(*marks->outline);
        }
        painter.setPen(QPen(Theme::accent(), 2));
        painter.setBrush(Qt::white);
        for (const QPointF& dot : marks->dots)
            painter.drawEllipse(QRectF(dot.x() - handleSize / 2, dot.y() - handleSize / 2, handleSize, handleSize));
    }
    if (guides_.vertical)
        painter.fillRect(QRectF(frame.center().x() - guideWidth / 2, frame.top(), guideWidth, frame.height()),
                         Theme::yellow());
    if (guides_.horizontal)
        painter.fillRect(QRectF(frame.left(), frame.center().y() - guideWidth / 2, frame.width(), guideWidth),
                         Theme::yellow());
    painter.restore();
}

} // namespace ondexa
