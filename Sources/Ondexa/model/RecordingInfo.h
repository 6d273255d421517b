#pragma once

// The side file beside every recorded movie: its audio track names, the
// clicks and pointer path recorded with it, the pointer style and, once it
// has been edited without a project, the editing state.

#include "JsonCoding.h"
#include "Overlays.h"
#include "Timeline.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ondexa {

struct RecordingInfo {
    std::vector<std::string> audioTracks;  // in the movie's audio track order
    // segments, volumes, leveling and overlays: an older single-recording
    // edit; only read (and written back as read).
    std::optional<std::vector<std::vector<double>>> segments;
    std::optional<std::vector<float>> volumes;
    std::optional<std::vector<bool>> leveling;
    std::optional<std::vector<std::vector<double>>> clicks;  // [t, x, y, r]
    std::optional<bool> showClicks;
    std::optional<std::vector<Overlay>> overlays;
    std::optional<Project> project;
    std::optional<std::vector<std::vector<double>>> cursor;  // [t, x, y]
    std::optional<CursorStyle> cursorStyle;

    friend bool operator==(const RecordingInfo&, const RecordingInfo&) = default;

    // The movie's path with its last extension replaced by "ondexa.json".
    static std::filesystem::path sideFileURL(const std::filesystem::path& movie);

    // Writes the side file of the movie atomically. Never throws: when the
    // value can't be encoded nothing is written, when the write fails the old
    // file stays.
    void save(const std::filesystem::path& movie) const;
    // The same write, throwing OndexaError or EncodingError when it fails.
    void write(const std::filesystem::path& movie) const;

    // The side file of the movie; none when it is missing or unreadable.
    static std::optional<RecordingInfo> load(const std::filesystem::path& movie);

    // The stored clicks and pointer samples, malformed arrays skipped.
    std::vector<ClickEvent> clickEvents() const;
    std::vector<CursorSample> cursorSamples() const;

    // The stored forms: [t, x, y, 1 or 0] and [t, x, y].
    static std::vector<std::vector<double>> clickArrays(const std::vector<ClickEvent>& clicks);
    static std::vector<std::vector<double>> cursorArrays(const std::vector<CursorSample>& samples);
};

template <> struct JsonCoding<RecordingInfo> {
    static RecordingInfo decode(const Json& json, const JsonPath& path);
    static Json encode(const RecordingInfo& value, const JsonPath& path);
};

} // namespace ondexa
