#pragma once

// A project package: a folder "<name>.vdlproj" holding "project.json" (one
// ProjectFile, pretty-printed) and "Media/" with copies of the media. Paths
// inside the package are stored relative to it, all others absolute.

#include "JsonCoding.h"
#include "RecordingInfo.h"

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace ondexa {

struct ProjectFile {
    // The MIME type that the desktop integration declares for packages.
    static constexpr const char* contentType = "application/x-vendalum-project";

    int version = 2;
    std::string recording;  // the movie the project was made from
    // The recording relative to the folder holding the project; read from
    // older files, never written.
    std::optional<std::string> recordingRelative;
    RecordingInfo info;  // info.project holds the editing state

    friend bool operator==(const ProjectFile&, const ProjectFile&) = default;

    // The recording and the media of every track and clip that are not
    // effects; empty paths left out.
    std::set<std::string> mediaPaths() const;

    // Rewrites the paths that mediaPaths() lists, in place.
    void mapPaths(const std::function<std::string(const std::string&)>& transform);

    // Writes the package (a file standing at its place is replaced). With
    // copyMedia, media outside the package are copied into "Media/" first,
    // unless the file or one with the same content is there already.
    // Returns old path → copy for each medium now in "Media/"; the value
    // itself is not changed. The files in `alsoCopy` are copied in the same
    // way whatever copyMedia says (a medium the project is about to name).
    // Throws OndexaError, EncodingError; nothing is rolled back.
    std::map<std::string, std::string> writePackage(const std::filesystem::path& package, bool copyMedia,
                                                    const std::set<std::string>& alsoCopy = {}) const;

    // A package (its relative paths made absolute) or a flat project file (as
    // stored). Throws OndexaError, DecodingError.
    static ProjectFile read(const std::filesystem::path& url);

    // Throws OndexaError saying why a new package may not be written at
    // `package`: something that is not a folder stands there, or the place
    // lies inside another package, whose files it would break.
    static void checkNewPlace(const std::filesystem::path& package);

    // A folder that is a project package: named "*.vdlproj" (in any case) or
    // holding a "project.json", whatever its name.
    static bool isPackage(const std::filesystem::path& path);

    // The recording to open for the project at projectURL, or none.
    std::optional<std::filesystem::path> recordingURL(const std::filesystem::path& projectURL) const;
};

template <> struct JsonCoding<ProjectFile> {
    static ProjectFile decode(const Json& json, const JsonPath& path);
    static Json encode(const ProjectFile& value, const JsonPath& path);
};

} // namespace ondexa
