#pragma once

// Comparing yuv420p pictures plane by plane, for the export's tests.

extern "C" {
#include <libavutil/frame.h>
}

#include <QRect>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace ondexa::testing {

// Visits one plane's samples of `area` (in luma samples; chroma's is half)
// of two pictures: visit(x, y, a, b) with luma coordinates.
template <typename Visit>
void forSamples(const AVFrame& a, const AVFrame& b, int plane, QRect area, Visit visit)
{
    const int shift = plane ? 1 : 0;
    for (int y = area.top() >> shift; y < (area.bottom() + 1) >> shift; ++y) {
        const std::uint8_t* p = a.data[plane] + std::ptrdiff_t(y) * a.linesize[plane];
        const std::uint8_t* q = b.data[plane] + std::ptrdiff_t(y) * b.linesize[plane];
        for (int x = area.left() >> shift; x < (area.right() + 1) >> shift; ++x) visit(x << shift, y << shift, p[x], q[x]);
    }
}

// Peak signal-to-noise ratio in dB of one plane of two yuv420p pictures over `area`; 100 when equal.
inline double planePsnr(const AVFrame& a, const AVFrame& b, int plane, QRect area)
{
    double sum = 0;
    std::int64_t n = 0;
    forSamples(a, b, plane, area, [&](int, int, int p, int q) {
        sum += double(p - q) * (p - q);
        ++n;
    });
    const double mse = n ? sum / double(n) : 0;
    return mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 100;
}

// Samples of one plane outside `inside` that differ.
inline int differingOutside(const AVFrame& a, const AVFrame& b, int plane, QRect inside)
{
    int n = 0;
    forSamples(a, b, plane, QRect(0, 0, a.width, a.height), [&](int x, int y, int p, int q) {
        if (p != q && !inside.contains(x, y)) ++n;
    });
    return n;
}

// The lowest of the three planes' PSNR over the whole pictures.
inline double lowestPsnr(const AVFrame& a, const AVFrame& b)
{
    const QRect all(0, 0, a.width, a.height);
    return std::min({planePsnr(a, b, 0, all), planePsnr(a, b, 1, all), planePsnr(a, b, 2, all)});
}

} // namespace ondexa::testing
