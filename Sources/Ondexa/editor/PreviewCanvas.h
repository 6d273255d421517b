#pragma once

#include "Ondexa/editor/PreviewEditingLayer.h"

#include <QPointF>
#include <QPointer>
#include <QTransform>
#include <QWidget>

#include <optional>

class QPushButton;
class QVariantAnimation;

namespace ondexa {

class EditorModel;
class PlayerView;

// The preview pane: the edit's picture fitted to the output's aspect with a
// thin outline and a soft shadow, the editing layer's marks and guides over
// it, all zoomed (0.2 to 8 times, about the pane's centre) and panned as one.
// Zoom and pan belong to this view alone: not saved, not undoable.
//
// Wheel and pinch events over the pane are always taken here; the pointer
// anchors a zoom. The badge in the top-right corner shows the zoom while it
// is not 100 % and brings it back.
class PreviewCanvas : public QWidget {
    Q_OBJECT

public:
    static constexpr double minimumScale = 0.2;
    static constexpr double maximumScale = 8;
    // Margin of the badge from the pane's corner.
    static constexpr int badgeMargin = 8;
    // The badge's return to 100 %.
    static constexpr int resetMilliseconds = 200;

    PreviewCanvas(EditorModel& model, PlayerView& player, QWidget* parent = nullptr);

    double scale() const { return scale_; }
    // The pan of the zoomed picture from its centred place, in pixels.
    QPointF offset() const { return offset_; }
    // Zooms by `factor` keeping the point `anchor` (from the pane's centre,
    // y down) where it is.
    void zoom(double factor, QPointF anchor);
    // Layer points to the pane's pixels: scale about the centre, then offset.
    QTransform layerTransform() const;

    PreviewEditingLayer& editingLayer() { return layer_; }
    QPushButton& zoomBadge() { return *badge_; }
    // "150 %  ·  Illesztés".
    static QString badgeText(double scale);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Keeps the zoomed picture over the whole pane; no pan at or below 100 %.
    void clampOffset();
    void setView(double scale, QPointF offset);
    void resetZoom();
    void placeBadge();
    QPointF toLayer(QPointF position) const;
    QRectF frame() const;
    void paintPicture(QPainter& painter, const QRectF& frame) const;

    EditorModel& model_;
    PlayerView& player_;
    PreviewEditingLayer layer_;
    double scale_ = 1;
    QPointF offset_;
    QPushButton* badge_ = nullptr;
    QPointer<QVariantAnimation> reset_;
    // The press of the gesture in progress, in layer points; the last position handed over.
    std::optional<QPointF> pressedAt_;
    QPointF lastAt_;
    // While the middle button pans: the pointer's place less the pan, in pane pixels.
    std::optional<QPointF> panFrom_;
};

} // namespace ondexa
