// Export: the span and size a choice covers, and one export session over a
// fresh build of the edit, polled for progress while it runs.

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/model/Files.h"
#include "Ondexa/rendering/AudioMixBuilder.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>

#include <sys/stat.h>

namespace ondexa {

namespace {

constexpr const char* kCannotStart = "Az exportálás nem indítható.";
constexpr const char* kUnknownError = "Ismeretlen hiba az exportálás közben.";
constexpr const char* kSourceAsTarget = "Az exportálás nem indítható: a célfájl a szerkesztés egyik forrásfájlja.";
constexpr const char* kEmptySpan = "Az exportálás nem indítható: az exportálandó szakasz üres.";
constexpr const char* kNoSound = "Az exportálás nem indítható: a kijelölt sávokban nincs hang.";

// The dialog is told this often how far the export has come.
constexpr int kProgressPollMs = 200;

// Whether `target` is (after links) the same file as one of `files`.
bool isOneOf(const std::filesystem::path& target, const std::vector<std::string>& files)
{
    struct stat t {};
    if (::stat(target.c_str(), &t) != 0) return false;
    return std::any_of(files.begin(), files.end(), [&](const std::string& file) {
        struct stat f {};
        return !file.empty() && ::stat(file.c_str(), &f) == 0 && f.st_dev == t.st_dev && f.st_ino == t.st_ino;
    });
}

// Every file the edit reads: the recording, the loaded sources and the media
// that tracks, clips and overlays name.
std::vector<std::string> filesOfTheEdit(const std::filesystem::path& recording, const MediaSources& sources,
                                        const std::vector<Track>& tracks)
{
    std::vector<std::string> files{recording.string()};
    for (const auto& [path, source] : sources) files.push_back(path);
    const auto overlayMedia = [&](const std::vector<Overlay>& overlays) {
        for (const Overlay& overlay : overlays)
            if (overlay.mediaPath) files.push_back(*overlay.mediaPath);
    };
    for (const Track& track : tracks) {
        files.push_back(track.media.path);
        overlayMedia(track.effects);
        overlayMedia(track.zooms);
        for (const Clip& clip : track.clips) {
            if (clip.media) files.push_back(clip.media->path);
            if (clip.overlay && clip.overlay->mediaPath) files.push_back(*clip.overlay->mediaPath);
        }
    }
    return files;
}

} // namespace

ExportExtent EditorModel::exportExtent(ExportOptions::Range range) const
{
    std::optional<ExportExtent> matrix;
    if (matrixSelection_)
        matrix = ExportExtent{matrixSelection_->start, matrixSelection_->end,
                              std::unordered_set<Uuid>(matrixSelection_->tracks.begin(), matrixSelection_->tracks.end())};
    return ondexa::exportExtent(range, duration(), matrix, markIn_, markOut_);
}

QSize EditorModel::exportSize(ExportOptions::Size size) const
{
    return ondexa::exportSize(screenSize_, size);
}

void EditorModel::setExportProgress(std::optional<double> progress)
{
    // Written at every poll, changed or not: the dialog counts on the beat.
    exportProgress_ = progress;
    emit exportProgressChanged();
}

void EditorModel::setLastExport(std::optional<std::filesystem::path> file)
{
    if (lastExport_ == file) return;
    lastExport_ = std::move(file);
    emit lastExportChanged();
}

void EditorModel::refuseExport(const std::string& message, const ExportCompletion& done)
{
    setExportError(message);
    if (done) done(false);
}

void EditorModel::exportTo(const std::filesystem::path& to, const ExportOptions& options, ExportCompletion done)
{
    player_->pause();
    setExportError(std::nullopt);
    const ExportExtent extent = exportExtent(options.range);

    // Replacing the file at `to` would destroy the edit's own media.
    if (isOneOf(to, filesOfTheEdit(url_, sources_, tracks_))) return refuseExport(kSourceAsTarget, done);

    const RenderSettings settings = renderSettings();
    Built built;
    try {
        built = makeComposition(settings, extent.tracks);
    } catch (const std::exception&) {
        return refuseExport(kCannotStart, done);
    }
    if (!built.composition) return refuseExport(kCannotStart, done);

    // The span, cut to the composition: an unchecked matrix or a timeline
    // shorter than its start leaves nothing to write.
    const double length = built.composition->duration().seconds();
    const double start = std::max(extent.start, 0.0);
    const double end = std::min(extent.end, length);
    if (!(end > start)) return refuseExport(kEmptySpan, done);
    if (options.format == ExportOptions::Format::m4a && built.audio.empty()) return refuseExport(kNoSound, done);

    std::shared_ptr<platform::ExportSession> session =
        platform::ExportSession::create(built.composition, exportPreset(options));
    if (!session) return refuseExport(kCannotStart, done);

    // The export is written beside `to` under a temporary name and put in
    // its place only when whole: until then an earlier file there stays, and
    // whatever stops the export (a cancel, a failure, a kill) leaves it so.
    // The name is one the next safe write into the folder removes as litter,
    // once this export no longer holds it.
    auto working = std::make_shared<TemporaryPath>(to);
    session->setOutput(to, exportFileType(options.format));
    session->setWorkingFile(working->path());
    session->setAudioMix(makeAudioMix(built, settings));
    if (options.format != ExportOptions::Format::m4a)
        session->setVideoComposition(
            makeVideoComposition(built, settings, false, exportSize(options.size), extent.tracks));
    session->setTimeRange(platform::TimeRange::fromStartEnd(platform::MediaTime::fromSeconds(start),
                                                            std::min(platform::MediaTime::fromSeconds(end),
                                                                     built.composition->duration())));

    exportSession_ = session;
    setExportProgress(0.0);
    // The poll holds the session (a second export may replace
    // exportSession_ while this one runs) and the model only weakly; it dies
    // with the model, and the session with it.
    auto* poll = new QTimer(this);
    poll->setInterval(kProgressPollMs);
    connect(poll, &QTimer::timeout, this, [self = QPointer<EditorModel>(this), session] {
        if (self && self->exportSession_ == session) self->setExportProgress(double(session->progress()));
    });
    poll->start();
    // The completion holds the temporary name as long as the session may write it.
    session->start([self = QPointer<EditorModel>(this), poll = QPointer<QTimer>(poll),
                    weak = std::weak_ptr<platform::ExportSession>(session), to, done, working] {
        const auto running = weak.lock();
        if (!self || !running) return;
        self->finishExport(*running, poll, to, done);
    });
}

void EditorModel::finishExport(platform::ExportSession& session, QTimer* poll, const std::filesystem::path& to,
                               const ExportCompletion& done)
{
    const platform::ExportSession::Status status = session.status();
    const std::string error = session.error();
    if (exportSession_.get() == &session) {
        setExportProgress(std::nullopt);
        exportSession_.reset();
    }
    // The poll's hold on the session goes last: nothing of it is read after.
    delete poll;

    bool written = false;
    switch (status) {
    case platform::ExportSession::Status::completed:
        setLastExport(to);
        written = true;
        break;
    case platform::ExportSession::Status::cancelled: break;  // the session took its file away
    default: setExportError(error.empty() ? std::string(kUnknownError) : error); break;
    }
    if (done) done(written);
}

} // namespace ondexa
