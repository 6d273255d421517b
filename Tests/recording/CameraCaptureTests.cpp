// Camera pictures converted to RGB, the track size, the capture on a fake
// camera, and a camera we may not open.

#include "Ondexa/recording/CameraCapture.h"
#include "Platform/capture/CameraConverter.h"
#include "Platform/capture/CameraFakeSource.h"
#include "support/GuardedMemory.h"
#include "support/TempFolder.h"

#include <QBuffer>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <thread>

using namespace ondexa;
using platform::CameraError;
using platform::CameraFormat;
using platform::CameraPixelFormat;
using namespace std::chrono_literals;

namespace {

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};
void PrintTo(const Rgb& c, std::ostream* out) { *out << "(" << c.r << ", " << c.g << ", " << c.b << ")"; }

Rgb pixel(const QImage& image, int x, int y)
{
    const std::uint8_t* p = image.constScanLine(y) + 4 * x;  // BGRA
    EXPECT_EQ(p[3], 255);
    return {p[2], p[1], p[0]};
}

bool near(Rgb a, Rgb b, int tolerance)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

CameraFormat format(CameraPixelFormat kind, int width, int height, int bytesPerLine = 0)
{
    CameraFormat f;
    f.pixelFormat = kind;
    f.width = width;
    f.height = height;
    f.bytesPerLine = bytesPerLine;
    return f;
}

// A JPEG as a webcam sends it (full range, the standard Huffman tables): the
// left half `left`, the right half `right`.
std::vector<std::uint8_t> encodeJpeg(int width, int height, Rgb left, Rgb right)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Rgb c = x < width / 2 ? left : right;
            image.setPixel(x, y, qRgb(c.r, c.g, c.b));
        }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    EXPECT_TRUE(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "JPG", 95));
    return {bytes.begin(), bytes.end()};
}

// The same JPEG without its Huffman table segments, as many webcams send it.
std::vector<std::uint8_t> withoutHuffmanTables(const std::vector<std::uint8_t>& jpeg)
{
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + 2);  // SOI
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at + 1] != 0xDA) {  // up to the start of scan
        const std::size_t length = std::size_t(jpeg[at + 2]) << 8 | jpeg[at + 3];
        if (jpeg[at + 1] != 0xC4) out.insert(out.end(), jpeg.begin() + at, jpeg.begin() + at + 2 + length);
        at += 2 + length;
    }
    out.insert(out.end(), jpeg.begin() + at, jpeg.end());
    return out;
}

// A fake camera of 320 × 240 pixels of YUYV red, at 30 frames a second.
CameraCapture fakeCamera()
{
    const CameraCapture::Device device{"usb-fake-1", "Teszt kamera", "/dev/video-fake"};
    std::vector<std::uint8_t> red;
    for (int i = 0; i < 320 * 240 / 2; ++i) red.insert(red.end(), {81, 90, 81, 240});
    return CameraCapture(device, std::make_unique<platform::CameraFakeSource>(
                                     device, format(CameraPixelFormat::yuyv, 320, 240),
                                     std::vector<std::vector<std::uint8_t>>{std::move(red)}));
}

} // namespace

TEST(CameraConversion, YuyvGivesBt601LimitedRangeColours)
{
    struct Case {
        std::uint8_t y, u, v;
        Rgb expected;
    };
    const Case cases[] = {
        {16, 128, 128, {0, 0, 0}},        {235, 128, 128, {255, 255, 255}}, {126, 128, 128, {128, 128, 128}},
        {81, 90, 240, {254, 0, 0}},       {145, 54, 34, {0, 255, 1}},       {41, 240, 110, {0, 0, 255}},
        {255, 128, 128, {255, 255, 255}}, {0, 128, 128, {0, 0, 0}},  // beyond white and black: clamped
    };
    std::vector<std::uint8_t> row;
    for (const Case& c : cases) row.insert(row.end(), {c.y, c.u, c.y, c.v});
    platform::CameraConverter converter(format(CameraPixelFormat::yuyv, int(std::size(cases)) * 2, 1));
    auto image = converter.convert(row.data(), row.size());
    ASSERT_TRUE(image);
    ASSERT_EQ(image->format(), QImage::Format_RGB32);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(pixel(*image, int(2 * i), 0), cases[i].expected) << "case " << i;
        EXPECT_EQ(pixel(*image, int(2 * i + 1), 0), cases[i].expected) << "case " << i;
    }
}

TEST(CameraConversion, YuyvRowsWithPaddingOddWidthAndShortBuffers)
{
    // 3 × 2 pixels in rows of 16 bytes, the padding junk; the odd third pixel is the first of its pair.
    std::vector<std::uint8_t> bytes = {235, 128, 16, 128, 81, 90, 99, 240};
    bytes.resize(16, 0xEE);
    bytes.insert(bytes.end(), {16, 128, 235, 128, 41, 240, 99, 110});
    bytes.resize(32, 0xEE);
    platform::CameraConverter converter(format(CameraPixelFormat::yuyv, 3, 2, 16));
    auto image = converter.convert(bytes.data(), bytes.size());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSize(3, 2));
    const std::vector<Rgb> expected = {{255, 255, 255}, {0, 0, 0},       {254, 0, 0},
                                       {0, 0, 0},       {255, 255, 255}, {0, 0, 255}};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(pixel(*image, i % 3, i / 3), expected[std::size_t(i)]) << i;

    // The last row needs its pixels, not its padding; one byte less is a partial frame.
    EXPECT_TRUE(converter.convert(bytes.data(), 16 + 8));
    EXPECT_FALSE(converter.convert(bytes.data(), 16 + 7));
    EXPECT_FALSE(converter.convert(bytes.data(), 0));
}

TEST(CameraConversion, YuyvFillsATightTargetWholeAndNoMore)
{
    // Our own loop, unlike libswscale, needs no padding: the target ends at a guard page.
    std::vector<int> widths;
    for (int w = 1; w <= 80; ++w) widths.push_back(w);
    widths.insert(widths.end(), {360, 1080, 1366, 1918, 1920, 3840});
    ondexa::testing::GuardedMemory memory(3840 * 4 * 3);
    const std::uint8_t pattern[4] = {0x5a, 0xa5, 0x3c, 0x00};
    for (int height : {2, 3})
        for (int width : widths) {
            std::vector<std::uint8_t> source;
            for (int i = 0; i < (width + 1) / 2 * height; ++i) source.insert(source.end(), {81, 90, 81, 240});
            std::uint8_t* target = memory.last(std::size_t(width) * 4 * height, pattern, 4);
            platform::convertYuyvToBgra(source.data(), (width + 1) / 2 * 4, width, height, target, width * 4);
            int wrong = 0;
            for (int i = 0; i < width * height; ++i) {
                const std::uint8_t* p = target + 4 * i;
                wrong += !(p[3] == 255 && near({p[2], p[1], p[0]}, {254, 0, 0}, 1));
            }
            EXPECT_EQ(wrong, 0) << width << "×" << height;
        }
}

TEST(CameraConversion, MjpegWithAndWithoutHuffmanTables)
{
    const Rgb red{255, 0, 0}, blue{0, 0, 255};
    const auto jpeg = encodeJpeg(64, 32, red, blue);
    const auto bare = withoutHuffmanTables(jpeg);
    ASSERT_LT(bare.size(), jpeg.size());
    platform::CameraConverter converter(format(CameraPixelFormat::mjpeg, 64, 32));
    for (const auto* bytes : {&jpeg, &bare}) {
        auto image = converter.convert(bytes->data(), bytes->size());
        ASSERT_TRUE(image);
        EXPECT_EQ(image->size(), QSize(64, 32));
        // Away from the edge between the halves, where JPEG rings.
        EXPECT_TRUE(near(pixel(*image, 8, 16), red, 4)) << ::testing::PrintToString(pixel(*image, 8, 16));
        EXPECT_TRUE(near(pixel(*image, 56, 16), blue, 4)) << ::testing::PrintToString(pixel(*image, 56, 16));
    }

    // Full-range grey stays the same grey (no limited-range stretch).
    const auto grey = encodeJpeg(16, 16, {128, 128, 128}, {16, 16, 16});
    auto image = converter.convert(grey.data(), grey.size());
    ASSERT_TRUE(image);
    EXPECT_TRUE(near(pixel(*image, 2, 8), (Rgb{128, 128, 128}), 2));
    EXPECT_TRUE(near(pixel(*image, 13, 8), (Rgb{16, 16, 16}), 2));

    // Junk and a truncated picture give nothing, and the next good one works.
    const std::vector<std::uint8_t> junk(500, 0x5A);
    EXPECT_FALSE(converter.convert(junk.data(), junk.size()));
    EXPECT_FALSE(converter.convert(jpeg.data(), 10));
    EXPECT_TRUE(converter.convert(jpeg.data(), jpeg.size()));
}

TEST(CameraCapture, TrackSizeFitsFullHdWithEvenSidesOfAtLeastTwo)
{
    using D = CameraCapture::Dimensions;
    const std::vector<std::pair<D, D>> cases = {
        {{1280, 720}, {1280, 720}},  {{1920, 1080}, {1920, 1080}}, {{3840, 2160}, {1920, 1080}},
        {{4096, 2160}, {1920, 1012}}, {{1921, 1081}, {1918, 1080}}, {{641, 481}, {640, 480}},
        // Degenerate pictures still give a track an encoder accepts.
        {{1, 1}, {2, 2}}, {{0, 0}, {2, 2}}, {{10000, 1}, {1920, 2}}, {{3, 9000}, {2, 1080}},
    };
    for (const auto& [picture, track] : cases)
        EXPECT_EQ(CameraCapture::trackSize(picture), track) << picture.width << "×" << picture.height;
}

TEST(CameraCapture, DeliversStampedFramesOnTheQueueAndNoneOnceGone)
{
    platform::SerialQueue queue("ondexa.capture");
    std::vector<CameraCapture::Frame> frames;  // read once the queue is idle
    std::atomic<std::size_t> count{0};
    bool onQueue = true;
    {
        CameraCapture camera = fakeCamera();
        camera.start(queue, [&](const CameraCapture::Frame& frame) {
            onQueue = onQueue && queue.isCurrent();
            frames.push_back(frame);
            ++count;
        });
        for (int i = 0; i < 300 && count < 6; ++i) std::this_thread::sleep_for(10ms);
        queue.async([] { std::this_thread::sleep_for(150ms); });  // a frame waits when the camera goes
        std::this_thread::sleep_for(100ms);
    }
    queue.sync([] {});
    ASSERT_GE(frames.size(), 6u);
    std::this_thread::sleep_for(150ms);
    queue.sync([] {});
    EXPECT_EQ(count, frames.size()) << "frames after the camera went";
    EXPECT_TRUE(onQueue);
    EXPECT_EQ(pixel(frames.back().image, 160, 120), (Rgb{254, 0, 0}));
    // Stamped when captured, at 30 frames a second (a busy machine may drop one).
    const double span = (frames.back().presentationTime - frames.front().presentationTime).seconds();
    EXPECT_GT(span / double(frames.size() - 1), 0.025);
    EXPECT_LT(span / double(frames.size() - 1), 0.1);
}

TEST(CameraDevices, PermissionDeniedIsItsOwnError)
{
    ondexa::testing::TempFolder folder;
    const CameraCapture::Device locked{"usb-z", "Zárt kamera", folder.path / "video3", {}};
    std::ofstream(locked.path) << "x";
    ASSERT_EQ(::chmod(locked.path.c_str(), 0), 0);
    ASSERT_EQ(::chmod(folder.path.c_str(), 0755), 0);

    // Root opens anything: try it as an ordinary user in a child process.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && ::setuid(65534) != 0) ::_exit(10);
        int code = CameraCapture::accessDenied(locked) ? 0 : 1;
        try {
            CameraCapture camera(locked);
            code |= 2;
        } catch (const CameraError& error) {
            if (error.kind() != CameraError::Kind::permissionDenied) code |= 4;
            if (std::string(error.what()).rfind("Nincs engedély a kamera használatához: Zárt kamera (", 0) != 0)
                code |= 8;
        } catch (...) {
            code |= 16;
        }
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not denied, 2: opened, 4: other kind, 8: other sentence, "
                                         "16: other exception, 10: could not drop root";
}

TEST(CameraDevices, ACameraIsKnownByItsByIdNameInEveryPortAndStillAnswersToItsPort)
{
    namespace fs = std::filesystem;
    ondexa::testing::TempFolder folder;
    const fs::path dev = folder.path / "dev";
    const fs::path byId = dev / "v4l" / "by-id";
    fs::create_directories(byId);
    for (const char* node : {"video0", "video2", "video4", "video6"}) std::ofstream(dev / node) << "x";
    const std::string c920 = "usb-Logitech_HD_Pro_Webcam_C920_AB12CD34-video-index0";
    fs::create_symlink("../../video2", byId / c920);
    fs::create_symlink("../../video3", byId / "usb-Logitech_HD_Pro_Webcam_C920_AB12CD34-video-index1");

    const auto camera = [&](const char* node, std::string port) {
        platform::CameraDeviceInfo info;
        info.name = node;
        info.path = dev / node;
        info.portID = std::move(port);
        return info;
    };
    std::vector<platform::CameraDeviceInfo> cameras = {
        camera("video0", "usb-0000:00:14.0-1"),  // no by-id link: its port
        camera("video2", "usb-0000:00:14.0-2"),
        camera("video4", ""),                    // no bus address: its node
        camera("video6", "usb-0000:00:14.0-1"),  // a second node of the first device
    };
    platform::assignCameraIds(cameras, byId);
    EXPECT_EQ(cameras[0].uniqueID, "usb-0000:00:14.0-1");
    EXPECT_EQ(cameras[1].uniqueID, c920);
    EXPECT_EQ(cameras[1].portID, "usb-0000:00:14.0-2");
    EXPECT_EQ(cameras[2].uniqueID, (dev / "video4").string());
    EXPECT_EQ(cameras[3].uniqueID, (dev / "video6").string());
    // A choice stored under its port, before it had a by-id name, finds it.
    EXPECT_TRUE(cameras[1].answersTo("usb-0000:00:14.0-2"));
    EXPECT_TRUE(cameras[1].answersTo(c920));
    EXPECT_FALSE(cameras[0].answersTo(c920));
    EXPECT_FALSE(cameras[2].answersTo(""));

    // The same camera in another port, under another node: the same id.
    fs::remove(byId / c920);
    fs::create_symlink("../../video6", byId / c920);
    std::vector<platform::CameraDeviceInfo> moved = {camera("video6", "usb-0000:00:14.0-4")};
    platform::assignCameraIds(moved, byId);
    EXPECT_EQ(moved[0].uniqueID, c920);

    // Without the folder (no udev): the ports, as before.
    std::vector<platform::CameraDeviceInfo> bare = {camera("video0", "usb-0000:00:14.0-1")};
    platform::assignCameraIds(bare, folder.path / "missing");
    EXPECT_EQ(bare[0].uniqueID, "usb-0000:00:14.0-1");
}
