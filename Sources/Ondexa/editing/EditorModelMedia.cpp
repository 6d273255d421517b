// Adding a movie, sound file or still picture as new tracks: a picture framed
// small in the middle of the output, its sound at the bottom, both linked.

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/model/ProjectFile.h"

#include <algorithm>

namespace ondexa {

namespace fs = std::filesystem;

// The file that a write of the document at `document` replaces.
fs::path documentFile(const fs::path& document);

namespace {

constexpr const char* kCannotOpen = "A fájl nem nyitható meg: ";
// A still without an out mark after its start lasts this long.
constexpr double kStillLength = 3;
// An added picture is a third of the output wide, centred.
constexpr double kPictureWidth = 0.34;

Track importedTrack(std::string name, MediaRef media)
{
    Track track;
    track.name = std::move(name);
    track.media = std::move(media);
    return track;
}

Clip importedClip(const MediaRef& media, double start, double sourceStart, double duration, double aspect)
{
    Clip clip;
    clip.start = start;
    clip.sourceStart = sourceStart;
    clip.duration = duration;
    clip.media = media;
    clip.aspect = aspect;
    return clip;
}

// Centred, a third wide, keeping the picture's own shape in the output.
NRect pictureFrame(double outputAspect, double pictureAspect)
{
    NRect frame;
    frame.w = kPictureWidth;
    frame.x = (1 - kPictureWidth) / 2;
    frame.h = outputAspect * kPictureWidth / pictureAspect;
    frame.y = 0.5 - frame.h / 2;
    return frame;
}

} // namespace

void EditorModel::addMedia(const fs::path& url, std::function<void()> done)
{
    // Before a load there is no edit to write into the package beside the copy.
    if (!loaded_) {
        if (done) done();
        return;
    }
    if (!documentURL_) {
        importMedia(url, std::move(done));
        return;
    }

    // The copy and the edit as it stands go into the package in one job, so
    // "project.json" holds the user's edit whether or not this editor is still
    // there when the copy ends. The new tracks follow with their commit.
    updateInfo();
    writerOf(*documentURL_).run<std::optional<fs::path>>(
        this,
        [mayReplace = replaceGuard(), file = projectFile(), document = *documentURL_, path = url.string()]()
            -> std::optional<fs::path> {
            try {
                if (!mayReplace(documentFile(document))) return std::nullopt;
                const auto copies = file.writePackage(document, false, {path});
                if (const auto copy = copies.find(path); copy != copies.end()) return fs::path(copy->second);
            } catch (const std::exception&) {
                // The file is added from where it lies.
            }
            return std::nullopt;
        },
        [this, url, done = std::move(done)](std::optional<fs::path> copy) mutable {
            importMedia(copy.value_or(url), std::move(done));
        });
}

void EditorModel::importMedia(const fs::path& file, std::function<void()> done)
{
    const std::string path = file.string();
    loadSource(path, [this, file, path, done = std::move(done)](const MediaSource* source, const std::string& why) {
        if (!source) {
            setExportError(why.empty() ? kCannotOpen + file.filename().string() : why);
            if (done) done();
            return;
        }
        // Taken now: the user may have moved the playhead while the file opened.
        const double t0 = markIn_.value_or(clock_->time());
        const std::string name = file.stem().string();

        std::vector<Track> pictures;
        std::vector<Track> sounds;
        if (source->isStill()) {
            const MediaRef media{path, MediaKind::image, 0};
            const double aspect = double(source->image.width()) / double(source->image.height());
            const double length = markOut_ && *markOut_ > t0 ? *markOut_ - t0 : kStillLength;
            Clip clip = importedClip(media, t0, 0, length, aspect);
            clip.frame = pictureFrame(aspect_, aspect);
            pictures.push_back(importedTrack(name, media));
            pictures.back().clips.push_back(std::move(clip));
        } else {
            if (!source->video.empty()) {
                const auto& stream = source->video.front();
                const MediaRef media{path, MediaKind::video, 0};
                Clip clip = importedClip(media, t0, stream.range.start.seconds(), stream.range.duration.seconds(),
                                         stream.aspect);
                clip.frame = pictureFrame(aspect_, stream.aspect);
                pictures.push_back(importedTrack(name, media));
                pictures.back().clips.push_back(std::move(clip));
            }
            if (!source->audio.empty()) {
                const auto& stream = source->audio.front();
                const MediaRef media{path, MediaKind::audio, 0};
                sounds.push_back(importedTrack(name + " – hang", media));
                sounds.back().clips.push_back(importedClip(media, t0, stream.range.start.seconds(),
                                                           stream.range.duration.seconds(), Clip::defaultAspect));
            }
        }
        // Picture and sound of one file move and trim together.
        if (!pictures.empty() && !sounds.empty()) {
            const Uuid link = Uuid::random();
            for (Track& track : pictures) track.clips.front().link = link;
            for (Track& track : sounds) track.clips.front().link = link;
        }

        const auto isKind = [](std::initializer_list<MediaKind> kinds) {
            return [kinds](const Track& track) {
                return std::find(kinds.begin(), kinds.end(), track.media.kind) != kinds.end();
            };
        };
        auto at = std::find_if(tracks_.begin(), tracks_.end(), isKind({MediaKind::video, MediaKind::image}));
        if (at == tracks_.end()) at = std::find_if(tracks_.begin(), tracks_.end(), isKind({MediaKind::audio}));
        const std::size_t index = std::size_t(at - tracks_.begin());

        std::set<Uuid> added;
        for (const Track& track : pictures) added.insert(track.clips.front().id);
        for (const Track& track : sounds) added.insert(track.clips.front().id);
        std::optional<Uuid> selectedTrack;
        if (!pictures.empty()) selectedTrack = pictures.front().id;
        else if (!sounds.empty()) selectedTrack = sounds.front().id;

        std::vector<Track> tracks = tracks_;
        tracks.insert(tracks.begin() + std::ptrdiff_t(index), pictures.begin(), pictures.end());
        tracks.insert(tracks.end(), sounds.begin(), sounds.end());
        commit(std::move(tracks));
        setSelectedClips(std::move(added));
        setSelectedTrackID(selectedTrack);
        loadPeaks();
        loadThumbnails();
        if (done) done();
    });
}

} // namespace ondexa
