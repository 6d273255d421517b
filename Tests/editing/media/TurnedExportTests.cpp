// Movies whose streams ask to be turned or mirrored for display, exported by
// the editor as the recording and as added media, compared with what the
// ffmpeg program shows of them by itself (it turns by default).

#include "editing/EditingFixtures.h"
#include "rendering/GuiTestApplication.h"

#include "support/ImageCompare.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include <QDir>
#include <QPainter>

#include <cmath>
#include <functional>

using namespace ondexa;
using namespace ondexa::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Options = EditorModel::ExportOptions;

namespace {

// Frame `k` of a file's first video stream, as the ffmpeg program shows it.
QImage shownFrame(const fs::path& file, int k)
{
    const fs::path png = fs::path(file).replace_extension(".frame" + std::to_string(k) + ".png");
    fixtures::runFfmpeg({"-i", file.string(), "-map", "0:v:0", "-vf", "select=eq(n\\," + std::to_string(k) + ")",
                         "-frames:v", "1", png.string()});
    QImage image(QString::fromStdString(png.string()));
    fs::remove(png);
    return image.convertToFormat(QImage::Format_RGB32);
}

void saveForViewing(const QImage& image, const std::string& name)
{
#ifdef ONDEXA_SCREENSHOTS
    const QDir folder(QStringLiteral(ONDEXA_SCREENSHOTS));
    folder.mkpath(".");
    image.save(folder.filePath(QString::fromStdString(name) + ".png"));
#else
    (void)image;
    (void)name;
#endif
}

// How each case turns the stream, written either by the ffmpeg program (a
// turn) or with libavformat (a mirror).
struct Turn {
    std::string name;
    std::function<void(const fs::path& from, const fs::path& to)> make;
};

std::vector<Turn> turns()
{
    auto metadata = [](int degrees) {
        return [degrees](const fs::path& from, const fs::path& to) {
            fixtures::runFfmpeg({"-i", from.string(), "-map", "0", "-c", "copy", "-metadata:s:v:0",
                                 "rotate=" + std::to_string(degrees), to.string()});
        };
    };
    auto mirror = [](int clockwise) {
        return [clockwise](const fs::path& from, const fs::path& to) {
            fixtures::copyShownAs(from, to, clockwise, true);
        };
    };
    // This ffmpeg writes "rotate=90" as a quarter turn counterclockwise.
    return {{"turned-ccw90", metadata(90)},
            {"turned-180", metadata(180)},
            {"turned-cw90", metadata(270)},
            {"mirrored", mirror(0)},
            {"mirrored-cw90", mirror(90)}};
}

class TurnedExport : public ::testing::Test {
protected:
    void SetUp() override { av_log_set_level(AV_LOG_ERROR); }

    std::unique_ptr<EditorModel> open(const fs::path& movie)
    {
        auto model = std::make_unique<EditorModel>(movie, settingsIn(folder.path));
        EXPECT_TRUE(loadAndWait(*model));
        EXPECT_FALSE(model->loadError()) << *model->loadError();
        return model;
    }

    static bool exportAndWait(EditorModel& model, const fs::path& to)
    {
        Options o;
        o.range = Options::Range::all;
        o.size = Options::Size::fullHD;
        o.encoding = Options::Encoding::fast;
        o.format = Options::Format::mp4;
        std::optional<bool> result;
        model.exportTo(to, o, [&](bool written) { result = written; });
        runUntil([&] { return result.has_value(); }, 180s);
        return result == true;
    }

    TempFolder folder;
};

} // namespace

// A square recording: turned or not it fills the output exactly, so the
// previewed and exported frames compare with the ffmpeg program's pixel for
// pixel.
TEST_F(TurnedExport, ATurnedRecordingExportsUpright)
{
    const fs::path plain = makeRecording(folder.path / "plain.mov",
                                         {.seconds = 1, .width = 240, .height = 240, .camera = false, .tones = 1});
    for (const Turn& turn : turns()) {
        SCOPED_TRACE(turn.name);
        const fs::path movie = folder.path / (turn.name + ".mov");
        turn.make(plain, movie);
        auto model = open(movie);
        // The preview shows it upright too.
        bool seeked = false;
        model->player().seek(platform::MediaTime(17, 30), [&](bool) { seeked = true; });
        ASSERT_TRUE(runUntil([&] { return seeked && !model->player().currentFrame().isNull(); }));
        const QImage preview = model->player().currentFrame();
        ASSERT_EQ(preview.size(), QSize(240, 240));
        EXPECT_GT(fixtures::psnr(preview, shownFrame(movie, 17)), 35.0);

        const fs::path out = folder.path / (turn.name + ".mp4");
        ASSERT_TRUE(exportAndWait(*model, out)) << model->exportError().value_or("");
        waitForSaves(*model);

        for (int k : {5, 17}) {
            const QImage exported = shownFrame(out, k);
            const QImage expected = shownFrame(movie, k);
            ASSERT_EQ(exported.size(), QSize(240, 240));
            ASSERT_EQ(expected.size(), QSize(240, 240));
            EXPECT_GT(fixtures::psnr(exported, expected), 35.0) << k;
            if (k == 17) saveForViewing(exported, "export-" + turn.name);
        }
    }
}

// A phone's upright movie added to a landscape edit: its picture box has the
// portrait aspect, and the picture fills it upright, whole, not a slice.
TEST_F(TurnedExport, TurnedMediaFillItsPictureBoxUpright)
{
    const fs::path edit = makeRecording(folder.path / "edit.mov",
                                        {.seconds = 1, .width = 640, .height = 360, .camera = false, .tones = 0});
    fixtures::NumberedVideo recipe(30, 640, 360);
    recipe.rgb = 0x3080C0;
    const fs::path stored = fixtures::makeNumberedVideo(folder.path / "phone-stored.mov", recipe);
    const fs::path phone = folder.path / "phone.mov";
    fixtures::runFfmpeg({"-i", stored.string(), "-c", "copy", "-metadata:s:v:0", "rotate=270", phone.string()});

    auto model = open(edit);
    bool added = false;
    model->addMedia(phone, [&] { added = true; });
    ASSERT_TRUE(runUntil([&] { return added; }));
    ASSERT_EQ(model->tracks().size(), 2u);
    const Clip clip = model->tracks().front().clips.at(0);
    ASSERT_TRUE(clip.frame);
    EXPECT_NEAR(clip.aspect, 360.0 / 640.0, 1e-9);
    const fs::path out = folder.path / "with-phone.mp4";
    ASSERT_TRUE(exportAndWait(*model, out)) << model->exportError().value_or("");
    waitForSaves(*model);

    const QImage exported = shownFrame(out, 12);
    ASSERT_EQ(exported.size(), QSize(640, 360));
    saveForViewing(exported, "export-added-phone-video");
    // The ffmpeg program's upright frame drawn into the box in output pixels
    // (it reaches past the top and bottom), compared in the middle of the
    // box, clear of its edge and corners.
    const QRectF box(640 * clip.frame->x, 360 * clip.frame->y, 640 * clip.frame->w, 360 * clip.frame->h);
    QImage expected(640, 360, QImage::Format_RGB32);
    expected.fill(Qt::black);
    {
        QPainter painter(&expected);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(box, shownFrame(phone, 12));
    }
    const QRect middle = box.intersected(QRectF(0, 0, 640, 360))
                             .adjusted(box.width() * 0.1, 20, -box.width() * 0.1, -20)
                             .toAlignedRect();
    EXPECT_GT(fixtures::psnr(exported.copy(middle), expected.copy(middle)), 35.0);
}
