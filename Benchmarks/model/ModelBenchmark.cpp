// Decoding and re-encoding the side file of a one-hour recording: 10,000 clips
// over 20 tracks, 216,000 pointer samples (60 Hz) and 2,000 clicks.
// The baseline is the JSON library alone on the same text (parse and dump
// without our types), so the figures show what the model's coding adds.

#include "Ondexa/model/RecordingInfo.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <malloc.h>
#include <new>
#include <random>

// Heap accounting for the peak-memory counters: every allocation of this
// program goes through these.
namespace {
std::atomic<std::size_t> liveBytes{0};
std::atomic<std::size_t> peakBytes{0};

void noteAllocation(void* p)
{
    if (!p) return;
    const std::size_t now = liveBytes += malloc_usable_size(p);
    std::size_t peak = peakBytes.load();
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
    }
}
} // namespace

void* operator new(std::size_t size)
{
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    noteAllocation(p);
    return p;
}

void operator delete(void* p) noexcept
{
    if (!p) return;
    liveBytes -= malloc_usable_size(p);
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    operator delete(p);
}

using namespace ondexa;

namespace {

RecordingInfo oneHourRecording()
{
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0, 1);
    RecordingInfo info;
    info.audioTracks = {"Rendszerhang", "Scarlett 4i4"};
    const std::string movie = "/home/user/Videos/Vendalum/Felvétel 2026-12-06 10.00.00.mov";

    Project project;
    project.version = Project::currentVersion;
    for (int t = 0; t < 20; ++t) {
        Track track;
        track.name = "Sáv " + std::to_string(t + 1);
        track.media = {movie, t % 2 ? MediaKind::audio : MediaKind::video, t / 2};
        track.fromRecording = true;
        double at = 0;
        for (int c = 0; c < 500; ++c) {
            Clip clip;
            clip.start = at;
            clip.sourceStart = at;
            clip.duration = 7.2 * unit(random) + 0.1;
            clip.media = track.media;
            clip.fadeIn = c % 3 ? 0 : 0.5;
            clip.volume = 0.8f;
            if (c % 4 == 0) {
                TrackAction zoom;
                zoom.start = 0.2;
                zoom.end = clip.duration / 2;
                zoom.scale = 2;
                zoom.centerX = unit(random);
                zoom.centerY = unit(random);
                zoom.returns = true;
                clip.actions.push_back(zoom);
            }
            at += clip.duration;
            track.clips.push_back(clip);
        }
        project.tracks.push_back(std::move(track));
    }
    info.project = std::move(project);

    std::vector<std::vector<double>> cursor;
    cursor.reserve(216000);
    for (int i = 0; i < 216000; ++i) cursor.push_back({i / 60.0, unit(random), unit(random)});
    info.cursor = std::move(cursor);
    std::vector<std::vector<double>> clicks;
    for (int i = 0; i < 2000; ++i) clicks.push_back({i * 1.8, unit(random), unit(random), double(i % 5 == 0)});
    info.clicks = std::move(clicks);
    info.showClicks = true;
    info.cursorStyle = CursorStyle{};
    return info;
}

const std::string& sideFileText()
{
    static const std::string text = encodeJson(oneHourRecording()).dump();
    return text;
}

// Runs body once per iteration and reports the peak heap it needed on top
// of what was live before, in MB.
template <class Body>
void measure(benchmark::State& state, Body body)
{
    std::size_t worst = 0;
    for (auto _ : state) {
        const std::size_t before = liveBytes.load();
        peakBytes = before;
        body();
        worst = std::max(worst, peakBytes.load() - before);
    }
    state.counters["peak_MB"] = double(worst) / 1e6;
    state.counters["file_MB"] = double(sideFileText().size()) / 1e6;
}

void DecodeSideFile(benchmark::State& state)
{
    const std::string& text = sideFileText();
    measure(state, [&] {
        RecordingInfo info = decodeJson<RecordingInfo>(parseJson(text));
        benchmark::DoNotOptimize(info);
    });
}

void EncodeSideFile(benchmark::State& state)
{
    const RecordingInfo info = decodeJson<RecordingInfo>(parseJson(sideFileText()));
    measure(state, [&] {
        std::string text = encodeJson(info).dump();
        benchmark::DoNotOptimize(text);
    });
}

void DecodeAndReencodeSideFile(benchmark::State& state)
{
    const std::string& text = sideFileText();
    measure(state, [&] {
        std::string again = encodeJson(decodeJson<RecordingInfo>(parseJson(text))).dump();
        benchmark::DoNotOptimize(again);
    });
}

// Baseline: the JSON library alone, parse and dump, no model types.
void LibraryParseAndDumpOnly(benchmark::State& state)
{
    const std::string& text = sideFileText();
    measure(state, [&] {
        std::string again = Json::parse(text).dump();
        benchmark::DoNotOptimize(again);
    });
}

} // namespace

BENCHMARK(DecodeSideFile)->Unit(benchmark::kMillisecond);
BENCHMARK(EncodeSideFile)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeAndReencodeSideFile)->Unit(benchmark::kMillisecond);
BENCHMARK(LibraryParseAndDumpOnly)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
