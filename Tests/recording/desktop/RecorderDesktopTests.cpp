// Whole recordings on the test desktop: the screen through the X server, the
// system sound (the desktop's 440 Hz sine) and two channels of the 4-channel
// "iface" input, fed with a distinct tone per channel. The movies are read
// back with libavformat and libavcodec.

#include "Ondexa/recording/AudioDevices.h"
#include "Ondexa/recording/MicCapture.h"
#include "Ondexa/recording/Recorder.h"
#include "Platform/capture/CameraFakeSource.h"
#include "Platform/capture/ScreenContent.h"
#include "Platform/capture/TestDesktop.h"
#include "support/MediaFixtures.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <map>
#include <memory>
#include <thread>

#include <spawn.h>
#include <sys/wait.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

extern char** environ;

using namespace std::chrono_literals;
using ondexa::CaptureTarget;
using ondexa::MicCapture;
using ondexa::Recorder;

namespace {

// The tone of each input channel of "iface", Hz (none near the system sound's 440).
constexpr double kChannelTones[4] = {300, 500, 700, 900};
constexpr double kSystemTone = 440;
constexpr double kRecordSeconds = 4.0;

// Runs the main thread's event loop until `done` or the timeout.
template <typename Predicate>
bool runUntil(Predicate done, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// --- Reading the movie back ------------------------------------------------------------

struct StreamInfo {
    AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
    std::string codec;
    int width = 0, height = 0;
    int sampleRate = 0, channels = 0;
    std::int64_t bitRate = 0;  // as the container states it
    std::string handlerName;
    double start = 1e9, end = -1e9;  // first and last presentation (end of the last packet), s
    double duration() const { return end - start; }
    std::string firstPacket;  // the first packet's bytes (x264 states its settings there)
    std::vector<float> left, right;  // decoded sound
    std::vector<std::uint8_t> firstPicture;  // decoded first picture as R, G, B
};

struct Movie {
    std::vector<StreamInfo> streams;

    // The average bit rate x264 was set up with, from the settings it writes
    // into the first picture ("… bitrate=6220 …", kbit/s).
    static std::int64_t x264BitRate(const StreamInfo& s)
    {
        const auto at = s.firstPacket.find(" bitrate=");
        if (at == std::string::npos) return -1;
        return std::atoll(s.firstPacket.c_str() + at + 9) * 1000;
    }
};

void decodeInto(AVCodecContext* decoder, AVFrame* frame, StreamInfo& info)
{
    while (avcodec_receive_frame(decoder, frame) == 0) {
        if (info.type == AVMEDIA_TYPE_AUDIO) {
            const auto* l = reinterpret_cast<const float*>(frame->data[0]);
            const auto* r = reinterpret_cast<const float*>(frame->data[frame->ch_layout.nb_channels > 1 ? 1 : 0]);
            info.left.insert(info.left.end(), l, l + frame->nb_samples);
            info.right.insert(info.right.end(), r, r + frame->nb_samples);
        } else if (info.firstPicture.empty() && frame->format == AV_PIX_FMT_YUV420P) {
            // BT.709 limited range back to RGB.
            info.firstPicture.resize(std::size_t(frame->width) * frame->height * 3);
            for (int y = 0; y < frame->height; ++y)
                for (int x = 0; x < frame->width; ++x) {
                    const double Y = (frame->data[0][y * frame->linesize[0] + x] - 16) / 219.0;
                    const double U = (frame->data[1][(y / 2) * frame->linesize[1] + x / 2] - 128) / 224.0;
                    const double V = (frame->data[2][(y / 2) * frame->linesize[2] + x / 2] - 128) / 224.0;
                    const double rgb[3] = {Y + 1.5748 * V, Y - 0.1873 * U - 0.4681 * V, Y + 1.8556 * U};
                    for (int c = 0; c < 3; ++c)
                        info.firstPicture[(std::size_t(y) * frame->width + x) * 3 + c] =
                            std::uint8_t(std::clamp(rgb[c] * 255 + 0.5, 0.0, 255.0));
                }
        }
    }
}

Movie readMovie(const std::filesystem::path& file)
{
    Movie movie;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, file.c_str(), nullptr, nullptr) < 0) throw std::runtime_error("cannot open");
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> formatGuard(format, [](AVFormatContext* f) {
        avformat_close_input(&f);
    });
    avformat_find_stream_info(format, nullptr);
    std::vector<AVCodecContext*> decoders;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* st = format->streams[i];
        StreamInfo info;
        info.type = st->codecpar->codec_type;
        info.codec = avcodec_get_name(st->codecpar->codec_id);
        info.width = st->codecpar->width;
        info.height = st->codecpar->height;
        info.sampleRate = st->codecpar->sample_rate;
        info.channels = st->codecpar->ch_layout.nb_channels;
        info.bitRate = st->codecpar->bit_rate;
        if (const AVDictionaryEntry* e = av_dict_get(st->metadata, "handler_name", nullptr, 0)) info.handlerName = e->value;
        movie.streams.push_back(info);
        AVCodecContext* decoder = avcodec_alloc_context3(avcodec_find_decoder(st->codecpar->codec_id));
        avcodec_parameters_to_context(decoder, st->codecpar);
        if (avcodec_open2(decoder, nullptr, nullptr) < 0) avcodec_free_context(&decoder);
        decoders.push_back(decoder);
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    while (av_read_frame(format, packet) >= 0) {
        const auto i = std::size_t(packet->stream_index);
        StreamInfo& info = movie.streams[i];
        const AVRational tb = format->streams[i]->time_base;
        if (info.firstPacket.empty()) info.firstPacket.assign(reinterpret_cast<const char*>(packet->data), std::size_t(packet->size));
        info.start = std::min(info.start, double(packet->pts) * av_q2d(tb));
        info.end = std::max(info.end, double(packet->pts + packet->duration) * av_q2d(tb));
        if (decoders[i] && avcodec_send_packet(decoders[i], packet) >= 0) decodeInto(decoders[i], frame, info);
        av_packet_unref(packet);
    }
    for (std::size_t i = 0; i < decoders.size(); ++i) {
        if (!decoders[i]) continue;
        avcodec_send_packet(decoders[i], nullptr);
        decodeInto(decoders[i], frame, movie.streams[i]);
        avcodec_free_context(&decoders[i]);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    return movie;
}

// The amplitude of the `hz` component of `samples` (Goertzel), over the
// middle of the track so that the AAC encoder's fade-in and any silence
// padding at the ends stay out.
double toneAmplitude(const std::vector<float>& samples, int rate, double hz)
{
    const std::size_t n = std::min<std::size_t>(samples.size() / 2, std::size_t(rate));
    const std::size_t from = (samples.size() - n) / 2;
    const double w = 2 * M_PI * hz / rate;
    const double coefficient = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double s0 = samples[from + i] + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return n ? 2 * std::sqrt(std::max(power, 0.0)) / double(n) : 0;
}

std::array<std::uint8_t, 3> pixel(const StreamInfo& video, int x, int y)
{
    const std::size_t at = (std::size_t(y) * video.width + x) * 3;
    return {video.firstPicture[at], video.firstPicture[at + 1], video.firstPicture[at + 2]};
}

bool near(std::array<std::uint8_t, 3> got, std::uint32_t rgb)
{
    for (int c = 0; c < 3; ++c)
        if (std::abs(int(got[std::size_t(c)]) - int((rgb >> (16 - 8 * c)) & 0xFF)) > 24) return false;
    return true;
}

// --- The test desktop ------------------------------------------------------------------

class Application : public ::testing::Environment {
public:
    void SetUp() override
    {
        av_log_set_level(AV_LOG_ERROR);
        if (!QCoreApplication::instance()) application_ = std::make_unique<QCoreApplication>(argc_, argv_);
    }
    void TearDown() override { application_.reset(); }

private:
    int argc_ = 1;
    char name_[32] = "recording_desktop_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QCoreApplication> application_;
};

const bool applicationRegistered = (::testing::AddGlobalTestEnvironment(new Application), true);

// Paints a small square in changing colours, so the screen never stands still.
class Flicker {
public:
    explicit Flicker(QRect rect)
    {
        thread_ = std::thread([this, rect] {
            testdesktop::Client own;
            testdesktop::Window square(own, rect, 0);
            for (std::uint32_t i = 1; running_; ++i) {
                square.fill(i * 0x030507u);
                std::this_thread::sleep_for(10ms);
            }
        });
    }
    ~Flicker()
    {
        running_ = false;
        thread_.join();
    }

private:
    std::atomic<bool> running_{true};
    std::thread thread_;
};

class RecorderDesktopTest : public ::testing::Test {
protected:
    // The 4-channel tone file plays into the interface's sink for the whole suite.
    static void SetUpTestSuite()
    {
        folder_ = new fixtures::TempDir;
        const auto tones = *folder_ / "tones.wav";
        std::vector<std::string> args;
        for (double hz : kChannelTones)
            args.insert(args.end(), {"-f", "lavfi", "-i", "sine=frequency=" + std::to_string(int(hz)) + ":sample_rate=44100"});
        args.insert(args.end(), {"-filter_complex", "[0][1][2][3]amerge=inputs=4", "-t", "120", "-c:a", "pcm_s16le",
                                 tones.string()});
        fixtures::runFfmpeg(args);
        const std::string file = tones.string();
        const char* argv[] = {"paplay", "--device=iface_in", "--channel-map=aux0,aux1,aux2,aux3", file.c_str(), nullptr};
        if (posix_spawnp(&player_, "paplay", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) player_ = 0;
    }

    static void TearDownTestSuite()
    {
        if (player_ > 0) {
            kill(player_, SIGTERM);
            waitpid(player_, nullptr, 0);
        }
        delete folder_;
        folder_ = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(testdesktop::haveDisplay()) << "needs the test desktop (DISPLAY)";
        ASSERT_GT(player_, 0) << "paplay did not start";
        display_ = platform::ScreenContent::fetch().displays.at(0);
        for (const auto& device : ondexa::AudioDeviceList::inputDevices())
            if (device.uid == "iface") device_ = device;
        ASSERT_EQ(device_.uid, "iface") << "the test desktop has no interface input";
    }

    struct Recording {
        Recorder::StopResult result;
        Movie movie;
        std::vector<std::string> trackNames;
        QSize size;
        double seconds = 0;  // from start() completing to stop() being called
        std::int64_t written = 0;
    };

    // Records `target` for `seconds` with the system sound and the chosen
    // interface channels, and reads the movie back.
    Recording record(const CaptureTarget& target, std::vector<int> channels, bool stereoPairs,
                     double seconds = kRecordSeconds)
    {
        Recording out;
        MicCapture mic(device_);
        mic.setChannels(std::move(channels), stereoPairs);
        const auto file = *folder_ / ("movie-" + std::to_string(++movies_) + ".mov");
        Recorder recorder(file, target, true, &mic, nullptr, 30);
        recorder.setShowsCursor(false);
        std::vector<std::string> streamErrors;
        recorder.setOnStreamError([&](const std::string& e) { streamErrors.push_back(e); });

        std::optional<std::optional<std::string>> started;
        recorder.start([&](std::optional<std::string> error) { started = std::move(error); });
        EXPECT_TRUE(runUntil([&] { return started.has_value(); }, 10s));
        EXPECT_FALSE(started && *started) << **started;
        const auto begin = std::chrono::steady_clock::now();
        runUntil([] { return false; }, std::chrono::milliseconds(int(seconds * 1000)));
        out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();

        bool stopped = false;
        recorder.stop([&](const Recorder::StopResult& result) {
            out.result = result;
            stopped = true;
        });
        EXPECT_TRUE(runUntil([&] { return stopped; }, 10s));
        EXPECT_TRUE(streamErrors.empty()) << streamErrors.front();
        out.trackNames = recorder.audioTrackNames();
        out.size = recorder.size();
        out.written = recorder.writtenFrames();
        if (out.result.movieStart) out.movie = readMovie(file);
        return out;
    }

    // What every recording here must be: the screen, the system sound and the
    // interface, in that order, named, and of one length.
    void expectTracks(const Recording& r, QSize size)
    {
        ASSERT_TRUE(r.result.movieStart) << r.result.error;
        EXPECT_EQ(r.size, size);
        EXPECT_EQ(r.trackNames, (std::vector<std::string>{"Rendszerhang", device_.name}));
        ASSERT_EQ(r.movie.streams.size(), 3u);
        const StreamInfo& video = r.movie.streams[0];
        const StreamInfo& system = r.movie.streams[1];
        const StreamInfo& interface = r.movie.streams[2];

        EXPECT_EQ(video.type, AVMEDIA_TYPE_VIDEO);
        EXPECT_EQ(video.codec, "h264");
        EXPECT_EQ(QSize(video.width, video.height), size);
        // x264 keeps the rate in kbit/s.
        EXPECT_EQ(Movie::x264BitRate(video), Recorder::videoBitRate(size, 30, 0.10) / 1000 * 1000);

        for (const StreamInfo* sound : {&system, &interface}) {
            EXPECT_EQ(sound->type, AVMEDIA_TYPE_AUDIO);
            EXPECT_EQ(sound->codec, "aac");
            EXPECT_EQ(sound->channels, 2);
            // The encoder's 256 kbit/s as the demuxer averages it over the
            // file: below it for simple tones, far above the 128 k default.
            EXPECT_GT(sound->bitRate, 180000);
            EXPECT_LT(sound->bitRate, 300000);
        }
        EXPECT_EQ(system.sampleRate, 48000);
        EXPECT_EQ(system.handlerName, "Rendszerhang");
        EXPECT_EQ(interface.handlerName, device_.name);

        // The movie lasts as long as the recording ran, every track alike.
        EXPECT_NEAR(video.duration(), r.seconds, 0.5);
        EXPECT_NEAR(system.duration(), video.duration(), 0.1);
        EXPECT_NEAR(interface.duration(), video.duration(), 0.1);
        EXPECT_NEAR(system.start, video.start, 0.1);
        EXPECT_NEAR(interface.start, video.start, 0.1);

        EXPECT_GT(toneAmplitude(system.left, system.sampleRate, kSystemTone), 0.05);
        EXPECT_GT(toneAmplitude(system.right, system.sampleRate, kSystemTone), 0.05);
    }

    // Which of the interface's tones are heard on each side of its track.
    void expectInterfaceTones(const Recording& r, std::vector<int> left, std::vector<int> right)
    {
        ASSERT_EQ(r.movie.streams.size(), 3u);
        const StreamInfo& interface = r.movie.streams[2];
        for (int channel = 0; channel < 4; ++channel) {
            const double hz = kChannelTones[channel];
            const bool inLeft = std::find(left.begin(), left.end(), channel) != left.end();
            const bool inRight = std::find(right.begin(), right.end(), channel) != right.end();
            const double l = toneAmplitude(interface.left, interface.sampleRate, hz);
            const double rr = toneAmplitude(interface.right, interface.sampleRate, hz);
            EXPECT_EQ(l > 0.04, inLeft) << "channel " << channel << " left: " << l;
            EXPECT_EQ(rr > 0.04, inRight) << "channel " << channel << " right: " << rr;
            if (!inLeft) {
                EXPECT_LT(l, 0.005) << "channel " << channel;
            }
            if (!inRight) {
                EXPECT_LT(rr, 0.005) << "channel " << channel;
            }
        }
        EXPECT_LT(toneAmplitude(interface.left, interface.sampleRate, kSystemTone), 0.005);
    }

    testdesktop::Client client_;
    platform::ScreenDisplay display_;
    ondexa::AudioInputDevice device_;

    static inline fixtures::TempDir* folder_ = nullptr;
    static inline pid_t player_ = 0;
    static inline int movies_ = 0;
};

constexpr std::uint32_t green = 0x00C000, red = 0xE00000, blue = 0x2040E0;

} // namespace

// The three recordings run in one test: they are the slow part of the suite.
TEST_F(RecorderDesktopTest, RecordsADisplayAnAreaAndAWindowWithBothSounds)
{
    {
        SCOPED_TRACE("display");
        testdesktop::Window marker(client_, QRect(100, 100, 200, 150), green);
        Flicker flicker(QRect(1500, 800, 40, 40));
        const Recording r = record(CaptureTarget::ofDisplay(display_), {1, 2}, false);
        expectTracks(r, QSize(1920, 1080));
        EXPECT_GT(r.written, 60);
        // Two mono channels, each on both sides at 1/√2.
        expectInterfaceTones(r, {1, 2}, {1, 2});
        ASSERT_FALSE(r.movie.streams.empty());
        EXPECT_TRUE(near(pixel(r.movie.streams[0], 200, 175), green));
    }
    {
        SCOPED_TRACE("area");
        // 641 × 361 points: even sides below, 640 × 360. The left half of the
        // area is red, the right half blue.
        testdesktop::Window left(client_, QRect(300, 200, 320, 400), red);
        testdesktop::Window right(client_, QRect(620, 200, 340, 400), blue);
        Flicker flicker(QRect(880, 500, 30, 30));
        const QRectF area(300, 200, 641, 361);
        const Recording r = record(CaptureTarget::ofArea(display_, area), {0, 1}, true);
        expectTracks(r, QSize(640, 360));
        EXPECT_GT(r.written, 60);
        // Channels 0 and 1 as one stereo pair.
        expectInterfaceTones(r, {0}, {1});
        ASSERT_FALSE(r.movie.streams.empty());
        EXPECT_TRUE(near(pixel(r.movie.streams[0], 100, 100), red));
        EXPECT_TRUE(near(pixel(r.movie.streams[0], 500, 100), blue));
    }
    {
        SCOPED_TRACE("window");
        // A window that never changes: one frame, repeated at the stop.
        testdesktop::Window window(client_, QRect(400, 300, 401, 301), blue);
        testdesktop::Window cover(client_, QRect(350, 250, 100, 100), red);  // partly in front of it
        platform::ScreenWindow target;
        for (const auto& w : platform::ScreenContent::fetch().windows)
            if (w.id == window.id()) target = w;
        ASSERT_EQ(target.id, window.id());
        const Recording r = record(CaptureTarget::ofWindow(target), {2, 3}, true);
        expectTracks(r, QSize(400, 300));
        EXPECT_EQ(r.written, 1);
        expectInterfaceTones(r, {2}, {3});
        ASSERT_FALSE(r.movie.streams.empty());
        EXPECT_TRUE(near(pixel(r.movie.streams[0], 20, 20), blue));  // the window's own picture, uncovered
    }
}

TEST_F(RecorderDesktopTest, AStopBeforeAnyFrameFailsAndLeavesNoMovie)
{
    // An unmapped window shows nothing, so the stream delivers no frame.
    testdesktop::Window hidden(client_, QRect(100, 100, 200, 200), green, false);
    platform::ScreenWindow target;
    target.id = hidden.id();
    target.frame = QRect(100, 100, 200, 200);
    const auto file = *folder_ / "nothing.mov";

    Recorder recorder(file, CaptureTarget::ofWindow(target), true, nullptr, nullptr, 30);
    std::optional<std::optional<std::string>> started;
    recorder.start([&](std::optional<std::string> error) { started = std::move(error); });
    ASSERT_TRUE(runUntil([&] { return started.has_value(); }, 10s));
    ASSERT_FALSE(*started) << **started;
    EXPECT_TRUE(std::filesystem::exists(file));
    runUntil([] { return false; }, 300ms);

    std::optional<Recorder::StopResult> result;
    recorder.stop([&](const Recorder::StopResult& r) { result = r; });
    ASSERT_TRUE(runUntil([&] { return result.has_value(); }, 10s));
    EXPECT_FALSE(result->movieStart);
    EXPECT_EQ(result->error, "Nem érkezett kép a felvétel alatt.");
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(RecorderDesktopTest, TheCameraIsTheSecondVideoTrackFromTheFirstFrameOn)
{
    // A 1280 × 720 camera showing red (YUYV 81, 90, 240).
    platform::CameraFormat format;
    format.pixelFormat = platform::CameraPixelFormat::yuyv;
    format.width = 1280;
    format.height = 720;
    std::vector<std::uint8_t> red;
    for (int i = 0; i < format.width * format.height / 2; ++i) red.insert(red.end(), {81, 90, 81, 240});  // Y0 U Y1 V
    const platform::CameraDeviceInfo device{"usb-fake-1", "Teszt kamera", "/dev/video-fake"};
    auto camera = std::make_unique<ondexa::CameraCapture>(
        device, std::make_unique<platform::CameraFakeSource>(device, format, std::vector<std::vector<std::uint8_t>>{red}));

    testdesktop::Window marker(client_, QRect(0, 0, 300, 200), green);
    Flicker flicker(QRect(700, 500, 40, 40));
    const auto file = *folder_ / "camera.mov";
    Recorder recorder(file, CaptureTarget::ofDisplay(display_), true, nullptr, std::move(camera), 30);
    std::optional<std::optional<std::string>> started;
    recorder.start([&](std::optional<std::string> error) { started = std::move(error); });
    ASSERT_TRUE(runUntil([&] { return started.has_value(); }, 10s));
    ASSERT_FALSE(*started) << **started;
    runUntil([] { return false; }, 1500ms);
    std::optional<Recorder::StopResult> result;
    recorder.stop([&](const Recorder::StopResult& r) { result = r; });
    ASSERT_TRUE(runUntil([&] { return result.has_value(); }, 10s));
    ASSERT_TRUE(result->movieStart) << result->error;
    EXPECT_EQ(recorder.audioTrackNames(), std::vector<std::string>{"Rendszerhang"});

    const Movie movie = readMovie(file);
    ASSERT_EQ(movie.streams.size(), 3u);
    const StreamInfo& screen = movie.streams[0];
    const StreamInfo& cameraTrack = movie.streams[1];
    EXPECT_EQ(QSize(screen.width, screen.height), QSize(1920, 1080));
    EXPECT_TRUE(near(pixel(screen, 150, 100), green));
    ASSERT_EQ(cameraTrack.type, AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(QSize(cameraTrack.width, cameraTrack.height), QSize(1280, 720));
    EXPECT_EQ(Movie::x264BitRate(cameraTrack), 3'317'000);  // 1280 × 720 × 30 × 0.12, in whole kbit/s
    EXPECT_TRUE(near(pixel(cameraTrack, 640, 360), 0xFE0000));
    // Camera frames from before the first screen frame are left out.
    EXPECT_GE(cameraTrack.start, screen.start);
    EXPECT_LT(cameraTrack.start, screen.start + 0.2);
    EXPECT_NEAR(cameraTrack.end, screen.end, 0.1);
    EXPECT_EQ(movie.streams[2].type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(movie.streams[2].handlerName, "Rendszerhang");
}
