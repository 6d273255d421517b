// Encoding 300 1080p30 BGRA frames (10 s of a moving screen-like picture)
// with the recorder's settings through MovieWriter, side by side with the
// ffmpeg program encoding the same raw BGRA file in the same run with the
// same x264 settings, BT.709 conversion and fragmented movie. Counters:
// frames per second and CPU seconds per media second of each, and the
// ratios ours/ffmpeg (fps_ratio above 1 and cpu_ratio below 1: we are
// better). The cores:2 variant runs both on two CPUs, the smallest machine
// that must record 1080p30 in real time.

#include "Platform/media/MovieWriter.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/RunProgram.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFps = 30;
constexpr int kFrames = 300;
constexpr std::size_t kFrameBytes = std::size_t(kWidth) * kHeight * 4;
// The recorder's rate for a screen at 30 fps: 0.10 bit per pixel.
constexpr std::int64_t kBitsPerSecond = std::int64_t(kWidth) * kHeight * kFps / 10;

using Cost = bench::ProgramCost;
using bench::secondsOf;

double processCpu()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return secondsOf(u.ru_utime) + secondsOf(u.ru_stime);
}

// A screen-like picture: a still desktop (gradient and blocks of text-like
// detail) with a window moving across it and a scrolling strip, so that the
// encoder sees both static areas and motion.
void drawFrame(std::uint8_t* px, int f)
{
    const int winX = 100 + f * 4;
    const int winY = 200 + (f % 100) * 2;
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = px + std::size_t(y) * kWidth * 4;
        for (int x = 0; x < kWidth; ++x) {
            std::uint8_t b = std::uint8_t(60 + x / 16);
            std::uint8_t g = std::uint8_t(40 + y / 10);
            std::uint8_t r = 50;
            const bool text = (y / 24) % 3 == 1 && (x / 400) % 2 == 0;
            if (text && ((x * 7 + y * 13) ^ (x / 3 * y / 5)) % 5 == 0) b = g = r = 230;
            if (x >= winX && x < winX + 640 && y >= winY && y < winY + 400) {
                const int u = x - winX, v = y - winY;
                b = g = r = 245;
                if (v < 30) b = 180, g = 120, r = 60;
                else if ((v / 18) % 2 == 0 && ((u * 31 + v * 17 + f) % 7) < 2) b = g = r = 20;
            }
            if (y >= 900 && y < 1000 && ((x + f * 8) / 40 + (y - 900) / 20) % 2 == 0) b = 200, g = r = 30;
            row[4 * x] = b;
            row[4 * x + 1] = g;
            row[4 * x + 2] = r;
            row[4 * x + 3] = 255;
        }
    }
}

// The raw input, written once per run in a temporary folder and mapped.
class RawFrames {
public:
    RawFrames()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "ondexa-encode-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
        file_ = dir_ / "screen.bgra";
        const int fd = ::open(file_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) throw std::runtime_error("cannot create " + file_.string());
        std::vector<std::uint8_t> frame(kFrameBytes);
        for (int f = 0; f < kFrames; ++f) {
            drawFrame(frame.data(), f);
            if (::write(fd, frame.data(), frame.size()) != ssize_t(frame.size()))
                throw std::runtime_error("cannot write " + file_.string());
        }
        void* map = mmap(nullptr, kFrameBytes * kFrames, PROT_READ, MAP_SHARED, fd, 0);
        ::close(fd);
        if (map == MAP_FAILED) throw std::runtime_error("mmap failed");
        data_ = static_cast<const std::uint8_t*>(map);
    }
    ~RawFrames()
    {
        munmap(const_cast<std::uint8_t*>(data_), kFrameBytes * kFrames);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    const std::filesystem::path& file() const { return file_; }
    const std::filesystem::path& dir() const { return dir_; }
    const std::uint8_t* frame(int f) const { return data_ + kFrameBytes * std::size_t(f); }

private:
    std::filesystem::path dir_;
    std::filesystem::path file_;
    const std::uint8_t* data_ = nullptr;
};

const RawFrames& rawFrames()
{
    static const RawFrames frames;
    return frames;
}

Cost encodeWithMovieWriter(const RawFrames& raw, const std::filesystem::path& out)
{
    std::filesystem::remove(out);
    const auto start = std::chrono::steady_clock::now();
    const double cpu = processCpu();
    platform::MovieWriter writer(out);
    writer.addVideoTrack({"Képernyő", kWidth, kHeight, kFps, kBitsPerSecond});
    writer.start();
    writer.startSession(platform::MediaTime(0, kFps));
    for (int f = 0; f < kFrames; ++f)
        writer.appendVideo(0, raw.frame(f), kWidth, kHeight, kWidth * 4, platform::MediaTime(f, kFps));
    writer.finish(platform::MediaTime(kFrames, kFps));
    Cost c;
    c.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    c.cpu = processCpu() - cpu;
    return c;
}

Cost encodeWithFfmpeg(const RawFrames& raw, const std::filesystem::path& out)
{
    const std::vector<std::string> argv{
        "ffmpeg", "-nostdin", "-hide_banner", "-v", "error", "-y",
        "-f", "rawvideo", "-pix_fmt", "bgra", "-s", std::to_string(kWidth) + "x" + std::to_string(kHeight),
        "-r", std::to_string(kFps), "-i", raw.file().string(),
        "-vf", "scale=out_color_matrix=bt709:out_range=tv,format=yuv420p",
        "-c:v", "libx264", "-preset", "veryfast", "-profile:v", "high", "-bf", "0",
        "-g", std::to_string(2 * kFps), "-b:v", std::to_string(kBitsPerSecond),
        "-color_primaries", "bt709", "-color_trc", "bt709", "-colorspace", "bt709", "-color_range", "tv",
        "-movflags", "frag_keyframe+empty_moov+default_base_moof+frag_discont", "-frag_duration", "2000000",
        "-min_frag_duration", "2000000",
        "-f", "mov", out.string()};
    return bench::runProgram(argv);
}

// Restricts this thread (and so the encoder threads and the ffmpeg child it
// starts) to the first `cores` CPUs it may use; 0 leaves them all.
class CoreLimit {
public:
    explicit CoreLimit(int cores)
    {
        sched_getaffinity(0, sizeof saved_, &saved_);
        if (cores <= 0) return;
        cpu_set_t limited;
        CPU_ZERO(&limited);
        for (int cpu = 0, taken = 0; cpu < CPU_SETSIZE && taken < cores; ++cpu)
            if (CPU_ISSET(cpu, &saved_)) CPU_SET(cpu, &limited), ++taken;
        sched_setaffinity(0, sizeof limited, &limited);
    }
    ~CoreLimit() { sched_setaffinity(0, sizeof saved_, &saved_); }

private:
    cpu_set_t saved_{};
};

void Encode1080p30(benchmark::State& state)
{
    av_log_set_level(AV_LOG_ERROR);
    const RawFrames& raw = rawFrames();
    const CoreLimit limit(int(state.range(0)));
    const double media = double(kFrames) / kFps;
    Cost ours, theirs;
    for (auto _ : state) {
        // ffmpeg first, then us: both read frames the page cache already holds.
        const Cost t = encodeWithFfmpeg(raw, raw.dir() / "ffmpeg.mov");
        const Cost o = encodeWithMovieWriter(raw, raw.dir() / "ours.mov");
        theirs.wall += t.wall, theirs.cpu += t.cpu;
        ours.wall += o.wall, ours.cpu += o.cpu;
        state.SetIterationTime(o.wall);
    }
    const double n = double(state.iterations());
    state.counters["fps"] = kFrames * n / ours.wall;
    state.counters["ffmpeg_fps"] = kFrames * n / theirs.wall;
    state.counters["fps_ratio"] = theirs.wall / ours.wall;
    state.counters["cpu_per_media_s"] = ours.cpu / n / media;
    state.counters["ffmpeg_cpu_per_media_s"] = theirs.cpu / n / media;
    state.counters["cpu_ratio"] = ours.cpu / theirs.cpu;
}

BENCHMARK(Encode1080p30)
    ->ArgName("cores")
    ->Arg(0)
    ->Arg(2)
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

} // namespace
