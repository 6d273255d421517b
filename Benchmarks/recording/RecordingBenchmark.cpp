// bench_recording: records a display that changes every frame (1920×1080 at
// 60 and at 30 frames a second, and 3840×2160 at 30, or the one size and
// rate asked for), with the system sound and two channels of the audio
// interface, once with our recorder and once with the ffmpeg program set up
// the same way (x11grab + pulse; libx264 High veryfast, no B-frames, key
// frame every 2 s, the same bit rate; AAC 256 kbit/s; the same fragmented
// movie), on the test desktop it starts itself (a second one, on the next
// display number, for a screen of another size than 1920×1080). Our encoder
// differs in one respect: no frame waits in it (no look-ahead, sliced
// threads, rate control by the nominal frame rate), so that a crash loses at
// most one fragment of picture (and the pictures queued for the encoder
// thread); from 3840 × 2160 at 30 up it works on frames in parallel and
// holds a few back; ffmpeg keeps the preset's look-ahead and frame threads.
// Prints, side by side: frames written and dropped, CPU seconds per recorded
// second and per new picture in the movie, and how far the sound lies from
// the picture at the end of the recording; then one summary row per size
// and rate.
//
// Dropped frames are counted twice: as each program reports them (ours:
// pictures the capture queue or the encoder's queue could not take, and
// grab deadlines missed; ffmpeg: frames its rate conversion dropped), and
// in the movie itself, the
// same way for both: every frame interval without a new picture (a gap in
// the time stamps, or a picture equal to the one before) counts as one. The
// screen is repainted at twice the frame rate so that every grab sees a new
// picture.
//
// With --busy-loops N, N processes spin for the whole run (start the
// benchmark under taskset to share a few cores with them).
//
// Sync is measured with events: a helper process (this program with
// --stimulus) repaints a full-screen window at twice the frame rate (at
// least 60 Hz) and, every 1.0137 s on
// the host clock, shows a white square and plays a tone burst into the
// system output and into two interface channels, timed by the sound
// server's playback latency to sound at that same moment. In the movie, the
// first frame showing the square fixes the picture's time base (a frame is
// grabbed at most one frame interval after the square appears; over many
// events at all phases of the frame grid the least lag is ~0), and each
// burst's onset is compared with its event's time on that base. A burst
// that should have begun while the stimulus could not feed its sink (a
// starved machine) is withheld, and its event goes unmeasured, so that the
// stimulus's own lateness is not taken for the recording's.
//
// With --at-once both programs record the same minute side by side, so
// that both meet the same stalls of a loaded machine (each then also bears
// the other's load).
//
// A starved machine also stalls the stimulus (its repaints wait seconds for
// the X server at times), and the programs start their movies at different
// moments. So the summary counts a frame interval without a new picture
// only where the screen did change (the stimulus logs when each repaint was
// drawn) and, at once, only in the span both movies cover: each movie is
// put on the host clock by the event numbers the stimulus draws in binary
// beside the square. The starved sound server also plays some bursts late
// or early, which both movies then show alike: at once, where the ffmpeg
// program's offset at an event strays over 10 ms from its median, that much
// is taken off ours before it is judged (both figures are printed).
//
//   bench_recording [--size WxH] [--fps N] [--seconds N] [--busy-loops N] [--no-ffmpeg] [--at-once] [--keep DIR]

#include "Ondexa/recording/AudioDevices.h"
#include "Ondexa/recording/MicCapture.h"
#include "Ondexa/recording/Recorder.h"
#include "Platform/capture/ScreenContent.h"
#include "Platform/core/HostClock.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <ctime>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <pulse/error.h>
#include <pulse/simple.h>
#include <xcb/xcb.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

extern char** environ;

namespace {

using namespace std::chrono_literals;

// The size and rate being measured (the stimulus takes the screen's size).
int kWidth = 1920;
int kHeight = 1080;
int kFps = 30;

// Events: not a whole number of frame intervals apart, so that over a minute
// they fall at every phase of the 30 Hz grab grid.
constexpr double kPeriod = 1.0137;       // s
constexpr double kFlashSeconds = 0.15;   // the white square's time on screen
constexpr double kBurstSeconds = 0.10;
constexpr double kSystemBurstHz = 2000;
constexpr double kInterfaceBurstHz = 3000;
constexpr double kBurstAmplitude = 0.4;
constexpr int kMarker = 96;              // side of the square at the top left
// The event's number, drawn in binary beside the square while it shows.
constexpr int kCodeBits = 12;
constexpr int kCodeBlock = 16;           // side of a bit's block
constexpr int kCodeStride = 24;
int codeX(int bit) { return kMarker + 16 + bit * kCodeStride; }
constexpr int kCodeY = 16;
constexpr double kInterfaceTones[4] = {300, 500, 700, 900};
constexpr double kToneAmplitude = 0.125;
// A jump of the stimulus's sound times beyond this is a stall: its sink ran dry.
constexpr std::int64_t kStall = 5'000'000;  // ns
// The events whose offsets make "the end" of a recording.
constexpr int kEndEvents = 5;

std::int64_t now() { return platform::HostClock::nowNanoseconds(); }

void sleepUntil(std::int64_t hostNs)
{
    timespec ts{time_t(hostNs / 1'000'000'000), long(hostNs % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

// Where host time `t` falls in the event pattern: the time since the latest
// event's start, in seconds (negative before the first).
double sinceEvent(std::int64_t origin, std::int64_t t)
{
    const double since = double(t - origin) / 1e9;
    if (since < 0) return since;
    return since - std::floor(since / kPeriod) * kPeriod;
}

// --- The stimulus process ---------------------------------------------------------------

// Plays, into `sink`, bursts on the first two channels at the events (and,
// with `tones`, a steady tone per channel), each chunk placed by the
// server's playback latency so that it sounds at the host time it was made for.
void playEvents(const char* sink, int channels, int rate, bool aux, double burstHz, bool tones, std::int64_t origin,
                int bufferMs)
{
    pa_sample_spec sampleSpec{PA_SAMPLE_FLOAT32LE, std::uint32_t(rate), std::uint8_t(channels)};
    pa_channel_map map;
    pa_channel_map_init(&map);
    map.channels = std::uint8_t(channels);
    for (int c = 0; c < channels; ++c)
        map.map[c] = aux ? pa_channel_position_t(PA_CHANNEL_POSITION_AUX0 + c)
                         : (c == 0 ? PA_CHANNEL_POSITION_FRONT_LEFT : PA_CHANNEL_POSITION_FRONT_RIGHT);
    // A short buffer keeps the sinks' latency, and the error of its estimate,
    // small; a machine shared with busy loops needs a longer one (20 ms ran
    // dry many times a second there), which shifts the offsets by about 2 ms.
    pa_buffer_attr attr{};
    attr.maxlength = std::uint32_t(-1);
    attr.tlength = std::uint32_t(pa_usec_to_bytes(pa_usec_t(bufferMs) * 1000, &sampleSpec));
    attr.prebuf = std::uint32_t(-1);
    attr.minreq = std::uint32_t(pa_usec_to_bytes(5'000, &sampleSpec));
    attr.fragsize = std::uint32_t(-1);
    int error = 0;
    pa_simple* stream =
        pa_simple_new(nullptr, "bench_recording", PA_STREAM_PLAYBACK, sink, "events", &sampleSpec, &map, &attr, &error);
    if (!stream) {
        std::fprintf(stderr, "stimulus: cannot play into %s: %s\n", sink, pa_strerror(error));
        return;
    }
    const int chunk = rate / 200;  // 5 ms
    std::vector<float> samples(std::size_t(chunk) * std::size_t(channels));
    // On a starved machine this process may not write in time: the sink then
    // goes without our sound until we do. A burst that should have begun in
    // such a stall would be heard late, as if the recording were; it is
    // withheld whole instead, and its event goes unmeasured.
    std::int64_t followOn = -1;      // host time the next chunk sounds at when nothing stalled
    std::int64_t withheld = -1;      // the event whose burst is withheld
    const auto eventAt = [&](std::int64_t t) { return std::int64_t(std::floor(double(t - origin) / 1e9 / kPeriod)); };
    for (std::int64_t position = 0;; position += chunk) {
        const pa_usec_t latency = pa_simple_get_latency(stream, &error);
        const std::int64_t first = now() + std::int64_t(latency) * 1000;
        if (followOn >= 0 && first - followOn > kStall && first > origin) {
            const std::int64_t event = eventAt(first);
            const std::int64_t start = origin + std::int64_t(std::llround(double(event) * kPeriod * 1e9));
            if (start >= followOn - kStall && withheld != event) {
                withheld = event;
                std::fprintf(stderr, "stimulus: %s ran dry for %.1f ms at event %lld; its burst is withheld\n", sink,
                             double(first - followOn) / 1e6, static_cast<long long>(event));
            }
        }
        followOn = first + std::int64_t(chunk) * 1'000'000'000 / rate;
        for (int i = 0; i < chunk; ++i) {
            const std::int64_t t = first + std::int64_t(i) * 1'000'000'000 / rate;
            const double in = sinceEvent(origin, t);
            const bool sounds = in >= 0 && in < kBurstSeconds && eventAt(t) != withheld;
            const double burst = sounds ? kBurstAmplitude * std::sin(2 * M_PI * burstHz * in) : 0;
            for (int c = 0; c < channels; ++c) {
                double v = c < 2 ? burst : 0;
                if (tones) v += kToneAmplitude * std::sin(2 * M_PI * kInterfaceTones[c] * double(position + i) / rate);
                samples[std::size_t(i * channels + c)] = float(v);
            }
        }
        if (pa_simple_write(stream, samples.data(), samples.size() * sizeof(float), &error) < 0) {
            std::fprintf(stderr, "stimulus: writing to %s failed: %s\n", sink, pa_strerror(error));
            return;
        }
    }
}

// A full-screen window repainted `hz` times a second: a changing background,
// moving blocks, and the white square during each event.
[[noreturn]] void paintEvents(std::int64_t origin, int hz, const char* repaintLog)
{
    // The host time each repaint was drawn, for the parent to tell when the screen changed.
    const int log = open(repaintLog, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "stimulus: no X display\n");
        std::exit(1);
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    kWidth = screen->width_in_pixels;
    kHeight = screen->height_in_pixels;
    const xcb_window_t window = xcb_generate_id(c);
    const std::uint32_t values[] = {screen->black_pixel, 1};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, kWidth, kHeight, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT,
                      values);
    xcb_map_window(c, window);
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, window, 0, nullptr);
    auto fill = [&](std::uint32_t rgb, int x, int y, int w, int h) {
        xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &rgb);
        const xcb_rectangle_t r{std::int16_t(x), std::int16_t(y), std::uint16_t(w), std::uint16_t(h)};
        xcb_poly_fill_rectangle(c, window, gc, 1, &r);
    };

    const std::int64_t tick = 1'000'000'000 / hz;
    std::int64_t next = now();
    for (;;) {
        // Wake at the next tick, or sooner at an event's start or end.
        const std::int64_t t0 = now();
        const double in = sinceEvent(origin, t0);
        std::int64_t edge;
        if (in < 0) edge = origin;
        else if (in < kFlashSeconds) edge = t0 + std::int64_t((kFlashSeconds - in) * 1e9);
        else edge = t0 + std::int64_t((kPeriod - in) * 1e9);
        const std::int64_t wake = std::min(next, edge);
        sleepUntil(wake);
        const std::int64_t woke = now();
        if (wake == next) next += tick;
        if (next < now()) next = now() + tick;

        const std::int64_t t = now();
        const double ms = double(t) / 1e6;
        fill(0x101010u + (std::uint32_t(ms / 40) % 64) * 0x010101u, 0, 0, kWidth, kHeight);
        for (int i = 0; i < 48; ++i) {
            // At least a pixel per repaint, so that no two repaints are alike.
            const int x = int(std::fmod(i * 197.0 + ms * (0.25 + 0.01 * i), double(kWidth - 140)));
            const int y = 120 + int(std::fmod(i * 131.0 + ms * (0.03 + 0.007 * i), double(kHeight - 220)));
            fill(0x204080u * std::uint32_t(i + 1) ^ std::uint32_t(ms / 100), x, y, 140, 90);
        }
        const double e = sinceEvent(origin, t);
        const bool lit = e >= 0 && e < kFlashSeconds;
        fill(lit ? 0xFFFFFFu : 0x000000u, 0, 0, kMarker, kMarker);
        const auto event = std::uint32_t(std::floor(double(t - origin) / 1e9 / kPeriod));
        for (int bit = 0; bit < kCodeBits; ++bit)
            fill(lit && (event >> bit & 1) ? 0xFFFFFFu : 0x000000u, codeX(bit), kCodeY, kCodeBlock, kCodeBlock);
        // Waits until the server has drawn it, as a program waits for its
        // painting: a starved server would otherwise pile up repaints
        // faster than it draws them.
        const std::int64_t sent = now();
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        const std::int64_t drawn = now();
        if (log >= 0 && write(log, &drawn, sizeof drawn) != sizeof drawn) std::fprintf(stderr, "stimulus: log full\n");
        if (std::getenv("BENCH_RECORDING_VERBOSE") && drawn - wake > 100'000'000)
            std::fprintf(stderr, "stimulus: repaint at %.3f s took %.0f ms (woke %.0f, sent %.0f, drawn %.0f)\n",
                         double(wake - origin) / 1e9, double(drawn - wake) / 1e6, double(woke - wake) / 1e6,
                         double(sent - woke) / 1e6, double(drawn - sent) / 1e6);
    }
}

[[noreturn]] void runStimulus(std::int64_t origin, int paintHz, int bufferMs, const char* repaintLog)
{
    std::thread([=] { playEvents("desk", 2, 48000, false, kSystemBurstHz, false, origin, bufferMs); }).detach();
    std::thread([=] { playEvents("iface_in", 4, 44100, true, kInterfaceBurstHz, true, origin, bufferMs); }).detach();
    paintEvents(origin, paintHz, repaintLog);
}

// --- Child processes --------------------------------------------------------------------

pid_t spawn(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

// Runs a command to its end; its exit status.
int run(const std::vector<std::string>& args, rusage* usage = nullptr)
{
    const pid_t pid = spawn(args);
    if (pid < 0) return -1;
    int status = 0;
    rusage own{};
    wait4(pid, &status, 0, usage ? usage : &own);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string output(const std::string& command)
{
    std::string text;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, p)) text += buffer;
        pclose(p);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

double cpuSeconds(const rusage& u)
{
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// --- Reading a movie back ---------------------------------------------------------------

struct Track {
    bool video = false;
    double start = 0;                        // the first decoded frame's time, s
    int rate = 0;
    std::vector<float> left;                 // sound
    std::vector<std::pair<double, double>> marker;  // video: (time, mean luma of the square)
    std::vector<std::uint64_t> digests;      // video: a digest of each picture's luma
    std::vector<int> codes;                  // video: the event number drawn beside the square
    std::int64_t frames = 0;
    double end = 0;
};

std::vector<Track> readMovie(const std::filesystem::path& file)
{
    std::vector<Track> tracks;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, file.c_str(), nullptr, nullptr) < 0) return tracks;
    avformat_find_stream_info(format, nullptr);
    std::vector<AVCodecContext*> decoders;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVCodecParameters* par = format->streams[i]->codecpar;
        Track t;
        t.video = par->codec_type == AVMEDIA_TYPE_VIDEO;
        t.rate = par->sample_rate;
        t.start = NAN;
        tracks.push_back(t);
        AVCodecContext* d = avcodec_alloc_context3(avcodec_find_decoder(par->codec_id));
        avcodec_parameters_to_context(d, par);
        d->thread_count = 0;
        if (avcodec_open2(d, nullptr, nullptr) < 0) avcodec_free_context(&d);
        decoders.push_back(d);
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&](std::size_t i) {
        Track& t = tracks[i];
        const AVRational tb = format->streams[i]->time_base;
        while (avcodec_receive_frame(decoders[i], frame) == 0) {
            const double time = double(frame->best_effort_timestamp) * av_q2d(tb);
            if (std::isnan(t.start)) t.start = time;
            if (t.video) {
                ++t.frames;
                double sum = 0;
                for (int y = 16; y < kMarker - 16; ++y)
                    for (int x = 16; x < kMarker - 16; ++x) sum += frame->data[0][y * frame->linesize[0] + x];
                t.marker.emplace_back(time, sum / ((kMarker - 32) * (kMarker - 32)));
                int code = 0;
                for (int bit = 0; bit < kCodeBits; ++bit) {
                    int inner = 0;
                    for (int y = kCodeY + 4; y < kCodeY + kCodeBlock - 4; ++y)
                        for (int x = codeX(bit) + 4; x < codeX(bit) + kCodeBlock - 4; ++x)
                            inner += frame->data[0][y * frame->linesize[0] + x];
                    if (inner > 128 * (kCodeBlock - 8) * (kCodeBlock - 8)) code |= 1 << bit;
                }
                t.codes.push_back(code);
                std::uint64_t digest = 1469598103934665603ull;
                for (int y = 0; y < frame->height; y += 3) {
                    const std::uint8_t* line = frame->data[0] + std::ptrdiff_t(y) * frame->linesize[0];
                    std::uint64_t row = 0;
                    for (int x = 0; x < frame->width; ++x) row = row * 31 + line[x];
                    digest = (digest ^ row) * 1099511628211ull;
                }
                t.digests.push_back(digest);
                t.end = time + double(frame->pkt_duration) * av_q2d(tb);
            } else {
                const auto* l = reinterpret_cast<const float*>(frame->data[0]);
                t.left.insert(t.left.end(), l, l + frame->nb_samples);
                t.end = t.start + double(t.left.size()) / t.rate;
            }
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        const auto i = std::size_t(packet->stream_index);
        if (decoders[i] && avcodec_send_packet(decoders[i], packet) >= 0) drain(i);
        av_packet_unref(packet);
    }
    for (std::size_t i = 0; i < decoders.size(); ++i) {
        if (!decoders[i]) continue;
        avcodec_send_packet(decoders[i], nullptr);
        drain(i);
        avcodec_free_context(&decoders[i]);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avformat_close_input(&format);
    return tracks;
}

// Frame intervals without a new picture, up to the last frame before the
// stop (a repeat at the stop is not a drop): each gap of n intervals counts
// n - 1, each picture equal to the one before it counts 1.
std::int64_t missingFrames(const Track& video, int fps)
{
    std::int64_t missing = 0;
    for (std::size_t i = 1; i + 1 < video.marker.size(); ++i) {
        const double intervals = (video.marker[i].first - video.marker[i - 1].first) * fps;
        missing += std::max<std::int64_t>(0, std::llround(intervals) - 1);
        if (video.digests[i] == video.digests[i - 1]) ++missing;
    }
    return missing;
}

// The white square's appearances: when, and the event number drawn beside
// it (the one most of the lit frames show).
struct Flash {
    double time = 0;
    int event = 0;
};

std::vector<Flash> findFlashes(const Track& video)
{
    std::vector<Flash> found;
    std::map<int, int> votes;  // event numbers seen while this flash is lit
    const auto close = [&] {
        if (votes.empty()) return;
        found.back().event = std::max_element(votes.begin(), votes.end(), [](const auto& a, const auto& b) {
                                 return a.second < b.second;
                             })->first;
        votes.clear();
    };
    // A square already lit in the first frame appeared before the movie
    // began: its moment is unknown.
    bool lit = !video.marker.empty() && video.marker.front().second > 180;
    bool counting = false;
    for (std::size_t i = 0; i < video.marker.size(); ++i) {
        const auto [time, luma] = video.marker[i];
        if (!lit && luma > 180) {
            close();
            found.push_back({time, 0});
            counting = true;
        }
        if (luma > 180) {
            lit = true;
            if (counting) ++votes[video.codes[i]];
        } else if (luma < 60) {
            lit = false;
            counting = false;
        }
    }
    close();
    return found;
}

// The host time of the movie's time 0, from the event numbers drawn with
// the square: the least lag of a flash behind its event (as measureSync).
std::optional<std::int64_t> hostOfMovieZero(const Track& video, std::int64_t origin)
{
    std::optional<double> eventZero;  // movie time of event 0, s
    for (const Flash& flash : findFlashes(video)) {
        const double at = flash.time - double(flash.event) * kPeriod;
        eventZero = eventZero ? std::min(*eventZero, at) : at;
    }
    if (!eventZero) return std::nullopt;
    return origin - std::int64_t(std::llround(*eventZero * 1e9));
}

// missingFrames, counted only where the screen changed (a repaint was drawn
// in the interval) and within host times [from, to].
std::int64_t missingWhileChanged(const Track& video, int fps, std::int64_t hostZero, std::int64_t from, std::int64_t to,
                                 const std::vector<std::int64_t>& repaints)
{
    const auto host = [&](double t) { return hostZero + std::int64_t(std::llround(t * 1e9)); };
    const auto changed = [&](std::int64_t after, std::int64_t until) {
        const auto it = std::upper_bound(repaints.begin(), repaints.end(), after);
        return it != repaints.end() && *it <= until;
    };
    const std::int64_t interval = 1'000'000'000 / fps;
    std::int64_t missing = 0;
    for (std::size_t i = 1; i + 1 < video.marker.size(); ++i) {
        const std::int64_t before = host(video.marker[i - 1].first), at = host(video.marker[i].first);
        if (before < from || at > to) continue;
        const std::int64_t gaps = std::llround(double(at - before) / double(interval)) - 1;
        for (std::int64_t j = 1; j <= gaps; ++j)
            if (const std::int64_t slot = before + j * interval; changed(slot - interval, slot)) {
                ++missing;
                if (std::getenv("BENCH_RECORDING_VERBOSE"))
                    std::printf("  no picture at %.3f s (a gap after %.3f s)\n", video.marker[i - 1].first + double(j) / fps,
                                video.marker[i - 1].first);
            }
        if (video.digests[i] == video.digests[i - 1] && changed(before, at)) {
            ++missing;
            if (std::getenv("BENCH_RECORDING_VERBOSE"))
                std::printf("  the picture at %.3f s repeats the one before\n", video.marker[i].first);
        }
    }
    return missing;
}

// Times at which a burst of `hz` starts: the centre of the first 2 ms window
// whose amplitude at that frequency reaches half the burst's.
std::vector<double> burstOnsets(const Track& sound, double hz)
{
    std::vector<double> onsets;
    if (sound.rate <= 0) return onsets;
    const int n = sound.rate / 500;
    const int hop = std::max(1, n / 8);
    const double coefficient = 2 * std::cos(2 * M_PI * hz / sound.rate);
    bool on = false;
    for (std::size_t from = 0; from + std::size_t(n) <= sound.left.size(); from += std::size_t(hop)) {
        double s1 = 0, s2 = 0;
        for (int i = 0; i < n; ++i) {
            const double s0 = sound.left[from + std::size_t(i)] + coefficient * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        const double amplitude = 2 * std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - coefficient * s1 * s2)) / n;
        if (!on && amplitude > kBurstAmplitude / 2) {
            onsets.push_back(sound.start + (double(from) + n / 2.0) / sound.rate);
            on = true;
        } else if (on && amplitude < kBurstAmplitude / 8) {
            on = false;
        }
    }
    return onsets;
}

struct Sync {
    int events = 0;               // events seen in the picture
    double pictureBaseError = NAN;  // our recorder only: the estimated base minus the real one, ms
    double systemEnd = NAN;       // sound minus picture over the last events, ms
    double interfaceEnd = NAN;
    double systemWorst = NAN;     // the largest offset over the whole recording, ms
    double interfaceWorst = NAN;
    // Each offset by the event number drawn in the picture, ms.
    std::map<int, double> system, interface;
    // At once: the largest offset less the other movie's deviation at the
    // same event (see sharedDeviations), ms.
    double systemOwnWorst = NAN;
    double interfaceOwnWorst = NAN;
};

// Sound onsets against the event times on the picture's base. `origin`: the
// host time of event 0; `movieStart`: our recorder's real base, when known.
Sync measureSync(const std::vector<Track>& tracks, std::int64_t origin, std::optional<std::int64_t> movieStart)
{
    Sync sync;
    if (tracks.size() < 3 || !tracks[0].video) return sync;
    std::vector<double> flashes;
    std::vector<int> numbers;
    for (const Flash& flash : findFlashes(tracks[0])) {
        flashes.push_back(flash.time);
        numbers.push_back(flash.event);
    }
    if (flashes.size() < 3) return sync;
    sync.events = int(flashes.size());
    // Number the events from the first flash. A flash is seen in the first
    // frame grabbed after its event, so it lags the event by 0 to 1 frame
    // interval; the movie time of the first flash's event is taken as the
    // least lag over all events, whose phases cover the frame grid. The
    // numbers drawn with the square tell the events apart; a stalled X
    // server can show a flash most of a period late, where rounding its
    // time would give it the next event's number. Only where the drawn
    // numbers are unreadable (not rising) does the time number them.
    const double first = flashes.front();
    const bool drawnNumbers = std::adjacent_find(numbers.begin(), numbers.end(), std::greater_equal<int>()) ==
                              numbers.end();
    std::vector<long> index;
    double base = 1e9;
    for (std::size_t i = 0; i < flashes.size(); ++i) {
        index.push_back(drawnNumbers ? long(numbers[i] - numbers.front()) : std::lround((flashes[i] - first) / kPeriod));
        base = std::min(base, flashes[i] - double(index.back()) * kPeriod);
    }
    if (movieStart) {
        // Our movie's time 0 is host time movieStart, so the real base is
        // known: the first flash's event, or the event just before it.
        const double firstEvent = drawnNumbers
                                      ? double(numbers.front())
                                      : std::floor((double(*movieStart - origin) / 1e9 + first) / kPeriod);
        const double realBase = double(origin - *movieStart) / 1e9 + firstEvent * kPeriod;
        sync.pictureBaseError = (base - realBase) * 1000;
    }

    auto offsets = [&](const Track& sound, double hz, double& end, double& worst, std::map<int, double>& byEvent) {
        const std::vector<double> bursts = burstOnsets(sound, hz);
        if (std::getenv("BENCH_RECORDING_VERBOSE")) {
            std::printf("  flashes:");
            for (double f : flashes) std::printf(" %.4f", f);
            std::printf("\n  bursts at %.0f Hz (track starts %.4f):", hz, sound.start);
            for (double b : bursts) std::printf(" %.4f", b);
            std::printf("\n");
        }
        std::vector<double> all;
        for (std::size_t i = 0; i < flashes.size(); ++i) {
            const double expected = base + double(index[i]) * kPeriod;
            // The earliest onset near the event: a dip within a burst (a
            // sound drop-out) may trigger a second one later.
            const auto onset = std::find_if(bursts.begin(), bursts.end(),
                                            [&](double b) { return b > expected - 0.25; });
            if (onset == bursts.end() || *onset > expected + 0.25) continue;
            all.push_back((*onset - expected) * 1000);
            byEvent[numbers[i]] = all.back();
        }
        if (std::getenv("BENCH_RECORDING_VERBOSE")) {
            std::printf("  offsets at %.0f Hz (ms):", hz);
            for (double o : all) std::printf(" %.1f", o);
            std::printf("\n");
        }
        if (all.empty()) return;
        worst = 0;
        for (double o : all) worst = std::abs(o) > std::abs(worst) ? o : worst;
        const std::size_t from = all.size() > std::size_t(kEndEvents) ? all.size() - kEndEvents : 0;
        double sum = 0;
        for (std::size_t i = from; i < all.size(); ++i) sum += all[i];
        end = sum / double(all.size() - from);
    };
    offsets(tracks[1], kSystemBurstHz, sync.systemEnd, sync.systemWorst, sync.system);
    offsets(tracks[2], kInterfaceBurstHz, sync.interfaceEnd, sync.interfaceWorst, sync.interface);
    return sync;
}

// Recorded at once, both movies hear the same bursts from the same sound
// server. On a starved machine the stimulus plays some late or early (its
// sink runs dry, the server's timing lags), and both movies show that alike.
// So at once, where the other movie's offset at an event lies more than
// kSharedDeviationMs off its own median, that deviation is the stimulus's
// and is taken off ours; returns the largest offset left (NAN without
// events of ours).
constexpr double kSharedDeviationMs = 10;
double ownWorst(const std::map<int, double>& ours, const std::map<int, double>& theirs)
{
    if (ours.empty()) return NAN;
    std::vector<double> values;
    for (const auto& [event, offset] : theirs) values.push_back(offset);
    std::sort(values.begin(), values.end());
    const double median = values.empty() ? 0 : values[values.size() / 2];
    double worst = 0;
    for (const auto& [event, offset] : ours) {
        const auto other = theirs.find(event);
        const double shared = other == theirs.end() ? 0 : other->second - median;
        const double own = std::abs(shared) > kSharedDeviationMs ? offset - shared : offset;
        if (std::abs(own) > std::abs(worst)) worst = own;
    }
    return worst;
}

// --- The two recorders ------------------------------------------------------------------

struct Result {
    std::string name;
    bool ok = false;
    std::string error;
    double cpu = 0;          // CPU seconds used while recording
    double recorded = 0;     // seconds of picture in the movie
    std::int64_t written = -1;
    std::int64_t dropped = -1;  // as the program counts them
    std::int64_t missing = -1;  // as the movie shows them
    std::int64_t missingWhileChanged = -1;  // of those, where the screen changed (and both recorded, at once)
    std::optional<std::int64_t> hostZero;   // host time of the movie's time 0
    Track video;
    double start = 0, end = 0;              // the picture's first and last frame, movie time
    Sync sync;
};

template <typename Predicate>
bool runEventsUntil(Predicate done, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

Result recordOurs(const std::filesystem::path& file, double seconds, std::int64_t origin)
{
    Result r;
    r.name = "Vendalum";
    std::optional<ondexa::AudioInputDevice> device;
    for (const auto& d : ondexa::AudioDeviceList::inputDevices())
        if (d.uid == "iface") device = d;
    if (!device) {
        r.error = "no interface input \"iface\"";
        return r;
    }
    // Read where its clock is, on the null sink's monitor: the remapped
    // source the test desktop offers as the interface reports latencies of
    // its own that wander by a few ms (over ten minutes: 2.7 ms late on
    // average, −3.0 … 6.5, where the monitor itself gave 1.3 and
    // −0.2 … 4.2), which a real interface's source does not add.
    device->uid = "iface_in.monitor";
    ondexa::MicCapture mic(*device);
    mic.setChannels({0, 1}, true);
    const auto display = platform::ScreenContent::fetch().displays.at(0);
    ondexa::Recorder recorder(file, ondexa::CaptureTarget::ofDisplay(display), true, &mic, nullptr, kFps);
    recorder.setShowsCursor(false);

    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    std::optional<std::optional<std::string>> started;
    recorder.start([&](std::optional<std::string> error) { started = std::move(error); });
    if (!runEventsUntil([&] { return started.has_value(); }, 20s) || *started) {
        r.error = started && *started ? **started : "start did not complete";
        return r;
    }
    runEventsUntil([] { return false; }, std::chrono::milliseconds(std::int64_t(seconds * 1000)));
    std::optional<ondexa::Recorder::StopResult> stopped;
    recorder.stop([&](const ondexa::Recorder::StopResult& result) { stopped = result; });
    runEventsUntil([&] { return stopped.has_value(); }, 60s);
    getrusage(RUSAGE_SELF, &after);
    if (!stopped || !stopped->movieStart) {
        r.error = stopped ? stopped->error : "stop did not complete";
        return r;
    }
    r.cpu = cpuSeconds(after) - cpuSeconds(before);
    r.written = recorder.writtenFrames();
    r.dropped = recorder.droppedFrames();
    const auto tracks = readMovie(file);
    if (!tracks.empty()) {
        r.recorded = tracks[0].end - tracks[0].start;
        r.missing = missingFrames(tracks[0], kFps);
        r.video = tracks[0];
    }
    const std::int64_t start = stopped->movieStart->convertedTo(1'000'000'000).value();
    r.hostZero = start;
    r.sync = measureSync(tracks, origin, start);
    r.ok = true;
    return r;
}

// The ffmpeg program's recording: its exit status, with its CPU in `usage`.
int runFfmpeg(const std::filesystem::path& file, double seconds, const std::string& display,
              const std::string& interfacePair, rusage& usage)
{
    const auto progress = file.parent_path() / "ffmpeg-progress.txt";
    const std::string bitRate = std::to_string(
        ondexa::Recorder::videoBitRate({kWidth, kHeight}, kFps, ondexa::Recorder::screenBitsPerPixel(kFps)));
    // The grabbed pictures waiting for ffmpeg's encoder: about 2 GB at most
    // (at 3840 × 2160 a deeper queue grew past 8 GB and the machine killed it).
    const std::string videoQueue = std::to_string(std::clamp(2048 * 1024 / (kWidth * kHeight * 4 / 1024), 16, 1024));
    const std::vector<std::string> args = {
        "ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-progress", progress.string(),
        "-thread_queue_size", videoQueue, "-f", "x11grab", "-framerate", std::to_string(kFps), "-video_size",
        std::to_string(kWidth) + "x" + std::to_string(kHeight), "-draw_mouse", "0", "-i", display,
        "-thread_queue_size", "1024", "-f", "pulse", "-sample_rate", "48000", "-channels", "2", "-i", "desk.monitor",
        "-thread_queue_size", "1024", "-f", "pulse", "-sample_rate", "44100", "-channels", "2", "-i", interfacePair,
        "-map", "0:v", "-map", "1:a", "-map", "2:a",
        "-c:v", "libx264", "-preset", "veryfast", "-profile:v", "high", "-bf", "0", "-g", std::to_string(2 * kFps),
        "-b:v", bitRate, "-pix_fmt", "yuv420p", "-color_primaries", "bt709", "-color_trc", "bt709", "-colorspace",
        "bt709", "-c:a", "aac", "-b:a", "256k",
        "-movflags", "frag_keyframe+empty_moov+default_base_moof", "-frag_duration", "2000000",
        "-t", std::to_string(seconds), file.string()};
    return run(args, &usage);
}

Result readFfmpeg(const std::filesystem::path& file, std::int64_t origin, int status, const rusage& usage)
{
    Result r;
    r.name = "ffmpeg";
    const auto progress = file.parent_path() / "ffmpeg-progress.txt";
    if (status != 0) {
        r.error = "ffmpeg exited with " + std::to_string(status);
        return r;
    }
    r.cpu = cpuSeconds(usage);
    std::ifstream in(progress);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("frame=", 0) == 0) r.written = std::atoll(line.c_str() + 6);
        if (line.rfind("drop_frames=", 0) == 0) r.dropped = std::atoll(line.c_str() + 12);
    }
    const auto tracks = readMovie(file);
    if (!tracks.empty()) {
        r.recorded = tracks[0].end - tracks[0].start;
        r.missing = missingFrames(tracks[0], kFps);
        r.video = tracks[0];
        r.hostZero = hostOfMovieZero(tracks[0], origin);
    }
    r.sync = measureSync(tracks, origin, std::nullopt);
    r.ok = true;
    return r;
}

std::string number(double v, int decimals)
{
    if (std::isnan(v)) return "–";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::string count(std::int64_t v) { return v >= 0 ? std::to_string(v) : "–"; }

void row(const char* label, const std::string& ours, const std::string& theirs, const std::string& ratio = "")
{
    std::printf("  %-44s %12s %12s %10s\n", label, ours.c_str(), theirs.c_str(), ratio.c_str());
}

struct Configuration {
    int width = 1920;
    int height = 1080;
    int fps = 30;
    std::string label() const { return std::to_string(height) + "p" + std::to_string(fps); }
};

struct Options {
    double seconds = 60;
    bool withFfmpeg = true;
    bool atOnce = false;  // both programs record the same minute
    int busyLoops = 0;
    std::optional<std::filesystem::path> keep;
};

struct Outcome {
    Configuration configuration;
    Result ours, theirs;
    bool ok = false;
    double commonSeconds = NAN;  // at once: the span both movies cover
    double cpuRatio() const
    {
        const double a = ours.recorded > 0 ? ours.cpu / ours.recorded : NAN;
        const double b = theirs.recorded > 0 ? theirs.cpu / theirs.recorded : NAN;
        return a / b;
    }
    double cpuPerPictureRatio() const { return cpuPerPicture(ours) / cpuPerPicture(theirs); }
    // CPU seconds for each new picture the movie holds. On cores both
    // programs share at once, the CPU each gets is the scheduler's choice,
    // and the one that gets more records more pictures with it: what it
    // costs is then told by the CPU for each picture recorded.
    static double cpuPerPicture(const Result& r)
    {
        const double pictures = std::round(r.recorded * kFps) - double(r.missing);
        return r.missing >= 0 && pictures > 0 ? r.cpu / pictures : NAN;
    }
};

// Reads the environment file of the test desktop into this process.
void adoptDesktopEnvironment(const std::string& session)
{
    std::ifstream env(output(session + " env"));
    std::string line;
    while (std::getline(env, line)) {
        const auto eq = line.find('=');
        if (line.rfind("export ", 0) != 0 || eq == std::string::npos) continue;
        setenv(line.substr(7, eq - 7).c_str(), line.substr(eq + 1).c_str(), 1);
    }
}

// The root window's size on the current DISPLAY; empty when none answers.
std::optional<std::pair<int, int>> rootSize()
{
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    std::optional<std::pair<int, int>> size;
    if (!xcb_connection_has_error(c)) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        size = std::make_pair(int(screen->width_in_pixels), int(screen->height_in_pixels));
    }
    xcb_disconnect(c);
    return size;
}

Outcome runConfiguration(const Configuration& configuration, const Options& options, int baseDisplay)
{
    Outcome outcome;
    outcome.configuration = configuration;
    kWidth = configuration.width;
    kHeight = configuration.height;
    kFps = configuration.fps;

    // The test desktop at its usual size on the base display; a screen of
    // another size on the next one.
    const bool usual = kWidth == 1920 && kHeight == 1080;
    const std::string displayNumber = std::to_string(usual ? baseDisplay : baseDisplay + 1);
    setenv("ONDEXA_DESKTOP_DISPLAY", displayNumber.c_str(), 1);
    const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
    setenv("ONDEXA_DESKTOP_SIZE", size.c_str(), 1);
    const std::string session = std::string(ONDEXA_SOURCE_DIR) + "/scripts/desktop-session";
    const bool wasRunning = run({session, "status"}) == 0;
    if (run({session, "start"}) != 0) {
        outcome.ours.error = "the test desktop :" + displayNumber + " did not start";
        return outcome;
    }
    adoptDesktopEnvironment(session);
    const std::string display = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : ":" + displayNumber;
    if (rootSize() != std::make_pair(kWidth, kHeight)) {
        outcome.ours.error = "display " + display + " is not " + size + " (stop its session: scripts/desktop-session stop)";
        if (!wasRunning) run({session, "stop"});
        return outcome;
    }

    std::filesystem::path folder = options.keep ? *options.keep / configuration.label()
                                                : std::filesystem::temp_directory_path()
                                                      / ("bench-recording-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::filesystem::remove(folder / "vendalum.mov");
    std::filesystem::remove(folder / "ffmpeg.mov");

    // The same two interface channels for ffmpeg, which can't pick channels
    // of a source itself: a stereo source made of the interface's first two,
    // on the monitor ours reads.
    const std::string pairModule = output(
        "pactl load-module module-remap-source master=iface_in.monitor source_name=iface_pair channels=2 "
        "master_channel_map=aux0,aux1 channel_map=front-left,front-right remix=no");

    const std::int64_t origin = now() + 1'500'000'000;
    const auto repaintLog = folder / "repaints.bin";
    const pid_t stimulus =
        spawn({"/proc/self/exe", "--stimulus", std::to_string(origin), std::to_string(std::max(60, 2 * kFps)),
               options.busyLoops > 0 ? "100" : "20", repaintLog.string()});
    std::vector<pid_t> busy;
    for (int i = 0; i < options.busyLoops; ++i) busy.push_back(spawn({"/proc/self/exe", "--busy"}));
    std::this_thread::sleep_for(2500ms);  // painting and sound running, the first event passed

    std::printf("\nbench_recording: %.0f s of %dx%d at %d fps, content changing every frame, system sound and two "
                "interface channels, on display %s (%u cores%s)\n",
                options.seconds, kWidth, kHeight, kFps, display.c_str(), std::thread::hardware_concurrency(),
                options.busyLoops ? (", " + std::to_string(options.busyLoops) + " busy loops").c_str() : "");
    std::printf("  load before: %s\n", output("cat /proc/loadavg").c_str());
    // With the kernel's session groups on, the desktop's X server (a session
    // of its own) was seen waiting runnable for 6 to 67 s beside the busy
    // loops on two cores of a virtual machine; with them off, a repaint took
    // at most 0.32 s in ten runs.
    std::printf("  kernel.sched_autogroup_enabled: %s\n",
                output("cat /proc/sys/kernel/sched_autogroup_enabled 2>/dev/null").c_str());
    std::fflush(stdout);
    // After the desktop's environment is in place: the sound server is the
    // one this desktop runs.
    char name[] = "bench_recording";
    char* appArgv[] = {name, nullptr};
    int appArgc = 1;
    QCoreApplication app(appArgc, appArgv);
    outcome.theirs.name = "ffmpeg";
    rusage usage{};
    int status = -1;
    const auto runTheirs = [&] { status = runFfmpeg(folder / "ffmpeg.mov", options.seconds, display, "iface_pair", usage); };
    // At once, the child runs beside ours; either way its movie is read only
    // once ours has ended, so that reading it costs ours no CPU.
    std::optional<std::thread> beside;
    if (options.withFfmpeg && options.atOnce) beside.emplace(runTheirs);
    outcome.ours = recordOurs(folder / "vendalum.mov", options.seconds, origin);
    if (beside) beside->join();
    else if (options.withFfmpeg) runTheirs();
    if (options.withFfmpeg) outcome.theirs = readFfmpeg(folder / "ffmpeg.mov", origin, status, usage);

    for (pid_t pid : busy) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    if (stimulus > 0) {
        kill(stimulus, SIGTERM);
        waitpid(stimulus, nullptr, 0);
    }
    // Frame intervals without a new picture where the screen changed; at
    // once, in the span both movies cover.
    std::vector<std::int64_t> repaints;
    {
        std::ifstream in(repaintLog, std::ios::binary);
        std::int64_t t = 0;
        while (in.read(reinterpret_cast<char*>(&t), sizeof t)) repaints.push_back(t);
    }
    std::sort(repaints.begin(), repaints.end());
    auto span = [](const Result& r) {
        return std::make_pair(*r.hostZero + std::int64_t(r.video.marker.front().first * 1e9),
                              *r.hostZero + std::int64_t(r.video.marker.back().first * 1e9));
    };
    auto usable = [](const Result& r) { return r.ok && r.hostZero && r.video.marker.size() > 2; };
    std::optional<std::pair<std::int64_t, std::int64_t>> common;
    if (options.atOnce && usable(outcome.ours) && usable(outcome.theirs)) {
        const auto a = span(outcome.ours), b = span(outcome.theirs);
        common = std::make_pair(std::max(a.first, b.first), std::min(a.second, b.second));
    }
    for (Result* r : {&outcome.ours, &outcome.theirs}) {
        if (!usable(*r)) continue;
        const auto [from, to] = common ? *common : span(*r);
        if (std::getenv("BENCH_RECORDING_VERBOSE")) std::printf("  %s's movie:\n", r->name.c_str());
        r->missingWhileChanged = missingWhileChanged(r->video, kFps, *r->hostZero, from, to, repaints);
    }
    if (usable(outcome.ours) && std::getenv("BENCH_RECORDING_VERBOSE"))
        if (const auto estimate = hostOfMovieZero(outcome.ours.video, origin))
            std::printf("  our movie's start from the drawn event numbers − its real start: %.1f ms\n",
                        double(*estimate - *outcome.ours.hostZero) / 1e6);
    if (common) outcome.commonSeconds = double(common->second - common->first) / 1e9;
    if (options.atOnce && outcome.ours.ok && outcome.theirs.ok) {
        outcome.ours.sync.systemOwnWorst = ownWorst(outcome.ours.sync.system, outcome.theirs.sync.system);
        outcome.ours.sync.interfaceOwnWorst = ownWorst(outcome.ours.sync.interface, outcome.theirs.sync.interface);
    }
    if (usable(outcome.theirs) && outcome.theirs.sync.events > 0 && std::getenv("BENCH_RECORDING_VERBOSE"))
        std::printf("  ffmpeg's movie begins %.3f s after ours\n",
                    outcome.ours.hostZero ? double(*outcome.theirs.hostZero - *outcome.ours.hostZero) / 1e9 : NAN);
    if (!pairModule.empty()) run({"pactl", "unload-module", pairModule});
    if (!wasRunning) run({session, "stop"});
    if (!options.keep) std::filesystem::remove_all(folder);

    const Result& ours = outcome.ours;
    const Result& theirs = outcome.theirs;
    for (const Result* r : {&ours, &theirs})
        if (!r->ok && !(r == &theirs && !options.withFfmpeg))
            std::printf("  %s failed: %s\n", r->name.c_str(), r->error.c_str());

    const double ourRate = ours.recorded > 0 ? ours.cpu / ours.recorded : NAN;
    const double theirRate = theirs.recorded > 0 ? theirs.cpu / theirs.recorded : NAN;
    const std::string expected = "frames written (" + std::to_string(kFps) + " per second expected)";
    std::printf("\n  %-44s %12s %12s %10s\n", "", "Vendalum", "ffmpeg", "ratio");
    row("seconds of picture in the movie", number(ours.recorded, 2), number(theirs.recorded, 2));
    row(expected.c_str(), count(ours.written), count(theirs.written));
    row("dropped frames (as the program counts)", count(ours.dropped), count(theirs.dropped));
    row("frame intervals without a new picture", count(ours.missing), count(theirs.missing));
    const std::string whileChanged = options.atOnce && !std::isnan(outcome.commonSeconds)
                                         ? "  of those while the screen changed, in the " +
                                               number(outcome.commonSeconds, 1) + " s both recorded"
                                         : "  of those while the screen changed";
    row(whileChanged.c_str(), count(ours.missingWhileChanged), count(theirs.missingWhileChanged));
    row("CPU seconds per recorded second", number(ourRate, 3), number(theirRate, 3), number(ourRate / theirRate, 2));
    row("CPU ms per new picture in the movie", number(1000 * Outcome::cpuPerPicture(ours), 1),
        number(1000 * Outcome::cpuPerPicture(theirs), 1), number(outcome.cpuPerPictureRatio(), 2));
    row("sync events seen in the picture", std::to_string(ours.sync.events), std::to_string(theirs.sync.events));
    row("system sound − picture at the end (ms)", number(ours.sync.systemEnd, 1), number(theirs.sync.systemEnd, 1));
    row("interface sound − picture at the end (ms)", number(ours.sync.interfaceEnd, 1),
        number(theirs.sync.interfaceEnd, 1));
    row("largest system sound offset (ms)", number(ours.sync.systemWorst, 1), number(theirs.sync.systemWorst, 1));
    row("largest interface sound offset (ms)", number(ours.sync.interfaceWorst, 1),
        number(theirs.sync.interfaceWorst, 1));
    if (!std::isnan(ours.sync.systemOwnWorst) || !std::isnan(ours.sync.interfaceOwnWorst)) {
        row("  less what both movies share: system", number(ours.sync.systemOwnWorst, 1), "");
        row("  less what both movies share: interface", number(ours.sync.interfaceOwnWorst, 1), "");
    }
    row("picture base estimate − real base (ms)", number(ours.sync.pictureBaseError, 1), "");
    std::printf("  load after: %s\n", output("cat /proc/loadavg").c_str());
    std::fflush(stdout);
    outcome.ok = ours.ok && (theirs.ok || !options.withFfmpeg);
    return outcome;
}

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: bench_recording [--size WxH] [--fps N] [--seconds N] [--busy-loops N] [--no-ffmpeg] "
                         "[--at-once] [--keep DIR]\n");
    std::exit(2);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 6 && std::strcmp(argv[1], "--stimulus") == 0)
        runStimulus(std::atoll(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), argv[5]);
    if (argc == 2 && std::strcmp(argv[1], "--busy") == 0) {
        volatile std::uint64_t spin = 0;
        for (;;) spin = spin + 1;
    }

    Options options;
    std::optional<std::pair<int, int>> size;
    std::optional<int> fps;
    std::optional<std::filesystem::path> rowOutput;  // a child's summary row goes there
    for (int i = 1; i < argc; ++i) {
        const bool value = i + 1 < argc;
        if (std::strcmp(argv[i], "--seconds") == 0 && value) {
            options.seconds = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--size") == 0 && value) {
            int w = 0, h = 0;
            if (std::sscanf(argv[++i], "%dx%d", &w, &h) != 2 || w < 2 || h < 2 || w % 2 || h % 2 || w > 3840
                || h > 2160)
                usage();
            size = std::make_pair(w, h);
        } else if (std::strcmp(argv[i], "--fps") == 0 && value) {
            fps = std::atoi(argv[++i]);
            if (*fps < 1 || *fps > 120) usage();
        } else if (std::strcmp(argv[i], "--busy-loops") == 0 && value) {
            options.busyLoops = std::max(0, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--no-ffmpeg") == 0) {
            options.withFfmpeg = false;
        } else if (std::strcmp(argv[i], "--at-once") == 0) {
            options.atOnce = true;
        } else if (std::strcmp(argv[i], "--keep") == 0 && value) {
            options.keep = argv[++i];
        } else if (std::strcmp(argv[i], "--row") == 0 && value) {
            rowOutput = argv[++i];
        } else {
            usage();
        }
    }
    if (options.seconds < 5) usage();
    av_log_set_level(AV_LOG_ERROR);

    // Without a size or a rate, the three rows; with either, that one.
    std::vector<Configuration> configurations;
    if (size || fps) {
        Configuration c;
        if (size) c.width = size->first, c.height = size->second;
        if (fps) c.fps = *fps;
        configurations.push_back(c);
    } else {
        configurations = {{1920, 1080, 30}, {1920, 1080, 60}, {3840, 2160, 30}};
    }

    auto printHeader = [] {
        std::printf("\n  %-8s %17s %17s %17s %13s %17s %17s %10s\n", "", "dropped (counted)", "dropped (movie)",
                    "screen changed", "CPU ours÷ffmpeg", "system sound (ms)", "interface (ms)", "base (ms)  goal");
        std::printf("  %-8s %17s %17s %17s %13s %17s %17s %10s\n", "", "ours / ffmpeg", "ours / ffmpeg", "ours / ffmpeg",
                    "per s / pic", "ours / ffmpeg", "ours / ffmpeg", "error");
    };
    const char* goal = "\n  goal: no more frames dropped than ffmpeg while the screen changed (none when it is not run), CPU for "
                       "each new picture in the movie at most ffmpeg's, our sound within 20 ms of the picture at every "
                       "event (at once: less what both movies show alike); void where either movie shows fewer than half the "
                       "stimulus's flashes\n";

    if (configurations.size() > 1) {
        // Each size in a process of its own: the sound server of its desktop
        // is the one the process connects to.
        std::vector<std::string> rows;
        bool ok = true;
        const auto rowFile = std::filesystem::temp_directory_path() / ("bench-recording-row-" + std::to_string(getpid()));
        for (const Configuration& c : configurations) {
            std::vector<std::string> args = {"/proc/self/exe", "--size", std::to_string(c.width) + "x" + std::to_string(c.height),
                                             "--fps", std::to_string(c.fps), "--seconds", std::to_string(options.seconds),
                                             "--busy-loops", std::to_string(options.busyLoops), "--row", rowFile.string()};
            if (!options.withFfmpeg) args.push_back("--no-ffmpeg");
            if (options.atOnce) args.push_back("--at-once");
            if (options.keep) args.insert(args.end(), {"--keep", options.keep->string()});
            std::fflush(stdout);
            ok = run(args) == 0 && ok;
            std::ifstream in(rowFile);
            std::string line;
            rows.push_back(std::getline(in, line) ? line : "  " + c.label() + "   failed");
            std::filesystem::remove(rowFile);
        }
        printHeader();
        for (const auto& line : rows) std::printf("%s\n", line.c_str());
        std::printf("%s", goal);
        return ok ? 0 : 1;
    }

    const char* given = std::getenv("ONDEXA_DESKTOP_DISPLAY");
    const int baseDisplay = given ? std::atoi(given[0] == ':' ? given + 1 : given) : 99;
    const Outcome o = runConfiguration(configurations.front(), options, baseDisplay);
    auto pair = [](const std::string& a, const std::string& b) { return a + " / " + b; };
    char line[512];
    std::snprintf(line, sizeof line, "  %-8s %17s %17s %17s %13s %17s %17s %10s", o.configuration.label().c_str(),
                  pair(count(o.ours.dropped), count(o.theirs.dropped)).c_str(),
                  pair(count(o.ours.missing), count(o.theirs.missing)).c_str(),
                  pair(count(o.ours.missingWhileChanged), count(o.theirs.missingWhileChanged)).c_str(),
                  pair(number(o.cpuRatio(), 2), number(o.cpuPerPictureRatio(), 2)).c_str(),
                  pair(number(o.ours.sync.systemEnd, 1), number(o.theirs.sync.systemEnd, 1)).c_str(),
                  pair(number(o.ours.sync.interfaceEnd, 1), number(o.theirs.sync.interfaceEnd, 1)).c_str(),
                  number(o.ours.sync.pictureBaseError, 1).c_str());
    const auto within = [](double ms) { return !std::isnan(ms) && std::abs(ms) <= 20; };
    // At once, our sound less what both movies share (see ownWorst).
    const auto own = [](double shared, double plain) { return std::isnan(shared) ? plain : shared; };
    const std::int64_t allowed = o.theirs.missingWhileChanged >= 0 ? o.theirs.missingWhileChanged : 0;
    const bool met = o.ours.missingWhileChanged >= 0 && o.ours.missingWhileChanged <= allowed &&
                     (!(o.cpuPerPictureRatio() > 1)) && within(own(o.ours.sync.systemOwnWorst, o.ours.sync.systemWorst)) &&
                     within(own(o.ours.sync.interfaceOwnWorst, o.ours.sync.interfaceWorst));
    // A starved X server may leave the stimulus undrawn for most of a run:
    // then neither movie shows a changing screen, and their frames judge
    // nothing. The stimulus flashes once a second.
    const int expected = int(options.seconds) - 1;
    const bool drawn = 2 * o.ours.sync.events >= expected && (!options.withFfmpeg || 2 * o.theirs.sync.events >= expected);
    std::strncat(line, !drawn ? "  void (stimulus undrawn)" : met ? "  met" : "  not met", sizeof line - std::strlen(line) - 1);
    if (rowOutput) {
        std::ofstream(*rowOutput) << line << "\n";
    } else {
        printHeader();
        std::printf("%s\n%s", line, goal);
    }
    return o.ok ? 0 : 1;
}
