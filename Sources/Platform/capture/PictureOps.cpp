#include "Platform/capture/PictureOps.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform::pictures {

void drawCursor(std::uint8_t* pixels, QSize size, const std::uint32_t* cursor, int cursorWidth, int cursorHeight,
                QPoint at)
{
    const int x0 = std::max(0, at.x());
    const int y0 = std::max(0, at.y());
    const int x1 = std::min(size.width(), at.x() + cursorWidth);
    const int y1 = std::min(size.height(), at.y() + cursorHeight);
    for (int y = y0; y < y1; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(pixels + std::size_t(y) * size.width() * 4);
        const std::uint32_t* src = cursor + std::size_t(y - at.y()) * cursorWidth;
        for (int x = x0; x < x1; ++x) {
            const std::uint32_t s = src[x - at.x()];
            const std::uint32_t a = s >> 24;
            if (a == 0) continue;
            std::uint32_t& d = row[x];
            if (a == 255) {
                d = (d & 0xFF000000u) | (s & 0x00FFFFFFu);
                continue;
            }
            const std::uint32_t keep = 255 - a;
            std::uint32_t out = d & 0xFF000000u;
            for (int shift = 0; shift < 24; shift += 8) {
                const std::uint32_t sc = (s >> shift) & 0xFF;
                const std::uint32_t dc = (d >> shift) & 0xFF;
                out |= std::min<std::uint32_t>(255, sc + (dc * keep + 127) / 255) << shift;
            }
            d = out;
        }
    }
}

void fitInto(const std::uint8_t* source, QSize sourceSize, std::uint8_t* out, QSize outSize)
{
    const double scale = std::min(double(outSize.width()) / sourceSize.width(),
                                  double(outSize.height()) / sourceSize.height());
    const int w = std::clamp(int(std::lround(sourceSize.width() * scale)), 1, outSize.width());
    const int h = std::clamp(int(std::lround(sourceSize.height() * scale)), 1, outSize.height());
    const int ox = (outSize.width() - w) / 2;
    const int oy = (outSize.height() - h) / 2;
    const std::size_t outStride = std::size_t(outSize.width()) * 4;
    if (w != outSize.width() || h != outSize.height()) std::memset(out, 0, outStride * outSize.height());

    const QImage wrapped(source, sourceSize.width(), sourceSize.height(), sourceSize.width() * 4,
                         QImage::Format_RGB32);
    const QImage scaled = (w == sourceSize.width() && h == sourceSize.height())
                              ? wrapped
                              : wrapped.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    for (int y = 0; y < h; ++y)
        std::memcpy(out + std::size_t(oy + y) * outStride + std::size_t(ox) * 4, scaled.constScanLine(y),
                    std::size_t(w) * 4);
}

bool cutsTo(QSize source, QSize out)
{
    const int dw = source.width() - out.width();
    const int dh = source.height() - out.height();
    return dw >= 0 && dw <= 1 && dh >= 0 && dh <= 1;
}

} // namespace platform::pictures
