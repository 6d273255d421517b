// The export's pictures: where a source frame is drawn 1:1 at the bottom it is
// passed to the encoder as decoded, with only what lies over it drawn and
// converted. Compared, before the encoder, with the same frames drawn whole in
// BGRA and converted, over an edit with a camera box, a stretch of the bare
// screen and a turned screen, across the cuts between them.

#include "editing/EditingFixtures.h"
#include "editing/media/YuvCompare.h"
#include "rendering/GuiTestApplication.h"

#include "Ondexa/rendering/CompositionBuilder.h"
#include "Platform/media/CompositionRenderer.h"
#include "Platform/media/EncoderPictures.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

using namespace ondexa;
using namespace ondexa::testing;
namespace fs = std::filesystem;

namespace {

constexpr QSize kSize(1920, 1080);

class ExportPictures : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        av_log_set_level(AV_LOG_ERROR);
        dir = new fixtures::TempDir;
        // Detailed, saturated pictures: a screen and a camera, 3 s.
        fixtures::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=1920x1080:r=30:d=3", "-f", "lavfi", "-i",
                             "testsrc=s=640x480:r=30:d=3", "-map", "0:v", "-map", "1:v", "-c:v", "libx264",
                             "-preset", "ultrafast", "-g", "60", "-pix_fmt", "yuv420p", (*dir / "rec.mov").string()});
    }
    static void TearDownTestSuite()
    {
        delete dir;
        dir = nullptr;
    }

    static inline fixtures::TempDir* dir = nullptr;
    TempFolder folder;
};

TEST_F(ExportPictures, DrawnOverTheDecodedScreenTheyDifferFromWholeDrawingsOnlyByRounding)
{
    EditorModel model(copyOf(*dir / "rec.mov", folder.path, "rec.mov"), settingsIn(folder.path));
    ASSERT_TRUE(loadAndWait(model));
    ASSERT_FALSE(model.loadError()) << *model.loadError();
    // The camera box for the first second; the screen turned a little from 2 s on.
    std::vector<Track> tracks = model.tracks();
    int edited = 0;
    for (Track& track : tracks) {
        if (track.media.kind != MediaKind::video || track.clips.size() != 1) continue;
        if (track.media.index == 1) {
            track.clips[0].duration = 1.0;
            ++edited;
        } else if (track.media.index == 0) {
            auto parts = track.clips[0].split(2.0);
            ASSERT_TRUE(parts);
            parts->second.rotation = 4;
            track.clips = {parts->first, parts->second};
            ++edited;
        }
    }
    ASSERT_EQ(edited, 2);
    model.commit(std::move(tracks));

    const RenderSettings settings = model.renderSettings();
    const Built built = makeComposition(settings);
    const auto video = makeVideoComposition(built, settings, false, kSize);
    using Reading = platform::CompositionRenderer::Reading;
    platform::CompositionRenderer whole(built.composition, video, {}, Reading::fullSize);
    platform::CompositionRenderer asExport(built.composition, video, {}, Reading::asExport);
    platform::EncoderPictures fromWhole(kSize), fromExport(kSize);

    for (int k : {0, 14, 29, 30, 31, 45, 59, 60, 61, 89}) {
        SCOPED_TRACE(k);
        const platform::MediaTime t(k, 30);
        const auto fast = asExport.composedAt(t);
        // What each stretch allows: the camera's part drawn over the screen,
        // the screen alone as decoded, the turned screen drawn whole.
        ASSERT_EQ(fast.base != nullptr, k < 60);
        if (k < 30) {
            ASSERT_FALSE(fast.image.isNull());
            EXPECT_LT(fast.image.width() * fast.image.height(), kSize.width() * kSize.height() / 4);
        } else if (k < 60) {
            EXPECT_TRUE(fast.image.isNull());
        }
        const auto a = fromExport.picture(fast);
        const auto b = fromWhole.picture(whole.composedAt(t));
        EXPECT_EQ(a->color_range, AVCOL_RANGE_MPEG);
        EXPECT_EQ(a->colorspace, AVCOL_SPC_BT709);
        EXPECT_EQ(a->color_primaries, AVCOL_PRI_BT709);
        EXPECT_EQ(a->color_trc, AVCOL_TRC_BT709);
        EXPECT_EQ(a->pict_type, AV_PICTURE_TYPE_NONE);
        // Outside what is drawn over it, the screen exactly as decoded (the
        // BGRA round trip itself is further from it than rounding on these
        // saturated pictures); inside, as drawn whole, up to rounding.
        const QRect drawn = fast.image.isNull() ? QRect() : QRect(fast.origin, fast.image.size());
        for (int plane = 0; plane < 3; ++plane) {
            SCOPED_TRACE(plane);
            if (fast.base) {
                EXPECT_EQ(differingOutside(*a, fast.base->frame(), plane, drawn), 0);
            }
            const QRect compared = fast.base ? drawn : QRect(QPoint(0, 0), kSize);
            if (!compared.isEmpty()) {
                EXPECT_GT(planePsnr(*a, *b, plane, compared), 45.0);
            }
        }
        // The same moment's picture: luma further from the whole drawing than
        // the round trip takes it would be another frame.
        EXPECT_GT(planePsnr(*a, *b, 0, QRect(QPoint(0, 0), kSize)), 33.0);
    }
}

} // namespace
