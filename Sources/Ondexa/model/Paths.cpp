#include "Paths.h"

#include "Files.h"
#include "OndexaError.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <system_error>

#include <pwd.h>
#include <unistd.h>

namespace ondexa {

namespace fs = std::filesystem;

namespace {

// XDG_VIDEOS_DIR from user-dirs.dirs; empty when it is not set there. The
// file is shell syntax: XDG_VIDEOS_DIR="$HOME/Videos"; the last line wins.
fs::path configuredVideosFolder()
{
    std::ifstream file(xdgFolder("XDG_CONFIG_HOME", ".config") / "user-dirs.dirs");
    const std::string key = "XDG_VIDEOS_DIR";
    fs::path result;
    std::string line;
    while (std::getline(file, line)) {
        const auto begin = line.find_first_not_of(" \t");
        if (begin == std::string::npos || line.compare(begin, key.size(), key) != 0) continue;
        auto rest = line.find_first_not_of(" \t", begin + key.size());
        if (rest == std::string::npos || line[rest] != '=') continue;
        rest = line.find_first_not_of(" \t", rest + 1);
        if (rest == std::string::npos || line[rest] != '"') continue;
        const auto close = line.rfind('"');
        if (close <= rest) continue;
        std::string value = line.substr(rest + 1, close - rest - 1);
        if (value.starts_with("$HOME") && (value.size() == 5 || value[5] == '/'))
            value = homeFolder().string() + value.substr(5);
        if (value.empty()) continue;
        result = fs::path(value).is_absolute() ? fs::path(value) : homeFolder() / value;
    }
    return result;
}

fs::path videosFolder()
{
    const fs::path configured = configuredVideosFolder();
    return configured.empty() ? homeFolder() / "Videos" : configured;
}

} // namespace

fs::path homeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return "/";
}

fs::path xdgFolder(const char* variable, const char* fallback)
{
    // Relative values are invalid by the XDG rules and are ignored.
    if (const char* value = std::getenv(variable); value && *value == '/') return value;
    return homeFolder() / fallback;
}

fs::path Paths::recordingsFolder()
{
    const fs::path movies = videosFolder();
    const fs::path folder = movies / "Vendalum";
    const fs::path old = movies / "Ondexa";
    std::error_code ignored;
    if (!entryExists(folder) && fs::is_directory(old, ignored)) fs::rename(old, folder, ignored);
    return folder;
}

fs::path Paths::newRecordingURL()
{
    const fs::path folder = recordingsFolder();
    std::error_code error;
    fs::create_directories(folder, error);
    if (!error && !fs::is_directory(folder, error)) error = std::make_error_code(std::errc::not_a_directory);
    if (error)
        throw OndexaError("A felvételek mappája nem hozható létre: " + folder.string() + " (" + error.message()
                          + ").");

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "Felvétel %04d-%02d-%02d %02d.%02d.%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);

    // Two recordings within one second must not share a movie or side file.
    for (int n = 1;; ++n) {
        const std::string name = n == 1 ? std::string(stamp) : std::string(stamp) + " " + std::to_string(n);
        const fs::path movie = folder / (name + ".mov");
        if (!entryExists(movie) && !entryExists(folder / (name + ".ondexa.json"))) return movie;
    }
}

} // namespace ondexa
