#include "Platform/capture/CameraFakeSource.h"

#include "Platform/core/HostClock.h"

#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

namespace platform {

CameraFakeSource::CameraFakeSource(CameraDeviceInfo device, CameraFormat format,
                                   std::vector<std::vector<std::uint8_t>> buffers, Behaviour behaviour)
    : device_(std::move(device)), format_(format), buffers_(std::move(buffers)), behaviour_(behaviour)
{
}

void CameraFakeSource::startStreaming()
{
    if (behaviour_.failToStartWith) {
        const std::string text = std::generic_category().message(behaviour_.failToStartWith);
        throw CameraError(behaviour_.failToStartWith == EBUSY ? CameraError::Kind::busy : CameraError::Kind::failed,
                          "A kamera hibát jelzett: " + device_.name + " (" + text + ").");
    }
    startNanoseconds_ = HostClock::nowNanoseconds();
    streaming_ = true;
}

bool CameraFakeSource::nextBuffer(int timeoutMs, const std::function<void(const CameraBuffer&)>& use)
{
    if (!streaming_ || buffers_.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        return false;
    }
    if (behaviour_.unplugAfter >= 0 && delivered_ >= behaviour_.unplugAfter) {
        streaming_ = false;
        throw CameraError(CameraError::Kind::notFound,
                          "A kamera nem található: " + device_.name + " (" + std::generic_category().message(ENODEV) +
                              ").");
    }
    const double fps = format_.framesPerSecond() > 0 ? format_.framesPerSecond() : 30.0;
    const std::int64_t due = startNanoseconds_ + std::int64_t(double(delivered_) * 1e9 / fps);
    const std::int64_t now = HostClock::nowNanoseconds();
    if (due - now > std::int64_t(timeoutMs) * 1'000'000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        return false;
    }
    if (due > now) std::this_thread::sleep_for(std::chrono::nanoseconds(due - now));

    const auto& bytes = buffers_[std::size_t(delivered_) % buffers_.size()];
    CameraBuffer buffer;
    buffer.data = bytes.data();
    buffer.size = bytes.size();
    buffer.hostTimeNanoseconds = HostClock::nowNanoseconds();
    ++delivered_;
    use(buffer);
    return true;
}

} // namespace platform
