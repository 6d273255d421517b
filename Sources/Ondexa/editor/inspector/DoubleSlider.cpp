#include "Ondexa/editor/inspector/DoubleSlider.h"

#include "Ondexa/ui/WheelPassing.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QSignalBlocker>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace ondexa {

namespace {

// A left click jumps the handle to the place clicked instead of paging.
class AbsoluteClickStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == QStyle::SH_Slider_AbsoluteSetButtons) return Qt::LeftButton;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

DoubleSlider::DoubleSlider(double minimum, double maximum, double step, QWidget* parent)
    : QSlider(Qt::Horizontal, parent), minimum_(minimum), maximum_(maximum), step_(step > 0 ? step : 1)
{
    auto* style = new AbsoluteClickStyle();
    style->setParent(this);
    setStyle(style);
    QSlider::setRange(stepsOf(minimum_), stepsOf(maximum_));
    setSingleStep(1);
    setPageStep(std::max(1, (QSlider::maximum() - QSlider::minimum()) / 10));
    setFocusPolicy(Qt::StrongFocus);
    passUnfocusedWheel(*this);
    connect(this, &QSlider::sliderPressed, this, &DoubleSlider::beginDrag);
    connect(this, &QSlider::valueChanged, this, [this](int) {
        if (stepping_) beginDrag();
        if (held_) emit valueDelivered(value());
    });
}

int DoubleSlider::stepsOf(double value) const
{
    const double steps = std::round(value / step_);
    if (!(steps > -2e9)) return -2000000000;
    if (steps > 2e9) return 2000000000;
    return int(steps);
}

double DoubleSlider::value() const
{
    // The ends give the range's own values, not a multiple of the step near them.
    const int steps = QSlider::value();
    if (steps <= QSlider::minimum()) return minimum_;
    if (steps >= QSlider::maximum()) return maximum_;
    // 0.01 × 7 is 0.07000000000000001; 7 ÷ 100 is 0.07.
    const double perUnit = std::round(1 / step_);
    if (perUnit >= 1 && std::abs(perUnit * step_ - 1) < 1e-12) return steps / perUnit;
    return steps * step_;
}

void DoubleSlider::setValue(double value)
{
    const QSignalBlocker blocker(this);
    QSlider::setValue(std::isfinite(value) ? stepsOf(std::clamp(value, minimum_, maximum_)) : QSlider::minimum());
}

void DoubleSlider::beginDrag()
{
    if (held_) return;
    held_ = true;
    emit dragStarted();
}

void DoubleSlider::endDrag()
{
    if (!held_) return;
    held_ = false;
    emit dragEnded();
}

void DoubleSlider::mousePressEvent(QMouseEvent* event)
{
    // The jump to the click comes before QSlider reports the press: the drag
    // begins here so that the jump is its first value.
    if (event->button() == Qt::LeftButton) beginDrag();
    QSlider::mousePressEvent(event);
    if (!isSliderDown()) endDrag();
}

void DoubleSlider::mouseReleaseEvent(QMouseEvent* event)
{
    QSlider::mouseReleaseEvent(event);
    if (!isSliderDown()) endDrag();
}

// A key or wheel step that moves the handle is a drag of one value; one
// that moves nothing (at an end, or another key) is no drag at all.
void DoubleSlider::keyPressEvent(QKeyEvent* event)
{
    if (held_) {
        QSlider::keyPressEvent(event);
        return;
    }
    stepping_ = true;
    QSlider::keyPressEvent(event);
    stepping_ = false;
    endDrag();
}

void DoubleSlider::wheelEvent(QWheelEvent* event)
{
    if (held_) {
        QSlider::wheelEvent(event);
        return;
    }
    stepping_ = true;
    QSlider::wheelEvent(event);
    stepping_ = false;
    endDrag();
}

} // namespace ondexa
