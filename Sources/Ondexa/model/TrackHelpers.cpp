// Helpers the editor and the composition builder share: where a track ends,
// which clip lies under a time, lanes, cutting, copying with new identities,
// and the one-time move of older track-level settings onto clips.

#include "CrossFades.h"
#include "Timeline.h"

#include <algorithm>
#include <limits>

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

// The end of the last clip of each lane, in a tree of minima, so that the
// first lane a clip fits into is found without looking at every lane. The
// tree grows with the lanes; leaves of lanes not opened yet hold infinity
// and so take nothing.
class LaneEnds {
public:
    std::size_t count() const { return count_; }

    // The first lane whose end is at most the time; count() when none is.
    std::size_t firstAtMost(double time) const
    {
        if (count_ == 0 || !(tree_[1] <= time)) return count_;
        std::size_t node = 1;
        while (node < leaves_) node = tree_[2 * node] <= time ? 2 * node : 2 * node + 1;
        return node - leaves_;
    }

    // Sets the end of a lane; count() opens a new one.
    void set(std::size_t lane, double end)
    {
        if (lane == count_ && ++count_ > leaves_) grow();
        std::size_t node = leaves_ + lane;
        tree_[node] = end;
        for (node /= 2; node > 0; node /= 2) tree_[node] = std::min(tree_[2 * node], tree_[2 * node + 1]);
    }

private:
    void grow()
    {
        const std::size_t leaves = std::max<std::size_t>(2 * leaves_, 1);
        std::vector<double> tree(2 * leaves, std::numeric_limits<double>::infinity());
        std::copy(tree_.begin() + static_cast<std::ptrdiff_t>(leaves_), tree_.end(),
                  tree.begin() + static_cast<std::ptrdiff_t>(leaves));
        for (std::size_t node = leaves; node-- > 1;) tree[node] = std::min(tree[2 * node], tree[2 * node + 1]);
        leaves_ = leaves;
        tree_ = std::move(tree);
    }

    std::size_t count_ = 0;
    std::size_t leaves_ = 0;
    std::vector<double> tree_;  // node k has children 2k and 2k + 1; leaves from leaves_ on
};

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
    // Lanes first, copies after: each clip is copied once, straight into a
    // lane that already has room for all of its clips.
    const CrossFades fades = crossFades(clips);
    LaneEnds ends;
    std::vector<std::size_t> laneOf(clips.size());
    for (std::size_t i = 0; i < clips.size(); ++i) {
        const Clip& clip = clips[fades.order[i]];
        laneOf[i] = ends.firstAtMost(clip.start + laneTolerance);
        ends.set(laneOf[i], clip.end());
    }
    std::vector<std::size_t> sizes(ends.count());
    for (const std::size_t lane : laneOf) ++sizes[lane];
    std::vector<std::vector<Clip>> lanes(ends.count());
    for (std::size_t lane = 0; lane < lanes.size(); ++lane) lanes[lane].reserve(sizes[lane]);
    for (std::size_t i = 0; i < clips.size(); ++i) {
        Clip& clip = lanes[laneOf[i]].emplace_back(clips[fades.order[i]]);
        clip.fadeIn = fades.fadeIn[i];
        clip.fadeOut = fades.fadeOut[i];
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
