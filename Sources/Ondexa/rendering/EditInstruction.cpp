#include "Ondexa/rendering/EditInstruction.h"

#include "Ondexa/rendering/LayerGeometry.h"

#include <cmath>
#include <optional>
#include <variant>

namespace ondexa {

namespace {

// Boxes beyond this are no smaller than any picture: decoded at full size.
constexpr double kLargestBox = 1 << 15;

} // namespace

platform::DrawnSize EditInstruction::drawnSize(std::int32_t trackId, const platform::MediaTime& time,
                                               QSize renderSize) const
{
    if (!state_ || renderSize.isEmpty() || !time.isNumeric()) return {};
    const double t = time.seconds();
    const QRectF bounds(QPointF(0, 0), QSizeF(renderSize));
    std::optional<platform::DrawnSize> found;
    for (const VideoLayer& layer : state_->layers) {
        const auto* pictures = std::get_if<VideoLayer::Pictures>(&layer.content);
        if (!pictures) continue;
        for (const Clip& clip : layer.clips) {
            if (!(clip.start <= t && t < clip.start + clip.duration)) continue;
            const auto track = pictures->video.find(clip.id);
            if (track == pictures->video.end() || track->second != trackId) continue;
            const compositing::Placement placed = compositing::placement(
                clip, clip.pictureState(t, layer.outputAspect), layer.outputAspect, bounds);
            const double w = placed.box.width();
            const double h = placed.box.height();
            if (!(w > 0 && h > 0 && w < kLargestBox && h < kLargestBox)) return {};
            // Rounded up: the picture must not come out smaller than its box.
            const platform::DrawnSize size{QSize(int(std::ceil(w - 1e-6)), int(std::ceil(h - 1e-6))), !placed.fitted};
            if (found && *found != size) return {};
            found = size;
        }
    }
    return found.value_or(platform::DrawnSize{});
}

} // namespace ondexa
