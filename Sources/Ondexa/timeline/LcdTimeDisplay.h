#pragma once

// The toolbar's time code: the playhead as hh:mm:ss:ff in glowing digits over
// unlit "88" segments, and the edit's length under "HOSSZ". Repainted when the
// clock ticks, the length or the frame rate changes; nothing else.

#include <QPointer>
#include <QString>
#include <QWidget>

namespace ondexa {

class PlayheadClock;

class LcdTimeDisplay final : public QWidget {
    Q_OBJECT

public:
    LcdTimeDisplay(PlayheadClock& clock, double duration, int frameRate, QWidget* parent = nullptr);

    void setDuration(double duration);
    void setFrameRate(int frameRate);
    double duration() const { return duration_; }
    int frameRate() const { return frameRate_; }

    // "01:02:05:15" for 3725.5 s at 30 fps; negative and NaN show zero.
    static QString timeCode(double seconds, int frameRate);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPointer<PlayheadClock> clock_;
    double duration_ = 0;
    int frameRate_ = 30;
};

} // namespace ondexa
