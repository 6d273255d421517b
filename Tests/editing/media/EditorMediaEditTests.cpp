// Edits over real media: adding a file as new tracks, the refresh of a
// property edit against the built composition, and trims bounded by the
// streams of a file.

#include "EditTestSupport.h"
#include "rendering/GuiTestApplication.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace ondexa;
using namespace ondexa::testing;
namespace fs = std::filesystem;

namespace {

class EditorMediaEdits : public ::testing::Test {
protected:
    void SetUp() override
    {
        movie = copyOf(smallRecording(), folder.path, "felvétel.mov");
        model = std::make_unique<EditorModel>(movie, settingsIn(folder.path));
        ASSERT_TRUE(loadAndWait(*model));
        ASSERT_FALSE(model->loadError());
    }

    bool addAndWait(const fs::path& file)
    {
        bool finished = false;
        model->addMedia(file, [&] { finished = true; });
        return runUntil([&] { return finished; });
    }

    TempFolder folder;
    fs::path movie;
    std::unique_ptr<EditorModel> model;
};

TEST_F(EditorMediaEdits, AMovieWithSoundBecomesALinkedPictureAndSoundTrack)
{
    const fs::path k43 = folder.path / "k43.mp4";
    fixtures::runFfmpeg({"-f", "lavfi", "-i", "testsrc=size=640x480:rate=30", "-f", "lavfi", "-i",
                         "sine=frequency=300:sample_rate=48000", "-t", "3", "-c:v", "libx264", "-preset", "ultrafast",
                         "-pix_fmt", "yuv420p", "-c:a", "aac", k43.string()});
    const std::vector<Track> before = {trackWith("Effektek 1", {}, MediaKind::effects),
                                       trackWith("Képernyő", {clipAt(0, 6)}),
                                       trackWith("Hangsáv 1", {clipAt(0, 6, 0, MediaKind::audio)}, MediaKind::audio)};
    model->setTracks(before);
    model->clock().setTime(2);

    bool added = false;
    const auto add = [&](EditorModel& m) {
        m.addMedia(k43, [&] { added = true; });
        ASSERT_TRUE(runUntil([&] { return added; }));
        // The new clips are selected (undo and redo keep no selection of them).
        EXPECT_EQ(m.selectedClips(), (std::set<Uuid>{m.tracks()[1].clips.at(0).id, m.tracks()[4].clips.at(0).id}));
        EXPECT_EQ(m.selectedTrackID(), m.tracks()[1].id);
    };
    // What the file holds, as the editor's own probe read it.
    const auto expectedTracks = [&] {
        const MediaSource& source = model->sources().at(k43.string());
        const MediaRef picture{k43.string(), MediaKind::video, 0}, sound{k43.string(), MediaKind::audio, 0};
        Track video = trackWith("k43", {}), audio = trackWith("k43 – hang", {}, MediaKind::audio);
        video.id = audio.id = Uuid();
        video.media = picture;
        audio.media = sound;
        Clip v = clipAt(2, source.video[0].range.duration.seconds(), source.video[0].range.start.seconds());
        v.id = Uuid();
        v.media = picture;
        v.aspect = 640.0 / 480.0;
        v.frame = NRect{0.32999999999999996, 0.5 - (16.0 / 9.0 * 0.34 / v.aspect) / 2, 0.34,
                        16.0 / 9.0 * 0.34 / v.aspect};
        v.link = link(1);
        Clip a = clipAt(2, source.audio[0].range.duration.seconds(), source.audio[0].range.start.seconds());
        a.id = Uuid();
        a.media = sound;
        a.link = link(1);
        video.clips = {v};
        audio.clips = {a};
        return std::vector<Track>{before[0], video, before[1], before[2], audio};
    };
    add(*model);
    const std::vector<Track> expected = expectedTracks();
    model->undo();
    added = false;
    ASSERT_TRUE(editGives(*model, add, expected));

    const Clip& v = model->tracks()[1].clips[0];
    EXPECT_NEAR(v.frame->h, 0.4533, 0.0001);
    EXPECT_NEAR(v.frame->y, 0.2733, 0.0001);
}

TEST_F(EditorMediaEdits, AStillLastsThreeSecondsOrUpToALaterOutMark)
{
    const fs::path still = fixtures::makePicture(folder.path / "kép.png", 320, 240);
    struct Case {
        const char* label;
        std::optional<double> markIn, markOut;
        double start, duration;
    } cases[] = {
        {"at the playhead", std::nullopt, std::nullopt, 4, 3},
        {"from the in mark to the out mark", 1, 2.5, 1, 1.5},
        {"an out mark before the playhead", std::nullopt, 2, 4, 3},
    };
    for (const Case& c : cases) {
        // Before the first picture track: here the screen track at 0.
        const std::size_t count = model->tracks().size();
        model->clock().setTime(4);
        model->setMarkIn(c.markIn);
        model->setMarkOut(c.markOut);
        ASSERT_TRUE(addAndWait(still)) << c.label;
        ASSERT_EQ(model->tracks().size(), count + 1) << c.label;
        const Track& track = model->tracks()[0];
        EXPECT_EQ(track.name, "kép") << c.label;
        EXPECT_EQ(track.media, (MediaRef{still.string(), MediaKind::image, 0})) << c.label;
        const Clip& clip = track.clips.at(0);
        EXPECT_EQ(clip.start, c.start) << c.label;
        EXPECT_EQ(clip.duration, c.duration) << c.label;
        EXPECT_EQ(clip.sourceStart, 0) << c.label;
        EXPECT_EQ(clip.aspect, 320.0 / 240.0) << c.label;
        EXPECT_FALSE(clip.link) << c.label;
        model->undo();
    }
}

TEST_F(EditorMediaEdits, AFileThatCannotBeOpenedIsNamedAndChangesNothing)
{
    const fs::path bad = folder.path / "hibás.mp4";
    std::ofstream(bad) << "nem film";
    const std::vector<Track> before = model->tracks();
    const std::size_t steps = model->undoStack().size();
    ASSERT_TRUE(addAndWait(bad));
    EXPECT_EQ(model->exportError(), std::optional<std::string>("A fájl nem nyitható meg: hibás.mp4"));
    EXPECT_EQ(model->tracks(), before);
    EXPECT_EQ(model->undoStack().size(), steps);
}

TEST_F(EditorMediaEdits, NothingIsAddedBeforeALoad)
{
    EditorModel fresh(folder.path / "másik.mov", settingsIn(folder.path));
    bool finished = false;
    fresh.addMedia(movie, [&] { finished = true; });
    EXPECT_TRUE(finished);
    EXPECT_TRUE(fresh.tracks().empty());
    EXPECT_FALSE(fresh.exportError());
    EXPECT_TRUE(fresh.undoStack().empty());
}

TEST_F(EditorMediaEdits, AnAddedFileIsCopiedIntoTheOpenPackage)
{
    const fs::path package = folder.path / "projekt.vdlproj";
    bool saved = false;
    model->saveProject(package, [&](std::optional<std::string> error) {
        EXPECT_FALSE(error);
        saved = true;
    });
    ASSERT_TRUE(runUntil([&] { return saved; }));
    const fs::path sound = fixtures::makeStereoSine(folder.path / "zene.m4a", 1.0);

    ASSERT_TRUE(addAndWait(sound));
    const Track& added = model->tracks().back();
    EXPECT_EQ(added.name, "zene – hang");
    EXPECT_EQ(fs::path(added.media.path).parent_path(), package / "Media");
    EXPECT_TRUE(fs::exists(added.media.path));
    EXPECT_FALSE(added.clips.at(0).link);  // a lone sound clip is not linked

    // "project.json" holds the real edit again, with the new track.
    waitForSaves(*model);
    const ProjectFile written = ProjectFile::read(package);
    ASSERT_TRUE(written.info.project);
    EXPECT_EQ(written.info.project->tracks.size(), model->tracks().size());
}

TEST_F(EditorMediaEdits, APropertyEditRebuildsOnlyWhenTheEditOutgrewTheBuildByMoreThanFiftyMilliseconds)
{
    Clip box;
    box.start = 0;
    box.duration = 1;
    Overlay overlay;
    overlay.kind = OverlayKind::rectangle;
    box.overlay = overlay;
    std::vector<Track> tracks = model->tracks();
    tracks.insert(tracks.begin(), trackWith("Effektek 1", {box}, MediaKind::effects));
    model->setTracks(tracks);
    model->rebuild(0);
    ASSERT_TRUE(model->built());
    const double built = model->built()->composition->duration().seconds();

    struct Case {
        double longer;
        bool rebuilds;
    } cases[] = {{0.04, false}, {0.06, true}};
    for (const Case& c : cases) {
        const auto item = model->player().currentItem();
        ASSERT_TRUE(item);
        const double before = model->built()->composition->duration().seconds();
        Clip grown = model->tracks()[0].clips[0];
        grown.duration = before + c.longer;
        model->pushUndo();
        model->updateClip(grown);
        EXPECT_EQ(model->player().currentItem() != item, c.rebuilds) << c.longer;
        EXPECT_EQ(model->built()->composition->duration().seconds() > built, c.rebuilds) << c.longer;
    }
}

TEST_F(EditorMediaEdits, ATrackEditRebuildsOnlyWhenShownOrHidden)
{
    struct Case {
        const char* label;
        MediaKind kind;
        std::function<void(Track&)> change;
        bool rebuilds;
    } cases[] = {
        {"a picture track hidden", MediaKind::video, [](Track& t) { t.hidden = !t.hidden; }, true},
        {"a sound track hidden", MediaKind::audio, [](Track& t) { t.hidden = !t.hidden; }, true},
        {"a picture track turned", MediaKind::video, [](Track& t) { t.rotation = 90; }, false},
        {"a sound track made quieter", MediaKind::audio, [](Track& t) { t.volume = 0.25f; }, false},
    };
    for (const Case& c : cases) {
        const auto found = std::find_if(model->tracks().begin(), model->tracks().end(),
                                        [&](const Track& t) { return t.media.kind == c.kind; });
        ASSERT_NE(found, model->tracks().end()) << c.label;
        Track changed = *found;
        c.change(changed);
        const auto item = model->player().currentItem();
        model->updateTrack(changed, true);
        EXPECT_EQ(model->player().currentItem() != item, c.rebuilds) << c.label;
        EXPECT_EQ(*std::find_if(model->tracks().begin(), model->tracks().end(),
                                [&](const Track& t) { return t.id == changed.id; }),
                  changed)
            << c.label;
    }
}

TEST_F(EditorMediaEdits, AMoveRebuildsOnceWhenTheDragEnds)
{
    model->clock().setTime(3);
    const Clip clip = model->tracks().front().clips.at(0);
    const auto item = model->player().currentItem();
    model->pushUndo();
    model->moveClip(clip, MediaKind::video, 0.5, std::nullopt, 0);
    model->moveClip(clip, MediaKind::video, 1, std::nullopt, 0);
    EXPECT_EQ(model->player().currentItem(), item);  // the drag plays the old item
    model->endClipDrag();
    EXPECT_NE(model->player().currentItem(), item);
    EXPECT_EQ(model->clock().time(), 3);
    EXPECT_TRUE(model->canUndo());
    EXPECT_EQ(model->tracks().front().clips.at(0).start, clip.start + 1);
}

TEST_F(EditorMediaEdits, TrimsBoundAStreamTheFileLacksLikeMediaNotLoaded)
{
    const MediaSource& source = model->sources().at(movie.string());
    ASSERT_EQ(source.audio.size(), 2u);
    const double streamEnd = source.audio[1].range.end().seconds();
    struct Case {
        int index;
        double duration;
    } cases[] = {{5, 12}, {-1, 12}, {1, streamEnd}};
    for (const Case& c : cases) {
        Clip clip = clipAt(0, 2, 0, MediaKind::audio);
        clip.media = MediaRef{movie.string(), MediaKind::audio, c.index};
        model->setTracks({trackWith("Hang", {clip}, MediaKind::audio)});
        model->pushUndo();
        model->trimClip(clip, EditorModel::ClipEdge::end, 10, 0);
        EXPECT_DOUBLE_EQ(model->tracks()[0].clips[0].duration, c.duration) << c.index;
    }
}

} // namespace
