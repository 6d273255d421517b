#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// Why a camera can't be listed, opened or read. what() is one Hungarian
// sentence naming the camera, with the system's own detail in parentheses.
class CameraError : public std::runtime_error {
public:
    enum class Kind {
        permissionDenied,  // the device node exists but we may not open it
        notFound,          // no such device (unplugged, renamed)
        busy,              // another program streams from it
        unusable,          // not a capture device, or none of the pixel formats we read
        failed,            // any other failure of the device or the driver
    };

    CameraError(Kind kind, const std::string& sentence) : std::runtime_error(sentence), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// One camera as the record window offers it.
struct CameraDeviceInfo {
    std::string uniqueID;         // the camera's own name in /dev/v4l/by-id (vendor, product, serial) where
                                  // it has one, the same in every port; else `portID`
    std::string name;             // the driver's name for the camera
    std::filesystem::path path;   // the device node, /dev/videoN
    std::string portID;           // the driver's bus address (the port); the node's path when it has none

    // Whether `id` names this camera: its unique id, or the port id that was
    // its id before it had a by-id name (a stored choice still finds it).
    bool answersTo(const std::string& id) const { return !id.empty() && (id == uniqueID || id == portID); }
    bool operator==(const CameraDeviceInfo&) const = default;
};

// The pixel formats we read. Webcams deliver one or both.
enum class CameraPixelFormat {
    yuyv,    // packed 4:2:2, Y0 U Y1 V, BT.601 limited range
    mjpeg,   // one JPEG picture per buffer (full range, as JPEG defines)
};

// One way a camera can deliver pictures.
struct CameraFormat {
    CameraPixelFormat pixelFormat = CameraPixelFormat::yuyv;
    int width = 0;
    int height = 0;
    int bytesPerLine = 0;                // YUYV rows; 0 for MJPEG or when unknown (then 2 × width)
    std::uint32_t intervalNumerator = 1;   // seconds per frame, as a fraction
    std::uint32_t intervalDenominator = 30;

    double framesPerSecond() const
    {
        return intervalNumerator ? double(intervalDenominator) / intervalNumerator : 0.0;
    }
    bool operator==(const CameraFormat&) const = default;
};

// The format a recording asks of a camera: the largest picture up to
// 1920 × 1080 that comes at 30 frames per second, else the largest that comes
// at all; YUYV before MJPEG when both give the same; of its rates the lowest
// one reaching 30 frames per second, else the highest. A camera whose every
// picture is larger than 1920 × 1080 gets its smallest. Nothing when
// `offered` is empty.
std::optional<CameraFormat> chooseCameraFormat(const std::vector<CameraFormat>& offered);

// One buffer as the camera delivered it. Valid only during the call that
// hands it over.
struct CameraBuffer {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;                  // bytes used
    std::int64_t hostTimeNanoseconds = 0;  // capture time on the host clock (CLOCK_MONOTONIC)
};

// Where raw camera buffers come from: a V4L2 device, or a fake one in tests.
// Used from one thread at a time.
class CameraSource {
public:
    virtual ~CameraSource() = default;

    virtual const CameraDeviceInfo& device() const = 0;
    // The format the source delivers, fixed when it was opened.
    virtual const CameraFormat& format() const = 0;

    virtual void startStreaming() = 0;
    // Waits up to `timeoutMs` for the next buffer and hands it to `use`.
    // Returns false when none came in time. Throws CameraError when the
    // camera failed or went away; streaming is over then.
    virtual bool nextBuffer(int timeoutMs, const std::function<void(const CameraBuffer&)>& use) = 0;
    // Ends streaming; harmless when not streaming.
    virtual void stopStreaming() noexcept = 0;
};

// The cameras among the video nodes of `deviceFolder` (video0, video1, … in
// number order): nodes that capture video by streaming. A node we may not
// open is listed too, under the name the kernel gives it, so that choosing
// it says why it can't be used. Never fails: nodes that can't be read are
// left out.
std::vector<CameraDeviceInfo> listCameraDevices(const std::filesystem::path& deviceFolder = "/dev",
                                                const std::filesystem::path& byIdFolder = "/dev/v4l/by-id");

// Gives each listed camera its ids. On entry `portID` holds the driver's bus
// address (may be empty); on return it holds that address, or the node's path
// when it is empty or taken by an earlier node, and `uniqueID` holds the name
// of the link in `byIdFolder` that leads to the node, else `portID`.
void assignCameraIds(std::vector<CameraDeviceInfo>& cameras, const std::filesystem::path& byIdFolder);

// True when the camera's node exists but we may not open it.
bool cameraAccessDenied(const CameraDeviceInfo& device);

// Opens a V4L2 camera and sets it to chooseCameraFormat() of what it offers.
// Throws CameraError: permissionDenied when the node can't be opened for lack
// of permission (EACCES), notFound, busy, unusable or failed otherwise.
std::unique_ptr<CameraSource> openCameraDevice(const CameraDeviceInfo& device);

} // namespace platform
