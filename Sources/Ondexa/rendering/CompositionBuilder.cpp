#include "Ondexa/rendering/CompositionBuilder.h"

#include "Ondexa/rendering/EditCompositor.h"
#include "Ondexa/rendering/EditInstruction.h"
#include "Ondexa/rendering/RenderState.h"
#include "Platform/media/MediaError.h"

#include <algorithm>
#include <cmath>

namespace ondexa {

using platform::Composition;
using platform::MediaTime;
using platform::TimeRange;

namespace {

MediaTime at(double seconds)
{
    return MediaTime::fromSeconds(seconds, MediaTime::kDefaultTimescale);
}

bool admitted(const TrackFilter& include, const Track& track)
{
    return !include || include->contains(track.id);
}

const MediaSource* sourceOf(const RenderSettings& settings, const std::string& path)
{
    if (!settings.sources) return nullptr;
    const auto found = settings.sources->find(path);
    return found == settings.sources->end() ? nullptr : &found->second;
}

// Puts one clip's part of its stream on a lane; false when nothing of it
// could be placed.
bool insertClip(Composition& composition, std::int32_t trackId, const MediaSource& source,
                const platform::StreamInfo& stream, const TimeRange& streamRange, const Clip& clip)
{
    const MediaTime wantedStart = at(clip.sourceStart);
    const MediaTime wantedEnd = at(clip.sourceStart + clip.duration);
    if (!wantedStart.isNumeric() || !wantedEnd.isNumeric() || !streamRange.isValid()) return false;
    const MediaTime from = std::max(wantedStart, streamRange.start);
    const MediaTime to = std::min(wantedEnd, streamRange.end());
    if (!(to > from)) return false;

    // A stream that starts after the clip's source start keeps its sync.
    const MediaTime insertion = at(clip.start) + (from - wantedStart);
    try {
        const Composition::Track* lane = composition.track(trackId);
        MediaTime laneEnd = lane->end();
        if (insertion > laneEnd) {
            composition.insertEmptyTimeRange(trackId, TimeRange::fromStartEnd(laneEnd, insertion));
            laneEnd = insertion;
        }
        composition.insertTimeRange(trackId, source.asset, stream, TimeRange::fromStartEnd(from, to),
                                    std::max(insertion, laneEnd));
    } catch (const platform::MediaError&) {
        return false;  // only this clip is lost
    }
    return true;
}

// The first video stream of any loaded file, the lowest path first so that a
// build does not depend on the table's order.
const MediaSource::VideoStream* fillerStream(const RenderSettings& settings, const MediaSource** owner)
{
    if (!settings.sources) return nullptr;
    const std::string* best = nullptr;
    for (const auto& [path, source] : *settings.sources)
        if (!source.video.empty() && source.asset && (!best || path < *best)) best = &path;
    if (!best) return nullptr;
    *owner = &settings.sources->at(*best);
    return &(*owner)->video.front();
}

// A video track spanning the whole timeline, so the picture runs on where
// only sound, stills or overlays remain. The compositor never draws it.
void addFiller(Composition& composition, Built& built, const RenderSettings& settings, double duration)
{
    MediaTime videoEnd = MediaTime::zero();
    for (std::int32_t id : built.videoTrackIDs)
        if (const Composition::Track* t = composition.track(id)) videoEnd = std::max(videoEnd, t->end());
    const MediaTime end = at(duration);
    if (!end.isNumeric() || !(videoEnd < end)) return;

    const MediaSource* source = nullptr;
    const MediaSource::VideoStream* stream = fillerStream(settings, &source);
    if (!stream) return;
    const std::int32_t id = composition.addTrack(Composition::TrackKind::video);
    try {
        const MediaTime length = std::min(stream->range.duration, MediaTime(1, 30));
        composition.insertTimeRange(id, source->asset, stream->stream, TimeRange(stream->range.start, length),
                                    MediaTime::zero());
        composition.scaleTimeRange(id, TimeRange(MediaTime::zero(), length), end);
    } catch (const platform::MediaError&) {
        composition.removeTrack(id);
        return;
    }
    built.videoTrackIDs.push_back(id);
}

} // namespace

double RenderSettings::duration() const
{
    double end = 0;
    for (const Track& track : tracks) end = std::max(end, track.end());
    return end;
}

Built makeComposition(const RenderSettings& settings, const TrackFilter& include)
{
    auto composition = std::make_shared<Composition>();
    Built built;
    const double duration = settings.duration();

    for (const Track& track : settings.tracks) {
        const bool picture = track.isPicture() && !track.hidden;
        const bool sound = track.media.kind == MediaKind::audio;  // hidden or not
        if ((!picture && !sound) || !admitted(include, track)) continue;

        for (const std::vector<Clip>& lane : track.lanes()) {
            const std::int32_t id =
                composition->addTrack(picture ? Composition::TrackKind::video : Composition::TrackKind::sound);
            for (const Clip& clip : lane) {
                const MediaRef media = mediaOf(clip, track);
                // Stills are drawn by the compositor, not decoded as a track.
                if (picture && media.kind != MediaKind::video) continue;
                const MediaSource* source = sourceOf(settings, media.path);
                if (!source || !source->asset || !source->holds(media)) continue;
                const auto index = static_cast<std::size_t>(media.index);
                if (sound && index >= source->audio.size()) continue;
                if (picture) {
                    const MediaSource::VideoStream& v = source->video[index];
                    insertClip(*composition, id, *source, v.stream, v.range, clip);
                    built.clipTracks[clip.id] = id;
                } else {
                    const MediaSource::AudioStream& a = source->audio[index];
                    insertClip(*composition, id, *source, a.stream, a.range, clip);
                }
            }
            if (composition->track(id)->segments.empty()) {
                composition->removeTrack(id);
            } else if (picture) {
                built.videoTrackIDs.push_back(id);
            } else {
                built.audio.push_back({track.id, id, lane});
            }
        }
    }

    addFiller(*composition, built, settings, duration);
    built.composition = std::move(composition);
    return built;
}

QSize renderSize(QSize screenSize, QSize box)
{
    const double sw = screenSize.width();
    const double sh = screenSize.height();
    const double s = std::min({box.width() / sw, box.height() / sh, 1.0});
    const auto side = [s](double length) {
        const double scaled = length * s;
        int even = std::isfinite(scaled) && scaled > 0 ? static_cast<int>(scaled) & ~1 : 0;
        return even <= 2 ? 2 : even;
    };
    return {side(sw), side(sh)};
}

std::shared_ptr<platform::VideoComposition> makeVideoComposition(const Built& built, const RenderSettings& settings,
                                                                 bool preview, std::optional<QSize> size,
                                                                 const TrackFilter& include)
{
    // Clicks and the pointer belong on the clips that show the recorded screen.
    std::optional<MediaRef> screen;
    for (const Track& track : settings.tracks) {
        if (track.fromRecording && track.media.kind == MediaKind::video && track.media.index == 0) {
            screen = track.media;
            break;
        }
    }

    std::vector<VideoLayer> layers;
    for (auto it = settings.tracks.rbegin(); it != settings.tracks.rend(); ++it) {
        const Track& track = *it;
        if (track.media.kind == MediaKind::audio || track.hidden || !admitted(include, track)) continue;
        VideoLayer layer;
        if (track.media.kind == MediaKind::effects) {
            layer.content = VideoLayer::Effects{};
        } else {
            VideoLayer::Pictures pictures;
            for (const Clip& clip : track.clips) {
                if (const auto found = built.clipTracks.find(clip.id); found != built.clipTracks.end())
                    pictures.video.emplace(clip.id, found->second);
                const MediaRef media = mediaOf(clip, track);
                if (media.kind != MediaKind::image) continue;
                if (const MediaSource* source = sourceOf(settings, media.path); source && source->isStill())
                    pictures.stills.emplace(clip.id, source->image);
            }
            if (pictures.video.empty() && pictures.stills.empty()) continue;
            layer.content = std::move(pictures);
        }
        if (screen)
            for (const Clip& clip : track.clips)
                if (mediaOf(clip, track) == *screen) layer.screenClips.insert(clip.id);
        layer.clips = track.effectiveClips();
        layer.outputAspect = settings.aspect;
        layers.push_back(std::move(layer));
    }

    // The compositor draws the pointer whenever it has a style.
    std::optional<CursorStyle> style;
    if (settings.cursorStyle && settings.cursorStyle->enabled) style = settings.cursorStyle;
    auto state = std::make_shared<RenderState>(
        std::move(layers), std::vector<ClickEvent>(settings.clicks.begin(), settings.clicks.end()),
        settings.showClicks, std::vector<CursorSample>(settings.cursorSamples.begin(), settings.cursorSamples.end()),
        style);

    auto composition = std::make_shared<platform::VideoComposition>();
    composition->renderSize = size ? *size : renderSize(settings.screenSize, preview ? previewBox : exportBox);
    composition->frameDuration = MediaTime(1, settings.frameRate);
    composition->compositorFactory = [] { return std::make_unique<EditCompositor>(); };
    const MediaTime length = built.composition ? built.composition->duration() : MediaTime::zero();
    if (length > MediaTime::zero())
        composition->instructions.push_back(std::make_shared<EditInstruction>(
            TimeRange(MediaTime::zero(), length), built.videoTrackIDs, std::move(state)));
    return composition;
}

} // namespace ondexa
