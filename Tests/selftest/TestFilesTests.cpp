// The tests' own files: an output that would write over what a test reads is
// found however it is named, and what is set aside comes back.

#include "Ondexa/model/Files.h"
#include "Ondexa/selftest/TestFiles.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

namespace ondexa::selftest {
namespace {

namespace fs = std::filesystem;
using ondexa::testing::entries;
using ondexa::testing::TempFolder;

void writeText(const fs::path& file, const std::string& text)
{
    std::ofstream(file, std::ios::binary) << text;
}

TEST(SelftestFiles, AnOutputThatIsWhatTheTestReadsIsFoundThroughEveryName)
{
    TempFolder temp;
    const fs::path in = temp.path / "in";
    const fs::path out = temp.path / "out";
    fs::create_directories(in);
    fs::create_directories(out / "sub");
    const fs::path recording = in / "F.mov";
    writeText(recording, "movie");
    writeText(out / "dissolve.mp4", "movie");  // the recording copied under an output's name
    fs::create_hard_link(recording, out / "max.m4a");
    fs::create_symlink(recording, out / "fade.mp4");
    fs::create_directory_symlink(in, temp.path / "in-again");
    writeText(out / "gap-source.mov", "an earlier run's copy");
    fs::create_symlink(out / "gap-source.mov", out / "hezag.vdlproj");
    fs::create_directories(out / "teszt.vdlproj" / "Media");

    struct Case {
        const char* name;
        TestFiles files;
        std::optional<std::string> clash;
    };
    const Case cases[] = {
        {"all apart", {{recording}, out / "move-source.mov", {out / "move.mp4"}}, std::nullopt},
        {"the source itself", {{out / "dissolve.mp4"}, out / "transition-source.mp4",
                               {out / "wipe.mp4", out / "dissolve.mp4"}},
         "a forrás és a kimenet (dissolve.mp4) ugyanaz"},
        {"through . and ..", {{out / "dissolve.mp4"}, std::nullopt, {out / "sub" / ".." / "." / "dissolve.mp4"}},
         "a forrás és a kimenet (dissolve.mp4) ugyanaz"},
        {"a hard link", {{recording}, std::nullopt, {out / "matrix.mp4", out / "max.m4a"}},
         "a forrás és a kimenet (max.m4a) ugyanaz"},
        {"a link to the source", {{recording}, std::nullopt, {out / "fade.mp4"}},
         "a forrás és a kimenet (fade.mp4) ugyanaz"},
        {"the source through a linked folder", {{temp.path / "in-again" / "F.mov"}, std::nullopt, {recording}},
         "a forrás és a kimenet (F.mov) ugyanaz"},
        {"a second source", {{recording, out / "kep.png"}, std::nullopt, {out / "kep.png"}},
         "a forrás és a kimenet (kep.png) ugyanaz"},
        {"the working copy is the source", {{out / "dissolve.mp4"}, out / "dissolve.mp4", {out / "zoom.mp4"}},
         "a forrás és a munkapéldány ugyanaz"},
        {"a working copy not made yet", {{recording}, out / "move-source.mov", {out / "." / "move-source.mov"}},
         "a munkapéldány és a kimenet (move-source.mov) ugyanaz"},
        {"a link to the working copy", {{recording}, out / "gap-source.mov", {out / "hezag.vdlproj"}},
         "a munkapéldány és a kimenet (hezag.vdlproj) ugyanaz"},
        {"a package that is the source", {{out / "teszt.vdlproj" / ""}, std::nullopt, {out / "teszt.vdlproj"}},
         "a forrás és a kimenet (teszt.vdlproj) ugyanaz"},
        {"a package of the same name elsewhere", {{out / "teszt.vdlproj"}, std::nullopt, {in / "teszt.vdlproj"}},
         std::nullopt},
        {"nothing read", {{}, std::nullopt, {out / "window0.png"}}, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(clashOf(c.files), c.clash) << c.name;
}

TEST(SelftestFiles, SetAsideComesBackHoweverItsOwnerEnds)
{
    TempFolder temp;
    const fs::path movie = temp.path / "F.mov";
    writeText(movie, "movie");
    writeText(temp.path / "F.mov.aside", "left by an earlier run");
    {
        SetAside aside(movie);
        ASSERT_TRUE(aside.aside());
        EXPECT_EQ(*aside.aside(), temp.path / "F.mov.aside1");  // no file is replaced by the move
        EXPECT_FALSE(fs::exists(movie));
        EXPECT_EQ(readFile(temp.path / "F.mov.aside"), "left by an earlier run");
    }
    EXPECT_EQ(readFile(movie), "movie");

    // An exception that unwinds the owner.
    try {
        SetAside aside(movie);
        throw std::runtime_error("a test failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(readFile(movie), "movie");

    // An owner that is never destroyed (an exit that skips the quit road):
    // the program's end puts everything back.
    auto kept = std::make_unique<SetAside>(movie);
    SetAside second(temp.path / "F.mov.aside");
    EXPECT_EQ(entries(temp.path), (std::vector<std::string>{"F.mov.aside.aside", "F.mov.aside1"}));
    putBackEverythingAside();
    EXPECT_EQ(entries(temp.path), (std::vector<std::string>{"F.mov", "F.mov.aside"}));
    EXPECT_FALSE(kept->aside());
    kept.reset();
    EXPECT_EQ(readFile(movie), "movie");
}

TEST(SelftestFiles, SetAsideNeverReplacesWhatTookItsPlace)
{
    TempFolder temp;
    const fs::path movie = temp.path / "F.mov";
    writeText(movie, "movie");
    {
        SetAside aside(movie);
        writeText(movie, "written meanwhile");
    }
    EXPECT_EQ(readFile(movie), "written meanwhile");
    EXPECT_EQ(readFile(temp.path / "F.mov.aside"), "movie");

    // Nothing there: nothing moved, nothing made.
    {
        SetAside missing(temp.path / "nincs.png");
        EXPECT_FALSE(missing.aside());
    }
    EXPECT_EQ(entries(temp.path), (std::vector<std::string>{"F.mov", "F.mov.aside"}));
}

} // namespace
} // namespace ondexa::selftest
