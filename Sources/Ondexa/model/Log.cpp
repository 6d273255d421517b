#include "Log.h"

#include "Paths.h"

#include <cstdio>
#include <ctime>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace ondexa {

std::filesystem::path logFilePath()
{
    return xdgFolder("XDG_STATE_HOME", ".local/state") / "Vendalum" / "Vendalum.log";
}

void logLine(std::string_view message)
{
    try {
        const auto path = logFilePath();
        std::error_code ignored;
        std::filesystem::create_directories(path.parent_path(), ignored);

        const std::time_t now = std::time(nullptr);
        std::tm utc{};
        gmtime_r(&now, &utc);
        // snprintf's %d never groups digits, whatever the locale.
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d +0000 ", utc.tm_year + 1900,
                      utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
        std::string line = stamp;
        line.append(message);
        line += '\n';

        // One write on an O_APPEND descriptor keeps each line whole.
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) return;
        [[maybe_unused]] const ssize_t written = ::write(fd, line.data(), line.size());
        ::close(fd);
    } catch (...) {
    }
}

} // namespace ondexa
