// bench_timeline: playback over a large timeline panel. An offscreen window
// of 1600 × 900 holds the track headers and the timeline canvas with its
// playhead, over an edit of 20 tracks × 500 clips (picture and sound tracks
// in turn, clips overlapping their neighbours, two actions each) whose
// media is a real 30 s recording, so the waveform peaks and the filmstrip
// come from the editor's own loaders. Then 10 s of 30 Hz clock ticks at a
// zoom where the whole stretch stays in view (the view does not follow):
// per tick, the clock's change and the event processing that repaints what
// it moved; paintTimeline calls during the ticks (goal 0: the strip the
// playhead leaves is copied from the canvas's cache) and the area repainted
// per tick. Beside it, one full redraw of the canvas: what each tick would
// cost if playback redrew the timeline. Goal: under 2 ms per tick.

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/editing/WorkPools.h"
#include "Ondexa/timeline/PlayheadOverlay.h"
#include "Ondexa/timeline/TimelineCanvas.h"
#include "Ondexa/timeline/TrackHeaders.h"
#include "Ondexa/ui/Theme.h"
#include "support/RunProgram.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPaintEvent>
#include <QSettings>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <time.h>

using namespace ondexa;
namespace fs = std::filesystem;

namespace {

constexpr int kTracks = 20;
constexpr int kClips = 500;
constexpr int kTicks = 300;  // 10 s at 30 Hz
constexpr int kRedraws = 20;
constexpr double kPps = 100;  // 10 s = 1000 points: all of it on a 1389-point canvas

fs::path recording()
{
    const char* override = std::getenv("ONDEXA_BENCH_CACHE");
    const fs::path dir = override ? fs::path(override) : fs::path(ONDEXA_BENCH_CACHE);
    const fs::path movie = dir / "recording-30s.mov";
    if (fs::exists(movie)) return movie;
    fs::create_directories(dir);
    const fs::path partial = dir / "recording-partial.mov";
    bench::runProgram({"ffmpeg", "-nostdin", "-v", "error", "-y",
                       "-f", "lavfi", "-i", "testsrc2=s=1280x720:r=30:d=30",
                       "-f", "lavfi", "-i", "aevalsrc=0.4*sin(2*PI*220*t)*(0.5+0.5*sin(2*PI*0.7*t)):s=48000:d=30",
                       "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-g", "30",
                       "-c:a", "aac", "-f", "mov", partial.string()});
    fs::rename(partial, movie);
    return movie;
}

bool runUntil(const std::function<bool()>& done, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Picture and sound tracks in turn; clips of 2.5 s every 2 s (0.5 s overlaps),
// each with a scaling action and a volume action, sources within the 30 s file.
std::vector<Track> bigEdit(const MediaRef& picture, const MediaRef& sound)
{
    std::vector<Track> tracks;
    for (int t = 0; t < kTracks; ++t) {
        Track track;
        const bool isSound = t % 2 == 1;
        track.name = isSound ? "Hang " + std::to_string(t) : "Kép " + std::to_string(t);
        track.media = isSound ? sound : picture;
        for (int c = 0; c < kClips; ++c) {
            Clip clip;
            clip.start = c * 2.0 + t * 0.1;
            clip.duration = 2.5;
            clip.sourceStart = (c * 3) % 27;
            clip.media = track.media;
            TrackAction grow;
            grow.start = 0.2;
            grow.end = 1.0;
            grow.scale = 1.5;
            TrackAction quiet;
            quiet.start = 1.2;
            quiet.end = 2.2;
            quiet.volume = 0.5f;
            clip.actions = {grow, quiet};
            track.clips.push_back(clip);
        }
        tracks.push_back(track);
    }
    return tracks;
}

// Adds up the area of every paint event of the widgets it watches.
class PaintCounter : public QObject {
public:
    long long area = 0;
    int events = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++events;
            for (const QRect& r : static_cast<QPaintEvent*>(event)->region()) area += qint64(r.width()) * r.height();
        }
        return QObject::eventFilter(watched, event);
    }
};

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The preview player needs no sound here.
    if (!std::getenv("PULSE_SERVER")) setenv("PULSE_SERVER", "unix:/nonexistent", 1);
    QApplication application(argc, argv);
    Theme::apply(application);
    try {
        const fs::path movie = recording();
        const fs::path folder = fs::temp_directory_path() / "ondexa-bench-timeline";
        fs::remove_all(folder);
        fs::create_directories(folder);
        fs::create_symlink(movie, folder / "recording.mov");
        auto settings = std::make_unique<QSettings>(QString::fromStdString((folder / "settings.ini").string()),
                                                    QSettings::IniFormat);
        EditorModel model(folder / "recording.mov", std::move(settings));
        bool loaded = false;
        model.load([&] { loaded = true; });
        if (!runUntil([&] { return loaded; }, 60000) || model.loadError())
            throw std::runtime_error("the recording did not load");

        std::optional<MediaRef> picture, sound;
        for (const Track& track : model.tracks()) {
            if (track.media.kind == MediaKind::video && !picture) picture = track.media;
            if (track.media.kind == MediaKind::audio && !sound) sound = track.media;
        }
        if (!picture || !sound) throw std::runtime_error("the recording has no picture or no sound");
        runUntil([&] {
            const auto thumbs = model.thumbnails().find(*picture);
            return model.peaks().contains(*sound) && thumbs != model.thumbnails().end() && thumbs->second.size() >= 60;
        }, 60000);
        waitForBackgroundWork();
        const auto thumbs = model.thumbnails().find(*picture);
        const std::size_t thumbnails = thumbs == model.thumbnails().end() ? 0 : thumbs->second.size();
        const std::size_t peaks = model.peaks().contains(*sound) ? model.peaks().at(*sound).size() : 0;
        model.setTracks(bigEdit(*picture, *sound));

        QWidget window;
        window.resize(1600, 900);
        TrackHeaders headers(model, &window);
        headers.setGeometry(0, 0, TrackHeaders::columnWidth, 900);
        TimelineCanvas canvas(model, &window);
        canvas.setGeometry(TrackHeaders::columnWidth + 1, 0, 1600 - TrackHeaders::columnWidth - 1, 900);
        canvas.setView(kPps, 0);
        PlayheadOverlay playhead(model.clock(), &canvas);
        playhead.setView(kPps, 0);
        window.show();
        runUntil([&] { return canvas.redrawCount() > 0; }, 5000);
        QApplication::processEvents();

        PaintCounter counter;
        canvas.installEventFilter(&counter);
        playhead.installEventFilter(&counter);
        headers.installEventFilter(&counter);

        // Playback from 2 s: each tick moves the playhead 1/30 s (3.3 points).
        const int redrawsBefore = canvas.redrawCount();
        std::vector<double> ticks;
        QElapsedTimer timer;
        for (int i = 0; i < kTicks; ++i) {
            timer.start();
            model.clock().setTime(2.0 + i / 30.0);
            QApplication::processEvents();
            ticks.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        const int tickRedraws = canvas.redrawCount() - redrawsBefore;
        const double area = double(counter.area) / kTicks;
        const double events = double(counter.events) / kTicks;
        double total = 0;
        for (double t : ticks) total += t;

        std::vector<double> redraws;
        std::vector<double> redrawsCpu;  // the main thread's own time: the machine may be busy
        for (int i = 0; i < kRedraws; ++i) {
            const double cpu = threadCpuMs();
            timer.start();
            canvas.invalidate();
            canvas.repaint();
            redraws.push_back(double(timer.nsecsElapsed()) / 1e6);
            redrawsCpu.push_back(threadCpuMs() - cpu);
        }

        std::printf("timeline: %d tracks × %d clips, canvas %d × %d at %.0f points/s; media: %zu peaks, %zu filmstrip pictures\n",
                    kTracks, kClips, canvas.width(), canvas.height(), kPps, peaks, thumbnails);
        std::printf("playhead tick (%d ticks at 30 Hz): median %.3f ms, mean %.3f ms, slowest %.3f ms\n", kTicks,
                    median(ticks), total / kTicks, *std::max_element(ticks.begin(), ticks.end()));
        std::printf("  paintTimeline calls during the ticks: %d\n", tickRedraws);
        std::printf("  repainted per tick: %.0f px² in %.1f paint events (canvas %d px²)\n", area, events,
                    canvas.width() * canvas.height());
        std::printf("full canvas redraw: median %.2f ms (main thread CPU %.2f ms), slowest %.2f ms; %.0f× a tick\n",
                    median(redraws), median(redrawsCpu), *std::max_element(redraws.begin(), redraws.end()),
                    median(redraws) / std::max(median(ticks), 1e-6));
        std::printf("goal: under 2 ms per tick: %s\n", median(ticks) < 2 ? "met" : "missed");
        fs::remove_all(folder);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_timeline: %s\n", error.what());
        return 1;
    }
    return 0;
}
