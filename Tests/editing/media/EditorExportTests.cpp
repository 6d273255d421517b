// Exporting an edit: a 3 s 1080p recording with a frame-numbered screen, a
// camera and two sound tracks, exported by the editor and read back with
// ffprobe and the ffmpeg program.

#include "editing/EditingFixtures.h"
#include "rendering/GuiTestApplication.h"

#include "Ondexa/editing/WorkPools.h"
#include "Ondexa/model/Files.h"
#include "Ondexa/rendering/CompositionBuilder.h"
#include "Platform/media/CompositionRenderer.h"
#include "model/ChildProcess.h"
#include "support/ImageCompare.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include <QElapsedTimer>

#include <cmath>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include <sys/resource.h>

using namespace ondexa;
using namespace ondexa::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Options = EditorModel::ExportOptions;

namespace {

constexpr const char* kSourceAsTarget = "Az exportálás nem indítható: a célfájl a szerkesztés egyik forrásfájlja.";
constexpr const char* kEmptySpan = "Az exportálás nem indítható: az exportálandó szakasz üres.";
constexpr const char* kNoSound = "Az exportálás nem indítható: a kijelölt sávokban nincs hang.";

// Decoded pictures are compared at this size.
constexpr int kW = 480;
constexpr int kH = 270;

std::string bytesOf(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The half-written exports to `to` beside it (the editor's own safe writes
// come and go there too).
std::vector<std::string> leftoversOf(const fs::path& to)
{
    std::vector<std::string> names;
    for (const std::string& name : entries(to.parent_path()))
        if (isTemporaryName(name) && name.starts_with("." + to.filename().string() + ".")) names.push_back(name);
    return names;
}

// An earlier export that must survive whatever the next one does.
std::string earlierExport()
{
    std::string bytes;
    for (int i = 0; i < 50'000; ++i) bytes += char(i * 7919 % 251);
    return bytes;
}

std::string probe(const fs::path& file, const std::string& entries)
{
    std::istringstream in(fixtures::runFfprobe({"-show_entries", entries, "-of", "csv=p=0"}, file));
    std::string joined;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) joined += (joined.empty() ? "" : "|") + line;
    return joined;
}

std::vector<QImage> decodedFrames(const fs::path& file)
{
    const fs::path raw = fs::path(file).replace_extension(".rgb");
    fixtures::runFfmpeg({"-i", file.string(), "-map", "0:v:0", "-vf",
                         "scale=" + std::to_string(kW) + ":" + std::to_string(kH), "-pix_fmt", "rgb24", "-f",
                         "rawvideo", raw.string()});
    const std::string bytes = bytesOf(raw);
    fs::remove(raw);
    std::vector<QImage> frames;
    const std::size_t size = std::size_t(kW) * kH * 3;
    for (std::size_t at = 0; at + size <= bytes.size(); at += size)
        frames.push_back(
            QImage(reinterpret_cast<const uchar*>(bytes.data() + at), kW, kH, kW * 3, QImage::Format_RGB888).copy());
    return frames;
}

int frameNumber(const QImage& image)
{
    return fixtures::frameNumberOf([&](int x, int y) { return unsigned(image.pixel(x, y)); }, image.width(),
                                   image.height());
}

using fixtures::meanDifference;

bool isBlue(QRgb p)
{
    return qBlue(p) > 180 && qRed(p) < 70 && qGreen(p) < 70;
}

class EditorExport : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        av_log_set_level(AV_LOG_ERROR);  // as the program does: no encoder statistics
        dir = new fixtures::TempDir;
        RecordingRecipe recipe;
        recipe.seconds = 3;
        makeRecording(*dir / "rec.mov", recipe);
    }
    static void TearDownTestSuite()
    {
        delete dir;
        dir = nullptr;
    }

    void SetUp() override
    {
        movie = copyOf(*dir / "rec.mov", folder.path, "rec.mov");
        model = std::make_unique<EditorModel>(movie, settingsIn(folder.path));
        ASSERT_TRUE(loadAndWait(*model));
        ASSERT_FALSE(model->loadError()) << *model->loadError();
        ASSERT_NEAR(model->duration(), 3.0, 0.05);
    }
    void TearDown() override
    {
        if (model) waitForSaves(*model);
    }

    const Track& track(const std::string& name) const
    {
        for (const Track& t : model->tracks())
            if (t.name == name) return t;
        throw std::runtime_error("no track " + name);
    }

    // Runs one export to its end; none when it never ended.
    std::optional<bool> exportAndWait(const fs::path& to, const Options& options,
                                      std::chrono::milliseconds limit = 180s)
    {
        std::optional<bool> result;
        model->exportTo(to, options, [&](bool written) { result = written; });
        runUntil([&] { return result.has_value(); }, limit);
        return result;
    }

    static Options options(Options::Range range, Options::Size size, Options::Encoding encoding,
                           Options::Format format)
    {
        Options o;
        o.range = range;
        o.size = size;
        o.encoding = encoding;
        o.format = format;
        return o;
    }

    void expectIdle()
    {
        EXPECT_FALSE(model->exportProgress());
        EXPECT_EQ(model->exportSession(), nullptr);
    }

    static inline fixtures::TempDir* dir = nullptr;
    TempFolder folder;
    fs::path movie;
    std::unique_ptr<EditorModel> model;
};

TEST_F(EditorExport, TheWholeEditAsH264MP4ShowsWhatTheCompositorDraws)
{
    const fs::path to = folder.path / "out.mp4";
    const auto result =
        exportAndWait(to, options(Options::Range::all, Options::Size::fullHD, Options::Encoding::fast,
                                  Options::Format::mp4));
    ASSERT_EQ(result, true) << model->exportError().value_or("");
    EXPECT_EQ(model->lastExport(), to);
    EXPECT_FALSE(model->exportError());
    expectIdle();

    EXPECT_EQ(probe(to, "stream=codec_name,profile,width,height,pix_fmt,color_space,color_primaries,color_transfer"),
              "h264,High,1920,1080,yuv420p,bt709,bt709,bt709|aac,LC");
    EXPECT_EQ(probe(to, "stream=sample_rate,channels"), "48000,2");
    EXPECT_NEAR(std::stod(probe(to, "format=duration")), 3.0, 0.05);

    const auto frames = decodedFrames(to);
    ASSERT_EQ(frames.size(), 90u);
    for (std::size_t k = 0; k < frames.size(); ++k) EXPECT_EQ(frameNumber(frames[k]), int(k)) << k;

    // The same frames drawn by the compositor straight from the edit: the
    // camera box where it puts it, in the file too.
    const RenderSettings settings = model->renderSettings();
    const Built built = makeComposition(settings);
    platform::CompositionRenderer renderer(built.composition,
                                           makeVideoComposition(built, settings, false, QSize(1920, 1080)));
    for (int k : {0, 44, 89}) {
        SCOPED_TRACE(k);
        const QImage drawn = renderer.imageAt(platform::MediaTime(k, 30))
                                 .scaled(kW, kH, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                 .convertToFormat(QImage::Format_RGB888);
        ASSERT_TRUE(isBlue(drawn.pixel(kW / 2, kH / 2)));  // the camera, in the middle
        EXPECT_TRUE(isBlue(frames[std::size_t(k)].pixel(kW / 2, kH / 2)));
        EXPECT_FALSE(isBlue(frames[std::size_t(k)].pixel(kW / 8, kH * 7 / 8)));
        EXPECT_LT(meanDifference(drawn, frames[std::size_t(k)]), 6.0);
    }
}

// Other choices: the codec and container, sound alone, and the matrix.
TEST_F(EditorExport, EncodingsFormatsAndTheMatrixSelection)
{
    using R = Options::Range;
    using S = Options::Size;
    using E = Options::Encoding;
    using F = Options::Format;
    struct Case {
        std::string name;
        Options options;
        std::string streams;  // codec_name,codec_tag_string per stream
        std::string brand;
        double duration;
        int firstFrame;  // -1: no picture
    };
    const std::vector<Case> cases{
        {"normal.mov", options(R::all, S::quarter, E::normal, F::mov), "hevc,hvc1|aac,mp4a", "qt  ", 3.0, 0},
        {"sound.m4a", options(R::all, S::original, E::normal, F::m4a), "aac,mp4a", "M4A ", 3.0, -1},
        {"matrix.mp4", options(R::matrix, S::quarter, E::fast, F::mp4), "h264,avc1", "isom", 1.0, 30},
    };
    model->setMatrixSelection(EditorModel::MatrixSelection{1, 2, {track("Képernyő").id}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path to = folder.path / c.name;
        ASSERT_EQ(exportAndWait(to, c.options), true) << model->exportError().value_or("");
        expectIdle();
        EXPECT_EQ(probe(to, "stream=codec_name,codec_tag_string"), c.streams);
        EXPECT_EQ(probe(to, "format_tags=major_brand"), c.brand);
        EXPECT_NEAR(std::stod(probe(to, "format=duration")), c.duration, 0.05);
        if (c.firstFrame < 0) continue;
        EXPECT_EQ(probe(to, "stream=width,height").substr(0, 7), "480,270");
        const auto frames = decodedFrames(to);
        ASSERT_EQ(frames.size(), std::size_t(c.duration * 30));
        for (std::size_t k = 0; k < frames.size(); k += 7) EXPECT_EQ(frameNumber(frames[k]), c.firstFrame + int(k));
    }
}

TEST_F(EditorExport, ProgressStartsAtZeroRisesEvery200msAndEnds)
{
    std::vector<std::pair<qint64, std::optional<double>>> seen;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(model.get(), &EditorModel::exportProgressChanged, [&] {
        seen.emplace_back(clock.elapsed(), model->exportProgress());
    });
    ASSERT_EQ(exportAndWait(folder.path / "out.mov", options(Options::Range::all, Options::Size::original,
                                                             Options::Encoding::fast, Options::Format::mov)),
              true);
    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(seen.front().second, 0.0);
    EXPECT_EQ(seen.back().second, std::nullopt);
    for (std::size_t i = 1; i + 1 < seen.size(); ++i) {
        ASSERT_TRUE(seen[i].second);
        EXPECT_GE(*seen[i].second, *seen[i - 1].second);
        EXPECT_LE(*seen[i].second, 1.0);
    }
    // On the poll's beat: a late reading is made up by the next one, so only
    // the mean counts (a coarse timer may be 5 % early; a loaded machine late).
    const double beats = double(seen.size() - 2);
    const double mean = double(seen[seen.size() - 2].first - seen.front().first) / beats;
    EXPECT_GE(mean, 185.0);
    EXPECT_LT(mean, 1000.0);
}

TEST_F(EditorExport, CancelRemovesTheFileQuietly)
{
    const fs::path to = folder.path / "out.mp4";
    std::optional<bool> result;
    model->exportTo(to, options(Options::Range::all, Options::Size::original, Options::Encoding::normal,
                                Options::Format::mp4),
                    [&](bool written) { result = written; });
    ASSERT_NE(model->exportSession(), nullptr);
    // After the first reading of the session's progress.
    int readings = 0;
    QObject::connect(model.get(), &EditorModel::exportProgressChanged, [&] { ++readings; });
    ASSERT_TRUE(runUntil([&] { return readings > 0 || result; }, 120s));
    ASSERT_FALSE(result) << "done before the first reading";
    model->exportSession()->cancel();
    ASSERT_TRUE(runUntil([&] { return result.has_value(); }, 60s));
    EXPECT_EQ(result, false);
    EXPECT_FALSE(fs::exists(to));
    EXPECT_EQ(leftoversOf(to), std::vector<std::string>{});
    EXPECT_FALSE(model->exportError());
    EXPECT_FALSE(model->lastExport());
    expectIdle();
}

// While an export runs, the file it replaces stays whole under its name; a
// cancel at a third leaves it byte for byte, and nothing else beside it.
TEST_F(EditorExport, CancelKeepsTheFileItWouldHaveReplaced)
{
    const fs::path to = folder.path / "out.mp4";
    const std::string earlier = earlierExport();
    std::ofstream(to, std::ios::binary) << earlier;
    std::optional<bool> result;
    bool keptWhileRunning = false;
    std::vector<std::string> writing;
    QObject::connect(model.get(), &EditorModel::exportProgressChanged, [&] {
        if (model->exportProgress().value_or(0) < 0.3 || !model->exportSession() || !writing.empty()) return;
        keptWhileRunning = bytesOf(to) == earlier;
        writing = leftoversOf(to);
        model->exportSession()->cancel();
    });
    model->exportTo(to, options(Options::Range::all, Options::Size::original, Options::Encoding::normal,
                                Options::Format::mp4),
                    [&](bool written) { result = written; });
    ASSERT_TRUE(runUntil([&] { return result.has_value(); }, 180s));
    ASSERT_EQ(result, false) << "done before a third";
    EXPECT_TRUE(keptWhileRunning);
    EXPECT_EQ(writing.size(), 1u);  // the export, hidden beside it
    EXPECT_EQ(bytesOf(to), earlier);
    EXPECT_EQ(leftoversOf(to), std::vector<std::string>{});
    EXPECT_FALSE(model->exportError());
    expectIdle();
}

// A kill in the middle of an export leaves what stood at the destination,
// or nothing where nothing stood: never a file without its ending. The
// half-written one is hidden litter, gone with the next safe write there.
// No editor has lived in this process before the fork: the child would
// inherit queues and writers whose threads it doesn't have.
TEST(EditorExportKill, AKillDuringTheExportLeavesNoBrokenFile)
{
    av_log_set_level(AV_LOG_ERROR);
    TempFolder folder;
    RecordingRecipe recipe;
    recipe.seconds = 3;
    const fs::path movie = makeRecording(folder.path / "rec.mov", recipe);
    Options options;
    options.range = Options::Range::all;
    options.size = Options::Size::original;
    options.encoding = Options::Encoding::normal;
    options.format = Options::Format::mov;

    const std::string earlier = earlierExport();
    for (const bool replacing : {true, false}) {
        SCOPED_TRACE(replacing ? "over an earlier export" : "a new file");
        const fs::path to = folder.path / (replacing ? "earlier.mov" : "new.mov");
        if (replacing) std::ofstream(to, std::ios::binary) << earlier;
        const ChildOutcome outcome = runInChild(
            [&] {
                EditorModel editor(movie, settingsIn(folder.path));
                bool loaded = false;
                editor.load([&] { loaded = true; });
                ASSERT_TRUE(runUntil([&] { return loaded; }, 180s));
                std::optional<bool> result;
                editor.exportTo(to, options, [&](bool written) { result = written; });
                runUntil([&] { return result || editor.exportProgress().value_or(0) >= 0.3; }, 180s);
                EXPECT_FALSE(result) << "done before a third";
                if (!result) ::kill(::getpid(), SIGKILL);
            },
            240s);
        ASSERT_TRUE(outcome.killedBy(SIGKILL)) << outcome.describe();
        if (replacing) EXPECT_EQ(bytesOf(to), earlier);
        else EXPECT_FALSE(entryExists(to));
        EXPECT_EQ(leftoversOf(to).size(), 1u);
        writeFileAtomically(folder.path / "other.json", "{}");
        EXPECT_EQ(leftoversOf(to), std::vector<std::string>{});
    }
}

// A finished export takes the place of the earlier one, movie or sound
// alone; a safe write into the same folder while the movie is being written
// (one that cleans up temporary files there) leaves it alone.
TEST_F(EditorExport, AFinishedExportReplacesTheEarlierOne)
{
    for (const auto format : {Options::Format::mp4, Options::Format::m4a}) {
        const bool movie = format == Options::Format::mp4;
        const fs::path to = folder.path / (movie ? "out.mp4" : "out.m4a");
        SCOPED_TRACE(to.filename().string());
        std::ofstream(to, std::ios::binary) << earlierExport();
        // Sound alone is written faster than the first reading.
        bool cleaned = !movie;
        const auto connection = QObject::connect(model.get(), &EditorModel::exportProgressChanged, [&] {
            if (cleaned || leftoversOf(to).empty()) return;
            writeFileAtomically(folder.path / "other.json", "{}");
            cleaned = true;
        });
        const auto result = exportAndWait(to, options(Options::Range::all, Options::Size::original,
                                                      Options::Encoding::fast, format));
        QObject::disconnect(connection);
        EXPECT_TRUE(cleaned);
        ASSERT_EQ(result, true) << model->exportError().value_or("");
        EXPECT_EQ(model->lastExport(), to);
        EXPECT_NEAR(std::stod(probe(to, "format=duration")), 3.0, 0.05);
        EXPECT_EQ(leftoversOf(to), std::vector<std::string>{});
    }
}

// A second export started while one runs leaves the first running: both
// end and report, and the model is idle only after the last.
TEST_F(EditorExport, TwoExportsAtOnceBothEnd)
{
    const Options sound = options(Options::Range::all, {}, {}, Options::Format::m4a);
    const Options movie = options(Options::Range::all, Options::Size::quarter, {}, Options::Format::mp4);
    std::optional<bool> first, second;
    model->exportTo(folder.path / "first.mp4", movie, [&](bool written) { first = written; });
    model->exportTo(folder.path / "second.m4a", sound, [&](bool written) { second = written; });
    ASSERT_TRUE(runUntil([&] { return first && second; }, 180s));
    EXPECT_EQ(first, true);
    EXPECT_EQ(second, true);
    EXPECT_NEAR(std::stod(probe(folder.path / "first.mp4", "format=duration")), 3.0, 0.05);
    EXPECT_NEAR(std::stod(probe(folder.path / "second.m4a", "format=duration")), 3.0, 0.05);
    expectIdle();
}

// A write that fails midway (the disk full, as far as the export can tell):
// the session's own sentence, and the file that was there before stays
// whole, movie or sound alone.
TEST_F(EditorExport, AFailedWriteReportsTheSessionsErrorAndKeepsTheEarlierFile)
{
    const std::string earlier = earlierExport();
    for (const auto format : {Options::Format::mp4, Options::Format::m4a}) {
        const fs::path to = folder.path / (format == Options::Format::mp4 ? "out.mp4" : "out.m4a");
        SCOPED_TRACE(to.filename().string());
        std::ofstream(to, std::ios::binary) << earlier;
        waitForSaves(*model);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit limit = old;
        limit.rlim_cur = 8'000;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        const auto result = exportAndWait(
            to, options(Options::Range::all, Options::Size::original, Options::Encoding::fast, format));
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previous);
        EXPECT_EQ(result, false);
        EXPECT_EQ(model->exportError(), "Írási hiba az exportálás közben (File too large).");
        EXPECT_EQ(bytesOf(to), earlier);
        EXPECT_EQ(leftoversOf(to), std::vector<std::string>{});
        EXPECT_FALSE(model->lastExport());
        expectIdle();
    }
}

// Places the export cannot take fail with a sentence that names them, and
// leave nothing behind.
TEST_F(EditorExport, AnUnwritablePlaceIsNamedInTheError)
{
    const fs::path missing = folder.path / "nincs" / "out.mp4";
    const fs::path taken = folder.path / "mappa.mp4";
    fs::create_directory(taken);
    const Options quick = options(Options::Range::all, Options::Size::quarter, Options::Encoding::fast,
                                  Options::Format::mp4);
    EXPECT_EQ(exportAndWait(missing, quick), false);
    EXPECT_EQ(model->exportError(),
              "A célfájl nem hozható létre: " + missing.string() + " (No such file or directory)");
    EXPECT_EQ(exportAndWait(taken, quick), false);
    EXPECT_EQ(model->exportError(), "A célfájl helyén egy mappa áll, nem írható felül: " + taken.string() + ".");
    EXPECT_TRUE(fs::is_directory(taken));
    EXPECT_TRUE(fs::is_empty(taken));
    EXPECT_EQ(leftoversOf(taken), std::vector<std::string>{});
    expectIdle();
}

// Exports that can't be right are refused before anything is touched.
TEST_F(EditorExport, RefusedExportsTouchNothing)
{
    const std::string recording = bytesOf(movie);
    const fs::path link = folder.path / "link.mp4";
    fs::create_symlink(movie, link);
    const fs::path other = folder.path / "other.mp4";
    const Uuid screen = track("Képernyő").id;
    struct Case {
        std::string name;
        fs::path to;
        Options options;
        std::optional<EditorModel::MatrixSelection> matrix;
        bool emptyTimeline;
        std::string error;
    };
    const Options all;
    const std::vector<Case> cases{
        {"the recording", movie, all, std::nullopt, false, kSourceAsTarget},
        {"a link to it", link, all, std::nullopt, false, kSourceAsTarget},
        {"matrix backwards", other, options(Options::Range::matrix, {}, {}, {}), EditorModel::MatrixSelection{2, 1, {screen}},
         false, kEmptySpan},
        {"matrix past the end", other, options(Options::Range::matrix, {}, {}, {}),
         EditorModel::MatrixSelection{5, 7, {screen}}, false, kEmptySpan},
        {"screen alone as sound", other, options(Options::Range::matrix, {}, {}, Options::Format::m4a),
         EditorModel::MatrixSelection{0, 3, {screen}}, false, kNoSound},
        {"empty timeline", other, all, std::nullopt, true, kEmptySpan},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(other) << "keep me";
        model->setMatrixSelection(c.matrix);
        if (c.emptyTimeline) model->setTracks({});
        std::optional<bool> result;
        model->exportTo(c.to, c.options, [&](bool written) { result = written; });
        EXPECT_EQ(result, false);  // at once
        EXPECT_EQ(model->exportError(), c.error);
        expectIdle();
        EXPECT_EQ(bytesOf(other), "keep me");
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(bytesOf(movie), recording);
    }
    EXPECT_FALSE(model->lastExport());
}

} // namespace
