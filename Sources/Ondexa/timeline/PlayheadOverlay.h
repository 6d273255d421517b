#pragma once

// The playhead over the timeline canvas: an opaque red line 2 points wide,
// centred on the playhead's x, as high as its parent. A child widget of its
// own so that the clock's ticks during playback only move it: the canvas
// under it is repainted from its cache, never redrawn.

#include <QPointer>
#include <QWidget>

namespace ondexa {

class PlayheadClock;

class PlayheadOverlay final : public QWidget {
    Q_OBJECT

public:
    // Follows `parent`'s height; `parent` is the widget it is laid over.
    PlayheadOverlay(PlayheadClock& clock, QWidget* parent);

    void setView(double pps, double scrollX);
    double pixelsPerSecond() const { return pps_; }
    double scrollX() const { return scrollX_; }
    // The left edge for the clock's time: time·pps + 10 − scrollX − 1.
    int lineX() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void place();

    QPointer<PlayheadClock> clock_;
    double pps_ = 100;
    double scrollX_ = 0;
};

} // namespace ondexa
