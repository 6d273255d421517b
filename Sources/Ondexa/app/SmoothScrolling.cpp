#include "Ondexa/app/SmoothScrolling.h"

#include "Ondexa/ui/WheelDeltas.h"
#include "Platform/input/ScrollDevices.h"

#include <QGuiApplication>

#include <memory>

namespace ondexa {

void installSmoothScrolling()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return;
    auto judge = std::make_shared<platform::ScrollJudge>([] { return platform::queryPointerDevices(); });
    setSmoothScrolling([judge](qint64 deviceId, QPoint angleDelta) -> std::optional<QPointF> {
        const auto delta = judge->judge(int(deviceId), angleDelta.x(), angleDelta.y());
        if (!delta) return std::nullopt;
        return QPointF(delta->x, delta->y);
    });
}

} // namespace ondexa
