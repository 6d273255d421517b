#pragma once

// Comparing rendered pictures with what is expected, allowing for codec loss.

#include <QImage>

#include <algorithm>
#include <cstdlib>

namespace fixtures {

// Mean absolute difference per colour channel of two pictures of one size.
inline double meanDifference(const QImage& a, const QImage& b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * a.width() * a.height());
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
