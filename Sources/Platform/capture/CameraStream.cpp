#include "Platform/capture/CameraStream.h"

#include "Platform/capture/CameraConverter.h"

#include <pthread.h>

#include <exception>
#include <string>

namespace platform {

namespace {

// How long the thread waits for a buffer before it looks at the stop flag
// again: the longest a stop() can take.
constexpr int kPollMs = 50;

} // namespace

CameraStream::CameraStream(std::unique_ptr<CameraSource> source) : source_(std::move(source)) {}

CameraStream::~CameraStream() { stop(); }

void CameraStream::start(FrameHandler onFrame, EndHandler onEnd)
{
    std::lock_guard lock(control_);
    if (used_) return;
    used_ = true;
    thread_ = std::thread([this, onFrame = std::move(onFrame), onEnd = std::move(onEnd)]() mutable {
        run(std::move(onFrame), std::move(onEnd));
    });
}

void CameraStream::stop()
{
    std::lock_guard lock(control_);
    used_ = true;
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    source_->stopStreaming();
}

void CameraStream::run(FrameHandler onFrame, EndHandler onEnd)
{
    pthread_setname_np(pthread_self(), "camera");
    try {
        CameraConverter converter(source_->format());
        source_->startStreaming();
        while (!stopping_) {
            source_->nextBuffer(kPollMs, [&](const CameraBuffer& buffer) {
                auto image = converter.convert(buffer.data, buffer.size);
                if (image && onFrame) onFrame(CameraFrame{std::move(*image), buffer.hostTimeNanoseconds});
            });
        }
    } catch (const CameraError& error) {
        source_->stopStreaming();
        if (onEnd && !stopping_) onEnd(error);
    } catch (const std::exception& error) {
        source_->stopStreaming();
        const std::string& name = source_->device().name;
        if (onEnd && !stopping_)
            onEnd(CameraError(CameraError::Kind::failed,
                              "A kamera hibát jelzett: " + name + " (" + error.what() + ")."));
    }
}

} // namespace platform
