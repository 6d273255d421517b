#include "Ondexa/editor/PlayerView.h"

#include "Ondexa/editing/EditorModel.h"

#include <QPainter>

namespace ondexa {

PlayerView::PlayerView(EditorModel& model, QObject* parent) : QObject(parent), model_(&model)
{
    // The player is the model's for its whole life: one connection suffices.
    frame_ = model.player().currentFrame();
    connect(&model.player(), &platform::Player::frameChanged, this, [this](const QImage& frame) {
        frame_ = frame;
        emit frameChanged();
    });
}

void PlayerView::paint(QPainter& painter, const QRectF& into) const
{
    if (frame_.isNull() || into.isEmpty()) return;
    // The whole picture, its aspect kept; bands where the aspects differ.
    const QSizeF size = QSizeF(frame_.size()).scaled(into.size(), Qt::KeepAspectRatio);
    const QRectF target(into.center().x() - size.width() / 2, into.center().y() - size.height() / 2, size.width(),
                        size.height());
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, frame_);
    painter.restore();
}

} // namespace ondexa
