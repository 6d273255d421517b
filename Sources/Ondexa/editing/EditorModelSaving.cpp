// Saving: the autosave into the side file or the open package, saving as a
// project package with media copies, and keeping a file aside before the
// editor first replaces one whose content it did not take over whole.

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/model/Files.h"
#include "Ondexa/model/Log.h"
#include "Ondexa/model/OndexaError.h"

#include <QPointer>

#include <algorithm>
#include <cctype>
#include <mutex>

namespace ondexa {

namespace fs = std::filesystem;

namespace {

constexpr const char* kAutosaveFailed = "Az automatikus mentés nem sikerült: ";

} // namespace

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

// Shared by the model and the jobs it queued, which may run on the writers
// of two files at once (the side file and a new package).
struct EditorModel::SaveState {
    std::mutex mutex;
    std::optional<fs::path> keep;  // to be backed up before the first write over it; guarded by mutex
    bool failing = false;          // the last autosave failed and was reported; guarded by mutex

    // Backs the file up when it is the one kept; false when that failed and
    // the write must not happen.
    bool mayReplace(const fs::path& file)
    {
        std::lock_guard lock(mutex);
        if (!keep || normalized(*keep) != normalized(file)) return true;
        if (!backUp(*keep)) return false;
        keep.reset();
        return true;
    }
    // Whether this failure starts a run of them: only that one is reported.
    bool failed()
    {
        std::lock_guard lock(mutex);
        return !std::exchange(failing, true);
    }
    void succeeded()
    {
        std::lock_guard lock(mutex);
        failing = false;
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
    std::lock_guard lock(saveState_->mutex);
    saveState_->keep = file;
}

DocumentWriter& EditorModel::writerOf(const fs::path& document)
{
    const auto known = std::find_if(writers_.begin(), writers_.end(),
                                    [&](const auto& entry) { return entry.first == document; });
    if (known != writers_.end()) return *known->second;
    writers_.emplace_back(document, DocumentWriter::of(document));
    return *writers_.back().second;
}

void EditorModel::updateInfo()
{
    info_.project = Project{Project::currentVersion, tracks_, std::nullopt};
    info_.showClicks = showClicks_;
    if (cursorStyle_) info_.cursorStyle = cursorStyle_;
}

namespace {

ProjectFile projectFileOf(const fs::path& recording, RecordingInfo info)
{
    ProjectFile file;
    file.version = 2;
    file.recording = fs::absolute(recording).string();
    file.info = std::move(info);
    return file;
}

} // namespace

ProjectFile EditorModel::projectFile() const
{
    return projectFileOf(url_, info_);
}

void EditorModel::save()
{
    if (!loaded_) return;
    if (unsavedLoad_) {
        const SavedState& held = *unsavedLoad_;
        if (held.tracks == tracks_ && held.showClicks == showClicks_ && held.cursorStyle == cursorStyle_) return;
        unsavedLoad_.reset();
    }
    updateInfo();
    // Every later edit tries again; the user hears of the first failure only.
    const auto attempt = [state = saveState_, self = QPointer<EditorModel>(this)](auto write) {
        return [state, self, write = std::move(write)] {
            try {
                write();
                state->succeeded();
            } catch (const std::exception& error) {
                if (!state->failed()) return;
                JobChain::postToMain([self, message = kAutosaveFailed + std::string(error.what())] {
                    logLine("HIBA: " + message);
                    if (self) self->setExportError(message);
                });
            }
        };
    };
    const auto guarded = [state = saveState_](const fs::path& file) {
        if (!state->mayReplace(file))
            throw OndexaError("A fájlról nem készíthető biztonsági másolat, ezért nem írható felül: "
                              + file.string() + ".");
    };
    // Put together by the write that runs: a state replaced while it waits
    // costs the main thread no copy of the loaded info.
    const auto info = [loaded = loadedInfo_, project = info_.project, showClicks = info_.showClicks,
                       cursorStyle = info_.cursorStyle] {
        RecordingInfo info = *loaded;
        info.project = project;
        info.showClicks = showClicks;
        info.cursorStyle = cursorStyle;
        return info;
    };
    if (!documentURL_) {
        const fs::path side = RecordingInfo::sideFileURL(url_);
        writerOf(side).save(attempt([guarded, side, info, movie = url_] {
            guarded(side);
            info().write(movie);
        }));
        return;
    }
    writerOf(*documentURL_).save(attempt([guarded, info, recording = url_, document = *documentURL_] {
        guarded(documentFile(document));
        projectFileOf(recording, info()).writePackage(document, false);
    }));
}

void EditorModel::whenSaved(std::function<void()> done)
{
    if (writers_.empty()) {
        JobChain::postToMain([self = QPointer<EditorModel>(this), done = std::move(done)] {
            if (self && done) done();
        });
        return;
    }
    auto left = std::make_shared<std::size_t>(writers_.size());
    auto shared = std::make_shared<std::function<void()>>(std::move(done));
    for (const auto& [document, writer] : writers_)
        writer->whenDone(this, [left, shared] {
            if (--*left == 0 && *shared) (*shared)();
        });
}

fs::path EditorModel::proposedProjectURL() const
{
    // No project goes inside another: a recording in a package's Media (an
    // open project's own) gets its proposal beside the outermost package.
    const fs::path recording = fs::absolute(url_).lexically_normal();
    fs::path folder = recording.parent_path();
    for (fs::path up = folder; up.has_relative_path(); up = up.parent_path()) {
        std::string extension = up.extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (extension == ".vdlproj" || ProjectFile::isPackage(up)) folder = up.parent_path();
    }
    return folder / (recording.stem().string() + ".vdlproj");
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
    writerOf(target).run<Outcome>(
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

        const auto remapTracks = [&](std::vector<Track> tracks) {
            for (Track& track : tracks) {
                if (track.media.kind != MediaKind::effects) track.media.path = remap(track.media.path);
                for (Clip& clip : track.clips)
                    if (clip.media) clip.media->path = remap(clip.media->path);
            }
            return tracks;
        };
        setTracks(remapTracks(tracks_));
        // Undo, redo and a later paste must not bring the files outside back.
        for (std::vector<Snapshot>* stack : {&undoStack_, &redoStack_}) {
            const SnapshotTracks* beside = nullptr;
            for (Snapshot& snapshot : *stack) {
                snapshot.tracks = SnapshotTracks(remapTracks(snapshot.tracks), beside);
                beside = &snapshot.tracks;
            }
        }
        for (ClipboardEntry& entry : clipboard_)
            if (entry.clip.media) entry.clip.media->path = remap(entry.clip.media->path);

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
