// Small services: atomic writes, the log, time text and recording paths.

#include "Ondexa/model/Files.h"
#include "Ondexa/model/Log.h"
#include "Ondexa/model/OndexaError.h"
#include "Ondexa/model/Paths.h"
#include "Ondexa/model/RecordingInfo.h"
#include "Ondexa/model/TimeText.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <limits>
#include <optional>
#include <regex>

using namespace ondexa;
using ondexa::testing::entries;
using ondexa::testing::TempFolder;
namespace fs = std::filesystem;

namespace {

// Sets (or, with null, unsets) an environment variable for one scope.
class EnvVar {
public:
    EnvVar(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name)) old_ = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~EnvVar() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// HOME in a temporary folder, with no XDG variables from the machine.
struct TempHome : TempFolder {
    EnvVar home{"HOME", path.c_str()};
    EnvVar config{"XDG_CONFIG_HOME", nullptr};
    EnvVar state{"XDG_STATE_HOME", nullptr};
};

template <class Action> void expectError(Action action, const std::string& start)
{
    try {
        action();
        ADD_FAILURE() << "no error, wanted " << start;
    } catch (const OndexaError& e) {
        EXPECT_TRUE(e.message.starts_with(start)) << e.message;
        EXPECT_STREQ(e.what(), e.message.c_str());
    }
}

} // namespace

TEST(TimeText, FormsAndOddValues)
{
    constexpr double infinity = std::numeric_limits<double>::infinity();
    struct Case {
        double seconds;
        bool fraction;
        const char* text;
    };
    for (const Case& c : {Case{0, false, "00:00"}, Case{307.25, false, "05:07"}, Case{307.25, true, "05:07.25"},
                          Case{59.999, true, "00:59.99"}, Case{3599.9, false, "59:59"}, Case{3600, false, "1:00:00"},
                          Case{3723, false, "1:02:03"}, Case{36000, false, "10:00:00"}, Case{-3, false, "00:00"},
                          Case{std::nan(""), true, "00:00.00"}, Case{infinity, true, "00:00.00"},
                          Case{-infinity, false, "00:00"},
                          // Huge values are clamped, not undefined.
                          Case{1e300, true, "2562047788015215:13:04.00"},
                          Case{std::ldexp(1.0, 63), false, "2562047788015215:13:04"},
                          Case{std::numeric_limits<double>::max(), false, "2562047788015215:13:04"}})
        EXPECT_EQ(formatTime(c.seconds, c.fraction), c.text) << c.seconds;
}

TEST(Files, AtomicWriteReplacesOrLeavesTheOldFile)
{
    TempFolder temp;
    const fs::path file = temp.path / "adat.json";
    writeFileAtomically(file, "első");
    writeFileAtomically(file, "második");
    EXPECT_EQ(readFile(file), "második");

    // A write that fails halfway (the file size limit) leaves the old content and no temporary file.
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit oldLimit{};
    getrlimit(RLIMIT_FSIZE, &oldLimit);
    rlimit small = oldLimit;
    small.rlim_cur = 4;
    setrlimit(RLIMIT_FSIZE, &small);
    EXPECT_THROW(writeFileAtomically(file, "túl hosszú tartalom"), OndexaError);
    setrlimit(RLIMIT_FSIZE, &oldLimit);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(readFile(file), "második");
    EXPECT_EQ(entries(temp.path), std::vector<std::string>{"adat.json"});

    // A folder in the way: the rename fails, the folder stays.
    fs::create_directories(temp.path / "mappa" / "belül");
    EXPECT_THROW(writeFileAtomically(temp.path / "mappa", "x"), OndexaError);
    EXPECT_EQ(entries(temp.path), (std::vector<std::string>{"adat.json", "mappa"}));

    const fs::path missing = temp.path / "nincs" / "a.json";
    expectError([&] { writeFileAtomically(missing, "x"); }, "A fájl nem írható: " + missing.string());
    EXPECT_THROW(readFile(temp.path / "nincs.json"), OndexaError);
    EXPECT_THROW(readFile(temp.path / "mappa"), OndexaError);
}

TEST(Log, LinesAreAppendedWithAUtcStamp)
{
    TempHome home;
    logLine("HIBA: első");
    const std::string text = readFile(home.path / ".local/state/Vendalum/Vendalum.log");
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \+0000 HIBA: első\n)"))) << text;
}

TEST(Paths, RecordingsFolderTakesOverTheOldOneAndFollowsUserDirs)
{
    TempHome home;
    const fs::path movies = home.path / "Videos";
    fs::create_directories(movies / "Ondexa");
    writeFileAtomically(movies / "Ondexa" / "a.mov", "a");
    EXPECT_EQ(Paths::recordingsFolder(), movies / "Vendalum");
    EXPECT_EQ(readFile(movies / "Vendalum" / "a.mov"), "a");

    const fs::path dirs = home.path / ".config" / "user-dirs.dirs";
    fs::create_directories(dirs.parent_path());
    writeFileAtomically(dirs, "# comment\nXDG_VIDEOS_DIR=\"$HOME/Videók\"\n");
    EXPECT_EQ(Paths::recordingsFolder(), home.path / "Videók" / "Vendalum");
}

TEST(Paths, NewRecordingNamesNeverReuseAFile)
{
    TempHome home;
    const fs::path folder = home.path / "Videos" / "Vendalum";
    const fs::path first = Paths::newRecordingURL();
    EXPECT_EQ(first.parent_path(), folder);
    EXPECT_TRUE(std::regex_match(first.filename().string(),
                                 std::regex(R"(Felvétel \d{4}-\d\d-\d\d \d\d\.\d\d\.\d\d\.mov)")))
        << first;

    // Within one second the names count up past movies and side files alike.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const fs::path movie = Paths::newRecordingURL();
        const std::string stem = movie.stem().string();
        writeFileAtomically(movie, "");
        const fs::path second = Paths::newRecordingURL();
        RecordingInfo{}.save(second);
        const fs::path third = Paths::newRecordingURL();
        if (!third.filename().string().starts_with(stem)) continue;  // a new second began
        EXPECT_EQ(second, folder / (stem + " 2.mov"));
        EXPECT_EQ(third, folder / (stem + " 3.mov"));
        return;
    }
    FAIL() << "the clock never stayed within one second";
}

TEST(Paths, NewRecordingFailsWhenTheFolderCantBeMade)
{
    TempHome home;
    writeFileAtomically(home.path / "Videos", "nem mappa");
    expectError([] { Paths::newRecordingURL(); }, "A felvételek mappája nem hozható létre: ");
}
