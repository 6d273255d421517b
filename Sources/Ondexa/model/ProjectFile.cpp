#include "ProjectFile.h"

#include "Files.h"
#include "OndexaError.h"

#include <system_error>

namespace ondexa {

namespace fs = std::filesystem;

namespace {

bool isFileMedia(const MediaRef& media)
{
    return media.kind != MediaKind::effects;
}

// "/a/b/" and "/a/b" both name the folder b.
fs::path withoutTrailingSlash(const fs::path& path)
{
    return path.has_filename() || !path.has_parent_path() ? path : path.parent_path();
}

// Pretty-printed; paths that are not UTF-8 can't go into JSON.
std::string prettyText(const ProjectFile& file)
{
    const Json json = encodeJson(file);
    try {
        return json.dump(2);
    } catch (const Json::exception& e) {
        throw EncodingError(JsonPath{}, e.what());
    }
}

OndexaError fileError(const std::string& sentence, const fs::path& path, const std::error_code& error)
{
    return OndexaError(sentence + path.string() + " (" + error.message() + ").");
}

} // namespace

std::set<std::string> ProjectFile::mediaPaths() const
{
    std::set<std::string> paths;
    const auto add = [&](const std::string& path) {
        if (!path.empty()) paths.insert(path);
    };
    add(recording);
    if (info.project)
        for (const auto& track : info.project->tracks) {
            if (isFileMedia(track.media)) add(track.media.path);
            for (const auto& clip : track.clips)
                if (clip.media && isFileMedia(*clip.media)) add(clip.media->path);
        }
    return paths;
}

void ProjectFile::mapPaths(const std::function<std::string(const std::string&)>& transform)
{
    recording = transform(recording);
    if (!info.project) return;
    for (auto& track : info.project->tracks) {
        if (isFileMedia(track.media)) track.media.path = transform(track.media.path);
        for (auto& clip : track.clips)
            if (clip.media && isFileMedia(*clip.media)) clip.media->path = transform(clip.media->path);
    }
}

std::map<std::string, std::string> ProjectFile::writePackage(const fs::path& package, bool copyMedia) const
{
    // A value that can't be encoded must not leave a half-written package.
    prettyText(*this);

    const fs::path root = withoutTrailingSlash(fs::absolute(package).lexically_normal());
    std::error_code error;
    if (entryExists(root) && !fs::is_directory(root, error)) {
        fs::remove(root, error);
        if (error) throw fileError("A projekt helyén álló fájl nem törölhető: ", root, error);
    }
    const fs::path media = root / "Media";
    fs::create_directories(media, error);
    if (error) throw fileError("A projekt mappája nem hozható létre: ", media, error);

    const std::string prefix = root.string() + "/";
    // Relative paths are taken relative to the package; ".." is resolved
    // before deciding whether a path lies inside it.
    const auto resolve = [&](const std::string& path) { return (root / path).lexically_normal().string(); };

    std::map<std::string, std::string> copies;
    if (copyMedia) {
        std::map<std::string, std::string> copiedFrom;  // resolved source → copy
        for (const auto& path : mediaPaths()) {
            const std::string source = resolve(path);
            if (source.starts_with(prefix)) continue;
            if (auto done = copiedFrom.find(source); done != copiedFrom.end()) {
                copies[path] = done->second;
                continue;
            }
            // Folders, devices and pipes are treated like missing files.
            if (!fs::is_regular_file(source, error)) continue;

            const fs::path name = fs::path(source).filename();
            fs::path target = media / name;
            for (int n = 2; entryExists(target); ++n)
                target = media / (name.stem().string() + " " + std::to_string(n) + name.extension().string());
            fs::copy_file(source, target, error);
            if (error) throw fileError("A médiafájl nem másolható a projektbe: ", source, error);
            copiedFrom[source] = copies[path] = target.string();
        }
    }

    ProjectFile stored = *this;
    stored.version = 2;
    stored.mapPaths([&](const std::string& path) {
        if (path.empty()) return path;
        const auto copy = copies.find(path);
        const std::string resolved = resolve(copy != copies.end() ? copy->second : path);
        return resolved.starts_with(prefix) ? resolved.substr(prefix.size()) : resolved;
    });
    writeFileAtomically(root / "project.json", prettyText(stored));
    return copies;
}

ProjectFile ProjectFile::read(const fs::path& url)
{
    std::error_code error;
    if (!fs::is_directory(url, error)) return decodeJson<ProjectFile>(parseJson(readFile(url)));

    const fs::path root = fs::absolute(url);
    ProjectFile file = decodeJson<ProjectFile>(parseJson(readFile(root / "project.json")));
    file.mapPaths([&](const std::string& path) {
        if (path.empty() || path.starts_with("/")) return path;
        return (root / path).lexically_normal().string();
    });
    return file;
}

std::optional<fs::path> ProjectFile::recordingURL(const fs::path& projectURL) const
{
    std::error_code error;
    if (recordingRelative) {
        const fs::path candidate
            = (withoutTrailingSlash(projectURL).parent_path() / *recordingRelative).lexically_normal();
        if (fs::is_regular_file(candidate, error)) return candidate;
    }
    if (!recording.empty() && fs::is_regular_file(recording, error)) return fs::path(recording);
    return std::nullopt;
}

ProjectFile JsonCoding<ProjectFile>::decode(const Json& json, const JsonPath& path)
{
    const ObjectReader in(json, path);
    ProjectFile file;
    file.version = in.required<int>("version");
    file.recording = in.required<std::string>("recording");
    file.recordingRelative = in.optional<std::string>("recordingRelative");
    file.info = in.required<RecordingInfo>("info");
    return file;
}

Json JsonCoding<ProjectFile>::encode(const ProjectFile& value, const JsonPath& path)
{
    ObjectWriter out(path);
    out.put("version", value.version);
    out.put("recording", value.recording);
    out.put("info", value.info);
    return out.take();
}

} // namespace ondexa
