// Frames composed per second at 1920 × 1080, the whole process held on one
// core: (a) a 1920 × 1080 screen clip at identity, (b) a 2880 × 1800 source
// fitted, (c) (b) with a rounded, rotated picture-in-picture, two text
// overlays, an arrow, the pointer and a click ring, (d) a circle transition
// between two clips. A plain copy of a 1920 × 1080 frame is measured beside
// them as the cost that (a) should not exceed.

#include "Ondexa/rendering/EditCompositor.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <sched.h>

#include <cstdio>
#include <future>
#include <map>
#include <memory>
#include <vector>

using namespace ondexa;
using platform::FrameRequest;
using platform::MediaTime;

namespace {

const QSize outputSize(1920, 1080);

// A frame with some structure, so that nothing is accidentally uniform.
QImage sourceFrame(QSize size, QColor from, QColor to)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, size.width(), size.height());
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, to);
    painter.fillRect(image.rect(), gradient);
    painter.setPen(Qt::white);
    for (int x = 0; x < size.width(); x += 64) painter.drawLine(x, 0, x, size.height());
    return image;
}

struct Scene {
    std::shared_ptr<EditInstruction> instruction;
    std::map<std::int32_t, QImage> frames;
    double start = 0;  // frames are taken at start, start + 1/60, …
    double span = 1;   // … wrapping within this many seconds
};

Clip clipAt(double start, double duration)
{
    Clip clip;
    clip.start = start;
    clip.duration = duration;
    clip.media = MediaRef{"/rec/movie.mov", MediaKind::video, 0};
    return clip;
}

VideoLayer picturesLayer(const std::vector<std::pair<Clip, std::int32_t>>& clips)
{
    VideoLayer layer;
    VideoLayer::Pictures content;
    for (const auto& [clip, track] : clips) {
        layer.clips.push_back(clip);
        content.video[clip.id] = track;
    }
    layer.content = content;
    layer.outputAspect = 16.0 / 9.0;
    return layer;
}

std::shared_ptr<EditInstruction> instructionOf(std::shared_ptr<RenderState> state)
{
    return std::make_shared<EditInstruction>(
        platform::TimeRange(MediaTime::zero(), MediaTime::fromSeconds(60)), std::vector<std::int32_t>{1, 2},
        std::move(state));
}

Scene identityScene()
{
    const Clip screen = clipAt(0, 60);
    Scene scene;
    scene.frames[1] = sourceFrame({1920, 1080}, QColor(20, 60, 120), QColor(200, 120, 40));
    scene.instruction =
        instructionOf(std::make_shared<RenderState>(std::vector{picturesLayer({{screen, 1}})},
                                                    std::vector<ClickEvent>{}, false,
                                                    std::vector<CursorSample>{}, std::nullopt));
    return scene;
}

Scene fittedScene(bool decorated)
{
    Clip screen = clipAt(0, 60);
    VideoLayer screenLayer = picturesLayer({{screen, 1}});
    screenLayer.screenClips.insert(screen.id);
    std::vector<VideoLayer> layers{screenLayer};
    Scene scene;
    scene.frames[1] = sourceFrame({2880, 1800}, QColor(20, 60, 120), QColor(200, 120, 40));

    std::vector<ClickEvent> clicks;
    std::vector<CursorSample> cursor;
    std::optional<CursorStyle> style;
    if (decorated) {
        Clip camera = clipAt(0, 60);
        camera.media = MediaRef{"/rec/movie.mov", MediaKind::video, 1};
        camera.frame = NRect{0.72, 0.7, 0.25, 0.25};
        camera.rotation = 8;
        camera.rounded = true;
        layers.push_back(picturesLayer({{camera, 2}}));
        scene.frames[2] = sourceFrame({1280, 720}, QColor(90, 30, 30), QColor(30, 90, 30));

        VideoLayer effects;
        effects.content = VideoLayer::Effects{};
        effects.outputAspect = 16.0 / 9.0;
        for (int i = 0; i < 2; ++i) {
            Overlay text;
            text.kind = OverlayKind::text;
            text.text = i == 0 ? "Kattints a Mentés gombra" : "Második lépés: a beállítások";
            text.rect = NRect{0.08, 0.08 + 0.15 * i, 0.4, 0.1};
            text.fontSize = 0.04;
            text.color = RGBA{1, 1, 1, 1};
            text.background = i == 0;
            Clip clip = clipAt(0, 60);
            clip.media.reset();
            clip.overlay = text;
            effects.clips.push_back(clip);
        }
        Overlay arrow;
        arrow.kind = OverlayKind::arrow;
        arrow.from = NPoint{0.3, 0.5};
        arrow.to = NPoint{0.5, 0.6};
        arrow.lineWidth = 0.006;
        arrow.color = RGBA{1, 0.3, 0.2, 1};
        Clip arrowClip = clipAt(0, 60);
        arrowClip.media.reset();
        arrowClip.overlay = arrow;
        effects.clips.push_back(arrowClip);
        layers.insert(layers.begin() + 1, effects);

        // A click every 0.3 s, so that the highlight and the ring pulse are always on.
        for (int i = 0; i < 200; ++i) clicks.push_back(ClickEvent{0.3 * i, 0.4 + 0.001 * i, 0.45, i % 3 == 0});
        for (int i = 0; i <= 600; ++i) cursor.push_back(CursorSample{0.1 * i, 0.4 + 0.0005 * i, 0.45});
        style = CursorStyle{};
        style->ring = true;
    }
    scene.instruction = instructionOf(
        std::make_shared<RenderState>(std::move(layers), std::move(clicks), decorated, std::move(cursor), style));
    return scene;
}

Scene circleScene()
{
    Track track;
    track.media = MediaRef{"/rec/movie.mov", MediaKind::video, 0};
    Clip outgoing = clipAt(0, 10);
    Clip incoming = clipAt(8, 10);
    incoming.transition = Transition::circle;
    track.clips = {outgoing, incoming};
    const std::vector<Clip> clips = track.effectiveClips();
    Scene scene;
    scene.frames[1] = sourceFrame({1920, 1080}, QColor(20, 60, 120), QColor(200, 120, 40));
    scene.frames[2] = sourceFrame({1920, 1080}, QColor(120, 20, 60), QColor(40, 200, 120));
    scene.instruction = instructionOf(std::make_shared<RenderState>(
        std::vector{picturesLayer({{clips[0], 1}, {clips[1], 2}})}, std::vector<ClickEvent>{}, false,
        std::vector<CursorSample>{}, std::nullopt));
    scene.start = 8;
    scene.span = 2;  // the whole crossing, the circle growing from nothing to the corners
    return scene;
}

void composeFrames(benchmark::State& state, const Scene& scene)
{
    EditCompositor compositor;
    std::int64_t frame = 0;
    for (auto _ : state) {
        const double t = scene.start + double(frame % int(scene.span * 60)) / 60;
        ++frame;
        std::promise<FrameRequest::Result> done;
        compositor.startRequest(std::make_shared<FrameRequest>(
            MediaTime::fromSeconds(t), scene.instruction, scene.frames, outputSize,
            [&done](FrameRequest::Result result) { done.set_value(std::move(result)); }));
        FrameRequest::Result result = done.get_future().get();
        if (result.status != FrameRequest::Result::Status::composed) {
            state.SkipWithError(result.error.c_str());
            return;
        }
        benchmark::DoNotOptimize(result.image.constBits());
    }
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_a_ScreenAtIdentity(benchmark::State& state)
{
    composeFrames(state, identityScene());
}
void BM_b_LargeSourceFitted(benchmark::State& state)
{
    composeFrames(state, fittedScene(false));
}
void BM_c_FittedWithPipOverlaysPointerRing(benchmark::State& state)
{
    composeFrames(state, fittedScene(true));
}
void BM_d_CircleTransition(benchmark::State& state)
{
    composeFrames(state, circleScene());
}
// The reference for (a): a new 1920 × 1080 frame copied from the source.
void BM_reference_FrameCopy(benchmark::State& state)
{
    const QImage source = sourceFrame({1920, 1080}, QColor(20, 60, 120), QColor(200, 120, 40));
    for (auto _ : state) {
        QImage copy = source.copy();
        benchmark::DoNotOptimize(copy.constBits());
    }
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_a_ScreenAtIdentity)->UseRealTime()->MinTime(2);
BENCHMARK(BM_b_LargeSourceFitted)->UseRealTime()->MinTime(2);
BENCHMARK(BM_c_FittedWithPipOverlaysPointerRing)->UseRealTime()->MinTime(2);
BENCHMARK(BM_d_CircleTransition)->UseRealTime()->MinTime(2);
BENCHMARK(BM_reference_FrameCopy)->UseRealTime()->MinTime(1);

} // namespace

int main(int argc, char** argv)
{
    // One core for everything: the caller and the compositor's queue take turns on it.
    cpu_set_t one;
    CPU_ZERO(&one);
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &allowed)) {
                CPU_SET(cpu, &one);
                break;
            }
        }
        if (sched_setaffinity(0, sizeof one, &one) != 0) std::perror("sched_setaffinity");
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);  // fonts for the text overlays
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
