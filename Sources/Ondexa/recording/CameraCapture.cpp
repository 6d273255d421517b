#include "Ondexa/recording/CameraCapture.h"

#include "Ondexa/model/Log.h"
#include "Ondexa/model/OndexaError.h"

#include <algorithm>
#include <cmath>

namespace ondexa {

namespace {

constexpr std::int32_t kTrackMaxWidth = 1920;
constexpr std::int32_t kTrackMaxHeight = 1080;
constexpr std::int32_t kNanosecondsPerSecond = 1'000'000'000;

} // namespace

struct CameraCapture::Shared {
    platform::CameraStream session;              // thread-safe itself
    platform::SerialQueue* queue = nullptr;      // set by start() before the session starts
    Sink sink;                                   // capture queue only
    std::atomic<bool> frameWaiting{false};       // a frame is on the queue, not yet delivered

    explicit Shared(std::unique_ptr<platform::CameraSource> source) : session(std::move(source)) {}
    // The camera's thread uses the fields above: end it before they go.
    ~Shared() { session.stop(); }
};

std::vector<CameraCapture::Device> CameraCapture::devices() { return platform::listCameraDevices(); }

bool CameraCapture::accessDenied(const Device& device) { return platform::cameraAccessDenied(device); }

CameraCapture::Dimensions CameraCapture::trackSize(Dimensions dimensions)
{
    const double width = std::max<std::int32_t>(dimensions.width, 1);
    const double height = std::max<std::int32_t>(dimensions.height, 1);
    const double k = std::min({kTrackMaxWidth / width, kTrackMaxHeight / height, 1.0});
    // The small allowance keeps 1920 from becoming 1919.999… and then 1918.
    auto side = [k](double length) {
        const auto whole = std::int32_t(std::floor(length * k + 1e-9));
        // Even, and never below 2: an encoder can't take a side of 0.
        return std::max<std::int32_t>(whole & ~std::int32_t(1), 2);
    };
    return {side(width), side(height)};
}

CameraCapture::CameraCapture(Device device)
    : CameraCapture(device, [&] {
          try {
              return platform::openCameraDevice(device);
          } catch (const platform::CameraError& error) {
              if (error.kind() == platform::CameraError::Kind::unusable)
                  throw OndexaError("A kamera nem használható: " + device.name);
              throw;
          }
      }())
{
}

CameraCapture::CameraCapture(Device device, std::unique_ptr<platform::CameraSource> source)
    : device_(std::move(device))
{
    const platform::CameraFormat& format = source->format();
    dimensions_ = {format.width, format.height};
    shared_ = std::make_shared<Shared>(std::move(source));
}

CameraCapture::~CameraCapture()
{
    // Joins the camera's thread: nothing is posted to the queue afterwards.
    // Frames already on the queue find the shared state gone and are dropped.
    shared_->session.stop();
}

void CameraCapture::start(platform::SerialQueue& queue, Sink sink)
{
    shared_->queue = &queue;
    std::weak_ptr<Shared> weak = shared_;
    queue.async([weak, sink = std::move(sink)]() mutable {
        auto shared = weak.lock();
        if (!shared) return;
        shared->sink = std::move(sink);
        Shared* self = shared.get();  // the camera's thread ends before Shared does
        shared->session.start(
            // On the camera's thread.
            [self, weak](platform::CameraFrame&& frame) {
                if (self->frameWaiting.exchange(true)) return;  // late: the previous frame still waits
                self->queue->async([weak, frame = std::move(frame)] {
                    auto shared = weak.lock();
                    if (!shared) return;
                    shared->frameWaiting = false;
                    if (!shared->sink) return;
                    shared->sink(Frame{frame.image,
                                       platform::MediaTime(frame.hostTimeNanoseconds, kNanosecondsPerSecond)});
                });
            },
            [](const platform::CameraError& error) { logLine(error.what()); });
    });
}

void CameraCapture::stop() { shared_->session.stop(); }

} // namespace ondexa
