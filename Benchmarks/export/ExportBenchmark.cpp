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
//
// Then the size and quality of both codecs on the first kQualitySeconds of
// the edit: PSNR and SSIM (the ffmpeg program's filters) against the frames
// the compositor draws, converted to 4:2:0 as the export converts them and
// kept losslessly (FFV1) for the comparison.

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/editing/WorkPools.h"
#include "Ondexa/rendering/CompositionBuilder.h"
#include "Platform/media/CompositionRenderer.h"
#include "Platform/media/EncoderPictures.h"
#include "Platform/media/EncoderSupport.h"

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
constexpr double kQualitySeconds = 10;

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

// Opens the recording in the editor and maximizes its sound tracks; the
// peaks (the maximizer's gain) and the filmstrip are made first, so that they
// neither run beside the export nor are missing from it.
void openEdit(EditorModel& model)
{
    bool loaded = false;
    model.load([&] { loaded = true; });
    if (!runUntil([&] { return loaded; }, 120000) || model.loadError())
        throw std::runtime_error("the editor could not open the recording: " + model.loadError().value_or("(time limit)"));
    std::vector<Track> tracks = model.tracks();
    int sound = 0;
    for (Track& track : tracks)
        if (track.media.kind == MediaKind::audio) track.maximize = true, ++sound;
    if (sound != 2) throw std::runtime_error("the recording should have two sound tracks");
    model.commit(std::move(tracks));
    waitForBackgroundWork();
    runUntil([&] { return model.peaks().size() >= 2; }, 60000);
    waitForBackgroundWork();
    runUntil([] { return false; }, 100);
}

// The frames of the first `seconds` of the edit as the export draws them
// (the same composition, size and frame times) and converts them for the
// encoder (the same 4:2:0 conversion), written losslessly to `file`.
void writeReference(const EditorModel& model, double seconds, const fs::path& file)
{
    using Options = EditorModel::ExportOptions;
    const RenderSettings settings = model.renderSettings();
    const ExportExtent extent = model.exportExtent(Options::Range::all);
    const Built built = makeComposition(settings, extent.tracks);
    const QSize size = model.exportSize(Options::Size::original);
    const auto video = makeVideoComposition(built, settings, false, size, extent.tracks);
    const platform::MediaTime step = video->effectiveFrameDuration();
    // The frames as the export hands them to its encoder: composed the way an
    // export composes (sources drawn 1:1 stay as decoded) and made into the
    // encoder's pictures by the same code.
    platform::CompositionRenderer renderer(built.composition, video, std::make_shared<platform::FrameCache>(96u << 20),
                                           platform::CompositionRenderer::Reading::asExport);
    platform::EncoderPictures pictures(size);

    const std::string command = "ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt yuv420p -s " +
                                std::to_string(size.width()) + "x" + std::to_string(size.height()) + " -framerate " +
                                std::to_string(step.timescale()) + "/" + std::to_string(step.value()) +
                                " -i - -c:v ffv1 -level 3 -slices 16 '" + file.string() + "'";
    FILE* pipe = popen(command.c_str(), "w");
    if (!pipe) throw std::runtime_error("the ffmpeg program could not be started");
    const int w = size.width();
    const int h = size.height();
    bool written = true;
    for (std::int64_t k = 0; written && double(k) * step.seconds() < seconds - 1e-9; ++k) {
        const auto picture = pictures.picture(renderer.composedAt(platform::MediaTime(step.value() * k, step.timescale())));
        for (int plane = 0; plane < 3 && written; ++plane) {
            const int rows = plane == 0 ? h : h / 2;
            const int bytes = plane == 0 ? w : w / 2;
            for (int y = 0; y < rows && written; ++y)
                written = std::fwrite(picture->data[plane] + std::ptrdiff_t(y) * picture->linesize[plane], 1,
                                      std::size_t(bytes), pipe) == std::size_t(bytes);
        }
    }
    if (pclose(pipe) != 0 || !written) throw std::runtime_error("the reference frames could not be written");
}

// The child: opens the edit, exports it (the first `seconds` only when not
// 0) as "h264" or "hevc", or writes those frames as the "reference", and
// writes "wall cpu bytes" of that work alone to `result`; the file is kept as
// `keep` when that is given.
int child(const std::string& mode, const fs::path& movie, const fs::path& result, double seconds,
          const fs::path& keep)
{
    av_log_set_level(AV_LOG_ERROR);
    const fs::path folder = fs::temp_directory_path() / ("bench-export-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path link = folder / "recording.mov";
    fs::create_symlink(movie, link);
    const fs::path out = folder / (mode == "reference" ? "out.mkv" : "out.mp4");
    int status = 1;
    {
        auto settings = std::make_unique<QSettings>(QString::fromStdString((folder / "settings.ini").string()),
                                                    QSettings::IniFormat);
        EditorModel model(link, std::move(settings));
        openEdit(model);

        const double cpu0 = cpuSeconds();
        QElapsedTimer clock;
        clock.start();
        std::optional<bool> written;
        if (mode == "reference") {
            writeReference(model, seconds, out);
            written = true;
        } else {
            EditorModel::ExportOptions options;
            if (seconds > 0) {
                model.setMarkIn(0.0);
                model.setMarkOut(seconds);
                options.range = EditorModel::ExportOptions::Range::marks;
            }
            options.size = EditorModel::ExportOptions::Size::original;
            options.encoding = mode == "hevc" ? EditorModel::ExportOptions::Encoding::normal
                                              : EditorModel::ExportOptions::Encoding::fast;
            options.format = EditorModel::ExportOptions::Format::mp4;
            model.exportTo(out, options, [&](bool ok) { written = ok; });
            runUntil([&] { return written.has_value(); }, 3600 * 1000);
        }
        const double wall = double(clock.nsecsElapsed()) / 1e9;
        const double cpu = cpuSeconds() - cpu0;
        if (written != true) {
            std::fprintf(stderr, "export failed: %s\n", model.exportError().value_or("").c_str());
        } else {
            std::ofstream(result) << wall << " " << cpu << " " << fs::file_size(out) << "\n";
            if (!keep.empty()) fs::rename(out, keep);
            status = 0;
        }
    }
    fs::remove_all(folder);
    return status;
}

struct Cost {
    double wall = 0;
    double cpu = 0;
    double bytes = 0;  // of the file written
};

// `mode` as child() takes it.
Cost ours(const std::string& self, const fs::path& movie, const std::string& mode, bool twoCores,
          double seconds = 0, const fs::path& keep = {})
{
    const fs::path result = fs::temp_directory_path() / ("bench-export-result-" + std::to_string(getpid()));
    fs::remove(result);
    std::vector<std::string> argv{self,           "--child", mode, movie.string(), result.string(),
                                  std::to_string(seconds), keep.string()};
    if (twoCores) argv.insert(argv.begin(), {"taskset", "-c", "0,1"});
    bench::runProgram(argv, false);
    Cost cost;
    std::ifstream(result) >> cost.wall >> cost.cpu >> cost.bytes;
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
        argv.insert(argv.end(), {"-c:v", "libx265", "-profile:v", "main", "-preset", "slow", "-crf", "23", "-tag:v",
                                 "hvc1", "-x265-params", "log-level=error:tskip=1:qcomp=0.8:psy-rd=0:psy-rdoq=0:rd=6"});
    else
        argv.insert(argv.end(), {"-c:v", "libx264", "-profile:v", "high", "-preset", "fast", "-crf", "18"});
    argv.insert(argv.end(), {"-pix_fmt", "yuv420p", "-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc",
                             "bt709", "-color_range", "tv", "-c:a", "aac", "-b:a", "192k", "-ar", "48000", "-ac", "2",
                             out.string()});
    if (twoCores) argv.insert(argv.begin(), {"taskset", "-c", "0,1"});
    const auto r = bench::runProgram(argv);
    const double bytes = double(fs::file_size(out));
    fs::remove(out);
    return {r.wall, r.cpu, bytes};
}

// Whether every speed row so far is at least the ffmpeg program's speed with no more CPU.
bool goalMet = true;

void row(const char* label, const Cost& o, const Cost& t)
{
    goalMet = goalMet && o.wall <= t.wall && o.cpu <= t.cpu;
    const double oursX = kSeconds / o.wall;
    const double theirsX = kSeconds / t.wall;
    std::printf("  %-34s %9.2f %9.2f %8.2f   %7.1f %7.1f   %6.1f %6.1f\n", label, oursX, theirsX, oursX / theirsX,
                o.cpu, t.cpu, o.bytes / 1e6, t.bytes / 1e6);
    std::fflush(stdout);
}

struct Quality {
    double psnr = 0;  // dB, of the mean squared error over every frame and plane
    double ssim = 0;  // over every frame, the planes weighted by their size
};

// What follows the last `key` in `text`, as a number.
double numberAfter(const std::string& text, const std::string& key)
{
    const auto at = text.rfind(key);
    if (at == std::string::npos) throw std::runtime_error("the ffmpeg program printed no " + key);
    return std::strtod(text.c_str() + at + key.size(), nullptr);
}

// Frame by frame in order (the time stamps are set to the frame numbers).
Quality quality(const fs::path& file, const fs::path& reference)
{
    const std::string command =
        "ffmpeg -nostdin -hide_banner -i '" + file.string() + "' -i '" + reference.string() +
        "' -filter_complex '[0:v]settb=1/30,setpts=N,split[a][b];[1:v]settb=1/30,setpts=N,split[c][d];"
        "[a][c]psnr;[b][d]ssim' -f null - 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("the ffmpeg program could not be started");
    std::string text;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, n);
    if (pclose(pipe) != 0) throw std::runtime_error("the ffmpeg program could not compare " + file.string());
    return {numberAfter(text, "average:"), numberAfter(text, "All:")};
}

void qualityRows(const std::string& self, const fs::path& movie)
{
    const fs::path folder = fs::temp_directory_path() / ("bench-export-quality-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path reference = folder / "reference.mkv";
    ours(self, movie, "reference", false, kQualitySeconds, reference);
    std::printf("first %.0f s against the composed frames (4:2:0, lossless):\n", kQualitySeconds);
    std::printf("  %-34s %9s %9s %8s   %7s\n", "", "MB", "PSNR dB", "SSIM", "cpu s");
    for (const auto& [mode, label] : {std::pair{"h264", "H.264"}, std::pair{"hevc", "HEVC"}}) {
        const fs::path file = folder / (std::string(mode) + ".mp4");
        const Cost cost = ours(self, movie, mode, false, kQualitySeconds, file);
        const Quality q = quality(file, reference);
        std::printf("  %-34s %9.2f %9.2f %8.5f   %7.1f\n", label, cost.bytes / 1e6, q.psnr, q.ssim, cost.cpu);
        std::fflush(stdout);
    }
    fs::remove_all(folder);
}

} // namespace

int main(int argc, char** argv)
{
    try {
        if (argc == 7 && std::strcmp(argv[1], "--child") == 0) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            QGuiApplication app(argc, argv);
            return child(argv[2], argv[3], argv[4], std::strtod(argv[5], nullptr), argv[6]);
        }
        const bool qualityOnly = argc == 2 && std::strcmp(argv[1], "--quality") == 0;
        const bool h264Only = argc == 2 && std::strcmp(argv[1], "--h264") == 0;
        if (argc != 1 && !qualityOnly && !h264Only) {
            std::fprintf(stderr, "usage: bench_export [--quality | --h264]   (--quality: the size and quality part "
                                 "alone; --h264: the H.264 speed rows alone)\n");
            return 2;
        }
        const std::string self = fs::read_symlink("/proc/self/exe").string();
        const fs::path movie = recording();
        std::printf("bench_export: %ld cores; %s (%.0f s): exported at 1920 x 1080 as MP4\n",
                    sysconf(_SC_NPROCESSORS_ONLN), movie.c_str(), kSeconds);
        if (!qualityOnly) {
            std::printf("  %-34s %9s %9s %8s   %7s %7s   %6s %6s\n", "times real time (goal >= 2 on 8)", "ours",
                        "ffmpeg", "ours/ff", "cpu s", "ff cpu", "MB", "ff MB");
            row("H.264, all cores", ours(self, movie, "h264", false), theirs(movie, "h264", false));
            row("H.264, taskset -c 0,1", ours(self, movie, "h264", true), theirs(movie, "h264", true));
            if (!h264Only) row("HEVC, all cores", ours(self, movie, "hevc", false), theirs(movie, "hevc", false));
            std::printf("  goal: every row at least the ffmpeg program's speed (ours/ff >= 1) with no more CPU: %s\n",
                        goalMet ? "met" : "not met");
            if (h264Only) return 0;
        }
        qualityRows(self, movie);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_export: %s\n", e.what());
        return 1;
    }
    return 0;
}
