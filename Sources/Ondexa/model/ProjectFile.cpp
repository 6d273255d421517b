#include "ProjectFile.h"

#include "Files.h"
#include "OndexaError.h"

#include <algorithm>
#include <cctype>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>

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

std::string prettyText(const ProjectFile& file)
{
    return dumpJson(encodeJson(file), 2);
}

bool hasPackageExtension(const fs::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension == ".vdlproj";
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

std::map<std::string, std::string> ProjectFile::writePackage(const fs::path& package, bool copyMedia,
                                                             const std::set<std::string>& alsoCopy) const
{
    // A value that can't be encoded must not leave a half-written package.
    prettyText(*this);

    const fs::path root = withoutTrailingSlash(fs::absolute(package).lexically_normal());
    const std::string prefix = root.string() + "/";
    // Relative paths are taken relative to the package; ".." is resolved
    // before deciding whether a path lies inside it.
    const auto resolve = [&](const std::string& path) { return (root / path).lexically_normal().string(); };

    // A file at the package's place is removed below: it must not be the
    // recording or a medium of this very project, under whatever name.
    struct stat standing {};
    if (::stat(root.c_str(), &standing) == 0) {
        for (const auto& path : mediaPaths()) {
            struct stat medium {};
            if (::stat(resolve(path).c_str(), &medium) == 0 && medium.st_dev == standing.st_dev
                && medium.st_ino == standing.st_ino)
                throw OndexaError("A projekt nem menthető oda, ahol a felvétel vagy egy médiafájlja áll: "
                                  + root.string() + ".");
        }
    }

    std::error_code error;
    if (entryExists(root) && !fs::is_directory(root, error)) {
        fs::remove(root, error);
        if (error) throw fileError("A projekt helyén álló fájl nem törölhető: ", root, error);
    }
    // Media must be a folder of its own: through a link the copies would land
    // wherever it points, while project.json says "Media/…".
    const fs::path media = root / "Media";
    const auto notAFolder = [&] {
        return OndexaError("A projekt Media mappája nem valódi mappa, nem írható bele: " + media.string() + ".");
    };
    if (entryExists(media) && fs::symlink_status(media, error).type() != fs::file_type::directory) throw notAFolder();
    fs::create_directories(media, error);
    if (error) throw fileError("A projekt mappája nem hozható létre: ", media, error);
    FileDescriptor mediaFolder{::open(media.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
    if (mediaFolder.fd < 0) {
        if (errno == ELOOP || errno == ENOTDIR) throw notAFolder();
        const std::error_code failure(errno, std::generic_category());
        throw fileError("A projekt mappája nem hozható létre: ", media, failure);
    }
    // What an interrupted earlier save left behind.
    removeTemporaryFiles(mediaFolder.fd);

    std::map<std::string, std::string> copies;
    std::set<std::string> toCopy = copyMedia ? mediaPaths() : std::set<std::string>{};
    for (const auto& path : alsoCopy)
        if (!path.empty()) toCopy.insert(path);
    if (!toCopy.empty()) {
        std::map<std::string, std::string> copiedFrom;  // resolved source → copy
        for (const auto& path : toCopy) {
            const std::string source = resolve(path);
            if (source.starts_with(prefix)) continue;
            if (auto done = copiedFrom.find(source); done != copiedFrom.end()) {
                copies[path] = done->second;
                continue;
            }
            // Folders, devices and pipes are treated like missing files.
            if (!fs::is_regular_file(source, error)) continue;

            const fs::path name = fs::path(source).filename();
            const auto nameFor = [&](int n) {
                if (n == 1) return name.string();
                return name.stem().string() + " " + std::to_string(n) + name.extension().string();
            };
            // Saved again from the original: the copy made last time is used,
            // or whatever the user put there with the same content.
            std::string copy;
            try {
                const auto same = findSameFile(source, mediaFolder.fd, {nameFor(1)});
                copy = same ? *same : copyFileInto(source, mediaFolder.fd, nameFor);
            } catch (const std::system_error& e) {
                throw fileError("A médiafájl nem másolható a projektbe: ", source, e.code());
            }
            copiedFrom[source] = copies[path] = (media / copy).string();
        }
        // The copies' names must be on disk before project.json names them.
        if (!copies.empty()) ::fsync(mediaFolder.fd);
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

void ProjectFile::checkNewPlace(const fs::path& package)
{
    const fs::path root = withoutTrailingSlash(fs::absolute(package).lexically_normal());
    std::error_code error;
    // Through links too: the folders the package would really land in.
    const fs::path real = fs::weakly_canonical(root, error);
    for (const fs::path& path : {root, error ? root : real}) {
        for (fs::path folder = path.parent_path(); folder.has_relative_path(); folder = folder.parent_path()) {
            if (hasPackageExtension(folder) || isPackage(folder))
                throw OndexaError("A kiválasztott hely egy másik projekten belül van, oda nem menthető projekt: "
                                  + folder.string() + ".");
        }
    }
    if (entryExists(root) && !fs::is_directory(root, error))
        throw OndexaError("A kiválasztott helyen már áll egy fájl, a projekt nem kerülhet a helyére: "
                          + root.string() + ".");
}

bool ProjectFile::isPackage(const fs::path& path)
{
    std::error_code error;
    const fs::path folder = withoutTrailingSlash(path);
    if (!fs::is_directory(folder, error)) return false;
    return hasPackageExtension(folder) || entryExists(folder / "project.json");
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
    file.recording = in.required<PathText>("recording").value;
    if (auto relative = in.optional<PathText>("recordingRelative")) file.recordingRelative = std::move(relative->value);
    file.info = in.required<RecordingInfo>("info");
    return file;
}

Json JsonCoding<ProjectFile>::encode(const ProjectFile& value, const JsonPath& path)
{
    ObjectWriter out(path);
    out.put("version", value.version);
    out.put("recording", PathText{value.recording});
    out.put("info", value.info);
    return out.take();
}

} // namespace ondexa
