// Decoding and re-encoding the side file of a one-hour recording: 10,000 clips
// over 20 tracks, 216,000 pointer samples (60 Hz) and 2,000 clicks.
// The baseline is the JSON library alone on the same text (parse and dump
// without our types), so the figures show what the model's coding adds.
//
// Cross-fades (Track::effectiveClips) and lanes (Track::lanes) of one track
// of 20,000 clips, which every rebuild of the edit computes; the baseline is
// the plain rule, every pair of clips and a scan of all lanes per clip, and
// the floor is the copy of the clips that both return.
// Layouts: 0 = an edit (clips in sequence, many cross-fading, a few lanes),
// 1 = every clip overlapping every other (20,000 lanes).

#include "Ondexa/model/RecordingInfo.h"
#include "support/OverlapReference.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <malloc.h>
#include <new>
#include <random>
#include <type_traits>

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

Track trackOfClips(int layout)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(0, 1);
    Track track;
    track.name = "Sáv 1";
    track.media = {"/home/user/Videos/Vendalum/Felvétel.mov", MediaKind::video, 0};
    double at = 0;
    for (int c = 0; c < 20000; ++c) {
        Clip clip;
        clip.media = track.media;
        if (layout == 0) {
            clip.start = at;
            clip.duration = 0.5 + 7.5 * unit(random);
            at += 0.5 + 5.5 * unit(random);
        } else {
            clip.start = c * 0.001;
            clip.duration = 100;
        }
        clip.sourceStart = clip.start;
        track.clips.push_back(clip);
    }
    std::shuffle(track.clips.begin(), track.clips.end(), random);  // stored order is not start order
    return track;
}

template <class Compute>
void overlaps(benchmark::State& state, Compute compute)
{
    const Track track = trackOfClips(static_cast<int>(state.range(0)));
    std::size_t lanes = 0;
    for (auto _ : state) {
        auto result = compute(track);
        benchmark::DoNotOptimize(result);
        if constexpr (std::is_same_v<decltype(result), std::vector<std::vector<Clip>>>) lanes = result.size();
    }
    state.counters["clips"] = double(track.clips.size());
    if (lanes) state.counters["lanes"] = double(lanes);
}

void EffectiveClips(benchmark::State& state)
{
    overlaps(state, [](const Track& track) { return track.effectiveClips(); });
}

void EffectiveClipsEveryPair(benchmark::State& state)
{
    overlaps(state, fixtures::everyPairFades);
}

// The floor: the copy of the clips that both hand back.
void ClipsCopyOnly(benchmark::State& state)
{
    overlaps(state, [](const Track& track) { return track.clips; });
}

void Lanes(benchmark::State& state)
{
    overlaps(state, [](const Track& track) { return track.lanes(); });
}

void LanesScanned(benchmark::State& state)
{
    overlaps(state, fixtures::firstFittingLanes);
}


} // namespace

BENCHMARK(DecodeSideFile)->Unit(benchmark::kMillisecond);
BENCHMARK(EncodeSideFile)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeAndReencodeSideFile)->Unit(benchmark::kMillisecond);
BENCHMARK(LibraryParseAndDumpOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(EffectiveClips)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(EffectiveClipsEveryPair)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(ClipsCopyOnly)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(Lanes)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(LanesScanned)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
