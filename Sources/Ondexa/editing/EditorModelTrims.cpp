// Trims, fades and action drags. Like the moves, each call starts again from
// the drag-start copies and the total offset, so dragging back undoes a drag
// in progress exactly.

#include "Ondexa/editing/EditorModel.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ondexa {

namespace {

// A linked clip follows a trim when its same edge lies closer than this.
constexpr double kLinkedEdge = 0.01;
// The shortest clip a trim leaves.
constexpr double kShortestClip = 0.02;
// A front trim removes the actions it leaves this short or shorter.
constexpr double kShortestTrimmedAction = 0.05;
// The shortest action an edge drag leaves.
constexpr double kShortestDraggedAction = 0.1;

double edgeOf(const Clip& clip, EditorModel::ClipEdge edge)
{
    return edge == EditorModel::ClipEdge::front ? clip.start : clip.start + clip.duration;
}

} // namespace

std::pair<double, double> EditorModel::trimRange(const MediaRef& media) const
{
    // A stream the file doesn't have gives sourceRange's empty span, which
    // would squeeze any trimmed clip to its shortest. It is bounded like
    // media that is not loaded instead.
    const auto found = sources_.find(media.path);
    if (found != sources_.end() && (media.kind == MediaKind::video || media.kind == MediaKind::audio)) {
        const std::size_t count =
            media.kind == MediaKind::video ? found->second.video.size() : found->second.audio.size();
        if (media.index < 0 || std::size_t(media.index) >= count) return {0, std::numeric_limits<double>::max()};
    }
    return sourceRange(media);
}

void EditorModel::trimClip(const Clip& clip, ClipEdge edge, double delta, double tolerance)
{
    if (!locate(clip.id)) return;
    // An offset that is not a number would end in clips that can't be saved.
    if (!std::isfinite(delta)) delta = 0;
    const double e0 = edgeOf(clip, edge);
    // Only the trimmed clip is excluded: its partners' edges, where the last
    // call put them, attract it.
    if (const auto s = snapped(e0 + delta, clip.id, tolerance)) delta = *s - e0;

    SnapshotTracks copy;
    const SnapshotTracks& base = dragStartTracks(copy);
    std::vector<Clip> group{clip};
    if (clip.link) {
        for (const SnapshotTrack& track : base)
            for (const Clip& c : track.clips())
                if (c.link == clip.link && c.id != clip.id && std::abs(edgeOf(c, edge) - e0) < kLinkedEdge)
                    group.push_back(c);
    }

    // One shared delta, as far as the most limited member allows; the
    // shortest length wins over the media's bounds.
    for (const Clip& g : group) {
        const auto place = locate(g.id);
        if (!place) continue;
        const MediaRef media = mediaOf(g, tracks_[place->first]);
        const auto [lo, hi] = trimRange(media);
        if (edge == ClipEdge::front) {
            delta = std::max(delta, lo - g.sourceStart);
            delta = std::max(delta, -g.start);
            delta = std::min(delta, g.duration - kShortestClip);
        } else {
            delta = std::min(delta, hi - (g.sourceStart + g.duration));
            delta = std::max(delta, kShortestClip - g.duration);
        }
    }

    bool changed = false;
    for (const Clip& g : group) {
        const auto place = locate(g.id);
        if (!place) continue;
        Clip n = g;
        if (edge == ClipEdge::front) {
            n.start = g.start + delta;
            n.sourceStart = g.sourceStart + delta;
            n.duration = g.duration - delta;
            // The actions keep their place on the timeline.
            n.actions.clear();
            for (TrackAction action : g.actions) {
                action.start = std::max(0.0, action.start - delta);
                action.end = action.end - delta;
                if (action.end - action.start > kShortestTrimmedAction) n.actions.push_back(std::move(action));
            }
        } else {
            n.duration = g.duration + delta;
        }
        n.fadeIn = std::min(g.fadeIn, n.duration);
        n.fadeOut = std::min(g.fadeOut, n.duration);
        tracks_[place->first].clips[place->second] = std::move(n);
        changed = true;
    }
    if (changed) emit tracksChanged();
}

void EditorModel::setFade(const Clip& clip, ClipEdge edge, double delta)
{
    const auto place = locate(clip.id);
    if (!place) return;
    Clip& stored = tracks_[place->first].clips[place->second];
    double v = edge == ClipEdge::front ? clip.fadeIn + delta : clip.fadeOut - delta;
    if (!(v > 0)) v = 0;
    // Last, so that the two fades together never exceed the clip.
    v = std::min(v, stored.duration - (edge == ClipEdge::front ? stored.fadeOut : stored.fadeIn));
    (edge == ClipEdge::front ? stored.fadeIn : stored.fadeOut) = v;
    emit tracksChanged();
    refreshAll();
}

void EditorModel::dragAction(const TrackAction& action, int mode, double delta, double tolerance)
{
    // The selected action's clip, found in place (the tracks are not copied).
    if (!selectedActionID_) return;
    const Clip* owner = nullptr;
    for (const Track& track : tracks_) {
        for (const Clip& clip : track.clips) {
            if (std::any_of(clip.actions.begin(), clip.actions.end(),
                            [&](const TrackAction& a) { return a.id == *selectedActionID_; })) {
                owner = &clip;
                break;
            }
        }
        if (owner) break;
    }
    if (!owner) return;
    if (!std::isfinite(delta)) delta = 0;
    const double cs = owner->start;
    const double clipDuration = owner->duration;
    const double s0 = action.start;
    const double e0 = action.end;
    TrackAction n = action;

    if (mode == 2) {
        n.end = std::max(s0 + kShortestDraggedAction, e0 + delta);
        if (const auto p = snapped(cs + n.end, action.id, tolerance); p && *p - cs > s0 + kShortestDraggedAction)
            n.end = *p - cs;
    } else if (mode == 1) {
        n.start = std::min(std::max(s0 + delta, 0.0), e0 - kShortestDraggedAction);
        if (const auto p = snapped(cs + n.start, action.id, tolerance); p && *p - cs < e0 - kShortestDraggedAction)
            n.start = std::max(*p - cs, 0.0);
    } else {
        const double length = e0 - s0;
        double v = std::max(s0 + delta, 0.0);
        if (const auto p = snapped(cs + v, action.id, tolerance)) {
            v = std::max(*p - cs, 0.0);
        } else if (const auto q = snapped(cs + v + length, action.id, tolerance)) {
            v = std::max(*q - cs - length, 0.0);
        }
        // Last: the end stays within the clip.
        v = std::min(v, clipDuration - length);
        n.start = v;
        n.end = v + length;
    }
    updateAction(n);
}

} // namespace ondexa
