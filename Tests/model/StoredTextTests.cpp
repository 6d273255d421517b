// Text that ends up in our JSON files without our choosing: documents
// nested far deeper than ours, and file names that are not UTF-8.

#include "Ondexa/model/Files.h"
#include "Ondexa/model/ProjectFile.h"
#include "Ondexa/model/RecordingInfo.h"
#include "support/ProjectFixtures.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

using namespace ondexa;
using ondexa::testing::makeFile;
using ondexa::testing::projectOf;
using ondexa::testing::TempFolder;
using ondexa::testing::trackOf;
namespace fs = std::filesystem;

namespace {

// `levels` arrays, or objects {"a": …}, one inside the other.
std::string nested(std::size_t levels, bool objects)
{
    std::string text;
    text.reserve(levels * 6 + 2);
    for (std::size_t i = 0; i < levels; ++i) text += objects ? "{\"a\":" : "[";
    text += "1";
    for (std::size_t i = 0; i < levels; ++i) text += objects ? '}' : ']';
    return text;
}

// A deep value with a member after it: the object holding it grows, and an
// ordered object copies what it holds as it grows, one stack frame per level.
std::string deepMember(const std::string& before, const std::string& after)
{
    return "{" + before + "\"deep\":" + nested(100'000, false) + "," + after + "}";
}

std::string depthMessage() { return "A JSON-szöveg hibás (256 szintnél mélyebben egymásba ágyazott értékek)."; }

// Latin-1 names as old archives and FAT sticks hold them: "é" is the byte
// 0xE9, "ó" 0xF3. Beside them a cut UTF-8 sequence, a surrogate and an
// overlong "/".
const std::string latinFolder = "/tmp/Vide\xf3k";
const std::string latinMovie = latinFolder + "/caf\xe9.mov";
const std::string oddBytes = "/x/\xc3 \xed\xa0\x80 \xc0\xaf \xf4\x90\x80\x80.mov";

} // namespace

TEST(DeepJson, NestingIsRefusedWhileParsingWithAClearError)
{
    for (const bool objects : {false, true}) {
        EXPECT_NO_THROW(parseJson(nested(256, objects))) << objects;
        for (const std::string& text : {nested(257, objects), nested(100'000, objects), deepMember("", "\"b\":1")}) {
            try {
                parseJson(text);
                ADD_FAILURE() << text.size() << " bytes were taken";
            } catch (const DecodingError& e) {
                EXPECT_EQ(e.what(), depthMessage());
            }
        }
    }
}

TEST(DeepJson, ADeepSideFileOrProjectFileIsUnreadableNotFatal)
{
    TempFolder temp;
    const fs::path movie = temp.path / "rec.mov";
    makeFile(RecordingInfo::sideFileURL(movie), deepMember("\"audioTracks\":[],", "\"showClicks\":true"));
    EXPECT_EQ(RecordingInfo::load(movie), std::nullopt);

    const std::string project = deepMember("\"version\":2,", "\"recording\":\"/a.mov\",\"info\":{}");
    const fs::path package = temp.path / "p.vdlproj";
    makeFile(package / "project.json", project);
    makeFile(temp.path / "flat.json", project);
    for (const fs::path& url : {package, temp.path / "flat.json"}) {
        try {
            ProjectFile::read(url);
            ADD_FAILURE() << url;
        } catch (const DecodingError& e) {
            EXPECT_EQ(e.what(), depthMessage());
        }
    }
}

TEST(PathBytes, PathsThatAreNotUtf8RoundTripAndUtf8PathsAreStoredAsBefore)
{
    ProjectFile file = projectOf(latinMovie, {trackOf(latinMovie), trackOf(oddBytes), trackOf("/a/Felvétel.mov")});
    file.info.project->tracks[0].clips[0].overlay.emplace().mediaPath = latinFolder + "/k\xe9p.png";

    const std::string text = dumpJson(encodeJson(file));
    const ProjectFile read = decodeJson<ProjectFile>(parseJson(text));
    EXPECT_EQ(read, file);
    // Readable where the name is UTF-8; each other byte as NUL and two hex digits.
    EXPECT_NE(text.find(R"("recording":"/tmp/Vide\u0000f3k/caf\u0000e9.mov")"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("path":"/x/\u0000c3 \u0000ed\u0000a0\u000080 \u0000c0\u0000af \u0000f4\u000090\u000080\u000080.mov")"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(R"("path":"/a/Felvétel.mov")"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("mediaPath":"/tmp/Vide\u0000f3k/k\u0000e9p.png")"), std::string::npos) << text;

    // A stray NUL, or one before anything but a byte above 0x7F, is no escape.
    for (const std::string& stored :
         {std::string("/a\0", 3), std::string("/a\0e", 4), std::string("/a\0" "7f", 5), std::string("/a\0zz.mov", 9)}) {
        EXPECT_THROW(decodeJson<PathText>(Json(stored)), DecodingError) << stored.size();
    }
    EXPECT_EQ(decodeJson<PathText>(Json(std::string("/a\0E9", 5))).value, "/a\xe9");
}

TEST(PathBytes, PackagesAndSideFilesOfSuchMediaAreWrittenAndReadBack)
{
    TempFolder temp;
    const fs::path folder = temp.path / "Vide\xf3k";
    const fs::path movie = makeFile(folder / "caf\xe9.mov", "movie");
    const fs::path camera = makeFile(temp.path / "elsewhere" / "kamera \xe9.mov", "camera");

    ProjectFile file = projectOf(movie.string(), {trackOf(movie.string()), trackOf(camera.string())});
    // Names made from such files: shown with U+FFFD, not the reason to lose the edit.
    file.info.project->tracks[1].name = "kamera \xe9";
    const fs::path package = temp.path / "P\xe9.vdlproj";
    const auto copies = file.writePackage(package, true);
    EXPECT_EQ(copies.at(camera.string()), (package / "Media" / "kamera \xe9.mov").string());

    const ProjectFile read = ProjectFile::read(package);
    EXPECT_EQ(read.recording, (package / "Media" / "caf\xe9.mov").string());
    EXPECT_EQ(read.info.project->tracks[1].media.path, copies.at(camera.string()));
    EXPECT_EQ(read.info.project->tracks[1].name, "kamera \xef\xbf\xbd");
    EXPECT_EQ(read.recordingURL(package), fs::path(read.recording));

    RecordingInfo info = file.info;
    ASSERT_NO_THROW(info.write(movie));
    info.project->tracks[1].name = "kamera \xef\xbf\xbd";
    EXPECT_EQ(RecordingInfo::load(movie), info);
}

TEST(SideFileWrite, WriteSaysWhatSaveLeavesUnsaid)
{
    TempFolder temp;
    const fs::path movie = temp.path / "rec.mov";
    fs::create_directories(RecordingInfo::sideFileURL(movie));  // a folder where the side file goes
    RecordingInfo info;
    info.audioTracks = {"Rendszerhang"};
    EXPECT_NO_THROW(info.save(movie));
    EXPECT_THROW(info.write(movie), std::exception);
}
