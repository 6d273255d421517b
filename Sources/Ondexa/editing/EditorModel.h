#pragma once

// The document model of one editor window: the timeline of one recording or
// project package, the selection and marks, snapshot undo and redo, the
// loaded media sources, the preview player with its playhead clock, and what
// rendering work has produced (composition, waveform peaks, thumbnails).
//
// Threads: a main-thread object; every field is read and written there only.
// Probes, decodes and file writes run on background chains, one job at a time
// per chain, and hand their results back to the main thread through queued
// calls that hold the model weakly: a destroyed model gets nothing. Peaks and
// thumbnails decode at low priority on a pool of their own, file writes on
// another (WorkPools.h), so neither saving nor opening waits behind them.
//
// Asynchronous operations (load, saveProject, loadPeaks, loadThumbnails)
// return at once and call their `done` on the main thread when they end.

#include "Ondexa/editing/DocumentWriter.h"
#include "Ondexa/editing/JobChain.h"
#include "Ondexa/editing/PlayheadClock.h"
#include "Ondexa/editing/SnapshotTracks.h"
#include "Ondexa/model/Overlays.h"
#include "Ondexa/model/ProjectFile.h"
#include "Ondexa/model/RecordingInfo.h"
#include "Ondexa/model/Timeline.h"
#include "Ondexa/model/Uuid.h"
#include "Ondexa/rendering/CompositionBuilder.h"
#include "Ondexa/rendering/ExportOptions.h"
#include "Ondexa/rendering/MediaSource.h"
#include "Ondexa/rendering/Thumbnails.h"
#include "Platform/media/ExportSession.h"
#include "Platform/media/Player.h"

#include <QObject>
#include <QSize>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <unordered_set>
#include <utility>
#include <vector>

class QSettings;
class QTimer;

namespace ondexa {

class EditorModel final : public QObject {
    Q_OBJECT

public:
    // A selected empty span of one track.
    struct Gap {
        Uuid track;
        double start = 0;
        double end = 0;
        friend bool operator==(const Gap&, const Gap&) = default;
    };
    // A time range across a set of tracks.
    struct MatrixSelection {
        double start = 0;
        double end = 0;
        std::set<Uuid> tracks;
        friend bool operator==(const MatrixSelection&, const MatrixSelection&) = default;
    };
    // The unit of undo and redo: the whole timeline, as immutable values
    // (unchanged tracks and clips shared between snapshots).
    struct Snapshot {
        SnapshotTracks tracks;
        friend bool operator==(const Snapshot&, const Snapshot&) = default;
    };
    // Which edge of a clip a trim or fade drag works on.
    enum class ClipEdge { front, end };
    using Source = MediaSource;
    struct ClipboardEntry {
        Uuid trackID;
        Clip clip;
    };
    struct SelectedAction {
        Track track;
        Clip clip;
        TrackAction action;
    };

    // Where a project package goes: called with the proposed place, it calls
    // `chosen` (on the main thread, at once or later) with the place the user
    // chose, or none when the choice was cancelled.
    using ChosenPath = std::function<void(std::optional<std::filesystem::path>)>;
    using PathChooser = std::function<void(const std::filesystem::path& proposed, ChosenPath chosen)>;
    using SaveCompletion = std::function<void(std::optional<std::string> error)>;
    using ExportOptions = ondexa::ExportOptions;
    // Called with true only when the file was written completely.
    using ExportCompletion = std::function<void(bool written)>;

    static constexpr std::size_t undoLimit = 200;
    // Autosave and saving refuse to touch a file they would lose.
    static constexpr const char* notLoadedMessage = "A szerkesztés nem töltődött be.";

    // A model for a recording or a project package; loads nothing. The
    // settings default to those of organisation and application "Vendalum".
    explicit EditorModel(std::filesystem::path url, std::unique_ptr<QSettings> settings = {},
                         QObject* parent = nullptr);
    ~EditorModel() override;

    // --- Document ---
    const std::filesystem::path& url() const { return url_; }
    const std::optional<std::filesystem::path>& documentURL() const { return documentURL_; }
    platform::Player& player() { return *player_; }
    PlayheadClock& clock() { return *clock_; }
    const std::vector<Track>& tracks() const { return tracks_; }
    void setTracks(std::vector<Track> tracks);
    // The largest Track::end(); 0 without tracks.
    double duration() const;

    // --- Selection and marks ---
    const std::set<Uuid>& selectedClips() const { return selectedClips_; }
    void setSelectedClips(std::set<Uuid> clips);
    const std::optional<Gap>& gap() const { return gap_; }
    void setGap(std::optional<Gap> gap);
    const std::optional<Uuid>& selectedTrackID() const { return selectedTrackID_; }
    void setSelectedTrackID(std::optional<Uuid> id);
    const std::optional<Uuid>& selectedActionID() const { return selectedActionID_; }
    void setSelectedActionID(std::optional<Uuid> id);
    // The action named by selectedActionID, searched in every clip.
    std::optional<SelectedAction> selectedAction() const;
    const std::optional<MatrixSelection>& matrixSelection() const { return matrixSelection_; }
    void setMatrixSelection(std::optional<MatrixSelection> selection);
    std::optional<double> markIn() const { return markIn_; }
    void setMarkIn(std::optional<double> time);
    std::optional<double> markOut() const { return markOut_; }
    void setMarkOut(std::optional<double> time);

    // --- Rendering results ---
    const PeakMap& peaks() const { return peaks_; }
    const ThumbnailMap& thumbnails() const { return thumbnails_; }
    const std::optional<Built>& built() const { return built_; }
    std::optional<double> exportProgress() const { return exportProgress_; }
    const std::optional<std::filesystem::path>& lastExport() const { return lastExport_; }

    // --- Pointer and clicks ---
    bool showClicks() const { return showClicks_; }
    void setShowClicks(bool show);
    bool hasClicks() const { return hasClicks_; }
    const std::optional<CursorStyle>& cursorStyle() const { return cursorStyle_; }
    void setCursorStyle(std::optional<CursorStyle> style);
    const std::vector<ClickEvent>& clicks() const { return clicks_; }
    const std::vector<CursorSample>& cursorSamples() const { return cursorSamples_; }

    // --- State of the window ---
    bool isPlaying() const { return isPlaying_; }
    const std::optional<std::string>& loadError() const { return loadError_; }
    bool canUndo() const { return canUndo_; }
    bool canRedo() const { return canRedo_; }
    std::optional<double> pixelsPerSecond() const { return pixelsPerSecond_; }
    void setPixelsPerSecond(std::optional<double> value);
    double timelineWidth() const { return timelineWidth_; }  // not published
    void setTimelineWidth(double width) { timelineWidth_ = width; }
    double trackHeight() const { return trackHeight_; }
    void setTrackHeight(double height);  // persisted
    // What the timeline's zoom allows; a stored height is held to it.
    static constexpr double minTrackHeight = 22;
    static constexpr double maxTrackHeight = 160;
    const std::optional<std::string>& exportError() const { return exportError_; }
    void setExportError(std::optional<std::string> message);
    bool isEditingText() const { return isEditingText_; }
    void setEditingText(bool editing);
    bool snapping() const { return snapping_; }
    void setSnapping(bool on);  // persisted
    int frameRate() const { return frameRate_; }
    void setFrameRate(int fps);

    // --- Recording (not published) ---
    double aspect() const { return aspect_; }
    QSize screenSize() const { return screenSize_; }
    const RecordingInfo& info() const { return info_; }
    const MediaSources& sources() const { return sources_; }
    bool isLoaded() const { return loaded_; }

    // --- Playback ---
    // Pauses, or plays (from 0 when the playhead stands within 50 ms of the end).
    void togglePlay();
    // Pauses and moves the playhead by `delta` seconds within the edit.
    void step(double delta);

    // --- Undo ---
    void pushUndo();
    // The common end of structural edits: snapshot, new tracks, rebuild.
    void commit(std::vector<Track> tracks);
    void undo();
    void redo();
    const std::vector<Snapshot>& undoStack() const { return undoStack_; }
    const std::vector<Snapshot>& redoStack() const { return redoStack_; }

    // --- Loading ---
    // Fills the model from its file, builds the first player item and starts
    // the peaks and thumbnails. Failures end in loadError. A second call after
    // a successful load changes nothing; one during a load joins it.
    void load(std::function<void()> done = {});

    // --- Building ---
    // Builds a player item from the tracks and seeks it to `seekTo` (limited
    // to the edit), then autosaves. Nothing at all when nothing can be built.
    void rebuild(double seekTo);
    // The waveform peaks and thumbnails still missing, computed in the
    // background and stored as they arrive. Never fail.
    void loadPeaks(std::function<void()> done = {});
    void loadThumbnails(std::function<void()> done = {});
    // What the builders read of this model.
    RenderSettings renderSettings() const;

    // --- Saving ---
    // The autosave: the editing state into the open package's "project.json",
    // else into the recording's side file. Nothing before a successful load,
    // nor after a load that left out tracks of missing files until the state
    // differs from the loaded one.
    // The write itself happens in the background, through the file's one
    // writer (DocumentWriter): a newer state replaces one still waiting. The
    // first failure of a run of them is logged and goes to exportError.
    void save();
    // Calls `done` on the main thread once every write asked for so far has ended.
    void whenSaved(std::function<void()> done);
    // Writes a package with media copies at `target` and switches to it.
    void saveProject(const std::filesystem::path& target, SaveCompletion done = {});
    // Saves into the open package, or asks the path chooser for a place
    // (always with `ask`); a failure goes to exportError.
    void saveProject(bool ask, std::function<void()> done = {});
    void setPathChooser(PathChooser chooser) { pathChooser_ = std::move(chooser); }
    // "<recording's name>.vdlproj" in the recording's folder.
    std::filesystem::path proposedProjectURL() const;

    // --- Export (EditorModelExport.cpp) ---
    // The span and tracks (none: all) that a range choice covers.
    ExportExtent exportExtent(ExportOptions::Range range) const;
    // The output picture of a size choice for this recording.
    QSize exportSize(ExportOptions::Size size) const;
    // Writes the edit to `to` as `options` say, in the background, and calls
    // `done` on the main thread when it has ended. Pauses the player; clears
    // exportError; a file already at `to` is replaced only by a whole export
    // and stays as it was otherwise. Progress goes to
    // exportProgress every 200 ms while it runs; a completed export sets
    // lastExport, a failed one exportError, a cancelled one (through
    // exportSession()->cancel()) nothing, and removes what it wrote. An
    // export refused before it starts calls `done` before returning.
    void exportTo(const std::filesystem::path& to, const ExportOptions& options, ExportCompletion done = {});
    // The running export, for the dialog's cancel; null when none runs.
    platform::ExportSession* exportSession() const { return exportSession_.get(); }

    // --- Conversion of older editing states ---
    // Effects tracks packed from the annotations, then the picture tracks
    // reversed (zooms added to the screen track), then the sound tracks.
    static std::vector<Track> arrangeLegacy(const std::vector<Track>& tracks, const std::vector<Overlay>& overlays);
    // The aspect of a media reference from the loaded sources; none when unknown.
    std::optional<double> mediaAspect(const MediaRef& media) const;

    // --- Selection, links, cuts, ranges, gaps, clipboard, track operations ---
    // A clip with its track, both in the current track list (valid until the
    // next change of the tracks).
    struct PlacedClip {
        const Track* track = nullptr;
        const Clip* clip = nullptr;
    };

    // Selects a clip with its link group (the clip alone when `single`);
    // `extend` adds to the selection, or takes away when the clip is in it.
    void selectClip(const Uuid& id, bool extend, bool single);
    void selectClips(const std::set<Uuid>& ids, bool extend);
    void selectAllClips();
    void selectAction(const Uuid& id);
    // The empty span of the track around `t` between two clips, if any.
    void selectGap(const Uuid& trackID, double t);
    void clearSelection();
    // The marks at the playhead; a mark that would not stay before the
    // other one clears it.
    void setMarkIn();
    void setMarkOut();
    // The first track named by selectedTrackID, or null.
    const Track* selectedTrack() const;
    // The first selected clip, looked for on the selected track first.
    std::optional<PlacedClip> selectedClip() const;
    // The ids of every clip sharing the link of the clip `id` (itself included).
    std::set<Uuid> linkedGroup(const Uuid& id) const;
    // The other members of the one whole link group that is selected; empty
    // when the selection is not exactly one group.
    std::vector<PlacedClip> linkedPartners() const;
    void linkSelection();
    void unlinkSelection();

    // Cuts the selected clips (else every clip) under the playhead.
    void splitAtPlayhead();
    // Keeps the part after (front) or before the playhead of the clips under it.
    void trimToPlayhead(bool front);
    // Cuts the range out as its own pieces on the given tracks and selects them.
    void cutMatrix(double from, double to, const std::set<Uuid>& trackIDs);
    // Pastes copies of the selected clips after the latest of them.
    void duplicateSelection();
    // Closes the selected gap, deletes the selected action, removes the
    // marked range, or deletes the selected clips (closing up with `ripple`).
    void deleteSelection(bool ripple);
    void deleteAction(const Uuid& id);

    void copySelection();
    // Copies of the clipboard with the earliest at `time`, each on its track
    // (on a new copy of the track placed before it where they would overlap).
    void paste(double time);
    const std::vector<ClipboardEntry>& clipboard() const { return clipboard_; }

    void moveTrack(const Uuid& id, int offset);
    // A copy named "<name> (másolat)" placed before the track, and selected.
    void duplicateTrack(const Uuid& id);
    void deleteTrack(const Uuid& id);

    // For measuring the edits alone: while set, rebuild() calls this instead
    // of building a player item.
    void setRebuildStub(std::function<void(double seekTo)> stub) { rebuildStub_ = std::move(stub); }
    // --- end of selection and cut operations ---

    // --- Overlays, actions, property edits, moves, media, trims ---
    // A text, arrow, rectangle or ellipse over the marks (else 4 s from the
    // playhead) on a free effects track; zoom and pip add nothing.
    void addOverlay(OverlayKind kind);
    // What a new overlay of `kind` starts with.
    static Overlay defaultOverlay(OverlayKind kind);
    // A one-second action (or one over the marks) on the selected clip, else
    // on the clip under the playhead of the selected or the screen track.
    void addAction();

    // Property edits replace one value and refresh the player item in place.
    // updateClip and updateAction push no undo step: their callers do.
    void updateClip(const Clip& clip);
    // In every clip, the first action with the id takes the copy limited to
    // that clip; a copy equal to the stored one ends the call.
    void updateAction(const TrackAction& action);
    void updateTrack(const Track& track, bool undoable);
    // The picture clips under the playhead, the last track's first.
    std::vector<PlacedClip> activeVisualClips() const;

    // Drags. The view pushes one undo step before the first change; each
    // call then starts again from the drag-start copies and the total offset.
    // The snap point that `t` jumps to within `tolerance` seconds, if any.
    std::optional<double> snapped(double t, const Uuid& excluding, double tolerance) const;
    // `kind` is the view's idea of the clip; the stored clip and track decide.
    void moveClip(const Clip& clip, MediaKind kind, double delta, std::optional<int> toRow, double tolerance);
    void moveClips(const std::vector<Clip>& clips, const Clip& grabbed, double delta, int rows, double tolerance);
    // Ends a move or trim drag: one rebuild and save.
    void endClipDrag();
    // Moves an edge of the clip and of the linked clips whose same edge lies with it.
    void trimClip(const Clip& clip, ClipEdge edge, double delta, double tolerance);
    void setFade(const Clip& clip, ClipEdge edge, double delta);
    // Mode 1 drags the selected action's start, 2 its end, any other the whole action.
    void dragAction(const TrackAction& action, int mode, double delta, double tolerance);

    // Puts a movie, sound file or still on new tracks at the in mark or the
    // playhead (copied into the open package first); a failure goes to
    // exportError. Nothing before a successful load. `done` runs on the main
    // thread when the import has ended.
    void addMedia(const std::filesystem::path& url, std::function<void()> done = {});
    // --- end of overlay, property and drag operations ---

signals:
    void documentURLChanged();
    void tracksChanged();
    void selectedClipsChanged();
    void gapChanged();
    void selectedTrackIDChanged();
    void selectedActionIDChanged();
    void matrixSelectionChanged();
    void markInChanged();
    void markOutChanged();
    void peaksChanged();
    void thumbnailsChanged();
    void showClicksChanged();
    void hasClicksChanged();
    void cursorStyleChanged();
    void isPlayingChanged();
    void loadErrorChanged();
    void canUndoChanged();
    void canRedoChanged();
    void pixelsPerSecondChanged();
    void trackHeightChanged();
    void exportProgressChanged();
    void lastExportChanged();
    void exportErrorChanged();
    void isEditingTextChanged();
    void snappingChanged();
    void frameRateChanged();

private:
    struct SaveState;
    static std::shared_ptr<SaveState> makeSaveState();

    void setIsPlaying(bool playing);
    void setCanUndo(bool value);
    void setCanRedo(bool value);
    void setHasClicks(bool value);
    void setLoadError(std::optional<std::string> message);
    void setDocumentURL(std::optional<std::filesystem::path> url);
    void restore(Snapshot snapshot);
    void refreshPreviewVideo();
    void refreshAudioMix();
    void seekPlayer(double time);
    void setExportProgress(std::optional<double> progress);
    void setLastExport(std::optional<std::filesystem::path> file);
    // The end of an export that is refused before its session starts.
    void refuseExport(const std::string& message, const ExportCompletion& done);
    void finishExport(platform::ExportSession& session, QTimer* poll, const std::filesystem::path& to,
                      const ExportCompletion& done);

    // Helpers of the selection and cut operations.
    // Relink keys: a cut piece's old link in upper-case text, "#", its side.
    using RelinkMap = std::map<std::string, Uuid>;
    struct Piece {
        Clip clip;
        int side = 0;  // 0 before the (first) cut, 1 and 2 after
    };
    // Selected clips, else every clip under `t` on every track.
    std::set<Uuid> targetClips(double t) const;
    // Track index and clip index of the first clip with the id.
    std::optional<std::pair<std::size_t, std::size_t>> locate(const Uuid& id) const;
    // The pieces with new links per old link and side, kept in `map`.
    static std::vector<Clip> relink(std::vector<Piece> pieces, RelinkMap& map);
    // The span of the file that clips of this stream may use, in the file's seconds.
    std::pair<double, double> sourceRange(const MediaRef& media) const;
    void removeRange(double start, double end, const std::optional<std::set<Uuid>>& only, bool closeGap);
    void closeGap(const Gap& gap);
    // Sets the playhead to `t` limited to the edit and seeks there.
    void movePlayhead(double t);

    std::function<void(double)> rebuildStub_;
    // --- end of selection and cut helpers ---

    // Helpers of the overlay, property and drag operations.
    // The index of a free effects track for the clip, inserting one at the top when none is free.
    int effectTrack(const Clip& clip, const std::optional<Uuid>& preferring);
    // After a property edit: the preview and mix in place, or a rebuild when
    // the edit outgrew the built composition by more than 0.05 s.
    void refreshAll();
    // The drag-start layout: the last undo snapshot, else the current tracks.
    const SnapshotTracks& dragStartTracks(SnapshotTracks& copy) const;
    // The span a trim may use: sourceRange, but unbounded for a stream the file doesn't have.
    std::pair<double, double> trimRange(const MediaRef& media) const;
    void importMedia(const std::filesystem::path& file, std::function<void()> done);
    // For jobs of the writers: whether they may replace a file (kept aside
    // first when the load asked for it).
    std::function<bool(const std::filesystem::path&)> replaceGuard() const;
    // --- end of overlay, property and drag helpers ---

    // Loading, step by step (EditorModelLoading.cpp).
    void loadFromRecording();
    void loadRecordingSource(std::optional<RecordingInfo> projectInfo);
    void takeInfo(RecordingInfo info);
    void loadProjectMedia(std::size_t trackIndex, std::size_t clipIndex, std::function<void()> then);
    void takeProject(const Project& project);
    void finishLoad();
    void failLoad(const std::string& message);

    // The cached source of a file, opened in the background when missing;
    // null when it can't be opened, with the reason to tell the user when
    // there is one (else empty).
    void loadSource(const std::string& path, std::function<void(const MediaSource*, const std::string& why)> done);
    void loadSources(std::vector<std::string> paths, std::function<void()> done);

    // Conversion (EditorModelConversion.cpp).
    void convertOldEdit(const MediaSource& source, std::function<void()> done);
    void fillClipAspects();

    // Saving (EditorModelSaving.cpp).
    void updateInfo();
    ProjectFile projectFile() const;
    void usePaths(std::map<std::string, std::string> map, std::function<void()> done);
    // Before the first write over `file`: the file must be kept as a backup.
    void keepBeforeFirstWrite(const std::filesystem::path& file);
    // The writer of the document at `document`; whenSaved waits for it from now on.
    DocumentWriter& writerOf(const std::filesystem::path& document);

    std::filesystem::path url_;
    std::optional<std::filesystem::path> documentURL_;
    std::unique_ptr<platform::Player> player_;
    std::unique_ptr<PlayheadClock> clock_;
    std::vector<Track> tracks_;
    std::set<Uuid> selectedClips_;
    std::optional<Gap> gap_;
    std::optional<Uuid> selectedTrackID_;
    std::optional<Uuid> selectedActionID_;
    std::optional<MatrixSelection> matrixSelection_;
    std::optional<double> markIn_;
    std::optional<double> markOut_;
    PeakMap peaks_;
    ThumbnailMap thumbnails_;
    bool showClicks_ = false;
    bool hasClicks_ = false;
    std::optional<CursorStyle> cursorStyle_;
    bool isPlaying_ = false;
    std::optional<std::string> loadError_;
    bool canUndo_ = false;
    bool canRedo_ = false;
    std::optional<double> pixelsPerSecond_;
    double timelineWidth_ = 1000;
    double trackHeight_ = 40;
    std::optional<double> exportProgress_;
    std::optional<std::filesystem::path> lastExport_;
    std::optional<std::string> exportError_;
    bool isEditingText_ = false;
    bool snapping_ = true;
    double aspect_ = 16.0 / 9.0;
    MediaSources sources_;
    int frameRate_ = 30;
    QSize screenSize_{1920, 1080};
    std::vector<ClickEvent> clicks_;
    std::vector<CursorSample> cursorSamples_;
    RecordingInfo info_;
    // info_ as loaded, shared with the autosaves: they take it as it is,
    // without copying a long pointer path on every edit.
    std::shared_ptr<const RecordingInfo> loadedInfo_;
    std::vector<Snapshot> undoStack_;  // oldest first, at most undoLimit
    std::vector<Snapshot> redoStack_;
    int timeObserver_ = 0;
    std::optional<Built> built_;
    bool loaded_ = false;
    std::vector<ClipboardEntry> clipboard_;
    // The running export; its progress poll (a child timer) holds it too.
    std::shared_ptr<platform::ExportSession> exportSession_;

    std::unique_ptr<QSettings> settings_;
    PathChooser pathChooser_;
    // Completions of load() calls waiting for the one running.
    std::vector<std::function<void()>> loadWaiters_;
    bool loading_ = false;
    // Media whose peaks or thumbnails are being made.
    std::unordered_set<MediaRef> peaksPending_;
    std::unordered_set<MediaRef> thumbnailsPending_;
    // Between the steps of a load: the recording's source.
    std::optional<MediaSource> recordingSource_;
    // What the autosave writes, as a load that left tracks out took it: the
    // file is not written while the state is this one (until the first edit).
    struct SavedState {
        std::vector<Track> tracks;
        bool showClicks = false;
        std::optional<CursorStyle> cursorStyle;
    };
    bool keepFileUntilEdit_ = false;  // between the steps of a load
    std::optional<SavedState> unsavedLoad_;
    // Shared with the writers' jobs, under its own lock.
    std::shared_ptr<SaveState> saveState_;
    // Every writer this model has queued work to, in the order first used.
    std::vector<std::pair<std::filesystem::path, std::shared_ptr<DocumentWriter>>> writers_;

    // Last, so that they are cancelled before the fields their jobs feed.
    JobChain sourceLoader_;
    JobChain peakLoader_{JobChain::Drop::queued, WorkPool::decoding};
    JobChain thumbnailLoader_{JobChain::Drop::queued, WorkPool::decoding};
};

} // namespace ondexa
