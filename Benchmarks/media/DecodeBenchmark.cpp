// Decoding a 10 s 1080p30 H.264 movie (the recorder's settings: High, no
// B-frames, a key frame every 2 s) to premultiplied ARGB32 frames through
// FrameReader, side by side with the ffmpeg program decoding the same file
// in the same run with the same thread choice. Counters: frames per second
// of each, and ours/ffmpeg for wall time and for CPU time (ratio below 1:
// we are faster). That ffmpeg only decodes, while we also convert every
// frame to RGB; the bgra_ ratios compare with ffmpeg converting as well.
// The turned variant reads the same stream stored with a quarter-turn
// display matrix, as a phone films upright: each frame is turned as well
// (ffmpeg is then asked not to turn, so its side stays the same).

#include "Platform/media/Asset.h"
#include "Platform/media/FrameReader.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/RunProgram.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kFrames = 300;

using Measure = bench::ProgramCost;
using bench::runProgram;
const auto seconds = bench::secondsOf;

// The movie, made once per run in a temporary folder.
class Movie {
public:
    Movie()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "ondexa-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
        file_ = dir_ / "screen-1080p30.mov";
        runProgram({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", "testsrc2=s=1920x1080:r=30", "-frames:v",
                    std::to_string(kFrames), "-vf", "scale=out_color_matrix=bt709,format=yuv420p", "-c:v", "libx264",
                    "-profile:v", "high", "-preset", "veryfast", "-bf", "0", "-g", "60", "-b:v", "12M",
                    "-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc", "bt709", file_.string()});
        turned_ = dir_ / "phone-1080p30.mov";
        runProgram({"ffmpeg", "-nostdin", "-v", "error", "-i", file_.string(), "-c", "copy", "-metadata:s:v:0",
                    "rotate=270", turned_.string()});
    }
    ~Movie()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    const std::filesystem::path& file() const { return file_; }
    const std::filesystem::path& turned() const { return turned_; }

private:
    std::filesystem::path dir_;
    std::filesystem::path file_;
    std::filesystem::path turned_;
};

const Movie& movie()
{
    static Movie m;
    return m;
}

Measure decodeOurs(const std::filesystem::path& file, int threads)
{
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    const auto asset = platform::Asset::open(file);
    platform::FrameReader reader(*asset, asset->videoStreams().at(0), {threads, nullptr});
    for (int k = 0; k < kFrames; ++k) {
        const platform::VideoFrame frame = reader.frameAt(platform::MediaTime(k, 30));
        benchmark::DoNotOptimize(frame.image.constBits());
    }
    Measure m;
    m.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    m.cpu = seconds(after.ru_utime) - seconds(before.ru_utime) + seconds(after.ru_stime) - seconds(before.ru_stime);
    return m;
}

Measure decodeFfmpeg(const std::filesystem::path& file, int threads, bool toBgra)
{
    std::vector<std::string> argv{"ffmpeg", "-nostdin", "-v", "error"};
    if (threads > 0) argv.insert(argv.end(), {"-threads", std::to_string(threads)});
    argv.insert(argv.end(), {"-noautorotate", "-i", file.string()});
    if (toBgra) argv.insert(argv.end(), {"-pix_fmt", "bgra"});
    argv.insert(argv.end(), {"-f", "null", "-"});
    return runProgram(argv);
}

// Arguments: decoder threads, 0 = automatic (as FrameReader uses by
// default); whether the stream asks to be turned.
void DecodeToFrames(benchmark::State& state)
{
    const int threads = static_cast<int>(state.range(0));
    const auto& file = state.range(1) ? movie().turned() : movie().file();
    Measure ours;
    Measure theirs;
    Measure bgra;
    auto add = [](Measure& sum, const Measure& m) {
        sum.wall += m.wall;
        sum.cpu += m.cpu;
    };
    for (auto _ : state) {
        const Measure a = decodeOurs(file, threads);
        state.SetIterationTime(a.wall);
        add(ours, a);
        add(theirs, decodeFfmpeg(file, threads, false));
        add(bgra, decodeFfmpeg(file, threads, true));
    }
    const double n = double(state.iterations());
    state.counters["ours_fps"] = kFrames * n / ours.wall;
    state.counters["ffmpeg_fps"] = kFrames * n / theirs.wall;
    state.counters["wall_ratio"] = ours.wall / theirs.wall;
    state.counters["cpu_ratio"] = ours.cpu / theirs.cpu;
    state.counters["bgra_wall_ratio"] = ours.wall / bgra.wall;
    state.counters["bgra_cpu_ratio"] = ours.cpu / bgra.cpu;
    state.counters["ours_cpu_s_per_media_s"] = ours.cpu / n / (kFrames / 30.0);
}

BENCHMARK(DecodeToFrames)
    ->ArgNames({"threads", "turned"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

} // namespace
