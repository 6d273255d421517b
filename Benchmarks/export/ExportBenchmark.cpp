// bench_export: a 60 s recording (1920 × 1080 at 30 fps, a 640 × 480 camera,
// two AAC sound tracks), generated once by the ffmpeg program into a cache
// folder, opened in the editor (camera as picture-in-picture, both sound
// tracks maximized) and exported at its own size, in times real time:
//   H.264 MP4 on all cores and under `taskset -c 0,1`, and HEVC on all cores,
// each beside the ffmpeg program encoding the same recording through a
// comparable filter graph (the camera scaled and overlaid where the editor
// puts it, the two tracks mixed with amix) with the same encoder settings.
//
// Every export runs in a child process of its own (this program again, with
// --child), so ours and the ffmpeg program start equally cold and taskset
// binds all of it.

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/editing/WorkPools.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QSettings>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

#include "support/RecordingFixture.h"
#include "support/RunProgram.h"

using namespace ondexa;
namespace fs = std::filesystem;

namespace {

constexpr double kSeconds = 60;

// Where the editor puts a fresh recording's camera on a 1920 × 1080 screen:
// 0.34 of the width, centred, at the camera's 4:3.
constexpr const char* kOverlayGraph =
    "[0:v:1]scale=652:490[cam];[0:v:0][cam]overlay=634:295[v];[0:a:0][0:a:1]amix=inputs=2[a]";

fs::path recording()
{
    const fs::path dir = bench::cacheFolder();
    const fs::path movie = dir / "recording-60s.mov";
    if (fs::exists(movie)) return movie;
    fs::create_directories(dir);
    std::printf("generating %s once (takes a minute)\n", movie.c_str());
    std::fflush(stdout);
    const fs::path partial = dir / "recording-partial.mov";
    std::vector<std::string> args = bench::recordingArguments(int(kSeconds));
    args.insert(args.end(), {"-c:a", "aac", "-b:a", "256k", partial.string()});
    bench::ffmpeg(args);
    fs::rename(partial, movie);
    return movie;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return bench::secondsOf(usage.ru_utime) + bench::secondsOf(usage.ru_stime);
}

bool runUntil(const std::function<bool()>& done, int limitMs)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    poll.start(5);
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    if (!done()) loop.exec();
    return done();
}

// The child: opens the recording in the editor, maximizes its sound tracks,
// lets the background work settle, exports, and writes "wall cpu" seconds of
// the export alone to `result`.
int child(const std::string& encoding, const fs::path& movie, const fs::path& result)
{
    av_log_set_level(AV_LOG_ERROR);
    const fs::path folder = fs::temp_directory_path() / ("bench-export-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path link = folder / "recording.mov";
    fs::create_symlink(movie, link);
    int status = 1;
    {
        auto settings = std::make_unique<QSettings>(QString::fromStdString((folder / "settings.ini").string()),
                                                    QSettings::IniFormat);
        EditorModel model(link, std::move(settings));
        bool loaded = false;
        model.load([&] { loaded = true; });
        if (!runUntil([&] { return loaded; }, 120000) || model.loadError())
            throw std::runtime_error("the editor could not open the recording");
        std::vector<Track> tracks = model.tracks();
        int sound = 0;
        for (Track& track : tracks)
            if (track.media.kind == MediaKind::audio) track.maximize = true, ++sound;
        if (sound != 2) throw std::runtime_error("the recording should have two sound tracks");
        model.commit(std::move(tracks));
        // Peaks (the maximizer's gain) and the filmstrip are made first, so
        // that they neither run beside the export nor are missing from it.
        waitForBackgroundWork();
        runUntil([&] { return model.peaks().size() >= 2; }, 60000);
        waitForBackgroundWork();
        runUntil([] { return false; }, 100);

        EditorModel::ExportOptions options;
        options.size = EditorModel::ExportOptions::Size::original;
        options.encoding = encoding == "hevc" ? EditorModel::ExportOptions::Encoding::normal
                                              : EditorModel::ExportOptions::Encoding::fast;
        options.format = EditorModel::ExportOptions::Format::mp4;
        std::optional<bool> written;
        const double cpu0 = cpuSeconds();
        QElapsedTimer clock;
        clock.start();
        model.exportTo(folder / "out.mp4", options, [&](bool ok) { written = ok; });
        runUntil([&] { return written.has_value(); }, 3600 * 1000);
        const double wall = double(clock.nsecsElapsed()) / 1e9;
        const double cpu = cpuSeconds() - cpu0;
        if (written != true) {
            std::fprintf(stderr, "export failed: %s\n", model.exportError().value_or("").c_str());
        } else {
            std::ofstream(result) << wall << " " << cpu << "\n";
            status = 0;
        }
    }
    fs::remove_all(folder);
    return status;
}

struct Cost {
    double wall = 0;
    double cpu = 0;
};

Cost ours(const std::string& self, const fs::path& movie, const std::string& encoding, bool twoCores)
{
    const fs::path result = fs::temp_directory_path() / ("bench-export-result-" + std::to_string(getpid()));
    fs::remove(result);
    std::vector<std::string> argv{self, "--child", encoding, movie.string(), result.string()};
    if (twoCores) argv.insert(argv.begin(), {"taskset", "-c", "0,1"});
    bench::runProgram(argv, false);
    Cost cost;
    std::ifstream(result) >> cost.wall >> cost.cpu;
    fs::remove(result);
    if (cost.wall <= 0) throw std::runtime_error("the export child gave no result");
    return cost;
}

Cost theirs(const fs::path& movie, const std::string& encoding, bool twoCores)
{
    const fs::path out = fs::temp_directory_path() / ("bench-export-ffmpeg-" + std::to_string(getpid()) + ".mp4");
    std::vector<std::string> argv{"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", movie.string(),
                                  "-filter_complex", kOverlayGraph, "-map", "[v]", "-map", "[a]"};
    if (encoding == "hevc")
        argv.insert(argv.end(), {"-c:v", "libx265", "-profile:v", "main", "-preset", "fast", "-crf", "22", "-tag:v",
                                 "hvc1", "-x265-params", "log-level=error"});
    else
        argv.insert(argv.end(), {"-c:v", "libx264", "-profile:v", "high", "-preset", "fast", "-crf", "18"});
    argv.insert(argv.end(), {"-pix_fmt", "yuv420p", "-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc",
                             "bt709", "-color_range", "tv", "-c:a", "aac", "-b:a", "192k", "-ar", "48000", "-ac", "2",
                             out.string()});
    if (twoCores) argv.insert(argv.begin(), {"taskset", "-c", "0,1"});
    const auto r = bench::runProgram(argv);
    fs::remove(out);
    return {r.wall, r.cpu};
}

void row(const char* label, const Cost& o, const Cost& t)
{
    const double oursX = kSeconds / o.wall;
    const double theirsX = kSeconds / t.wall;
    std::printf("  %-34s %9.2f %9.2f %8.2f   %7.1f %7.1f\n", label, oursX, theirsX, oursX / theirsX, o.cpu, t.cpu);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    try {
        if (argc == 5 && std::strcmp(argv[1], "--child") == 0) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            QGuiApplication app(argc, argv);
            return child(argv[2], argv[3], argv[4]);
        }
        if (argc != 1) {
            std::fprintf(stderr, "usage: bench_export\n");
            return 2;
        }
        const std::string self = fs::read_symlink("/proc/self/exe").string();
        const fs::path movie = recording();
        std::printf("bench_export: %ld cores; %s (%.0f s): exported at 1920 x 1080 as MP4\n",
                    sysconf(_SC_NPROCESSORS_ONLN), movie.c_str(), kSeconds);
        std::printf("  %-34s %9s %9s %8s   %7s %7s\n", "times real time (goal >= 2 on 8)", "ours", "ffmpeg",
                    "ours/ff", "cpu s", "ff cpu");
        row("H.264, all cores", ours(self, movie, "h264", false), theirs(movie, "h264", false));
        row("H.264, taskset -c 0,1", ours(self, movie, "h264", true), theirs(movie, "h264", true));
        row("HEVC, all cores", ours(self, movie, "hevc", false), theirs(movie, "hevc", false));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_export: %s\n", e.what());
        return 1;
    }
    return 0;
}
