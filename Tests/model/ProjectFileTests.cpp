// The project package: media copying and naming, path rewriting in both
// directions, reading back and the lookup of the recording.

#include "Ondexa/model/Files.h"
#include "Ondexa/model/OndexaError.h"
#include "Ondexa/model/ProjectFile.h"
#include "support/ProjectFixtures.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <limits>

using namespace ondexa;
using ondexa::testing::entries;
using ondexa::testing::makeFile;
using ondexa::testing::projectOf;
using ondexa::testing::trackOf;
using ondexa::testing::TempFolder;
namespace fs = std::filesystem;

namespace {

// An effects track: neither its path, its clip's path nor its overlay's image is a media file.
Track effectsTrack()
{
    Track track = trackOf("fx.mov", MediaKind::effects);
    track.media.path = "effects";
    track.clips[0].overlay = Overlay{};
    track.clips[0].overlay->mediaPath = "kep.png";
    return track;
}

Json stored(const fs::path& package) { return parseJson(readFile(package / "project.json")); }

// The stored recording, then the media path of each track and of its first clip.
std::vector<std::string> storedPaths(const fs::path& package)
{
    const Json json = stored(package);
    std::vector<std::string> paths{json["recording"]};
    for (const Json& track : json["info"]["project"]["tracks"]) {
        paths.push_back(track["media"]["path"]);
        paths.push_back(track["clips"][0]["media"]["path"]);
    }
    return paths;
}

} // namespace

TEST(ProjectFile, MediaPathsSkipEffectsAndEmptyPathsAndRecordingRelativeIsNeverWritten)
{
    ProjectFile file = projectOf("/a/rec.mov", {trackOf("/b/cam.mov"), trackOf(""), effectsTrack()});
    file.info.project->tracks[1].clips.push_back(trackOf("/c/music.m4a", MediaKind::audio).clips[0]);
    EXPECT_EQ(file.mediaPaths(), (std::set<std::string>{"/a/rec.mov", "/b/cam.mov", "/c/music.m4a"}));

    EXPECT_THROW(decodeJson<ProjectFile>(parseJson(R"({"recording": "/r.mov", "info": {"audioTracks": []}})")),
                 DecodingError);
    const auto old = decodeJson<ProjectFile>(parseJson(
        R"({"version": 1, "recording": "/r.mov", "recordingRelative": "r.mov", "info": {"audioTracks": []}})"));
    EXPECT_EQ(old.recordingRelative, "r.mov");
    EXPECT_EQ(encodeJson(old).dump(), R"({"version":1,"recording":"/r.mov","info":{"audioTracks":[]}})");
}

// A medium about to be added is copied beside a write of the edit as it
// stands, which names it nowhere and copies nothing of its own.
TEST(ProjectPackage, AFileToBeAddedIsCopiedWithoutTheProjectsOwnMedia)
{
    TempFolder temp;
    const fs::path package = temp.path / "p.vdlproj";
    const auto rec = makeFile(temp.path / "rec.mov", "movie").string();
    const auto added = makeFile(temp.path / "uj" / "zene.m4a", "sound").string();
    const ProjectFile file = projectOf(rec, {trackOf(rec)});

    const auto copies = file.writePackage(package, false, {added});
    const std::string copy = (package / "Media" / "zene.m4a").string();
    EXPECT_EQ(copies, (std::map<std::string, std::string>{{added, copy}}));
    EXPECT_EQ(readFile(copy), "sound");
    EXPECT_EQ(entries(package / "Media"), std::vector<std::string>{"zene.m4a"});
    EXPECT_EQ(ProjectFile::read(package), file);
}

TEST(ProjectPackage, OutsideMediaAreCopiedOnceAndReadBackAbsolute)
{
    TempFolder temp;
    const fs::path package = temp.path / "p.vdlproj";
    const auto rec = makeFile(temp.path / "a" / "rec.mov", "movie").string();
    makeFile(package / "Media" / "in.mov", "i");
    // Paths are normalised before deciding what is inside: a relative path climbing out is outside.
    const std::string sneaky = (package / ".." / "a" / "rec.mov").string(), climbing = "../a/rec.mov";
    const std::string insideAbsolute = (package / "Media" / ".." / "Media" / "in.mov").string();
    ProjectFile file = projectOf(rec, {trackOf(sneaky), trackOf(climbing), trackOf("Media/./in.mov"),
                                       trackOf(insideAbsolute), effectsTrack()});
    file.version = 1;
    file.recordingRelative = "a/rec.mov";

    const auto copies = file.writePackage(package, true);
    const std::string copy = (package / "Media" / "rec.mov").string();
    EXPECT_EQ(copies, (std::map<std::string, std::string>{{climbing, copy}, {rec, copy}, {sneaky, copy}}));
    EXPECT_EQ(entries(package / "Media"), (std::vector<std::string>{"in.mov", "rec.mov"}));
    EXPECT_EQ(readFile(copy), "movie");
    const std::string text = readFile(package / "project.json");
    EXPECT_NE(text.find("\n  \"recording\": \"Media/rec.mov\""), std::string::npos) << text;  // pretty-printed
    EXPECT_EQ(stored(package)["version"], 2);
    EXPECT_FALSE(stored(package).contains("recordingRelative"));
    const std::string r = "Media/rec.mov", i = "Media/in.mov";
    EXPECT_EQ(storedPaths(package), (std::vector<std::string>{r, r, r, r, r, i, i, i, i, "effects", "fx.mov"}));

    // Read back, inside paths are absolute again and effects as stored.
    const ProjectFile read = ProjectFile::read(package);
    EXPECT_EQ(read.mediaPaths(), (std::set<std::string>{copy, (package / "Media" / "in.mov").string()}));
    EXPECT_EQ(read.info.project->tracks[4], file.info.project->tracks[4]);

    // Saving what was read copies nothing and writes the same file.
    EXPECT_TRUE(ProjectFile::read(package).writePackage(package, true).empty());
    EXPECT_EQ(entries(package / "Media"), (std::vector<std::string>{"in.mov", "rec.mov"}));
    EXPECT_EQ(readFile(package / "project.json"), text);

    // Without copying, outside files keep their plain absolute path and inside ones are relative.
    projectOf(sneaky, {trackOf(climbing), trackOf(insideAbsolute)}).writePackage(package, false);
    EXPECT_EQ(storedPaths(package), (std::vector<std::string>{rec, rec, rec, "Media/in.mov", "Media/in.mov"}));
}

TEST(ProjectPackage, NameClashesCountUpInStringOrder)
{
    TempFolder temp;
    const fs::path package = temp.path / "p.vdlproj", media = package / "Media";
    fs::create_directories(media / "y.mov");  // something that is not a regular file holds a name already
    const std::vector<std::pair<fs::path, std::string>> sources{
        {"c/x.mov", "x 3.mov"}, {"b/x.mov", "x 2.mov"}, {"a/x.mov", "x.mov"},
        {"a/hang", "hang"},     {"b/hang", "hang 2"},   {"a/y.mov", "y 2.mov"}};
    std::vector<Track> tracks;
    for (const auto& [path, copy] : sources) tracks.push_back(trackOf(makeFile(temp.path / path, copy)));
    const auto copies = projectOf(temp.path / "c/x.mov", tracks).writePackage(package, true);
    for (const auto& [path, copy] : sources) {
        EXPECT_EQ(copies.at(temp.path / path), (media / copy).string()) << path;
        EXPECT_EQ(readFile(media / copy), copy);
    }
    EXPECT_EQ(stored(package)["recording"], "Media/x 3.mov");
}

TEST(ProjectPackage, FailuresAndOddEntries)
{
    TempFolder temp;
    // A value that can't be encoded writes nothing.
    ProjectFile broken = projectOf("/nincs/rec.mov", {trackOf("/nincs/rec.mov")});
    broken.info.project->tracks[0].clips[0].duration = std::numeric_limits<double>::quiet_NaN();
    EXPECT_THROW(broken.writePackage(temp.path / "p.vdlproj", true), EncodingError);
    EXPECT_FALSE(fs::exists(temp.path / "p.vdlproj"));

    // A file standing at the package's place is replaced.
    const fs::path package = makeFile(temp.path / "p.vdlproj", "régi");
    projectOf("/nincs/rec.mov", {}).writePackage(package, true);
    EXPECT_EQ(ProjectFile::read(package).recording, "/nincs/rec.mov");

    // Only regular files are copied: folders, pipes and devices stay where they are.
    const fs::path folder = temp.path / "mappa.mov", pipe = temp.path / "cso.mov";
    fs::create_directories(folder);
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_TRUE(projectOf(folder, {trackOf(pipe), trackOf("/dev/null")}).writePackage(package, true).empty());
    EXPECT_TRUE(entries(package / "Media").empty());
    EXPECT_EQ(storedPaths(package), (std::vector<std::string>{folder, pipe, pipe, "/dev/null", "/dev/null"}));
}

TEST(ProjectPackage, ReadingResolvesRelativePathsAgainstThePackageAndTakesFlatFilesAsStored)
{
    TempFolder temp;
    const fs::path package = temp.path / "p.vdlproj";
    const ProjectFile written = projectOf("Media/../Media/rec.mov", {trackOf("../kint.mov"), trackOf("/abs/x.mov")});
    makeFile(package / "project.json", encodeJson(written).dump(2));
    const ProjectFile file = ProjectFile::read(package);
    EXPECT_EQ(file.recording, (package / "Media" / "rec.mov").string());
    EXPECT_EQ(file.info.project->tracks[0].clips[0].media->path, (temp.path / "kint.mov").string());
    EXPECT_EQ(file.info.project->tracks[1].media.path, "/abs/x.mov");

    EXPECT_EQ(ProjectFile::read(makeFile(temp.path / "regi.json", encodeJson(written).dump())), written);
    EXPECT_THROW(ProjectFile::read(temp.path / "nincs.vdlproj"), OndexaError);
    EXPECT_THROW(ProjectFile::read(makeFile(temp.path / "hibas.json", "{\"version\": 2}")), DecodingError);
}

TEST(ProjectFile, RecordingURLPrefersTheRelativePath)
{
    TempFolder temp;
    const fs::path projectURL = temp.path / "projektek" / "p.vdlproj";
    const auto beside = makeFile(temp.path / "felvetelek" / "rec.mov", "r");
    const auto absolute = makeFile(temp.path / "rec.mov", "r");
    ProjectFile file = projectOf(absolute.string(), {});

    EXPECT_EQ(file.recordingURL(projectURL), absolute);
    file.recordingRelative = "../felvetelek/rec.mov";
    EXPECT_EQ(file.recordingURL(projectURL), beside);
    file.recordingRelative = "../felvetelek/nincs.mov";
    EXPECT_EQ(file.recordingURL(projectURL), absolute);
    file.recording = (temp.path / "felvetelek").string();  // a folder is no recording
    EXPECT_EQ(file.recordingURL(projectURL), std::nullopt);
}

TEST(ProjectPackage, SavingAgainFromTheOriginalsReusesTheCopiesAndRemovesNothing)
{
    TempFolder temp;
    const fs::path package = temp.path / "p.vdlproj", media = package / "Media";
    const std::string rec = makeFile(temp.path / "a" / "rec.mov", "movie").string();
    const std::string copy = (media / "rec.mov").string();
    for (int save = 0; save < 3; ++save) {
        EXPECT_EQ(projectOf(rec, {trackOf(rec)}).writePackage(package, true),
                  (std::map<std::string, std::string>{{rec, copy}}))
            << save;
        EXPECT_EQ(entries(media), std::vector<std::string>{"rec.mov"}) << save;
        EXPECT_EQ(storedPaths(package), (std::vector<std::string>{"Media/rec.mov", "Media/rec.mov", "Media/rec.mov"}));
    }

    // The copy itself reached through a link outside the package.
    fs::create_symlink(copy, temp.path / "link.mov");
    const std::string link = (temp.path / "link.mov").string();
    EXPECT_EQ(projectOf(link, {}).writePackage(package, true), (std::map<std::string, std::string>{{link, copy}}));

    // What the user put there stays; a file with its content is used as it is named.
    makeFile(media / "jegyzet.txt", "saját");
    makeFile(media / "kedvenc.mov", "zene");
    const std::string music = makeFile(temp.path / "b" / "zene.mov", "zene").string();
    // Same name, other content (one of the same size): copies of their own.
    const std::string other = makeFile(temp.path / "b" / "rec.mov", "mozi!").string();
    const std::string sameSize = makeFile(temp.path / "c" / "rec.mov", "movia").string();
    for (int save = 0; save < 2; ++save) {
        const ProjectFile file = projectOf(rec, {trackOf(music), trackOf(other), trackOf(sameSize)});
        const auto copies = file.writePackage(package, true);
        EXPECT_EQ(copies, (std::map<std::string, std::string>{{rec, copy},
                                                              {music, (media / "kedvenc.mov").string()},
                                                              {other, (media / "rec 2.mov").string()},
                                                              {sameSize, (media / "rec 3.mov").string()}}))
            << save;
    }
    EXPECT_EQ(entries(media), (std::vector<std::string>{"jegyzet.txt", "kedvenc.mov", "rec 2.mov", "rec 3.mov",
                                                        "rec.mov"}));
    EXPECT_EQ(readFile(media / "rec 2.mov"), "mozi!");
    EXPECT_EQ(readFile(media / "rec 3.mov"), "movia");
    EXPECT_EQ(readFile(media / "jegyzet.txt"), "saját");
}

TEST(ProjectPackage, ANewPlaceIsNeitherAFileNorInsideAnotherPackage)
{
    TempFolder temp;
    const fs::path old = temp.path / "old.vdlproj", renamed = temp.path / "proba2";
    projectOf("/nincs/rec.mov", {}).writePackage(old, false);
    projectOf("/nincs/rec.mov", {}).writePackage(renamed, false);
    fs::create_directory_symlink(old, temp.path / "link");
    const auto note = makeFile(temp.path / "jegyzet.txt", "saját");
    fs::create_directories(temp.path / "mappa");

    const auto inside = [](const fs::path& package) {
        return "A kiválasztott hely egy másik projekten belül van, oda nem menthető projekt: " + package.string() + ".";
    };
    const std::vector<std::pair<fs::path, std::string>> refused{
        {old / "project.json", inside(old)},
        {old / "Media" / "uj.vdlproj", inside(old)},
        {old / "uj.vdlproj" / "", inside(old)},
        {renamed / "uj.vdlproj", inside(renamed)},
        {temp.path / "link" / "uj.vdlproj", inside(temp.path / "link")},
        {temp.path / "lesz.VDLPROJ" / "uj.vdlproj", inside(temp.path / "lesz.VDLPROJ")},
        {note, "A kiválasztott helyen már áll egy fájl, a projekt nem kerülhet a helyére: " + note.string() + "."},
    };
    for (const auto& [place, message] : refused) {
        try {
            ProjectFile::checkNewPlace(place);
            ADD_FAILURE() << place << " taken";
        } catch (const OndexaError& e) {
            EXPECT_EQ(e.message, message);
        }
    }
    // Nothing there yet, a plain folder, or a whole package (saved over as one).
    for (const fs::path& place : {temp.path / "uj.vdlproj", temp.path / "mappa", old, renamed})
        EXPECT_NO_THROW(ProjectFile::checkNewPlace(place)) << place;
    EXPECT_EQ(readFile(note), "saját");
}
