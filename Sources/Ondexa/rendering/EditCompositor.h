#pragma once

// Draws every frame that the editor's player shows and that an export
// writes: a black canvas, the picture tracks from the bottom up with their
// placement, fades and transitions, the overlays of effects tracks, and on the
// screen recording the click highlights and the redrawn pointer with its ring.

#include "Ondexa/rendering/EditInstruction.h"
#include "Ondexa/rendering/Picture.h"
#include "Platform/core/SerialQueue.h"
#include "Platform/media/BgraConversion.h"
#include "Platform/media/VideoCompositing.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace ondexa {

class EditCompositor final : public platform::VideoCompositor {
public:
    // The error of a request that can't be drawn.
    static constexpr const char* frameError = "Képkocka nem készíthető.";

    EditCompositor();
    // Requests still queued finish cancelled; the queue is drained and joined,
    // so a completion must not destroy its own compositor.
    ~EditCompositor() override;

    // Queues the request on "ondexa.compositor"; it finishes there, or on the
    // thread that drew it (see setDrawingOnOneThread).
    void startRequest(std::shared_ptr<platform::FrameRequest> request) override;
    // Requests queued before this call finish cancelled when their turn
    // comes; later ones are drawn. A frame being drawn is not interrupted.
    void cancelAllPendingRequests() override;
    // Qt's raster engine spreads large fills over its global thread pool
    // unless it draws on one of that pool's own threads: so the frame is
    // drawn there when a thread of it is free, else on the queue as before.
    void setDrawingOnOneThread(bool oneThread) override { oneThread_ = oneThread; }
    // A source frame drawn 1:1 as the bottom of the frame is passed on
    // undecoded, with only what lies over it drawn.
    bool acceptsYuvFrames() const override { return true; }

private:
    void run(platform::FrameRequest& request, std::uint64_t generation);
    void render(platform::FrameRequest& request);
    void renderOnOneThread(platform::FrameRequest& request);

    std::mutex cancelLock_;
    // Raised by each cancellation: a request queued under an older
    // generation is cancelled when it runs. Guarded by cancelLock_.
    std::uint64_t generation_ = 0;
    std::atomic<bool> oneThread_ = false;
    compositing::LayerPool pool_;  // one frame's drawing at a time
    platform::BgraConverter whole_{platform::BgraSampling::smooth};  // undecoded frames, whole; one frame at a time
    platform::BgraConverter part_{platform::BgraSampling::smooth};   // the parts drawn over them
    // Last, so that it is drained and joined before the fields above go.
    platform::SerialQueue queue_{"ondexa.compositor"};
};

} // namespace ondexa
