// The summary line of the editing scenarios and the working copy they edit
// instead of the recording.

#include "Ondexa/model/Files.h"
#include "Ondexa/model/RecordingInfo.h"
#include "Ondexa/selftest/ScenarioSupport.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <fstream>

namespace ondexa::selftest {
namespace {

namespace fs = std::filesystem;
using ondexa::testing::TempFolder;

Clip clipAt(double start, double duration, int actions = 0)
{
    Clip clip;
    clip.start = start;
    clip.duration = duration;
    for (int i = 0; i < actions; ++i) clip.actions.push_back(TrackAction{});
    return clip;
}

Track trackWith(std::string name, std::vector<Clip> clips)
{
    Track track;
    track.name = std::move(name);
    track.clips = std::move(clips);
    return track;
}

void writeText(const fs::path& file, const std::string& text)
{
    std::ofstream(file, std::ios::binary) << text;
}

TEST(SelftestScenarioSummary, WritesEveryTrackAndClipInListOrder)
{
    const std::vector<Track> picture{trackWith("Képernyő", {clipAt(0, 3), clipAt(5, 15)}),
                                     trackWith("Rendszerhang", {clipAt(0, 20.05)})};
    struct Case {
        const char* name;
        std::vector<Track> tracks;
        int decimals;
        bool countActions;
        std::string expected;
    };
    const Case cases[] = {
        {"no tracks", {}, 1, false, ""},
        {"a track without clips", {trackWith("kep", {})}, 1, false, "kep: "},
        {"empty track between others", {trackWith("kep", {}), trackWith("A", {clipAt(1, 2)})}, 1, false,
         "kep:  | A: 1.0-3.0"},
        {"one decimal", picture, 1, false, "Képernyő: 0.0-3.0,5.0-20.0 | Rendszerhang: 0.0-20.1"},
        {"two decimals", picture, 2, false, "Képernyő: 0.00-3.00,5.00-20.00 | Rendszerhang: 0.00-20.05"},
        {"clip order as stored, not by start", {trackWith("A", {clipAt(12, 3), clipAt(0, 20)})}, 1, false,
         "A: 12.0-15.0,0.0-20.0"},
        {"actions counted", {trackWith("A", {clipAt(1, 2, 2), clipAt(3, 1)})}, 1, true, "A: 1.0-3.0*2,3.0-4.0"},
        {"actions left out", {trackWith("A", {clipAt(1, 2, 2)})}, 1, false, "A: 1.0-3.0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(timelineSummary(c.tracks, c.decimals, c.countActions), c.expected) << c.name;
}

TEST(SelftestScenarioWorkingCopy, IsNamedAfterTheTestWithTheSourceExtension)
{
    EXPECT_EQ(workingCopyPath("/out", "move-source", "/rec/felvétel.mp4"), fs::path("/out/move-source.mp4"));
    EXPECT_EQ(workingCopyPath("/out", "gap-source", "/rec/a.b.mov"), fs::path("/out/gap-source.mov"));
    EXPECT_EQ(workingCopyPath("/out", "transition-source", "/rec/plain"), fs::path("/out/transition-source."));
}

TEST(SelftestScenarioWorkingCopy, SameFileSeesThroughLinksAndDots)
{
    TempFolder temp;
    const fs::path recording = temp.path / "move-source.mp4";
    writeText(recording, "movie");
    fs::create_directories(temp.path / "sub");
    fs::create_directory_symlink(temp.path, temp.path / "again");
    fs::create_symlink(recording, temp.path / "link.mp4");
    writeText(temp.path / "other.mp4", "movie");

    struct Case {
        fs::path a, b;
        bool same;
    };
    const Case cases[] = {
        {recording, recording, true},
        {recording, temp.path / "sub" / ".." / "move-source.mp4", true},
        {recording, temp.path / "again" / "move-source.mp4", true},
        {temp.path / "link.mp4", recording, true},
        {recording, temp.path / "other.mp4", false},
        {recording, temp.path / "missing.mp4", false},
        {temp.path / "missing.mp4", temp.path / "sub" / ".." / "missing.mp4", true},
    };
    for (const Case& c : cases) EXPECT_EQ(sameFile(c.a, c.b), c.same) << c.a << " / " << c.b;

    // A working copy that is the recording itself is never replaced.
    EXPECT_FALSE(replaceWithCopy(temp.path / "link.mp4", temp.path / "again" / "move-source.mp4"));
    EXPECT_EQ(readFile(recording), "movie");
    EXPECT_TRUE(replaceWithCopy(recording, temp.path / "copy.mp4"));
    EXPECT_EQ(readFile(temp.path / "copy.mp4"), "movie");
}

TEST(SelftestScenarioWorkingCopy, SideFileStartsWithoutTheEditingState)
{
    TempFolder temp;
    const fs::path source = temp.path / "source.mp4";
    const fs::path working = temp.path / "work.mp4";

    RecordingInfo info;
    info.audioTracks = {"Rendszerhang"};
    info.clicks = std::vector<std::vector<double>>{{1.0, 0.5, 0.5, 1}};
    CursorStyle style;
    style.scale = 2.5;
    info.cursorStyle = style;
    info.project = Project{};
    info.save(source);

    writeFreshSideFile(source, working);
    const auto copied = RecordingInfo::load(working);
    ASSERT_TRUE(copied);
    EXPECT_FALSE(copied->project);
    RecordingInfo expected = info;
    expected.project.reset();
    EXPECT_EQ(*copied, expected);
    // The source's own side file is only read.
    EXPECT_EQ(RecordingInfo::load(source), info);
}

TEST(SelftestScenarioWorkingCopy, NoReadableSideFileWritesNothing)
{
    TempFolder temp;
    const fs::path working = temp.path / "work.mp4";
    writeText(RecordingInfo::sideFileURL(working), "left by an earlier run");

    const fs::path missing = temp.path / "bare.mp4";
    writeFreshSideFile(missing, working);
    const fs::path broken = temp.path / "broken.mp4";
    writeText(RecordingInfo::sideFileURL(broken), "{ not json");
    writeFreshSideFile(broken, working);

    EXPECT_EQ(readFile(RecordingInfo::sideFileURL(working)), "left by an earlier run");
}

} // namespace
} // namespace ondexa::selftest
