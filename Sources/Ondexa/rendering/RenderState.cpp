#include "RenderState.h"

#include <utility>

namespace ondexa {

RenderState::RenderState(std::vector<VideoLayer> layers, std::vector<ClickEvent> clicks, bool showClicks,
                         std::vector<CursorSample> cursor, std::optional<CursorStyle> cursorStyle)
    : layers(std::move(layers)), clicks(std::move(clicks)), showClicks(showClicks), cursor(std::move(cursor)),
      cursorStyle(std::move(cursorStyle))
{
}

std::optional<OverlayRenderer::OverlayImage> RenderState::image(const Overlay& overlay, QSize outputSize)
{
    return caches_.overlay(overlay, outputSize);
}

std::optional<CursorRenderer::PointerImage> RenderState::pointer(double pictureHeight)
{
    return caches_.pointer(cursorStyle, pictureHeight);
}

std::optional<QImage> RenderState::ring(double pictureHeight, bool right)
{
    return caches_.ring(cursorStyle, pictureHeight, right);
}

} // namespace ondexa
