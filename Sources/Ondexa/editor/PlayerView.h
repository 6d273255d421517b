#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>

class QPainter;
class QRectF;

namespace ondexa {

class EditorModel;

// Holds the player's latest frame and draws it aspect-fitted into a
// rectangle, so the preview can place it inside its own zoom and pan.
class PlayerView : public QObject {
    Q_OBJECT

public:
    explicit PlayerView(EditorModel& model, QObject* parent = nullptr);

    const QImage& frame() const { return frame_; }
    // Draws the frame fitted into `into`, centred (nothing before the first frame).
    void paint(QPainter& painter, const QRectF& into) const;

signals:
    void frameChanged();

private:
    QPointer<EditorModel> model_;
    QImage frame_;
};

} // namespace ondexa
