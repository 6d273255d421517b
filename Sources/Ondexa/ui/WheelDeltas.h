#pragma once

// What a wheel event means to the views that zoom and pan with it.

#include <QPoint>
#include <QPointF>

#include <functional>
#include <optional>

class QWheelEvent;

namespace ondexa {

// The wheel's motion a zoom reads. With Alt held the X server turns a
// vertical wheel horizontal, so the vertical part counts where there is one
// and the horizontal one stands in for it otherwise.
inline double zoomDelta(QPointF delta) { return delta.y() != 0 ? delta.y() : delta.x(); }

// Tells a touchpad's smooth scrolling from a wheel's notches where Qt can't:
// given the event's device (its system id) and its angle delta, the pixels
// the fingers moved, or none for a wheel.
using SmoothScrolling = std::function<std::optional<QPointF>(qint64 deviceId, QPoint angleDelta)>;
// The whole program's; an empty one leaves Qt's word alone.
void setSmoothScrolling(SmoothScrolling judge);

// The event's precise motion in pixels: Qt's where it gave one, else the
// smooth scrolling's; null for a wheel's notches.
QPoint preciseDelta(const QWheelEvent& event);

} // namespace ondexa
