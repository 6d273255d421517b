// bench_player: (1) 10 s of real-time playback of a 1920 × 1080 at 30 fps
// composition with two video lanes, both drawn by the EditCompositor (lane 2
// as a rounded picture-in-picture over lane 1), and two sound tracks each
// through a maximizer tap, on the test desktop's PulseAudio: frames dropped
// and CPU seconds per played second. Beside it, the ffmpeg program decoding
// the same two files, overlaying and mixing them with a limiter to null.
// (2) An offline mix of 8 maximized sound tracks of 60 s through AudioMixer:
// times real time, beside ffmpeg's amix + alimiter of the same files. (3) The
// same with 8 lanes of one file at different offsets (decoded once by us).
// --playback or --mix runs one part; --rounds N repeats each, ours and the
// ffmpeg program in turn, and prints the median (for a busy machine).
//
// The test desktop is started on its own display (ONDEXA_DESKTOP_DISPLAY,
// default 98) unless one already runs there, and stopped afterwards.

#include "Ondexa/rendering/Dynamics.h"
#include "Ondexa/rendering/EditCompositor.h"
#include "Ondexa/rendering/EditInstruction.h"
#include "Platform/media/Asset.h"
#include "Platform/media/AudioMix.h"
#include "Platform/media/AudioMixer.h"
#include "Platform/media/Composition.h"
#include "Platform/media/Player.h"
#include "Platform/media/PlayerItem.h"
#include "Platform/media/VideoComposition.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/RunProgram.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
using platform::Composition;
using platform::MediaTime;
using platform::TimeRange;
using Kind = Composition::TrackKind;

namespace {

constexpr double kPlaySeconds = 10;
constexpr double kMixSeconds = 60;
constexpr int kMixTracks = 8;
constexpr float kPreGain = 2;  // +6 dB: enough to keep the limiter busy

double seconds(const timeval& t)
{
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

double cpuNow()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double wallNow()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

using Measure = bench::ProgramCost;

// Runs a program; with exitCode set, its failure is returned, not thrown.
Measure runProgram(const std::vector<std::string>& argv, bool quiet = true, int* exitCode = nullptr)
{
    const Measure m = bench::runProgram(argv, quiet, exitCode == nullptr);
    if (exitCode) *exitCode = m.exitCode;
    return m;
}

void ffmpeg(std::vector<std::string> args)
{
    args.insert(args.begin(), {"ffmpeg", "-nostdin", "-v", "error", "-y"});
    runProgram(args);
}

// The test desktop for the player's sound; stopped on destruction when this
// program started it.
class Desktop {
public:
    Desktop()
    {
        if (!std::getenv("ONDEXA_DESKTOP_DISPLAY")) setenv("ONDEXA_DESKTOP_DISPLAY", "98", 1);
        int code = 0;
        runProgram({script_, "status"}, true, &code);
        wasRunning_ = code == 0;
        runProgram({script_, "start"}, false, &code);
        if (code != 0) throw std::runtime_error("the test desktop did not start");
        std::ifstream env("/tmp/ondexa-desktop-" + std::string(std::getenv("ONDEXA_DESKTOP_DISPLAY")) + "/env");
        if (const char* state = std::getenv("ONDEXA_DESKTOP_STATE")) env = std::ifstream(std::string(state) + "/env");
        std::string line;
        while (std::getline(env, line)) {
            const auto eq = line.find('=');
            if (line.rfind("export ", 0) != 0 || eq == std::string::npos) continue;
            setenv(line.substr(7, eq - 7).c_str(), line.substr(eq + 1).c_str(), 1);
        }
        if (!std::getenv("PULSE_SERVER")) throw std::runtime_error("the test desktop wrote no environment");
    }
    ~Desktop()
    {
        int code = 0;
        if (!wasRunning_) runProgram({script_, "stop"}, false, &code);
    }

private:
    const std::string script_ = std::string(ONDEXA_SOURCE_DIR) + "/scripts/desktop-session";
    bool wasRunning_ = false;
};

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "ondexa-bench-player-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// A 1080p30 H.264 movie as the recorder writes it (High, no B-frames, a key
// frame every 2 s) with AAC stereo sound: music-like noise at a modest level.
void makeMovie(const std::filesystem::path& file, const std::string& pattern, double tone)
{
    const std::string secs = std::to_string(int(kPlaySeconds) + 1);
    ffmpeg({"-f", "lavfi", "-i", pattern + "=s=1920x1080:r=30:d=" + secs, "-f", "lavfi", "-i",
            "aevalsrc=0.3*sin(2*PI*" + std::to_string(tone) + "*t)*(0.6+0.4*sin(2*PI*0.7*t))|0.3*sin(2*PI*" +
                std::to_string(tone * 1.5) + "*t):s=48000:d=" + secs,
            "-vf", "scale=out_color_matrix=bt709,format=yuv420p", "-c:v", "libx264", "-profile:v", "high", "-preset",
            "veryfast", "-bf", "0", "-g", "60", "-b:v", "12M", "-c:a", "aac", "-b:a", "192k", "-shortest",
            file.string()});
}

ondexa::Clip clipOver(double duration)
{
    ondexa::Clip clip;
    clip.start = 0;
    clip.duration = duration;
    clip.media = ondexa::MediaRef{"/rec/movie.mov", ondexa::MediaKind::video, 0};
    return clip;
}

struct Playback {
    double played = 0;         // seconds of the item's timeline
    double wall = 0;
    double cpu = 0;
    std::uint64_t dropped = 0;
    int shown = 0;             // frames handed to the view
    int errors = 0;
};

Playback play(const std::filesystem::path& a, const std::filesystem::path& b)
{
    const auto first = platform::Asset::open(a);
    const auto second = platform::Asset::open(b);
    const TimeRange span(MediaTime::zero(), MediaTime::fromSeconds(kPlaySeconds));

    auto composition = std::make_shared<Composition>();
    const std::int32_t lane1 = composition->addTrack(Kind::video);
    composition->insertTimeRange(lane1, first, first->videoStreams().at(0), span, MediaTime::zero());
    const std::int32_t lane2 = composition->addTrack(Kind::video);
    composition->insertTimeRange(lane2, second, second->videoStreams().at(0), span, MediaTime::zero());
    auto mix = std::make_shared<platform::AudioMix>();
    for (const auto& asset : {first, second}) {
        const std::int32_t sound = composition->addTrack(Kind::sound);
        composition->insertTimeRange(sound, asset, asset->audioStreams().at(0), span, MediaTime::zero());
        mix->parameters(sound).tap = ondexa::makeTap(kPreGain);
    }

    // Layers bottom first: lane 1 fitted to the whole frame, lane 2 a rounded
    // picture-in-picture in the lower right corner.
    auto layerOf = [](const ondexa::Clip& clip, std::int32_t track) {
        ondexa::VideoLayer layer;
        ondexa::VideoLayer::Pictures pictures;
        pictures.video[clip.id] = track;
        layer.content = pictures;
        layer.clips.push_back(clip);
        layer.outputAspect = 16.0 / 9.0;
        return layer;
    };
    ondexa::Clip camera = clipOver(kPlaySeconds);
    camera.frame = ondexa::NRect{0.64, 0.64, 0.32, 0.32};
    camera.rounded = true;
    auto state = std::make_shared<ondexa::RenderState>(
        std::vector{layerOf(clipOver(kPlaySeconds), lane1), layerOf(camera, lane2)}, std::vector<ondexa::ClickEvent>{},
        false, std::vector<ondexa::CursorSample>{}, std::nullopt);
    auto video = std::make_shared<platform::VideoComposition>();
    video->renderSize = QSize(1920, 1080);
    video->frameDuration = MediaTime(1, 30);
    video->instructions.push_back(
        std::make_shared<ondexa::EditInstruction>(span, std::vector<std::int32_t>{lane1, lane2}, state));
    video->compositorFactory = [] { return std::make_unique<ondexa::EditCompositor>(); };

    auto item = std::make_shared<platform::PlayerItem>(composition);
    item->setAudioMix(mix);
    item->setVideoComposition(video);

    Playback result;
    platform::Player player;
    QObject::connect(&player, &platform::Player::frameChanged, [&](const QImage& frame) {
        if (!frame.isNull()) ++result.shown;
    });
    QObject::connect(&player, &platform::Player::errorOccurred, [&](const QString& message) {
        ++result.errors;
        std::fprintf(stderr, "bench_player: %s\n", message.toStdString().c_str());
    });
    player.replaceCurrentItem(item);

    // Settle on the first frame before the clock starts.
    {
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (!player.currentFrame().isNull()) loop.quit();
        });
        QTimer::singleShot(10s, &loop, &QEventLoop::quit);
        poll.start(5);
        loop.exec();
    }
    const std::uint64_t droppedBefore = player.droppedFrames();
    result.shown = 0;

    const double cpu0 = cpuNow();
    const double wall0 = wallNow();
    {
        QEventLoop loop;
        QObject::connect(&player, &platform::Player::rateChanged, &loop, [&](double rate) {
            if (rate == 0) loop.quit();  // the end pauses
        });
        QTimer::singleShot(std::chrono::milliseconds(int(kPlaySeconds * 1000) + 5000), &loop, &QEventLoop::quit);
        player.play();
        loop.exec();
    }
    result.wall = wallNow() - wall0;
    result.cpu = cpuNow() - cpu0;
    result.played = player.currentTime().seconds();
    result.dropped = player.droppedFrames() - droppedBefore;
    player.replaceCurrentItem(nullptr);
    return result;
}

// The same work by the ffmpeg program as fast as it goes: both movies decoded,
// lane 2 scaled and laid over lane 1, converted to BGRA as our frames are;
// both sounds limited and mixed. CPU per second of media.
Measure playFfmpeg(const std::filesystem::path& a, const std::filesystem::path& b)
{
    return runProgram({"ffmpeg", "-nostdin", "-v", "error", "-t", std::to_string(kPlaySeconds), "-i", a.string(),
                       "-t", std::to_string(kPlaySeconds), "-i", b.string(), "-filter_complex",
                       "[1:v]scale=614:346[p];[0:v][p]overlay=1229:691,format=bgra[v];"
                       "[0:a]volume=2,alimiter=limit=0.89[x];[1:a]volume=2,alimiter=limit=0.89[y];"
                       "[x][y]amix=inputs=2:normalize=0[s]",
                       "-map", "[v]", "-map", "[s]", "-f", "null", "-"});
}

struct OfflineMix {
    double wall = 0;
    double cpu = 0;
    float peak = 0;
};

// Lanes of one stream in the third part start this far apart in the file.
constexpr double kLaneOffset = 0.25;
constexpr double kLaneSeconds = 50;

// With `apart` set, track i plays the file from i × kLaneOffset s for
// kLaneSeconds s (the lanes of one recording); else each from 0 for kMixSeconds.
OfflineMix mixOurs(const std::vector<std::filesystem::path>& files, bool taps, bool apart = false)
{
    auto composition = std::make_shared<Composition>();
    auto mix = std::make_shared<platform::AudioMix>();
    const double seconds = apart ? kLaneSeconds : kMixSeconds;
    std::vector<std::shared_ptr<const platform::Asset>> assets;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const auto asset = platform::Asset::open(files[i]);
        assets.push_back(asset);
        const TimeRange span(MediaTime::fromSeconds(apart ? kLaneOffset * double(i) : 0), MediaTime::fromSeconds(seconds));
        const std::int32_t track = composition->addTrack(Kind::sound);
        composition->insertTimeRange(track, asset, asset->audioStreams().at(0), span, MediaTime::zero());
        if (taps) mix->parameters(track).tap = ondexa::makeTap(kPreGain);
    }
    constexpr int block = platform::AudioMixer::maxFrames;
    std::vector<float> out(std::size_t(block) * platform::AudioMixer::channels);
    const std::int64_t total = std::int64_t(seconds * platform::AudioMixer::sampleRate);

    OfflineMix result;
    const double cpu0 = cpuNow();
    const double wall0 = wallNow();
    platform::AudioMixer mixer(composition);
    mixer.seek(MediaTime::zero());
    for (std::int64_t done = 0; done < total; done += block) {
        const int frames = int(std::min<std::int64_t>(block, total - done));
        mixer.mix(out.data(), frames, mix);
        for (int i = 0; i < frames * 2; ++i) result.peak = std::max(result.peak, std::abs(out[std::size_t(i)]));
    }
    result.wall = wallNow() - wall0;
    result.cpu = cpuNow() - cpu0;
    if (const auto error = mixer.takeError()) throw std::runtime_error(*error);
    return result;
}

Measure mixFfmpeg(const std::vector<std::filesystem::path>& files, bool apart = false)
{
    std::vector<std::string> argv{"ffmpeg", "-nostdin", "-v", "error"};
    std::string graph;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (apart)
            argv.insert(argv.end(), {"-ss", std::to_string(kLaneOffset * double(i)), "-t", std::to_string(kLaneSeconds)});
        argv.insert(argv.end(), {"-i", files[i].string()});
        const std::string n = std::to_string(i);
        graph.append("[").append(n).append(":a]aresample=48000,volume=2,alimiter=limit=0.89:attack=5[m");
        graph.append(n).append("];");
    }
    for (std::size_t i = 0; i < files.size(); ++i) graph.append("[m").append(std::to_string(i)).append("]");
    graph += "amix=inputs=" + std::to_string(files.size()) + ":normalize=0";
    argv.insert(argv.end(), {"-filter_complex", graph, "-f", "null", "-"});
    return runProgram(argv);
}

std::string fmt(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

void row(const char* label, const std::string& ours, const std::string& theirs, const std::string& ratio)
{
    std::printf("  %-40s %12s %12s %10s\n", label, ours.c_str(), theirs.c_str(), ratio.c_str());
}

// Playback beside the ffmpeg program, `rounds` times in turn so that a
// changing load on the machine falls on both sides alike.
void benchPlayback(const TempDir& dir, bool withFfmpeg, int rounds)
{
    const auto movieA = dir / "lane1.mov";
    const auto movieB = dir / "lane2.mov";
    makeMovie(movieA, "testsrc2", 330);
    makeMovie(movieB, "testsrc", 523);
    std::printf("(1) playback: 1080p30, two video lanes (EditCompositor, lane 2 picture-in-picture), two sound "
                "tracks with the maximizer\n");
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        if (rounds > 1) std::printf("  round %d\n", round + 1);
        const Playback p = play(movieA, movieB);
        const double cpuPerSecond = p.played > 0 ? p.cpu / p.played : NAN;
        row("played s in wall s", fmt("%.2f", p.played) + " in " + fmt("%.2f", p.wall), "", "");
        row("frames dropped (goal 0)", fmt("%.0f", double(p.dropped)), "", "");
        row("frames shown after the first", fmt("%.0f", p.shown), "", fmt("of %.0f", p.played * 30 - 1));
        if (withFfmpeg) {
            const Measure f = playFfmpeg(movieA, movieB);
            const double theirs = f.cpu / kPlaySeconds;
            ratios.push_back(cpuPerSecond / theirs);
            row("CPU s per played s (goal: ratio <= 1)", fmt("%.3f", cpuPerSecond), fmt("%.3f", theirs),
                fmt("%.2f", ratios.back()));
            row("ffmpeg as fast as it goes: times real time", "", fmt("%.1f", kPlaySeconds / f.wall), "");
        } else {
            row("CPU s per played s", fmt("%.3f", cpuPerSecond), "", "");
        }
        if (p.errors) std::printf("  playback reported %d errors\n", p.errors);
        std::fflush(stdout);
    }
    if (ratios.size() > 1) {
        std::sort(ratios.begin(), ratios.end());
        row("median CPU ratio of the rounds", "", "", fmt("%.2f", ratios[ratios.size() / 2]));
    }
}

void benchMix(const TempDir& dir, bool withFfmpeg, int rounds)
{
    // Eight 60 s AAC tracks, as an edit's sound lanes hold them: tones
    // with noise, each its own.
    std::vector<std::filesystem::path> sounds;
    for (int i = 0; i < kMixTracks; ++i) {
        const auto file = dir / ("sound" + std::to_string(i) + ".m4a");
        ffmpeg({"-f", "lavfi", "-i",
                "aevalsrc=0.25*sin(2*PI*" + std::to_string(200 + 90 * i) + "*t)+0.1*(random(0)-0.5)|0.25*sin(2*PI*" +
                    std::to_string(300 + 70 * i) + "*t)+0.1*(random(1)-0.5):s=48000:d=" +
                    std::to_string(int(kMixSeconds)),
                "-c:a", "aac", "-b:a", "192k", file.string()});
        sounds.push_back(file);
    }
    std::printf("(2) offline mix: %d maximized AAC sound tracks of %.0f s to 48 kHz stereo float\n", kMixTracks,
                kMixSeconds);
    std::vector<double> speeds;
    for (int round = 0; round < rounds; ++round) {
        if (rounds > 1) std::printf("  round %d\n", round + 1);
        const OfflineMix ours = mixOurs(sounds, true);
        const OfflineMix plain = mixOurs(sounds, false);
        const double oursX = kMixSeconds / ours.wall;
        speeds.push_back(oursX);
        if (withFfmpeg) {
            const Measure f = mixFfmpeg(sounds);
            const double theirsX = kMixSeconds / f.wall;
            row("times real time (goal >= 100)", fmt("%.0f", oursX), fmt("%.0f", theirsX), fmt("%.2f", oursX / theirsX));
            row("CPU s per mixed s", fmt("%.4f", ours.cpu / kMixSeconds), fmt("%.4f", f.cpu / kMixSeconds),
                fmt("%.2f", ours.cpu / f.cpu));
        } else {
            row("times real time (goal >= 100)", fmt("%.0f", oursX), "", "");
        }
        row("times real time without the taps", fmt("%.0f", kMixSeconds / plain.wall), "", "");
        if (withFfmpeg) {
            // What decoding alone costs the other side, for scale.
            std::vector<std::string> decode{"ffmpeg", "-nostdin", "-v", "error"};
            for (const auto& file : sounds) decode.insert(decode.end(), {"-i", file.string()});
            for (std::size_t i = 0; i < sounds.size(); ++i)
                decode.insert(decode.end(), {"-map", std::to_string(i) + ":a", "-f", "null", "-"});
            row("ffmpeg decoding the 8 only: times real time", "", fmt("%.0f", kMixSeconds / runProgram(decode).wall),
                "");
        }
        row("peak of the mix (ceiling 0.89 per track)", fmt("%.3f", ours.peak), "", "");
        std::fflush(stdout);
    }
    if (speeds.size() > 1) {
        std::sort(speeds.begin(), speeds.end());
        row("median times real time of the rounds", fmt("%.0f", speeds[speeds.size() / 2]), "", "");
    }

    // One recording's sound on 8 lanes, each 0.25 s later into the file: one
    // decode for all of them, where the ffmpeg program decodes each input.
    std::printf("(3) offline mix: %d maximized lanes of one AAC sound stream, %.2f s apart in it, %.0f s\n", kMixTracks,
                kLaneOffset, kLaneSeconds);
    const std::vector<std::filesystem::path> same(std::size_t(kMixTracks), sounds.front());
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        const OfflineMix ours = mixOurs(same, true, true);
        const double oursX = kLaneSeconds / ours.wall;
        if (withFfmpeg) {
            const Measure f = mixFfmpeg(same, true);
            const double theirsX = kLaneSeconds / f.wall;
            ratios.push_back(oursX / theirsX);
            row("times real time", fmt("%.0f", oursX), fmt("%.0f", theirsX), fmt("%.2f", ratios.back()));
        } else {
            row("times real time", fmt("%.0f", oursX), "", "");
        }
        std::fflush(stdout);
    }
    if (ratios.size() > 1) {
        std::sort(ratios.begin(), ratios.end());
        row("median ratio of the rounds", "", "", fmt("%.2f", ratios[ratios.size() / 2]));
    }
}

} // namespace

int main(int argc, char** argv)
{
    bool withFfmpeg = true;
    bool playback = true;
    bool offline = true;
    int rounds = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-ffmpeg") == 0) withFfmpeg = false;
        else if (std::strcmp(argv[i], "--playback") == 0) offline = false;
        else if (std::strcmp(argv[i], "--mix") == 0) playback = false;
        else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: bench_player [--no-ffmpeg] [--playback | --mix] [--rounds N]\n");
            return 2;
        }
    }
    try {
        Desktop desktop;
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication app(argc, argv);  // the compositor paints with QPainter

        TempDir dir;
        std::printf("bench_player: %u cores; PulseAudio at %s\n", std::thread::hardware_concurrency(),
                    std::getenv("PULSE_SERVER"));
        std::printf("  %-40s %12s %12s %10s\n", "", "ours", "ffmpeg", "ours/ff");
        if (playback) benchPlayback(dir, withFfmpeg, rounds);
        if (offline) benchMix(dir, withFfmpeg, rounds);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_player: %s\n", e.what());
        return 1;
    }
    return 0;
}
