// Opening recordings and projects: the tracks a fresh recording gets, older
// editing states converted, the stored clicks and pointer, media sources,
// every failure's message, and the backup of a file the editor could not
// take over whole.

#include "EditingFixtures.h"
#include "rendering/GuiTestApplication.h"

#include "Ondexa/model/Files.h"
#include "Ondexa/model/ProjectFile.h"
#include "Ondexa/model/RecordingInfo.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace ondexa;
using namespace ondexa::testing;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> namesOf(const std::vector<Track>& tracks)
{
    std::vector<std::string> names;
    for (const Track& track : tracks) names.push_back(track.name);
    return names;
}

const Track* named(const std::vector<Track>& tracks, const std::string& name)
{
    for (const Track& track : tracks)
        if (track.name == name) return &track;
    return nullptr;
}

std::optional<RecordingInfo> sideFileOf(const fs::path& movie) { return RecordingInfo::load(movie); }

std::vector<Track> renamed(std::vector<Track> tracks, const std::string& name)
{
    tracks.front().name = name;
    return tracks;
}

class EditorLoading : public ::testing::Test {
protected:
    // The shared recording copied into this test's folder, with a side file
    // when given.
    fs::path recording(const std::optional<RecordingInfo>& info = std::nullopt, const std::string& name = "rec.mov")
    {
        const fs::path movie = copyOf(sharedRecording(), folder.path, name);
        if (info) info->save(movie);
        return movie;
    }
    std::unique_ptr<EditorModel> open(const fs::path& url)
    {
        auto model = std::make_unique<EditorModel>(url, settingsIn(folder.path));
        EXPECT_TRUE(loadAndWait(*model));
        return model;
    }

    TempFolder folder;
};

TEST_F(EditorLoading, AFreshRecordingGetsATrackPerStreamAndItsSideFile)
{
    const fs::path movie = recording();
    auto model = open(movie);
    ASSERT_FALSE(model->loadError()) << *model->loadError();

    const auto& tracks = model->tracks();
    EXPECT_EQ(namesOf(tracks), (std::vector<std::string>{"Kamera", "Képernyő", "Hangsáv 1", "Hangsáv 2"}));
    const Clip& camera = tracks[0].clips.at(0);
    ASSERT_TRUE(camera.frame);
    EXPECT_DOUBLE_EQ(camera.frame->x, 0.33);
    EXPECT_DOUBLE_EQ(camera.frame->w, 0.34);
    EXPECT_NEAR(camera.frame->h, 0.4533, 1e-4);
    EXPECT_NEAR(camera.frame->y, 0.2733, 1e-4);
    EXPECT_TRUE(camera.rounded);
    EXPECT_FALSE(tracks[1].clips.at(0).rounded);
    EXPECT_DOUBLE_EQ(tracks[0].clips[0].aspect, 4.0 / 3.0);  // the camera's own aspect

    std::set<std::optional<Uuid>> links;
    for (const Track& track : tracks) {
        ASSERT_EQ(track.clips.size(), 1u) << track.name;
        EXPECT_TRUE(track.fromRecording);
        EXPECT_NEAR(track.clips[0].duration, 20, 0.1) << track.name;
        links.insert(track.clips[0].link);
    }
    EXPECT_EQ(links.size(), 1u);
    EXPECT_TRUE(*links.begin());
    EXPECT_FALSE(model->hasClicks());
    EXPECT_FALSE(model->showClicks());
    EXPECT_FALSE(model->cursorStyle());
    EXPECT_EQ(model->screenSize(), QSize(1920, 1080));
    EXPECT_NE(model->player().currentItem(), nullptr);
    EXPECT_TRUE(model->isLoaded());

    waitForSaves(*model);
    const auto stored = sideFileOf(movie);
    ASSERT_TRUE(stored && stored->project);
    EXPECT_EQ(stored->project->version, 4);
    EXPECT_EQ(stored->project->tracks, model->tracks());
}

TEST_F(EditorLoading, TakesTheStoredClicksPointerAndStyle)
{
    CursorStyle stored;
    stored.scale = 3;
    struct Case {
        const char* label;
        std::optional<std::vector<std::vector<double>>> clicks, cursor;
        std::optional<bool> showClicks;
        std::optional<CursorStyle> style;
        std::vector<ClickEvent> expectedClicks;
        std::size_t expectedSamples;
        bool expectedShowClicks;
        std::optional<CursorStyle> expectedStyle;
    } cases[] = {
        {"short entries skipped",
         std::vector<std::vector<double>>{{1, .5, .5}, {2, .1, .2, 1}, {3, .1}},
         std::vector<std::vector<double>>{{0, .1, .1}, {.1, .2, .2, 9}},
         std::nullopt,
         std::nullopt,
         {{1, .5, .5, false}, {2, .1, .2, true}},
         1,
         true,
         CursorStyle{.enabled = false}},
        {"a zero fourth number is a left click", std::vector<std::vector<double>>{{2, .1, .2, 0}}, std::nullopt,
         false, stored, {{2, .1, .2, false}}, 0, false, std::nullopt},
        {"stored style with samples", std::nullopt, std::vector<std::vector<double>>{{0, .1, .1}}, true, stored, {}, 1,
         false, stored},
    };
    for (const Case& c : cases) {
        TempFolder caseFolder;
        RecordingInfo info;
        info.clicks = c.clicks;
        info.cursor = c.cursor;
        info.showClicks = c.showClicks;
        info.cursorStyle = c.style;
        const fs::path movie = copyOf(sharedRecording(), caseFolder.path, "rec.mov");
        info.save(movie);
        EditorModel model(movie, settingsIn(caseFolder.path));
        ASSERT_TRUE(loadAndWait(model));
        EXPECT_EQ(model.clicks(), c.expectedClicks) << c.label;
        EXPECT_EQ(model.hasClicks(), !c.expectedClicks.empty()) << c.label;
        EXPECT_EQ(model.cursorSamples().size(), c.expectedSamples) << c.label;
        EXPECT_EQ(model.showClicks(), c.expectedShowClicks) << c.label;
        EXPECT_EQ(model.cursorStyle(), c.expectedStyle) << c.label;
        waitForSaves(model);
        // What was loaded goes back as it was; a style not taken stays stored.
        const auto written = sideFileOf(movie);
        ASSERT_TRUE(written) << c.label;
        EXPECT_EQ(written->clicks, c.clicks) << c.label;
        EXPECT_EQ(written->cursor, c.cursor) << c.label;
        EXPECT_EQ(written->cursorStyle, c.style ? c.style : c.expectedStyle) << c.label;
    }
}

TEST_F(EditorLoading, ConvertsKeptSpansVolumesAndOverlaysOfAnOlderEdit)
{
    auto overlay = [](double start, double end) {
        Overlay o;
        o.kind = OverlayKind::text;
        o.text = std::to_string(start);
        o.start = start;
        o.end = end;
        return o;
    };
    RecordingInfo info;
    info.audioTracks = {"Rendszerhang", "Mikrofon"};
    info.segments = std::vector<std::vector<double>>{{0, 5}, {3}, {10, 12}, {1, 2, 3}};
    info.volumes = std::vector<float>{0.5f};
    info.leveling = std::vector<bool>{false, true};
    info.overlays = std::vector<Overlay>{overlay(11, 11.5), overlay(4, 11), overlay(7, 8)};
    auto model = open(recording(info));
    ASSERT_FALSE(model->loadError());

    const auto& tracks = model->tracks();
    EXPECT_EQ(namesOf(tracks),
              (std::vector<std::string>{"Effektek 1", "Kamera", "Képernyő", "Rendszerhang", "Mikrofon"}));
    const Track* screen = named(tracks, "Képernyő");
    ASSERT_TRUE(screen);
    ASSERT_EQ(screen->clips.size(), 2u);
    EXPECT_DOUBLE_EQ(screen->clips[0].start, 0);
    EXPECT_DOUBLE_EQ(screen->clips[0].sourceStart, 0);
    EXPECT_DOUBLE_EQ(screen->clips[0].duration, 5);
    EXPECT_DOUBLE_EQ(screen->clips[1].start, 5);
    EXPECT_DOUBLE_EQ(screen->clips[1].sourceStart, 10);
    EXPECT_DOUBLE_EQ(screen->clips[1].duration, 2);
    // Each span's pieces share a link id across the tracks.
    for (const char* name : {"Kamera", "Rendszerhang", "Mikrofon"}) {
        const Track* track = named(tracks, name);
        ASSERT_TRUE(track && track->clips.size() == 2) << name;
        EXPECT_EQ(track->clips[0].link, screen->clips[0].link) << name;
        EXPECT_EQ(track->clips[1].link, screen->clips[1].link) << name;
    }
    EXPECT_NE(screen->clips[0].link, screen->clips[1].link);
    EXPECT_FLOAT_EQ(named(tracks, "Rendszerhang")->volume, 0.5f);
    EXPECT_FLOAT_EQ(named(tracks, "Mikrofon")->volume, 1.0f);
    EXPECT_FALSE(named(tracks, "Rendszerhang")->maximize);
    EXPECT_TRUE(named(tracks, "Mikrofon")->maximize);

    // 11–11.5 → 6–6.5, 4–11 → 4–6, the one from 7 lies in a cut part.
    std::vector<std::pair<double, double>> spans;
    for (const Clip& clip : tracks[0].clips) {
        ASSERT_TRUE(clip.overlay);
        spans.emplace_back(clip.start, clip.end());
    }
    EXPECT_EQ(spans, (std::vector<std::pair<double, double>>{{4, 6}, {6, 6.5}}));
}

TEST_F(EditorLoading, ThreeNamesForTwoSoundStreamsAreIgnored)
{
    RecordingInfo info;
    info.audioTracks = {"a", "b", "c"};
    auto model = open(recording(info));
    EXPECT_EQ(namesOf(model->tracks()), (std::vector<std::string>{"Kamera", "Képernyő", "Hangsáv 1", "Hangsáv 2"}));
}

TEST_F(EditorLoading, ArrangesOlderOverlaysIntoEffectsTracksAndScreenZooms)
{
    auto overlay = [](OverlayKind kind, double start, double end) {
        Overlay o;
        o.kind = kind;
        o.start = start;
        o.end = end;
        return o;
    };
    Track camera, screen, sound;
    camera.name = "camera";
    camera.media = MediaRef{"/r.mov", MediaKind::video, 1};
    camera.fromRecording = true;
    screen.name = "screen";
    screen.media = MediaRef{"/r.mov", MediaKind::video, 0};
    screen.fromRecording = true;
    sound.name = "sound";
    sound.media = MediaRef{"/r.mov", MediaKind::audio, 0};
    const std::vector<Overlay> overlays{overlay(OverlayKind::text, 2, 4), overlay(OverlayKind::zoom, 0, 1),
                                        overlay(OverlayKind::text, 0, 2), overlay(OverlayKind::arrow, 1, 3),
                                        overlay(OverlayKind::pip, 0, 1)};

    const auto arranged = EditorModel::arrangeLegacy({sound, screen, camera}, overlays);
    EXPECT_EQ(namesOf(arranged), (std::vector<std::string>{"Effektek 1", "Effektek 2", "camera", "screen", "sound"}));
    ASSERT_EQ(arranged[0].effects.size(), 2u);
    EXPECT_EQ(arranged[0].effects[0], overlays[2]);
    EXPECT_EQ(arranged[0].effects[1], overlays[0]);
    EXPECT_EQ(arranged[1].effects, std::vector<Overlay>{overlays[3]});
    EXPECT_EQ(arranged[0].media, (MediaRef{"", MediaKind::effects, 0}));
    EXPECT_EQ(arranged[3].zooms, std::vector<Overlay>{overlays[1]});
    EXPECT_TRUE(arranged[2].zooms.empty());

    // Without a screen track the zooms go to the input's first picture track.
    camera.fromRecording = false;
    const auto noScreen = EditorModel::arrangeLegacy({camera, sound}, {overlays[1]});
    EXPECT_EQ(namesOf(noScreen), (std::vector<std::string>{"camera", "sound"}));
    EXPECT_EQ(noScreen[0].zooms.size(), 1u);
    EXPECT_TRUE(EditorModel::arrangeLegacy({sound}, {overlays[1]}).front().zooms.empty());
}

// A project of the given version over the shared recording plus other media.
Project projectOf(int version, std::vector<Track> tracks)
{
    return Project{version, std::move(tracks), std::nullopt};
}

Track mediaTrack(const std::string& name, MediaRef media, double duration = 1)
{
    Track track;
    track.name = name;
    track.media = media;
    Clip clip;
    clip.duration = duration;
    track.clips.push_back(clip);
    return track;
}

TEST_F(EditorLoading, SourcesGiveTurnedAspectsStillsAndRaiseTheFrameRate)
{
    const fs::path rotated = makeRecording(folder.path / "rotated.mp4",
                                           {.seconds = 1, .camera = false, .tones = 0, .rotation = 90});
    const fs::path fast = makeRecording(folder.path / "fast.mov",
                                        {.seconds = 1, .width = 320, .height = 240, .fps = 60, .camera = false, .tones = 0});
    const fs::path still = fixtures::makePicture(folder.path / "still.png", 1000, 500);
    const fs::path sound = fixtures::makeStereoSine(folder.path / "sound.m4a", 1);
    const fs::path movie = recording();
    RecordingInfo info;
    info.project = projectOf(4, {mediaTrack("rotated", {rotated.string(), MediaKind::video, 0}),
                                 mediaTrack("fast", {fast.string(), MediaKind::video, 0}),
                                 mediaTrack("still", {still.string(), MediaKind::image, 0}),
                                 mediaTrack("sound", {sound.string(), MediaKind::audio, 0})});
    info.save(movie);
    auto model = open(movie);
    ASSERT_FALSE(model->loadError());
    EXPECT_EQ(namesOf(model->tracks()), (std::vector<std::string>{"rotated", "fast", "still", "sound"}));
    EXPECT_EQ(model->frameRate(), 60);

    struct Case {
        MediaRef media;
        std::optional<double> aspect;
    } cases[] = {
        {{rotated.string(), MediaKind::video, 0}, 0.5625},
        {{still.string(), MediaKind::image, 0}, 2.0},
        {{movie.string(), MediaKind::video, 1}, 4.0 / 3.0},
        {{movie.string(), MediaKind::video, 2}, std::nullopt},
        {{movie.string(), MediaKind::audio, 0}, std::nullopt},
        {{sound.string(), MediaKind::video, 0}, std::nullopt},
        {{(folder.path / "never.mov").string(), MediaKind::video, 0}, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto aspect = model->mediaAspect(c.media);
        ASSERT_EQ(aspect.has_value(), c.aspect.has_value()) << c.media.path << " " << c.media.index;
        if (aspect) {
            EXPECT_NEAR(*aspect, *c.aspect, 1e-9) << c.media.path;
        }
    }
    // Picture clips name their media and carry its aspect.
    EXPECT_EQ(model->tracks()[0].clips[0].media, (MediaRef{rotated.string(), MediaKind::video, 0}));
    EXPECT_NEAR(model->tracks()[0].clips[0].aspect, 0.5625, 1e-9);
    EXPECT_FALSE(model->tracks()[3].clips[0].media);  // sound clips are left alone

    // A still gives one filmstrip picture.
    const MediaRef stillRef{still.string(), MediaKind::image, 0};
    ASSERT_TRUE(runUntil([&] { return model->thumbnails().count(stillRef) > 0; }));
    ASSERT_EQ(model->thumbnails().at(stillRef).size(), 1u);
    EXPECT_EQ(model->thumbnails().at(stillRef)[0].image.size(), QSize(240, 120));
}

TEST_F(EditorLoading, AThirtyFramesRecordingKeepsThirty)
{
    auto model = open(recording());
    EXPECT_EQ(model->frameRate(), 30);
}

TEST_F(EditorLoading, AppliesTheVersionRulesAndDropsUnplayableTracks)
{
    const fs::path movie = recording();
    Track screen = mediaTrack("screen", {movie.string(), MediaKind::video, 0}, 4);
    screen.fromRecording = true;
    screen.rotation = 90;  // a track-level setting of older states
    Track gone = mediaTrack("gone", {(folder.path / "gone.mov").string(), MediaKind::video, 0});
    Track noCamera = mediaTrack("camera 3", {movie.string(), MediaKind::video, 3});
    Track effects;
    effects.name = "fx";
    effects.media = MediaRef{"", MediaKind::effects, 0};
    Track empty = mediaTrack("empty", {(folder.path / "gone.mov").string(), MediaKind::video, 0});
    empty.clips.clear();

    struct Case {
        int version;
        std::vector<std::string> names;
        double rotation;  // of the screen clip
    } cases[] = {
        {4, {"screen", "fx", "empty"}, 0},
        {3, {"screen", "fx", "empty"}, 90},
        {2, {"empty", "fx", "screen"}, 90},  // picture tracks reversed
    };
    for (const Case& c : cases) {
        RecordingInfo info;
        info.project = projectOf(c.version, {screen, gone, noCamera, effects, empty});
        info.save(movie);
        EditorModel model(movie, settingsIn(folder.path));
        ASSERT_TRUE(loadAndWait(model));
        ASSERT_FALSE(model.loadError());
        EXPECT_EQ(namesOf(model.tracks()), c.names) << c.version;
        const Track* kept = named(model.tracks(), "screen");
        ASSERT_TRUE(kept);
        EXPECT_EQ(kept->clips[0].rotation, c.rotation) << c.version;
        waitForSaves(model);
        fs::remove(RecordingInfo::sideFileURL(movie).string() + ".bak");
    }
}

TEST_F(EditorLoading, LoadingAgainChangesNothing)
{
    auto model = open(recording());
    const auto tracks = model->tracks();
    const auto item = model->player().currentItem();
    EXPECT_TRUE(loadAndWait(*model));
    EXPECT_EQ(model->tracks(), tracks);
    EXPECT_EQ(model->player().currentItem(), item);
}

TEST_F(EditorLoading, ReportsEachFailureInOneMessage)
{
    const fs::path sound = fixtures::makeStereoSine(folder.path / "sound.m4a", 1);
    const fs::path still = fixtures::makePicture(folder.path / "still.png", 64, 64);
    const fs::path unreadable = folder.path / "broken.vdlproj";
    fs::create_directories(unreadable);
    writeFileAtomically(unreadable / "project.json", "{ not json");
    std::string unreadableDescription;
    try {
        ProjectFile::read(unreadable);
    } catch (const std::exception& error) {
        unreadableDescription = error.what();
    }
    ASSERT_FALSE(unreadableDescription.empty());

    const fs::path moved = folder.path / "moved.vdlproj";
    ProjectFile project;
    project.recording = "/nowhere/Felvétel.mov";
    project.writePackage(moved, false);

    const std::string prefix = "A felvétel nem nyitható meg: ";
    struct Case {
        fs::path url;
        std::string message;
    } cases[] = {
        {sound, prefix + "A fájlban nincs videó."},
        {still, prefix + "A fájlban nincs videó."},
        {folder.path / "missing.mov", prefix + "A fájlban nincs videó."},
        {unreadable, prefix + unreadableDescription},
        {moved, prefix + "A projekthez tartozó felvétel nem található: /nowhere/Felvétel.mov"},
    };
    for (const Case& c : cases) {
        EditorModel model(c.url, settingsIn(folder.path));
        ASSERT_TRUE(loadAndWait(model)) << c.url;
        EXPECT_EQ(model.loadError(), c.message) << c.url;
        EXPECT_FALSE(model.isLoaded());
        EXPECT_TRUE(model.tracks().empty());
        // Nothing is written after a failed load.
        model.setShowClicks(true);
        waitForSaves(model);
    }
    EXPECT_FALSE(fs::exists(RecordingInfo::sideFileURL(sound)));
    EXPECT_EQ(readFile(unreadable / "project.json"), "{ not json");
}

TEST_F(EditorLoading, APictureThatCannotServeSaysWhy)
{
    // A picture renamed to .mov is no recording, though FFmpeg reads its one frame.
    const fs::path renamed = folder.path / "kép.mov";
    fs::rename(fixtures::makePicture(folder.path / "kép.png", 64, 48), renamed);
    EditorModel picture(renamed, settingsIn(folder.path));
    ASSERT_TRUE(loadAndWait(picture));
    EXPECT_EQ(picture.loadError(), "A felvétel nem nyitható meg: A fájl kép, nem film, bár a kiterjesztése filmre utal: „" +
                                       renamed.string() + "”.");
    EXPECT_TRUE(picture.tracks().empty());

    // Added to a recording: the same picture, and one too large to hold.
    const fs::path huge = fixtures::makePicture(folder.path / "óriás.png", 9000, 9000);
    auto model = open(recording());
    const std::vector<Track> before = model->tracks();
    const std::pair<fs::path, std::string> cases[] = {
        {renamed, "A fájl kép, nem film, bár a kiterjesztése filmre utal: „" + renamed.string() + "”."},
        {huge, "A kép túl nagy: „" + huge.string() +
                   "” 9000 × 9000 képpontos; legfeljebb 67 millió képpontos (például 8192 × 8192-es) kép használható."},
    };
    for (const auto& [file, message] : cases) {
        model->setExportError(std::nullopt);
        bool added = false;
        model->addMedia(file, [&] { added = true; });
        ASSERT_TRUE(runUntil([&] { return added; }));
        EXPECT_EQ(model->exportError(), message);
    }
    EXPECT_EQ(model->tracks(), before);
}

TEST_F(EditorLoading, APackageOpensItsRecording)
{
    const fs::path movie = recording();
    const fs::path package = folder.path / "p.vdlproj";
    ProjectFile project;
    project.recording = movie.string();
    project.info.project = projectOf(4, {mediaTrack("screen", {movie.string(), MediaKind::video, 0}, 3)});
    project.writePackage(package, false);

    auto model = open(package);
    ASSERT_FALSE(model->loadError());
    EXPECT_EQ(model->url(), movie);
    EXPECT_EQ(model->documentURL(), package);
    EXPECT_EQ(namesOf(model->tracks()), std::vector<std::string>{"screen"});
    waitForSaves(*model);
    EXPECT_FALSE(fs::exists(RecordingInfo::sideFileURL(movie)));  // the package is written, not the side file
    EXPECT_EQ(ProjectFile::read(package).info.project->version, 4);
}

TEST_F(EditorLoading, AFolderHoldingAProjectOpensAsOneWhateverItsName)
{
    const fs::path movie = recording();
    ProjectFile project;
    project.recording = movie.string();
    project.info.project = projectOf(4, {mediaTrack("screen", {movie.string(), MediaKind::video, 0}, 3)});
    for (const fs::path& package : {folder.path / "proba2", folder.path / "Proba.VDLPROJ", folder.path / "proba3/"}) {
        project.writePackage(package, false);
        auto model = open(package);
        ASSERT_FALSE(model->loadError()) << *model->loadError();
        EXPECT_EQ(model->documentURL(), package);
        EXPECT_EQ(model->url(), movie);
        EXPECT_EQ(namesOf(model->tracks()), std::vector<std::string>{"screen"}) << package;
    }
    // A folder without a project in it is none.
    fs::create_directories(folder.path / "mappa");
    EXPECT_FALSE(EditorModel(folder.path / "mappa", settingsIn(folder.path)).documentURL());
}

TEST_F(EditorLoading, AClosedEditorGetsNothingAndASecondCallJoinsTheLoad)
{
    const fs::path movie = recording();
    bool firstDone = false, secondDone = false;
    {
        EditorModel closed(movie, settingsIn(folder.path));
        closed.load([&] { firstDone = true; });
        closed.load([&] { secondDone = true; });
    }
    runUntil([] { return false; }, std::chrono::milliseconds(500));
    EXPECT_FALSE(firstDone);
    EXPECT_FALSE(secondDone);

    EditorModel model(movie, settingsIn(folder.path));
    model.load([&] { firstDone = true; });
    model.load([&] { secondDone = firstDone; });  // after the first, from the same load
    ASSERT_TRUE(runUntil([&] { return secondDone; }));
    EXPECT_EQ(model.tracks().size(), 4u);
}

// --- Backups of files not taken over whole ---

TEST_F(EditorLoading, AnUndecodableSideFileIsKeptAsBakBeforeTheFirstWrite)
{
    const fs::path movie = recording();
    const fs::path side = RecordingInfo::sideFileURL(movie);
    const std::string broken = "{\"audioTracks\": [\"a\", 3]}";
    const std::string older = "kept from before";
    writeFileAtomically(side, broken);
    writeFileAtomically(side.string() + ".bak", older);  // taken: the next name is used

    auto model = open(movie);
    ASSERT_FALSE(model->loadError());
    waitForSaves(*model);
    EXPECT_EQ(readFile(side.string() + ".bak"), older);
    EXPECT_EQ(readFile(side.string() + " 2.bak"), broken);
    ASSERT_TRUE(sideFileOf(movie));
    EXPECT_EQ(sideFileOf(movie)->project->version, 4);

    // Only the first write keeps a copy.
    model->commit({});
    waitForSaves(*model);
    EXPECT_FALSE(fs::exists(side.string() + " 3.bak"));
}

TEST_F(EditorLoading, AProjectThatLostTracksIsKeptAsBak)
{
    const fs::path movie = recording();
    const fs::path package = folder.path / "p.vdlproj";
    ProjectFile project;
    project.recording = movie.string();
    project.info.project = projectOf(4, {mediaTrack("screen", {movie.string(), MediaKind::video, 0}, 3),
                                         mediaTrack("gone", {(folder.path / "gone.mov").string(), MediaKind::video, 0})});
    project.writePackage(package, false);
    const std::string before = readFile(package / "project.json");

    auto model = open(package);
    ASSERT_FALSE(model->loadError());
    EXPECT_EQ(namesOf(model->tracks()), std::vector<std::string>{"screen"});
    // Untouched until the first edit, then kept aside before it is replaced.
    waitForSaves(*model);
    EXPECT_EQ(readFile(package / "project.json"), before);
    EXPECT_FALSE(fs::exists(package / "project.json.bak"));
    model->commit(renamed(model->tracks(), "edited"));
    waitForSaves(*model);
    EXPECT_EQ(readFile(package / "project.json.bak"), before);
    EXPECT_EQ(ProjectFile::read(package).info.project->tracks.size(), 1u);
}

TEST_F(EditorLoading, AFileTakenOverWholeGetsNoBackup)
{
    const fs::path movie = recording();
    auto model = open(movie);
    waitForSaves(*model);
    EditorModel again(movie, settingsIn(folder.path));
    ASSERT_TRUE(loadAndWait(again));
    waitForSaves(again);
    for (const std::string& name : entries(folder.path)) EXPECT_FALSE(name.ends_with(".bak")) << name;
}

// A recording moved with its side file finds its own streams again; a track
// of another file that is gone stays out, is named once, and the side file
// keeps it until the user edits.
TEST_F(EditorLoading, AMovedRecordingKeepsItsEditAndNamesTheFilesThatAreGone)
{
    const fs::path before = folder.path / "régi";
    const fs::path movie = copyOf(sharedRecording(), before, "rec.mov");
    const fs::path camera = copyOf(sharedRecording(), before, "kamera.mov");
    std::vector<Track> edited;
    {
        auto model = open(movie);
        edited = model->tracks();
        edited.front().name = "Szerkesztve";
        edited.front().clips.front().duration = 7;
        auto tracks = edited;
        tracks.push_back(mediaTrack("kamera", {camera.string(), MediaKind::video, 0}, 3));
        tracks.push_back(mediaTrack("kamera hangja", {camera.string(), MediaKind::audio, 0}, 3));
        model->commit(tracks);
        waitForSaves(*model);
    }
    const fs::path after = folder.path / "új hely";
    fs::create_directories(after);
    fs::rename(movie, after / "rec.mov");
    fs::rename(RecordingInfo::sideFileURL(movie), RecordingInfo::sideFileURL(after / "rec.mov"));
    fs::remove(camera);
    const fs::path side = RecordingInfo::sideFileURL(after / "rec.mov");
    const std::string stored = readFile(side);

    auto model = open(after / "rec.mov");
    ASSERT_FALSE(model->loadError());
    std::vector<Track> expected = edited;
    for (Track& track : expected) {
        track.media.path = (after / "rec.mov").string();
        for (Clip& clip : track.clips)
            if (clip.media) clip.media->path = track.media.path;
    }
    EXPECT_EQ(model->exportError(),
              "A szerkesztés sávjai közül kimaradtak azok, amelyek médiafájlja nem található: kamera.mov. "
              "A mentett szerkesztés az első módosításig változatlan marad.");
    ASSERT_EQ(model->tracks(), expected);

    waitForSaves(*model);
    EXPECT_EQ(readFile(side), stored);

    model->commit(renamed(model->tracks(), "Első módosítás"));
    waitForSaves(*model);
    EXPECT_EQ(readFile(side.string() + ".bak"), stored);
    ASSERT_TRUE(sideFileOf(after / "rec.mov"));
    EXPECT_EQ(sideFileOf(after / "rec.mov")->project->tracks, model->tracks());
}

// Only a missing file named like the recording is taken for it; one that is
// there but can't be opened drops its track without a word, as before.
TEST_F(EditorLoading, OnlyAMissingFileOfTheRecordingsNameIsTakenForIt)
{
    const fs::path movie = recording();
    const fs::path unreadable = folder.path / "hibás.mov";
    writeFileAtomically(unreadable, "no movie");
    RecordingInfo info;
    info.project = projectOf(4, {mediaTrack("screen", {(folder.path / "máshol" / "rec.mov").string(), MediaKind::video, 0}, 3),
                                 mediaTrack("other name", {(folder.path / "máshol" / "rec2.mov").string(), MediaKind::video, 0}),
                                 mediaTrack("unreadable", {unreadable.string(), MediaKind::video, 0})});
    info.save(movie);

    auto model = open(movie);
    ASSERT_EQ(namesOf(model->tracks()), std::vector<std::string>{"screen"});
    EXPECT_EQ(model->tracks().front().media.path, movie.string());
    ASSERT_TRUE(model->exportError());
    EXPECT_NE(model->exportError()->find(": rec2.mov."), std::string::npos) << *model->exportError();
    EXPECT_EQ(model->exportError()->find("hibás.mov"), std::string::npos) << *model->exportError();
}

// --- Peaks and thumbnails behind the load ---

TEST_F(EditorLoading, FillsPeaksAndAFilmstripOfTheReferencedStream)
{
    auto model = open(recording());
    const std::string path = model->url().string();
    const MediaRef camera{path, MediaKind::video, 1}, screen{path, MediaKind::video, 0}, tone{path, MediaKind::audio, 0};
    ASSERT_TRUE(runUntil([&] {
        return model->peaks().count(tone) && model->thumbnails().count(camera) && model->thumbnails().count(screen)
               && model->thumbnails().at(camera).size() >= 30;
    }));
    EXPECT_NEAR(double(model->peaks().at(tone).size()), 1000, 2);

    const QImage cameraPicture = model->thumbnails().at(camera).front().image;
    ASSERT_FALSE(cameraPicture.isNull());
    const QColor middle = cameraPicture.pixelColor(cameraPicture.width() / 2, cameraPicture.height() / 2);
    EXPECT_GT(middle.blue(), 180);
    EXPECT_LT(middle.red(), 60);
    EXPECT_LT(middle.green(), 60);
    const QImage screenPicture = model->thumbnails().at(screen).front().image;
    ASSERT_FALSE(screenPicture.isNull());
    EXPECT_GT(screenPicture.pixelColor(screenPicture.width() / 2, screenPicture.height() * 3 / 4).red(), 150);
}

// Every call of loadPeaks ends alike, also one with nothing left to compute:
// with a track's maximizer on, the mix takes the peaks and the edit is saved;
// without, nothing more happens.
TEST_F(EditorLoading, PeaksRenewTheMixAndSaveOnlyForTheMaximizer)
{
    const fs::path movie = recording();
    const std::string path = movie.string();
    RecordingInfo info;
    info.project = projectOf(4, {mediaTrack("screen", {path, MediaKind::video, 0}, 3),
                                 mediaTrack("tone 1", {path, MediaKind::audio, 0}, 3)});
    info.save(movie);
    auto model = open(movie);
    const MediaRef second{path, MediaKind::audio, 1};
    ASSERT_TRUE(runUntil([&] { return model->peaks().size() == 1; }));
    waitForSaves(*model);
    const fs::path side = RecordingInfo::sideFileURL(movie);

    struct Outcome {
        bool mixRenewed = false;
        bool saved = false;
    };
    const auto callWith = [&](std::vector<Track> tracks) {
        model->setTracks(std::move(tracks));
        fs::remove(side);
        const auto mix = model->player().currentItem()->audioMix();
        bool finished = false;
        model->loadPeaks([&] { finished = true; });
        EXPECT_TRUE(runUntil([&] { return finished; }));
        waitForSaves(*model);
        return Outcome{model->player().currentItem()->audioMix() != mix, fs::exists(side)};
    };

    std::vector<Track> tracks = model->tracks();
    tracks.push_back(mediaTrack("tone 2", second, 3));
    const Outcome computed = callWith(tracks);
    EXPECT_TRUE(model->peaks().count(second));
    EXPECT_FALSE(computed.mixRenewed);
    EXPECT_FALSE(computed.saved);

    const Outcome nothingPlain = callWith(tracks);
    EXPECT_FALSE(nothingPlain.mixRenewed);
    EXPECT_FALSE(nothingPlain.saved);

    tracks.back().maximize = true;
    const Outcome nothingMaximized = callWith(tracks);
    EXPECT_TRUE(nothingMaximized.mixRenewed);
    EXPECT_TRUE(nothingMaximized.saved);
}

} // namespace
