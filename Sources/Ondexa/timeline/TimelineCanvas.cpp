#include "Ondexa/timeline/TimelineCanvas.h"

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/timeline/TimelineBands.h"
#include "Ondexa/timeline/TimelinePainting.h"
#include "Ondexa/ui/Theme.h"

#include <QPaintEvent>
#include <QPainter>

namespace ondexa {

// The matrix and the rubber band, drawn fresh over the cached picture and
// over the playhead: the user grabs the matrix's handles where the playhead
// stands after a right drag.
class TimelineCanvas::Front final : public QWidget {
public:
    explicit Front(TimelineCanvas& canvas) : QWidget(&canvas), canvas_(canvas)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        paintTimelineFront(painter, canvas_.snapshot(), size());
    }

private:
    TimelineCanvas& canvas_;
};

TimelineCanvas::TimelineCanvas(EditorModel& model, QWidget* parent)
    : QWidget(parent), model_(&model), bands_(TimelineBands::shared())
{
    front_ = new Front(*this);
    // Every pixel comes from the cache; the mouse belongs to the timeline area under it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    using Part = TimelineSnapshot::Part;
    const std::pair<void (EditorModel::*)(), Part> changes[] = {
        {&EditorModel::tracksChanged, Part::tracks},
        {&EditorModel::selectedClipsChanged, Part::selectedClips},
        {&EditorModel::gapChanged, Part::gap},
        {&EditorModel::selectedTrackIDChanged, Part::selectedTrack},
        {&EditorModel::selectedActionIDChanged, Part::selectedAction},
        {&EditorModel::markInChanged, Part::marks},
        {&EditorModel::markOutChanged, Part::marks},
        {&EditorModel::peaksChanged, Part::media},
        {&EditorModel::thumbnailsChanged, Part::media},
        {&EditorModel::trackHeightChanged, Part::trackHeight},
    };
    for (const auto& [signal, part] : changes) connect(&model, signal, this, [this, part] { modelChanged(part); });
}

void TimelineCanvas::modelChanged(TimelineSnapshot::Part part)
{
    // A cache to be drawn whole takes everything from the model then.
    if (stale_ || modelStale_ || !model_) {
        modelStale_ = true;
        invalidate();
        return;
    }
    QRegion damage;
    if (!snapshot_.take(*model_, part, damage)) {
        modelStale_ = true;
        invalidate();
        return;
    }
    if (damage.isEmpty()) return;
    damage_ += damage;
    // What lies in front (playhead, matrix) is painted again over the damage by itself.
    update(damage);
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
    front_->update();
}

void TimelineCanvas::setMarquee(std::optional<QRectF> rect)
{
    if (rect == marquee_) return;
    marquee_ = rect;
    front_->update();
}

void TimelineCanvas::invalidate()
{
    stale_ = true;
    damage_ = QRegion();
    update();
    front_->update();
}

QWidget* TimelineCanvas::frontLayer() const { return front_; }

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
    // The format of an opaque pixmap here: copied to the screen as it is.
    cache_ = QImage(size() * ratio, QImage::Format_RGB32);
    cache_.setDevicePixelRatio(ratio);
    bands_->paint(cache_, snapshot(), size(), QRegion(rect()));
    ++redraws_;
    ++fullRedraws_;
    stale_ = false;
    damage_ = QRegion();
}

void TimelineCanvas::redrawDamage()
{
    bands_->paint(cache_, snapshot(), size(), damage_);
    ++redraws_;
    damage_ = QRegion();
}

void TimelineCanvas::paintEvent(QPaintEvent* event)
{
    if (stale_ || cache_.isNull() || cache_.deviceIndependentSize().toSize() != size()) redraw();
    else if (!damage_.isEmpty()) redrawDamage();
    QPainter painter(this);
    const qreal ratio = cache_.devicePixelRatio();
    for (const QRect& area : event->region())
        painter.drawImage(area, cache_,
                          QRectF(area.x() * ratio, area.y() * ratio, area.width() * ratio, area.height() * ratio));
}

void TimelineCanvas::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    front_->setGeometry(rect());
    invalidate();
}

} // namespace ondexa
