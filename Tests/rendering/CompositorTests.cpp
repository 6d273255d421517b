// Frames drawn by the compositor from render states at chosen times, checked
// at pixels computed from the placement and transition rules.

#include "Ondexa/rendering/EditCompositor.h"
#include "Platform/core/HandOff.h"
#include "Ondexa/rendering/LayerGeometry.h"
#include "Ondexa/rendering/OverlayRenderer.h"
#include "Platform/media/BgraConversion.h"
#include "Platform/media/YuvFrame.h"
#include "rendering/GuiTestApplication.h"

#include <QPainter>
#include <QThread>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <numbers>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

using namespace ondexa;
using platform::FrameRequest;
using platform::MediaTime;
using platform::TimeRange;
using Status = FrameRequest::Result::Status;

namespace {

constexpr int W = 640;
constexpr int H = 360;
const QColor red(255, 0, 0), blue(0, 0, 255), green(0, 255, 0), black(0, 0, 0), grey(40, 40, 40);

QImage solid(QColor colour, QSize size = {W, H})
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return image;
}

Clip clipAt(double start, double duration)
{
    Clip clip;
    clip.start = start;
    clip.duration = duration;
    clip.media = MediaRef{"/rec/movie.mov", MediaKind::video, 0};
    return clip;
}

// A picture layer whose clips each show a solid frame on a composition track of their own.
struct PictureLayer {
    VideoLayer layer{VideoLayer::Pictures{}, {}, {}, double(W) / H};
    std::map<std::int32_t, QImage> frames;

    Clip& add(const Clip& clip, QColor colour, QSize size = {W, H})
    {
        static std::int32_t nextTrack = 1;
        std::get<VideoLayer::Pictures>(layer.content).video[clip.id] = nextTrack;
        frames[nextTrack++] = solid(colour, size);
        return layer.clips.emplace_back(clip);
    }
};

std::shared_ptr<RenderState> stateOf(std::vector<VideoLayer> layers, std::vector<ClickEvent> clicks = {},
                                     bool showClicks = false, std::vector<CursorSample> cursor = {},
                                     std::optional<CursorStyle> style = std::nullopt)
{
    return std::make_shared<RenderState>(std::move(layers), std::move(clicks), showClicks, std::move(cursor),
                                         std::move(style));
}

std::shared_ptr<EditInstruction> instructionFor(std::shared_ptr<RenderState> state)
{
    return std::make_shared<EditInstruction>(TimeRange(MediaTime::zero(), MediaTime::fromSeconds(100)),
                                             std::vector<std::int32_t>{}, std::move(state));
}

std::shared_ptr<FrameRequest> request(std::shared_ptr<const platform::VideoCompositionInstruction> instruction,
                                      std::function<void(FrameRequest::Result)> finish, QSize size = {W, H},
                                      std::map<std::int32_t, QImage> frames = {}, double t = 1)
{
    return std::make_shared<FrameRequest>(MediaTime::fromSeconds(t), std::move(instruction), std::move(frames), size,
                                          std::move(finish));
}

FrameRequest::Result compose(EditCompositor& compositor,
                             std::shared_ptr<const platform::VideoCompositionInstruction> instruction, double t,
                             std::map<std::int32_t, QImage> frames = {}, QSize size = {W, H})
{
    auto promise = std::make_shared<std::promise<FrameRequest::Result>>();
    compositor.startRequest(request(
        std::move(instruction), [promise](FrameRequest::Result result) { promise->set_value(std::move(result)); },
        size, std::move(frames), t));
    return promise->get_future().get();
}

// One frame of the state at time t; a failed frame fails the test.
QImage frameAt(const std::shared_ptr<RenderState>& state, double t, std::map<std::int32_t, QImage> frames = {})
{
    EditCompositor compositor;
    FrameRequest::Result result = compose(compositor, instructionFor(state), t, std::move(frames));
    EXPECT_EQ(result.status, Status::composed) << result.error;
    return result.image;
}

QImage frameAt(const std::vector<PictureLayer>& layers, double t)
{
    std::vector<VideoLayer> videoLayers;
    std::map<std::int32_t, QImage> frames;
    for (const PictureLayer& layer : layers) {
        videoLayers.push_back(layer.layer);
        frames.insert(layer.frames.begin(), layer.frames.end());
    }
    return frameAt(stateOf(videoLayers), t, frames);
}

QImage frameAt(const PictureLayer& layer, double t) { return frameAt(std::vector{layer}, t); }

// Colour components match within a few steps of 8-bit rounding.
::testing::AssertionResult near(const QImage& image, int x, int y, QColor want, int tolerance = 3)
{
    const QRgb got = image.pixel(x, y);
    const int d = std::max({std::abs(qRed(got) - want.red()), std::abs(qGreen(got) - want.green()),
                            std::abs(qBlue(got) - want.blue()), std::abs(qAlpha(got) - want.alpha())});
    if (d <= tolerance) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is "
                                         << qPrintable(QColor::fromRgba(got).name(QColor::HexArgb)) << ", wanted "
                                         << qPrintable(want.name(QColor::HexArgb));
}

// ---- canvas, activity and order -------------------------------------------

TEST(Compositor, EmptyTimelineIsOpaqueBlackAndAClipShowsFromItsStartUntilItsEnd)
{
    const QImage empty = frameAt(stateOf({}), 3.0);
    ASSERT_EQ(empty.size(), QSize(W, H));
    for (const QPoint p : {QPoint(0, 0), QPoint(W / 2, H / 2), QPoint(W - 1, H - 1)})
        EXPECT_EQ(empty.pixel(p), qRgba(0, 0, 0, 255));

    PictureLayer layer;
    layer.add(clipAt(1, 2), red);
    for (const auto& [t, colour] : {std::pair{0.999, black}, {1.0, red}, {2.999, red}, {3.0, black}})
        EXPECT_TRUE(near(frameAt(layer, t), W / 2, H / 2, colour)) << t;
}

TEST(Compositor, FullFrameClipIsLetterboxedUntilMoved)
{
    PictureLayer layer;
    Clip& clip = layer.add(clipAt(0, 5), red, QSize(100, 100));  // square in 16:9: fitted 360 × 360
    const QImage frame = frameAt(layer, 1);
    EXPECT_TRUE(near(frame, 139, H / 2, black));
    EXPECT_TRUE(near(frame, 141, H / 2, red));
    EXPECT_TRUE(near(frame, 498, H / 2, red));
    EXPECT_TRUE(near(frame, 501, H / 2, black));

    // Once moved, the source fills a box of the clip's aspect.
    clip.rounded = false;
    clip.actions.emplace_back().centerX = 0.501;  // beyond the tolerance of 0.0001
    const QImage moved = frameAt(layer, 1);
    EXPECT_TRUE(near(moved, 5, H / 2, red));
    EXPECT_TRUE(near(moved, W - 5, H / 2, red));
}

TEST(Compositor, LayersStackBottomFirstAndEqualStartsKeepTrackOrder)
{
    PictureLayer bottom, top;
    bottom.add(clipAt(0, 5), green);
    top.add(clipAt(0, 5), red, QSize(100, 100));
    const QImage frame = frameAt({bottom, top}, 1);
    EXPECT_TRUE(near(frame, 20, H / 2, green));
    EXPECT_TRUE(near(frame, W / 2, H / 2, red));

    // Two clips starting together, without fades: the later one in the track comes in on top.
    PictureLayer same;
    same.add(clipAt(0, 5), red);
    same.add(clipAt(0, 5), blue);
    EXPECT_TRUE(near(frameAt(same, 1), W / 2, H / 2, blue));
    std::swap(same.layer.clips[0], same.layer.clips[1]);
    EXPECT_TRUE(near(frameAt(same, 1), W / 2, H / 2, red));
}

TEST(Compositor, StillIsShownWhenTheClipHasNoFrame)
{
    PictureLayer layer;
    const Clip& clip = layer.layer.clips.emplace_back(clipAt(0, 5));
    auto& pictures = std::get<VideoLayer::Pictures>(layer.layer.content);
    pictures.stills[clip.id] = solid(blue, {64, 36});
    EXPECT_TRUE(near(frameAt(layer, 1), W / 2, H / 2, blue));
    pictures.video[clip.id] = 999;  // a track whose frame is missing
    EXPECT_TRUE(near(frameAt(layer, 1), W / 2, H / 2, blue));
}

// ---- picture-in-picture ----------------------------------------------------

TEST(Compositor, PictureInPictureHasRoundedCornersABorderAndTurnsClockwise)
{
    // A 16:9 clip framed at (0.5, 0.5, 0.25, 0.25): the box (320, 180, 160, 90),
    // corner radius 5.4, border 1.08 pixels of white at 0.9.
    PictureLayer layer;
    Clip clip = clipAt(0, 5);
    clip.frame = NRect{0.5, 0.5, 0.25, 0.25};
    Clip& framed = layer.add(clip, red, {1280, 720});
    const QImage frame = frameAt(layer, 1);
    EXPECT_TRUE(near(frame, 324, 184, red));  // inside the rounded corner
    // The box's corner pixel lies outside the rounded picture: only the grey border shows there.
    const QRgb corner = frame.pixel(320, 180);
    EXPECT_LT(qRed(corner), 120);
    EXPECT_EQ(qRed(corner), qGreen(corner));
    EXPECT_TRUE(near(frame, 400, 179, QColor(230, 230, 230), 6));
    EXPECT_TRUE(near(frame, 480, 225, QColor(230, 230, 230), 6));
    EXPECT_TRUE(near(frame, 400, 177, black));

    // Square-cornered and turned by 90 degrees, the box about (400, 225) becomes 90 × 160.
    framed.rounded = false;
    framed.rotation = 90;
    const QImage turned = frameAt(layer, 1);
    EXPECT_TRUE(near(turned, 400, 150, red));
    EXPECT_TRUE(near(turned, 340, 225, black));
    // A rotation of 0.01 degrees or less is not applied: the box stays pixel-exact.
    framed.rotation = 0.01;
    const QImage straight = frameAt(layer, 1);
    EXPECT_TRUE(near(straight, 320, 180, red, 0));
    EXPECT_TRUE(near(straight, 319, 180, black, 0));
}

// A player's frame over a picture passed undecoded is the frame drawn over
// the same picture decoded: alone, under a picture-in-picture, and drawn
// twice (then it is converted apart first).
TEST(Compositor, AWholeFrameOverAnUndecodedPictureIsTheFrameOverItDecoded)
{
    // Widths of libswscale's vector conversion and of its plain one.
    for (const QSize size : {QSize(640, 360), QSize(630, 354)}) {
        std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = size.width();
        frame->height = size.height();
        frame->colorspace = AVCOL_SPC_BT709;
        ASSERT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
        std::uint32_t seed = 7;
        for (AVBufferRef* b : frame->buf)
            for (int i = 0; b && i < b->size; ++i) b->data[i] = std::uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
        const auto yuv = std::make_shared<const platform::YuvFrame>(*frame);
        QImage decoded = platform::bgraImage(size.width(), size.height(), QImage::Format_ARGB32_Premultiplied);
        platform::BgraConverter converter(platform::BgraSampling::smooth);
        ASSERT_EQ(converter.convert(*frame, SWS_CS_ITU709, decoded.bits()), 0);

        auto layerOf = [&](const Clip& clip, std::int32_t track) {
            VideoLayer layer{VideoLayer::Pictures{}, {}, {}, double(size.width()) / size.height()};
            std::get<VideoLayer::Pictures>(layer.content).video[clip.id] = track;
            layer.clips.push_back(clip);
            return layer;
        };
        Clip inset = clipAt(0, 5);
        inset.frame = NRect{0.6, 0.6, 0.3, 0.3};
        const Clip bottom = clipAt(0, 5);
        const std::vector<std::pair<const char*, std::vector<VideoLayer>>> cases = {
            {"alone", {layerOf(bottom, 1)}},
            {"under a picture-in-picture", {layerOf(bottom, 1), layerOf(inset, 2)}},
            {"drawn twice", {layerOf(bottom, 1), layerOf(inset, 1)}},
        };
        for (const auto& [what, layers] : cases) {
            EditCompositor compositor;
            const auto instruction = instructionFor(stateOf(layers));
            const FrameRequest::Result expected =
                compose(compositor, instruction, 1, {{1, decoded}, {2, solid(red, {320, 180})}}, size);
            auto promise = std::make_shared<std::promise<FrameRequest::Result>>();
            compositor.startRequest(std::make_shared<FrameRequest>(
                MediaTime::fromSeconds(1), instruction, std::map<std::int32_t, QImage>{{2, solid(red, {320, 180})}},
                size, [promise](FrameRequest::Result r) { promise->set_value(std::move(r)); },
                FrameRequest::YuvFrames{{1, yuv}}, true));
            const FrameRequest::Result actual = promise->get_future().get();
            ASSERT_EQ(actual.status, Status::composed) << what;
            EXPECT_EQ(actual.base, nullptr) << what;
            ASSERT_EQ(expected.image.format(), actual.image.format()) << what;
            EXPECT_TRUE(expected.image == actual.image) << what << ", " << size.width() << " wide";
        }
    }
}

TEST(LayerGeometry, EmptyImagesAndTinyBoxesDrawNothing)
{
    const QRectF bounds(0, 0, W, H);
    const QImage empty(0, 10, QImage::Format_ARGB32_Premultiplied);
    EXPECT_TRUE(compositing::fit(compositing::Picture::image(empty), bounds).isEmpty());
    EXPECT_TRUE(compositing::pictureInPicture(compositing::Picture::image(solid(red, {10, 10})),
                                              QRectF(10, 10, 2, 2), bounds, true)
                    .isEmpty());
}

// ---- fades and transitions -------------------------------------------------

TEST(Compositor, TransitionsOverTheCrossOver)
{
    // Red from 0 to 2 s and blue from 1 to 3 s on one track cross over from 1
    // to 2 s: progress p = t − 1, eased e = smoothstep(p).
    const auto crossing = [](std::optional<Transition> transition) {
        Track track;
        track.clips = {clipAt(0, 2), clipAt(1, 2)};
        track.clips[1].transition = transition;
        PictureLayer layer;
        layer.add(track.effectiveClips()[0], red);
        layer.add(track.effectiveClips()[1], blue);
        return layer;
    };
    struct Case {
        std::optional<Transition> transition;
        double t;
        int x;
        QColor colour;
    };
    const int rim = W / 2 + int(0.25 * std::hypot(W, H));  // the circle's edge at e = 0.5
    for (const Case& c : {
             Case{std::nullopt, 1.5, W / 2, QColor(64, 0, 128)},  // red at half over black, blue at half over it
             Case{Transition::dissolve, 1.5, W / 2, QColor(64, 0, 128)},
             Case{Transition::dipToBlack, 1.25, W / 2, QColor(128, 0, 0)},  // red darkened to 1 − 2p
             Case{Transition::dipToBlack, 1.5, W / 2, black},
             Case{Transition::dipToBlack, 1.75, W / 2, QColor(0, 0, 128)},  // blue risen to 2p − 1
             Case{Transition::wipe, 1.5, W / 2 - 2, blue},  // the left half uncovered,
             Case{Transition::wipe, 1.5, W / 2 + 2, red},   // the outgoing clip whole beneath
             Case{Transition::push, 1.0, W - 1, red},       // the incoming picture still wholly outside
             Case{Transition::push, 1.25, 537, red},        // e = 0.15625: the edge at 0.84375 W = 540
             Case{Transition::push, 1.25, 543, blue},
             Case{Transition::circle, 1.5, rim - 2, blue},
             Case{Transition::circle, 1.5, rim + 5, red},
             Case{Transition::zoom, 1.5, 108, blue},  // k = 0.675: x 104 … 536, opaque from half the fade on
             Case{Transition::zoom, 1.5, 100, red},
             Case{Transition::zoom, 1.25, W / 2, QColor(128, 0, 128)},
         }) {
        SCOPED_TRACE(::testing::Message() << "transition " << (c.transition ? int(*c.transition) : -1) << " at "
                                          << c.t);
        EXPECT_TRUE(near(frameAt(crossing(c.transition), c.t), c.x, H / 2, c.colour));
    }
    // Within the circle's 3-pixel soft rim the two mix.
    const QRgb mixed = frameAt(crossing(Transition::circle), 1.5).pixel(rim + 2, H / 2);
    EXPECT_GT(qRed(mixed), 40);
    EXPECT_GT(qBlue(mixed), 40);
}

TEST(Compositor, PushSlidesTheOutgoingPictureOutToTheLeft)
{
    // Red from 0 to 2 s, its left half red and its right half green; blue
    // pushes in from 1 to 3 s. Both move by e(q) × W to the left: 100 pixels
    // at 1.25 s, 320 at 1.5 s, 540 at 1.75 s. The outgoing clip's fade-out is
    // not applied while it is pushed.
    Track track;
    track.clips = {clipAt(0, 2), clipAt(1, 2)};
    track.clips[1].transition = Transition::push;
    PictureLayer layer;
    const Uuid outgoing = layer.add(track.effectiveClips()[0], red).id;
    layer.add(track.effectiveClips()[1], blue);
    QImage halves = solid(red);
    QPainter(&halves).fillRect(W / 2, 0, W / 2, H, green);
    layer.frames[std::get<VideoLayer::Pictures>(layer.layer.content).video.at(outgoing)] = halves;

    struct Case {
        double t;
        int x;
        QColor colour;
    };
    for (const Case& c : {
             Case{1.25, 2, red}, Case{1.25, 217, red}, Case{1.25, 223, green}, Case{1.25, 537, green},
             Case{1.25, 543, blue},
             Case{1.5, 2, green}, Case{1.5, 317, green}, Case{1.5, 323, blue},
             Case{1.75, 2, green}, Case{1.75, 97, green}, Case{1.75, 103, blue},
         }) {
        EXPECT_TRUE(near(frameAt(layer, c.t), c.x, H / 2, c.colour)) << "at " << c.t;
    }
}

TEST(Compositor, DipToBlackAloneRisesFromBlackWhileAPlainFadeShowsWhatLiesBelow)
{
    PictureLayer below, above;
    below.add(clipAt(0, 5), green);
    Clip& clip = above.add(clipAt(0, 2), red);
    clip.fadeIn = 1;
    clip.transition = Transition::dipToBlack;
    // Darkened to a quarter, opacity kept: the green beneath is hidden.
    EXPECT_TRUE(near(frameAt({below, above}, 0.25), W / 2, H / 2, QColor(64, 0, 0)));
    clip.transition.reset();
    EXPECT_TRUE(near(frameAt({below, above}, 0.25), W / 2, H / 2, QColor(64, 191, 0)));
    // With no fade-in the transition never shows.
    clip.transition = Transition::dipToBlack;
    clip.fadeIn = 0;
    EXPECT_TRUE(near(frameAt({below, above}, 0.0), W / 2, H / 2, red));
}

// ---- clicks, pointer and ring ----------------------------------------------

// A grey screen clip at 2 … 10 s showing the recording from 0.5 s: recording
// time r is timeline time r + 1.5.
struct Screen {
    PictureLayer layer;
    Screen()
    {
        Clip clip = clipAt(2, 8);
        clip.sourceStart = 0.5;
        layer.layer.screenClips.insert(layer.add(clip, grey).id);
    }
    QImage at(double recordingTime, std::vector<ClickEvent> clicks, bool showClicks,
              std::vector<CursorSample> cursor = {}, std::optional<CursorStyle> style = std::nullopt)
    {
        return frameAt(stateOf({layer.layer}, std::move(clicks), showClicks, std::move(cursor), std::move(style)),
                       recordingTime + 1.5, layer.frames);
    }
};

QColor highlightOverGrey(double opacity)
{
    auto mix = [&](double c) { return int(std::round(c * 255 * opacity + 40 * (1 - opacity))); };
    return QColor(mix(1), mix(0.85), mix(0.1));
}

TEST(Compositor, ClickHighlightPointerAndRingOnTheScreenRecording)
{
    Screen screen;
    const std::vector<ClickEvent> clicks{{1.0, 0.5, 0.5, false}};
    // A click: radius 0.015 × 360 = 5.4 at opacity 0.6, gone 0.6 s later, never drawn when hidden.
    const QImage click = screen.at(1.0, clicks, true);
    EXPECT_TRUE(near(click, W / 2 + 2, H / 2, highlightOverGrey(0.6), 4));
    EXPECT_TRUE(near(click, W / 2 + 7, H / 2, grey));
    EXPECT_TRUE(near(screen.at(1.6, clicks, true), W / 2, H / 2, grey));
    EXPECT_TRUE(near(screen.at(1.0, clicks, false), W / 2, H / 2, grey));

    // Pointer 12 pixels high (0.024 × 360 × 1.5): the tip at (200, 100), the body below and right of it.
    CursorStyle style;
    style.fill = RGBA{1, 0, 0, 1};
    const QImage pointer = screen.at(1.0, {}, false, {{0.0, 200.0 / W, 100.0 / H}}, style);
    EXPECT_TRUE(near(pointer, 202, 106, red, 10));
    EXPECT_TRUE(near(pointer, 197, 106, grey, 10));
    // The ring, 12 pixels above the tip, takes the right button's blue during a right click's pulse.
    style.ring = true;
    const QRgb ring = screen.at(1.0, {{0.66, 0.5, 0.5, true}}, false, {{0.0, 0.5, 0.5}}, style).pixel(W / 2, H / 2 - 12);
    EXPECT_GT(qBlue(ring), qGreen(ring));
}

// A ring large enough to read its scale: the pointer 45 pixels high
// (0.125 × 360), the ring 4 × 45 = 180 across. Its crisp outer line lies
// between 83.07 and 90 pixels from its centre, times the pulse scale k.
CursorStyle bigRing()
{
    CursorStyle style;
    style.base = 0.125;
    style.scale = 1;
    style.ring = true;
    style.ringSize = 4;
    return style;
}

const QColor leftRing(110, 235, 168), rightRing(89, 153, 255);  // the style's two ring colours

// Whether the ring about (cx, cy) reaches exactly 90 × k pixels to the left:
// its crisp line 3 pixels inside that radius, the grey picture 3 pixels beyond.
::testing::AssertionResult ringOfScale(const QImage& frame, int cx, int cy, double k, QColor colour)
{
    const int inside = cx - int(std::lround(90 * k - 3));
    const int beyond = cx - int(std::lround(90 * k + 3));
    ::testing::AssertionResult line = near(frame, inside, cy, colour, 8);
    if (!line) return line << " (the ring's line at scale " << k << ")";
    ::testing::AssertionResult outside = near(frame, beyond, cy, grey);
    if (!outside) return outside << " (beyond the ring at scale " << k << ")";
    return ::testing::AssertionSuccess();
}

TEST(Compositor, RingPulsesFor350MillisecondsAfterTheLastClick)
{
    // The frame at recording time 2 s (srcT is exactly 2); the pointer at the centre.
    constexpr double now = 2;
    const double expired = now - 0.35;
    ASSERT_EQ(expired + 0.35, now);  // the window's exact end
    const auto pulse = [](double ago) { return 1 + 0.25 * std::sin(std::numbers::pi * ago / 0.35); };
    struct Case {
        const char* name;
        std::vector<ClickEvent> clicks;
        double k;
        QColor colour;
    };
    const std::vector<Case> cases{
        {"no click", {}, 1, leftRing},
        {"right click at the frame", {{now, 0.1, 0.1, true}}, 1, rightRing},
        {"right click an eighth of the pulse ago", {{now - 0.0875, 0.1, 0.1, true}}, pulse(0.0875), rightRing},
        {"right click half the pulse ago", {{now - 0.175, 0.1, 0.1, true}}, 1.25, rightRing},
        {"left click half the pulse ago", {{now - 0.175, 0.1, 0.1, false}}, 1.25, leftRing},
        {"right click just inside the pulse", {{now - 0.34, 0.1, 0.1, true}}, pulse(0.34), rightRing},
        {"right click exactly the pulse ago", {{expired, 0.1, 0.1, true}}, 1, leftRing},
        {"right click still to come", {{now + 0.1, 0.1, 0.1, true}}, 1, leftRing},
        {"left then right", {{now - 0.3, 0.1, 0.1, false}, {now - 0.1, 0.1, 0.1, true}}, pulse(0.1), rightRing},
        {"right then left", {{now - 0.3, 0.1, 0.1, true}, {now - 0.1, 0.1, 0.1, false}}, pulse(0.1), leftRing},
    };
    Screen screen;
    for (const Case& c : cases) {
        const QImage frame = screen.at(now, c.clicks, false, {{0.0, 0.5, 0.5}}, bigRing());
        EXPECT_TRUE(ringOfScale(frame, W / 2, H / 2, c.k, c.colour)) << c.name;
    }
}

TEST(Compositor, PointerIsDrawnUpToATwentiethOfThePictureBeyondItsEdges)
{
    // The pointer itself lies outside the picture there; its ring, centred on
    // the pointer's point, reaches in. Each case looks at the ring's line
    // 86.5 pixels from that point.
    struct Case {
        double x, y;
        bool drawn;
        QPoint at;
    };
    Screen screen;
    for (const Case& c : {
             Case{1.05, 0.5, true, {585, 180}},   // the point at (672, 180)
             Case{1.0501, 0.5, false, {585, 180}},
             Case{-0.05, 0.5, true, {54, 180}},   // (−32, 180)
             Case{-0.0501, 0.5, false, {54, 180}},
             Case{0.5, 1.05, true, {320, 291}},   // (320, 378)
             Case{0.5, 1.0501, false, {320, 291}},
             Case{0.5, -0.05, true, {320, 68}},   // (320, −18)
             Case{0.5, -0.0501, false, {320, 68}},
         }) {
        const QImage frame = screen.at(1.0, {}, false, {{0.0, c.x, c.y}}, bigRing());
        EXPECT_TRUE(near(frame, c.at.x(), c.at.y(), c.drawn ? leftRing : grey, 8)) << c.x << ", " << c.y;
    }
}

// ---- overlays --------------------------------------------------------------

TEST(Compositor, OverlayIsDrawnAsRenderedAndMovesAndFadesWithItsClip)
{
    Overlay box;
    box.kind = OverlayKind::rectangle;
    box.rect = NRect{0.25, 0.25, 0.25, 0.25};
    box.color = RGBA{1, 1, 0, 1};
    box.lineWidth = 0.01;
    const auto frameOf = [&](Clip clip, double t) {
        clip.media.reset();
        clip.overlay = box;
        return frameAt(stateOf({VideoLayer{VideoLayer::Effects{}, {clip}, {}, double(W) / H}}), t);
    };

    QImage expected = solid(black);
    const auto drawn = OverlayRenderer::render(box, QSize(W, H));
    ASSERT_TRUE(drawn && !drawn->image.isNull());
    QPainter(&expected).drawImage(drawn->origin, drawn->image);
    EXPECT_EQ(frameOf(clipAt(0, 5), 1), expected);

    // The rectangle's left edge line at x = 160 … 163.6; moved a quarter of the width to the right.
    Clip moved = clipAt(0, 5);
    moved.actions.emplace_back().centerX = 0.75;
    const QImage shifted = frameOf(moved, 1);
    EXPECT_TRUE(near(shifted, 161 + 160, 135, QColor(255, 255, 0)));
    EXPECT_TRUE(near(shifted, 161, 135, black));
    Clip fading = clipAt(0, 2);
    fading.fadeOut = 1;
    EXPECT_TRUE(near(frameOf(fading, 1.5), 161, 135, QColor(128, 128, 0)));
}

// ---- requests: errors and cancellation -------------------------------------

TEST(Compositor, CancellationFinishesQueuedRequestsCancelledAndLaterOnesRender)
{
    EditCompositor compositor;
    const auto instruction = instructionFor(stateOf({}));
    std::mutex mutex;
    std::vector<std::pair<int, Status>> finished;  // guarded by mutex
    std::promise<void> entered, release, last;
    std::shared_future<void> released = release.get_future().share();
    const auto numbered = [&](int number) {
        return request(instruction, [&, number](FrameRequest::Result result) {
            {
                std::lock_guard lock(mutex);
                finished.emplace_back(number, result.status);
            }
            if (number == 1) {  // keeps the queue busy while the test queues and cancels
                entered.set_value();
                released.wait();
            }
            if (number == 5) last.set_value();
        });
    };
    compositor.startRequest(numbered(1));
    entered.get_future().wait();  // request 1 has been drawn and is being delivered
    compositor.startRequest(numbered(2));
    compositor.startRequest(numbered(3));
    compositor.cancelAllPendingRequests();
    compositor.startRequest(numbered(4));
    compositor.cancelAllPendingRequests();  // a second cancellation: request 4 is dropped too
    compositor.startRequest(numbered(5));
    release.set_value();

    ASSERT_EQ(last.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
    std::lock_guard lock(mutex);
    EXPECT_EQ(finished, (std::vector<std::pair<int, Status>>{{1, Status::composed}, {2, Status::cancelled},
                                                             {3, Status::cancelled}, {4, Status::cancelled},
                                                             {5, Status::composed}}));
}

TEST(Compositor, DrawnOnOneThreadTheFrameIsTheSameAndABusyPoolIsNotWaitedFor)
{
    // Large enough for Qt to split its fills: a full 1080p frame under a rounded, turned picture.
    const QSize size(1920, 1080);
    PictureLayer layer;
    layer.add(clipAt(0, 5), blue, size);
    Clip pip = clipAt(0, 5);
    pip.frame = NRect{0.1, 0.1, 0.6, 0.6};
    pip.rotation = 7;
    layer.add(pip, red, size);
    const auto instruction = instructionFor(stateOf({layer.layer}));

    EditCompositor spread;
    const FrameRequest::Result reference = compose(spread, instruction, 1, layer.frames, size);
    ASSERT_EQ(reference.status, Status::composed);
    EditCompositor alone;
    alone.setDrawingOnOneThread(true);
    auto drawnOn = std::make_shared<std::promise<bool>>();
    alone.startRequest(request(
        instruction,
        [drawnOn](FrameRequest::Result result) {
            EXPECT_EQ(result.status, Status::composed);
            // Qt draws without helpers only on a thread of its own pool.
            drawnOn->set_value(QThreadPool::globalInstance()->contains(QThread::currentThread()));
        },
        size, layer.frames));
    EXPECT_TRUE(drawnOn->get_future().get());
    const FrameRequest::Result same = compose(alone, instruction, 1, layer.frames, size);
    ASSERT_EQ(same.status, Status::composed);
    EXPECT_TRUE(same.image == reference.image) << "the picture changed with the drawing thread";

    // With every thread of the pool busy the frame is drawn on the queue (a
    // small one, whose fills Qt does not split) instead of waiting for one.
    QThreadPool* pool = QThreadPool::globalInstance();
    std::promise<void> free;
    std::shared_future<void> freed = free.get_future().share();
    std::atomic<int> busy = 0;
    for (int i = 0; i < pool->maxThreadCount(); ++i)
        pool->start(platform::handedOver([&busy, freed] {
            ++busy;
            freed.wait();
        }));
    while (busy < pool->maxThreadCount()) QThread::msleep(1);
    PictureLayer small;
    small.add(clipAt(0, 5), green);
    auto result = std::make_shared<std::promise<FrameRequest::Result>>();
    alone.startRequest(request(
        instructionFor(stateOf({small.layer})), [result](FrameRequest::Result r) { result->set_value(std::move(r)); },
        {W, H}, small.frames));
    auto future = result->get_future();
    const bool drawn = future.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    free.set_value();
    pool->waitForDone();
    ASSERT_TRUE(drawn) << "the frame waited for the busy pool";
    EXPECT_TRUE(near(future.get().image, W / 2, H / 2, green));
}

TEST(Compositor, BadRequestsFailAndDestroyingFinishesEveryQueuedRequest)
{
    const auto instruction = instructionFor(stateOf({}));
    std::atomic<int> finishes{0};
    {
        EditCompositor compositor;
        const auto foreign = std::make_shared<platform::VideoCompositionInstruction>(
            TimeRange(MediaTime::zero(), MediaTime::fromSeconds(1)), std::vector<std::int32_t>{});
        const FrameRequest::Result failed = compose(compositor, foreign, 0.5);
        EXPECT_EQ(failed.status, Status::failed);
        EXPECT_EQ(failed.error, "Képkocka nem készíthető.");
        EXPECT_EQ(compose(compositor, instruction, 0.5, {}, QSize(0, 10)).status, Status::failed);
        EXPECT_EQ(compose(compositor, instruction, 0.5).status, Status::composed);
        for (int i = 0; i < 20; ++i)
            compositor.startRequest(request(instruction, [&](FrameRequest::Result) { ++finishes; }));
    }
    EXPECT_EQ(finishes.load(), 20);
}

} // namespace
