// Files the editor did not write itself, and writes that fail: a side file
// or project nested far too deep, a recording whose name is not UTF-8, and
// an autosave that can't reach the disk.

#include "EditingFixtures.h"
#include "rendering/GuiTestApplication.h"

#include "Ondexa/model/Files.h"
#include "Ondexa/model/Log.h"
#include "Ondexa/model/ProjectFile.h"
#include "Ondexa/model/RecordingInfo.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

using namespace ondexa;
using namespace ondexa::testing;
namespace fs = std::filesystem;

namespace {

class EditorFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const char* old = std::getenv("XDG_STATE_HOME")) oldStateHome_ = old;
        setenv("XDG_STATE_HOME", (folder.path / "state").c_str(), 1);
    }
    void TearDown() override
    {
        if (oldStateHome_) setenv("XDG_STATE_HOME", oldStateHome_->c_str(), 1);
        else unsetenv("XDG_STATE_HOME");
    }
    std::unique_ptr<EditorModel> open(const fs::path& url)
    {
        auto model = std::make_unique<EditorModel>(url, settingsIn(folder.path));
        EXPECT_TRUE(loadAndWait(*model));
        return model;
    }
    static void rename(EditorModel& model, const std::string& name)
    {
        auto tracks = model.tracks();
        tracks.front().name = name;
        model.commit(tracks);
        waitForSaves(model);
    }
    // The log lines holding `text`.
    static int logged(const std::string& text)
    {
        std::error_code error;
        if (!fs::exists(logFilePath(), error)) return 0;
        std::istringstream lines(readFile(logFilePath()));
        int count = 0;
        for (std::string line; std::getline(lines, line);) count += line.find(text) != std::string::npos;
        return count;
    }

    TempFolder folder;

private:
    std::optional<std::string> oldStateHome_;
};

// 100,000 arrays, one inside the other, as the member of an object that has
// more after it: an ordered object copies what it holds as it grows, one
// stack frame per level.
std::string deepMember(const std::string& before, const std::string& after)
{
    return "{" + before + "\"deep\":" + std::string(100'000, '[') + std::string(100'000, ']') + "," + after + "}";
}

} // namespace

TEST_F(EditorFiles, ADeeplyNestedSideFileIsKeptAsBakAndAProjectIsRefused)
{
    const fs::path movie = copyOf(sharedRecording(), folder.path, "rec.mov");
    const fs::path side = RecordingInfo::sideFileURL(movie);
    const std::string deep = deepMember("\"audioTracks\":[],", "\"showClicks\":true");
    writeFileAtomically(side, deep);
    auto model = open(movie);
    EXPECT_FALSE(model->loadError());
    EXPECT_EQ(model->tracks().size(), 4u);  // as if there were no side file
    waitForSaves(*model);
    EXPECT_EQ(readFile(side.string() + ".bak"), deep);
    ASSERT_TRUE(RecordingInfo::load(movie));

    const fs::path package = folder.path / "p.vdlproj";
    const std::string project
        = deepMember("\"version\":2,", "\"recording\":\"" + movie.string() + "\",\"info\":{\"audioTracks\":[]}");
    fs::create_directories(package);
    writeFileAtomically(package / "project.json", project);
    auto refused = open(package);
    EXPECT_EQ(refused->loadError(), "A felvétel nem nyitható meg: A JSON-szöveg hibás (256 szintnél mélyebben "
                                    "egymásba ágyazott értékek).");
    waitForSaves(*refused);
    EXPECT_EQ(readFile(package / "project.json"), project);
}

TEST_F(EditorFiles, ARecordingNamedInLatin1KeepsItsEditsAlsoInAPackage)
{
    // "Videók/café.mov" as an old archive holds it: é is 0xE9, ó 0xF3.
    const fs::path movie = copyOf(sharedRecording(), folder.path / "Vide\xf3k", "caf\xe9.mov");
    {
        auto model = open(movie);
        rename(*model, "Átnevezve");
        EXPECT_FALSE(model->exportError());
    }
    auto reopened = open(movie);
    ASSERT_FALSE(reopened->loadError());
    EXPECT_EQ(reopened->tracks().front().name, "Átnevezve");
    EXPECT_EQ(reopened->tracks().front().media.path, movie.string());

    const fs::path package = folder.path / "Projekt \xe9.vdlproj";
    bool finished = false;
    reopened->setPathChooser([&](const fs::path&, EditorModel::ChosenPath chosen) { chosen(package); });
    reopened->saveProject(true, [&] { finished = true; });
    ASSERT_TRUE(runUntil([&] { return finished; }));
    EXPECT_FALSE(reopened->exportError()) << *reopened->exportError();
    rename(*reopened, "Csomagban");

    auto fromPackage = open(package);
    ASSERT_FALSE(fromPackage->loadError()) << *fromPackage->loadError();
    const fs::path copy = package / "Media" / "caf\xe9.mov";
    EXPECT_EQ(fromPackage->url(), copy);
    EXPECT_EQ(fromPackage->tracks(), reopened->tracks());
    EXPECT_EQ(fromPackage->tracks().front().name, "Csomagban");
    EXPECT_EQ(fromPackage->tracks().front().media.path, copy.string());
}

TEST_F(EditorFiles, AFailedAutosaveIsLoggedAndShownOncePerRunOfFailures)
{
    const fs::path movie = copyOf(sharedRecording(), folder.path, "rec.mov");
    auto model = open(movie);
    waitForSaves(*model);
    const fs::path side = RecordingInfo::sideFileURL(movie);
    const auto blockSideFile = [&] {
        fs::remove(side);
        fs::create_directory(side);  // a folder where the file goes: every write fails
    };
    const std::string failure = "Az automatikus mentés nem sikerült: ";

    blockSideFile();
    rename(*model, "egy");
    rename(*model, "kettő");
    ASSERT_TRUE(model->exportError());
    EXPECT_TRUE(model->exportError()->starts_with(failure)) << *model->exportError();
    EXPECT_GT(model->exportError()->size(), failure.size());
    EXPECT_EQ(logged("HIBA: " + failure), 1);

    // The alert closed; the next failures of the same run are not shown again.
    model->setExportError(std::nullopt);
    rename(*model, "három");
    EXPECT_FALSE(model->exportError());
    EXPECT_EQ(logged("HIBA: " + failure), 1);

    // Once a write succeeds, the next failure is news again.
    fs::remove(side);
    rename(*model, "négy");
    EXPECT_EQ(RecordingInfo::load(movie)->project->tracks.front().name, "négy");
    EXPECT_FALSE(model->exportError());
    blockSideFile();
    rename(*model, "öt");
    EXPECT_TRUE(model->exportError());
    EXPECT_EQ(logged("HIBA: " + failure), 2);
}
