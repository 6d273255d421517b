#pragma once

// The one instruction of a video composition: its whole span, the composition
// tracks whose frames are needed, and the render state to draw from.

#include "Ondexa/rendering/RenderState.h"
#include "Platform/media/VideoCompositing.h"

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace ondexa {

class EditInstruction final : public platform::VideoCompositionInstruction {
public:
    EditInstruction(platform::TimeRange timeRange, std::vector<std::int32_t> trackIds,
                    std::shared_ptr<RenderState> state)
        : VideoCompositionInstruction(timeRange, std::move(trackIds)), state_(std::move(state))
    {
    }

    // The size of the box a track's picture is placed in at `t`, as the
    // compositor places it; the picture's own size when no active clip shows
    // the track, or two show it at different sizes.
    platform::DrawnSize drawnSize(std::int32_t trackId, const platform::MediaTime& t,
                                  QSize renderSize) const override;

    // Never null for an instruction made by the composition builder.
    RenderState& state() const { return *state_; }
    const std::shared_ptr<RenderState>& sharedState() const { return state_; }

private:
    const std::shared_ptr<RenderState> state_;  // its caches lock themselves
};

} // namespace ondexa
