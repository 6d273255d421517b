// The project package: media copying and naming, path rewriting in both
// directions, reading back and the lookup of the recording.

#include "Ondexa/model/Files.h"
#include "Ondexa/model/OndexaError.h"
#include "Ondexa/model/ProjectFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <limits>

using namespace ondexa;
namespace fs = std::filesystem;

namespace {

struct TempFolder {
    fs::path path = fs::temp_directory_path() / ("ondexa-test-" + Uuid::random().string());
    TempFolder() { fs::create_directories(path); }
    ~TempFolder()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

fs::path makeFile(const fs::path& path, const std::string& content)
{
    fs::create_directories(path.parent_path());
    writeFileAtomically(path, content);
    return path;
}

std::vector<std::string> mediaFiles(const fs::path& package)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(package / "Media")) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Clip clipOf(const std::string& path, MediaKind kind = MediaKind::video)
{
    Clip clip;
    clip.duration = 2;
    clip.media = MediaRef{path, kind, 0};
    return clip;
}

Track trackOf(const std::string& path, MediaKind kind = MediaKind::video)
{
    Track track;
    track.name = "sáv";
    track.media = MediaRef{path, kind, 0};
    track.clips.push_back(clipOf(path, kind));
    return track;
}

// An effects track whose path is no file and whose overlay names an image.
Track effectsTrack()
{
    Track track;
    track.name = "Effektek";
    track.media = MediaRef{"effects", MediaKind::effects, 0};
    Clip clip;
    clip.duration = 1;
    clip.media = MediaRef{"fx.mov", MediaKind::effects, 0};
    Overlay overlay;
    overlay.kind = OverlayKind::pip;
    overlay.mediaPath = "kep.png";
    clip.overlay = overlay;
    track.clips.push_back(clip);
    return track;
}

ProjectFile projectOf(const std::string& recording, std::vector<Track> tracks)
{
    ProjectFile file;
    file.recording = recording;
    file.info.audioTracks = {"Rendszerhang"};
    file.info.project = Project{Project::currentVersion, std::move(tracks), std::nullopt};
    return file;
}

Json storedJson(const fs::path& package)
{
    return parseJson(readFile(package / "project.json"));
}

} // namespace

TEST(ProjectFile, MediaPathsAndMapPathsSkipEffectsOverlaysAndEmptyPaths)
{
    ProjectFile file = projectOf("/a/rec.mov", {trackOf("/a/rec.mov"), trackOf("/b/cam.mov"), effectsTrack()});
    file.info.project->tracks[1].clips.push_back(clipOf("/c/music.m4a", MediaKind::audio));
    file.info.project->tracks[1].clips.push_back(clipOf(""));
    file.recordingRelative = "rec.mov";
    EXPECT_EQ(file.mediaPaths(), (std::set<std::string>{"/a/rec.mov", "/b/cam.mov", "/c/music.m4a"}));

    file.mapPaths([](const std::string& p) { return "X" + p; });
    EXPECT_EQ(file.recording, "X/a/rec.mov");
    EXPECT_EQ(file.recordingRelative, "rec.mov");
    const auto& tracks = file.info.project->tracks;
    EXPECT_EQ(tracks[1].media.path, "X/b/cam.mov");
    EXPECT_EQ(tracks[1].clips[1].media->path, "X/c/music.m4a");
    EXPECT_EQ(tracks[2].media.path, "effects");
    EXPECT_EQ(tracks[2].clips[0].media->path, "fx.mov");
    EXPECT_EQ(tracks[2].clips[0].overlay->mediaPath, "kep.png");
}

TEST(ProjectFile, CodingNeedsVersionAndNeverWritesRecordingRelative)
{
    EXPECT_THROW(decodeJson<ProjectFile>(parseJson(R"({"recording": "/r.mov", "info": {"audioTracks": []}})")),
                 DecodingError);
    const auto file = decodeJson<ProjectFile>(parseJson(
        R"({"version": 1, "recording": "/r.mov", "recordingRelative": "r.mov", "info": {"audioTracks": []}})"));
    EXPECT_EQ(file.version, 1);
    EXPECT_EQ(file.recordingRelative, "r.mov");
    EXPECT_EQ(encodeJson(file).dump(), R"({"version":1,"recording":"/r.mov","info":{"audioTracks":[]}})");
}

TEST(ProjectPackage, SharedFileIsCopiedOnceAndEveryUseBecomesRelative)
{
    TempFolder temp;
    const auto rec = makeFile(temp.path / "a" / "rec.mov", "movie").string();
    const fs::path package = temp.path / "Projekt.vdlproj";
    ProjectFile file = projectOf(rec, {trackOf(rec), trackOf(rec), effectsTrack()});
    file.version = 1;
    file.recordingRelative = "a/rec.mov";
    const ProjectFile before = file;

    const auto copies = file.writePackage(package, true);
    EXPECT_EQ(file, before);
    EXPECT_EQ(copies, (std::map<std::string, std::string>{{rec, (package / "Media" / "rec.mov").string()}}));
    EXPECT_EQ(mediaFiles(package), std::vector<std::string>{"rec.mov"});
    EXPECT_EQ(readFile(package / "Media" / "rec.mov"), "movie");

    const std::string text = readFile(package / "project.json");
    EXPECT_NE(text.find("\n  \"recording\": \"Media/rec.mov\""), std::string::npos) << text;
    const Json json = parseJson(text);
    EXPECT_EQ(json["version"], 2);
    EXPECT_FALSE(json.contains("recordingRelative"));
    for (int t = 0; t < 2; ++t) {
        EXPECT_EQ(json["info"]["project"]["tracks"][t]["media"]["path"], "Media/rec.mov");
        EXPECT_EQ(json["info"]["project"]["tracks"][t]["clips"][0]["media"]["path"], "Media/rec.mov");
    }
    EXPECT_EQ(json["info"]["project"]["tracks"][2]["media"]["path"], "effects");
    EXPECT_EQ(json["info"]["project"]["tracks"][2]["clips"][0]["media"]["path"], "fx.mov");

    // Read back: inside paths become absolute again, effects stay as stored.
    ProjectFile expected = before;
    expected.version = 2;
    expected.recordingRelative.reset();
    expected.mapPaths([&](const std::string& p) { return copies.count(p) ? copies.at(p) : p; });
    EXPECT_EQ(ProjectFile::read(package), expected);

    // Saving what was read copies nothing and writes the same file.
    EXPECT_TRUE(ProjectFile::read(package).writePackage(package, true).empty());
    EXPECT_EQ(mediaFiles(package), std::vector<std::string>{"rec.mov"});
    EXPECT_EQ(readFile(package / "project.json"), text);
}

TEST(ProjectPackage, NameClashesCountUpInStringOrder)
{
    TempFolder temp;
    const auto a = makeFile(temp.path / "a" / "x.mov", "a").string();
    const auto b = makeFile(temp.path / "b" / "x.mov", "b").string();
    const auto c = makeFile(temp.path / "c" / "x.mov", "c").string();
    const auto bare = makeFile(temp.path / "a" / "hang", "h1").string();
    const auto bare2 = makeFile(temp.path / "b" / "hang", "h2").string();
    const auto y = makeFile(temp.path / "a" / "y.mov", "y").string();
    const fs::path package = temp.path / "p.vdlproj";
    // Something that is not a regular file already holds a name in Media.
    fs::create_directories(package / "Media" / "y.mov");

    const auto copies = projectOf(c, {trackOf(b), trackOf(a), trackOf(bare), trackOf(bare2), trackOf(y)})
                            .writePackage(package, true);
    const fs::path media = package / "Media";
    EXPECT_EQ(copies.at(a), (media / "x.mov").string());
    EXPECT_EQ(copies.at(b), (media / "x 2.mov").string());
    EXPECT_EQ(copies.at(c), (media / "x 3.mov").string());
    EXPECT_EQ(copies.at(bare), (media / "hang").string());
    EXPECT_EQ(copies.at(bare2), (media / "hang 2").string());
    EXPECT_EQ(copies.at(y), (media / "y 2.mov").string());
    EXPECT_EQ(readFile(media / "x 2.mov"), "b");
    EXPECT_EQ(readFile(media / "x 3.mov"), "c");
    EXPECT_EQ(readFile(media / "hang 2"), "h2");
    EXPECT_EQ(storedJson(package)["recording"], "Media/x 3.mov");
}

TEST(ProjectPackage, WithoutCopyingOnlyInsidePathsAreRelative)
{
    TempFolder temp;
    const fs::path package = temp.path / "p.vdlproj";
    const auto outside = makeFile(temp.path / "rec.mov", "r").string();
    const auto inside = makeFile(package / "Media" / "cam.mov", "c").string();

    EXPECT_TRUE(projectOf(outside, {trackOf(inside)}).writePackage(package, false).empty());
    EXPECT_EQ(mediaFiles(package), std::vector<std::string>{"cam.mov"});
    const Json json = storedJson(package);
    EXPECT_EQ(json["recording"], outside);
    EXPECT_EQ(json["info"]["project"]["tracks"][0]["media"]["path"], "Media/cam.mov");
    EXPECT_EQ(ProjectFile::read(package).info.project->tracks[0].media.path, inside);
}

TEST(ProjectPackage, FileAtThePackagePathIsReplaced)
{
    TempFolder temp;
    const fs::path package = makeFile(temp.path / "p.vdlproj", "régi");
    projectOf("/nincs/rec.mov", {}).writePackage(package, true);
    EXPECT_TRUE(fs::is_directory(package / "Media"));
    EXPECT_EQ(ProjectFile::read(package).recording, "/nincs/rec.mov");
}

TEST(ProjectPackage, UnencodableValueWritesNothing)
{
    TempFolder temp;
    const auto rec = makeFile(temp.path / "rec.mov", "r").string();
    ProjectFile file = projectOf(rec, {trackOf(rec)});
    file.info.project->tracks[0].clips[0].duration = std::numeric_limits<double>::quiet_NaN();
    EXPECT_THROW(file.writePackage(temp.path / "p.vdlproj", true), EncodingError);
    EXPECT_FALSE(fs::exists(temp.path / "p.vdlproj"));
}

TEST(ProjectPackage, OnlyRegularFilesAreCopied)
{
    TempFolder temp;
    const fs::path folder = temp.path / "mappa.mov";
    fs::create_directories(folder);
    const fs::path pipe = temp.path / "cso.mov";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const fs::path package = temp.path / "p.vdlproj";

    const auto copies = projectOf(folder.string(), {trackOf(pipe.string()), trackOf("/dev/null")})
                            .writePackage(package, true);
    EXPECT_TRUE(copies.empty());
    EXPECT_TRUE(mediaFiles(package).empty());
    const Json json = storedJson(package);
    EXPECT_EQ(json["recording"], folder.string());
    EXPECT_EQ(json["info"]["project"]["tracks"][0]["media"]["path"], pipe.string());
    EXPECT_EQ(json["info"]["project"]["tracks"][1]["media"]["path"], "/dev/null");
}

TEST(ProjectPackage, PathsAreNormalisedBeforeDecidingWhatIsInside)
{
    TempFolder temp;
    const fs::path package = temp.path / "p.vdlproj";
    const auto other = makeFile(temp.path / "other.mov", "o");
    makeFile(package / "Media" / "in.mov", "i");
    const std::string sneaky = (package / ".." / "other.mov").string();
    const std::string climbing = "../other.mov";
    const std::string insideRelative = "Media/./in.mov";
    const std::string insideAbsolute = (package / "Media" / ".." / "Media" / "in.mov").string();

    const auto copies = projectOf(sneaky, {trackOf(climbing), trackOf(insideRelative), trackOf(insideAbsolute)})
                            .writePackage(package, true);
    // Both spellings of the outside file share one copy.
    const std::string copy = (package / "Media" / "other.mov").string();
    EXPECT_EQ(copies, (std::map<std::string, std::string>{{climbing, copy}, {sneaky, copy}}));
    EXPECT_EQ(mediaFiles(package), (std::vector<std::string>{"in.mov", "other.mov"}));
    const Json tracks = storedJson(package)["info"]["project"]["tracks"];
    EXPECT_EQ(storedJson(package)["recording"], "Media/other.mov");
    EXPECT_EQ(tracks[0]["media"]["path"], "Media/other.mov");
    EXPECT_EQ(tracks[1]["media"]["path"], "Media/in.mov");
    EXPECT_EQ(tracks[2]["media"]["path"], "Media/in.mov");

    // Without copying, the outside file is stored by its plain absolute path.
    projectOf(sneaky, {trackOf(climbing)}).writePackage(package, false);
    EXPECT_EQ(storedJson(package)["recording"], other.string());
    EXPECT_EQ(storedJson(package)["info"]["project"]["tracks"][0]["media"]["path"], other.string());
}

TEST(ProjectPackage, ReadingResolvesRelativePathsAgainstThePackage)
{
    TempFolder temp;
    const fs::path package = temp.path / "p.vdlproj";
    ProjectFile stored = projectOf("Media/rec.mov", {trackOf("Media/../Media/cam.mov"), trackOf("../kint.mov"),
                                                     trackOf("/abs/x.mov"), effectsTrack()});
    makeFile(package / "project.json", encodeJson(stored).dump(2));

    const ProjectFile file = ProjectFile::read(package);
    const auto& tracks = file.info.project->tracks;
    EXPECT_EQ(file.recording, (package / "Media" / "rec.mov").string());
    EXPECT_EQ(tracks[0].media.path, (package / "Media" / "cam.mov").string());
    EXPECT_EQ(tracks[0].clips[0].media->path, (package / "Media" / "cam.mov").string());
    EXPECT_EQ(tracks[1].media.path, (temp.path / "kint.mov").string());
    EXPECT_EQ(tracks[2].media.path, "/abs/x.mov");
    EXPECT_EQ(tracks[3].media.path, "effects");
    EXPECT_EQ(tracks[3].clips[0].media->path, "fx.mov");

    // The flat form is taken as stored.
    const fs::path flat = makeFile(temp.path / "regi.json", encodeJson(stored).dump());
    EXPECT_EQ(ProjectFile::read(flat), stored);

    EXPECT_THROW(ProjectFile::read(temp.path / "nincs.vdlproj"), OndexaError);
    makeFile(temp.path / "hibas.json", "{\"version\": 2}");
    EXPECT_THROW(ProjectFile::read(temp.path / "hibas.json"), DecodingError);
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
