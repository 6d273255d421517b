#pragma once

#include <filesystem>
#include <string_view>

namespace ondexa {

// $XDG_STATE_HOME/Vendalum/Vendalum.log, by default
// ~/.local/state/Vendalum/Vendalum.log.
std::filesystem::path logFilePath();

// Appends "2025-01-31 13:05:09 +0000 message\n" (UTC) to the log file,
// creating its folders when missing. Every failure is ignored.
void logLine(std::string_view message);

} // namespace ondexa
