#include "Ondexa/app/LevelMeter.h"

#include "Ondexa/ui/Theme.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace ondexa {

namespace {
// Silence floors at −100 dB rather than −infinity.
float decibels(float level) { return 20.0f * std::log10(std::max(level, 0.00001f)); }
} // namespace

LevelMeter::LevelMeter(QWidget* parent) : QWidget(parent)
{
    setFixedHeight(barHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void LevelMeter::setLevel(float level)
{
    if (level == level_) return;
    level_ = level;
    update();
}

double LevelMeter::fraction(float level) { return std::clamp((decibels(level) + 60.0f) / 60.0f, 0.0f, 1.0f); }

QColor LevelMeter::color(float level)
{
    const float d = decibels(level);
    if (d > -3) return Theme::red();
    if (d > -12) return Theme::yellow();
    return Theme::green();
}

void LevelMeter::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF bar(0, 0, width(), barHeight);
    const qreal radius = bar.height() / 2;
    painter.setBrush(Theme::quaternary());
    painter.drawRoundedRect(bar, radius, radius);
    const qreal filled = bar.width() * fraction(level_);
    if (filled <= 0) return;
    painter.setBrush(color(level_));
    // A sliver narrower than the capsule's ends still reads as a capsule.
    painter.drawRoundedRect(QRectF(0, 0, filled, bar.height()), std::min(radius, filled / 2), radius);
}

} // namespace ondexa
