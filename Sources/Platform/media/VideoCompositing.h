#pragma once

// How a player or an export has its output frames drawn by a compositor: it
// hands the compositor one FrameRequest per output frame and receives the
// frame, an error or a cancellation through the request's completion.

#include "Platform/media/DrawnSize.h"
#include "Platform/media/MediaTime.h"
#include "Platform/media/YuvFrame.h"

#include <QImage>
#include <QPoint>
#include <QSize>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// What a video composition tells its compositor for a span of the timeline.
// Compositors derive their own instructions from it; immutable once made.
class VideoCompositionInstruction {
public:
    VideoCompositionInstruction(TimeRange timeRange, std::vector<std::int32_t> requiredSourceTrackIds)
        : timeRange_(timeRange), requiredSourceTrackIds_(std::move(requiredSourceTrackIds))
    {
    }
    virtual ~VideoCompositionInstruction() = default;

    const TimeRange& timeRange() const { return timeRange_; }
    // The composition tracks whose frames the compositor needs; the player
    // decodes only these. Empty: none.
    const std::vector<std::int32_t>& requiredSourceTrackIds() const { return requiredSourceTrackIds_; }

    // The size at which the picture of source track `trackId` is drawn at
    // `t` on an output of `renderSize`, so that it can be decoded at that
    // size; the default, an empty box, asks for the picture's own size.
    virtual DrawnSize drawnSize(std::int32_t trackId, const MediaTime& t, QSize renderSize) const
    {
        (void)trackId;
        (void)t;
        (void)renderSize;
        return {};
    }
    // drawnSize of each required track that is drawn smaller than its own size.
    std::map<std::int32_t, DrawnSize> drawnSizes(const MediaTime& t, QSize renderSize) const
    {
        std::map<std::int32_t, DrawnSize> sizes;
        for (const std::int32_t id : requiredSourceTrackIds_) {
            const DrawnSize size = drawnSize(id, t, renderSize);
            if (!size.isFull()) sizes.emplace(id, size);
        }
        return sizes;
    }

private:
    TimeRange timeRange_;
    std::vector<std::int32_t> requiredSourceTrackIds_;
};

// One output frame to be drawn. Made by the player or the export, finished
// exactly once by the compositor on any thread; later finishes are ignored.
class FrameRequest {
public:
    struct Result {
        enum class Status {
            composed,   // `image` holds the frame
            failed,     // `error` holds one Hungarian sentence
            cancelled,  // dropped by cancelAllPendingRequests(); nothing drawn
        };
        Status status = Status::cancelled;
        QImage image;
        std::string error;
        // When set, the frame is this source picture with `image` (null when
        // nothing lies over it) laid over it at `origin`: opaque colours, in
        // Format_ARGB32 with alpha 0 where the source stays as it is.
        std::shared_ptr<const YuvFrame> base;
        QPoint origin;
    };
    using YuvFrames = std::map<std::int32_t, std::shared_ptr<const YuvFrame>>;
    using Completion = std::function<void(Result)>;

    // With `wholeFrame`, the frame comes whole in `image` even when drawn
    // over an undecoded one (a player shows it as it is).
    FrameRequest(MediaTime compositionTime, std::shared_ptr<const VideoCompositionInstruction> instruction,
                 std::map<std::int32_t, QImage> sourceFrames, QSize renderSize, Completion completion,
                 YuvFrames yuvFrames = {}, bool wholeFrame = false)
        : compositionTime_(compositionTime), instruction_(std::move(instruction)),
          sourceFrames_(std::move(sourceFrames)), yuvFrames_(std::move(yuvFrames)), renderSize_(renderSize),
          wholeFrame_(wholeFrame), completion_(std::move(completion))
    {
    }
    FrameRequest(const FrameRequest&) = delete;
    FrameRequest& operator=(const FrameRequest&) = delete;

    const MediaTime& compositionTime() const { return compositionTime_; }
    // May be null (a time outside every instruction); compositors then fail.
    const std::shared_ptr<const VideoCompositionInstruction>& instruction() const { return instruction_; }
    // The decoded frame of one composition track at this time (premultiplied
    // ARGB32), or a null image when that track has none.
    QImage sourceFrame(std::int32_t trackId) const
    {
        const auto found = sourceFrames_.find(trackId);
        return found == sourceFrames_.end() ? QImage() : found->second;
    }
    const std::map<std::int32_t, QImage>& sourceFrames() const { return sourceFrames_; }
    // A track's frame when it came undecoded (only to a compositor that
    // accepts such frames); it then has no sourceFrame.
    std::shared_ptr<const YuvFrame> yuvFrame(std::int32_t trackId) const
    {
        const auto found = yuvFrames_.find(trackId);
        return found == yuvFrames_.end() ? nullptr : found->second;
    }
    QSize renderSize() const { return renderSize_; }
    // Whether the frame must be finished whole (finish), never by finishOver.
    bool wantsWholeFrame() const { return wholeFrame_; }

    void finish(QImage frame) { complete({Result::Status::composed, std::move(frame), {}, {}, {}}); }
    // The frame is `base` with `over` (may be null) at `origin`.
    void finishOver(std::shared_ptr<const YuvFrame> base, QImage over, QPoint origin)
    {
        complete({Result::Status::composed, std::move(over), {}, std::move(base), origin});
    }
    void finishWithError(std::string message) { complete({Result::Status::failed, {}, std::move(message), {}, {}}); }
    void finishCancelled() { complete({Result::Status::cancelled, {}, {}, {}, {}}); }
    bool isFinished() const { return finished_.load(); }

private:
    void complete(Result result)
    {
        if (finished_.exchange(true)) return;
        Completion completion = std::move(completion_);
        if (completion) completion(std::move(result));
    }

    const MediaTime compositionTime_;
    const std::shared_ptr<const VideoCompositionInstruction> instruction_;
    const std::map<std::int32_t, QImage> sourceFrames_;
    const YuvFrames yuvFrames_;
    const QSize renderSize_;
    const bool wholeFrame_;
    Completion completion_;  // moved out by the one finish that wins `finished_`
    std::atomic<bool> finished_{false};
};

// Draws output frames. Requests may be started from any thread; each is
// finished exactly once, possibly later and on the compositor's own thread.
class VideoCompositor {
public:
    virtual ~VideoCompositor() = default;

    virtual void startRequest(std::shared_ptr<FrameRequest> request) = 0;
    // Every request started before this call and not yet being drawn finishes
    // cancelled; requests started afterwards are drawn. A frame being drawn
    // is not interrupted.
    virtual void cancelAllPendingRequests() = 0;
    // Asks that each frame be drawn by one thread rather than with its large
    // fills spread over helper threads: less CPU per frame for a longer wait
    // on it. For playback, which composes ahead of the clock, and exports,
    // whose compositors draw several frames side by side.
    virtual void setDrawingOnOneThread(bool) {}
    // Whether requests may carry frames still in the encoder's YUV
    // (FrameRequest::yuvFrame), to be finished with finishOver where one of
    // them is drawn as it is; an export then passes those on unconverted.
    virtual bool acceptsYuvFrames() const { return false; }
};

// Makes the compositor of one video composition (one per player item or export).
using VideoCompositorFactory = std::function<std::unique_ptr<VideoCompositor>()>;

} // namespace platform
