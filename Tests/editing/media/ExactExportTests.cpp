// Exports at full size are the edit's own picture, every time: each
// transition, and an edit with a camera box, a caption, a zoom action and a
// fade, exported three times by the editor. The three movies must decode to
// the same frames and sound, and each frame must be what the compositor draws
// for its time (drawn whole, as the preview draws it) converted as the export
// converts. Before the encoder that holds within the conversion's rounding;
// in the decoded movie within what the encoder loses.

#include "editing/EditingFixtures.h"
#include "editing/media/YuvCompare.h"
#include "rendering/GuiTestApplication.h"

#include "Ondexa/rendering/CompositionBuilder.h"
#include "Platform/media/CompositionRenderer.h"
#include "Platform/media/EncoderPictures.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include <QImage>

#include <fstream>

using namespace ondexa;
using namespace ondexa::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Options = EditorModel::ExportOptions;

namespace {

constexpr QSize kSize(1920, 1080);
constexpr int kFps = 30;
// Rounding of one BGRA → 4:2:0 conversion against another.
constexpr double kRounding = 45.0;
// x264 "fast" at CRF 18 keeps these pictures above 44 dB; a frame with a
// wrong picture in it lies below 37 dB.
constexpr double kEncoded = 40.0;

std::string bytesOf(const fs::path& file)
{
    std::string bytes(fs::file_size(file), '\0');
    std::ifstream(file, std::ios::binary).read(bytes.data(), std::streamsize(bytes.size()));
    return bytes;
}

// Each decoded frame and sound packet's checksum line, in order.
std::vector<std::string> decodedChecksums(const fs::path& movie)
{
    const fs::path out = fs::path(movie).replace_extension(".md5");
    fixtures::runFfmpeg({"-i", movie.string(), "-map", "0:v", "-map", "0:a", "-f", "framemd5", out.string()});
    std::ifstream in(out);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.starts_with("#")) lines.push_back(line);
    fs::remove(out);
    return lines;
}

using FramePtr = std::unique_ptr<AVFrame, decltype([](AVFrame* f) { av_frame_free(&f); })>;

// The movie's frames as yuv420p, as decoded.
std::vector<FramePtr> decodedFrames(const fs::path& movie)
{
    const fs::path raw = fs::path(movie).replace_extension(".yuv");
    fixtures::runFfmpeg({"-i", movie.string(), "-map", "0:v:0", "-pix_fmt", "yuv420p", "-f", "rawvideo", raw.string()});
    const std::string bytes = bytesOf(raw);
    fs::remove(raw);
    const std::size_t luma = std::size_t(kSize.width()) * kSize.height();
    const std::size_t size = luma * 3 / 2;
    std::vector<FramePtr> frames;
    for (std::size_t at = 0; at + size <= bytes.size(); at += size) {
        FramePtr frame(av_frame_alloc());
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = kSize.width();
        frame->height = kSize.height();
        if (av_frame_get_buffer(frame.get(), 0) < 0) throw std::bad_alloc();
        const auto* from = reinterpret_cast<const std::uint8_t*>(bytes.data() + at);
        for (int plane = 0; plane < 3; ++plane) {
            const int w = plane ? kSize.width() / 2 : kSize.width();
            const int h = plane ? kSize.height() / 2 : kSize.height();
            for (int y = 0; y < h; ++y)
                std::memcpy(frame->data[plane] + std::ptrdiff_t(y) * frame->linesize[plane], from + std::ptrdiff_t(y) * w,
                            std::size_t(w));
            from += std::size_t(w) * h;
        }
        frames.push_back(std::move(frame));
    }
    return frames;
}

QImage rgbOf(const AVFrame& frame)
{
    QImage image(frame.width, frame.height, QImage::Format_RGB32);
    for (int y = 0; y < frame.height; ++y) {
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < frame.width; ++x) {
            const double l = 1.164 * (frame.data[0][std::ptrdiff_t(y) * frame.linesize[0] + x] - 16);
            const double u = frame.data[1][std::ptrdiff_t(y / 2) * frame.linesize[1] + x / 2] - 128;
            const double v = frame.data[2][std::ptrdiff_t(y / 2) * frame.linesize[2] + x / 2] - 128;
            const auto c = [](double d) { return std::clamp(int(std::lround(d)), 0, 255); };
            out[x] = qRgb(c(l + 1.793 * v), c(l - 0.213 * u - 0.533 * v), c(l + 2.112 * u));
        }
    }
    return image;
}

// Converted with the matrix the file is tagged with, as the recorder converts the screen.
const std::string kToScreen = "scale=out_color_matrix=bt709:out_range=tv,format=yuv420p";

class ExactExport : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        av_log_set_level(AV_LOG_ERROR);
        dir = new fixtures::TempDir;
        // A detailed moving screen whose colours turn (half a second apart
        // its pictures differ everywhere), a camera of the screen's size
        // (kept undecoded for the export as the screen is) and a tone, 3 s.
        fixtures::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=1920x1080:r=30:d=3,hue=H=2*PI*t/3,format=rgb24," + kToScreen,
                             "-f", "lavfi", "-i", "testsrc=s=1920x1080:r=30:d=3," + kToScreen, "-f", "lavfi", "-i",
                             "sine=frequency=440:duration=3", "-map", "0:v", "-map", "1:v", "-map", "2:a", "-c:v",
                             "libx264", "-preset", "ultrafast",
                             "-g", "60", "-pix_fmt", "yuv420p", "-colorspace", "bt709", "-color_primaries", "bt709",
                             "-color_trc", "bt709", "-c:a", "aac", (*dir / "rec.mov").string()});
    }
    static void TearDownTestSuite()
    {
        delete dir;
        dir = nullptr;
    }

    void SetUp() override
    {
        model = std::make_unique<EditorModel>(copyOf(*dir / "rec.mov", folder.path, "rec.mov"), settingsIn(folder.path));
        ASSERT_TRUE(loadAndWait(*model));
        ASSERT_FALSE(model->loadError()) << *model->loadError();
    }
    void TearDown() override
    {
        if (model) waitForSaves(*model);
    }

    Track* videoTrack(std::vector<Track>& tracks, int index)
    {
        for (Track& track : tracks)
            if (track.media.kind == MediaKind::video && track.media.index == index) return &track;
        return nullptr;
    }

    // Exports `options` to `name`, asserting that it was written.
    fs::path exported(const std::string& name, const Options& options)
    {
        const fs::path to = folder.path / name;
        std::optional<bool> result;
        model->exportTo(to, options, [&](bool written) { result = written; });
        EXPECT_TRUE(runUntil([&] { return result.has_value(); }, 300s));
        EXPECT_EQ(result, true) << model->exportError().value_or("");
        return to;
    }

    // Three exports of the edit as it stands: their decoded frames and
    // sound are identical, and each frame is the compositor's picture of its
    // time: the frames `compared` (counted from `spanStart`, in seconds) are
    // checked before the encoder, as the export's own path makes them, and
    // as decoded. Returns the first export's frames.
    std::vector<FramePtr> expectExactExports(const Options& options, double spanStart, std::vector<int> compared)
    {
        std::vector<fs::path> movies;
        for (int i = 0; i < 3; ++i) movies.push_back(exported("out" + std::to_string(i) + ".mp4", options));
        if (::testing::Test::HasFailure()) return {};
        const std::vector<std::string> sums = decodedChecksums(movies[0]);
        EXPECT_GT(sums.size(), 10u);
        for (int i = 1; i < 3; ++i) {
            const std::vector<std::string> other = decodedChecksums(movies[std::size_t(i)]);
            EXPECT_EQ(other.size(), sums.size());
            int differing = 0;
            std::string first;
            for (std::size_t n = 0; n < std::min(other.size(), sums.size()); ++n)
                if (other[n] != sums[n] && !differing++) first = sums[n] + " / " + other[n];
            EXPECT_EQ(differing, 0) << "export " << i << " differs from the first, first at " << first;
        }

        const RenderSettings settings = model->renderSettings();
        const Built built = makeComposition(settings);
        const auto video = makeVideoComposition(built, settings, false, kSize);
        using Reading = platform::CompositionRenderer::Reading;
        platform::CompositionRenderer whole(built.composition, video, {}, Reading::fullSize);
        platform::CompositionRenderer asExport(built.composition, video, {}, Reading::asExport);
        platform::EncoderPictures fromWhole(kSize), fromExport(kSize);

        std::vector<FramePtr> frames = decodedFrames(movies[0]);
        EXPECT_GE(frames.size(), std::size_t(compared.back() + 1));
        for (int k : compared) {
            if (std::size_t(k) >= frames.size()) break;
            SCOPED_TRACE(k);
            const platform::MediaTime t = platform::MediaTime::fromSeconds(spanStart) + platform::MediaTime(k, kFps);
            const auto reference = fromWhole.picture(whole.composedAt(t));
            const auto fast = asExport.composedAt(t);
            const auto picture = fromExport.picture(fast);
            // Where the source is passed on it is the source as decoded (its
            // round trip through BGRA alone is further from it than
            // rounding); what is drawn is the whole drawing up to rounding.
            const QRect all(QPoint(0, 0), kSize);
            const QRect drawn = !fast.base ? all : fast.image.isNull() ? QRect() : QRect(fast.origin, fast.image.size());
            for (int plane = 0; plane < 3; ++plane) {
                SCOPED_TRACE(plane);
                if (fast.base) {
                    EXPECT_EQ(differingOutside(*picture, fast.base->frame(), plane, drawn), 0);
                }
                if (!drawn.isEmpty()) {
                    EXPECT_GE(planePsnr(*picture, *reference, plane, drawn), kRounding);
                }
            }
            EXPECT_GE(lowestPsnr(*frames[std::size_t(k)], *reference), kEncoded);
        }
        return frames;
    }

    static void savePicture(const AVFrame& frame, const std::string& name)
    {
#ifdef ONDEXA_SCREENSHOTS
        fs::create_directories(ONDEXA_SCREENSHOTS);
        rgbOf(frame).save(QString::fromStdString(std::string(ONDEXA_SCREENSHOTS) + "/" + name + ".png"));
#else
        (void)frame;
        (void)name;
#endif
    }

    static inline fixtures::TempDir* dir = nullptr;
    TempFolder folder;
    std::unique_ptr<EditorModel> model;
};

class TransitionExport : public ExactExport, public ::testing::WithParamInterface<Transition> {};

std::string nameOf(Transition transition)
{
    for (const auto& [value, text] : rawValues(transition))
        if (value == transition) return std::string(text);
    return "?";
}

// A screen cut at 1.5 s, its second part pulled 0.5 s left over the first
// with the transition, as a user makes one; the camera left out.
TEST_P(TransitionExport, AtFullSizeEveryExportIsTheCompositorsPicture)
{
    std::vector<Track> tracks = model->tracks();
    std::erase_if(tracks, [](const Track& t) { return t.media.kind == MediaKind::video && t.media.index == 1; });
    model->commit(std::move(tracks));
    tracks = model->tracks();
    const Track* screen = videoTrack(tracks, 0);
    ASSERT_TRUE(screen);
    model->cutMatrix(1.5, 1.51, {screen->id});
    model->deleteSelection(false);

    std::optional<Clip> second;
    tracks = model->tracks();
    for (const Clip& clip : videoTrack(tracks, 0)->clips)
        if (clip.start > 1.505) second = clip;
    ASSERT_TRUE(second);
    model->pushUndo();
    model->moveClip(*second, MediaKind::video, -0.51, std::nullopt, 0);
    model->endClipDrag();
    tracks = model->tracks();
    Track* moved = videoTrack(tracks, 0);
    ASSERT_EQ(moved->clips.size(), 2u);
    Clip incoming = *std::max_element(moved->clips.begin(), moved->clips.end(),
                                      [](const Clip& a, const Clip& b) { return a.start < b.start; });
    ASSERT_NEAR(incoming.start, 1.0, 0.01);
    incoming.transition = GetParam();
    model->updateClip(incoming);

    // The overlap, 1.0 to 1.5 s, with a frame on either side.
    model->setMarkIn(0.9);
    model->setMarkOut(1.6);
    Options options;
    options.range = Options::Range::marks;
    options.size = Options::Size::original;
    std::vector<int> compared;
    for (int k = 0; k < 21; ++k) compared.push_back(k);
    const auto frames = expectExactExports(options, 0.9, compared);
    if (frames.size() > 10) savePicture(*frames[10], "export-transition-" + nameOf(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Each, TransitionExport, ::testing::ValuesIn(allTransitions().begin(), allTransitions().end()),
                         [](const auto& info) { return nameOf(info.param); });

// The full-size camera as a box over the screen, a caption, a zoom action on
// the screen and a fade at the end, over the whole 3 s.
TEST_F(ExactExport, ACameraBoxACaptionAZoomAndAFadeAreExportedExactlyEveryTime)
{
    std::vector<Track> tracks = model->tracks();
    Track* screen = videoTrack(tracks, 0);
    Track* camera = videoTrack(tracks, 1);
    ASSERT_TRUE(screen && camera);
    ASSERT_EQ(screen->clips.size(), 1u);
    ASSERT_EQ(camera->clips.size(), 1u);
    TrackAction zoom;
    zoom.start = 1.0;
    zoom.end = 1.8;
    zoom.scale = 1.6;
    zoom.centerX = 0.4;
    zoom.returns = true;
    screen->clips[0].actions.push_back(zoom);
    screen->clips[0].fadeOut = 0.5;
    camera->clips[0].fadeIn = 0.3;

    model->commit(std::move(tracks));
    // A caption over the marks, as the toolbar adds one, with a text of its own.
    model->setMarkIn(0.2);
    model->setMarkOut(2.2);
    model->addOverlay(OverlayKind::text);
    model->setMarkIn(std::nullopt);
    model->setMarkOut(std::nullopt);
    ASSERT_EQ(model->selectedClips().size(), 1u);
    std::optional<Clip> caption;
    for (const Track& track : model->tracks())
        for (const Clip& clip : track.clips)
            if (clip.overlay && model->selectedClips().contains(clip.id)) caption = clip;
    ASSERT_TRUE(caption);
    caption->overlay->text = "Árvíztűrő tükörfúrógép";
    caption->overlay->background = true;
    model->updateClip(*caption);

    Options options;
    options.size = Options::Size::original;
    // Every fourth frame and the ones around the zoom's and fade's edges.
    std::vector<int> compared;
    for (int k = 0; k < 90; ++k)
        if (k % 4 == 0 || (k >= 29 && k <= 31) || (k >= 74 && k <= 76) || k == 89) compared.push_back(k);
    const auto frames = expectExactExports(options, 0, compared);
    if (frames.size() > 45) savePicture(*frames[45], "export-fuller-edit");
}

} // namespace
