#include "Ondexa/timeline/TimelineCanvas.h"

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/timeline/TimelinePainting.h"
#include "Ondexa/ui/Theme.h"

#include <QPaintEvent>
#include <QPainter>

namespace ondexa {

TimelineCanvas::TimelineCanvas(EditorModel& model, QWidget* parent) : QWidget(parent), model_(&model)
{
    // Every pixel comes from the cache; the mouse belongs to the timeline area under it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    const auto modelChanged = [this] {
        modelStale_ = true;
        invalidate();
    };
    for (const auto signal :
         {&EditorModel::tracksChanged, &EditorModel::selectedClipsChanged, &EditorModel::gapChanged,
          &EditorModel::selectedTrackIDChanged, &EditorModel::selectedActionIDChanged, &EditorModel::markInChanged,
          &EditorModel::markOutChanged, &EditorModel::peaksChanged, &EditorModel::thumbnailsChanged,
          &EditorModel::trackHeightChanged})
        connect(&model, signal, this, modelChanged);
}

void TimelineCanvas::setView(double pps, double scrollX, double scrollY)
{
    if (pps == pps_ && scrollX == scrollX_ && scrollY == scrollY_) return;
    pps_ = pps;
    scrollX_ = scrollX;
    scrollY_ = scrollY;
    invalidate();
}

void TimelineCanvas::setMatrix(std::optional<QRectF> rect)
{
    if (rect == matrix_) return;
    matrix_ = rect;
    invalidate();
}

void TimelineCanvas::setMarquee(std::optional<QRectF> rect)
{
    if (rect == marquee_) return;
    marquee_ = rect;
    invalidate();
}

void TimelineCanvas::invalidate()
{
    stale_ = true;
    update();
}

const TimelineSnapshot& TimelineCanvas::snapshot()
{
    if (modelStale_ && model_) {
        snapshot_ = TimelineSnapshot::of(*model_, pps_, scrollX_, size());
        modelStale_ = false;
    }
    snapshot_.pps = pps_;
    snapshot_.scrollX = scrollX_;
    snapshot_.scrollY = scrollY_;
    snapshot_.size = size();
    snapshot_.matrix = matrix_;
    snapshot_.marquee = marquee_;
    return snapshot_;
}

void TimelineCanvas::redraw()
{
    const qreal ratio = devicePixelRatioF();
    cache_ = QPixmap(size() * ratio);
    cache_.setDevicePixelRatio(ratio);
    QPainter painter(&cache_);
    paintTimeline(painter, snapshot(), size());
    ++redraws_;
    stale_ = false;
}

void TimelineCanvas::paintEvent(QPaintEvent* event)
{
    if (stale_ || cache_.isNull() || cache_.deviceIndependentSize().toSize() != size()) redraw();
    QPainter painter(this);
    const QRect area = event->rect();
    const qreal ratio = cache_.devicePixelRatio();
    painter.drawPixmap(area, cache_,
                       QRectF(area.x() * ratio, area.y() * ratio, area.width() * ratio, area.height() * ratio));
}

void TimelineCanvas::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    invalidate();
}

} // namespace ondexa
