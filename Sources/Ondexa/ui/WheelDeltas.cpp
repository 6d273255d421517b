#include "Ondexa/ui/WheelDeltas.h"

#include <QPointingDevice>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace ondexa {

namespace {

SmoothScrolling& judge()
{
    static SmoothScrolling shared;
    return shared;
}

// Whole pixels, a motion never rounded away: it would be read as a notch.
int wholePixels(double value)
{
    if (!std::isfinite(value) || value == 0) return 0;
    const double rounded = std::round(std::clamp(value, -1e6, 1e6));
    return rounded != 0 ? int(rounded) : (value > 0 ? 1 : -1);
}

} // namespace

void setSmoothScrolling(SmoothScrolling judge_) { judge() = std::move(judge_); }

QPoint preciseDelta(const QWheelEvent& event)
{
    if (!event.pixelDelta().isNull() || !judge() || event.angleDelta().isNull()) return event.pixelDelta();
    const QPointingDevice* device = event.pointingDevice();
    const std::optional<QPointF> pixels = judge()(device ? device->systemId() : -1, event.angleDelta());
    if (!pixels) return {};
    return {wholePixels(pixels->x()), wholePixels(pixels->y())};
}

} // namespace ondexa
