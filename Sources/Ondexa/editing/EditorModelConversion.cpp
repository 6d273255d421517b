// Older editing states brought to the current form: a recording never
// edited on tracks (kept spans, per-stream volumes, overlays on the
// recording's time line), and projects that kept their annotations and zooms
// in one overlay list.

#include "Ondexa/editing/EditorModel.h"

#include <algorithm>

namespace ondexa {

namespace {

// One kept span of the recording and where it starts on the timeline.
struct Span {
    double start = 0;
    double end = 0;
    double position = 0;
    Uuid link;
};

bool isAnnotation(OverlayKind kind)
{
    return kind == OverlayKind::text || kind == OverlayKind::arrow || kind == OverlayKind::rectangle
           || kind == OverlayKind::ellipse;
}

// The clips of one stream: the parts of the spans it covers.
std::vector<Clip> clipsFor(const std::vector<Span>& spans, const platform::TimeRange& range, const MediaRef& media)
{
    const double rangeStart = range.start.seconds();
    const double rangeEnd = range.end().seconds();
    std::vector<Clip> clips;
    for (const Span& span : spans) {
        const double a = std::max(span.start, rangeStart);
        const double b = std::min(span.end, rangeEnd);
        if (!(a < b)) continue;
        Clip clip;
        clip.start = span.position + (a - span.start);
        clip.sourceStart = a;
        clip.duration = b - a;
        clip.media = media;
        clip.link = span.link;
        clips.push_back(std::move(clip));
    }
    return clips;
}

// The timeline time of a recording time: in the first span that holds it.
std::optional<double> timelineTime(const std::vector<Span>& spans, double time)
{
    for (const Span& span : spans)
        if (span.start <= time && time <= span.end) return span.position + (time - span.start);
    return std::nullopt;
}

} // namespace

void EditorModel::convertOldEdit(const MediaSource& source, std::function<void()> done)
{
    struct Conversion {
        EditorModel* model;
        std::vector<Span> spans;
        std::vector<Track> pictures;
        std::vector<Track> sounds;
        std::vector<Overlay> overlays;  // on the timeline, for arrangeLegacy
        std::vector<Overlay> pending;   // of the side file, on the recording's time line
        std::size_t index = 0;
        std::function<void()> done;

        // Maps the overlays in order; a picture-in-picture with media waits
        // for its file.
        static void next(const std::shared_ptr<Conversion>& c)
        {
            for (; c->index < c->pending.size(); ++c->index) {
                Overlay overlay = c->pending[c->index];
                const auto start = timelineTime(c->spans, overlay.start);
                if (!start) continue;  // begins in a part that was cut away
                const double end = timelineTime(c->spans, overlay.end).value_or(*start + (overlay.end - overlay.start));
                if (overlay.kind != OverlayKind::pip) {
                    overlay.start = *start;
                    overlay.end = end;
                    c->overlays.push_back(std::move(overlay));
                    continue;
                }
                if (overlay.mediaPath) {
                    ++c->index;
                    const std::string path = *overlay.mediaPath;
                    c->model->loadSource(path, [c, overlay, path, start = *start, end](const MediaSource* source, const std::string&) {
                        if (source) c->addPictureInPicture(overlay, path, *source, start, end);
                        else c->frameCamera(overlay);
                        next(c);
                    });
                    return;
                }
                c->frameCamera(overlay);
            }
            std::vector<Track> tracks = std::move(c->pictures);
            tracks.insert(tracks.end(), std::make_move_iterator(c->sounds.begin()),
                          std::make_move_iterator(c->sounds.end()));
            c->model->setTracks(arrangeLegacy(tracks, c->overlays));
            if (auto finish = std::move(c->done)) finish();
        }

        void addPictureInPicture(const Overlay& overlay, const std::string& path, const MediaSource& source,
                                 double start, double end)
        {
            Track track;
            track.name = std::filesystem::path(path).filename().string();
            track.media = MediaRef{path, source.isStill() ? MediaKind::image : MediaKind::video, 0};
            track.fromRecording = false;
            track.frame = overlay.rect;
            track.aspect = overlay.aspect;
            track.rounded = true;
            Clip clip;
            clip.start = start;
            clip.sourceStart = overlay.mediaOffset;
            clip.duration = end - start;
            clip.media = track.media;
            track.clips.push_back(std::move(clip));
            pictures.push_back(std::move(track));
        }

        // A picture-in-picture without its own media placed the camera.
        void frameCamera(const Overlay& overlay)
        {
            if (pictures.size() >= 2) pictures[1].frame = overlay.rect;
        }
    };

    auto c = std::make_shared<Conversion>();
    c->model = this;
    c->done = std::move(done);
    const std::string path = url_.string();

    const double length = source.video.empty() ? 0 : source.video.front().range.end().seconds();
    for (const auto& entry : info_.segments.value_or(std::vector<std::vector<double>>{}))
        if (entry.size() == 2) c->spans.push_back(Span{entry[0], entry[1], 0, Uuid()});
    if (c->spans.empty()) c->spans.push_back(Span{0, length, 0, Uuid()});
    double position = 0;
    for (Span& span : c->spans) {
        span.position = position;
        span.link = Uuid::random();
        position += span.end - span.start;
    }

    for (std::size_t i = 0; i < source.video.size(); ++i) {
        const auto& stream = source.video[i];
        Track track;
        track.name = i == 0 ? "Képernyő" : "Kamera";
        track.media = MediaRef{path, MediaKind::video, int(i)};
        track.clips = clipsFor(c->spans, stream.range, track.media);
        track.fromRecording = true;
        track.aspect = stream.aspect;
        track.rounded = i > 0;
        if (i > 0) {
            const double h = 0.34 * aspect_ / stream.aspect;
            track.frame = NRect{0.33, 0.5 - h / 2, 0.34, h};
        }
        c->pictures.push_back(std::move(track));
    }

    const std::vector<float> volumes = info_.volumes.value_or(std::vector<float>{});
    const std::vector<bool> leveling = info_.leveling.value_or(std::vector<bool>{});
    const bool namesFit = info_.audioTracks.size() == source.audio.size();
    for (std::size_t i = 0; i < source.audio.size(); ++i) {
        Track track;
        track.name = namesFit ? info_.audioTracks[i] : "Hangsáv " + std::to_string(i + 1);
        track.media = MediaRef{path, MediaKind::audio, int(i)};
        track.clips = clipsFor(c->spans, source.audio[i].range, track.media);
        track.fromRecording = true;
        track.volume = i < volumes.size() ? volumes[i] : 1.0f;
        track.maximize = i < leveling.size() && leveling[i];
        c->sounds.push_back(std::move(track));
    }

    c->pending = info_.overlays.value_or(std::vector<Overlay>{});
    Conversion::next(c);
}

std::vector<Track> EditorModel::arrangeLegacy(const std::vector<Track>& tracks, const std::vector<Overlay>& overlays)
{
    std::vector<Track> pictures;
    for (auto it = tracks.rbegin(); it != tracks.rend(); ++it)
        if (it->media.kind != MediaKind::audio) pictures.push_back(*it);

    if (!pictures.empty()) {
        auto target = std::find_if(pictures.begin(), pictures.end(), [](const Track& track) {
            return track.fromRecording && track.media.kind == MediaKind::video && track.media.index == 0;
        });
        if (target == pictures.end()) target = pictures.end() - 1;
        for (const Overlay& overlay : overlays)
            if (overlay.kind == OverlayKind::zoom) target->zooms.push_back(overlay);
    }

    std::vector<Overlay> annotations;
    for (const Overlay& overlay : overlays)
        if (isAnnotation(overlay.kind)) annotations.push_back(overlay);
    std::stable_sort(annotations.begin(), annotations.end(),
                     [](const Overlay& a, const Overlay& b) { return a.start < b.start; });

    std::vector<Track> effects;
    for (const Overlay& annotation : annotations) {
        const auto fits = std::find_if(effects.begin(), effects.end(), [&](const Track& track) {
            return std::all_of(track.effects.begin(), track.effects.end(),
                               [&](const Overlay& placed) { return placed.end <= annotation.start; });
        });
        if (fits != effects.end()) {
            fits->effects.push_back(annotation);
            continue;
        }
        Track track;
        track.name = "Effektek " + std::to_string(effects.size() + 1);
        track.media = MediaRef{"", MediaKind::effects, 0};
        track.fromRecording = false;
        track.effects = {annotation};
        effects.push_back(std::move(track));
    }

    std::vector<Track> result = std::move(effects);
    result.insert(result.end(), std::make_move_iterator(pictures.begin()), std::make_move_iterator(pictures.end()));
    for (const Track& track : tracks)
        if (track.media.kind == MediaKind::audio) result.push_back(track);
    return result;
}

void EditorModel::fillClipAspects()
{
    for (Track& track : tracks_) {
        if (!track.isPicture()) continue;
        for (Clip& clip : track.clips) {
            if (!clip.media) clip.media = track.media;
            if (const auto aspect = mediaAspect(*clip.media)) clip.aspect = *aspect;
        }
    }
    emit tracksChanged();
}

std::optional<double> EditorModel::mediaAspect(const MediaRef& media) const
{
    const auto found = sources_.find(media.path);
    if (found == sources_.end()) return std::nullopt;
    const MediaSource& source = found->second;
    switch (media.kind) {
    case MediaKind::video:
        if (media.index >= 0 && std::size_t(media.index) < source.video.size())
            return source.video[std::size_t(media.index)].aspect;
        return std::nullopt;
    case MediaKind::image:
        if (source.isStill()) return double(source.image.width()) / double(source.image.height());
        return std::nullopt;
    case MediaKind::audio:
    case MediaKind::effects: return std::nullopt;
    }
    return std::nullopt;
}

} // namespace ondexa
