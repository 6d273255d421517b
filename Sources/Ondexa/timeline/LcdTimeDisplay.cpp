#include "Ondexa/timeline/LcdTimeDisplay.h"

#include "Ondexa/editing/PlayheadClock.h"
#include "Ondexa/ui/Theme.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace ondexa {

namespace {

QColor digit(double alpha = 1) { return QColor::fromRgbF(0.42f, 0.78f, 1.0f, float(alpha)); }

QFont codeFont() { return Theme::monoFont(19, Theme::Weight::medium); }
QFont labelFont() { return Theme::font(7, Theme::Weight::bold); }
QFont lengthFont() { return Theme::monoFont(10); }

constexpr double marginX = 12;
constexpr double marginY = 4;
constexpr double spacing = 10;
constexpr double outline = 1;  // the outer hairline lies outside the body

const QString ghost = QStringLiteral("88:88:88:88");
const QString label = QStringLiteral("HOSSZ");

} // namespace

LcdTimeDisplay::LcdTimeDisplay(PlayheadClock& clock, double duration, int frameRate, QWidget* parent)
    : QWidget(parent), clock_(&clock), duration_(duration), frameRate_(std::max(frameRate, 1))
{
    setToolTip(QStringLiteral("Lejátszófej helye (óra:perc:mp:képkocka) és a teljes hossz"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(&clock, &PlayheadClock::timeChanged, this, qOverload<>(&QWidget::update));
}

void LcdTimeDisplay::setDuration(double duration)
{
    if (duration == duration_) return;
    duration_ = duration;
    updateGeometry();
    update();
}

void LcdTimeDisplay::setFrameRate(int frameRate)
{
    frameRate = std::max(frameRate, 1);
    if (frameRate == frameRate_) return;
    frameRate_ = frameRate;
    update();
}

QString LcdTimeDisplay::timeCode(double seconds, int frameRate)
{
    const long long f = std::max(frameRate, 1);
    if (!(seconds >= 0)) seconds = 0;  // negative and NaN
    // Beyond what a frame count can hold shows the largest count.
    const double scaled = std::min(std::floor(seconds * double(f)), 9.0e18);
    const long long frames = static_cast<long long>(scaled);
    const long long s = frames / f;
    return QString::asprintf("%02lld:%02lld:%02lld:%02lld", s / 3600, (s / 60) % 60, s % 60, frames - s * f);
}

QSize LcdTimeDisplay::sizeHint() const
{
    const QFontMetricsF code(codeFont());
    const QFontMetricsF small(labelFont());
    const QFontMetricsF length(lengthFont());
    const double codeWidth = std::max(code.horizontalAdvance(ghost), code.horizontalAdvance(timeCode(3.6e6, frameRate_)));
    const double columnWidth =
        std::max(small.horizontalAdvance(label), length.horizontalAdvance(timeCode(duration_, frameRate_)));
    const double contentHeight = std::max(code.height(), small.height() + length.height());
    return QSize(int(std::ceil(codeWidth + spacing + columnWidth + 2 * marginX + 2 * outline)),
                 int(std::ceil(contentHeight + 2 * marginY + 2 * outline)));
}

void LcdTimeDisplay::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF body = QRectF(rect()).adjusted(outline, outline, -outline, -outline);

    QLinearGradient fill(body.topLeft(), body.bottomLeft());
    fill.setColorAt(0, QColor::fromRgbF(0.03f, 0.06f, 0.11f));
    fill.setColorAt(1, QColor::fromRgbF(0.07f, 0.12f, 0.2f));
    QPainterPath shape;
    shape.addRoundedRect(body, 6, 6);
    p.fillPath(shape, fill);
    const QRectF glossRect(body.left() + 1, body.top() + 1, body.width() - 2, 14);
    QLinearGradient gloss(glossRect.topLeft(), glossRect.bottomLeft());
    gloss.setColorAt(0, QColor::fromRgbF(1, 1, 1, 0.12f));
    gloss.setColorAt(1, QColor::fromRgbF(1, 1, 1, 0.02f));
    QPainterPath glossShape;
    glossShape.addRoundedRect(glossRect, 6, 6);
    p.fillPath(glossShape, gloss);
    p.setPen(QPen(QColor::fromRgbF(0, 0, 0, 0.8f), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(body.adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    p.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.12f), 1));
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 7, 7);

    const QFontMetricsF code(codeFont());
    const QFontMetricsF small(labelFont());
    const QFontMetricsF length(lengthFont());
    const double left = body.left() + marginX;
    const double contentHeight = std::max(code.height(), small.height() + length.height());
    const double bottom = body.top() + marginY + contentHeight;
    // Both columns end on one baseline.
    const double baseline = bottom - std::max(code.descent(), length.descent());

    const QString now = timeCode(clock_ ? clock_->time() : 0, frameRate_);
    p.setFont(codeFont());
    p.setPen(digit(0.08));
    p.drawText(QPointF(left, baseline), ghost);
    // The glow: the digits' outline widened twice, faintly, under them.
    QPainterPath digits;
    digits.addText(QPointF(left, baseline), codeFont(), now);
    for (const auto& [width, alpha] : {std::pair(6.0, 0.12), std::pair(3.0, 0.25)})
        p.strokePath(digits, QPen(digit(alpha * 0.7), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setPen(digit());
    p.drawText(QPointF(left, baseline), now);

    const double column = left + std::max(code.horizontalAdvance(ghost), code.horizontalAdvance(now)) + spacing;
    p.setFont(labelFont());
    p.setPen(digit(0.5));
    p.drawText(QPointF(column, baseline - length.ascent() - small.descent()), label);
    p.setFont(lengthFont());
    p.setPen(digit(0.75));
    p.drawText(QPointF(column, baseline), timeCode(duration_, frameRate_));
}

} // namespace ondexa
