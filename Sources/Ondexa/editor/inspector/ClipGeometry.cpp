#include "Ondexa/editor/inspector/ClipGeometry.h"

#include <algorithm>
#include <cmath>

namespace ondexa::clipgeometry {

namespace {

bool usable(double aspect) { return std::isfinite(aspect) && aspect > 0; }

// The two aspects, or equal ones when either can't be used.
struct Aspects {
    double output = 1;
    double clip = 1;
};
Aspects aspects(double outputAspect, double clipAspect)
{
    if (!usable(outputAspect) || !usable(clipAspect)) return {};
    return {outputAspect, clipAspect};
}

// Corner margins, as shares of the output's width and height.
constexpr double marginX = 0.03;
constexpr double marginY = 0.04;

} // namespace

Size fitSize(double outputAspect, double clipAspect)
{
    const auto [A, a] = aspects(outputAspect, clipAspect);
    if (A / a > 1) return {a / A, 1};  // narrower than the output
    return {1, A / a};
}

double size(const Clip& clip, double outputAspect)
{
    if (!clip.frame) return 1;
    return clip.frame->w / fitSize(outputAspect, clip.aspect).w;
}

NPoint centre(const Clip& clip)
{
    if (!clip.frame) return {0.5, 0.5};
    const NRect& f = *clip.frame;
    return {f.x + f.w / 2, f.y + f.h / 2};
}

NRect sized(const Clip& clip, double outputAspect, double scale)
{
    const Size fit = fitSize(outputAspect, clip.aspect);
    const NPoint c = centre(clip);
    const double w = fit.w * scale;
    const double h = fit.h * scale;
    return {c.x - w / 2, c.y - h / 2, w, h};
}

NRect filling(double outputAspect, double clipAspect)
{
    const auto [A, a] = aspects(outputAspect, clipAspect);
    const double r = a / A;
    const double w = r < 1 ? 1 : r;
    const double h = r < 1 ? A / a : 1;
    return {(1 - w) / 2, (1 - h) / 2, w, h};
}

NRect inCorner(double outputAspect, double clipAspect)
{
    const auto [A, a] = aspects(outputAspect, clipAspect);
    return {0.69, 0.6, 0.28, 0.28 * A / a};
}

NRect atCorner(const Clip& clip, double outputAspect, int corner)
{
    const Size fit = fitSize(outputAspect, clip.aspect);
    const double w = clip.frame ? clip.frame->w : fit.w;
    const double h = clip.frame ? clip.frame->h : fit.h;
    const bool right = corner % 2 == 1;
    const bool bottom = corner >= 2;
    return {right ? 1 - w - marginX : marginX, bottom ? 1 - h - marginY : marginY, w, h};
}

double fadeLimit(double duration, double otherFade) { return std::max(0.1, std::min(10.0, duration - otherFade)); }

} // namespace ondexa::clipgeometry
