#include "Platform/capture/CameraDevice.h"

#include "Platform/core/HostClock.h"

#include <linux/videodev2.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <system_error>
#include <tuple>

namespace platform {

namespace {

constexpr int kMaxWidth = 1920;
constexpr int kMaxHeight = 1080;
// A camera that reaches this rate counts as delivering 30 frames per second
// (NTSC-style cameras report 29.97).
constexpr double kFullRate = 29.0;
// Enough buffers that the driver can fill one while we convert another and a
// third waits; more only adds latency.
constexpr std::uint32_t kBufferCount = 4;

int xioctl(int fd, unsigned long request, void* argument)
{
    int result;
    do {
        result = ::ioctl(fd, request, argument);
    } while (result < 0 && errno == EINTR);
    return result;
}

std::string systemText(int errorNumber) { return std::generic_category().message(errorNumber); }

std::string displayName(const CameraDeviceInfo& device)
{
    return device.name.empty() ? device.path.string() : device.name;
}

CameraError::Kind kindOf(int errorNumber)
{
    switch (errorNumber) {
    case EACCES:
    case EPERM:
        return CameraError::Kind::permissionDenied;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return CameraError::Kind::notFound;
    case EBUSY:
        return CameraError::Kind::busy;
    case ENOTTY:
        return CameraError::Kind::unusable;
    default:
        return CameraError::Kind::failed;
    }
}

CameraError makeError(CameraError::Kind kind, const CameraDeviceInfo& device, const std::string& detail)
{
    const std::string name = displayName(device);
    switch (kind) {
    case CameraError::Kind::permissionDenied:
        return {kind, "Nincs engedély a kamera használatához: " + name + " (" + detail + ")."};
    case CameraError::Kind::notFound:
        return {kind, "A kamera nem található: " + name + " (" + detail + ")."};
    case CameraError::Kind::busy:
        return {kind, "A kamerát egy másik program használja: " + name + " (" + detail + ")."};
    case CameraError::Kind::unusable:
        return {kind, "A kamera nem használható: " + name + " (" + detail + ")."};
    case CameraError::Kind::failed:
        break;
    }
    return {kind, "A kamera hibát jelzett: " + name + " (" + detail + ")."};
}

[[noreturn]] void failWithErrno(const CameraDeviceInfo& device, const char* operation, int errorNumber)
{
    throw makeError(kindOf(errorNumber), device,
                    device.path.string() + ", " + operation + ": " + systemText(errorNumber));
}

std::optional<CameraPixelFormat> pixelFormatOf(std::uint32_t fourcc)
{
    if (fourcc == V4L2_PIX_FMT_YUYV) return CameraPixelFormat::yuyv;
    if (fourcc == V4L2_PIX_FMT_MJPEG || fourcc == V4L2_PIX_FMT_JPEG) return CameraPixelFormat::mjpeg;
    return std::nullopt;
}

std::uint32_t capabilitiesOf(const v4l2_capability& caps)
{
    return (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
}

std::string textField(const __u8* field, std::size_t size)
{
    const char* text = reinterpret_cast<const char*>(field);
    return std::string(text, strnlen(text, size));
}

std::string readSysfsLine(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
    return line;
}

// The capture rates offered for one size, as frame intervals.
std::vector<std::pair<std::uint32_t, std::uint32_t>> frameIntervals(int fd, std::uint32_t fourcc, int width,
                                                                     int height)
{
    std::vector<std::pair<std::uint32_t, std::uint32_t>> intervals;
    v4l2_frmivalenum ival{};
    ival.pixel_format = fourcc;
    ival.width = std::uint32_t(width);
    ival.height = std::uint32_t(height);
    for (ival.index = 0; xioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &ival) == 0; ++ival.index) {
        if (ival.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            intervals.emplace_back(ival.discrete.numerator, ival.discrete.denominator);
            continue;
        }
        // A range: its fastest end, and 1/30 s when the range holds it.
        const v4l2_fract& fast = ival.stepwise.min;
        const v4l2_fract& slow = ival.stepwise.max;
        intervals.emplace_back(fast.numerator, fast.denominator);
        const bool holds30 = std::uint64_t(fast.numerator) * 30 <= fast.denominator &&
                             std::uint64_t(slow.numerator) * 30 >= slow.denominator;
        if (holds30) intervals.emplace_back(1, 30);
        break;
    }
    return intervals;
}

// Every (pixel format, size, rate) the camera offers in the formats we read.
std::vector<CameraFormat> offeredFormats(int fd)
{
    std::vector<CameraFormat> offered;
    v4l2_fmtdesc desc{};
    desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (desc.index = 0; xioctl(fd, VIDIOC_ENUM_FMT, &desc) == 0; ++desc.index) {
        auto pixelFormat = pixelFormatOf(desc.pixelformat);
        if (!pixelFormat) continue;

        std::vector<std::pair<int, int>> sizes;
        v4l2_frmsizeenum size{};
        size.pixel_format = desc.pixelformat;
        for (size.index = 0; xioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) == 0; ++size.index) {
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                sizes.emplace_back(int(size.discrete.width), int(size.discrete.height));
                continue;
            }
            // A range of sizes: the largest within our limit, and the largest
            // of all for a camera whose range starts above the limit.
            const auto& s = size.stepwise;
            const int stepW = int(std::max<std::uint32_t>(s.step_width, 1));
            const int stepH = int(std::max<std::uint32_t>(s.step_height, 1));
            int w = std::min<int>(int(s.max_width), kMaxWidth);
            int h = std::min<int>(int(s.max_height), kMaxHeight);
            if (w >= int(s.min_width) && h >= int(s.min_height)) {
                w = int(s.min_width) + (w - int(s.min_width)) / stepW * stepW;
                h = int(s.min_height) + (h - int(s.min_height)) / stepH * stepH;
                sizes.emplace_back(w, h);
            }
            sizes.emplace_back(int(s.max_width), int(s.max_height));
            break;
        }

        for (auto [width, height] : sizes) {
            auto intervals = frameIntervals(fd, desc.pixelformat, width, height);
            if (intervals.empty()) intervals.emplace_back(0, 0);  // rate unknown
            for (auto [num, den] : intervals) {
                CameraFormat format;
                format.pixelFormat = *pixelFormat;
                format.width = width;
                format.height = height;
                format.intervalNumerator = num;
                format.intervalDenominator = den;
                offered.push_back(format);
            }
        }
    }
    return offered;
}

// Host time for a dequeued buffer: the driver's own stamp when it is on the
// monotonic clock and believable, else the time it reached us.
std::int64_t hostTimeOf(const v4l2_buffer& buffer)
{
    const std::int64_t now = HostClock::nowNanoseconds();
    if ((buffer.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) != V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC) return now;
    const std::int64_t stamp =
        std::int64_t(buffer.timestamp.tv_sec) * 1'000'000'000 + std::int64_t(buffer.timestamp.tv_usec) * 1000;
    // A frame is never from the future, and a second-old one means the stamp
    // is not what it claims.
    if (stamp <= 0 || stamp > now || now - stamp > 1'000'000'000) return now;
    return stamp;
}

class V4L2CameraSource final : public CameraSource {
public:
    V4L2CameraSource(CameraDeviceInfo device, int fd, CameraFormat format)
        : device_(std::move(device)), fd_(fd), format_(format)
    {
    }

    ~V4L2CameraSource() override
    {
        stopStreaming();
        ::close(fd_);
    }

    const CameraDeviceInfo& device() const override { return device_; }
    const CameraFormat& format() const override { return format_; }

    void startStreaming() override
    {
        if (streaming_) return;
        try {
            v4l2_requestbuffers request{};
            request.count = kBufferCount;
            request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            request.memory = V4L2_MEMORY_MMAP;
            if (xioctl(fd_, VIDIOC_REQBUFS, &request) < 0) failWithErrno(device_, "VIDIOC_REQBUFS", errno);
            if (request.count < 2)
                throw makeError(CameraError::Kind::failed, device_, "kevés puffer: " + std::to_string(request.count));
            for (std::uint32_t i = 0; i < request.count; ++i) {
                v4l2_buffer buffer{};
                buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
                buffer.memory = V4L2_MEMORY_MMAP;
                buffer.index = i;
                if (xioctl(fd_, VIDIOC_QUERYBUF, &buffer) < 0) failWithErrno(device_, "VIDIOC_QUERYBUF", errno);
                void* start =
                    ::mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, buffer.m.offset);
                if (start == MAP_FAILED) failWithErrno(device_, "mmap", errno);
                mapped_.push_back({start, buffer.length});
            }
            for (std::uint32_t i = 0; i < mapped_.size(); ++i) queue(i);
            int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            if (xioctl(fd_, VIDIOC_STREAMON, &type) < 0) failWithErrno(device_, "VIDIOC_STREAMON", errno);
            streaming_ = true;
        } catch (...) {
            releaseBuffers();
            throw;
        }
    }

    bool nextBuffer(int timeoutMs, const std::function<void(const CameraBuffer&)>& use) override
    {
        pollfd pfd{fd_, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR) return false;
            failWithErrno(device_, "poll", errno);
        }
        if (ready == 0) return false;
        // POLLERR alone, without data: the device went away or streaming broke.
        if ((pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(pfd.revents & POLLIN))
            failWithErrno(device_, "poll", ENODEV);

        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (xioctl(fd_, VIDIOC_DQBUF, &buffer) < 0) {
            if (errno == EAGAIN) return false;
            failWithErrno(device_, "VIDIOC_DQBUF", errno);
        }
        // Whatever `use` does, the buffer goes back to the driver.
        struct Requeue {
            V4L2CameraSource* source;
            std::uint32_t index;
            ~Requeue() { source->queue(index, /*throwing*/ false); }
        } requeue{this, buffer.index};

        // A buffer the driver marks as damaged, or an empty one, is skipped.
        if ((buffer.flags & V4L2_BUF_FLAG_ERROR) || buffer.bytesused == 0 || buffer.index >= mapped_.size())
            return false;
        CameraBuffer delivered;
        delivered.data = static_cast<const std::uint8_t*>(mapped_[buffer.index].start);
        delivered.size = std::min<std::size_t>(buffer.bytesused, mapped_[buffer.index].length);
        delivered.hostTimeNanoseconds = hostTimeOf(buffer);
        use(delivered);
        return true;
    }

    void stopStreaming() noexcept override
    {
        if (streaming_) {
            int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            xioctl(fd_, VIDIOC_STREAMOFF, &type);
            streaming_ = false;
        }
        releaseBuffers();
    }

private:
    struct Mapping {
        void* start;
        std::size_t length;
    };

    void queue(std::uint32_t index, bool throwing = true)
    {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = index;
        if (xioctl(fd_, VIDIOC_QBUF, &buffer) < 0 && throwing) failWithErrno(device_, "VIDIOC_QBUF", errno);
    }

    void releaseBuffers() noexcept
    {
        for (const Mapping& m : mapped_) ::munmap(m.start, m.length);
        if (!mapped_.empty()) {
            v4l2_requestbuffers request{};
            request.count = 0;
            request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            request.memory = V4L2_MEMORY_MMAP;
            xioctl(fd_, VIDIOC_REQBUFS, &request);
        }
        mapped_.clear();
    }

    CameraDeviceInfo device_;
    int fd_;
    CameraFormat format_;
    std::vector<Mapping> mapped_;
    bool streaming_ = false;
};

// Sets the camera to `wanted` and returns what the driver actually took.
CameraFormat applyFormat(int fd, const CameraDeviceInfo& device, const CameraFormat& wanted)
{
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = std::uint32_t(wanted.width);
    format.fmt.pix.height = std::uint32_t(wanted.height);
    format.fmt.pix.pixelformat = wanted.pixelFormat == CameraPixelFormat::yuyv ? V4L2_PIX_FMT_YUYV : V4L2_PIX_FMT_MJPEG;
    format.fmt.pix.field = V4L2_FIELD_NONE;
    if (xioctl(fd, VIDIOC_S_FMT, &format) < 0) failWithErrno(device, "VIDIOC_S_FMT", errno);

    auto pixelFormat = pixelFormatOf(format.fmt.pix.pixelformat);
    if (!pixelFormat || format.fmt.pix.width == 0 || format.fmt.pix.height == 0)
        throw makeError(CameraError::Kind::unusable, device, "nem YUYV vagy MJPEG képet ad");
    CameraFormat result;
    result.pixelFormat = *pixelFormat;
    result.width = int(format.fmt.pix.width);
    result.height = int(format.fmt.pix.height);
    if (result.pixelFormat == CameraPixelFormat::yuyv)
        result.bytesPerLine = std::max<int>(int(format.fmt.pix.bytesperline), result.width * 2);

    v4l2_streamparm parameters{};
    parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (wanted.intervalNumerator && wanted.intervalDenominator) {
        parameters.parm.capture.timeperframe.numerator = wanted.intervalNumerator;
        parameters.parm.capture.timeperframe.denominator = wanted.intervalDenominator;
        xioctl(fd, VIDIOC_S_PARM, &parameters);  // a camera without rate control keeps its own
    }
    if (xioctl(fd, VIDIOC_G_PARM, &parameters) == 0 && parameters.parm.capture.timeperframe.numerator &&
        parameters.parm.capture.timeperframe.denominator) {
        result.intervalNumerator = parameters.parm.capture.timeperframe.numerator;
        result.intervalDenominator = parameters.parm.capture.timeperframe.denominator;
    } else {
        result.intervalNumerator = wanted.intervalNumerator ? wanted.intervalNumerator : 1;
        result.intervalDenominator = wanted.intervalDenominator ? wanted.intervalDenominator : 30;
    }
    return result;
}

} // namespace

std::optional<CameraFormat> chooseCameraFormat(const std::vector<CameraFormat>& offered)
{
    if (offered.empty()) return std::nullopt;
    auto fits = [](const CameraFormat& f) { return f.width <= kMaxWidth && f.height <= kMaxHeight; };
    const bool anyFits = std::any_of(offered.begin(), offered.end(), fits);
    auto area = [](const CameraFormat& f) { return std::int64_t(f.width) * f.height; };
    auto full = [](const CameraFormat& f) { return f.framesPerSecond() >= kFullRate; };

    // Greater key is better. Within one format and size the rate decides:
    // the lowest full rate (30 rather than 60: the camera track is written at
    // 30), else the highest.
    auto key = [&](const CameraFormat& f) {
        const double fps = f.framesPerSecond();
        return std::make_tuple(!anyFits || fits(f), full(f), anyFits ? area(f) : -area(f),
                               f.pixelFormat == CameraPixelFormat::yuyv, full(f) ? -fps : fps);
    };
    return *std::max_element(offered.begin(), offered.end(),
                             [&](const CameraFormat& a, const CameraFormat& b) { return key(a) < key(b); });
}

namespace {

// The name of the first link (by name) in `folder` that leads to `node`;
// empty when none does.
std::string linkTo(const std::filesystem::path& node, const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> links;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.is_symlink(error)) links.push_back(entry.path());
    std::sort(links.begin(), links.end());
    for (const auto& link : links)
        if (std::filesystem::equivalent(link, node, error)) return link.filename().string();
    return {};
}

} // namespace

void assignCameraIds(std::vector<CameraDeviceInfo>& cameras, const std::filesystem::path& byIdFolder)
{
    std::set<std::string> ids;
    for (CameraDeviceInfo& camera : cameras) {
        // Two nodes of one device share a bus address; the path keeps them apart.
        if (camera.portID.empty() || ids.count(camera.portID)) camera.portID = camera.path.string();
        ids.insert(camera.portID);
        // The port changes when the camera moves to another socket; its
        // vendor, product and serial don't.
        const std::string link = linkTo(camera.path, byIdFolder);
        camera.uniqueID = link.empty() || ids.count(link) ? camera.portID : link;
        ids.insert(camera.uniqueID);
    }
}

std::vector<CameraDeviceInfo> listCameraDevices(const std::filesystem::path& deviceFolder,
                                                const std::filesystem::path& byIdFolder)
{
    std::vector<std::pair<long, std::filesystem::path>> nodes;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(deviceFolder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() <= 5 || name.size() > 14 || name.compare(0, 5, "video") != 0) continue;
        if (!std::all_of(name.begin() + 5, name.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
        nodes.emplace_back(std::stol(name.substr(5)), entry.path());
    }
    std::sort(nodes.begin(), nodes.end());

    std::vector<CameraDeviceInfo> cameras;
    for (const auto& [number, path] : nodes) {
        CameraDeviceInfo info;
        info.path = path;
        const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (errno != EACCES && errno != EPERM) continue;
            // Not ours to open: list it by what the kernel says of it. Only the
            // first node of a device (index 0) captures pictures; the others
            // carry metadata.
            struct stat status{};
            if (::stat(path.c_str(), &status) != 0 || !S_ISCHR(status.st_mode)) continue;
            const std::filesystem::path sysfs = "/sys/class/video4linux/" + path.filename().string();
            const std::string index = readSysfsLine(sysfs / "index");
            if (!index.empty() && index != "0") continue;
            info.name = readSysfsLine(sysfs / "name");
            if (info.name.empty()) info.name = path.filename().string();
        } else {
            v4l2_capability caps{};
            const bool isCamera = xioctl(fd, VIDIOC_QUERYCAP, &caps) == 0 &&
                                  (capabilitiesOf(caps) & V4L2_CAP_VIDEO_CAPTURE) &&
                                  (capabilitiesOf(caps) & V4L2_CAP_STREAMING);
            ::close(fd);
            if (!isCamera) continue;
            info.name = textField(caps.card, sizeof caps.card);
            info.portID = textField(caps.bus_info, sizeof caps.bus_info);
            if (info.name.empty()) info.name = path.filename().string();
        }
        cameras.push_back(std::move(info));
    }
    assignCameraIds(cameras, byIdFolder);
    return cameras;
}

bool cameraAccessDenied(const CameraDeviceInfo& device)
{
    const int fd = ::open(device.path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return false;
    }
    return errno == EACCES || errno == EPERM;
}

std::unique_ptr<CameraSource> openCameraDevice(const CameraDeviceInfo& device)
{
    const int fd = ::open(device.path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) failWithErrno(device, "open", errno);
    try {
        v4l2_capability caps{};
        if (xioctl(fd, VIDIOC_QUERYCAP, &caps) < 0) {
            const int e = errno;
            throw makeError(e == ENOTTY || e == EINVAL ? CameraError::Kind::unusable : kindOf(e), device,
                            device.path.string() + ": " + systemText(e));
        }
        const std::uint32_t capabilities = capabilitiesOf(caps);
        if (!(capabilities & V4L2_CAP_VIDEO_CAPTURE) || !(capabilities & V4L2_CAP_STREAMING))
            throw makeError(CameraError::Kind::unusable, device, "nem képrögzítő eszköz");

        CameraFormat format;
        if (auto chosen = chooseCameraFormat(offeredFormats(fd))) {
            format = applyFormat(fd, device, *chosen);
        } else {
            // A driver that lists nothing: ask for the largest picture in each
            // format we read and take what it agrees to.
            CameraFormat wanted;
            wanted.width = kMaxWidth;
            wanted.height = kMaxHeight;
            try {
                format = applyFormat(fd, device, wanted);
            } catch (const CameraError& error) {
                if (error.kind() != CameraError::Kind::unusable) throw;
                wanted.pixelFormat = CameraPixelFormat::mjpeg;
                format = applyFormat(fd, device, wanted);
            }
        }
        return std::make_unique<V4L2CameraSource>(device, fd, format);
    } catch (...) {
        ::close(fd);
        throw;
    }
}

} // namespace platform
