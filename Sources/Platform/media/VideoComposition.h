#pragma once

#include "Platform/media/MediaTime.h"
#include "Platform/media/VideoCompositing.h"

#include <QSize>

#include <memory>
#include <vector>

namespace platform {

// How the video tracks of a composition become output frames: the picture
// size, the frame rate, the instructions by time range, and the compositor
// that draws each frame from the source frames an instruction asks for.
//
// Built on one thread; once handed to a player item or an export (as
// shared_ptr<const VideoComposition>) it no longer changes. Each player item
// or export makes its own compositor from `compositorFactory`.
struct VideoComposition {
    QSize renderSize;
    // One output frame; frames lie at whole multiples of it.
    MediaTime frameDuration{1, 30};
    // Non-overlapping ranges; a time outside all of them is drawn black.
    std::vector<std::shared_ptr<const VideoCompositionInstruction>> instructions;
    VideoCompositorFactory compositorFactory;

    // The instruction whose range holds `t`, or null.
    std::shared_ptr<const VideoCompositionInstruction> instructionAt(const MediaTime& t) const
    {
        for (const auto& instruction : instructions)
            if (instruction && instruction->timeRange().contains(t)) return instruction;
        return nullptr;
    }
    // frameDuration when it is a positive time, else 1/30 s.
    MediaTime effectiveFrameDuration() const
    {
        return frameDuration.isNumeric() && frameDuration > MediaTime(0, 1) ? frameDuration : MediaTime(1, 30);
    }
};

} // namespace platform
