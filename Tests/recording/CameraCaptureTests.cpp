#include "Ondexa/model/OndexaError.h"
#include "Ondexa/recording/CameraCapture.h"
#include "Platform/capture/CameraConverter.h"
#include "Platform/capture/CameraFakeSource.h"
#include "Platform/core/HostClock.h"
#include "support/TempFolder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
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

std::ostream& operator<<(std::ostream& out, const Rgb& c)
{
    return out << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

Rgb pixel(const QImage& image, int x, int y)
{
    const std::uint8_t* p = image.constScanLine(y) + 4 * x;
    EXPECT_EQ(p[3], 255);
    return {p[2], p[1], p[0]};
}

// BT.601 limited range, computed in doubles: the definition the fixed-point
// conversion must meet.
Rgb reference(int y, int u, int v)
{
    auto clamp = [](double x) { return int(std::lround(std::clamp(x, 0.0, 255.0))); };
    const double c = 1.164383 * (y - 16);
    return {clamp(c + 1.596027 * (v - 128)), clamp(c - 0.391762 * (u - 128) - 0.812968 * (v - 128)),
            clamp(c + 2.017232 * (u - 128))};
}

CameraFormat yuyvFormat(int width, int height, int bytesPerLine = 0)
{
    CameraFormat f;
    f.pixelFormat = CameraPixelFormat::yuyv;
    f.width = width;
    f.height = height;
    f.bytesPerLine = bytesPerLine;
    return f;
}

CameraFormat mjpegFormat(int width, int height)
{
    CameraFormat f;
    f.pixelFormat = CameraPixelFormat::mjpeg;
    f.width = width;
    f.height = height;
    return f;
}

// A YUYV picture of one colour.
std::vector<std::uint8_t> solidYuyv(int width, int height, std::uint8_t y, std::uint8_t u, std::uint8_t v)
{
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < width * height / 2; ++i) bytes.insert(bytes.end(), {y, u, y, v});
    return bytes;
}

// A JPEG as a webcam sends it: 4:2:2, full range, standard Huffman tables.
// The left half is `left`, the right half `right` (RGB).
std::vector<std::uint8_t> encodeJpeg(int width, int height, Rgb left, Rgb right)
{
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->width = width;
    context->height = height;
    context->pix_fmt = AV_PIX_FMT_YUVJ422P;
    context->time_base = {1, 30};
    context->flags |= AV_CODEC_FLAG_QSCALE;
    context->global_quality = FF_QP2LAMBDA * 2;
    av_opt_set(context->priv_data, "huffman", "default", 0);
    EXPECT_EQ(avcodec_open2(context, codec, nullptr), 0);

    AVFrame* frame = av_frame_alloc();
    frame->width = width;
    frame->height = height;
    frame->format = AV_PIX_FMT_YUVJ422P;
    frame->quality = context->global_quality;
    av_frame_get_buffer(frame, 0);
    auto full = [](Rgb c, int& y, int& cb, int& cr) {
        y = int(std::lround(0.299 * c.r + 0.587 * c.g + 0.114 * c.b));
        cb = std::clamp(int(std::lround(128 - 0.168736 * c.r - 0.331264 * c.g + 0.5 * c.b)), 0, 255);
        cr = std::clamp(int(std::lround(128 + 0.5 * c.r - 0.418688 * c.g - 0.081312 * c.b)), 0, 255);
    };
    for (int row = 0; row < height; ++row)
        for (int x = 0; x < width; ++x) {
            int y, cb, cr;
            full(x < width / 2 ? left : right, y, cb, cr);
            frame->data[0][row * frame->linesize[0] + x] = std::uint8_t(y);
            frame->data[1][row * frame->linesize[1] + x / 2] = std::uint8_t(cb);
            frame->data[2][row * frame->linesize[2] + x / 2] = std::uint8_t(cr);
        }
    EXPECT_EQ(avcodec_send_frame(context, frame), 0);
    AVPacket* packet = av_packet_alloc();
    EXPECT_EQ(avcodec_receive_packet(context, packet), 0);
    std::vector<std::uint8_t> jpeg(packet->data, packet->data + packet->size);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
    return jpeg;
}

// The same JPEG without its Huffman table segments, as many webcams send it.
std::vector<std::uint8_t> withoutHuffmanTables(const std::vector<std::uint8_t>& jpeg)
{
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + 2);  // SOI
    std::size_t at = 2;
    while (at + 4 <= jpeg.size()) {
        const std::uint8_t marker = jpeg[at + 1];
        if (marker == 0xDA) break;  // start of scan: the rest is entropy-coded data
        const std::size_t length = std::size_t(jpeg[at + 2]) << 8 | jpeg[at + 3];
        if (marker != 0xC4) out.insert(out.end(), jpeg.begin() + at, jpeg.begin() + at + 2 + length);
        at += 2 + length;
    }
    out.insert(out.end(), jpeg.begin() + at, jpeg.end());
    return out;
}

bool near(Rgb a, Rgb b, int tolerance)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

CameraCapture::Device fakeDevice() { return {"usb-fake-1", "Teszt kamera", "/dev/video-fake"}; }

std::unique_ptr<platform::CameraFakeSource> fakeSource(CameraFormat format,
                                                       std::vector<std::vector<std::uint8_t>> buffers,
                                                       platform::CameraFakeSource::Behaviour behaviour = {})
{
    return std::make_unique<platform::CameraFakeSource>(fakeDevice(), format, std::move(buffers), behaviour);
}

// Frames received by a sink, with the thread they came on.
struct Received {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<CameraCapture::Frame> frames;
    bool allOnQueue = true;

    CameraCapture::Sink sink(platform::SerialQueue& queue)
    {
        return [this, &queue](const CameraCapture::Frame& frame) {
            std::lock_guard lock(mutex);
            allOnQueue = allOnQueue && queue.isCurrent();
            frames.push_back(frame);
            changed.notify_all();
        };
    }

    bool waitFor(std::size_t count, std::chrono::milliseconds timeout = 3s)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return frames.size() >= count; });
    }

    std::size_t size()
    {
        std::lock_guard lock(mutex);
        return frames.size();
    }
};

// The log goes to a folder of the test's own.
struct PrivateLog {
    ondexa::testing::TempFolder folder;
    PrivateLog() { setenv("XDG_STATE_HOME", folder.path.c_str(), 1); }
    ~PrivateLog() { unsetenv("XDG_STATE_HOME"); }
    std::string text() const
    {
        std::ifstream in(folder.path / "Vendalum" / "Vendalum.log");
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }
};

} // namespace

TEST(CameraConversion, YuyvGivesBt601LimitedRangeColours)
{
    // One pixel pair per colour, both pixels of a pair alike.
    struct Case {
        std::uint8_t y, u, v;
        Rgb expected;
    };
    const Case cases[] = {
        {16, 128, 128, {0, 0, 0}},        // black
        {235, 128, 128, {255, 255, 255}}, // white
        {126, 128, 128, {128, 128, 128}}, // mid grey
        {81, 90, 240, {254, 0, 0}},       // red
        {145, 54, 34, {0, 255, 1}},       // green
        {41, 240, 110, {0, 0, 255}},      // blue
        {255, 128, 128, {255, 255, 255}}, // above white: clamped
        {0, 128, 128, {0, 0, 0}},         // below black: clamped
    };
    std::vector<std::uint8_t> row;
    for (const Case& c : cases) row.insert(row.end(), {c.y, c.u, c.y, c.v});
    const int width = int(std::size(cases)) * 2;
    platform::CameraConverter converter(yuyvFormat(width, 1));
    auto image = converter.convert(row.data(), row.size());
    ASSERT_TRUE(image);
    ASSERT_EQ(image->format(), QImage::Format_RGB32);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(pixel(*image, int(2 * i), 0), cases[i].expected) << "case " << i;
        EXPECT_EQ(pixel(*image, int(2 * i + 1), 0), cases[i].expected) << "case " << i;
    }

    // Each pixel of a pair has its own luma and the pair's chroma; across the
    // whole range every result is the rounded definition (or one off where
    // the definition lands on a half).
    for (int y = 0; y < 256; y += 17)
        for (int u = 0; u < 256; u += 15)
            for (int v = 0; v < 256; v += 15) {
                const std::uint8_t pair[4] = {std::uint8_t(y), std::uint8_t(u), std::uint8_t(255 - y), std::uint8_t(v)};
                std::uint8_t out[8];
                platform::convertYuyvToBgra(pair, 4, 2, 1, out, 8);
                for (int k = 0; k < 2; ++k) {
                    const Rgb want = reference(k ? 255 - y : y, u, v);
                    const Rgb got{out[4 * k + 2], out[4 * k + 1], out[4 * k]};
                    ASSERT_TRUE(near(got, want, 1)) << "Y " << (k ? 255 - y : y) << " U " << u << " V " << v
                                                    << ": " << got << " want " << want;
                }
            }
}

TEST(CameraConversion, YuyvRowsWithPaddingOddWidthAndShortBuffers)
{
    // 3 × 2 pixels in rows of 16 bytes; the padding holds junk. The odd third
    // pixel is the first of its pair.
    std::vector<std::uint8_t> bytes(32, 0xEE);
    const std::uint8_t row0[] = {235, 128, 16, 128, 81, 90, 99, 240};
    const std::uint8_t row1[] = {16, 128, 235, 128, 41, 240, 99, 110};
    std::copy(std::begin(row0), std::end(row0), bytes.begin());
    std::copy(std::begin(row1), std::end(row1), bytes.begin() + 16);
    platform::CameraConverter converter(yuyvFormat(3, 2, 16));
    auto image = converter.convert(bytes.data(), bytes.size());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSize(3, 2));
    EXPECT_EQ(pixel(*image, 0, 0), (Rgb{255, 255, 255}));
    EXPECT_EQ(pixel(*image, 1, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(pixel(*image, 2, 0), (Rgb{254, 0, 0}));
    EXPECT_EQ(pixel(*image, 0, 1), (Rgb{0, 0, 0}));
    EXPECT_EQ(pixel(*image, 1, 1), (Rgb{255, 255, 255}));
    EXPECT_EQ(pixel(*image, 2, 1), (Rgb{0, 0, 255}));

    // The last row needs only its pixels, not its padding; one byte less is
    // a partial frame and is dropped.
    EXPECT_TRUE(converter.convert(bytes.data(), 16 + 8));
    EXPECT_FALSE(converter.convert(bytes.data(), 16 + 7));
    EXPECT_FALSE(converter.convert(bytes.data(), 0));
}

TEST(CameraConversion, MjpegWithAndWithoutHuffmanTables)
{
    const Rgb red{255, 0, 0}, blue{0, 0, 255};
    const auto jpeg = encodeJpeg(64, 32, red, blue);
    const auto bare = withoutHuffmanTables(jpeg);
    ASSERT_LT(bare.size(), jpeg.size());

    platform::CameraConverter converter(mjpegFormat(64, 32));
    for (const auto* bytes : {&jpeg, &bare}) {
        auto image = converter.convert(bytes->data(), bytes->size());
        ASSERT_TRUE(image);
        EXPECT_EQ(image->size(), QSize(64, 32));
        // Away from the edge between the halves, where JPEG rings.
        EXPECT_TRUE(near(pixel(*image, 8, 16), red, 4)) << pixel(*image, 8, 16);
        EXPECT_TRUE(near(pixel(*image, 56, 16), blue, 4)) << pixel(*image, 56, 16);
    }

    // Full-range grey stays the same grey (no limited-range stretch).
    const auto grey = encodeJpeg(16, 16, {128, 128, 128}, {16, 16, 16});
    auto image = converter.convert(grey.data(), grey.size());
    ASSERT_TRUE(image);
    EXPECT_TRUE(near(pixel(*image, 2, 8), (Rgb{128, 128, 128}), 2)) << pixel(*image, 2, 8);
    EXPECT_TRUE(near(pixel(*image, 13, 8), (Rgb{16, 16, 16}), 2)) << pixel(*image, 13, 8);

    // Junk and a truncated picture give nothing, and the next good one works.
    const std::vector<std::uint8_t> junk(500, 0x5A);
    EXPECT_FALSE(converter.convert(junk.data(), junk.size()));
    EXPECT_FALSE(converter.convert(jpeg.data(), 10));
    EXPECT_TRUE(converter.convert(jpeg.data(), jpeg.size()));
}

TEST(CameraFormatChoice, LargestAtThirtyFramesWithinFullHd)
{
    auto f = [](CameraPixelFormat p, int w, int h, std::uint32_t fps) {
        CameraFormat format;
        format.pixelFormat = p;
        format.width = w;
        format.height = h;
        format.intervalNumerator = 1;
        format.intervalDenominator = fps;
        return format;
    };
    const auto Y = CameraPixelFormat::yuyv, M = CameraPixelFormat::mjpeg;

    // A usual webcam: raw pictures are slow at large sizes, MJPEG is not.
    EXPECT_EQ(platform::chooseCameraFormat({f(Y, 640, 480, 30), f(Y, 1280, 720, 10), f(Y, 1920, 1080, 5),
                                            f(M, 1280, 720, 60), f(M, 1280, 720, 30), f(M, 1920, 1080, 30)}),
              f(M, 1920, 1080, 30));
    // 30 frames a second beat size; 60 is not taken when 30 is there.
    EXPECT_EQ(platform::chooseCameraFormat({f(Y, 1920, 1080, 5), f(Y, 640, 480, 30)}), f(Y, 640, 480, 30));
    EXPECT_EQ(platform::chooseCameraFormat({f(M, 1280, 720, 60), f(M, 1280, 720, 30)}), f(M, 1280, 720, 30));
    // Same size and rate: the raw format, which needs no decoding.
    EXPECT_EQ(platform::chooseCameraFormat({f(M, 640, 480, 30), f(Y, 640, 480, 30)}), f(Y, 640, 480, 30));
    // Nothing reaches 30: the largest, at its fastest.
    EXPECT_EQ(platform::chooseCameraFormat({f(Y, 1280, 720, 15), f(Y, 1920, 1080, 10), f(Y, 1920, 1080, 15)}),
              f(Y, 1920, 1080, 15));
    // Larger than Full HD is left out while a smaller size exists …
    EXPECT_EQ(platform::chooseCameraFormat({f(M, 3840, 2160, 30), f(M, 1920, 1080, 30)}), f(M, 1920, 1080, 30));
    // … and a camera with only larger ones gets its smallest.
    EXPECT_EQ(platform::chooseCameraFormat({f(M, 3840, 2160, 30), f(M, 2560, 1440, 30)}), f(M, 2560, 1440, 30));
    EXPECT_EQ(platform::chooseCameraFormat({}), std::nullopt);
}

TEST(CameraCapture, TrackSizeFitsFullHdWithEvenSidesOfAtLeastTwo)
{
    using D = CameraCapture::Dimensions;
    EXPECT_EQ(CameraCapture::trackSize({1280, 720}), (D{1280, 720}));
    EXPECT_EQ(CameraCapture::trackSize({1920, 1080}), (D{1920, 1080}));
    EXPECT_EQ(CameraCapture::trackSize({3840, 2160}), (D{1920, 1080}));
    EXPECT_EQ(CameraCapture::trackSize({4096, 2160}), (D{1920, 1012}));
    EXPECT_EQ(CameraCapture::trackSize({2560, 1440}), (D{1920, 1080}));
    EXPECT_EQ(CameraCapture::trackSize({1921, 1081}), (D{1918, 1080}));
    EXPECT_EQ(CameraCapture::trackSize({641, 481}), (D{640, 480}));
    // Degenerate pictures still give a track an encoder accepts.
    EXPECT_EQ(CameraCapture::trackSize({1, 1}), (D{2, 2}));
    EXPECT_EQ(CameraCapture::trackSize({0, 0}), (D{2, 2}));
    EXPECT_EQ(CameraCapture::trackSize({10000, 1}), (D{1920, 2}));
    EXPECT_EQ(CameraCapture::trackSize({3, 9000}), (D{2, 1080}));
}

TEST(CameraCapture, FakeCameraDeliversStampedFramesOnTheQueue)
{
    for (CameraPixelFormat kind : {CameraPixelFormat::yuyv, CameraPixelFormat::mjpeg}) {
        SCOPED_TRACE(kind == CameraPixelFormat::yuyv ? "YUYV" : "MJPEG");
        const int width = 320, height = 240;
        const Rgb red{255, 0, 0};
        auto source = kind == CameraPixelFormat::yuyv
                          ? fakeSource(yuyvFormat(width, height), {solidYuyv(width, height, 81, 90, 240)})
                          : fakeSource(mjpegFormat(width, height), {encodeJpeg(width, height, red, red)});
        CameraCapture camera(fakeDevice(), std::move(source));
        EXPECT_EQ(camera.dimensions(), (CameraCapture::Dimensions{width, height}));
        EXPECT_EQ(camera.device().name, "Teszt kamera");

        platform::SerialQueue queue("ondexa.capture");
        Received received;
        const std::int64_t before = platform::HostClock::nowNanoseconds();
        camera.start(queue, received.sink(queue));
        ASSERT_TRUE(received.waitFor(6));
        camera.stop();
        const std::int64_t after = platform::HostClock::nowNanoseconds();
        queue.sync([] {});  // frames handed over before the stop are delivered
        const std::size_t count = received.size();
        std::this_thread::sleep_for(150ms);
        queue.sync([] {});
        EXPECT_EQ(received.size(), count) << "frames after stop()";

        std::lock_guard lock(received.mutex);
        EXPECT_TRUE(received.allOnQueue);
        platform::MediaTime previous;
        for (const auto& frame : received.frames) {
            EXPECT_EQ(frame.image.size(), QSize(width, height));
            EXPECT_TRUE(near(pixel(frame.image, width / 2, height / 2), (Rgb{254, 0, 0}), 4));
            EXPECT_TRUE(frame.presentationTime > previous);
            EXPECT_GE(frame.presentationTime, platform::MediaTime(before, 1'000'000'000));
            EXPECT_LE(frame.presentationTime, platform::MediaTime(after, 1'000'000'000));
            previous = frame.presentationTime;
        }
        // Stamped when captured, at 30 frames a second (a frame may be
        // discarded on a busy machine, so allow for gaps).
        const auto& frames = received.frames;
        const double span = (frames.back().presentationTime - frames.front().presentationTime).seconds();
        EXPECT_GT(span / double(frames.size() - 1), 0.025);
        EXPECT_LT(span / double(frames.size() - 1), 0.1);
    }
}

TEST(CameraCapture, LateFramesAreDiscardedNotQueued)
{
    auto source = fakeSource(yuyvFormat(64, 48), {solidYuyv(64, 48, 126, 128, 128)});
    auto* fake = source.get();
    CameraCapture camera(fakeDevice(), std::move(source));
    platform::SerialQueue queue("ondexa.capture");
    std::atomic<int> delivered{0};
    // A sink that holds the queue for 200 ms per frame, as a slow encoder would.
    camera.start(queue, [&](const CameraCapture::Frame&) {
        ++delivered;
        std::this_thread::sleep_for(200ms);
    });
    std::this_thread::sleep_for(1s);
    const auto stopStarted = std::chrono::steady_clock::now();
    camera.stop();
    // Stopping does not wait for the busy queue.
    EXPECT_LT(std::chrono::steady_clock::now() - stopStarted, 150ms);
    queue.sync([] {});
    EXPECT_GE(fake->delivered(), 20);
    // One frame in the sink and at most one waiting at any time: about 5 in
    // one second, where queueing would have delivered all of them.
    EXPECT_LE(delivered.load(), 7);
    EXPECT_GE(delivered.load(), 3);
}

TEST(CameraCapture, ACameraThatFailsOrGoesAwayIsLoggedAndStops)
{
    PrivateLog log;
    {
        platform::CameraFakeSource::Behaviour unplug;
        unplug.unplugAfter = 3;
        CameraCapture camera(fakeDevice(), fakeSource(yuyvFormat(16, 16), {solidYuyv(16, 16, 16, 128, 128)}, unplug));
        platform::SerialQueue queue("ondexa.capture");
        Received received;
        camera.start(queue, received.sink(queue));
        std::this_thread::sleep_for(400ms);
        queue.sync([] {});
        EXPECT_EQ(received.size(), 3u);
    }
    EXPECT_NE(log.text().find("A kamera nem található: Teszt kamera"), std::string::npos) << log.text();

    platform::CameraFakeSource::Behaviour busy;
    busy.failToStartWith = EBUSY;
    auto source = fakeSource(yuyvFormat(16, 16), {solidYuyv(16, 16, 16, 128, 128)}, busy);
    CameraCapture camera(fakeDevice(), std::move(source));
    platform::SerialQueue queue("ondexa.capture");
    Received received;
    camera.start(queue, received.sink(queue));
    std::this_thread::sleep_for(200ms);
    camera.stop();
    queue.sync([] {});
    EXPECT_EQ(received.size(), 0u);
    EXPECT_NE(log.text().find("A kamera hibát jelzett: Teszt kamera"), std::string::npos) << log.text();
}

TEST(CameraCapture, DestroyedWhileFramesWaitOnTheQueue)
{
    platform::SerialQueue queue("ondexa.capture");
    std::atomic<int> delivered{0};
    {
        CameraCapture camera(fakeDevice(), fakeSource(yuyvFormat(64, 48), {solidYuyv(64, 48, 126, 128, 128)}));
        camera.start(queue, [&](const CameraCapture::Frame&) { ++delivered; });
        // Hold the queue so a frame is waiting on it when the camera goes.
        queue.async([] { std::this_thread::sleep_for(150ms); });
        std::this_thread::sleep_for(100ms);
    }
    queue.sync([] {});
    const int count = delivered;
    std::this_thread::sleep_for(100ms);
    queue.sync([] {});
    EXPECT_EQ(delivered.load(), count);
}

TEST(CameraDevices, OnlyVideoCaptureNodesAreListed)
{
    ondexa::testing::TempFolder folder;
    for (const char* name : {"video0", "video12", "videox", "video", "audio0", "video99999999999999999999"})
        std::ofstream(folder.path / name) << "x";
    EXPECT_TRUE(platform::listCameraDevices(folder.path).empty());
    EXPECT_TRUE(platform::listCameraDevices(folder.path / "missing").empty());
}

TEST(CameraDevices, OpeningErrorsSayWhatWentWrong)
{
    ondexa::testing::TempFolder folder;
    const CameraCapture::Device missing{"usb-x", "Teszt", folder.path / "video7"};
    try {
        platform::openCameraDevice(missing);
        FAIL() << "opened a missing camera";
    } catch (const CameraError& error) {
        EXPECT_EQ(error.kind(), CameraError::Kind::notFound);
        EXPECT_EQ(std::string(error.what()).rfind("A kamera nem található: Teszt (", 0), 0u) << error.what();
    }
    EXPECT_FALSE(CameraCapture::accessDenied(missing));

    // Something that is not a camera: the recorder's own sentence.
    const CameraCapture::Device notACamera{"usb-y", "Teszt", folder.path / "video0"};
    std::ofstream(notACamera.path) << "not a camera";
    try {
        CameraCapture camera(notACamera);
        FAIL() << "opened a plain file as a camera";
    } catch (const OndexaError& error) {
        EXPECT_EQ(error.message, "A kamera nem használható: Teszt");
    }
}

TEST(CameraDevices, PermissionDeniedIsItsOwnError)
{
    ondexa::testing::TempFolder folder;
    const CameraCapture::Device locked{"usb-z", "Zárt kamera", folder.path / "video3"};
    std::ofstream(locked.path) << "x";
    ASSERT_EQ(::chmod(locked.path.c_str(), 0), 0);
    ASSERT_EQ(::chmod(folder.path.c_str(), 0755), 0);

    // Root opens anything: try it as an ordinary user in a child process.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && ::setuid(65534) != 0) ::_exit(10);
        int code = 0;
        if (!CameraCapture::accessDenied(locked)) code |= 1;
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
