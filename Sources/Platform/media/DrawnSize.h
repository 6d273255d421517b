#pragma once

#include <QSize>

#include <algorithm>
#include <cmath>

namespace platform {

// The size at which a source picture ends up on the output: scaled as a
// whole, its aspect kept, to fit inside `box` or to cover it. Decoding
// straight to that size spares drawing a full picture small. An empty box
// stands for the picture's own size.
struct DrawnSize {
    QSize box;
    bool cover = false;  // fills the box (the rest cropped) rather than fitting inside it

    bool isFull() const { return box.isEmpty(); }

    // `picture` scaled as drawn, rounded up so that it still covers what it
    // is drawn on; never enlarged.
    QSize scaled(QSize picture) const
    {
        if (isFull() || picture.isEmpty()) return picture;
        const double sx = double(box.width()) / picture.width();
        const double sy = double(box.height()) / picture.height();
        const double s = cover ? std::max(sx, sy) : std::min(sx, sy);
        if (!(s < 1)) return picture;
        // A hair below a whole number is that number, not the next one up.
        const auto side = [s](int length) { return std::clamp(int(std::ceil(length * s - 1e-6)), 1, length); };
        return {side(picture.width()), side(picture.height())};
    }

    bool operator==(const DrawnSize&) const = default;
};

} // namespace platform
