#pragma once

#include <QColor>
#include <QWidget>

namespace ondexa {

// The level of one audio-interface input: a 6-pixel bar, linear in decibels
// from −60 dB (empty) to 0 dB (full), green, yellow above −12 dB, red above
// −3 dB. It fills the width its row gives it.
class LevelMeter : public QWidget {
    Q_OBJECT

public:
    explicit LevelMeter(QWidget* parent = nullptr);

    float level() const { return level_; }
    void setLevel(float level);  // linear peak: 0 silence, 1 full scale

    // The filled part of the width and its colour for a level.
    static double fraction(float level);
    static QColor color(float level);

    QSize sizeHint() const override { return {120, barHeight}; }
    QSize minimumSizeHint() const override { return {20, barHeight}; }
    static constexpr int barHeight = 6;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    float level_ = 0;
};

} // namespace ondexa
