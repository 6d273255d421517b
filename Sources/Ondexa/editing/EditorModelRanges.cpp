// Taking time out of the timeline: removing the span between the marks from
// clips, and closing a selected gap of one track.

#include "Ondexa/editing/EditorModel.h"

#include <algorithm>

namespace ondexa {

namespace {

// Neither piece of a cut may be shorter than this (as Clip::split).
constexpr double kShortestPart = 0.005;
// A clip starting this little before a gap's end counts as after it.
constexpr double kGapTolerance = 0.0001;

// The part of `clip` from `time` on, when the part before `time` is too
// short for Clip::split to cut off: the content after a removed span must
// survive even when the clip starts just before the span's end.
std::optional<Clip> partFrom(const Clip& clip, double time)
{
    const double t = time - clip.start;
    if (!(t >= 0 && clip.duration - t >= kShortestPart)) return std::nullopt;
    Clip part = clip.renewed();
    part.start = time;
    part.sourceStart = clip.sourceStart + t;
    part.duration = clip.duration - t;
    part.fadeIn = std::max(0.0, clip.fadeIn - t);
    part.fadeOut = std::min(part.duration, clip.fadeOut);
    // Action ids stay, as in a cut.
    part.actions.clear();
    for (TrackAction action : clip.actions) {
        if (!(action.end > t)) continue;
        action.start = std::max(action.start - t, 0.0);
        action.end -= t;
        part.actions.push_back(action);
    }
    return part;
}

} // namespace

void EditorModel::removeRange(double s, double e, const std::optional<std::set<Uuid>>& only, bool closeGap)
{
    const double length = e - s;
    RelinkMap map;
    std::set<Uuid> remnants;
    std::vector<Track> tracks = tracks_;
    for (Track& track : tracks) {
        std::vector<Clip> clips;
        clips.reserve(track.clips.size() + 2);
        for (Clip& clip : track.clips) {
            if ((only && !only->count(clip.id)) || clip.end() <= s) {
                clips.push_back(std::move(clip));
                continue;
            }
            if (clip.start >= e) {
                if (closeGap) clip.start -= length;
                clips.push_back(std::move(clip));
                continue;
            }

            std::vector<Piece> pieces;
            bool keepsAfter = true;
            if (clip.start < s) {
                if (auto parts = clip.split(s)) {
                    pieces.push_back({std::move(parts->first), 0});
                } else if (!(s - clip.start < kShortestPart) && clip.end() - s < kShortestPart) {
                    // Reaches less than a cut's length into the span: kept
                    // whole, and with nothing after the span to keep (its
                    // content would otherwise play twice).
                    pieces.push_back({clip, 0});
                    keepsAfter = false;
                }
                // Otherwise it starts too little before s for a part of its
                // own: only its content after the span stays.
            }
            if (keepsAfter && clip.end() > e) {
                std::optional<Clip> after;
                if (auto parts = clip.split(e)) after = std::move(parts->second);
                else if (e - clip.start < kShortestPart) after = partFrom(clip, e);
                if (after) {
                    if (closeGap) after->start -= length;
                    pieces.push_back({std::move(*after), 1});
                }
            }
            for (Clip& piece : relink(std::move(pieces), map)) {
                remnants.insert(piece.id);
                clips.push_back(std::move(piece));
            }
        }
        track.clips = std::move(clips);
    }

    commit(std::move(tracks));
    if (only) setSelectedClips(std::move(remnants));
    movePlayhead(s);
}

void EditorModel::closeGap(const Gap& gap)
{
    const auto track = std::find_if(tracks_.begin(), tracks_.end(), [&](const Track& t) { return t.id == gap.track; });
    if (track == tracks_.end()) {
        setGap(std::nullopt);
        return;
    }
    std::set<Uuid> moving;
    std::set<Uuid> links;
    for (const Clip& clip : track->clips) {
        if (clip.start < gap.end - kGapTolerance) continue;
        moving.insert(clip.id);
        if (clip.link) links.insert(*clip.link);
    }
    const double length = gap.end - gap.start;
    std::vector<Track> tracks = tracks_;
    for (Track& t : tracks)
        for (Clip& clip : t.clips)
            if (moving.count(clip.id) || (clip.link && links.count(*clip.link)))
                clip.start = std::max(clip.start - length, 0.0);

    const double start = gap.start;  // `gap` may be the selected one, cleared next
    setGap(std::nullopt);
    commit(std::move(tracks));
    movePlayhead(start);
}

void EditorModel::movePlayhead(double t)
{
    t = std::min(std::max(t, 0.0), duration());
    clock_->setTime(t);
    seekPlayer(t);
}

} // namespace ondexa
