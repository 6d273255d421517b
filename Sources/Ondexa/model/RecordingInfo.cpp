#include "RecordingInfo.h"

#include "Files.h"

namespace ondexa {

namespace fs = std::filesystem;

fs::path RecordingInfo::sideFileURL(const fs::path& movie)
{
    return fs::path(movie).replace_extension("ondexa.json");
}

void RecordingInfo::write(const fs::path& movie) const
{
    writeFileAtomically(sideFileURL(movie), dumpJson(encodeJson(*this)));
}

void RecordingInfo::save(const fs::path& movie) const
{
    try {
        write(movie);
    } catch (...) {
        // Dropped by design: the recorder goes on without it.
    }
}

std::optional<RecordingInfo> RecordingInfo::load(const fs::path& movie)
{
    try {
        return decodeJson<RecordingInfo>(parseJson(readFile(sideFileURL(movie))));
    } catch (...) {
        return std::nullopt;
    }
}

std::vector<ClickEvent> RecordingInfo::clickEvents() const
{
    std::vector<ClickEvent> result;
    if (!clicks) return result;
    for (const auto& a : *clicks)
        if (a.size() >= 3) result.push_back({a[0], a[1], a[2], a.size() >= 4 && a[3] > 0});
    return result;
}

std::vector<CursorSample> RecordingInfo::cursorSamples() const
{
    std::vector<CursorSample> result;
    if (!cursor) return result;
    for (const auto& a : *cursor)
        if (a.size() == 3) result.push_back({a[0], a[1], a[2]});
    return result;
}

std::vector<std::vector<double>> RecordingInfo::clickArrays(const std::vector<ClickEvent>& clicks)
{
    std::vector<std::vector<double>> result;
    result.reserve(clicks.size());
    for (const auto& c : clicks) result.push_back({c.t, c.x, c.y, c.right ? 1.0 : 0.0});
    return result;
}

std::vector<std::vector<double>> RecordingInfo::cursorArrays(const std::vector<CursorSample>& samples)
{
    std::vector<std::vector<double>> result;
    result.reserve(samples.size());
    for (const auto& s : samples) result.push_back({s.t, s.x, s.y});
    return result;
}

RecordingInfo JsonCoding<RecordingInfo>::decode(const Json& json, const JsonPath& path)
{
    const ObjectReader in(json, path);
    RecordingInfo info;
    info.audioTracks = in.required<std::vector<std::string>>("audioTracks");
    info.segments = in.optional<std::vector<std::vector<double>>>("segments");
    info.volumes = in.optional<std::vector<float>>("volumes");
    info.leveling = in.optional<std::vector<bool>>("leveling");
    info.clicks = in.optional<std::vector<std::vector<double>>>("clicks");
    info.showClicks = in.optional<bool>("showClicks");
    info.overlays = in.optional<std::vector<Overlay>>("overlays");
    info.project = in.optional<Project>("project");
    info.cursor = in.optional<std::vector<std::vector<double>>>("cursor");
    info.cursorStyle = in.optional<CursorStyle>("cursorStyle");
    return info;
}

Json JsonCoding<RecordingInfo>::encode(const RecordingInfo& value, const JsonPath& path)
{
    ObjectWriter out(path);
    out.put("audioTracks", value.audioTracks);
    out.put("segments", value.segments);
    out.put("volumes", value.volumes);
    out.put("leveling", value.leveling);
    out.put("clicks", value.clicks);
    out.put("showClicks", value.showClicks);
    out.put("overlays", value.overlays);
    out.put("project", value.project);
    out.put("cursor", value.cursor);
    out.put("cursorStyle", value.cursorStyle);
    return out.take();
}

} // namespace ondexa
