#pragma once

// A fresh folder for one test, removed with its content at the end.

#include "Ondexa/model/Uuid.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace ondexa::testing {

struct TempFolder {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("ondexa-test-" + Uuid::random().string());
    TempFolder() { std::filesystem::create_directories(path); }
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
};

// The names in a folder, sorted.
inline std::vector<std::string> entries(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace ondexa::testing
