#pragma once

// What one video composition hands its compositor: the visible tracks as
// layers, the recorded clicks and pointer, the pointer style, and the image
// caches that the compositor fills while it draws.

#include "Ondexa/model/Overlays.h"
#include "Ondexa/model/Timeline.h"
#include "Ondexa/model/Uuid.h"
#include "Ondexa/rendering/RenderCaches.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <variant>
#include <vector>

namespace ondexa {

// One visible track as the compositor sees it.
struct VideoLayer {
    // A video or image track.
    struct Pictures {
        std::unordered_map<Uuid, std::int32_t> video;  // clip id → composition track carrying its frames
        std::unordered_map<Uuid, QImage> stills;       // clip id → the still picture it shows
    };
    // An effects track: its clips carry overlays.
    struct Effects {};
    using Content = std::variant<Pictures, Effects>;

    Content content = Effects{};
    std::vector<Clip> clips;               // the track's effective clips
    std::unordered_set<Uuid> screenClips;  // clips showing the screen recording: they get clicks and the pointer
    double outputAspect = 16.0 / 9.0;      // output width / height
};

// Made once per video composition and never shared between two. Everything
// but the caches is fixed at creation and read without locking; the caches
// hold their own lock.
class RenderState {
public:
    RenderState(std::vector<VideoLayer> layers, std::vector<ClickEvent> clicks, bool showClicks,
                std::vector<CursorSample> cursor, std::optional<CursorStyle> cursorStyle);
    RenderState(const RenderState&) = delete;
    RenderState& operator=(const RenderState&) = delete;

    const std::vector<VideoLayer> layers;    // bottom first
    const std::vector<ClickEvent> clicks;    // recording order, seconds of the recording
    const bool showClicks;
    const std::vector<CursorSample> cursor;  // ascending by time
    const std::optional<CursorStyle> cursorStyle;  // none: the pointer is not redrawn

    // One overlay drawn over a transparent picture of the output size.
    std::optional<OverlayRenderer::OverlayImage> image(const Overlay& overlay, QSize outputSize);
    // The pointer for a picture of that height, with the distance of its tip
    // from the image's left and top edges.
    std::optional<CursorRenderer::PointerImage> pointer(double pictureHeight);
    // The click ring for a picture of that height and mouse button.
    std::optional<QImage> ring(double pictureHeight, bool right);

    RenderCaches& caches() { return caches_; }

private:
    RenderCaches caches_;  // locks itself
};

} // namespace ondexa
