// Saving: every edit lands in the side file or the open package; saving as a
// project copies the media and points the editor at the copies; failures
// keep the old place and say why.

#include "EditingFixtures.h"
#include "rendering/GuiTestApplication.h"

#include "Ondexa/model/Files.h"
#include "Ondexa/model/ProjectFile.h"
#include "Ondexa/model/RecordingInfo.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

using namespace ondexa;
using namespace ondexa::testing;
namespace fs = std::filesystem;

namespace {

class EditorSaving : public ::testing::Test {
protected:
    std::unique_ptr<EditorModel> openRecording(const std::string& name = "rec.mov")
    {
        movie = copyOf(sharedRecording(), folder.path / "recordings", name);
        auto model = std::make_unique<EditorModel>(movie, settingsIn(folder.path));
        EXPECT_TRUE(loadAndWait(*model));
        return model;
    }
    // Saves as a project at `target` and waits; the error, if any.
    static std::optional<std::string> saveAs(EditorModel& model, const fs::path& target)
    {
        bool finished = false;
        std::optional<std::string> error;
        model.saveProject(target, [&](std::optional<std::string> e) {
            error = std::move(e);
            finished = true;
        });
        EXPECT_TRUE(runUntil([&] { return finished; }));
        return error;
    }

    TempFolder folder;
    fs::path movie;
};

std::vector<Track> renamed(std::vector<Track> tracks, const std::string& name)
{
    tracks.front().name = name;
    return tracks;
}

TEST_F(EditorSaving, EveryEditRewritesTheSideFileKeepingTheRest)
{
    const fs::path movie = copyOf(sharedRecording(), folder.path, "rec.mov");
    RecordingInfo info;
    info.clicks = std::vector<std::vector<double>>{{1, .5, .5, 0}};
    info.cursorStyle = CursorStyle{.scale = 2};  // without samples: not taken, yet kept
    info.segments = std::vector<std::vector<double>>{{0, 20}};
    info.save(movie);
    EditorModel model(movie, settingsIn(folder.path));
    ASSERT_TRUE(loadAndWait(model));

    model.commit(renamed(model.tracks(), "Átnevezve"));
    model.setShowClicks(false);
    waitForSaves(model);
    const auto stored = RecordingInfo::load(movie);
    ASSERT_TRUE(stored && stored->project);
    EXPECT_EQ(stored->project->version, 4);
    EXPECT_EQ(stored->project->tracks, model.tracks());
    EXPECT_EQ(stored->project->tracks.front().name, "Átnevezve");
    EXPECT_EQ(stored->showClicks, false);
    EXPECT_EQ(stored->clicks, info.clicks);
    EXPECT_EQ(stored->segments, info.segments);
    EXPECT_EQ(stored->cursorStyle, info.cursorStyle);

    model.undo();
    waitForSaves(model);
    EXPECT_NE(RecordingInfo::load(movie)->project->tracks.front().name, "Átnevezve");
}

TEST_F(EditorSaving, SavingAsAProjectMovesTheEditorOntoTheCopies)
{
    auto model = openRecording();
    const std::string old = movie.string();
    const MediaRef tone{old, MediaKind::audio, 0};
    ASSERT_TRUE(runUntil([&] { return model->peaks().count(tone) > 0; }));
    const std::vector<float> peaks = model->peaks().at(tone);

    // An effects track's empty path is no file and stays as it is.
    Track effects;
    effects.name = "fx";
    effects.media = MediaRef{"", MediaKind::effects, 0};
    auto tracks = model->tracks();
    tracks.insert(tracks.begin(), effects);
    model->commit(tracks);

    const fs::path package = folder.path / "Projekt.vdlproj";
    EXPECT_FALSE(saveAs(*model, package));
    EXPECT_EQ(model->documentURL(), package);
    const std::string copy = (package / "Media" / "rec.mov").string();
    EXPECT_EQ(model->url(), fs::path(copy));
    for (const Track& track : model->tracks()) {
        if (track.media.kind == MediaKind::effects) {
            EXPECT_EQ(track.media.path, "");
            continue;
        }
        EXPECT_EQ(track.media.path, copy) << track.name;
        for (const Clip& clip : track.clips) EXPECT_EQ(clip.media->path, copy) << track.name;
    }
    const MediaRef copiedTone{copy, MediaKind::audio, 0};
    ASSERT_TRUE(model->peaks().count(copiedTone));
    EXPECT_EQ(model->peaks().at(copiedTone), peaks);
    EXPECT_FALSE(model->peaks().count(tone));
    EXPECT_TRUE(model->sources().count(copy));

    // Later edits go into the package, without copying again.
    model->commit(renamed(model->tracks(), "Csomagban"));
    waitForSaves(*model);
    const ProjectFile stored = ProjectFile::read(package);
    EXPECT_EQ(stored.info.project->tracks.front().name, "Csomagban");
    EXPECT_EQ(stored.recording, copy);
    EXPECT_EQ(entries(package / "Media"), std::vector<std::string>{"rec.mov"});
}

// Once saved as a project, neither undo nor redo nor pasting a copy made
// before brings back a file outside the package.
TEST_F(EditorSaving, UndoRedoAndAnEarlierCopyStayInsideThePackage)
{
    auto model = openRecording();
    model->setSelectedClips({model->tracks().back().clips.front().id});
    model->copySelection();
    ASSERT_EQ(model->clipboard().size(), 1u);
    ASSERT_TRUE(model->clipboard().front().clip.media);
    model->commit(renamed(model->tracks(), "Első"));
    model->commit(renamed(model->tracks(), "Második"));
    model->undo();

    const fs::path package = folder.path / "Projekt.vdlproj";
    ASSERT_FALSE(saveAs(*model, package));
    const std::string inside = (package / "Media").string() + "/";
    const auto expectInside = [&](const std::string& step, const std::string& firstName) {
        waitForSaves(*model);
        const ProjectFile stored = ProjectFile::read(package);
        EXPECT_EQ(stored.info.project->tracks.front().name, firstName) << step;
        for (const std::string& path : stored.mediaPaths()) EXPECT_TRUE(path.starts_with(inside)) << step << ": " << path;
    };
    const std::string original = model->undoStack().front().tracks.front().name();
    expectInside("saved", "Első");
    model->undo();
    expectInside("undo", original);
    model->redo();
    expectInside("redo", "Első");
    model->redo();
    expectInside("redo again", "Második");
    model->paste(1);
    expectInside("paste", "Második");
    EXPECT_EQ(model->clipboard().front().clip.media->path, (package / "Media" / "rec.mov").string());
}

TEST_F(EditorSaving, AFailedPackageWriteSaysWhyAndKeepsTheOldPlace)
{
    auto model = openRecording();
    const fs::path blocker = folder.path / "file";
    writeFileAtomically(blocker, "not a folder");

    bool finished = false;
    model->setPathChooser([&](const fs::path&, EditorModel::ChosenPath chosen) { chosen(blocker / "p.vdlproj"); });
    model->saveProject(true, [&] { finished = true; });
    ASSERT_TRUE(runUntil([&] { return finished; }));
    ASSERT_TRUE(model->exportError());
    const std::string prefix = "A projekt nem menthető: ";
    EXPECT_TRUE(model->exportError()->starts_with(prefix)) << *model->exportError();
    EXPECT_GT(model->exportError()->size(), prefix.size());
    EXPECT_FALSE(model->documentURL());
    EXPECT_EQ(model->url(), movie);

    // Autosaves still reach the side file.
    model->commit(renamed(model->tracks(), "Még itt"));
    waitForSaves(*model);
    EXPECT_EQ(RecordingInfo::load(movie)->project->tracks.front().name, "Még itt");
}

TEST_F(EditorSaving, NothingIsSavedAsAProjectBeforeALoad)
{
    movie = copyOf(sharedRecording(), folder.path, "rec.mov");
    EditorModel model(movie, settingsIn(folder.path));
    const fs::path package = folder.path / "p.vdlproj";

    EXPECT_EQ(saveAs(model, package), "A szerkesztés nem töltődött be.");
    bool finished = false;
    model.setPathChooser([&](const fs::path&, EditorModel::ChosenPath chosen) { chosen(package); });
    model.saveProject(false, [&] { finished = true; });
    ASSERT_TRUE(runUntil([&] { return finished; }));
    EXPECT_EQ(model.exportError(), "A projekt nem menthető: A szerkesztés nem töltődött be.");
    waitForSaves(model);
    EXPECT_FALSE(fs::exists(package));
    EXPECT_FALSE(model.documentURL());
}

TEST_F(EditorSaving, AsksForAPlaceBesideTheRecordingAndCancelsQuietly)
{
    auto model = openRecording("Felvétel 2024-05-01 10.00.00.mov");
    std::optional<fs::path> proposed;
    bool finished = false;
    model->setPathChooser([&](const fs::path& place, EditorModel::ChosenPath chosen) {
        proposed = place;
        chosen(std::nullopt);
    });
    model->saveProject(false, [&] { finished = true; });
    ASSERT_TRUE(runUntil([&] { return finished; }));
    EXPECT_EQ(proposed, folder.path / "recordings" / "Felvétel 2024-05-01 10.00.00.vdlproj");
    EXPECT_FALSE(model->exportError());
    EXPECT_FALSE(model->documentURL());
    EXPECT_FALSE(fs::exists(*proposed));
}

TEST_F(EditorSaving, SavingAgainWritesIntoTheOpenPackageWithoutAsking)
{
    auto model = openRecording();
    const fs::path package = folder.path / "p.vdlproj";
    ASSERT_FALSE(saveAs(*model, package));
    int asked = 0;
    model->setPathChooser([&](const fs::path&, EditorModel::ChosenPath chosen) {
        ++asked;
        chosen(std::nullopt);
    });
    model->setTracks(renamed(model->tracks(), "Újra"));
    bool finished = false;
    model->saveProject(false, [&] { finished = true; });
    ASSERT_TRUE(runUntil([&] { return finished; }));
    EXPECT_EQ(asked, 0);
    EXPECT_FALSE(model->exportError());
    EXPECT_EQ(ProjectFile::read(package).info.project->tracks.front().name, "Újra");
    EXPECT_EQ(entries(package / "Media"), std::vector<std::string>{"rec.mov"});  // the copy is not copied again
}

TEST_F(EditorSaving, SavingOntoOnePackageAgainKeepsOneCopyOfEachMedium)
{
    const fs::path package = folder.path / "rec.vdlproj";
    const fs::path copy = package / "Media" / "rec.mov";
    // Each time a new editor of the recording, as after reopening it.
    for (int save = 0; save < 3; ++save) {
        auto model = openRecording();
        ASSERT_FALSE(saveAs(*model, package)) << save;
        EXPECT_EQ(model->url(), copy) << save;
        waitForSaves(*model);
        EXPECT_EQ(entries(package / "Media"), std::vector<std::string>{"rec.mov"}) << save;
        EXPECT_EQ(ProjectFile::read(package).mediaPaths(), std::set<std::string>{copy.string()}) << save;
    }

    // Another recording of the same name is a medium of its own.
    fs::create_directories(folder.path / "other");
    const fs::path other
        = makeRecording(folder.path / "other" / "rec.mov", {.seconds = 2, .camera = false, .tones = 1});
    EditorModel model(other, settingsIn(folder.path));
    ASSERT_TRUE(loadAndWait(model));
    ASSERT_FALSE(saveAs(model, package));
    EXPECT_EQ(model.url(), package / "Media" / "rec 2.mov");
    EXPECT_EQ(entries(package / "Media"), (std::vector<std::string>{"rec 2.mov", "rec.mov"}));
}

TEST_F(EditorSaving, SavingOverAFileOrIntoAnotherProjectIsRefusedAndSaysWhy)
{
    const fs::path old = folder.path / "old.vdlproj";
    {
        auto first = openRecording("első.mov");
        ASSERT_FALSE(saveAs(*first, old));
        waitForSaves(*first);
    }
    const std::string oldProject = readFile(old / "project.json");
    const fs::path note = folder.path / "jegyzet.txt";
    writeFileAtomically(note, "saját");

    auto model = openRecording();
    const std::vector<std::pair<fs::path, std::string>> refused{
        {old / "project.json",
         "A kiválasztott hely egy másik projekten belül van, oda nem menthető projekt: " + old.string() + "."},
        {old / "Media" / "uj.vdlproj",
         "A kiválasztott hely egy másik projekten belül van, oda nem menthető projekt: " + old.string() + "."},
        {note, "A kiválasztott helyen már áll egy fájl, a projekt nem kerülhet a helyére: " + note.string() + "."},
    };
    for (const auto& [target, message] : refused) {
        bool finished = false;
        model->setPathChooser([&](const fs::path&, EditorModel::ChosenPath chosen) { chosen(target); });
        model->saveProject(true, [&] { finished = true; });
        ASSERT_TRUE(runUntil([&] { return finished; }));
        EXPECT_EQ(model->exportError(), "A projekt nem menthető: " + message);
        EXPECT_FALSE(model->documentURL());
        model->setExportError(std::nullopt);
    }
    EXPECT_EQ(readFile(old / "project.json"), oldProject);
    EXPECT_EQ(entries(old / "Media"), std::vector<std::string>{"első.mov"});
    EXPECT_EQ(readFile(note), "saját");

    // The open project is saved where it is, even one that an earlier
    // version left inside another.
    const fs::path nested = old / "Media" / "belső.vdlproj";
    ProjectFile::read(old).writePackage(nested, false);
    EditorModel reopened(nested, settingsIn(folder.path));
    ASSERT_TRUE(loadAndWait(reopened));
    reopened.commit(renamed(reopened.tracks(), "Belül"));
    bool finished = false;
    reopened.saveProject(false, [&] { finished = true; });
    ASSERT_TRUE(runUntil([&] { return finished; }));
    EXPECT_FALSE(reopened.exportError());
    EXPECT_EQ(ProjectFile::read(nested).info.project->tracks.front().name, "Belül");
}

} // namespace
