// Whole recordings on the test desktop: the screen through the X server, the
// system sound (the desktop's 440 Hz sine) and two channels of the 4-channel
// "iface" input, fed with a distinct tone per channel. The movies are read
// back with libavformat and libavcodec (fixtures::readMovie).

#include "Ondexa/recording/AudioDevices.h"
#include "Ondexa/recording/MicCapture.h"
#include "Ondexa/recording/Recorder.h"
#include "Platform/audio/AudioServer.h"
#include "Platform/capture/CameraFakeSource.h"
#include "Platform/capture/ScreenContent.h"
#include "Platform/capture/TestDesktop.h"
#include "Platform/core/HostClock.h"
#include "recording/AppStateFakes.h"
#include "support/MediaFixtures.h"
#include "support/MovieFragments.h"
#include "support/ScopedEnv.h"
#include "recording/desktop/Tones.h"

#include <gtest/gtest.h>
#include <pulse/thread-mainloop.h>

#include <QTimer>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

extern char** environ;

using namespace std::chrono_literals;
using ondexa::CaptureTarget;
using ondexa::MicCapture;
using ondexa::Recorder;
using ondexa::testing::pumpUntil;
using tones::toneAmplitude;
using tones::toneAt;

namespace {

// The tone of each input channel of "iface", Hz (none near the system sound's 440).
constexpr double kChannelTones[4] = {300, 500, 700, 900};
constexpr double kSystemTone = 440;
constexpr double kRecordSeconds = 4.0;
// The tone of the outputs the tests add.
constexpr double kOtherTone = 660;

// --- Reading the movie back ------------------------------------------------------------

using Stream = fixtures::MovieStream;

// The average bit rate x264 was set up with, from the settings it writes
// into the first picture ("… bitrate=6220 …", kbit/s).
std::int64_t x264BitRate(const Stream& s)
{
    const auto at = s.firstPacket.find(" bitrate=");
    return at == std::string::npos ? -1 : std::atoll(s.firstPacket.c_str() + at + 9) * 1000;
}

// The first line a shell command prints.
std::string firstLine(const std::string& command)
{
    char line[512] = {};
    if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
        if (!fgets(line, sizeof line, pipe)) line[0] = 0;
        pclose(pipe);
    }
    return std::string(line, std::strcspn(line, "\n"));
}

// Waits until a new record stream on `source` gets sound at once (a new
// null sink renders its first 2 s in one block); false after 10 s.
bool soundFlows(const std::string& source)
{
    for (int i = 0; i < 20; ++i)
        if (firstLine("timeout 0.5 parec --latency-msec=10 -d " + source
                      + " --channels=1 --rate=8000 --format=s16le | head -c 64 | wc -c") == "64")
            return true;
    return false;
}

// Sound-server modules loaded for one test, unloaded last first when it ends.
class Modules {
public:
    ~Modules() { unloadAll(); }
    void unloadAll()
    {
        for (auto it = ids_.rbegin(); it != ids_.rend(); ++it) firstLine("pactl unload-module " + *it);
        ids_.clear();
    }
    // False when the server refused it.
    bool load(const std::string& arguments)
    {
        const std::string id = firstLine("pactl load-module " + arguments);
        if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) return false;
        ids_.push_back(id);
        return true;
    }

    // Another output, `sink`, playing a tone of `hz`; true once its monitor
    // gives sound at once. Without small steps nothing else listens to it,
    // and it renders its sound up to 2 s ahead, in one block.
    bool loadOutputWithTone(const std::string& sink, double hz, bool smallSteps = true)
    {
        // The loopback, as for the desktop's own sinks: rendering in small
        // steps, so a new stream on its monitor gets sound at once.
        return load("module-null-sink sink_name=" + sink)
               && load("module-sine sink=" + sink + " frequency=" + std::to_string(int(hz)))
               && (!smallSteps
                   || load("module-loopback source=" + sink + ".monitor sink=drain latency_msec=20 "
                           "source_dont_move=true sink_dont_move=true"))
               && soundFlows(sink + ".monitor");
    }

private:
    std::vector<std::string> ids_;
};

// The module of the desktop's interface input, "iface", to unload and load
// again; whatever a test does, the desktop keeps its interface.
class InterfaceModule {
public:
    InterfaceModule()
    {
        // "<id>\tmodule-remap-source\t<arguments>"
        const std::string listed = firstLine("pactl list short modules | grep 'source_name=iface '");
        const auto tab = listed.find('\t'), secondTab = listed.find('\t', tab + 1);
        if (secondTab == std::string::npos) return;
        id_ = listed.substr(0, tab);
        load_ = "pactl load-module " + listed.substr(tab + 1, secondTab - tab - 1) + " " + listed.substr(secondTab + 1);
    }
    ~InterfaceModule()
    {
        if (!load_.empty() && firstLine("pactl list short sources | grep -c '\tiface\t'") == "0") firstLine(load_);
    }
    bool found() const { return !id_.empty(); }
    void unload() const { firstLine("pactl unload-module " + id_); }
    void load() const { firstLine(load_); }

private:
    std::string id_;
    std::string load_;
};

// Whether the first picture of `video` shows about `rgb` at (x, y).
bool shows(const Stream& video, int x, int y, std::uint32_t rgb)
{
    const std::size_t at = (std::size_t(y) * std::size_t(video.width) + std::size_t(x)) * 3;
    for (std::size_t c = 0; c < 3; ++c)
        if (std::abs(int(video.firstPicture.at(at + c)) - int((rgb >> (16 - 8 * c)) & 0xFF)) > 24) return false;
    return true;
}

// --- The test desktop ------------------------------------------------------------------

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
        av_log_set_level(AV_LOG_ERROR);
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

    // Starts `recorder`, calls `during` once it runs, stops it after `length`;
    // `seconds` gets how long it really ran.
    // `beforeStop` runs after `length`, just before stop() is called.
    static Recorder::StopResult run(Recorder& recorder, std::chrono::milliseconds length,
                                    const std::function<void()>& during = {}, double* seconds = nullptr,
                                    const std::function<void()>& beforeStop = {})
    {
        std::optional<std::optional<std::string>> started;
        recorder.start([&](std::optional<std::string> error) { started = std::move(error); });
        EXPECT_TRUE(pumpUntil([&] { return started.has_value(); }, 10s));
        EXPECT_FALSE(started && *started) << **started;
        const auto begin = std::chrono::steady_clock::now();
        if (during) during();
        pumpUntil([] { return false; }, length);
        if (beforeStop) beforeStop();
        if (seconds) *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        std::optional<Recorder::StopResult> result;
        recorder.stop([&](const Recorder::StopResult& r) { result = r; });
        EXPECT_TRUE(pumpUntil([&] { return result.has_value(); }, 10s));
        return result.value_or(Recorder::StopResult{{}, "no stop", {}});
    }

    struct Recording {
        Recorder::StopResult result;
        std::vector<Stream> movie;
        std::vector<std::string> trackNames;
        QSize size;
        double seconds = 0;  // from start() completing to stop() being called
        std::int64_t written = 0;
        std::int64_t dropped = 0;
    };

    // Records `target` with the system sound and the chosen interface
    // channels, and reads the movie back.
    Recording record(const CaptureTarget& target, std::vector<int> channels, bool stereoPairs)
    {
        MicCapture mic(device_);
        mic.setChannels(std::move(channels), stereoPairs);
        const auto file = *folder_ / ("movie-" + std::to_string(++movies_) + ".mov");
        Recorder recorder(file, target, true, &mic, nullptr, 30);
        recorder.setShowsCursor(false);
        std::vector<std::string> streamErrors;
        recorder.setOnStreamError([&](const std::string& e, bool) { streamErrors.push_back(e); });
        Recording out;
        out.result = run(recorder, std::chrono::milliseconds(int(kRecordSeconds * 1000)), {}, &out.seconds);
        EXPECT_TRUE(streamErrors.empty()) << streamErrors.front();
        out.trackNames = recorder.audioTrackNames();
        out.size = recorder.size();
        out.written = recorder.writtenFrames();
        out.dropped = recorder.droppedFrames();
        if (out.result.movieStart) out.movie = fixtures::readMovie(file);
        return out;
    }

    // What every recording here must be: the screen, the system sound and the
    // interface, in that order, named, and of one length; `left` and `right`
    // are the interface channels heard on each side of its track.
    void expectTracks(const Recording& r, QSize size, std::vector<int> left, std::vector<int> right)
    {
        ASSERT_TRUE(r.result.movieStart) << r.result.error;
        EXPECT_EQ(r.size, size);
        EXPECT_EQ(r.trackNames, (std::vector<std::string>{"Rendszerhang", device_.name}));
        ASSERT_EQ(r.movie.size(), 3u);
        const Stream& video = r.movie[0];
        const Stream& system = r.movie[1];
        const Stream& interface = r.movie[2];

        EXPECT_TRUE(video.video);
        EXPECT_EQ(video.codec, "h264");
        EXPECT_EQ(QSize(video.width, video.height), size);
        // x264 keeps the rate in kbit/s.
        EXPECT_EQ(x264BitRate(video), Recorder::videoBitRate(size, 30, 0.10) / 1000 * 1000);
        for (const Stream* sound : {&system, &interface}) {
            EXPECT_FALSE(sound->video);
            EXPECT_EQ(sound->codec, "aac");
            EXPECT_EQ(sound->channels, 2);
            // The encoder's 256 kbit/s as the demuxer averages it over the
            // file: below it for simple tones, far above the 128 k default.
            EXPECT_GT(sound->bitRate, 180000);
            EXPECT_LT(sound->bitRate, 300000);
            // The movie lasts as long as the recording ran, every track alike.
            EXPECT_NEAR(sound->duration(), video.duration(), 0.1);
            EXPECT_NEAR(sound->start, video.start, 0.1);
        }
        EXPECT_EQ(system.sampleRate, 48000);
        EXPECT_EQ(system.handlerName, "Rendszerhang");
        EXPECT_EQ(interface.handlerName, device_.name);
        EXPECT_NEAR(video.duration(), r.seconds, 0.5);

        EXPECT_GT(toneAmplitude(system.left, system.sampleRate, kSystemTone), 0.05);
        EXPECT_GT(toneAmplitude(system.right, system.sampleRate, kSystemTone), 0.05);
        EXPECT_LT(toneAmplitude(interface.left, interface.sampleRate, kSystemTone), 0.005);
        for (int channel = 0; channel < 4; ++channel) {
            for (const auto& [side, heard] : {std::pair{&interface.left, &left}, {&interface.right, &right}}) {
                const double level = toneAmplitude(*side, interface.sampleRate, kChannelTones[channel]);
                if (std::find(heard->begin(), heard->end(), channel) != heard->end())
                    EXPECT_GT(level, 0.04) << "channel " << channel << (heard == &left ? " left" : " right");
                else
                    EXPECT_LT(level, 0.005) << "channel " << channel << (heard == &left ? " left" : " right");
            }
        }
    }

    // A recorder of the area under the tests' square, at 30 frames a second
    // without the pointer.
    std::unique_ptr<Recorder> squareRecorder(const std::filesystem::path& file, bool systemAudio, MicCapture* mic)
    {
        auto recorder = std::make_unique<Recorder>(file, CaptureTarget::ofArea(display_, QRectF(100, 100, 160, 120)),
                                                   systemAudio, mic, nullptr, 30);
        recorder->setShowsCursor(false);
        return recorder;
    }

    testdesktop::Client client_;
    platform::ScreenDisplay display_;
    ondexa::AudioInputDevice device_;

    static inline fixtures::TempDir* folder_ = nullptr;
    static inline pid_t player_ = 0;
    static inline int movies_ = 0;
};

constexpr std::uint32_t green = 0x00C000, red = 0xE00000, blue = 0x2040E0;

// Runs record_until_killed on `area` into `file`; once it records, calls
// `during` with the seconds since then every 50 ms, and kills it with
// SIGKILL after `seconds`. False when it did not start.
bool recordAndKill(const std::filesystem::path& file, QRect area, double seconds,
                   const std::function<void(double elapsed)>& during, bool parallelFrames = false)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    const std::vector<std::string> args = {RECORD_UNTIL_KILLED,         file.string(),
                                           std::to_string(area.x()),    std::to_string(area.y()),
                                           std::to_string(area.width()), std::to_string(area.height())};
    std::vector<std::string> all = args;
    if (parallelFrames) all.push_back("parallel");
    std::vector<char*> argv;
    for (const auto& a : all) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return false;
    }
    std::string said;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (said.find("recording\n") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buffer[64];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        said.append(buffer, std::size_t(n));
    }
    close(out[0]);
    const bool started = said.find("recording\n") != std::string::npos;
    const auto begin = std::chrono::steady_clock::now();
    for (double elapsed = 0; started && elapsed < seconds;
         elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count()) {
        if (during) during(elapsed);
        std::this_thread::sleep_for(50ms);
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    return started && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

} // namespace

// The three recordings run in one test: they are the slow part of the suite.
TEST_F(RecorderDesktopTest, RecordsADisplayAnAreaAndAWindowWithBothSounds)
{
    testdesktop::BareDesktop bare;  // windows painted at chosen places
    {
        SCOPED_TRACE("display");
        testdesktop::Window marker(client_, QRect(100, 100, 200, 150), green);
        Flicker flicker(QRect(1500, 800, 40, 40));
        const Recording r = record(CaptureTarget::ofDisplay(display_), {1, 2}, false);
        // Two mono channels, each on both sides at 1/√2.
        expectTracks(r, QSize(1920, 1080), {1, 2}, {1, 2});
        // A changing screen: a frame at every deadline, written or, on a busy
        // machine, counted as dropped.
        EXPECT_GT(r.written + r.dropped, 60);
        ASSERT_FALSE(r.movie.empty());
        EXPECT_TRUE(shows(r.movie[0], 200, 175, green));
    }
    {
        SCOPED_TRACE("area");
        // 641 × 361 points: even sides below, 640 × 360. The left half of the
        // area is red, the right half blue.
        testdesktop::Window left(client_, QRect(300, 200, 320, 400), red);
        testdesktop::Window right(client_, QRect(620, 200, 340, 400), blue);
        Flicker flicker(QRect(880, 500, 30, 30));
        const Recording r = record(CaptureTarget::ofArea(display_, QRectF(300, 200, 641, 361)), {0, 1}, true);
        expectTracks(r, QSize(640, 360), {0}, {1});  // channels 0 and 1 as one stereo pair
        // A changing screen: a frame at every deadline, written or, on a busy
        // machine, counted as dropped.
        EXPECT_GT(r.written + r.dropped, 60);
        ASSERT_FALSE(r.movie.empty());
        EXPECT_TRUE(shows(r.movie[0], 100, 100, red));
        EXPECT_TRUE(shows(r.movie[0], 500, 100, blue));
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
        expectTracks(r, QSize(400, 300), {2}, {3});
        EXPECT_EQ(r.written, 1);
        ASSERT_FALSE(r.movie.empty());
        EXPECT_TRUE(shows(r.movie[0], 20, 20, blue));  // the window's own picture, uncovered
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
    const auto result = run(recorder, 300ms, [&] { EXPECT_TRUE(std::filesystem::exists(file)); });
    EXPECT_FALSE(result.movieStart);
    EXPECT_EQ(result.error, "Nem érkezett kép a felvétel alatt.");
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(RecorderDesktopTest, TheCameraIsTheSecondVideoTrackFromTheFirstFrameOn)
{
    testdesktop::BareDesktop bare;  // windows painted at chosen places
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
    // The capture queue falls a second behind just before the stop, as under
    // load: the movie still ends when stop() was called, not when the queue
    // got there.
    std::int64_t stopHost = 0;
    const auto result = run(recorder, 1500ms, {}, nullptr, [&] {
        recorder.holdQueueForTesting(1000ms);
        ondexa::testing::pumpFor(400ms);
        stopHost = platform::HostClock::nowNanoseconds();
    });
    ASSERT_TRUE(result.movieStart) << result.error;
    EXPECT_EQ(recorder.audioTrackNames(), std::vector<std::string>{"Rendszerhang"});

    const auto movie = fixtures::readMovie(file);
    ASSERT_EQ(movie.size(), 3u);
    const Stream& screen = movie[0];
    const Stream& cameraTrack = movie[1];
    EXPECT_EQ(QSize(screen.width, screen.height), QSize(1920, 1080));
    EXPECT_TRUE(shows(screen, 150, 100, green));
    ASSERT_TRUE(cameraTrack.video);
    EXPECT_EQ(QSize(cameraTrack.width, cameraTrack.height), QSize(1280, 720));
    EXPECT_EQ(x264BitRate(cameraTrack), 3'317'000);  // 1280 × 720 × 30 × 0.12, in whole kbit/s
    EXPECT_TRUE(shows(cameraTrack, 640, 360, 0xFE0000));
    // Camera frames from before the first screen frame are left out; the
    // camera's first and last frames may come a little late on a busy machine.
    EXPECT_GE(cameraTrack.start, screen.start);
    EXPECT_LT(cameraTrack.start, screen.start + 0.6);
    // Both pictures last until the stop, not until the late queue reached it.
    const auto ends = fixtures::fragmentedTrackEnds(file);
    ASSERT_EQ(ends.size(), 3u);
    const double stopped = (platform::MediaTime(stopHost, 1'000'000'000) - *result.movieStart).seconds();
    EXPECT_NEAR(ends[0], stopped, 2.0 / 30);
    EXPECT_NEAR(ends[1], ends[0], 2.0 / 30);
    EXPECT_NEAR(ends[2], ends[0], 0.05);
    EXPECT_FALSE(movie[2].video);
    EXPECT_EQ(movie[2].handlerName, "Rendszerhang");
}

// Under load our sound thread falls behind: here it is held for the last half
// second before the stop, so that sound is still with the sound server when
// stop() is called. Both sound tracks keep it up to the end of the movie.
TEST_F(RecorderDesktopTest, SoundStillOnItsWayAtTheStopIsKept)
{
    testdesktop::Window square(client_, QRect(100, 100, 160, 120), green);
    Flicker flicker(QRect(120, 120, 40, 40));
    MicCapture mic(device_);
    mic.setChannels({0}, false);
    const auto file = *folder_ / "late-sound.mov";
    Recorder recorder(file, CaptureTarget::ofArea(display_, QRectF(100, 100, 160, 120)), true, &mic, nullptr, 30);
    recorder.setShowsCursor(false);
    pa_threaded_mainloop* loop = platform::AudioServer::shared()->mainloop();
    const auto result = run(recorder, 1500ms, {}, nullptr, [&] {
        pa_threaded_mainloop_lock(loop);
        std::this_thread::sleep_for(500ms);
        // Let go once stop() has been called (the same thread must unlock).
        QTimer::singleShot(0, [loop] { pa_threaded_mainloop_unlock(loop); });
    });
    ASSERT_TRUE(result.movieStart) << result.error;

    const auto movie = fixtures::readMovie(file);
    ASSERT_EQ(movie.size(), 3u);
    const double end = movie[0].end;
    for (std::size_t track : {1u, 2u}) {
        SCOPED_TRACE(track == 1 ? "system sound" : "interface");
        EXPECT_NEAR(movie[track].end, end, 0.05);
        // The steady tone goes on to the end (less the encoder's last frame).
        const double before = movie[track].rms(0.2, 0.6);
        EXPECT_GT(before, 0.02);
        EXPECT_GT(movie[track].rms(end - 0.45, end - 0.05), 0.9 * before);
    }
}

// A recording killed after 9 s whose screen stands still, or changes once a
// second: the picture reaches to within one fragment (2 s) of the sound, with
// about one frame a second, and every fragment begins with a key frame. So
// too when its frames are encoded in parallel, as a large picture's are,
// where the encoder holds a few back until later ones come.
TEST_F(RecorderDesktopTest, AKilledRecordingOfAQuietScreenKeepsItsPicture)
{
    struct Case {
        const char* name;
        bool changes;
        bool parallel = false;
    };
    const QRect area(200, 200, 320, 240);
    for (const Case& c : {Case{"still", false}, Case{"changing once a second", true},
                          Case{"still, frames in parallel", false, true}}) {
        SCOPED_TRACE(c.name);
        testdesktop::Window square(client_, area, green);
        client_.sync();
        const auto file = *folder_ / (std::string("killed-") + (c.changes ? "changing" : "still")
                                      + (c.parallel ? "-parallel" : "") + ".mov");
        int changes = 0;
        ASSERT_TRUE(recordAndKill(file, area, 9.0, [&](double elapsed) {
            if (!c.changes || elapsed < changes + 1) return;
            ++changes;
            square.fill(changes % 2 ? blue : red);
            client_.sync();
        }, c.parallel));

        std::vector<fixtures::ProbedPacket> video;
        double soundEnd = 0;
        for (const auto& p : fixtures::probePackets(file)) {
            if (p.stream == 0) video.push_back(p);
            else soundEnd = std::max(soundEnd, p.pts + p.duration);
        }
        EXPECT_GT(soundEnd, 5.0);
        ASSERT_FALSE(video.empty());
        EXPECT_GE(video.back().pts, soundEnd - 2.0);
        EXPECT_EQ(video.front().pts, 0.0);
        // A repeat 1 s after the last frame; a change that lands a little
        // later may come first (the repeat is checked every 0.1 s).
        for (std::size_t i = 1; i < video.size(); ++i)
            EXPECT_LE(video[i].pts - video[i - 1].pts, 1.5) << "no frame for over a second after " << video[i - 1].pts;
        const auto moofs = fixtures::topLevelBoxes(file, "moof");
        ASSERT_GE(moofs.size(), 2u);
        for (std::size_t f = 0; f < moofs.size(); ++f) {
            const std::int64_t end = f + 1 < moofs.size() ? moofs[f + 1] : std::numeric_limits<std::int64_t>::max();
            const auto first = std::find_if(video.begin(), video.end(),
                                            [&](const auto& p) { return p.pos > moofs[f] && p.pos < end; });
            if (first != video.end()) {
                EXPECT_TRUE(first->key) << "fragment " << f << " begins at " << first->pts;
            }
        }
    }
}

// While another client holds the X server, the screen stream can't grab: the
// deadlines it misses are frames missing from the movie, counted as dropped.
TEST_F(RecorderDesktopTest, GrabDeadlinesMissedWhileTheServerIsHeldCountAsDropped)
{
    testdesktop::Window square(client_, QRect(100, 100, 160, 120), green);
    client_.sync();
    const auto file = *folder_ / "held.mov";
    Recorder recorder(file, CaptureTarget::ofArea(display_, QRectF(100, 100, 160, 120)), false, nullptr, nullptr, 30);
    recorder.setShowsCursor(false);
    const auto result = run(recorder, 1000ms, [&] {
        ondexa::testing::pumpFor(300ms);
        xcb_grab_server(client_.get());
        client_.sync();
        std::this_thread::sleep_for(1000ms);  // not pumping: nothing here waits for the server
        xcb_ungrab_server(client_.get());
        client_.sync();
    });
    ASSERT_TRUE(result.movieStart) << result.error;
    EXPECT_EQ(recorder.writtenFrames(), 1);  // a still picture
    EXPECT_GE(recorder.droppedFrames(), 20);  // about 30 deadlines in the second held
}

namespace {

// 10 dB below a level, in amplitude.
const double kTenDecibelsBelow = std::pow(10.0, -10.0 / 20);

// The weakest 50 ms of `hz` in `sound` from `from` to 0.1 s before its end,
// against the tone's steady level over the last 1.5 s.
struct Weakest {
    double level = 0, amplitude = 0, at = 0;
};
Weakest weakestTone(const Stream& sound, double hz, double from)
{
    Weakest weakest;
    int windows = 0;
    for (double t = sound.end - 1.6; t + 0.05 <= sound.end - 0.1; t += 0.05, ++windows)
        weakest.level += toneAt(sound, hz, t, t + 0.05);
    weakest.level /= std::max(windows, 1);
    weakest.amplitude = weakest.level;
    for (double t = from; t + 0.05 <= sound.end - 0.1; t += 0.01) {
        if (const double amplitude = toneAt(sound, hz, t, t + 0.05); amplitude < weakest.amplitude)
            weakest.amplitude = amplitude, weakest.at = t;
    }
    return weakest;
}

} // namespace

// The user switches the output 3 s into a recording, to another sink that
// plays a tone of its own: the system sound follows, so the new tone is on
// "Rendszerhang" after the switch and only the old one before it, and the
// track still lasts as long as the picture.
TEST_F(RecorderDesktopTest, TheSystemSoundFollowsTheUserSwitchingOutput)
{
    Modules modules;
    ASSERT_TRUE(modules.loadOutputWithTone("desk2", kOtherTone));
    // Before the modules go, so that the server does not pick a default itself.
    struct RestoreDefault {
        ~RestoreDefault() { firstLine("pactl set-default-sink desk"); }
    } restore;

    testdesktop::Window square(client_, QRect(100, 100, 160, 120), green);
    Flicker flicker(QRect(120, 120, 40, 40));
    const auto file = *folder_ / "switched-output.mov";
    auto recorder = squareRecorder(file, true, nullptr);
    std::int64_t switchedAt = 0;
    // Five seconds after the switch: a loaded machine may take a while to move over.
    const auto result = run(*recorder, 8000ms, [&] {
        QTimer::singleShot(3000, [&] {
            firstLine("pactl set-default-sink desk2");
            switchedAt = platform::HostClock::nowNanoseconds();
        });
    });
    ASSERT_TRUE(result.movieStart) << result.error;
    ASSERT_NE(switchedAt, 0);
    EXPECT_EQ(result.notice, "");

    const auto movie = fixtures::readMovie(file);
    ASSERT_EQ(movie.size(), 2u);
    const Stream& system = movie[1];
    const double at = (platform::MediaTime(switchedAt, 1'000'000'000) - *result.movieStart).seconds();
    EXPECT_NEAR(at, 3.0, 1.0);
    EXPECT_GT(toneAt(system, kSystemTone, 0.3, at - 0.3), 0.05);
    EXPECT_LT(toneAt(system, kOtherTone, 0.3, at - 0.3), 0.005);
    // (The desktop's own sine may follow the switch too, as programs do.)
    // By the last two seconds the stream has moved over, however loaded the
    // machine; without the switch the new tone is not there at all.
    EXPECT_GT(toneAt(system, kOtherTone, system.end - 2.0, system.end - 0.1), 0.05);
    EXPECT_NEAR(system.end, movie[0].end, 0.1);
    EXPECT_NEAR(system.start, movie[0].start, 0.1);
    // The new output's monitor opens before the old one closes: its tone is
    // there within 100 ms of the switch, and from then on no 50 ms of it is
    // more than 10 dB below its level (no hole, no overlap cut into it).
    const Weakest weakest = weakestTone(system, kOtherTone, at + 0.1);
    EXPECT_GT(weakest.amplitude, weakest.level * kTenDecibelsBelow) << weakest.at - at << " s after the switch";
}

// The user switches to an output that nothing else listens to, which renders
// its sound far ahead: its monitor has sound only when the output renders its
// next block, and the server's latency for it settles over the first second
// or so, moving the stamps by hundreds of ms while the sound comes on
// steadily. The track goes on without a break: no hole and no overlap once
// the new output's tone is there.
TEST_F(RecorderDesktopTest, AnOutputThatRendersFarAheadJoinsTheSystemSoundWithoutBreaks)
{
    Modules modules;
    ASSERT_TRUE(modules.loadOutputWithTone("ahead", kOtherTone, false));
    struct RestoreDefault {
        ~RestoreDefault() { firstLine("pactl set-default-sink desk"); }
    } restore;

    testdesktop::Window square(client_, QRect(100, 100, 160, 120), green);
    Flicker flicker(QRect(120, 120, 40, 40));
    const auto file = *folder_ / "output-ahead.mov";
    auto recorder = squareRecorder(file, true, nullptr);
    std::int64_t switchedAt = 0;
    const auto result = run(*recorder, 9000ms, [&] {
        QTimer::singleShot(3000, [&] {
            firstLine("pactl set-default-sink ahead");
            switchedAt = platform::HostClock::nowNanoseconds();
        });
    });
    ASSERT_TRUE(result.movieStart) << result.error;
    ASSERT_NE(switchedAt, 0);
    EXPECT_EQ(result.notice, "");

    const auto movie = fixtures::readMovie(file);
    ASSERT_EQ(movie.size(), 2u);
    const Stream& system = movie[1];
    const double at = (platform::MediaTime(switchedAt, 1'000'000'000) - *result.movieStart).seconds();
    EXPECT_GT(toneAt(system, kSystemTone, 0.3, at - 0.3), 0.05);
    // The output renders at most 2 s ahead; a loaded machine adds some.
    const double level = weakestTone(system, kOtherTone, at).level;
    double arrives = system.end;
    for (double t = at; t + 0.05 <= system.end; t += 0.01) {
        if (toneAt(system, kOtherTone, t, t + 0.05) >= level * kTenDecibelsBelow) {
            arrives = t;
            break;
        }
    }
    EXPECT_LT(arrives - at, 3.5);
    const Weakest after = weakestTone(system, kOtherTone, arrives + 0.05);
    EXPECT_GT(level, 0.05);
    EXPECT_GT(after.amplitude, after.level * kTenDecibelsBelow) << after.at - arrives << " s after the tone came";
    EXPECT_NEAR(system.end, movie[0].end, 0.1);
}

// The interface's input goes away 1.5 s into a recording and comes back a
// second later (its module unloaded and loaded again, as a resetting USB
// interface or a restarting sound server does): the capture opens it again
// in place, so its tone is on the track after the return, and the time
// away is silence at its true place.
TEST_F(RecorderDesktopTest, AnInterfaceThatDropsOutComesBackInPlace)
{
    const InterfaceModule module;
    ASSERT_TRUE(module.found()) << "the interface's module is not listed";

    testdesktop::Window square(client_, QRect(100, 100, 160, 120), green);
    Flicker flicker(QRect(120, 120, 40, 40));
    MicCapture mic(device_);
    mic.setChannels({0}, false);
    const auto file = *folder_ / "interface-back.mov";
    auto recorder = squareRecorder(file, false, &mic);
    std::int64_t goneAt = 0, loadingAt = 0, backAt = 0;
    const auto result = run(*recorder, 5000ms, [&] {
        QTimer::singleShot(1500, [&] {
            module.unload();
            goneAt = platform::HostClock::nowNanoseconds();
        });
        QTimer::singleShot(2500, [&] {
            loadingAt = platform::HostClock::nowNanoseconds();
            module.load();
            backAt = platform::HostClock::nowNanoseconds();
        });
    });
    ASSERT_TRUE(result.movieStart) << result.error;
    ASSERT_NE(backAt, 0);
    EXPECT_FALSE(mic.hasEnded());
    EXPECT_EQ(result.notice, "");  // nothing is missing from the end

    const auto movie = fixtures::readMovie(file);
    ASSERT_EQ(movie.size(), 2u);
    const Stream& interface = movie[1];
    const auto movieTime = [&](std::int64_t host) {
        return (platform::MediaTime(host, 1'000'000'000) - *result.movieStart).seconds();
    };
    const double gone = movieTime(goneAt), loading = movieTime(loadingAt), back = movieTime(backAt);
    const double tone = kChannelTones[0];
    EXPECT_GT(toneAt(interface, tone, 0.3, gone - 0.2), 0.04);
    EXPECT_LT(toneAt(interface, tone, gone + 0.2, loading), 0.005);
    EXPECT_GT(toneAt(interface, tone, back + 0.8, interface.end - 0.3), 0.04);
    // In place: the sound after the gap is no earlier than its source was
    // back (the time line restarted at the buffers' own time, not where the
    // line had stopped), within the 40 ms the stamps may be off.
    double onset = -1;
    for (double t = gone + 0.2; t < interface.end && onset < 0; t += 0.01)
        if (interface.rms(t, t + 0.01) > 0.02) onset = t;
    EXPECT_GE(onset, loading - 0.04);
    EXPECT_LT(onset, back + 1.0);
    EXPECT_NEAR(interface.end, movie[0].end, 0.1);
    EXPECT_NEAR(interface.start, movie[0].start, 0.1);
}

// The interface's input goes away 1.5 s into a recording and does not come
// back: the saved recording says from which second the interface's track
// is silent, in the words used for the system sound.
TEST_F(RecorderDesktopTest, AnInterfaceGoneForGoodIsToldAfterTheStop)
{
    const InterfaceModule module;
    ASSERT_TRUE(module.found()) << "the interface's module is not listed";

    testdesktop::Window square(client_, QRect(100, 100, 160, 120), green);
    Flicker flicker(QRect(120, 120, 40, 40));
    MicCapture mic(device_);
    mic.setChannels({0}, false);
    const auto file = *folder_ / "interface-gone.mov";
    auto recorder = squareRecorder(file, false, &mic);
    std::int64_t goneAt = 0;
    const auto result = run(*recorder, 3500ms, [&] {
        QTimer::singleShot(1500, [&] {
            goneAt = platform::HostClock::nowNanoseconds();
            module.unload();
        });
    });
    ASSERT_TRUE(result.movieStart) << result.error;
    ASSERT_NE(goneAt, 0);
    EXPECT_TRUE(mic.hasEnded());

    const double gone = (platform::MediaTime(goneAt, 1'000'000'000) - *result.movieStart).seconds();
    const std::string before = "A felvétel elkészült, de a hangkártya a ", after = ". másodpercétől hiányzik belőle.";
    ASSERT_EQ(result.notice.rfind(before, 0), 0u) << result.notice;
    ASSERT_GT(result.notice.size(), before.size() + after.size());
    EXPECT_EQ(result.notice.substr(result.notice.size() - after.size()), after);
    // From the end of its last sound: a buffer or so before the unload.
    const int second = std::atoi(result.notice.c_str() + before.size());
    EXPECT_GE(second, int(gone - 0.5) + 1);
    EXPECT_LE(second, int(gone + 0.5) + 1);
}

// The output the system sound is recorded from goes away, and no other
// output takes its place: the rest of "Rendszerhang" is silence, and the
// saved recording says from which second its system sound is missing.
TEST_F(RecorderDesktopTest, ASystemSoundLostForGoodIsToldAfterTheStop)
{
    Modules modules;
    ASSERT_TRUE(modules.loadOutputWithTone("desk3", kOtherTone));

    testdesktop::Window square(client_, QRect(100, 100, 160, 120), green);
    Flicker flicker(QRect(120, 120, 40, 40));
    const auto file = *folder_ / "lost-output.mov";
    auto recorder = squareRecorder(file, true, nullptr);
    // The desktop's own output stays: here the server is said to have none left.
    std::mutex mutex;
    std::string output = "desk3.monitor";  // guarded by mutex
    recorder->lookUpSystemSoundForTesting([&] {
        std::lock_guard guard(mutex);
        return output;
    });
    std::int64_t lostAt = 0;
    const auto result = run(*recorder, 3500ms, [&] {
        QTimer::singleShot(1500, [&] {
            {
                std::lock_guard guard(mutex);
                output.clear();
            }
            lostAt = platform::HostClock::nowNanoseconds();
            modules.unloadAll();
        });
    });
    ASSERT_TRUE(result.movieStart) << result.error;
    ASSERT_NE(lostAt, 0);

    const double lost = (platform::MediaTime(lostAt, 1'000'000'000) - *result.movieStart).seconds();
    const std::string before = "A felvétel elkészült, de a rendszerhang a ", after = ". másodpercétől hiányzik belőle.";
    ASSERT_EQ(result.notice.rfind(before, 0), 0u) << result.notice;
    ASSERT_GT(result.notice.size(), before.size() + after.size());
    EXPECT_EQ(result.notice.substr(result.notice.size() - after.size()), after);
    const int second = std::atoi(result.notice.c_str() + before.size());
    EXPECT_GE(second, int(lost) + 1);
    EXPECT_LE(second, int(lost + 0.5) + 1);  // found lost at most half a second after

    const auto movie = fixtures::readMovie(file);
    ASSERT_EQ(movie.size(), 2u);
    const Stream& system = movie[1];
    // The output's tone is there before the loss (a loaded machine may lose
    // some of it, as it plays) and nothing after.
    EXPECT_GT(toneAt(system, kOtherTone, 0.3, lost - 0.2), 0.02);
    EXPECT_LT(system.rms(lost + 0.2, system.end - 0.1), 0.001);
    EXPECT_NEAR(system.end, movie[0].end, 0.1);
}

// The disk fills up 3 s into a recording, after its first fragment: the
// writing fails, and the stop keeps the movie up to its last whole fragment
// and says so, in place of failing.
TEST_F(RecorderDesktopTest, AFullDiskKeepsTheMovieUpToItsLastWholeFragment)
{
    // A small disk of its own: a tmpfs, which only root may mount.
    const fixtures::TempDir mountPoint;
    if (::mount("tmpfs", mountPoint.path().c_str(), "tmpfs", 0, "size=16m") != 0)
        GTEST_SKIP() << "no tmpfs to fill here (" << std::strerror(errno) << ")";
    struct Unmount {
        std::filesystem::path at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{mountPoint.path()};

    testdesktop::BareDesktop bare;  // the square in front, flickering
    testdesktop::Window square(client_, QRect(100, 100, 160, 120), green);
    Flicker flicker(QRect(120, 120, 40, 40));
    const auto file = mountPoint / "full.mov";
    auto recorder = squareRecorder(file, true, nullptr);
    std::vector<std::string> streamErrors;
    recorder->setOnStreamError([&](const std::string& e, bool) { streamErrors.push_back(e); });
    const auto result = run(*recorder, 3000ms, {}, nullptr, [&] {
        // Whatever room is left goes to another file.
        std::FILE* filler = std::fopen((mountPoint / "filler").c_str(), "wb");
        ASSERT_NE(filler, nullptr);
        const std::vector<char> block(64 * 1024, 'x');
        while (std::fwrite(block.data(), 1, block.size(), filler) == block.size()) {}
        std::fclose(filler);
        // The next fragment, due at 4 s, finds no room.
        EXPECT_TRUE(pumpUntil([&] { return !streamErrors.empty(); }, 15s));
    });
    ASSERT_EQ(streamErrors.size(), 1u);
    EXPECT_NE(streamErrors[0].find("No space left on device"), std::string::npos) << streamErrors[0];
    ASSERT_TRUE(result.movieStart) << result.error;
    EXPECT_EQ(result.error, "");

    const std::string before = "A felvétel a ", after = ". másodpercéig megmaradt.";
    ASSERT_EQ(result.notice.rfind(before, 0), 0u) << result.notice;
    EXPECT_EQ(result.notice.substr(result.notice.size() - after.size()), after) << result.notice;
    const int second = std::atoi(result.notice.c_str() + before.size());
    // Fragments are cut every 2 s: the first whole by 3 s, the one after it
    // may have gone out while the filler was written.
    EXPECT_GE(second, 2);
    EXPECT_LE(second, 6);

    // The movie plays to that second, picture and sound alike (the kept
    // fragment may end with sound a little past its last picture). The
    // picture's end is the container's: read packet by packet, the last
    // picture lasts a nominal frame, up to 1/30 s off either way.
    const auto movie = fixtures::readMovie(file);
    ASSERT_EQ(movie.size(), 2u);
    ASSERT_GT(movie[0].statedDuration, 0);
    ASSERT_NEAR(movie[0].start, 0, 1e-6);
    const double pictureEnd = movie[0].statedDuration;
    const int pictureSecond = int(std::ceil(pictureEnd - 1e-3));
    const int movieSecond = int(std::ceil(std::max(pictureEnd, movie[1].end) - 1e-3));
    EXPECT_TRUE(second == pictureSecond || second == movieSecond) << second << " " << pictureEnd << " " << movie[1].end;
    EXPECT_GT(movie[0].packets.size(), 30u);
    EXPECT_NEAR(movie[1].end, movie[0].end, 0.2);  // in whole AAC frames
}

// Our tray menu is open from 0.8 s to 2.3 s of a recording of a screen that
// changes all the time: the frames grabbed meanwhile are left out, the last
// one before is repeated as for a still screen, and the picture moves again
// after the release.
TEST_F(RecorderDesktopTest, AHeldPictureKeepsItsLastFrameUntilReleased)
{
    testdesktop::BareDesktop bare;  // windows painted at chosen places
    testdesktop::Window square(client_, QRect(100, 100, 160, 120), green);
    Flicker flicker(QRect(120, 120, 40, 40));
    const auto file = *folder_ / "held-picture.mov";
    auto recorder = squareRecorder(file, false, nullptr);
    std::int64_t heldAt = 0, releasedAt = 0;
    const auto result = run(*recorder, 3200ms, [&] {
        QTimer::singleShot(800, [&] {
            recorder->holdPicture(true);
            heldAt = platform::HostClock::nowNanoseconds();
        });
        QTimer::singleShot(2300, [&] {
            releasedAt = platform::HostClock::nowNanoseconds();
            recorder->holdPicture(false);
        });
    });
    ASSERT_TRUE(result.movieStart) << result.error;
    ASSERT_TRUE(heldAt && releasedAt);
    const double from = (platform::MediaTime(heldAt, 1'000'000'000) - *result.movieStart).seconds();
    const double to = (platform::MediaTime(releasedAt, 1'000'000'000) - *result.movieStart).seconds();

    int before = 0, held = 0, after = 0;
    for (const auto& p : fixtures::probePackets(file)) {
        if (p.stream != 0) continue;
        if (p.pts < from) ++before;
        else if (p.pts <= to) ++held;
        else ++after;
    }
    EXPECT_GT(before, 10);
    // The repeat a second after the last frame, and nothing of the screen.
    EXPECT_GE(held, 1);
    EXPECT_LE(held, 2);
    EXPECT_GT(after, 10);
}

namespace {

// A sound server of this test's own, with an output playing a tone and an
// input giving one, that the test may kill: the desktop's server stays.
class OwnSoundServer {
public:
    OwnSoundServer()
    {
        const std::filesystem::path config = folder_ / "default.pa";
        std::FILE* out = std::fopen(config.c_str(), "w");
        if (!out) return;
        std::fprintf(out,
                     "load-module module-native-protocol-unix socket=%s auth-anonymous=1\n"
                     "load-module module-null-sink sink_name=out\n"
                     "set-default-sink out\n"
                     "load-module module-sine sink=out frequency=440\n"
                     "load-module module-sine-source source_name=tone rate=48000 frequency=300\n",
                     socket().c_str());
        std::fclose(out);
        const std::string folder = folder_.path().string(), file = config.string();
        std::vector<std::string> environment = {"HOME=" + folder, "XDG_RUNTIME_DIR=" + folder,
                                                "PULSE_RUNTIME_PATH=" + folder, "PULSE_STATE_PATH=" + folder,
                                                "PATH=/usr/local/bin:/usr/bin:/bin"};
        std::vector<char*> envp;
        for (auto& e : environment) envp.push_back(e.data());
        envp.push_back(nullptr);
        const char* argv[] = {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--realtime=no",
                              "--high-priority=no", "-F", file.c_str(), nullptr};
        if (posix_spawnp(&pid_, "pulseaudio", nullptr, nullptr, const_cast<char**>(argv), envp.data()) != 0) pid_ = 0;
        for (int i = 0; pid_ > 0 && i < 100 && !answers(); ++i) std::this_thread::sleep_for(100ms);
    }
    ~OwnSoundServer() { kill(); }

    bool answers() const { return firstLine("pactl -s " + address() + " info | head -c 6") == "Server"; }
    std::string address() const { return "unix:" + socket(); }
    void kill()
    {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }

private:
    std::string socket() const { return (folder_ / "native").string(); }
    fixtures::TempDir folder_;
    pid_t pid_ = 0;
};

} // namespace

// The sound server dies 1.5 s into a recording of both sounds: the saved
// recording names both tracks that fell silent with it.
TEST(RecorderOnADyingSoundServer, BothSoundTracksAreToldAfterTheStop)
{
    ASSERT_TRUE(testdesktop::haveDisplay()) << "needs the test desktop (DISPLAY)";
    OwnSoundServer server;
    ASSERT_TRUE(server.answers()) << "pulseaudio did not start";
    // Before anything in this process reaches a sound server; the tests
    // after this one in the same process find the desktop's again.
    const testsupport::ScopedEnv pulse("PULSE_SERVER", server.address());

    ondexa::AudioInputDevice device;
    for (const auto& d : ondexa::AudioDeviceList::inputDevices())
        if (d.uid == "tone") device = d;
    ASSERT_EQ(device.uid, "tone");

    testdesktop::Client client;
    testdesktop::Window square(client, QRect(100, 100, 160, 120), green);
    Flicker flicker(QRect(120, 120, 40, 40));
    const platform::ScreenDisplay display = platform::ScreenContent::fetch().displays.at(0);
    MicCapture mic(device);
    mic.setChannels({0}, false);
    fixtures::TempDir folder;
    Recorder recorder(folder / "server-gone.mov", CaptureTarget::ofArea(display, QRectF(100, 100, 160, 120)), true,
                      &mic, nullptr, 30);
    recorder.setShowsCursor(false);

    std::optional<std::optional<std::string>> started;
    recorder.start([&](std::optional<std::string> error) { started = std::move(error); });
    ASSERT_TRUE(pumpUntil([&] { return started.has_value(); }, 10s));
    ASSERT_FALSE(*started) << **started;
    pumpUntil([] { return false; }, 1500ms);
    server.kill();
    pumpUntil([] { return false; }, 2000ms);
    std::optional<Recorder::StopResult> result;
    recorder.stop([&](const Recorder::StopResult& r) { result = r; });
    ASSERT_TRUE(pumpUntil([&] { return result.has_value(); }, 10s));
    ASSERT_TRUE(result->movieStart) << result->error;

    // Each in a sentence of its own, the system sound first.
    const std::string& notice = result->notice;
    const auto system = notice.find("A felvétel elkészült, de a rendszerhang a ");
    const auto interface = notice.find("A felvétel elkészült, de a hangkártya a ");
    ASSERT_NE(system, std::string::npos) << notice;
    ASSERT_NE(interface, std::string::npos) << notice;
    EXPECT_LT(system, interface);
    EXPECT_EQ(notice.back(), '.');
    // Both from the second the server went: the 2nd (a loaded machine may
    // see it up to a second late, or the last sound a buffer early).
    for (const auto at : {system, interface}) {
        const auto number = notice.find(" a ", notice.find("de a ", at) + 5) + 3;
        const int second = std::atoi(notice.c_str() + number);
        EXPECT_GE(second, 1) << notice;
        EXPECT_LE(second, 3) << notice;
    }
}
