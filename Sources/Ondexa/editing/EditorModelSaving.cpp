// Saving: the autosave into the side file or the open package, saving as a
// project package with media copies, and keeping a file aside before the
// editor first replaces one whose content it did not take over whole.

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/model/Files.h"
#include "Ondexa/model/OndexaError.h"

#include <QPointer>

namespace ondexa {

namespace fs = std::filesystem;

// The file that a write of the document at `document` replaces: the
// package's "project.json", or a flat project file itself.
fs::path documentFile(const fs::path& document)
{
    std::error_code error;
    return fs::is_directory(document, error) ? document / "project.json" : document;
}

namespace {

fs::path normalized(const fs::path& path)
{
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return (error ? path : absolute).lexically_normal();
}

// Copies `file` to "<name>.bak" beside it, or "<name> 2.bak", " 3.bak", …
// when taken. True when the file is safe: copied, or not there at all.
bool backUp(const fs::path& file)
{
    if (!entryExists(file)) return true;
    const std::string name = file.filename().string();
    fs::path target = file.parent_path() / (name + ".bak");
    for (int n = 2; entryExists(target); ++n) target = file.parent_path() / (name + " " + std::to_string(n) + ".bak");
    std::error_code error;
    return fs::copy_file(file, target, fs::copy_options::none, error) && !error;
}

} // namespace

// Touched only by jobs of the writer chain, which run one at a time.
struct EditorModel::SaveState {
    std::optional<fs::path> keep;  // to be backed up before the first write over it

    // Backs the file up when it is the one kept; false when that failed and
    // the write must not happen.
    bool mayReplace(const fs::path& file)
    {
        if (!keep || normalized(*keep) != normalized(file)) return true;
        if (!backUp(*keep)) return false;
        keep.reset();
        return true;
    }
};

std::shared_ptr<EditorModel::SaveState> EditorModel::makeSaveState()
{
    return std::make_shared<SaveState>();
}

std::function<bool(const fs::path&)> EditorModel::replaceGuard() const
{
    return [state = saveState_](const fs::path& file) { return state->mayReplace(file); };
}

void EditorModel::keepBeforeFirstWrite(const fs::path& file)
{
    writer_.run([state = saveState_, file] { state->keep = file; });
}

void EditorModel::updateInfo()
{
    info_.project = Project{Project::currentVersion, tracks_, std::nullopt};
    info_.showClicks = showClicks_;
    if (cursorStyle_) info_.cursorStyle = cursorStyle_;
}

ProjectFile EditorModel::projectFile() const
{
    ProjectFile file;
    file.version = 2;
    file.recording = fs::absolute(url_).string();
    file.info = info_;
    return file;
}

void EditorModel::save()
{
    if (!loaded_) return;
    updateInfo();
    if (!documentURL_) {
        writer_.run([state = saveState_, info = info_, movie = url_] {
            if (state->mayReplace(RecordingInfo::sideFileURL(movie))) info.save(movie);
        });
        return;
    }
    writer_.run([state = saveState_, file = projectFile(), document = *documentURL_] {
        try {
            if (state->mayReplace(documentFile(document))) file.writePackage(document, false);
        } catch (const std::exception&) {
            // Autosave failures are dropped; the next edit tries again.
        }
    });
}

void EditorModel::whenSaved(std::function<void()> done)
{
    writer_.run<bool>(this, [] { return true; }, [done = std::move(done)](bool) {
        if (done) done();
    });
}

fs::path EditorModel::proposedProjectURL() const
{
    return url_.parent_path() / (url_.stem().string() + ".vdlproj");
}

void EditorModel::saveProject(const fs::path& target, SaveCompletion done)
{
    // Nothing was taken over from the file yet: a package written now would
    // hold an empty edit.
    if (!loaded_) {
        if (done) done(std::string(notLoadedMessage));
        return;
    }
    updateInfo();

    struct Outcome {
        std::map<std::string, std::string> copies;
        std::optional<std::string> error;
    };
    // The open document is this project's own place, whatever stands there.
    const bool ownPlace = documentURL_ && normalized(*documentURL_) == normalized(target);
    writer_.run<Outcome>(
        this,
        [state = saveState_, file = projectFile(), target, ownPlace] {
            Outcome outcome;
            try {
                if (!ownPlace) ProjectFile::checkNewPlace(target);
                if (!state->mayReplace(documentFile(target)))
                    throw OndexaError("A régi projektfájlról nem készíthető biztonsági másolat: "
                                      + documentFile(target).string());
                outcome.copies = file.writePackage(target, true);
            } catch (const std::exception& error) {
                outcome.error = error.what();
            }
            return outcome;
        },
        [this, target, done = std::move(done)](Outcome outcome) {
            if (outcome.error) {
                if (done) done(outcome.error);
                return;
            }
            setDocumentURL(target);
            usePaths(std::move(outcome.copies), [done] {
                if (done) done(std::nullopt);
            });
        });
}

void EditorModel::saveProject(bool ask, std::function<void()> done)
{
    auto write = [this, done](const fs::path& target) {
        saveProject(target, [this, done](std::optional<std::string> error) {
            if (error) setExportError("A projekt nem menthető: " + *error);
            if (done) done();
        });
    };
    if (!ask && documentURL_) {
        write(*documentURL_);
        return;
    }
    if (!pathChooser_) {
        if (done) done();
        return;
    }
    pathChooser_(proposedProjectURL(),
                 [self = QPointer<EditorModel>(this), write, done](std::optional<fs::path> chosen) {
                     if (!self) return;
                     if (!chosen || chosen->empty()) {
                         if (done) done();
                         return;
                     }
                     write(*chosen);
                 });
}

void EditorModel::usePaths(std::map<std::string, std::string> map, std::function<void()> done)
{
    if (map.empty()) {
        if (done) done();
        return;
    }
    std::vector<std::string> copies;
    for (const auto& [old, copy] : map) copies.push_back(copy);
    loadSources(std::move(copies), [this, map = std::move(map), done = std::move(done)] {
        const auto remap = [&](const std::string& path) {
            const auto found = map.find(path);
            return found == map.end() ? path : found->second;
        };
        if (const auto found = map.find(fs::absolute(url_).string()); found != map.end()) url_ = found->second;

        std::vector<Track> tracks = tracks_;
        for (Track& track : tracks) {
            if (track.media.kind != MediaKind::effects) track.media.path = remap(track.media.path);
            for (Clip& clip : track.clips)
                if (clip.media) clip.media->path = remap(clip.media->path);
        }
        setTracks(std::move(tracks));

        // The first key met wins when two become one.
        PeakMap peaks;
        for (auto& [media, values] : peaks_) peaks.try_emplace(MediaRef{remap(media.path), media.kind, media.index}, values);
        peaks_ = std::move(peaks);
        emit peaksChanged();
        ThumbnailMap thumbnails;
        for (auto& [media, list] : thumbnails_)
            thumbnails.try_emplace(MediaRef{remap(media.path), media.kind, media.index}, list);
        thumbnails_ = std::move(thumbnails);
        emit thumbnailsChanged();

        rebuild(clock_->time());
        if (done) done();
    });
}

} // namespace ondexa
