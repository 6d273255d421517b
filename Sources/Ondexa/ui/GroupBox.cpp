#include "Ondexa/ui/GroupBox.h"

#include <QPainter>

namespace ondexa {

void GroupBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(255, 255, 255, 22), 1));
    painter.setBrush(QColor(255, 255, 255, 14));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
}

} // namespace ondexa
