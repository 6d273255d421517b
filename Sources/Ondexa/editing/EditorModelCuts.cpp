// Cutting and deleting: splits and trims at the playhead, the matrix cut,
// duplicating the selection, deleting what is selected, and the usable span
// of a media stream that trims ask for.

#include "Ondexa/editing/EditorModel.h"

#include <algorithm>
#include <limits>

namespace ondexa {

namespace {

// A clip that ends within this of a removed clip's end counts as after it.
constexpr double kRippleTolerance = 0.0001;
// Neither piece of a cut may be shorter than this (as Clip::split).
constexpr double kShortestPart = 0.005;

} // namespace

void EditorModel::splitAtPlayhead()
{
    const double t = clock_->time();
    const std::set<Uuid> targets = targetClips(t);
    RelinkMap map;
    std::set<Uuid> after;
    bool changed = false;
    std::vector<Track> tracks = tracks_;
    for (Track& track : tracks) {
        std::vector<Clip> clips;
        clips.reserve(track.clips.size() + 2);
        for (Clip& clip : track.clips) {
            std::optional<std::pair<Clip, Clip>> parts;
            if (targets.count(clip.id) && clip.start <= t && t < clip.end()) parts = clip.split(t);
            if (!parts) {
                clips.push_back(std::move(clip));
                continue;
            }
            std::vector<Clip> pieces = relink({{std::move(parts->first), 0}, {std::move(parts->second), 1}}, map);
            if (selectedClips_.count(clip.id)) after.insert(pieces[1].id);
            clips.push_back(std::move(pieces[0]));
            clips.push_back(std::move(pieces[1]));
            changed = true;
        }
        track.clips = std::move(clips);
    }
    if (!changed) return;
    const bool hadSelection = !selectedClips_.empty();
    commit(std::move(tracks));
    if (hadSelection) setSelectedClips(std::move(after));
}

void EditorModel::trimToPlayhead(bool front)
{
    const double t = clock_->time();
    const std::set<Uuid> targets = targetClips(t);
    bool changed = false;
    std::vector<Track> tracks = tracks_;
    for (Track& track : tracks) {
        for (Clip& clip : track.clips) {
            if (!targets.count(clip.id) || !(clip.start <= t && t < clip.end())) continue;
            auto parts = clip.split(t);
            if (!parts) continue;
            Clip kept = front ? std::move(parts->second) : std::move(parts->first);
            // Whatever names the clip (the selection first) still finds it.
            kept.id = clip.id;
            clip = std::move(kept);
            changed = true;
        }
    }
    if (changed) commit(std::move(tracks));
}

void EditorModel::cutMatrix(double from, double to, const std::set<Uuid>& trackIDs)
{
    if (!(to - from >= kShortestPart)) return;
    RelinkMap map;
    std::set<Uuid> inside;
    bool changed = false;
    std::vector<Track> tracks = tracks_;
    for (Track& track : tracks) {
        if (!trackIDs.count(track.id)) continue;
        std::vector<Clip> clips;
        clips.reserve(track.clips.size() + 2);
        for (Clip& clip : track.clips) {
            if (!(clip.end() > from && clip.start < to)) {
                clips.push_back(std::move(clip));
                continue;
            }
            std::vector<Piece> pieces;
            Clip cur = clip;
            if (cur.start < from) {
                if (auto parts = cur.split(from)) {
                    pieces.push_back({std::move(parts->first), 0});
                    cur = std::move(parts->second);
                }
            }
            std::optional<std::pair<Clip, Clip>> end;
            if (cur.end() > to) end = cur.split(to);
            if (end) {
                pieces.push_back({std::move(end->first), 1});
                pieces.push_back({std::move(end->second), 2});
            } else {
                pieces.push_back({std::move(cur), 1});
            }
            std::vector<int> sides;
            for (const Piece& piece : pieces) sides.push_back(piece.side);
            std::vector<Clip> relinked = relink(std::move(pieces), map);
            for (std::size_t i = 0; i < relinked.size(); ++i)
                if (sides[i] == 1) inside.insert(relinked[i].id);
            if (relinked.size() != 1 || relinked.front() != clip) changed = true;
            for (Clip& piece : relinked) clips.push_back(std::move(piece));
        }
        track.clips = std::move(clips);
    }
    if (!changed) return;

    commit(std::move(tracks));
    setSelectedClips(inside);
    setSelectedActionID(std::nullopt);
    std::optional<Uuid> trackID;
    for (const Track& track : tracks_) {
        if (std::any_of(track.clips.begin(), track.clips.end(), [&](const Clip& c) { return inside.count(c.id) > 0; })) {
            trackID = track.id;
            break;
        }
    }
    setSelectedTrackID(trackID);
}

void EditorModel::duplicateSelection()
{
    // Nothing selected: nothing to duplicate, and no older copy is pasted.
    if (selectedClips_.empty()) {
        clipboard_.clear();
        return;
    }
    copySelection();
    if (clipboard_.empty()) return;
    double end = -std::numeric_limits<double>::infinity();
    for (const ClipboardEntry& entry : clipboard_) end = std::max(end, entry.clip.end());
    paste(end);
}

void EditorModel::deleteSelection(bool ripple)
{
    if (gap_) return closeGap(*gap_);
    if (selectedActionID_) return deleteAction(*selectedActionID_);
    if (markIn_ && markOut_ && *markIn_ < *markOut_) {
        const bool nothingSelected = selectedClips_.empty();
        removeRange(*markIn_, *markOut_, nothingSelected ? std::nullopt : std::optional(selectedClips_),
                    nothingSelected);
        setMarkIn(std::nullopt);
        setMarkOut(std::nullopt);
        return;
    }
    if (selectedClips_.empty()) return;

    std::vector<Track> tracks = tracks_;
    for (Track& track : tracks) {
        std::vector<Clip> removed, kept;
        for (Clip& clip : track.clips) (selectedClips_.count(clip.id) ? removed : kept).push_back(std::move(clip));
        if (ripple && !removed.empty()) {
            // Latest first, so each shift sees the starts the later ones left.
            std::stable_sort(removed.begin(), removed.end(),
                             [](const Clip& a, const Clip& b) { return a.start > b.start; });
            for (const Clip& gone : removed)
                for (Clip& clip : kept)
                    if (clip.start >= gone.end() - kRippleTolerance) clip.start -= gone.duration;
        }
        track.clips = std::move(kept);
    }
    setSelectedClips({});
    commit(std::move(tracks));
}

void EditorModel::deleteAction(const Uuid& id)
{
    pushUndo();
    std::vector<Track> tracks = tracks_;
    for (Track& track : tracks)
        for (Clip& clip : track.clips)
            std::erase_if(clip.actions, [&](const TrackAction& action) { return action.id == id; });
    setTracks(std::move(tracks));
    setSelectedActionID(std::nullopt);
    // Removing an action changes neither the edit's length nor what is
    // shown: the mix and the preview composition are refreshed in place.
    refreshAudioMix();
    refreshPreviewVideo();
}

std::pair<double, double> EditorModel::sourceRange(const MediaRef& media) const
{
    constexpr double unbounded = std::numeric_limits<double>::max();
    const auto source = sources_.find(media.path);
    if (source == sources_.end()) return {0, unbounded};
    if (media.kind == MediaKind::image || media.kind == MediaKind::effects) return {0, unbounded};
    auto span = [&](const platform::TimeRange& range) {
        return std::pair{range.start.seconds(), range.end().seconds()};
    };
    // A stream number outside the file (negative too) has nothing to use.
    if (media.index < 0) return {0, 0};
    const auto index = std::size_t(media.index);
    if (media.kind == MediaKind::video)
        return index < source->second.video.size() ? span(source->second.video[index].range) : std::pair{0.0, 0.0};
    return index < source->second.audio.size() ? span(source->second.audio[index].range) : std::pair{0.0, 0.0};
}

} // namespace ondexa
