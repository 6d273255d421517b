#pragma once

#include "Platform/capture/CameraDevice.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace platform {

// A camera without hardware: hands out the given buffers in turn (YUYV or
// MJPEG, as `format` says) at the format's frame rate, each stamped with the
// host time it is handed out, as a driver stamps on the monotonic clock.
class CameraFakeSource final : public CameraSource {
public:
    struct Behaviour {
        int failToStartWith = 0;   // an errno that startStreaming() fails with; 0: starts
        int unplugAfter = -1;      // buffers handed out before the camera "goes away"; -1: never
    };

    CameraFakeSource(CameraDeviceInfo device, CameraFormat format, std::vector<std::vector<std::uint8_t>> buffers,
                     Behaviour behaviour);
    CameraFakeSource(CameraDeviceInfo device, CameraFormat format, std::vector<std::vector<std::uint8_t>> buffers)
        : CameraFakeSource(std::move(device), format, std::move(buffers), Behaviour{})
    {
    }

    const CameraDeviceInfo& device() const override { return device_; }
    const CameraFormat& format() const override { return format_; }

    void startStreaming() override;
    bool nextBuffer(int timeoutMs, const std::function<void(const CameraBuffer&)>& use) override;
    void stopStreaming() noexcept override { streaming_ = false; }

    // Buffers handed out so far; readable from any thread.
    int delivered() const { return delivered_; }
    bool isStreaming() const { return streaming_; }

private:
    CameraDeviceInfo device_;
    CameraFormat format_;
    std::vector<std::vector<std::uint8_t>> buffers_;
    Behaviour behaviour_;
    std::int64_t startNanoseconds_ = 0;
    std::atomic<int> delivered_{0};
    std::atomic<bool> streaming_{false};
};

} // namespace platform
