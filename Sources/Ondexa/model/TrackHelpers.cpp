// Helpers the editor and the composition builder share: where a track ends,
// which clip lies under a time, lanes, cutting, copying with new identities,
// and the one-time move of older track-level settings onto clips.

#include "Timeline.h"

#include <algorithm>

namespace ondexa {

namespace {

// Clips that touch end to end within this share a lane.
constexpr double laneTolerance = 0.0001;
// Neither part of a cut may be shorter than this.
constexpr double shortestPart = 0.005;
// Keeps a very short effects overlay visible and selectable as a clip.
constexpr double shortestEffectsClip = 0.1;

// The first clip in stored order that covers the time.
template <class Clips>
auto clipCovering(Clips& clips, double time) -> decltype(clips.data())
{
    for (auto& clip : clips) {
        if (clip.start <= time && time < clip.end()) return &clip;
    }
    return nullptr;
}

// The action that a track-level zoom area of older states stands for.
TrackAction zoomAction(const Overlay& zoom, const Clip& clip, double outputAspect)
{
    const PictureState base = clip.baseState(outputAspect);
    const bool fitsWidth = outputAspect / clip.aspect <= 1;
    const double fx = fitsWidth ? 1 : clip.aspect / outputAspect;
    const double fy = fitsWidth ? outputAspect / clip.aspect : 1;
    const NRect& r = zoom.rect;
    const double k = 1 / std::max(0.05, r.w);
    TrackAction action;
    action.start = zoom.start;
    action.end = zoom.end;
    action.scale = base.scale * k;
    action.centerX = base.centerX - k * base.scale * fx * (r.x + r.w / 2 - 0.5);
    action.centerY = base.centerY - k * base.scale * fy * (r.y + r.h / 2 - 0.5);
    action.returns = true;
    return action;
}

Clip effectsClip(const Overlay& overlay)
{
    Clip clip;
    clip.start = overlay.start;
    clip.duration = std::max(overlay.end - overlay.start, shortestEffectsClip);
    clip.overlay = overlay;
    return clip;
}

} // namespace

double Track::end() const
{
    double clipsEnd = 0;
    if (!clips.empty()) {
        clipsEnd = std::max_element(clips.begin(), clips.end(), [](const Clip& a, const Clip& b) {
                       return a.end() < b.end();
                   })->end();
    }
    double effectsEnd = 0;
    if (!effects.empty()) {
        effectsEnd = std::max_element(effects.begin(), effects.end(), [](const Overlay& a, const Overlay& b) {
                         return a.end < b.end;
                     })->end;
    }
    return std::max(clipsEnd, effectsEnd);
}

const Clip* Track::clip(double time) const
{
    return clipCovering(clips, time);
}

std::vector<std::vector<Clip>> Track::lanes() const
{
    std::vector<std::vector<Clip>> lanes;
    for (Clip& clip : effectiveClips()) {
        auto lane = std::find_if(lanes.begin(), lanes.end(), [&](const std::vector<Clip>& lane) {
            return lane.back().end() <= clip.start + laneTolerance;
        });
        if (lane == lanes.end()) {
            lanes.push_back({std::move(clip)});
        } else {
            lane->push_back(std::move(clip));
        }
    }
    return lanes;
}

std::optional<std::pair<Clip, Clip>> Clip::split(double time) const
{
    const double t = time - start;
    // Written as a positive test so that a NaN time gives no split either.
    if (!(t >= shortestPart && duration - t >= shortestPart)) return std::nullopt;

    Clip first = renewed();
    first.duration = t;
    first.fadeIn = std::min(t, fadeIn);
    first.fadeOut = 0;
    first.actions.clear();

    Clip second = renewed();
    second.start = time;
    second.sourceStart = sourceStart + t;
    second.duration = duration - t;
    second.fadeIn = 0;
    second.fadeOut = std::min(duration - t, fadeOut);
    second.actions.clear();

    // Actions keep their ids: one that spans the cut is the same action in both parts.
    for (const TrackAction& action : actions) {
        if (action.start < t) {
            TrackAction part = action;
            part.end = std::min(action.end, t);
            first.actions.push_back(part);
        }
        if (action.end > t) {
            TrackAction part = action;
            part.start = std::max(action.start - t, 0.0);
            part.end = action.end - t;
            second.actions.push_back(part);
        }
    }
    return std::pair{std::move(first), std::move(second)};
}

Clip Clip::renewed() const
{
    Clip copy = *this;
    copy.id = Uuid::random();
    for (TrackAction& action : copy.actions) action.id = Uuid::random();
    if (copy.overlay) copy.overlay->id = Uuid::random();
    return copy;
}

Track Track::duplicated(const std::string& newName) const
{
    Track copy = *this;
    copy.id = Uuid::random();
    copy.name = newName;
    for (Clip& clip : copy.clips) clip = clip.renewed();
    return copy;
}

void Track::moveSettingsToClips(double outputAspect)
{
    for (Clip& clip : clips) {
        if (!clip.media && media.kind != MediaKind::effects) clip.media = media;
        if (isPicture()) {
            if (!clip.frame) clip.frame = frame;
            clip.aspect = aspect;
            clip.rotation = rotation;
            clip.rounded = rounded;
        }
    }

    for (const Overlay& zoom : zooms) {
        if (const Clip* clip = clipCovering(clips, zoom.start)) actions.push_back(zoomAction(zoom, *clip, outputAspect));
    }

    for (const TrackAction& action : actions) {
        Clip* clip = clipCovering(clips, action.start);
        if (!clip) continue;
        TrackAction moved = action;
        moved.start = action.start - clip->start;
        moved.end = std::min(action.end - clip->start, clip->duration);
        clip->actions.push_back(moved);
    }

    for (const Overlay& overlay : effects) clips.push_back(effectsClip(overlay));
    std::stable_sort(clips.begin(), clips.end(), [](const Clip& a, const Clip& b) { return a.start < b.start; });

    effects.clear();
    zooms.clear();
    actions.clear();
    frame.reset();
    rotation = 0;
}

} // namespace ondexa
