#pragma once

// The image caches of one render state: overlay images per overlay and output
// size, the last pointer bitmap, and one ring bitmap per mouse button. Shared
// by the compositor's queue and whoever else renders from the same state, so
// every look-up and insertion holds `lock_`.

#include "Ondexa/rendering/CursorRenderer.h"
#include "Ondexa/rendering/OverlayRenderer.h"

#include <QImage>
#include <QSize>

#include <cstddef>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace ondexa {

class RenderCaches {
public:
    // At most this many overlay images are held; a full cache is emptied before
    // the next one is stored.
    static constexpr std::size_t overlayLimit = 25;

    RenderCaches() = default;
    RenderCaches(const RenderCaches&) = delete;
    RenderCaches& operator=(const RenderCaches&) = delete;

    // The overlay drawn at the output size (see OverlayRenderer::render). Cached
    // whatever the overlay's times; drawn outside the lock. Nothing when it
    // can't be drawn.
    std::optional<OverlayRenderer::OverlayImage> overlay(const Overlay& overlay, QSize outputSize);

    // The pointer for a picture height, with the padding around its tip.
    // Nothing without a style or when it can't be drawn. Looked up, drawn and
    // stored under one holding of the lock.
    std::optional<CursorRenderer::PointerImage> pointer(const std::optional<CursorStyle>& style,
                                                        double pictureHeight);

    // The ring for a picture height and mouse button (right: the right button's
    // colour). Nothing without a style, with rings off, or when it can't be drawn.
    std::optional<QImage> ring(const std::optional<CursorStyle>& style, double pictureHeight,
                               bool right);

    // How many overlay images are held now.
    std::size_t overlayCount() const;

private:
    struct OverlayKey {
        Overlay overlay;  // times cleared: an overlay looks the same at every time
        QSize size;
        bool operator==(const OverlayKey&) const = default;
    };
    struct OverlayKeyHash {
        std::size_t operator()(const OverlayKey& key) const noexcept;
    };
    struct CachedPointer {
        int pixels;
        CursorStyle style;
        CursorRenderer::PointerImage pointer;
    };
    struct CachedRing {
        int pixels;
        CursorStyle style;
        QImage image;
    };

    mutable std::mutex lock_;  // guards the three fields below
    std::unordered_map<OverlayKey, OverlayRenderer::OverlayImage, OverlayKeyHash> overlays_;  // lock_
    std::optional<CachedPointer> pointer_;  // lock_
    std::optional<CachedRing> rings_[2];    // lock_; index 1 is the right button
};

} // namespace ondexa
