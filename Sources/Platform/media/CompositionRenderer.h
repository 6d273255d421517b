#pragma once

#include "Platform/media/Composition.h"
#include "Platform/media/FrameCache.h"
#include "Platform/media/MediaTime.h"
#include "Platform/media/SourceFrames.h"
#include "Platform/media/VideoComposition.h"

#include <QImage>

#include <memory>

namespace platform {

// Single frames of a composition drawn through its video composition, as the
// player would show them: for thumbnails of an edit and for tests. Blocks
// until the compositor has drawn the frame, so call it off the main thread
// (and never on the compositor's own). One thread at a time.
class CompositionRenderer {
public:
    // How the sources are read.
    enum class Reading {
        asPlayer,  // each at the size it is drawn at
        fullSize,  // each at its own size, and drawn whole: an export's picture without shortcuts
        asExport,  // as fullSize, but frames the encoder takes as they are stay undecoded (see composedAt)
    };

    // `cache` may be null (a small one of its own is made).
    CompositionRenderer(std::shared_ptr<const Composition> composition,
                        std::shared_ptr<const VideoComposition> videoComposition,
                        std::shared_ptr<FrameCache> cache = {}, Reading reading = Reading::asPlayer);
    ~CompositionRenderer();
    CompositionRenderer(const CompositionRenderer&) = delete;
    CompositionRenderer& operator=(const CompositionRenderer&) = delete;

    // The output frame at `t` (limited to zero and the composition's last
    // instant): black where no instruction covers it. Throws MediaError when
    // the compositor fails or there is nothing to draw with (no render size,
    // no compositor).
    QImage imageAt(const MediaTime& t);
    // The compositor's answer for the frame at `t` as it stands (possibly
    // composed over an undecoded source frame); the same errors.
    FrameRequest::Result composedAt(const MediaTime& t);

private:
    const std::shared_ptr<const Composition> composition_;
    const std::shared_ptr<const VideoComposition> videoComposition_;
    SourceFrames sources_;
    std::unique_ptr<VideoCompositor> compositor_;  // made on first use
    const Reading reading_;
};

// The time whose frame shows at `t` for a composition of `duration`: `t`
// limited to zero and the composition's last instant (its end shows the last
// frame, as a player paused there does).
MediaTime shownFrameTime(const MediaTime& t, const MediaTime& duration);

// A black picture of `size` (premultiplied ARGB32).
QImage blackFrame(QSize size);

} // namespace platform
