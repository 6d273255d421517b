// bench_editor: opening a 20-minute recording in the editor (1920 × 1080 at
// 30 fps with a key frame every 2 s, a 640 × 480 camera, two AAC sound
// tracks), generated once by the ffmpeg program into a cache folder:
// (1) the waveform peaks of one sound track, in times real time, beside the
//     ffmpeg program reading the same stream to 8 kHz mono float;
// (2) the 600 filmstrip pictures of the screen, made 30 at a time as the
//     editor does, beside the ffmpeg program decoding the key frames and
//     scaling them to 240 px;
// (3) building the composition, video composition and audio mix of 20
//     tracks × 500 clips;
// (4) EditorModel::load() of the same recording (no side file yet) to the
//     first frame the player shows, beside the ffmpeg program opening the
//     file and decoding its first frame.

#include "Ondexa/rendering/AudioMixBuilder.h"
#include "Ondexa/rendering/CompositionBuilder.h"
#include "Ondexa/rendering/MediaSource.h"
#include "Ondexa/rendering/Peaks.h"
#include "Ondexa/rendering/Thumbnails.h"

#ifdef ONDEXA_BENCH_EDITOR
#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/editing/WorkPools.h"
#endif

#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QSettings>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "support/RecordingFixture.h"
#include "support/RunProgram.h"

using namespace ondexa;
namespace fs = std::filesystem;

namespace {

constexpr int kMinutes = 20;
constexpr double kSeconds = kMinutes * 60.0;
constexpr int kTracks = 20;
constexpr int kClipsPerTrack = 500;
constexpr int kBuildRuns = 30;

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// One minute with all four streams, copied twenty times end to end: the
// encode runs once per minute of content, not per minute of recording.
fs::path recording()
{
    const fs::path dir = bench::cacheFolder();
    const fs::path movie = dir / "recording-20min.mov";
    if (fs::exists(movie)) return movie;
    fs::create_directories(dir);
    std::printf("generating %s once (takes a minute or two)\n", movie.c_str());
    std::fflush(stdout);
    const fs::path minute = dir / "minute.mov";
    std::vector<std::string> args = bench::recordingArguments(60);
    args.insert(args.end(), {"-keyint_min", "60", "-sc_threshold", "0", "-threads", "4", "-c:a", "aac", "-b:a", "256k",
                             minute.string()});
    bench::ffmpeg(args);
    const fs::path list = dir / "minutes.txt";
    {
        std::FILE* f = std::fopen(list.c_str(), "w");
        if (!f) throw std::runtime_error("cannot write " + list.string());
        for (int i = 0; i < kMinutes; ++i) std::fprintf(f, "file '%s'\n", minute.c_str());
        std::fclose(f);
    }
    const fs::path partial = dir / "recording-partial.mov";
    bench::ffmpeg({"-f", "concat", "-safe", "0", "-i", list.string(), "-map", "0", "-c", "copy", partial.string()});
    fs::rename(partial, movie);
    fs::remove(minute);
    fs::remove(list);
    return movie;
}

std::string fmt(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

void row(const char* label, const std::string& ours, const std::string& theirs, const std::string& ratio)
{
    std::printf("  %-44s %12s %12s %10s\n", label, ours.c_str(), theirs.c_str(), ratio.c_str());
    std::fflush(stdout);
}

// 20 tracks of 500 clips each, alternating screen, camera and the two sound
// tracks, with overlaps every tenth clip (a second lane) and fades.
std::vector<Track> bigTimeline(const std::string& path)
{
    std::vector<Track> tracks;
    for (int t = 0; t < kTracks; ++t) {
        Track track;
        const int kind = t % 4;
        track.media = kind < 2 ? MediaRef{path, MediaKind::video, kind} : MediaRef{path, MediaKind::audio, kind - 2};
        track.fromRecording = t < 4;
        track.maximize = kind == 2;
        double at = 0;
        for (int c = 0; c < kClipsPerTrack; ++c) {
            Clip clip;
            clip.start = at;
            clip.duration = 2.0;
            clip.sourceStart = std::fmod(c * 2.37 + t, kSeconds - 3);
            if (c % 10 == 9) clip.start -= 0.5;  // a transition's overlap
            clip.fadeIn = c % 7 == 0 ? 0.3 : 0;
            at = clip.start + clip.duration;
            track.clips.push_back(clip);
        }
        tracks.push_back(std::move(track));
    }
    return tracks;
}

#ifdef ONDEXA_BENCH_EDITOR
constexpr int kLoadRuns = 5;

// Seconds from load() to the first non-null frame of the player, for an
// editor over a link to `movie` in a folder of its own (so each run starts
// without a side file and writes its own).
double loadToFirstFrame(const fs::path& movie, const fs::path& folder)
{
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path link = folder / "recording.mov";
    fs::create_symlink(movie, link);
    auto settings = std::make_unique<QSettings>(QString::fromStdString((folder / "settings.ini").string()),
                                                QSettings::IniFormat);
    double shown = -1;
    QElapsedTimer clock;
    {
        EditorModel model(link, std::move(settings));
        QEventLoop loop;
        QObject::connect(&model.player(), &platform::Player::frameChanged, &loop, [&](const QImage& frame) {
            if (frame.isNull() || shown >= 0) return;
            shown = double(clock.nsecsElapsed()) / 1e9;
            loop.quit();
        });
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        clock.start();
        model.load([&] {
            if (model.loadError()) {
                std::fprintf(stderr, "load failed: %s\n", model.loadError()->c_str());
                loop.quit();
            }
        });
        loop.exec();
        if (shown < 0) throw std::runtime_error("the editor showed no frame within 60 s");
    }
    // The closed editor's peaks and filmstrip work still running would
    // weigh on the next run.
    waitForBackgroundWork();
    fs::remove_all(folder);
    return shown;
}
#endif

} // namespace

int main(int argc, char** argv)
{
    bool withFfmpeg = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-ffmpeg") == 0) withFfmpeg = false;
        else {
            std::fprintf(stderr, "usage: bench_editor [--no-ffmpeg]\n");
            return 2;
        }
    }
    try {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication app(argc, argv);
        const fs::path movie = recording();
        const auto source = loadMediaSource(movie);
        if (!source || source->video.empty() || source->audio.size() < 2)
            throw std::runtime_error("the generated recording lacks streams: " + movie.string());

        std::printf("bench_editor: %u cores; %s (%.0f s)\n", std::thread::hardware_concurrency(), movie.c_str(),
                    source->video[0].range.duration.seconds());
        std::printf("  %-44s %12s %12s %10s\n", "", "ours", "ffmpeg", "ours/ff");

        // (1) Peaks of the first sound track.
        std::printf("(1) peaks of one AAC sound track (48 kHz stereo) at 8 kHz mono float\n");
        double t0 = now();
        const std::vector<float> peaks = computePeaks(*source->asset, source->audio[0].stream);
        const double peakWall = now() - t0;
        const double oursX = kSeconds / peakWall;
        if (withFfmpeg) {
            const auto f = bench::runProgram({"ffmpeg", "-nostdin", "-v", "error", "-i", movie.string(), "-map",
                                              "0:a:0", "-ac", "1", "-ar", "8000", "-c:a", "pcm_f32le", "-f", "f32le",
                                              "-y", "/dev/null"});
            const double theirsX = kSeconds / f.wall;
            row("times real time (goal >= 200)", fmt("%.0f", oursX), fmt("%.0f", theirsX), fmt("%.2f", oursX / theirsX));
        } else {
            row("times real time (goal >= 200)", fmt("%.0f", oursX), "", "");
        }
        row("peaks (50 a second)", fmt("%.0f", double(peaks.size())), "", fmt("of %.0f", kSeconds * 50));

        // (2) The screen's filmstrip.
        std::printf("(2) filmstrip of the 1080p screen: 600 pictures of 240 px, 30 at a time\n");
        const ThumbnailPlan plan = planThumbnails(source->video[0].range);
        std::size_t made = 0;
        t0 = now();
        for (const auto& batch : plan.batches)
            made += makeThumbnails(*source->asset, source->video[0].stream, batch, plan.tolerance).size();
        const double stripWall = now() - t0;
        if (withFfmpeg) {
            const auto f = bench::runProgram({"ffmpeg", "-nostdin", "-v", "error", "-skip_frame", "nokey", "-i",
                                              movie.string(), "-map", "0:v:0", "-fps_mode", "passthrough", "-vf",
                                              "scale=240:-2:flags=bicubic", "-pix_fmt", "bgra", "-f", "null", "-"});
            row("seconds (goal <= 10)", fmt("%.2f", stripWall), fmt("%.2f", f.wall), fmt("%.2f", stripWall / f.wall));
        } else {
            row("seconds (goal <= 10)", fmt("%.2f", stripWall), "", "");
        }
        row("pictures made", fmt("%.0f", double(made)), "", "");

        // (3) Building.
        std::printf("(3) building %d tracks x %d clips: composition, video composition, audio mix\n", kTracks,
                    kClipsPerTrack);
        MediaSources sources;
        sources.emplace(movie.string(), *source);
        const std::vector<Track> tracks = bigTimeline(movie.string());
        PeakMap peakMap{{MediaRef{movie.string(), MediaKind::audio, 0}, peaks}};
        RenderSettings settings;
        settings.tracks = tracks;
        settings.sources = &sources;
        settings.peaks = &peakMap;
        std::vector<double> composition, whole;
        for (int run = 0; run < kBuildRuns; ++run) {
            t0 = now();
            const Built built = makeComposition(settings);
            const double t1 = now();
            const auto video = makeVideoComposition(built, settings, true);
            const auto mix = makeAudioMix(built, settings);
            const double t2 = now();
            composition.push_back((t1 - t0) * 1000);
            whole.push_back((t2 - t0) * 1000);
            if (run == 0 && (built.videoTrackIDs.empty() || built.audio.empty() || video->instructions.empty() || !mix))
                throw std::runtime_error("the big timeline built nothing");
        }
        std::sort(composition.begin(), composition.end());
        std::sort(whole.begin(), whole.end());
        row("ms, median: all three (goal <= 16)", fmt("%.2f", whole[whole.size() / 2]), "", "");
        row("ms, median: the composition alone", fmt("%.2f", composition[composition.size() / 2]), "", "");
        row("ms, slowest of the runs", fmt("%.2f", whole.back()), "", "");

#ifdef ONDEXA_BENCH_EDITOR
        std::printf("(4) EditorModel::load() to the first frame shown, %d runs\n", kLoadRuns);
        std::vector<double> loads;
        const fs::path folder = fs::temp_directory_path() / ("bench-editor-load-" + std::to_string(getpid()));
        for (int run = 0; run < kLoadRuns; ++run) loads.push_back(loadToFirstFrame(movie, folder));
        std::sort(loads.begin(), loads.end());
        const double median = loads[loads.size() / 2];
        if (withFfmpeg) {
            const auto f = bench::runProgram({"ffmpeg", "-nostdin", "-v", "error", "-i", movie.string(), "-map",
                                              "0:v:0", "-frames:v", "1", "-f", "null", "-"});
            row("seconds, median (goal <= 1)", fmt("%.3f", median), fmt("%.3f", f.wall), fmt("%.2f", median / f.wall));
        } else {
            row("seconds, median (goal <= 1)", fmt("%.3f", median), "", "");
        }
        row("seconds, slowest of the runs", fmt("%.3f", loads.back()), "", "");
#else
        std::printf("(4) load() to the first frame shown: not measured (the editor library is not built)\n");
#endif
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_editor: %s\n", e.what());
        return 1;
    }
    return 0;
}
