#include "Ondexa/ui/ToggleSwitch.h"

#include "Ondexa/ui/Theme.h"

#include <QPainter>

namespace ondexa {

ToggleSwitch::ToggleSwitch(QWidget* parent) : QAbstractButton(parent)
{
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::StrongFocus);
}

QSize ToggleSwitch::sizeHint() const { return {34, 20}; }

void ToggleSwitch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal radius = track.height() / 2;
    QColor fill = isChecked() ? Theme::accent() : QColor(255, 255, 255, 46);
    QColor knob(250, 250, 252);
    if (!isEnabled()) {
        fill.setAlphaF(fill.alphaF() * 0.45f);
        knob.setAlphaF(0.5f);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(track, radius, radius);
    const qreal d = track.height() - 4;
    const qreal x = isChecked() ? track.right() - 2 - d : track.left() + 2;
    painter.setBrush(knob);
    painter.drawEllipse(QRectF(x, track.top() + 2, d, d));
    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Theme::accent().lighter(130), 1));
        painter.drawRoundedRect(track, radius, radius);
    }
}

} // namespace ondexa
