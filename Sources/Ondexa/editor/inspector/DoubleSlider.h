#pragma once

#include <QSlider>

namespace ondexa {

// A horizontal slider over a closed range of doubles, moved in whole steps
// (1 % for sizes and volumes, 0.1° for angles, 1 dB for gains).
//
// A drag begins when the handle or the groove is pressed: a click jumps to
// the place clicked and counts as a drag. A key or wheel step is a drag of
// one value; the wheel steps only a focused slider, and over an unfocused one
// it scrolls what holds it. `setValue` from code moves the handle and
// delivers nothing.
class DoubleSlider : public QSlider {
    Q_OBJECT

public:
    DoubleSlider(double minimum, double maximum, double step, QWidget* parent = nullptr);

    double minimum() const { return minimum_; }
    double maximum() const { return maximum_; }
    double step() const { return step_; }
    double value() const;
    // Shows `value` (kept inside the range; a value that is not finite shows
    // the minimum) without delivering it.
    void setValue(double value);
    // A drag is going on: code should leave the handle alone.
    bool isHeld() const { return held_; }

signals:
    void dragStarted();
    // A value the user chose, during a drag.
    void valueDelivered(double value);
    void dragEnded();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void beginDrag();
    void endDrag();
    int stepsOf(double value) const;

    double minimum_;
    double maximum_;
    double step_;
    bool held_ = false;
    bool stepping_ = false;  // inside a key or wheel step
};

} // namespace ondexa
