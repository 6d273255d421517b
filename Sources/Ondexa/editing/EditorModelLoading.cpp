// Opening a recording or project package: the editing info, the recording's
// source, clicks and pointer, the editing state brought to the current form,
// the first player item, then peaks and thumbnails behind.

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/model/Files.h"
#include "Ondexa/model/ProjectFile.h"

#include <algorithm>
#include <map>

namespace ondexa {

namespace {

constexpr const char* kLoadFailed = "A felvétel nem nyitható meg: ";
constexpr const char* kNoVideo = "A fájlban nincs videó.";
constexpr const char* kRecordingMissing = "A projekthez tartozó felvétel nem található: ";
constexpr const char* kMediaMissing = "A szerkesztés sávjai közül kimaradtak azok, amelyek médiafájlja nem található: ";
constexpr const char* kKeptUntilEdit = ". A mentett szerkesztés az első módosításig változatlan marad.";

// The pointer style of recordings that stored samples but no style: the
// default look, not drawn until the user turns it on.
CursorStyle fallbackCursorStyle()
{
    CursorStyle style;
    style.enabled = false;
    return style;
}

struct ProjectRead {
    std::optional<ProjectFile> file;
    std::optional<std::filesystem::path> recording;
    std::string error;  // when file is none
};

struct SideFileRead {
    std::optional<RecordingInfo> info;
    bool undecodable = false;  // it exists, yet nothing of it could be taken
};

// Whether a clip's stream is there to be played.
bool playable(const Clip& clip, const Track& track, const MediaSources& sources)
{
    const MediaRef media = mediaOf(clip, track);
    const auto found = sources.find(media.path);
    return found != sources.end() && found->second.holds(media);
}

} // namespace

// The file that a write of the document at `document` replaces.
std::filesystem::path documentFile(const std::filesystem::path& document);

void EditorModel::load(std::function<void()> done)
{
    if (loaded_) {
        if (done) done();
        return;
    }
    if (done) loadWaiters_.push_back(std::move(done));
    if (loading_) return;
    loading_ = true;

    if (!documentURL_) {
        loadRecordingSource(std::nullopt);
        return;
    }
    // Through the package's writer: after what an editor closed a moment ago still had to write.
    writerOf(*documentURL_).run<ProjectRead>(
        this,
        [document = *documentURL_] {
            ProjectRead read;
            try {
                read.file = ProjectFile::read(document);
                read.recording = read.file->recordingURL(document);
            } catch (const std::exception& error) {
                read.file.reset();
                read.error = error.what();
            }
            return read;
        },
        [this](ProjectRead read) {
            if (!read.file) return failLoad(read.error);
            if (!read.recording) return failLoad(kRecordingMissing + read.file->recording);
            url_ = *read.recording;
            loadRecordingSource(std::move(read.file->info));
        });
}

void EditorModel::loadRecordingSource(std::optional<RecordingInfo> projectInfo)
{
    loadSource(url_.string(), [this, projectInfo = std::move(projectInfo)](const MediaSource* source,
                                                                          const std::string& why) mutable {
        if (!source) return failLoad(why.empty() ? kNoVideo : why);
        if (source->video.empty()) return failLoad(kNoVideo);
        recordingSource_ = *source;

        // The size as stored, before any turn; a 0 × 0 stream keeps the default.
        const QSize natural = source->video.front().stream.naturalSize;
        if (natural.width() > 0 && natural.height() > 0) screenSize_ = natural;
        aspect_ = double(screenSize_.width()) / double(screenSize_.height());

        if (projectInfo) return takeInfo(std::move(*projectInfo));

        const std::filesystem::path sideFile = RecordingInfo::sideFileURL(url_);
        // Through the side file's writer: after what an editor closed a moment ago still had to write.
        writerOf(sideFile).run<SideFileRead>(
            this,
            [sideFile] {
                SideFileRead read;
                if (!entryExists(sideFile)) return read;
                try {
                    read.info = decodeJson<RecordingInfo>(parseJson(readFile(sideFile)));
                } catch (const std::exception&) {
                    read.undecodable = true;
                }
                return read;
            },
            [this, sideFile](SideFileRead read) {
                if (read.undecodable) keepBeforeFirstWrite(sideFile);
                takeInfo(read.info.value_or(RecordingInfo{}));
            });
    });
}

void EditorModel::takeInfo(RecordingInfo info)
{
    info_ = std::move(info);
    loadedInfo_ = std::make_shared<const RecordingInfo>(info_);
    clicks_ = info_.clickEvents();
    setHasClicks(!clicks_.empty());
    cursorSamples_ = info_.cursorSamples();
    if (!cursorSamples_.empty()) setCursorStyle(info_.cursorStyle.value_or(fallbackCursorStyle()));

    if (!info_.project) {
        convertOldEdit(*recordingSource_, [this] {
            for (Track& track : tracks_) track.moveSettingsToClips(aspect_);
            finishLoad();
        });
        return;
    }

    // Every file of the project once, in track order, before anything reads them.
    std::vector<std::string> paths;
    for (const Track& track : info_.project->tracks) {
        if (track.media.kind != MediaKind::effects) paths.push_back(track.media.path);
        for (const Clip& clip : track.clips)
            if (clip.media) paths.push_back(clip.media->path);
    }
    loadSources(std::move(paths), [this, project = *info_.project] {
        takeProject(project);
        finishLoad();
    });
}

void EditorModel::takeProject(const Project& project)
{
    std::vector<Track> tracks = project.tracks;

    // Media that could not be opened because they are gone (asked once each).
    std::map<std::string, bool> gone;
    const auto isGone = [&](const std::string& path) {
        if (path.empty() || sources_.contains(path)) return false;
        const auto known = gone.find(path);
        if (known != gone.end()) return known->second;
        return gone[path] = !entryExists(path);
    };
    // The editing state names files by their full path: a recording moved
    // with its side file (or its package) still finds its own streams.
    const std::string recording = url_.string();
    const auto follow = [&](MediaRef& media) {
        if (media.kind == MediaKind::effects || !isGone(media.path)) return;
        if (std::filesystem::path(media.path).filename() == url_.filename()) media.path = recording;
    };
    for (Track& track : tracks) {
        follow(track.media);
        for (Clip& clip : track.clips)
            if (clip.media) follow(*clip.media);
    }

    const int version = project.version.value_or(0);
    if (version <= 2) {
        tracks = arrangeLegacy(tracks, project.overlays.value_or(std::vector<Overlay>{}));
        for (Track& track : tracks) track.moveSettingsToClips(aspect_);
    } else if (version == 3) {
        for (Track& track : tracks) track.moveSettingsToClips(aspect_);
    }

    const std::size_t before = tracks.size();
    std::vector<Track> kept;
    std::vector<std::string> missing;  // names of the files gone, each once, in track order
    for (Track& track : tracks) {
        const bool keep = track.media.kind == MediaKind::effects
                          || std::all_of(track.clips.begin(), track.clips.end(),
                                         [&](const Clip& clip) { return playable(clip, track, sources_); });
        if (keep) {
            kept.push_back(std::move(track));
            continue;
        }
        for (const Clip& clip : track.clips) {
            const MediaRef media = mediaOf(clip, track);
            if (!isGone(media.path)) continue;
            const std::string name = std::filesystem::path(media.path).filename().string();
            if (std::find(missing.begin(), missing.end(), name) == missing.end()) missing.push_back(name);
        }
    }
    // The file still holds what was dropped: it is kept aside before the
    // first write replaces it.
    if (kept.size() < before)
        keepBeforeFirstWrite(documentURL_ ? documentFile(*documentURL_) : RecordingInfo::sideFileURL(url_));
    setTracks(std::move(kept));
    // The user may yet bring the files back: nothing is written over the
    // stored edit before an edit of this one.
    keepFileUntilEdit_ = !missing.empty();
    if (!missing.empty()) {
        std::string names;
        for (const std::string& name : missing) names += (names.empty() ? "" : ", ") + name;
        setExportError(kMediaMissing + names + kKeptUntilEdit);
    }
}

void EditorModel::finishLoad()
{
    fillClipAspects();
    setShowClicks(hasClicks_ && info_.showClicks.value_or(true));
    if (std::exchange(keepFileUntilEdit_, false)) unsavedLoad_ = SavedState{tracks_, showClicks_, cursorStyle_};
    loaded_ = true;
    loading_ = false;
    recordingSource_.reset();
    rebuild(0);
    loadPeaks();
    loadThumbnails();
    for (auto& done : std::exchange(loadWaiters_, {})) done();
}

void EditorModel::failLoad(const std::string& message)
{
    setLoadError(kLoadFailed + message);
    loading_ = false;
    recordingSource_.reset();
    for (auto& done : std::exchange(loadWaiters_, {})) done();
}

} // namespace ondexa
