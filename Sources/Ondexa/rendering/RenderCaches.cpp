#include "Ondexa/rendering/RenderCaches.h"

namespace ondexa {

std::size_t RenderCaches::OverlayKeyHash::operator()(const OverlayKey& key) const noexcept
{
    std::size_t seed = std::hash<Overlay>{}(key.overlay);
    hashCombine(seed, std::hash<int>{}(key.size.width()));
    hashCombine(seed, std::hash<int>{}(key.size.height()));
    return seed;
}

std::optional<OverlayRenderer::OverlayImage> RenderCaches::overlay(const Overlay& overlay, QSize outputSize)
{
    OverlayKey key{overlay, outputSize};
    key.overlay.start = 0;
    key.overlay.end = 0;
    {
        std::lock_guard guard(lock_);
        if (const auto found = overlays_.find(key); found != overlays_.end())
            return found->second;
    }
    // Drawn without the lock: a long text must not hold up the pointer, and two
    // threads drawing the same overlay at once merely store it twice.
    std::optional<OverlayRenderer::OverlayImage> drawn = OverlayRenderer::render(overlay, outputSize);
    if (!drawn)
        return std::nullopt;
    std::lock_guard guard(lock_);
    if (overlays_.size() >= overlayLimit && !overlays_.contains(key))
        overlays_.clear();
    overlays_.insert_or_assign(std::move(key), *drawn);
    return drawn;
}

std::optional<CursorRenderer::PointerImage> RenderCaches::pointer(const std::optional<CursorStyle>& style,
                                                                  double pictureHeight)
{
    if (!style)
        return std::nullopt;
    const std::optional<int> pixels = CursorRenderer::pointerPixels(*style, pictureHeight);
    if (!pixels)
        return std::nullopt;
    std::lock_guard guard(lock_);
    if (pointer_ && pointer_->pixels == *pixels && pointer_->style == *style)
        return pointer_->pointer;
    std::optional<CursorRenderer::PointerImage> drawn = CursorRenderer::image(*pixels, *style);
    if (!drawn)
        return std::nullopt;
    pointer_ = CachedPointer{*pixels, *style, *drawn};
    return drawn;
}

std::optional<QImage> RenderCaches::ring(const std::optional<CursorStyle>& style, double pictureHeight,
                                         bool right)
{
    if (!style || !style->ring)
        return std::nullopt;
    const std::optional<int> pixels = CursorRenderer::pointerPixels(*style, pictureHeight);
    if (!pixels)
        return std::nullopt;
    std::lock_guard guard(lock_);
    std::optional<CachedRing>& cached = rings_[right ? 1 : 0];
    if (cached && cached->pixels == *pixels && cached->style == *style)
        return cached->image;
    const RGBA& color = right ? style->ringRightColor : style->ringColor;
    std::optional<QImage> drawn = CursorRenderer::ring(style->ringSize * *pixels, *style, color);
    if (!drawn)
        return std::nullopt;
    cached = CachedRing{*pixels, *style, *drawn};
    return drawn;
}

std::size_t RenderCaches::overlayCount() const
{
    std::lock_guard guard(lock_);
    return overlays_.size();
}

} // namespace ondexa
