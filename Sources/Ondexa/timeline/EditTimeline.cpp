#include "Ondexa/timeline/EditTimeline.h"

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/timeline/PlayheadOverlay.h"
#include "Ondexa/timeline/TimelineCanvas.h"
#include "Ondexa/timeline/TimelineSnapshot.h"
#include "Ondexa/timeline/TrackHeaders.h"
#include "Ondexa/ui/Theme.h"

#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPalette>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyleHints>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace ondexa {

// The timeline area: hosts the canvas and hands its own mouse and wheel
// events to the interaction. A press's implicit grab keeps a drag, left or
// right, reporting here after the pointer has left the area.
class EditTimeline::Area final : public QWidget {
public:
    Area(EditTimeline& owner, QWidget* parent) : QWidget(parent), owner_(owner)
    {
        // The right button builds the matrix: no context menu may start from here.
        setContextMenuPolicy(Qt::PreventContextMenu);
        setFocusPolicy(Qt::ClickFocus);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        owner_.interaction_.press(pointer(*event));
        event->accept();
    }
    // The second press of a double click; our own counter tells them apart.
    void mouseDoubleClickEvent(QMouseEvent* event) override { mousePressEvent(event); }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        owner_.interaction_.move(pointer(*event));
        event->accept();
    }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        owner_.interaction_.release(pointer(*event));
        event->accept();
    }
    // Every wheel event is the timeline's: none scrolls what lies around it.
    void wheelEvent(QWheelEvent* event) override
    {
        owner_.interaction_.wheel(
            {event->position(), event->pixelDelta(), event->angleDelta(), event->modifiers()});
        event->accept();
    }
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        if (owner_.canvas_) owner_.canvas_->setGeometry(rect());
        owner_.areaResized();
    }
    void showEvent(QShowEvent* event) override
    {
        QWidget::showEvent(event);
        owner_.areaResized();
    }

private:
    static TimelineInteraction::Pointer pointer(const QMouseEvent& event)
    {
        return {event.position(), event.button(), event.buttons(), event.modifiers(), event.timestamp()};
    }

    EditTimeline& owner_;
};

EditTimeline::EditTimeline(EditorModel& model, QWidget* parent)
    : QWidget(parent), model_(&model), interaction_(model)
{
    const QStyleHints* hints = QGuiApplication::styleHints();
    interaction_.setDoubleClick(hints->mouseDoubleClickInterval(), hints->mouseDoubleClickDistance());
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Theme::background());
    setPalette(palette);

    // Headers beside the area, as high as it: a header never shows beside
    // the horizontal scroll bar.
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    headers_ = new TrackHeaders(model, this);
    headers_->setFixedWidth(TrackHeaders::columnWidth);
    layout->addWidget(headers_, 0, 0);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::VLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setFixedWidth(dividerWidth);
    layout->addWidget(divider, 0, 1, 2, 1);

    area_ = new Area(*this, this);
    area_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    canvas_ = new TimelineCanvas(model, area_);
    playhead_ = new PlayheadOverlay(model.clock(), canvas_);
    layout->addWidget(area_, 0, 2);
    scrollBar_ = new QScrollBar(Qt::Horizontal, this);
    scrollBar_->setSingleStep(12);
    layout->addWidget(scrollBar_, 1, 2);

    rowScrollColumn_ = new QWidget(this);
    auto* rowColumn = new QVBoxLayout(rowScrollColumn_);
    rowColumn->setContentsMargins(0, int(rulerHeight), 0, 0);
    rowColumn->setSpacing(0);
    rowScrollBar_ = new QScrollBar(Qt::Vertical, rowScrollColumn_);
    rowScrollBar_->setSingleStep(12);
    rowColumn->addWidget(rowScrollBar_);
    layout->addWidget(rowScrollColumn_, 0, 3);
    rowScrollColumn_->hide();
    layout->setColumnStretch(2, 1);
    layout->setRowStretch(0, 1);

    // The one way each scroll offset changes.
    connect(scrollBar_, &QScrollBar::valueChanged, this, &EditTimeline::refreshView);
    connect(rowScrollBar_, &QScrollBar::valueChanged, this, &EditTimeline::refreshView);
    connect(&interaction_, &TimelineInteraction::scrollRequested, this, &EditTimeline::scrollTo);
    connect(&interaction_, &TimelineInteraction::rowScrollRequested, this, &EditTimeline::scrollRowsTo);
    // Over the headers a wheel means nothing but the rows.
    connect(headers_, &TrackHeaders::wheelTurned, this,
            [this](QPoint pixelDelta, QPoint angleDelta, Qt::KeyboardModifiers modifiers) {
                if (!modifiers) interaction_.wheelRows({{}, pixelDelta, angleDelta, modifiers});
            });
    connect(&interaction_, &TimelineInteraction::matrixChanged, this,
            [this] { canvas_->setMatrix(interaction_.matrix()); });
    connect(&interaction_, &TimelineInteraction::marqueeChanged, this,
            [this] { canvas_->setMarquee(interaction_.marquee()); });

    connect(&model, &EditorModel::tracksChanged, this, [this] {
        durationMaybeChanged();
        refreshHeight();
    });
    connect(&model, &EditorModel::pixelsPerSecondChanged, this, &EditTimeline::refreshView);
    connect(&model, &EditorModel::trackHeightChanged, this, &EditTimeline::refreshHeight);
    connect(&model.clock(), &PlayheadClock::timeChanged, this, &EditTimeline::followPlayhead);

    lastDuration_ = model.duration();
    refreshHeight();
}

EditTimeline::~EditTimeline() = default;

QWidget* EditTimeline::area() const { return area_; }

double EditTimeline::areaWidth() const { return area_->width(); }

double EditTimeline::scrollX() const { return scrollBar_->value(); }

namespace {

// A timeline of 0.1 s or less is drawn as 0.1 s long.
double effectiveDuration(double duration) { return duration <= 0.1 ? 0.1 : duration; }

} // namespace

double EditTimeline::pixelsPerSecond() const
{
    if (!model_) return 100;
    if (const auto pps = model_->pixelsPerSecond()) return *pps;
    return (areaWidth() - 20) / effectiveDuration(model_->duration());
}

double EditTimeline::contentWidth() const
{
    const double w = areaWidth();
    if (!model_) return w;
    const double wide = effectiveDuration(model_->duration()) * pixelsPerSecond() + 20 + w / 2;
    // A zoom that is not a number leaves just the visible width.
    return std::isfinite(wide) ? std::max(w, wide) : w;
}

double EditTimeline::panelHeight() const
{
    if (!model_) return 30;
    return model_->trackHeight() * double(model_->tracks().size()) + 24 + 6;
}

void EditTimeline::scrollTo(double x)
{
    if (!std::isfinite(x)) return;
    scrollBar_->setValue(int(std::lround(std::clamp(x, -1e9, 1e9))));
}

double EditTimeline::scrollY() const { return rowScrollBar_->value(); }

void EditTimeline::scrollRowsTo(double y)
{
    if (!std::isfinite(y)) return;
    rowScrollBar_->setValue(int(std::lround(std::clamp(y, -1e9, 1e9))));
}

int EditTimeline::heightFor(double rows) const
{
    const double h = model_ ? model_->trackHeight() : 40;
    const double panel = std::min(panelHeight(), rulerHeight + rows * h + 6);
    return int(std::ceil(std::min(panel, 1e6))) + scrollBar_->sizeHint().height();
}

QSize EditTimeline::sizeHint() const { return {QWidget::sizeHint().width(), heightFor(4)}; }

QSize EditTimeline::minimumSizeHint() const { return {QWidget::minimumSizeHint().width(), heightFor(1)}; }

void EditTimeline::areaResized()
{
    if (!model_) return;
    const double w = areaWidth();
    model_->setTimelineWidth(w - 20);
    refreshView();
    if (!appeared_ && area_->isVisible()) {
        appeared_ = true;
        fit();
    }
}

void EditTimeline::durationMaybeChanged()
{
    if (!model_) return;
    const double d = model_->duration();
    if (d != lastDuration_) {
        lastDuration_ = d;
        if (appeared_) fit();
    }
    refreshView();
}

void EditTimeline::fit()
{
    if (!model_ || model_->pixelsPerSecond()) return;
    const double d = model_->duration();
    if (!(d > 0)) return;
    double pps = (areaWidth() - 20 - 20) / d;
    // Three hours fit into the timeline width at the least zoom.
    const double least = std::max(model_->timelineWidth(), 100.0) / TimelineInteraction::zoomSpan;
    if (!(pps >= least)) pps = least;
    pps = std::min(pps, TimelineInteraction::maxPps);
    model_->setPixelsPerSecond(pps);
}

void EditTimeline::followPlayhead()
{
    if (!model_ || !model_->isPlaying()) return;
    const double x = model_->clock().time() * pixelsPerSecond() + 10;
    const double scroll = scrollX();
    if (x > scroll + areaWidth() - TimelineInteraction::edgeZone || x < scroll)
        scrollTo(std::max(0.0, x - TimelineInteraction::edgeZone));
}

void EditTimeline::refreshView()
{
    const double w = areaWidth();
    const double pps = pixelsPerSecond();
    const double cw = contentWidth();
    const double h = area_->height();
    const double ch = panelHeight();
    {
        // Only the ranges may move the values here; their signals come back to this function.
        const QSignalBlocker blocker(scrollBar_);
        scrollBar_->setRange(0, int(std::max(0.0, std::floor(std::min(cw - w, 1e9)))));
        scrollBar_->setPageStep(std::max(1, int(w)));
        const QSignalBlocker rowBlocker(rowScrollBar_);
        rowScrollBar_->setRange(0, int(std::max(0.0, std::ceil(std::min(ch - h, 1e9)))));
        rowScrollBar_->setPageStep(std::max(1, int(h - rulerHeight)));
    }
    // Its column takes width from the area only while the rows don't fit;
    // the area has its height once shown, not before.
    if (isVisible()) rowScrollColumn_->setVisible(rowScrollBar_->maximum() > 0);
    const double scroll = scrollX();
    const double rows = scrollY();
    canvas_->setView(pps, scroll, rows);
    playhead_->setView(pps, scroll);
    headers_->setScrollY(rows);
    interaction_.setView({pps, scroll, w, cw, rows, h, ch});
}

void EditTimeline::refreshHeight()
{
    // Never taller than every row; how much of that it gets is the window's to say.
    setMaximumHeight(heightFor(double(model_ ? model_->tracks().size() : 0)));
    updateGeometry();
    refreshView();
}

} // namespace ondexa
