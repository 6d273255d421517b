#pragma once

#include "Platform/capture/CaptureError.h"

#include <QImage>
#include <QPointF>
#include <QSize>

#include <cstdint>
#include <functional>
#include <optional>

namespace platform {

// One captured picture.
struct ScreenFrame {
    // Format_RGB32: bytes B, G, R, X per pixel (the X byte is not alpha), at
    // the source's output size. It may share a pooled buffer with the source
    // and never alters it; holding it counts against the frames in flight,
    // so drop every copy once it is written.
    QImage image;
    // HostClock time at which the picture was on the screen, nanoseconds
    // (CLOCK_MONOTONIC).
    std::int64_t hostTime = 0;
};

// Where the pointer was at a moment, as a source that sees it reports it.
struct PointerSample {
    std::int64_t hostTime = 0;  // HostClock nanoseconds
    QPointF position;           // desktop coordinates: root pixels on X11, logical pixels on Wayland
};

// What delivers the screen's pictures to a recording: the X11 grabber or a
// PipeWire stream of the desktop's screen-cast service. Both deliver only
// changed pictures (the consumer repeats its last one while none comes) and
// drop a picture while the consumer holds `maximumFramesInFlight`.
//
// Threads: construct, start() and stop() from one thread (not from the
// handlers). The handlers run on the source's own thread and must return
// quickly. After stop() returns, no handler runs again.
class PictureSource {
public:
    static constexpr int maximumFramesInFlight = 8;

    struct Statistics {
        std::int64_t grabs = 0;            // pictures read from the server
        std::int64_t delivered = 0;        // frames handed to the frame handler
        std::int64_t unchanged = 0;        // grabs equal to the last delivered picture
        std::int64_t droppedInFlight = 0;  // changed pictures dropped: the consumer held too many
        std::int64_t missedDeadlines = 0;  // deadlines skipped because a grab ran late
    };

    using FrameHandler = std::function<void(ScreenFrame frame)>;
    // Called at most once, when the source stops by itself. No frame follows it.
    using ErrorHandler = std::function<void(const CaptureError& error)>;

    virtual ~PictureSource() = default;

    // Throws CaptureError when the source can't be opened. Only once.
    virtual void start() = 0;
    // Safe to call more than once and before start().
    virtual void stop() = 0;
    // The size of the delivered pictures; valid after start().
    virtual QSize outputSize() const = 0;
    virtual Statistics statistics() const = 0;
};

} // namespace platform
