// Track operations: moving a track, duplicating it, deleting it.

#include "Ondexa/editing/EditorModel.h"

#include <algorithm>

namespace ondexa {

namespace {

constexpr const char* kCopySuffix = " (másolat)";

std::optional<std::size_t> indexOf(const std::vector<Track>& tracks, const Uuid& id)
{
    const auto found = std::find_if(tracks.begin(), tracks.end(), [&](const Track& t) { return t.id == id; });
    if (found == tracks.end()) return std::nullopt;
    return std::size_t(found - tracks.begin());
}

} // namespace

void EditorModel::moveTrack(const Uuid& id, int offset)
{
    const auto from = indexOf(tracks_, id);
    if (!from) return;
    const long last = long(tracks_.size()) - 1;
    const auto to = std::size_t(std::clamp(long(*from) + long(offset), 0L, last));
    if (to == *from) return;

    pushUndo();
    std::vector<Track> tracks = tracks_;
    Track moved = std::move(tracks[*from]);
    tracks.erase(tracks.begin() + long(*from));
    tracks.insert(tracks.begin() + long(to), std::move(moved));
    setTracks(std::move(tracks));
    // The rows changed, not the composition's content.
    refreshPreviewVideo();
}

void EditorModel::duplicateTrack(const Uuid& id)
{
    const auto at = indexOf(tracks_, id);
    if (!at) return;
    Track copy = tracks_[*at].duplicated(tracks_[*at].name + kCopySuffix);
    const Uuid copyID = copy.id;
    std::vector<Track> tracks = tracks_;
    tracks.insert(tracks.begin() + long(*at), std::move(copy));
    commit(std::move(tracks));
    setSelectedTrackID(copyID);
}

void EditorModel::deleteTrack(const Uuid& id)
{
    if (!indexOf(tracks_, id)) return;
    std::vector<Track> tracks = tracks_;
    std::erase_if(tracks, [&](const Track& t) { return t.id == id; });
    commit(std::move(tracks));
    if (selectedTrackID_ == id) setSelectedTrackID(std::nullopt);
}

} // namespace ondexa
