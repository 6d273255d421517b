// What the editor does with a movie it loads: probe it, then read a frame
// (player), a thumbnail and a second of sound (peaks), one after the other,
// side by side with the ffprobe program opening the same file once. On a
// fragmented movie with one damaged byte (the type of the first track's
// header) FFmpeg spends seconds of CPU parsing the fragments at every open,
// so cpu_ratio near 1 means the file was opened once. Counters: CPU seconds
// of each, ours/ffprobe, and how many times our side opened the file.

#include "Platform/media/Asset.h"
#include "Platform/media/FrameReader.h"
#include "Platform/media/ImageGenerator.h"
#include "Platform/media/MediaError.h"
#include "Platform/media/ReadSupport.h"
#include "Platform/media/SampleReader.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "support/RunProgram.h"

#include <stdlib.h>
#include <sys/resource.h>

namespace {

using bench::runProgram;

class Movies {
public:
    Movies()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "ondexa-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
        intact_ = dir_ / "recording.mov";
        // The recorder's layout: empty header, a fragment every 2 s.
        runProgram({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", "testsrc2=s=1280x720:r=30:d=10", "-f",
                    "lavfi", "-i", "sine=f=440:sample_rate=48000:d=10", "-ac", "2", "-c:v", "libx264", "-preset",
                    "veryfast", "-bf", "0", "-g", "60", "-c:a", "aac", "-b:a", "256k", "-movflags",
                    "frag_keyframe+empty_moov+default_base_moof", "-frag_duration", "2000000", intact_.string()});
        std::ifstream in(intact_, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto at = bytes.find("tkhd");
        if (at == std::string::npos) throw std::runtime_error("no track header");
        bytes[at + 3] ^= 1;
        damaged_ = dir_ / "damaged.mov";
        std::ofstream(damaged_, std::ios::binary) << bytes;
    }
    ~Movies()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    const std::filesystem::path& file(bool damaged) const { return damaged ? damaged_ : intact_; }

private:
    std::filesystem::path dir_, intact_, damaged_;
};

const Movies& movies()
{
    static Movies m;
    return m;
}

double cpuSeconds()
{
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return bench::secondsOf(r.ru_utime) + bench::secondsOf(r.ru_stime);
}

// Argument: 1 for the damaged movie, 0 for the intact one.
void ProbeThenReaders(benchmark::State& state)
{
    const auto& original = movies().file(state.range(0) != 0);
    double ours = 0, theirs = 0;
    std::uint64_t opens = 0;
    int round = 0;
    for (auto _ : state) {
        // A fresh copy each round: what earlier rounds kept open is another file's.
        state.PauseTiming();
        const auto file = original.parent_path() / ("round-" + std::to_string(round++) + original.filename().string());
        std::filesystem::copy_file(original, file, std::filesystem::copy_options::overwrite_existing);
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        const double cpu = cpuSeconds();
        const std::uint64_t opened = platform::readsupport::Demuxer::opens();
        {
            const auto asset = platform::Asset::open(file);
            const auto& video = asset->videoStreams().at(0);
            // As the editor does: what can't be read is left out.
            auto attempt = [](auto&& read) {
                try {
                    read();
                } catch (const platform::MediaError&) {
                }
            };
            attempt([&] {
                platform::FrameReader frames(*asset, video);
                benchmark::DoNotOptimize(frames.frameAt(platform::MediaTime(5, 1)).image.constBits());
            });
            attempt([&] {
                platform::ImageGenerator thumbnails(*asset, video);
                thumbnails.setMaximumSize({240, 240});
                benchmark::DoNotOptimize(thumbnails.imageAt(platform::MediaTime(2, 1)).constBits());
            });
            attempt([&] {
                platform::SampleReader sound(*asset, asset->audioStreams().at(0), 8000, 1);
                benchmark::DoNotOptimize(
                    sound.read(platform::TimeRange(platform::MediaTime(3, 1), platform::MediaTime(1, 1))));
            });
        }
        ours += cpuSeconds() - cpu;
        opens += platform::readsupport::Demuxer::opens() - opened;
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        theirs += runProgram({"ffprobe", "-v", "quiet", file.string()}).cpu;
    }
    const double n = double(state.iterations());
    state.counters["ours_cpu_s"] = ours / n;
    state.counters["ffprobe_cpu_s"] = theirs / n;
    state.counters["cpu_ratio"] = ours / theirs;
    state.counters["opens"] = double(opens) / n;
}

BENCHMARK(ProbeThenReaders)->ArgName("damaged")->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace
