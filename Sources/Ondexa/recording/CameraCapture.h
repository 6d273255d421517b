#pragma once

#include "Platform/capture/CameraDevice.h"
#include "Platform/capture/CameraStream.h"
#include "Platform/core/SerialQueue.h"
#include "Platform/media/MediaTime.h"

#include <QImage>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace ondexa {

// The frames of one camera, stamped on the host clock, for the Recorder,
// which writes them as the movie's second video track; and the list of
// cameras the record window offers.
//
// Life: constructed (device opened and configured, not streaming) → running
// after start() → stopped by stop() or the destructor. One object serves one
// recording; the Recorder owns it.
//
// Threads: construct, stop and destroy from any one thread at a time. Frames
// are converted on the camera's own thread and handed to the sink on the
// queue given to start(), so the sink runs serialised with everything else on
// that queue. A frame that arrives while the previous one still waits on the
// queue is discarded, not queued. Stop (or destroy) the camera before the
// queue goes: the camera posts to it until stop() returns.
class CameraCapture {
public:
    using Device = platform::CameraDeviceInfo;

    // Pixel size of the camera's format, read once at construction.
    struct Dimensions {
        std::int32_t width = 0;
        std::int32_t height = 0;
        bool operator==(const Dimensions&) const = default;
    };

    struct Frame {
        QImage image;                          // QImage::Format_RGB32 (B, G, R, 255 in memory)
        platform::MediaTime presentationTime;  // host clock, nanosecond timescale
    };
    using Sink = std::function<void(const Frame& frame)>;

    // The cameras, in device-node order. Empty when there is none.
    static std::vector<Device> devices();
    // True when the camera's device exists but may not be opened by us: the
    // camera permission of this platform.
    static bool accessDenied(const Device& device);
    // The size the camera track is written at: `dimensions` scaled down to fit
    // 1920 × 1080 with the aspect kept, each side rounded down to even and at
    // least 2.
    static Dimensions trackSize(Dimensions dimensions);

    // Opens the camera. Throws the platform's CameraError when the device
    // can't be opened (kind permissionDenied when we may not), and
    // OndexaError "A kamera nem használható: " + the camera's name when it
    // gives no picture we can read.
    explicit CameraCapture(Device device);
    // The same over a given source (a fake camera in tests).
    CameraCapture(Device device, std::unique_ptr<platform::CameraSource> source);
    ~CameraCapture();

    CameraCapture(const CameraCapture&) = delete;
    CameraCapture& operator=(const CameraCapture&) = delete;

    const Device& device() const { return device_; }
    Dimensions dimensions() const { return dimensions_; }

    // On `queue`, asynchronously: sets the sink and starts the camera. Returns
    // at once. A camera that fails to start or stops by itself writes the
    // reason to the log; the recording goes on without its frames.
    void start(platform::SerialQueue& queue, Sink sink);
    // Stops the camera; frames already handed to the queue are still
    // delivered. Callable from any thread, also from the queue.
    void stop();

private:
    struct Shared;

    Device device_;
    Dimensions dimensions_;
    std::shared_ptr<Shared> shared_;  // the session, the sink and the frame hand-over (see Shared)
};

} // namespace ondexa
