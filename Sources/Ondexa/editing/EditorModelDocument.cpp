// The document itself: creation, published fields and their side effects,
// the persisted view settings, and snapshot undo and redo.

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/model/Log.h"

#include <QPointer>
#include <QSettings>

#include <algorithm>
#include <cmath>

namespace ondexa {

namespace {

constexpr const char* kTrackHeight = "trackHeight";
constexpr const char* kSnapping = "snapping";
constexpr double kDefaultTrackHeight = 40;

// An INI store gives its values back as text; QSettings' own cache gives
// them typed. Either form is taken, anything else is not a number.
std::optional<double> doubleOf(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong: {
        const double d = value.toDouble();
        return std::isfinite(d) ? std::optional(d) : std::nullopt;
    }
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        bool ok = false;
        const double d = value.toString().trimmed().toDouble(&ok);
        return ok && std::isfinite(d) ? std::optional(d) : std::nullopt;
    }
    default: return std::nullopt;
    }
}

std::optional<bool> boolOf(const QVariant& value)
{
    if (value.typeId() == QMetaType::Bool) return value.toBool();
    if (value.typeId() != QMetaType::QString && value.typeId() != QMetaType::QByteArray) return std::nullopt;
    const QString text = value.toString().trimmed();
    if (text == QLatin1String("true")) return true;
    if (text == QLatin1String("false")) return false;
    return std::nullopt;
}

bool hasExtension(const std::filesystem::path& url, std::string_view extension)
{
    std::string ext = url.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext == extension;
}

} // namespace

EditorModel::EditorModel(std::filesystem::path url, std::unique_ptr<QSettings> settings, QObject* parent)
    : QObject(parent),
      url_(std::move(url)),
      player_(std::make_unique<platform::Player>()),
      clock_(std::make_unique<PlayheadClock>()),
      settings_(settings ? std::move(settings)
                         : std::make_unique<QSettings>(QStringLiteral("Vendalum"), QStringLiteral("Vendalum")))
{
    trackHeight_ = std::clamp(doubleOf(settings_->value(kTrackHeight)).value_or(kDefaultTrackHeight), minTrackHeight,
                              maxTrackHeight);
    snapping_ = boolOf(settings_->value(kSnapping)).value_or(true);
    // A package is known by its content too: one saved under another name
    // opens as the project it is.
    if (hasExtension(url_, ".vdlproj") || ProjectFile::isPackage(url_)) documentURL_ = url_;

    // While paused only the model's seeks and the views move the playhead.
    timeObserver_ = player_->addPeriodicTimeObserver(
        platform::MediaTime(1, 30), [self = QPointer<EditorModel>(this)](const platform::MediaTime& time) {
            if (self && self->isPlaying_) self->clock_->setTime(time.seconds());
        });
    isPlaying_ = player_->isPlaying();
    connect(player_.get(), &platform::Player::rateChanged, this, [this](double rate) { setIsPlaying(rate > 0); });
    // What the preview cannot play goes to the log, no window of its own;
    // the player says each once and pauses where a file stops decoding.
    connect(player_.get(), &platform::Player::errorOccurred, this,
            [](const QString& message) { logLine(message.toStdString()); });

    saveState_ = makeSaveState();
}

EditorModel::~EditorModel()
{
    // The player goes last among the fields; nothing it does while it stops
    // may reach the clock or this object's signals any more.
    player_->removeTimeObserver(timeObserver_);
    player_->disconnect(this);
}

double EditorModel::duration() const
{
    double end = 0;
    for (const Track& track : tracks_) end = std::max(end, track.end());
    return end;
}

void EditorModel::setTracks(std::vector<Track> tracks)
{
    tracks_ = std::move(tracks);
    emit tracksChanged();
}

void EditorModel::setSelectedClips(std::set<Uuid> clips)
{
    selectedClips_ = std::move(clips);
    emit selectedClipsChanged();
    if (!selectedClips_.empty()) {
        setSelectedActionID(std::nullopt);
        setGap(std::nullopt);
    }
}

void EditorModel::setGap(std::optional<Gap> gap)
{
    gap_ = std::move(gap);
    emit gapChanged();
}

void EditorModel::setSelectedTrackID(std::optional<Uuid> id)
{
    selectedTrackID_ = id;
    emit selectedTrackIDChanged();
}

void EditorModel::setSelectedActionID(std::optional<Uuid> id)
{
    selectedActionID_ = id;
    emit selectedActionIDChanged();
}

std::optional<EditorModel::SelectedAction> EditorModel::selectedAction() const
{
    if (!selectedActionID_) return std::nullopt;
    for (const Track& track : tracks_)
        for (const Clip& clip : track.clips)
            for (const TrackAction& action : clip.actions)
                if (action.id == *selectedActionID_) return SelectedAction{track, clip, action};
    return std::nullopt;
}

void EditorModel::setMatrixSelection(std::optional<MatrixSelection> selection)
{
    matrixSelection_ = std::move(selection);
    emit matrixSelectionChanged();
}

void EditorModel::setMarkIn(std::optional<double> time)
{
    markIn_ = time;
    emit markInChanged();
}

void EditorModel::setMarkOut(std::optional<double> time)
{
    markOut_ = time;
    emit markOutChanged();
}

void EditorModel::setShowClicks(bool show)
{
    showClicks_ = show;
    emit showClicksChanged();
    refreshPreviewVideo();
}

void EditorModel::setHasClicks(bool value)
{
    hasClicks_ = value;
    emit hasClicksChanged();
}

void EditorModel::setCursorStyle(std::optional<CursorStyle> style)
{
    const bool first = !cursorStyle_;
    cursorStyle_ = std::move(style);
    emit cursorStyleChanged();
    // Loading's first assignment neither refreshes nor saves.
    if (!first) refreshPreviewVideo();
}

void EditorModel::setIsPlaying(bool playing)
{
    isPlaying_ = playing;
    emit isPlayingChanged();
}

void EditorModel::setLoadError(std::optional<std::string> message)
{
    loadError_ = std::move(message);
    emit loadErrorChanged();
}

void EditorModel::setCanUndo(bool value)
{
    canUndo_ = value;
    emit canUndoChanged();
}

void EditorModel::setCanRedo(bool value)
{
    canRedo_ = value;
    emit canRedoChanged();
}

void EditorModel::setPixelsPerSecond(std::optional<double> value)
{
    pixelsPerSecond_ = value;
    emit pixelsPerSecondChanged();
}

void EditorModel::setTrackHeight(double height)
{
    trackHeight_ = height;
    emit trackHeightChanged();
    settings_->setValue(kTrackHeight, height);
    settings_->sync();
}

void EditorModel::setExportError(std::optional<std::string> message)
{
    exportError_ = std::move(message);
    emit exportErrorChanged();
}

void EditorModel::setEditingText(bool editing)
{
    isEditingText_ = editing;
    emit isEditingTextChanged();
}

void EditorModel::setSnapping(bool on)
{
    snapping_ = on;
    emit snappingChanged();
    settings_->setValue(kSnapping, on);
    settings_->sync();
}

void EditorModel::setFrameRate(int fps)
{
    frameRate_ = fps;
    emit frameRateChanged();
}

void EditorModel::setDocumentURL(std::optional<std::filesystem::path> url)
{
    documentURL_ = std::move(url);
    emit documentURLChanged();
}

// --- Undo ---

void EditorModel::pushUndo()
{
    if (undoStack_.size() >= undoLimit) undoStack_.erase(undoStack_.begin(), undoStack_.end() - (undoLimit - 1));
    // What is unchanged since the last snapshot is shared with it; after an
    // undo, what the undone edit left alone is shared with the redo step.
    SnapshotTracks tracks(tracks_, undoStack_.empty() ? nullptr : &undoStack_.back().tracks,
                          redoStack_.empty() ? nullptr : &redoStack_.back().tracks);
    undoStack_.push_back(Snapshot{std::move(tracks)});
    redoStack_.clear();
    setCanUndo(true);
    setCanRedo(false);
}

void EditorModel::commit(std::vector<Track> tracks)
{
    pushUndo();
    setTracks(std::move(tracks));
    rebuild(std::min(clock_->time(), duration()));
}

void EditorModel::undo()
{
    if (undoStack_.empty()) return;
    Snapshot snapshot = std::move(undoStack_.back());
    undoStack_.pop_back();
    SnapshotTracks tracks(tracks_, &snapshot.tracks, redoStack_.empty() ? nullptr : &redoStack_.back().tracks);
    redoStack_.push_back(Snapshot{std::move(tracks)});
    restore(std::move(snapshot));
}

void EditorModel::redo()
{
    if (redoStack_.empty()) return;
    Snapshot snapshot = std::move(redoStack_.back());
    redoStack_.pop_back();
    SnapshotTracks tracks(tracks_, &snapshot.tracks, undoStack_.empty() ? nullptr : &undoStack_.back().tracks);
    undoStack_.push_back(Snapshot{std::move(tracks)});
    restore(std::move(snapshot));
}

void EditorModel::restore(Snapshot snapshot)
{
    // Written over the current tracks: their storage is used again.
    std::vector<Track> tracks = std::move(tracks_);
    snapshot.tracks.assignTo(tracks);
    setTracks(std::move(tracks));

    std::set<Uuid> existing;
    for (const Track& track : tracks_)
        for (const Clip& clip : track.clips)
            if (selectedClips_.count(clip.id)) existing.insert(clip.id);
    setSelectedClips(std::move(existing));
    if (selectedActionID_ && !selectedAction()) setSelectedActionID(std::nullopt);

    setCanUndo(!undoStack_.empty());
    setCanRedo(!redoStack_.empty());
    rebuild(std::min(clock_->time(), duration()));
}

} // namespace ondexa
