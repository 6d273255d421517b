#pragma once

#include "Platform/capture/PictureSource.h"
#include "Platform/capture/ScreenContent.h"

#include <QImage>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace platform {

// Captures a display, an area or one window on its own thread and its own X
// connection, at most `framesPerSecond` times a second.
//
// Frames are grabbed at fixed deadlines (every 1/fps from the start), one
// picture per deadline's slot by the picture's own time; a grab that ends
// late is followed at once by the next, so that the slot running then still
// gets its picture, but slots already past are skipped, never made up in a
// burst (see nextDeadline). Frames are delivered only when the
// picture differs from the last one delivered: an unchanged screen delivers
// nothing, and the consumer repeats its last frame when it needs one. A frame
// is dropped when the consumer still holds `maximumFramesInFlight` frames.
//
// Displays and areas are read from the root window through shared memory
// (windows of this process included: hide them before starting); a window
// is read from its off-screen copy (Composite), so it may be covered or
// partly off the screen. A window that changes size keeps being captured,
// scaled to fit the output size; a window that closes stops the stream with
// an error.
//
// Threads: construct, start() and stop() from one thread (not from the
// handlers). Both handlers run on the stream's thread and must return quickly
// (post the work elsewhere). After stop() returns, no handler runs again.
class ScreenStream final : public PictureSource {
public:
    struct Target {
        enum class Kind { display, area, window };
        Kind kind = Kind::display;
        QRect rect;                // display and area: the rectangle in root coordinates
        std::uint32_t window = 0;  // window: the client window's id

        static Target ofDisplay(const ScreenDisplay& display);
        // `area` is in the display's own coordinates (origin at its top left);
        // start() refuses an area that reaches beyond the screen.
        static Target ofArea(const ScreenDisplay& display, const QRect& area);
        // The window's frame (ScreenWindow::frame) is what is captured.
        static Target ofWindow(std::uint32_t windowId);
    };

    struct Configuration {
        Target target;
        // Size of the delivered pictures. Empty: the source's size at start.
        // A source that differs from it by at most one pixel per side (odd
        // sizes rounded down to even) is cut, not scaled; otherwise it is
        // scaled to fit with its aspect kept, centred on black.
        QSize outputSize;
        int framesPerSecond = 30;  // minimum frame interval 1/fps; 1 to 240
        bool showsCursor = true;   // draw the pointer into the picture
    };

    ScreenStream(Configuration configuration, FrameHandler onFrame, ErrorHandler onError);
    ~ScreenStream() override;  // stops and joins

    ScreenStream(const ScreenStream&) = delete;
    ScreenStream& operator=(const ScreenStream&) = delete;

    // Opens the connection, checks the target and starts the thread; the
    // first frame follows at once. Throws CaptureError (no display, a target
    // outside the screen, a window that no longer exists, missing X
    // extensions). Only once per stream.
    void start() override;
    // Stops the thread and joins it; frames already delivered stay valid.
    // Safe to call more than once and before start().
    void stop() override;

    // The size of the delivered pictures; valid after start().
    QSize outputSize() const override { return outputSize_; }
    Statistics statistics() const override;

    // The deadline to grab at after the grab for deadline `index`, which read
    // the screen at `picture` (none: nothing was read) and ended at `now`,
    // both in ns since the first deadline: the slot after the picture's, at
    // its start; or, when that has begun already, the slot running now, at
    // once. Deadlines between `index` and the result were missed.
    static std::int64_t nextDeadline(std::int64_t index, std::optional<std::int64_t> picture, std::int64_t now,
                                     int framesPerSecond);

private:
    struct Worker;

    Configuration configuration_;
    FrameHandler onFrame_;
    ErrorHandler onError_;
    QSize outputSize_;                  // set by start(), read-only afterwards
    std::unique_ptr<Worker> worker_;    // created by start(); its thread owns the X connection
    std::thread thread_;                // runs the worker; joined by stop()
};

} // namespace platform
