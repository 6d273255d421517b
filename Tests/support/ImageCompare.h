#pragma once

// Comparing rendered pictures with what is expected, allowing for codec loss.

#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace fixtures {

// The mean of `measure` over the differences of every colour channel of
// every pixel of two pictures of one size.
template <typename Measure>
double meanOverChannels(const QImage& a, const QImage& b, Measure measure)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            for (const int d : {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)}) sum += measure(d);
        }
    return sum / (3.0 * a.width() * a.height());
}

// Mean absolute difference per colour channel of two pictures of one size.
inline double meanDifference(const QImage& a, const QImage& b)
{
    return meanOverChannels(a, b, [](int d) { return double(std::abs(d)); });
}

// Peak signal-to-noise ratio in dB of two pictures of one size over their
// colour channels; 100 for equal pictures.
inline double psnr(const QImage& a, const QImage& b)
{
    const double mse = meanOverChannels(a, b, [](int d) { return double(d) * d; });
    return mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 100;
}

// The largest difference in luma (0–255) between two pictures of one size:
// whether a change can be seen at all.
inline int largestLumaDifference(const QImage& a, const QImage& b)
{
    int largest = 0;
    const QImage p = a.convertToFormat(QImage::Format_RGB32), q = b.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < std::min(p.height(), q.height()); ++y)
        for (int x = 0; x < std::min(p.width(), q.width()); ++x)
            largest = std::max(largest, std::abs(qGray(p.pixel(x, y)) - qGray(q.pixel(x, y))));
    return largest;
}

} // namespace fixtures
