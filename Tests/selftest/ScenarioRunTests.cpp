// The editing scenarios run by the program on fresh copies of F, judged by
// their log lines, by the movies they wrote (read back with ffprobe) and by
// what they left beside the recording.

#include "selftest/SelftestHarness.h"
#include "Ondexa/model/Files.h"
#include "Ondexa/model/RecordingInfo.h"
#include "support/MediaFixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace ondexa::testing {
namespace {

namespace fs = std::filesystem;

struct Movie {
    int width = 0;
    int height = 0;
    double seconds = 0;
};

Movie probeMovie(const fs::path& file)
{
    Movie movie;
    if (!fs::exists(file)) return movie;
    const std::string size = fixtures::runFfprobe(
        {"-select_streams", "v:0", "-show_entries", "stream=width,height", "-of", "csv=p=0:s=x"}, file);
    std::sscanf(size.c_str(), "%dx%d", &movie.width, &movie.height);
    movie.seconds = std::atof(
        fixtures::runFfprobe({"-show_entries", "format=duration", "-of", "default=noprint_wrappers=1:nokey=1"}, file)
            .c_str());
    return movie;
}

void expectMovie(const fs::path& file, int width, int height, double seconds)
{
    const Movie movie = probeMovie(file);
    EXPECT_EQ(movie.width, width) << file;
    EXPECT_EQ(movie.height, height) << file;
    EXPECT_NEAR(movie.seconds, seconds, 0.2) << file;
}

// The bytes of a file, or "" when it is missing.
std::string bytesOf(const fs::path& file)
{
    return fs::exists(file) ? readFile(file) : std::string();
}

// The side file of `file` with a saved edit of a screen and a sound track
// from the recording, each with one clip of `seconds` unless its kind is `emptied`.
void saveEdit(const fs::path& file, double seconds, std::optional<MediaKind> emptied = std::nullopt)
{
    RecordingInfo info = RecordingInfo::load(file).value();
    Track screen;
    screen.name = "Képernyő";
    screen.media = MediaRef{file.string(), MediaKind::video, 0};
    Track sound;
    sound.name = "Rendszerhang";
    sound.media = MediaRef{file.string(), MediaKind::audio, 0};
    for (Track* track : {&screen, &sound}) {
        track->fromRecording = true;
        if (track->media.kind == emptied) continue;
        Clip clip;
        clip.duration = seconds;
        clip.media = track->media;
        track->clips.push_back(clip);
    }
    info.project = Project{Project::currentVersion, {screen, sound}, std::nullopt};
    info.save(file);
}

const std::vector<std::string> kHeads{"Önteszt", "Fadeteszt", "Mozgatás-teszt", "Hézag-teszt", "Átmenet-teszt",
                                      "Mátrix-teszt", "Szerkesztés-teszt"};

TEST(SelftestScenarioRun, GapTestClosesTheHoleAndSavesAProject)
{
    SelftestLaunch launch;
    const auto source = launch.freshRecording();
    const std::string sideBefore = bytesOf(RecordingInfo::sideFileURL(source));
    launch.run({"--gaptest", path(source), path(launch.work())}, startsWith("Hézag-teszt projekt mentve: "));
    expectLines(launch.lines(kHeads),
                {exact("Önteszt indul: --gaptest"),
                 exact("Hézag-teszt lyukkal: Képernyő: 0.00-3.00,5.00-20.00 | Rendszerhang: 0.00-3.00,5.00-20.00"),
                 exact("Hézag-teszt összekötött társak: [\"Rendszerhang\"]"),
                 exact("Hézag-teszt kijelölt hézag: 3.00-5.00"),
                 exact("Hézag-teszt bezárva: Képernyő: 0.00-3.00,3.00-18.00 | Rendszerhang: 0.00-3.00,3.00-18.00"
                       " · min lépték 0.0926 pont/mp"),
                 exact("Hézag-teszt projekt mentve: true")});

    // The package holds the edit over its own copy of the working recording.
    const fs::path package = launch.work() / "hezag.vdlproj";
    EXPECT_TRUE(fs::exists(package / "project.json"));
    EXPECT_TRUE(fs::exists(package / "Media" / "gap-source.mov"));
    const std::string project = bytesOf(package / "project.json");
    EXPECT_NE(project.find("\"circle\""), std::string::npos);
    EXPECT_NE(project.find("Szöveg"), std::string::npos);
    // The source and its side file were only read.
    EXPECT_EQ(bytesOf(RecordingInfo::sideFileURL(source)), sideBefore);
    EXPECT_EQ(fs::file_size(source), fs::file_size(selftestInputs().recording));
}

TEST(SelftestScenarioRun, MoveTestPutsTheStillOnTheScreenTrackAndTheGroupOneUp)
{
    SelftestLaunch launch;
    const auto source = launch.freshRecording();
    const auto picture = launch.freshPicture();
    // An editing state beside the source must not reach the working copy.
    saveEdit(source, 5);
    launch.run({"--movetest", path(source), path(picture), path(launch.work())},
               startsWith("Mozgatás-teszt export: "));
    expectLines(launch.lines(kHeads),
                {exact("Önteszt indul: --movetest"),
                 exact("Mozgatás-teszt kezdet: kep: 9.0-12.0 | Képernyő: 0.0-20.0 | Rendszerhang: 0.0-20.0"),
                 exact("Mozgatás-teszt kép a képernyő sávon: kep:  | Képernyő: 0.0-20.0,12.0-15.0 | "
                       "Rendszerhang: 0.0-20.0"),
                 exact("Mozgatás-teszt csoport egy sávval feljebb: kep: 0.0-20.0 | Képernyő: 12.0-15.0 | "
                       "Rendszerhang: 0.0-20.0"),
                 exact("Mozgatás-teszt export: OK")});
    expectMovie(launch.work() / "move.mp4", 160, 90, 20.0);
    EXPECT_TRUE(fs::exists(launch.work() / "move-source.mov"));
}

TEST(SelftestScenarioRun, FadeTestOverlapsTwoScreenPiecesAndStoresTheEdit)
{
    SelftestLaunch launch;
    const auto source = launch.freshRecording();
    launch.run({"--fadetest", path(source), path(launch.work())}, startsWith("Fadeteszt export: "));
    expectLines(launch.lines(kHeads),
                {exact("Önteszt indul: --fadetest"),
                 exact("Fadeteszt: 20 ms-os darabok=2 · összekötve kijelölve=2 · képernyő sávok átfedéssel=2"
                       " · hang vége=20.00"),
                 exact("Fadeteszt export: OK")});
    expectMovie(launch.work() / "fade.mp4", 640, 360, 20.0);

    // The side file holds the cut, the drag and the fade.
    const auto info = RecordingInfo::load(source);
    ASSERT_TRUE(info && info->project);
    const auto& tracks = info->project->tracks;
    const auto sound = std::find_if(tracks.begin(), tracks.end(),
                                    [](const Track& t) { return t.media.kind == MediaKind::audio; });
    ASSERT_NE(sound, tracks.end());
    ASSERT_FALSE(sound->clips.empty());
    EXPECT_EQ(sound->clips.back().fadeOut, 2.0);
    EXPECT_EQ(sound->clips.size(), 3u);
}

TEST(SelftestScenarioRun, TransitionTestWritesOneMoviePerTransition)
{
    SelftestLaunch launch;
    const auto source = launch.freshRecording();
    launch.run({"--transitiontest", path(source), path(launch.work())}, startsWith("Átmenet-teszt Ráközelítés: "),
               std::chrono::seconds(420));
    std::vector<LineMatch> expected{exact("Önteszt indul: --transitiontest")};
    for (const char* label : {"Áttűnés", "Feketén át", "Törlés balról", "Betolás", "Kör", "Ráközelítés"}) {
        expected.push_back(exact(std::string("Átmenet-teszt ") + label + " export indul"));
        expected.push_back(exact(std::string("Átmenet-teszt ") + label + ": OK"));
    }
    expectLines(launch.lines(kHeads), expected);
    for (const char* name : {"dissolve", "dipToBlack", "wipe", "push", "circle", "zoom"})
        expectMovie(launch.work() / (std::string(name) + ".mp4"), 160, 90, 20.0);

    // The working copy's side file holds the last pass alone: one overlap, with the zoom.
    const auto info = RecordingInfo::load(launch.work() / "transition-source.mov");
    ASSERT_TRUE(info && info->project);
    int transitions = 0;
    for (const Track& track : info->project->tracks)
        for (const Clip& clip : track.clips)
            if (clip.transition) {
                ++transitions;
                EXPECT_EQ(*clip.transition, Transition::zoom);
                EXPECT_NEAR(clip.start, 4.0, 1e-6);
            }
    EXPECT_EQ(transitions, 1);
    ASSERT_TRUE(info->cursorStyle);
    EXPECT_TRUE(info->cursorStyle->enabled && info->cursorStyle->ring);
}

TEST(SelftestScenarioRun, EditTestEditsExportsAndImportsTheStillTwice)
{
    SelftestLaunch launch;
    const auto source = launch.freshRecording();
    const auto picture = launch.freshPicture();
    const fs::path output = launch.work() / "szerkesztett.mp4";
    // Only a name ending in lower-case ".png" counts as a still to import.
    const fs::path upper = launch.work() / "masik.PNG";
    fs::copy_file(picture, upper);
    launch.run({"--edittest", path(source), path(output), path(picture), path(upper)},
               startsWith("Szerkesztés-teszt export: "));
    expectLines(launch.lines(kHeads),
                {exact("Önteszt indul: --edittest"),
                 exact("Mátrix-teszt: kijelölve=2 | Képernyő: 0.0-2.0,2.0-4.0,4.0-20.0 | "
                       "Rendszerhang: 0.0-2.0,2.0-4.0,4.0-20.0"),
                 exact("Szerkesztés-teszt: Effektek 1: 1.0-3.0*1,3.0-5.0,5.0-7.0 | kep:  | kep: 2.0-5.0,6.0-9.0 | "
                       "Képernyő: 0.0-2.0,2.0-4.0,4.0-20.0 | Rendszerhang: 0.0-2.0,2.0-4.0,4.0-20.0"),
                 exact("Szerkesztés-teszt export: OK")});
    expectMovie(output, 640, 360, 20.0);
}

TEST(SelftestScenarioRun, GapTestReportsAProjectThatCannotBeWritten)
{
    SelftestLaunch launch;
    const auto source = launch.freshShortRecording();
    // A file where the package's media folder would go.
    const fs::path package = launch.work() / "hezag.vdlproj";
    fs::create_directories(package);
    std::ofstream(package / "Media") << "nem mappa";
    launch.run({"--gaptest", path(source), path(launch.work())}, startsWith("Hézag-teszt projekt mentve: "));
    expectLines(launch.lines(kHeads),
                {exact("Önteszt indul: --gaptest"),
                 exact("Hézag-teszt lyukkal: Képernyő: 0.00-3.00,5.00-6.00 | Rendszerhang: 0.00-3.00,5.00-6.00"),
                 exact("Hézag-teszt összekötött társak: [\"Rendszerhang\"]"),
                 exact("Hézag-teszt kijelölt hézag: 3.00-5.00"),
                 exact("Hézag-teszt bezárva: Képernyő: 0.00-3.00,3.00-4.00 | Rendszerhang: 0.00-3.00,3.00-4.00"
                       " · min lépték 0.0926 pont/mp"),
                 exact("Hézag-teszt projekt mentve: false")});
    EXPECT_FALSE(fs::exists(package / "project.json"));
}

// A working copy that is the recording itself would be removed before the
// copy is made: the three tests that copy refuse it and leave it whole.
TEST(SelftestScenarioRun, WorkingCopyThatIsTheSourceIsRefused)
{
    SelftestLaunch launch;
    const fs::path move = launch.freshRecording("move-source.mov");
    const fs::path gap = launch.freshRecording("gap-source.mov");
    const fs::path transition = launch.freshRecording("transition-source.mov");
    const fs::path picture = launch.freshPicture();
    std::vector<std::string> sides;
    for (const fs::path& file : {move, gap, transition}) sides.push_back(bytesOf(RecordingInfo::sideFileURL(file)));

    // The folder named another way: through "." it is still the same place.
    const fs::path folder = launch.work() / ".";
    launch.run({"--movetest", path(move), path(picture), path(folder), "--gaptest", path(gap), path(folder),
                "--transitiontest", path(transition), path(folder)},
               startsWith("Átmenet-teszt"));
    expectLines(launch.lines(kHeads), {exact("Önteszt indul: --movetest"),
                                       exact("Mozgatás-teszt: HIBA: a forrás és a munkapéldány ugyanaz"),
                                       exact("Hézag-teszt: HIBA: a forrás és a munkapéldány ugyanaz"),
                                       exact("Átmenet-teszt: HIBA: a forrás és a munkapéldány ugyanaz")});
    std::size_t i = 0;
    for (const fs::path& file : {move, gap, transition}) {
        EXPECT_EQ(fs::file_size(file), fs::file_size(selftestInputs().recording)) << file;
        EXPECT_EQ(bytesOf(RecordingInfo::sideFileURL(file)), sides[i++]) << file;
    }
    for (const char* name : {"move.mp4", "hezag.vdlproj", "dissolve.mp4"}) EXPECT_FALSE(fs::exists(launch.work() / name));
}

// An output that is what a test reads, however it is named there: every test
// refuses before it touches anything, with its own HIBA line.
TEST(SelftestScenarioRun, EveryTestRefusesToWriteOverWhatItReads)
{
    SelftestLaunch launch;
    const fs::path out = launch.work() / "ki";
    fs::create_directories(out / "sub");
    const auto shortCopy = [&](const fs::path& file) {
        fs::copy_file(selftestInputs().shortRecording, file);
        return file;
    };
    // The feature test's sound export is the recording under another name.
    const fs::path featureSource = out / "max.m4a";
    fs::create_hard_link(launch.freshShortRecording("F1.mov"), featureSource);
    // The fade test's folder named through "..".
    const fs::path fadeSource = shortCopy(out / "fade.mp4");
    // The move test's recording is a link to its movie.
    const fs::path moveMovie = shortCopy(out / "move.mp4");
    fs::create_symlink(moveMovie, launch.work() / "link.mov");
    // The gap test's package is a link to the working copy an earlier run left.
    const fs::path gapSource = launch.freshShortRecording("F3.mov");
    std::ofstream(out / "gap-source.mov") << "egy korábbi futás másolata";
    fs::create_symlink(out / "gap-source.mov", out / "hezag.vdlproj");
    // The recording copied under the first transition's name.
    const fs::path transitionSource = shortCopy(out / "dissolve.mp4");
    const fs::path exportSource = shortCopy(out / "cancelled.mp4");
    const fs::path opened = shortCopy(out / "window0.png");
    // The edit test's still is its output.
    const fs::path editSource = launch.freshShortRecording("F4.mov");
    const fs::path still = launch.freshPicture(out);

    launch.run({"--featuretest", path(featureSource), path(out), "--fadetest", path(fadeSource), path(out / "sub" / ".."),
                "--movetest", path(launch.work() / "link.mov"), path(launch.freshPicture()), path(out), "--gaptest",
                path(gapSource), path(out), "--transitiontest", path(transitionSource), path(out), "--exporttest",
                path(exportSource), path(out), "--snapshot", path(out), "--open", path(opened), "--edittest",
                path(editSource), path(still), path(still)},
               startsWith("Szerkesztés-teszt"));
    expectLines(launch.lines({"Önteszt", "Funkcióteszt", "Fadeteszt", "Mozgatás-teszt", "Hézag-teszt", "Átmenet-teszt",
                              "Exportteszt", "Ablakképek", "Mátrix-teszt", "Szerkesztés-teszt"}),
                {exact("Önteszt indul: --featuretest"),
                 exact("Funkcióteszt: HIBA: a forrás és a kimenet (max.m4a) ugyanaz"),
                 exact("Fadeteszt: HIBA: a forrás és a kimenet (fade.mp4) ugyanaz"),
                 exact("Mozgatás-teszt: HIBA: a forrás és a kimenet (move.mp4) ugyanaz"),
                 exact("Hézag-teszt: HIBA: a munkapéldány és a kimenet (hezag.vdlproj) ugyanaz"),
                 exact("Átmenet-teszt: HIBA: a forrás és a kimenet (dissolve.mp4) ugyanaz"),
                 exact("Exportteszt: HIBA: a forrás és a kimenet (cancelled.mp4) ugyanaz"),
                 exact("Ablakképek: HIBA: a forrás és a kimenet (window0.png) ugyanaz"),
                 exact("Szerkesztés-teszt: HIBA: a forrás és a kimenet (kep.png) ugyanaz")});

    const std::string recording = bytesOf(selftestInputs().shortRecording);
    for (const fs::path& file : {featureSource, fadeSource, moveMovie, transitionSource, exportSource, opened, editSource})
        EXPECT_TRUE(bytesOf(file) == recording) << file;
    EXPECT_TRUE(bytesOf(still) == bytesOf(selftestInputs().picture));
    EXPECT_TRUE(bytesOf(out / "gap-source.mov") == "egy korábbi futás másolata");
    EXPECT_TRUE(fs::is_symlink(out / "hezag.vdlproj"));
    // Nothing was begun: no working copy, no other output.
    for (const char* name : {"matrix.mp4", "teszt.vdlproj", "move-source.mov", "transition-source.mp4", "wipe.mp4",
                             "matrix4k.mp4", "window1.png"})
        EXPECT_FALSE(fs::exists(out / name)) << name;
}

// What a test does when the recording lacks what it works on: the fade test
// on an empty sound or screen track and the gap test without sound say
// nothing, the move test without an importable picture and the transition
// test on 6 s say why they stop; none writes a movie or a project.
TEST(SelftestScenarioRun, MissingTracksAndClipsEndTheTestsEarly)
{
    SelftestLaunch launch;
    const fs::path emptySound = launch.freshRecording("ures-hang.mov");
    const fs::path emptyScreen = launch.freshRecording("ures-kep.mov");
    // A saved edit whose sound (or screen) track has lost every clip.
    saveEdit(emptySound, 20, MediaKind::audio);
    saveEdit(emptyScreen, 20, MediaKind::video);
    const fs::path silent = launch.work() / "nema.mov";
    fixtures::runFfmpeg({"-i", selftestInputs().recording.string(), "-an", "-c", "copy", silent.string()});
    const fs::path shortOne = launch.freshShortRecording();
    const fs::path out = launch.work() / "ki";
    fs::create_directories(out);

    const struct {
        QStringList arguments;
        const char* last;
    } launches[] = {
        {{"--fadetest", path(emptySound), path(out), "--gaptest", path(silent), path(out), "--transitiontest",
          path(shortOne), path(out)},
         "Átmenet-teszt: nincs második klip"},
        {{"--fadetest", path(emptyScreen), path(out), "--movetest", path(emptyScreen), path(out / "nincs.png"),
          path(out)},
         "Mozgatás-teszt: nincs sáv"},
    };
    for (const auto& l : launches) {
        SelftestLaunch run;
        run.run(l.arguments, exact(l.last));
        expectLines(run.lines(kHeads), {exact("Önteszt indul: --fadetest"), exact(l.last)});
    }
    for (const char* name : {"fade.mp4", "hezag.vdlproj", "dissolve.mp4", "move.mp4"})
        EXPECT_FALSE(fs::exists(out / name)) << name;
}

} // namespace
} // namespace ondexa::testing
