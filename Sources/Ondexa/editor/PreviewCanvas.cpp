#include "Ondexa/editor/PreviewCanvas.h"

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/editor/PlayerView.h"
#include "Ondexa/ui/Theme.h"

#include <QEasingCurve>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadialGradient>
#include <QVariantAnimation>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace ondexa {

namespace {

// The picture's shadow: black at half opacity, blurred with a radius of 10
// points (a Gaussian of half that deviation), drawn only outside the picture.
constexpr double shadowOpacity = 0.5;
constexpr double shadowSigma = 5;
constexpr double shadowReach = 3 * shadowSigma;
// How far one notch of a sideways mouse wheel pans a zoomed picture.
constexpr double wheelNotchPan = 40;

// The shadow's fall-off from an edge outwards, as gradient stops.
QGradientStops shadowStops()
{
    QGradientStops stops;
    constexpr int steps = 8;
    for (int i = 0; i <= steps; ++i) {
        const double d = shadowReach * i / steps;
        const double coverage = 0.5 * std::erfc(d / (shadowSigma * std::sqrt(2.0)));
        stops.append({double(i) / steps, QColor::fromRgbF(0, 0, 0, float(shadowOpacity * coverage))});
    }
    return stops;
}

// Four edge bands and four corner quarters: cheap at every zoom, where a
// blurred bitmap would have to be made again for each size.
void drawShadow(QPainter& painter, const QRectF& r)
{
    static const QGradientStops stops = shadowStops();
    const double e = shadowReach;
    auto band = [&](const QRectF& area, QPointF from, QPointF to) {
        QLinearGradient gradient(from, to);
        gradient.setStops(stops);
        painter.fillRect(area, gradient);
    };
    band(QRectF(r.left(), r.top() - e, r.width(), e), {0, r.top()}, {0, r.top() - e});
    band(QRectF(r.left(), r.bottom(), r.width(), e), {0, r.bottom()}, {0, r.bottom() + e});
    band(QRectF(r.left() - e, r.top(), e, r.height()), {r.left(), 0}, {r.left() - e, 0});
    band(QRectF(r.right(), r.top(), e, r.height()), {r.right(), 0}, {r.right() + e, 0});
    auto corner = [&](QPointF at, const QRectF& area) {
        QRadialGradient gradient(at, e);
        gradient.setStops(stops);
        painter.fillRect(area, gradient);
    };
    corner(r.topLeft(), QRectF(r.left() - e, r.top() - e, e, e));
    corner(r.topRight(), QRectF(r.right(), r.top() - e, e, e));
    corner(r.bottomLeft(), QRectF(r.left() - e, r.bottom(), e, e));
    corner(r.bottomRight(), QRectF(r.right(), r.bottom(), e, e));
}

} // namespace

PreviewCanvas::PreviewCanvas(EditorModel& model, PlayerView& player, QWidget* parent)
    : QWidget(parent), model_(model), player_(player), layer_(model)
{
    setMinimumHeight(280);
    setAttribute(Qt::WA_OpaquePaintEvent);

    badge_ = new QPushButton(this);
    // Space and the arrows belong to the toolbar, never to the badge.
    badge_->setFocusPolicy(Qt::NoFocus);
    badge_->setFont(Theme::font(11));
    badge_->setCursor(Qt::PointingHandCursor);
    badge_->hide();
    connect(badge_, &QPushButton::clicked, this, &PreviewCanvas::resetZoom);

    auto redraw = [this] { update(); };
    connect(&player_, &PlayerView::frameChanged, this, redraw);
    connect(&model.clock(), &PlayheadClock::timeChanged, this, redraw);
    connect(&model, &EditorModel::tracksChanged, this, redraw);
    connect(&model, &EditorModel::selectedClipsChanged, this, redraw);
    connect(&model, &EditorModel::selectedTrackIDChanged, this, redraw);
    connect(&model, &EditorModel::selectedActionIDChanged, this, redraw);
    connect(&model, &EditorModel::isPlayingChanged, this, redraw);
}

QString PreviewCanvas::badgeText(double scale)
{
    return QString::asprintf("%lld", static_cast<long long>(std::llround(scale * 100))) +
           QString::fromUtf8(" %  \u00B7  Illesztés");
}

QTransform PreviewCanvas::layerTransform() const
{
    const QPointF centre(width() / 2.0, height() / 2.0);
    QTransform transform;
    transform.translate(centre.x() + offset_.x(), centre.y() + offset_.y());
    transform.scale(scale_, scale_);
    transform.translate(-centre.x(), -centre.y());
    return transform;
}

QPointF PreviewCanvas::toLayer(QPointF position) const
{
    return layerTransform().inverted().map(position);
}

QRectF PreviewCanvas::frame() const
{
    return PreviewEditingLayer::pictureFrame(QSizeF(size()), model_.aspect());
}

void PreviewCanvas::zoom(double factor, QPointF anchor)
{
    if (!std::isfinite(factor)) return;
    if (reset_) reset_->stop();
    const double next = std::min(std::max(scale_ * factor, minimumScale), maximumScale);
    const double ratio = next / scale_;
    // The content under the anchor stays under it.
    const QPointF offset = anchor - ratio * (anchor - offset_);
    setView(next, next <= 1 ? QPointF() : offset);
    clampOffset();
}

void PreviewCanvas::clampOffset()
{
    if (scale_ <= 1) {
        setView(scale_, QPointF());
        return;
    }
    const double mx = (scale_ - 1) * width() * 0.5;
    const double my = (scale_ - 1) * height() * 0.5;
    setView(scale_, QPointF(std::min(std::max(offset_.x(), -mx), mx), std::min(std::max(offset_.y(), -my), my)));
}

void PreviewCanvas::setView(double scale, QPointF offset)
{
    scale_ = scale;
    offset_ = offset;
    badge_->setVisible(scale_ != 1);
    if (scale_ != 1) {
        badge_->setText(badgeText(scale_));
        placeBadge();
    }
    update();
}

void PreviewCanvas::resetZoom()
{
    if (reset_) reset_->stop();
    const double fromScale = scale_;
    const QPointF fromOffset = offset_;
    auto* animation = new QVariantAnimation(this);
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    animation->setDuration(resetMilliseconds);
    // Ease-out: fast at first, settling gently.
    QEasingCurve easeOut(QEasingCurve::BezierSpline);
    easeOut.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
    animation->setEasingCurve(easeOut);
    connect(animation, &QVariantAnimation::valueChanged, this, [this, fromScale, fromOffset](const QVariant& value) {
        const double p = value.toDouble();
        setView(fromScale + (1 - fromScale) * p, fromOffset * (1 - p));
    });
    connect(animation, &QVariantAnimation::finished, this, [this] { setView(1, QPointF()); });
    reset_ = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void PreviewCanvas::placeBadge()
{
    badge_->adjustSize();
    badge_->move(width() - badge_->width() - badgeMargin, badgeMargin);
}

void PreviewCanvas::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    clampOffset();
    placeBadge();
}

void PreviewCanvas::wheelEvent(QWheelEvent* event)
{
    event->accept();
    const bool precise = !event->pixelDelta().isNull();
    const bool command = event->modifiers() & Qt::ControlModifier;
    const QPointF anchor = event->position() - QPointF(width() / 2.0, height() / 2.0);
    if (precise && !command) {
        const QPointF delta = event->pixelDelta();
        if (scale_ > 1) {
            setView(scale_, offset_ + delta);
            clampOffset();
        } else if (std::abs(delta.x()) >= std::abs(delta.y())) {
            // Sideways scrolling at or below 100 % has nothing to move.
        } else if (delta.y() < 0 || scale_ < 1) {
            zoom(1 + delta.y() / 100, anchor);
        }
        return;
    }
    // A mouse has no trackpad to pan with: its sideways wheel pans instead.
    if (!precise && !command && event->angleDelta().y() == 0) {
        if (scale_ > 1) {
            setView(scale_, offset_ + QPointF(event->angleDelta().x() / 120.0 * wheelNotchPan, 0));
            clampOffset();
        }
        return;
    }
    // A wheel's notch is 120 eighths of a degree; turned away from the user it zooms in.
    const double dy = precise ? event->pixelDelta().y() : event->angleDelta().y() / 120.0;
    zoom(1 + dy / (precise ? 100.0 : 10.0), anchor);
}

bool PreviewCanvas::event(QEvent* event)
{
    if (event->type() == QEvent::NativeGesture) {
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        if (gesture->gestureType() == Qt::ZoomNativeGesture) {
            zoom(1 + gesture->value(), gesture->position() - QPointF(width() / 2.0, height() / 2.0));
            event->accept();
            return true;
        }
    }
    return QWidget::event(event);
}

void PreviewCanvas::mousePressEvent(QMouseEvent* event)
{
    // The middle button drags the zoomed picture, the mouse's way of panning.
    if (event->button() == Qt::MiddleButton && !pressedAt_) {
        event->accept();
        panFrom_ = event->position() - offset_;
        setCursor(Qt::ClosedHandCursor);
        return;
    }
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    // A gesture whose release never came (the grab went elsewhere) ends here.
    if (pressedAt_) layer_.dragEnded();
    const QPointF at = toLayer(event->position());
    pressedAt_ = at;
    lastAt_ = at;
    layer_.dragChanged(at, QPointF(), frame());
    update();
}

void PreviewCanvas::mouseMoveEvent(QMouseEvent* event)
{
    if (panFrom_) {
        event->accept();
        setView(scale_, event->position() - *panFrom_);
        clampOffset();
        update();
        return;
    }
    if (!pressedAt_) return;
    event->accept();
    const QPointF at = toLayer(event->position());
    if (at == lastAt_) return;
    lastAt_ = at;
    layer_.dragChanged(*pressedAt_, at - *pressedAt_, frame());
    update();
}

void PreviewCanvas::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::MiddleButton && panFrom_) {
        event->accept();
        panFrom_.reset();
        unsetCursor();
        return;
    }
    if (event->button() != Qt::LeftButton || !pressedAt_) return;
    event->accept();
    const QPointF at = toLayer(event->position());
    if (at != lastAt_) layer_.dragChanged(*pressedAt_, at - *pressedAt_, frame());
    layer_.dragEnded();
    pressedAt_.reset();
    update();
}

void PreviewCanvas::paintPicture(QPainter& painter, const QRectF& frame) const
{
    drawShadow(painter, frame);
    painter.fillRect(frame, Qt::black);
    {
        // Fast scaling keeps up while playing; smooth scaling looks right while still.
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform, !model_.isPlaying());
        player_.paint(painter, frame);
        painter.restore();
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.35f), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(frame);
    painter.restore();
}

void PreviewCanvas::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Theme::canvas());
    const QRectF picture = frame();
    if (picture.isEmpty() || !std::isfinite(picture.width())) return;
    painter.setTransform(layerTransform());
    paintPicture(painter, picture);
    layer_.paint(painter, QSizeF(size()));
}

} // namespace ondexa
