// Pictures drawn small (a picture-in-picture, a small preview) are decoded
// small: the instruction tells the size of each track's box, the source comes
// at it, and the frame looks as it did when the full picture was drawn small.

#include "Ondexa/rendering/EditCompositor.h"
#include "Ondexa/rendering/EditInstruction.h"
#include "Platform/media/Asset.h"
#include "Platform/media/Composition.h"
#include "Platform/media/CompositionRenderer.h"
#include "Platform/media/FrameCache.h"
#include "Platform/media/FrameReader.h"
#include "Platform/media/VideoComposition.h"
#include "rendering/GuiTestApplication.h"
#include "support/ImageCompare.h"
#include "support/MediaFixtures.h"

#include <gtest/gtest.h>

#include <future>

using namespace ondexa;
using platform::DrawnSize;
using platform::MediaTime;
using platform::TimeRange;

namespace {


constexpr double kSeconds = 2;

// One picture track whose clips show composition track 1.
std::shared_ptr<EditInstruction> instructionOf(std::vector<Clip> clips, double aspect)
{
    VideoLayer layer;
    VideoLayer::Pictures pictures;
    for (const Clip& clip : clips) pictures.video[clip.id] = 1;
    layer.content = pictures;
    layer.clips = std::move(clips);
    layer.outputAspect = aspect;
    auto state = std::make_shared<RenderState>(std::vector{layer}, std::vector<ClickEvent>{}, false,
                                               std::vector<CursorSample>{}, std::nullopt);
    return std::make_shared<EditInstruction>(TimeRange(MediaTime::zero(), MediaTime::fromSeconds(kSeconds)),
                                             std::vector<std::int32_t>{1}, std::move(state));
}

Clip clipOf(std::optional<NRect> frame, double start = 0, double duration = kSeconds)
{
    Clip clip;
    clip.start = start;
    clip.duration = duration;
    clip.frame = frame;
    return clip;
}

class DrawnSizeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = new fixtures::TempDir;
        // Fine detail, edges and text: what shows aliasing and blur.
        const auto file = *dir / "detail.mp4";
        fixtures::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=640x360:r=30:d=" + std::to_string(int(kSeconds)),
                             "-c:v", "libx264", "-crf", "16", "-pix_fmt", "yuv420p", file.string()});
        movie = platform::Asset::open(file);
    }
    static void TearDownTestSuite()
    {
        movie.reset();
        delete dir;
    }

    // The frame at t drawn from the full picture, as every frame was before.
    static QImage drawnFromFull(const std::shared_ptr<EditInstruction>& instruction, QSize size, const MediaTime& t)
    {
        platform::FrameReader reader(*movie, movie->videoStreams().at(0));
        std::map<std::int32_t, QImage> frames{{1, reader.frameAt(t).image}};
        EditCompositor compositor;
        std::promise<platform::FrameRequest::Result> promise;
        compositor.startRequest(std::make_shared<platform::FrameRequest>(
            t, instruction, std::move(frames), size,
            [&promise](platform::FrameRequest::Result r) { promise.set_value(std::move(r)); }));
        return promise.get_future().get().image;
    }

    static inline fixtures::TempDir* dir = nullptr;
    static inline std::shared_ptr<const platform::Asset> movie;
};

} // namespace

TEST(DrawnSize, IsTheBoxTheTracksActiveClipIsPlacedIn)
{
    const QSize output(640, 360);
    const auto at = [](double t) { return MediaTime::fromSeconds(t); };
    // Fitted full frame: the whole output, fitted inside it.
    EXPECT_EQ(instructionOf({clipOf(std::nullopt)}, 16.0 / 9)->drawnSize(1, at(1), output),
              (DrawnSize{output, false}));
    // A picture-in-picture of 0.4 of the width: a box the picture covers.
    const auto pip = instructionOf({clipOf(NRect{0.5, 0.5, 0.4, 0.4}, 0, 1)}, 16.0 / 9);
    EXPECT_EQ(pip->drawnSize(1, at(0.5), output), (DrawnSize{{256, 144}, true}));
    // No clip shows the track then, or it is another track: its own size.
    EXPECT_TRUE(pip->drawnSize(1, at(1.5), output).isFull());
    EXPECT_TRUE(pip->drawnSize(2, at(0.5), output).isFull());
    EXPECT_TRUE(pip->drawnSize(1, at(0.5), QSize()).isFull());
    // Two clips showing the track at once at different sizes: the full picture serves both.
    const auto twice = instructionOf({clipOf(NRect{0, 0, 0.4, 0.4}), clipOf(NRect{0.5, 0.5, 0.2, 0.2})}, 16.0 / 9);
    EXPECT_TRUE(twice->drawnSize(1, at(0.5), output).isFull());
    // Boxes rounded up, never smaller than drawn.
    EXPECT_EQ(instructionOf({clipOf(NRect{0.5, 0.5, 0.3, 0.3})}, 16.0 / 9)->drawnSize(1, at(1), {1920, 1080}),
              (DrawnSize{{576, 324}, true}));
    EXPECT_EQ(instructionOf({clipOf(NRect{0.5, 0.5, 0.32, 0.32})}, 16.0 / 9)->drawnSize(1, at(1), {1920, 1080}),
              (DrawnSize{{615, 346}, true}));
}

// A picture-in-picture, and a whole picture in a small output: the source is
// decoded halved, and the frame looks at least as much like the full picture
// smoothly scaled (as a paused preview shows it) as the frame drawn from the
// full picture did; where that was exact (half size), it stays so but for
// rounding.
TEST_F(DrawnSizeTest, SmallPicturesAreDecodedSmallAndLookAsDrawnFromTheFullOne)
{
    struct Case {
        const char* name;
        std::optional<NRect> frame;
        QSize output;
        QRect box;  // where the picture lies
        QSize decoded;
    } cases[] = {
        {"picture-in-picture", NRect{0.55, 0.55, 0.4, 0.4}, {640, 360}, {352, 198, 256, 144}, {320, 180}},
        {"small one", NRect{0.05, 0.05, 0.2, 0.2}, {640, 360}, {32, 18, 128, 72}, {160, 90}},
        {"small output", std::nullopt, {320, 180}, {0, 0, 320, 180}, {320, 180}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto instruction = instructionOf({clipOf(c.frame)}, 16.0 / 9);
        auto composition = std::make_shared<platform::Composition>();
        const std::int32_t track = composition->addTrack(platform::Composition::TrackKind::video);
        ASSERT_EQ(track, 1);
        composition->insertTimeRange(track, movie, movie->videoStreams().at(0),
                                     TimeRange(MediaTime::zero(), MediaTime::fromSeconds(kSeconds)), MediaTime::zero());
        auto video = std::make_shared<platform::VideoComposition>();
        video->renderSize = c.output;
        video->instructions.push_back(instruction);
        video->compositorFactory = [] { return std::make_unique<EditCompositor>(); };
        auto cache = std::make_shared<platform::FrameCache>(64u << 20);
        platform::CompositionRenderer renderer(composition, video, cache);

        const MediaTime t(20, 30);
        const QImage frame = renderer.imageAt(t);
        ASSERT_EQ(frame.size(), c.output);
        // The only picture decoded is the small one.
        const std::size_t bytes = cache->bytes();
        EXPECT_GE(bytes, std::size_t(c.decoded.width()) * std::size_t(c.decoded.height()) * 4);
        EXPECT_LT(bytes, std::size_t(c.decoded.width() + 64) * std::size_t(c.decoded.height() + 1) * 4 + 4096);

        const QImage before = drawnFromFull(instruction, c.output, t);
        ASSERT_EQ(before.size(), c.output);
        // Inside the rounded corners.
        const int inset = c.frame ? 10 : 0;
        const QRect inside = c.box.adjusted(inset, inset, -inset, -inset);
        platform::FrameReader reader(*movie, movie->videoStreams().at(0));
        const QImage smooth = reader.frameAt(t)
                                  .image.scaled(c.box.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                  .copy(inside.translated(-c.box.topLeft()));
        const double was = fixtures::psnr(before.copy(inside), smooth);
        const double is = fixtures::psnr(frame.copy(inside), smooth);
        EXPECT_GT(is, 30.0);
        EXPECT_GT(is, std::min(was - 0.5, 40.0)) << "drawn from the full picture: " << was;
        if (!c.frame) EXPECT_GT(fixtures::psnr(frame, before), 40.0);
    }
}
