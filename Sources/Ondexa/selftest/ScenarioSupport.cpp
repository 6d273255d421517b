#include "Ondexa/selftest/ScenarioSupport.h"

#include "Ondexa/model/RecordingInfo.h"
#include "Ondexa/selftest/LogText.h"

#include <system_error>

namespace ondexa::selftest {

namespace fs = std::filesystem;

std::string timelineSummary(const std::vector<Track>& tracks, int decimals, bool countActions)
{
    std::string text;
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        if (t > 0) text += " | ";
        text += tracks[t].name + ": ";
        const auto& clips = tracks[t].clips;
        for (std::size_t c = 0; c < clips.size(); ++c) {
            if (c > 0) text += ",";
            text += fixed(clips[c].start, decimals) + "-" + fixed(clips[c].start + clips[c].duration, decimals);
            if (countActions && !clips[c].actions.empty()) text += "*" + std::to_string(clips[c].actions.size());
        }
    }
    return text;
}

fs::path workingCopyPath(const fs::path& folder, const std::string& stem, const fs::path& source)
{
    std::string extension = source.extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    return folder / (stem + "." + extension);
}

bool replaceWithCopy(const fs::path& source, const fs::path& working)
{
    if (sameFile(source, working)) return false;
    std::error_code ignored;
    fs::remove(working, ignored);
    fs::copy_file(source, working, fs::copy_options::overwrite_existing, ignored);
    return true;
}

void writeFreshSideFile(const fs::path& source, const fs::path& working)
{
    std::optional<RecordingInfo> info = RecordingInfo::load(source);
    if (!info) return;
    info->project.reset();
    info->save(working);
}

} // namespace ondexa::selftest
