#include "Ondexa/editor/PreviewCanvas.h"

#include "Ondexa/editor/PlayerView.h"
#include "Ondexa/ui/Theme.h"

#include <QPainter>

namespace ondexa {

PreviewCanvas::PreviewCanvas(EditorModel& model, PlayerView& player, QWidget* parent)
    : QWidget(parent), model_(model), player_(player)
{
    setMinimumHeight(280);
    connect(&player_, &PlayerView::frameChanged, this, qOverload<>(&QWidget::update));
}

void PreviewCanvas::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Theme::canvas());
    player_.paint(painter, QRectF(rect()));
}

} // namespace ondexa
