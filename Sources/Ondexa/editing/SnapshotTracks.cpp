#include "Ondexa/editing/SnapshotTracks.h"

#include <algorithm>

namespace ondexa {

SnapshotTracks::SnapshotTracks(const std::vector<Track>& tracks, const SnapshotTracks* beside)
{
    tracks_.reserve(tracks.size());
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const Track& track = tracks[i];
        std::shared_ptr<const Track> stored;
        if (beside) {
            // Tracks mostly keep their place; a moved one is found by its id.
            auto same = [&](const std::shared_ptr<const Track>& s) { return s->id == track.id; };
            auto found = i < beside->tracks_.size() && same(beside->tracks_[i])
                             ? beside->tracks_.begin() + long(i)
                             : std::find_if(beside->tracks_.begin(), beside->tracks_.end(), same);
            if (found != beside->tracks_.end() && **found == track) stored = *found;
        }
        tracks_.push_back(stored ? std::move(stored) : std::make_shared<const Track>(track));
    }
}

std::vector<Track> SnapshotTracks::toVector() const
{
    std::vector<Track> tracks;
    tracks.reserve(tracks_.size());
    for (const auto& track : tracks_) tracks.push_back(*track);
    return tracks;
}

bool operator==(const SnapshotTracks& a, const SnapshotTracks& b)
{
    if (a.tracks_.size() != b.tracks_.size()) return false;
    for (std::size_t i = 0; i < a.tracks_.size(); ++i)
        if (a.tracks_[i] != b.tracks_[i] && *a.tracks_[i] != *b.tracks_[i]) return false;
    return true;
}

bool operator==(const SnapshotTracks& a, const std::vector<Track>& b)
{
    if (a.tracks_.size() != b.size()) return false;
    for (std::size_t i = 0; i < b.size(); ++i)
        if (*a.tracks_[i] != b[i]) return false;
    return true;
}

} // namespace ondexa
