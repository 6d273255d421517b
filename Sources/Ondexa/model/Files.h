#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace ondexa {

// The whole content of a file. Throws OndexaError naming the file and the
// system's reason.
std::string readFile(const std::filesystem::path& path);

// Replaces the file with the bytes, or leaves the old file as it was: the
// bytes go to a new temporary file in the same folder, which is flushed to
// disk and then renamed over the target. Throws OndexaError on failure.
void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// True when anything stands at the path: a file, a folder, a device, even a
// symbolic link that points nowhere.
bool entryExists(const std::filesystem::path& path);

} // namespace ondexa
