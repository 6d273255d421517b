// Small services: atomic writes, the log, time text and recording paths.

#include "Ondexa/model/Files.h"
#include "Ondexa/model/Log.h"
#include "Ondexa/model/OndexaError.h"
#include "Ondexa/model/Paths.h"
#include "Ondexa/model/RecordingInfo.h"
#include "Ondexa/model/TimeText.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <limits>
#include <optional>
#include <regex>

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

std::vector<std::string> entries(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(TimeText, Forms)
{
    EXPECT_EQ(formatTime(0), "00:00");
    EXPECT_EQ(formatTime(307), "05:07");
    EXPECT_EQ(formatTime(307.25, true), "05:07.25");
    EXPECT_EQ(formatTime(59.999, true), "00:59.99");
    EXPECT_EQ(formatTime(3599.9), "59:59");
    EXPECT_EQ(formatTime(3600), "1:00:00");
    EXPECT_EQ(formatTime(3723), "1:02:03");
    EXPECT_EQ(formatTime(36000), "10:00:00");
    EXPECT_EQ(formatTime(-3), "00:00");
    EXPECT_EQ(formatTime(std::nan(""), true), "00:00.00");
    EXPECT_EQ(formatTime(std::numeric_limits<double>::infinity(), true), "00:00.00");
    EXPECT_EQ(formatTime(-std::numeric_limits<double>::infinity()), "00:00");
}

TEST(TimeText, HugeValuesAreClampedNotUndefined)
{
    EXPECT_EQ(formatTime(1e300, true), "2562047788015215:13:04.00");
    EXPECT_EQ(formatTime(std::ldexp(1.0, 63)), formatTime(1e300));
    EXPECT_EQ(formatTime(std::numeric_limits<double>::max()), formatTime(1e300));
}

TEST(Files, AtomicWriteReplacesOrLeavesTheOldFile)
{
    TempFolder temp;
    const fs::path file = temp.path / "adat.json";
    writeFileAtomically(file, "első");
    writeFileAtomically(file, "második");
    EXPECT_EQ(readFile(file), "második");
    EXPECT_EQ(entries(temp.path), std::vector<std::string>{"adat.json"});

    // A write that fails halfway (the file size limit) leaves the old
    // content and no temporary file.
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

    try {
        writeFileAtomically(temp.path / "nincs" / "a.json", "x");
        FAIL();
    } catch (const OndexaError& e) {
        EXPECT_TRUE(e.message.starts_with("A fájl nem írható: " + (temp.path / "nincs" / "a.json").string()));
        EXPECT_STREQ(e.what(), e.message.c_str());
    }
    EXPECT_THROW(readFile(temp.path / "nincs.json"), OndexaError);
    EXPECT_THROW(readFile(temp.path / "mappa"), OndexaError);
}

TEST(Log, LinesAreAppendedWithAUtcStamp)
{
    TempHome home;
    EXPECT_EQ(logFilePath(), home.path / ".local/state/Vendalum/Vendalum.log");
    {
        EnvVar relative("XDG_STATE_HOME", "relatív");
        EXPECT_EQ(logFilePath(), home.path / ".local/state/Vendalum/Vendalum.log");
    }

    EnvVar state("XDG_STATE_HOME", (home.path / "állapot").c_str());
    const fs::path log = home.path / "állapot" / "Vendalum" / "Vendalum.log";
    EXPECT_EQ(logFilePath(), log);
    logLine("HIBA: első");
    logLine("Felvétel mentve: /a.mov · 30 kép/mp");
    const std::string text = readFile(log);
    const std::regex form(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \+0000 HIBA: első\n)"
                          R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \+0000 Felvétel mentve: /a\.mov · 30 kép/mp\n)");
    EXPECT_TRUE(std::regex_match(text, form)) << text;

    // A log that can't be written is ignored.
    writeFileAtomically(home.path / "fájl", "x");
    EnvVar blocked("XDG_STATE_HOME", (home.path / "fájl").c_str());
    EXPECT_NO_THROW(logLine("elveszik"));
}

TEST(Paths, RecordingsFolderFollowsUserDirs)
{
    TempHome home;
    EXPECT_EQ(Paths::recordingsFolder(), home.path / "Videos" / "Vendalum");

    const fs::path dirs = home.path / ".config" / "user-dirs.dirs";
    fs::create_directories(dirs.parent_path());
    writeFileAtomically(dirs, "# comment\nXDG_DESKTOP_DIR=\"$HOME/Asztal\"\nXDG_VIDEOS_DIR=\"$HOME/Videók\"\n");
    EXPECT_EQ(Paths::recordingsFolder(), home.path / "Videók" / "Vendalum");
    writeFileAtomically(dirs, "XDG_VIDEOS_DIR=\"/srv/filmek\"\n");
    EXPECT_EQ(Paths::recordingsFolder(), fs::path("/srv/filmek/Vendalum"));
    writeFileAtomically(dirs, "XDG_VIDEOS_DIR=\"Mozi\"\n");
    EXPECT_EQ(Paths::recordingsFolder(), home.path / "Mozi" / "Vendalum");

    EnvVar config("XDG_CONFIG_HOME", (home.path / "máshol").c_str());
    EXPECT_EQ(Paths::recordingsFolder(), home.path / "Videos" / "Vendalum");
    fs::create_directories(home.path / "máshol");
    writeFileAtomically(home.path / "máshol" / "user-dirs.dirs", "  XDG_VIDEOS_DIR = \"$HOME/V\"\n");
    EXPECT_EQ(Paths::recordingsFolder(), home.path / "V" / "Vendalum");
}

TEST(Paths, OldFolderIsMovedOnlyWhenTheNewOneIsMissing)
{
    TempHome home;
    const fs::path movies = home.path / "Videos";
    writeFileAtomically((fs::create_directories(movies / "Ondexa"), movies / "Ondexa" / "a.mov"), "a");
    EXPECT_EQ(Paths::recordingsFolder(), movies / "Vendalum");
    EXPECT_EQ(entries(movies), std::vector<std::string>{"Vendalum"});
    EXPECT_EQ(readFile(movies / "Vendalum" / "a.mov"), "a");

    fs::create_directories(movies / "Ondexa");
    EXPECT_EQ(Paths::recordingsFolder(), movies / "Vendalum");
    EXPECT_EQ(entries(movies), (std::vector<std::string>{"Ondexa", "Vendalum"}));
}

TEST(Paths, NewRecordingNamesNeverReuseAFile)
{
    TempHome home;
    const fs::path folder = home.path / "Videos" / "Vendalum";
    const std::regex form(R"(Felvétel \d{4}-\d\d-\d\d \d\d\.\d\d\.\d\d\.mov)");
    const fs::path first = Paths::newRecordingURL();
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(first.parent_path(), folder);
    EXPECT_TRUE(std::regex_match(first.filename().string(), form)) << first;

    // Within one second the names count up past movies and side files alike.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const fs::path movie = Paths::newRecordingURL();
        const std::string stem = movie.stem().string();
        writeFileAtomically(movie, "");
        RecordingInfo{}.save(fs::path(folder / (stem + " 2.mov")));
        const fs::path third = Paths::newRecordingURL();
        if (third.filename().string().substr(0, stem.size()) != stem) continue;  // a new second began
        EXPECT_EQ(third, folder / (stem + " 3.mov"));
        return;
    }
    FAIL() << "the clock never stayed within one second";
}

TEST(Paths, NewRecordingFailsWhenTheFolderCantBeMade)
{
    TempHome home;
    writeFileAtomically(home.path / "Videos", "nem mappa");
    try {
        Paths::newRecordingURL();
        FAIL();
    } catch (const OndexaError& e) {
        EXPECT_TRUE(e.message.starts_with("A felvételek mappája nem hozható létre: ")) << e.message;
    }
}
