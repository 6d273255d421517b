#include "Ondexa/editor/inspector/RgbaColor.h"

#include <algorithm>
#include <cmath>

namespace ondexa {

namespace {

float unit(double component) { return std::isfinite(component) ? float(std::clamp(component, 0.0, 1.0)) : 0.0f; }

} // namespace

QColor rgbaColor(const RGBA& rgba)
{
    return QColor::fromRgbF(unit(rgba.r), unit(rgba.g), unit(rgba.b), unit(rgba.a));
}

RGBA rgbaFromColor(const QColor& color)
{
    if (!color.isValid()) return {1, 0, 0, 1};
    // HSV, HSL, CMYK and extended colours in their sRGB form.
    const QColor rgb = color.toRgb();
    return {rgb.redF(), rgb.greenF(), rgb.blueF(), rgb.alphaF()};
}

} // namespace ondexa
