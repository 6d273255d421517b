// The program run with test flags on the test desktop, judged by its log
// and by what it wrote (read back with ffprobe).

#include "rendering/GuiTestApplication.h"  // QProcess and QImage need an application
#include "selftest/SelftestHarness.h"
#include "Ondexa/model/RecordingInfo.h"
#include "support/MediaFixtures.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>

#include <cstdlib>

namespace ondexa::testing {
namespace {

namespace fs = std::filesystem;

// ffprobe's answer for one field of a file's first video stream or its format.
double probe(const fs::path& file, const std::string& entry)
{
    return std::atof(fixtures::runFfprobe({"-select_streams", "v:0", "-show_entries", entry, "-of",
                                           "default=noprint_wrappers=1:nokey=1"},
                                          file)
                         .c_str());
}

std::vector<fs::path> moviesIn(const fs::path& folder)
{
    std::vector<fs::path> movies;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (it->path().extension() == ".mov") movies.push_back(it->path());
    return movies;
}

TEST(SelftestRun, SnapshotWithoutItsFolderWritesOnlyTheLaunchLine)
{
    SelftestLaunch launch;
    launch.run({"--snapshot"}, exact("Önteszt indul: --snapshot"));
    expectLines(launch.lines({"Önteszt", "Ablakképek"}), {exact("Önteszt indul: --snapshot")});
}

// --- The recorder ---

struct RecorderCase {
    const char* name;
    QStringList flags;
    double seconds;  // the wait between start and stop
    int fps;
    int width;  // of the recorded picture
    friend void PrintTo(const RecorderCase& c, std::ostream* out) { *out << c.name; }
};

class SelftestRecorder : public ::testing::TestWithParam<RecorderCase> {};

TEST_P(SelftestRecorder, RecordsAndPutsTheSettingsBack)
{
    const RecorderCase& c = GetParam();
    SelftestLaunch launch;
    // Stored settings of a user who records the display at 30 fps and once chose an area.
    const QString store = path(launch.home().temp.path / "config" / "Vendalum" / "Vendalum.conf");
    {
        QSettings settings(store, QSettings::IniFormat);
        settings.setValue("captureMode", "display");
        settings.setValue("area", "[40,50,320,200]");
        settings.setValue("fps", 30);
    }
    // The input is on (as stored by default) and the test desktop has an
    // interface: its capture runs before the tests begin.
    launch.run(QStringList{"--selftest"} + c.flags, exact("Önteszt: kész"));
    expectLines(launch.lines({"Önteszt"}),
                {exact("Önteszt indul: --selftest"), startsWith("Önteszt: kijelzők=1 engedély=true mic=true "),
                 exact("Önteszt: állapot indítás után = recording"), exact("Önteszt: kész")});

    const auto movies = moviesIn(launch.home().recordings());
    ASSERT_EQ(movies.size(), 1u);
    const double duration = probe(movies[0], "format=duration");
    EXPECT_GT(duration, c.seconds - 0.8);
    EXPECT_LT(duration, c.seconds + 2.5);
    // The frame rate the recorder was made with (a loaded machine drops
    // frames, so the movie's own rate says less).
    const auto saved = launch.lines({"Felvétel mentve: "});
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_NE(saved[0].find(" · " + std::to_string(c.fps) + " kép/mp · "), std::string::npos) << saved[0];
    EXPECT_NEAR(probe(movies[0], "stream=width"), c.width, 2);

    QSettings settings(store, QSettings::IniFormat);
    EXPECT_EQ(settings.value("captureMode").toString(), "display");
    EXPECT_EQ(settings.value("fps").toInt(), 30);
    const QJsonArray area = QJsonDocument::fromJson(settings.value("area").toString().toUtf8()).array();
    EXPECT_EQ(area, (QJsonArray{40, 50, 320, 200})) << settings.value("area").toString().toStdString();
}

INSTANTIATE_TEST_SUITE_P(SelftestLaunches, SelftestRecorder,
                         ::testing::Values(RecorderCase{"StoredSettings", {}, 4.0, 30, 1920},
                                           RecorderCase{"At60WithArea", {"--fps60", "--area"}, 6.0, 60, 801}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Window snapshots ---

TEST(SelftestRun, SnapshotSavesTheRecordAndTheEditorWindow)
{
    SelftestLaunch launch;
    const auto source = launch.freshRecording();
    const fs::path shots = launch.work() / "ablakok";
    fs::create_directories(shots);
    launch.run({"--snapshot", path(shots), "--open", path(source)}, startsWith("Ablakképek mentve: "));
    expectLines(launch.lines({"Önteszt", "Ablakképek"}),
                {exact("Önteszt indul: --snapshot"), exact("Ablakképek mentve: " + shots.string())});

    // The record window and the one editor window, each wider than 300: the
    // paths after the flags are no files to open.
    std::vector<fs::path> pictures;
    for (const auto& entry : fs::directory_iterator(shots)) pictures.push_back(entry.path());
    std::sort(pictures.begin(), pictures.end());
    ASSERT_EQ(pictures.size(), 2u);
    for (const auto& picture : pictures) {
        EXPECT_TRUE(picture.filename().string().starts_with("window")) << picture;
        const QImage image(path(picture));
        EXPECT_GT(image.width(), 300) << picture;
        EXPECT_GT(image.height(), 50) << picture;
        // Kept for a person to look at.
        std::error_code ignored;
        fs::create_directories(ONDEXA_SCREENSHOTS, ignored);
        fs::copy_file(picture, fs::path(ONDEXA_SCREENSHOTS) / ("selftest-" + picture.filename().string()),
                      fs::copy_options::overwrite_existing, ignored);
    }
}

// --- The editor's features ---

TEST(SelftestRun, FeatureTestOnARecordingWithAPicture)
{
    SelftestLaunch launch;
    const auto source = launch.freshRecording();
    const auto picture = launch.freshPicture();
    const auto side = RecordingInfo::sideFileURL(source);
    // The inputs go back in place after the last line.
    launch.run({"--featuretest", path(source), path(launch.work())}, startsWith("Funkcióteszt: max.m4a "),
               std::chrono::seconds(240), [&] { return fs::exists(source) && fs::exists(picture); });
    const auto lines = launch.lines({"Önteszt", "Funkcióteszt"});
    expectLines(lines, {exact("Önteszt indul: --featuretest"),
                        // 0.89 over the sine's 0.25: 11.0 dB (0.0 dB would mean the peaks were not there)
                        exact("Funkcióteszt: Rendszerhang maximalizáló erősítés 11.0 dB"),
                        startsWith("Funkcióteszt: bélyegképek [\"F.mov#0: "),
                        exact("Funkcióteszt: a csomagban: [\"F.mov\", \"kep.png\"]"),
                        exact("Funkcióteszt: max.m4a OK · matrix.mp4 OK · projekt újranyitva: egyezik (F.mov)")});
    // Every media's filmstrip has pictures, the imported still's too.
    if (lines.size() > 2) {
        const std::string& counts = lines[2];
        EXPECT_NE(counts.find("\"kep.png#0: "), std::string::npos) << counts;
        EXPECT_EQ(counts.find(": 0\""), std::string::npos) << counts;
    }
    // The inputs are back where they were, the maximizer stored beside the source.
    EXPECT_TRUE(fs::exists(source));
    EXPECT_TRUE(fs::exists(picture));
    const auto info = RecordingInfo::load(source);
    ASSERT_TRUE(info && info->project);
    EXPECT_TRUE(std::any_of(info->project->tracks.begin(), info->project->tracks.end(),
                            [](const Track& t) { return t.media.kind == MediaKind::audio && t.maximize; }));
    EXPECT_TRUE(fs::exists(side));

    EXPECT_NEAR(probe(launch.work() / "max.m4a", "format=duration"), 20.05, 0.2);
    EXPECT_NEAR(probe(launch.work() / "matrix.mp4", "format=duration"), 3.0, 0.2);
    // HD fits the recording into 1280 × 720 and never enlarges it.
    EXPECT_EQ(probe(launch.work() / "matrix.mp4", "stream=height"), 360);
    EXPECT_TRUE(fs::exists(launch.work() / "teszt.vdlproj" / "project.json"));
}

// SIGTERM at each of the feature test's lines, the last one included (the
// inputs are still set aside then): the recording and the picture are back
// in place, whole, before the program has ended.
TEST(SelftestRun, FeatureTestEndedAtAnyLinePutsItsInputsBack)
{
    const LineMatch lines[] = {exact("Önteszt indul: --featuretest"),
                               startsWith("Funkcióteszt: Rendszerhang maximalizáló erősítés "),
                               startsWith("Funkcióteszt: bélyegképek "), startsWith("Funkcióteszt: a csomagban: "),
                               startsWith("Funkcióteszt: max.m4a ")};
    for (const LineMatch& line : lines) {
        SCOPED_TRACE(line.text);
        SelftestLaunch launch;
        const auto source = launch.freshShortRecording();
        const auto picture = launch.freshPicture();
        launch.run({"--featuretest", path(source), path(launch.work())}, line);
        EXPECT_TRUE(fs::exists(source) && readFile(source) == readFile(selftestInputs().shortRecording));
        EXPECT_TRUE(fs::exists(picture) && readFile(picture) == readFile(selftestInputs().picture));
        for (const auto& entry : fs::directory_iterator(launch.work()))
            EXPECT_EQ(entry.path().filename().string().find(".aside"), std::string::npos) << entry.path();
    }
}

// --- Export and cancel ---

TEST(SelftestRun, ExportTestWritesTenSecondsAndStopsTheSecondExport)
{
    SelftestLaunch launch;
    const auto source = launch.freshRecording();
    launch.run({"--exporttest", path(source), path(launch.work())}, startsWith("Exportteszt: megszakítás "));
    const auto lines = launch.lines({"Önteszt", "Exportteszt"});
    expectLines(lines, {exact("Önteszt indul: --exporttest"), startsWith("Exportteszt: 4K HEVC mátrix KÉSZ "),
                        startsWith("Exportteszt: megszakítás ")});
    const fs::path matrix = launch.work() / "matrix4k.mp4";
    EXPECT_NEAR(probe(matrix, "format=duration"), 10.0, 0.2);
    EXPECT_EQ(fixtures::runFfprobe({"-select_streams", "v:0", "-show_entries", "stream=codec_name", "-of",
                                    "default=noprint_wrappers=1:nokey=1"},
                                   matrix),
              "hevc\n");
    EXPECT_EQ(probe(matrix, "stream=width"), 640);

    // Stopped: no file; finished first: a complete one.
    ASSERT_EQ(lines.size(), 3u);
    const fs::path cancelled = launch.work() / "cancelled.mp4";
    if (lines[2].starts_with("Exportteszt: megszakítás leállt ")) {
        EXPECT_FALSE(fs::exists(cancelled));
    } else {
        EXPECT_TRUE(lines[2].starts_with("Exportteszt: megszakítás nem állt le (befejeződött) ")) << lines[2];
        EXPECT_NEAR(probe(cancelled, "format=duration"), 20.0, 0.2);
    }
    EXPECT_TRUE(lines[2].ends_with(" mp után")) << lines[2];
}

TEST(SelftestRun, ExportTestCallsAFailedSecondExportAFailureNotAStop)
{
    SelftestLaunch launch;
    const auto source = launch.freshRecording();
    // A folder where the second movie should go: that export fails at once.
    fs::create_directories(launch.work() / "cancelled.mp4" / "foglalt");
    launch.run({"--exporttest", path(source), path(launch.work())}, startsWith("Exportteszt: megszakítás "));
    const auto lines = launch.lines({"Önteszt", "Exportteszt"});
    expectLines(lines, {exact("Önteszt indul: --exporttest"), startsWith("Exportteszt: 4K HEVC mátrix KÉSZ "),
                        startsWith("Exportteszt: megszakítás HIBA ")});
    // The model's error follows, then the time.
    if (lines.size() == 3) {
        EXPECT_GT(lines[2].size(), std::string("Exportteszt: megszakítás HIBA  0.0 mp után").size()) << lines[2];
        EXPECT_TRUE(lines[2].ends_with(" mp után")) << lines[2];
    }
}

} // namespace
} // namespace ondexa::testing
