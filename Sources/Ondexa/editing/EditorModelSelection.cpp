// Selecting clips, gaps, actions and marks, and linking clips. Selecting
// changes neither the timeline nor the undo history; linking commits.

#include "Ondexa/editing/EditorModel.h"

#include <algorithm>
#include <limits>

namespace ondexa {

namespace {

// A gap must be wider than this to be worth selecting.
constexpr double kNarrowestGap = 0.001;

const Track* trackHolding(const std::vector<Track>& tracks, const Uuid& clipID)
{
    for (const Track& track : tracks)
        for (const Clip& clip : track.clips)
            if (clip.id == clipID) return &track;
    return nullptr;
}

std::optional<Uuid> idOf(const Track* track)
{
    return track ? std::optional(track->id) : std::nullopt;
}

} // namespace

std::set<Uuid> EditorModel::linkedGroup(const Uuid& id) const
{
    std::optional<Uuid> link;
    bool found = false;
    for (const Track& track : tracks_) {
        for (const Clip& clip : track.clips) {
            if (clip.id == id) {
                link = clip.link;
                found = true;
                break;
            }
        }
        if (found) break;
    }
    if (!link) return {id};
    std::set<Uuid> group;
    for (const Track& track : tracks_)
        for (const Clip& clip : track.clips)
            if (clip.link == link) group.insert(clip.id);
    return group;
}

void EditorModel::selectClip(const Uuid& id, bool extend, bool single)
{
    const std::set<Uuid> group = single ? std::set<Uuid>{id} : linkedGroup(id);
    std::set<Uuid> selection;
    if (!extend) {
        selection = group;
    } else if (selectedClips_.count(id)) {
        selection = selectedClips_;
        for (const Uuid& member : group) selection.erase(member);
    } else {
        selection = selectedClips_;
        selection.insert(group.begin(), group.end());
    }
    setSelectedClips(std::move(selection));
    setSelectedActionID(std::nullopt);
    setSelectedTrackID(idOf(trackHolding(tracks_, id)));
}

void EditorModel::selectClips(const std::set<Uuid>& ids, bool extend)
{
    std::set<Uuid> selection = extend ? selectedClips_ : std::set<Uuid>{};
    for (const Uuid& id : ids) {
        const std::set<Uuid> group = linkedGroup(id);
        selection.insert(group.begin(), group.end());
    }
    setSelectedClips(std::move(selection));
    setSelectedActionID(std::nullopt);
    if (!ids.empty()) setSelectedTrackID(idOf(trackHolding(tracks_, *ids.begin())));
}

void EditorModel::selectAllClips()
{
    std::set<Uuid> ids;
    for (const Track& track : tracks_)
        for (const Clip& clip : track.clips) ids.insert(clip.id);
    selectClips(ids, false);
}

void EditorModel::selectAction(const Uuid& id)
{
    setSelectedClips({});
    setSelectedActionID(id);
    const auto action = selectedAction();
    setSelectedTrackID(action ? std::optional(action->track.id) : std::nullopt);
}

void EditorModel::selectGap(const Uuid& trackID, double t)
{
    const auto track = std::find_if(tracks_.begin(), tracks_.end(), [&](const Track& tr) { return tr.id == trackID; });
    if (track == tracks_.end() || track->clip(t)) return;

    double end = std::numeric_limits<double>::infinity();
    double start = 0;
    for (const Clip& clip : track->clips) {
        if (clip.start > t) end = std::min(end, clip.start);
        if (clip.end() <= t) start = std::max(start, clip.end());
    }
    // The open space after the last clip is never a gap.
    if (end == std::numeric_limits<double>::infinity()) return;
    if (!(end - start > kNarrowestGap)) return;

    setSelectedClips({});
    setSelectedActionID(std::nullopt);
    setSelectedTrackID(trackID);
    setGap(Gap{trackID, start, end});
}

void EditorModel::clearSelection()
{
    setGap(std::nullopt);
    setSelectedClips({});
    setSelectedActionID(std::nullopt);
    setSelectedTrackID(std::nullopt);
}

void EditorModel::setMarkIn()
{
    setMarkIn(clock_->time());
    if (markOut_ && *markOut_ <= *markIn_) setMarkOut(std::nullopt);
}

void EditorModel::setMarkOut()
{
    setMarkOut(clock_->time());
    if (markIn_ && *markIn_ >= *markOut_) setMarkIn(std::nullopt);
}

const Track* EditorModel::selectedTrack() const
{
    if (!selectedTrackID_) return nullptr;
    for (const Track& track : tracks_)
        if (track.id == *selectedTrackID_) return &track;
    return nullptr;
}

std::optional<EditorModel::PlacedClip> EditorModel::selectedClip() const
{
    if (const Track* track = selectedTrack()) {
        for (const Clip& clip : track->clips)
            if (selectedClips_.count(clip.id)) return PlacedClip{track, &clip};
    }
    for (const Track& track : tracks_)
        for (const Clip& clip : track.clips)
            if (selectedClips_.count(clip.id)) return PlacedClip{&track, &clip};
    return std::nullopt;
}

std::vector<EditorModel::PlacedClip> EditorModel::linkedPartners() const
{
    const auto selected = selectedClip();
    if (!selected || !selected->clip->link) return {};
    if (linkedGroup(selected->clip->id) != selectedClips_) return {};
    std::vector<PlacedClip> partners;
    for (const Track& track : tracks_)
        for (const Clip& clip : track.clips)
            if (clip.id != selected->clip->id && selectedClips_.count(clip.id)) partners.push_back({&track, &clip});
    return partners;
}

void EditorModel::linkSelection()
{
    if (selectedClips_.size() < 2) return;
    const Uuid link = Uuid::random();
    std::vector<Track> tracks = tracks_;
    for (Track& track : tracks)
        for (Clip& clip : track.clips)
            if (selectedClips_.count(clip.id)) clip.link = link;
    commit(std::move(tracks));
}

void EditorModel::unlinkSelection()
{
    std::vector<Track> tracks = tracks_;
    bool changed = false;
    for (Track& track : tracks) {
        for (Clip& clip : track.clips) {
            if (selectedClips_.count(clip.id) && clip.link) {
                clip.link.reset();
                changed = true;
            }
        }
    }
    if (changed) commit(std::move(tracks));
}

std::set<Uuid> EditorModel::targetClips(double t) const
{
    if (!selectedClips_.empty()) return selectedClips_;
    std::set<Uuid> ids;
    for (const Track& track : tracks_)
        for (const Clip& clip : track.clips)
            if (clip.start <= t && t < clip.end()) ids.insert(clip.id);
    return ids;
}

std::optional<std::pair<std::size_t, std::size_t>> EditorModel::locate(const Uuid& id) const
{
    for (std::size_t t = 0; t < tracks_.size(); ++t)
        for (std::size_t c = 0; c < tracks_[t].clips.size(); ++c)
            if (tracks_[t].clips[c].id == id) return std::pair{t, c};
    return std::nullopt;
}

std::vector<Clip> EditorModel::relink(std::vector<Piece> pieces, RelinkMap& map)
{
    std::vector<Clip> clips;
    clips.reserve(pieces.size());
    for (Piece& piece : pieces) {
        if (piece.clip.link) {
            const std::string key = piece.clip.link->string() + "#" + std::to_string(piece.side);
            auto [entry, added] = map.try_emplace(key);
            if (added) entry->second = Uuid::random();
            piece.clip.link = entry->second;
        }
        clips.push_back(std::move(piece.clip));
    }
    return clips;
}

} // namespace ondexa
