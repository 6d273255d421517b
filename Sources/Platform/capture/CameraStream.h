#pragma once

#include "Platform/capture/CameraDevice.h"

#include <QImage>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {

// One camera picture on the host clock.
struct CameraFrame {
    QImage image;                          // QImage::Format_RGB32
    std::int64_t hostTimeNanoseconds = 0;  // capture time, CLOCK_MONOTONIC
};

// Streams a camera source on a thread of its own ("camera"), converting each
// buffer to a picture. Broken buffers are skipped.
//
// Threads: start() and stop() may be called from any thread, also at the same
// time; `onFrame` and `onEnd` run on the stream's thread and must not call
// stop(). The destructor stops.
class CameraStream {
public:
    using FrameHandler = std::function<void(CameraFrame&& frame)>;
    // The camera failed to start or stopped by itself (unplugged, driver
    // error); no frame follows.
    using EndHandler = std::function<void(const CameraError& error)>;

    explicit CameraStream(std::unique_ptr<CameraSource> source);
    ~CameraStream();

    CameraStream(const CameraStream&) = delete;
    CameraStream& operator=(const CameraStream&) = delete;

    const CameraDeviceInfo& device() const { return source_->device(); }
    const CameraFormat& format() const { return source_->format(); }

    // Starts streaming. Once only: a second call, or a call after stop(),
    // does nothing.
    void start(FrameHandler onFrame, EndHandler onEnd = {});
    // Stops streaming and waits for the stream's thread; once it returns no
    // handler runs any more. Harmless when not started.
    void stop();

private:
    void run(FrameHandler onFrame, EndHandler onEnd);

    std::unique_ptr<CameraSource> source_;   // used by the thread while it runs, else under control_
    std::mutex control_;                     // serialises start() and stop()
    bool used_ = false;                      // under control_: started or stopped once
    std::atomic<bool> stopping_{false};      // set by stop(), read by the thread
    std::thread thread_;                     // under control_
};

} // namespace platform
