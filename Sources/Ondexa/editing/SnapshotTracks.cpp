#include "Ondexa/editing/SnapshotTracks.h"

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <unordered_map>

namespace ondexa {

namespace {

using StoredClips = SnapshotTrack::StoredClips;

// Every member of a track but its clips. Binding them all makes a member
// added to Track fail to compile here until it is listed.
template <typename T> auto settingsOf(T& track)
{
    auto& [id, name, media, clips, hidden, volume, maximize, maximizeBoost, muted, fromRecording, effects, zooms,
           actions, rotation, frame, aspect, rounded] = track;
    (void)clips;
    return std::tie(id, name, media, hidden, volume, maximize, maximizeBoost, muted, fromRecording, effects, zooms,
                    actions, rotation, frame, aspect, rounded);
}

bool sameSettings(const Track& a, const Track& b)
{
    return settingsOf(a) == settingsOf(b);
}

Track settingsCopy(const Track& track)
{
    Track copy;
    settingsOf(copy) = settingsOf(track);
    return copy;
}

// Where a stored clip was found: the neighbour (the top bit) and the piece
// of that neighbour it is in.
constexpr std::uint32_t kSecond = 1u << 31;

// Fills the empty entries of stored[first, last) with clips of from[begin,
// end) of the same id that are equal to the clip of `clips` at that place,
// noting where each was found.
void matchByID(const std::vector<Clip>& clips, StoredClips& stored, std::vector<std::uint32_t>& origin,
               std::size_t first, std::size_t last, const StoredClips& from,
               const std::vector<std::uint32_t>& fromPieces, std::uint32_t neighbour, std::size_t begin,
               std::size_t end)
{
    if (begin == end) return;
    const auto take = [&](std::size_t i, std::size_t j) {
        stored[i] = from[j];
        origin[i] = neighbour | fromPieces[j];
    };
    // Clips mostly keep their order, a few inserted or removed between them:
    // each is looked for a little ahead of the last one found. One found
    // there but changed (a ripple moves all that follow) is settled.
    constexpr std::size_t kAhead = 8;
    std::vector<bool> settled(last - first);
    std::size_t missing = 0;
    for (std::size_t i = first, j = begin; i < last; ++i) {
        if (stored[i]) continue;
        std::size_t k = j;
        while (k < end && k < j + kAhead && from[k]->id != clips[i].id) ++k;
        if (k < end && k < j + kAhead) {
            if (*from[k] == clips[i]) take(i, k);
            else settled[i - first] = true;
            j = k + 1;
        } else {
            ++missing;
        }
    }
    if (missing == 0) return;
    if (missing * (end - begin) <= 4096) {
        // A few clips, as an edit mostly leaves: a scan costs less than an index.
        for (std::size_t i = first; i < last; ++i) {
            if (stored[i] || settled[i - first]) continue;
            for (std::size_t j = begin; j < end; ++j) {
                if (from[j]->id == clips[i].id && *from[j] == clips[i]) {
                    take(i, j);
                    break;
                }
            }
        }
        return;
    }
    std::unordered_map<Uuid, std::size_t> index;
    index.reserve(end - begin);
    for (std::size_t j = begin; j < end; ++j) index.try_emplace(from[j]->id, j);
    for (std::size_t i = first; i < last; ++i) {
        if (stored[i] || settled[i - first]) continue;
        const auto found = index.find(clips[i].id);
        if (found != index.end() && *from[found->second] == clips[i]) take(i, found->second);
    }
}

} // namespace

SnapshotTrack::Shared SnapshotTrack::take(const Track& track, const Shared* beside, const Shared* alsoBeside)
{
    if (!beside) std::swap(beside, alsoBeside);
    const std::vector<Clip>& clips = track.clips;
    const std::size_t n = clips.size();
    std::shared_ptr<SnapshotTrack> made(new SnapshotTrack);
    StoredClips& stored = made->clips_;
    stored.resize(n);
    std::vector<std::uint32_t> origin(n);

    if (beside) {
        // Clips mostly keep their order: an edit changes, inserts or removes
        // a run of them between a common prefix and suffix.
        const SnapshotTrack& near = **beside;
        const StoredClips& from = near.clips_;
        const std::size_t m = from.size();
        const bool settings = sameSettings(*near.settings_, track);
        std::size_t prefix = 0;
        while (prefix < n && prefix < m && *from[prefix] == clips[prefix]) ++prefix;
        if (settings && prefix == n && n == m) return *beside;
        if (settings) made->settings_ = near.settings_;
        std::copy(from.begin(), from.begin() + std::ptrdiff_t(prefix), stored.begin());
        std::copy(near.pieceOf_.begin(), near.pieceOf_.begin() + std::ptrdiff_t(prefix), origin.begin());
        std::size_t suffix = 0;
        while (suffix < n - prefix && suffix < m - prefix && *from[m - 1 - suffix] == clips[n - 1 - suffix]) {
            stored[n - 1 - suffix] = from[m - 1 - suffix];
            origin[n - 1 - suffix] = near.pieceOf_[m - 1 - suffix];
            ++suffix;
        }
        matchByID(clips, stored, origin, prefix, n - suffix, from, near.pieceOf_, 0, prefix, m - suffix);
    }
    if (alsoBeside) {
        const SnapshotTrack& near = **alsoBeside;
        if (!made->settings_ && sameSettings(*near.settings_, track)) made->settings_ = near.settings_;
        matchByID(clips, stored, origin, 0, n, near.clips_, near.pieceOf_, kSecond, 0, near.clips_.size());
        if (made->settings_ == near.settings_ && stored == near.clips_) return *alsoBeside;
    }
    if (!made->settings_) made->settings_ = std::make_shared<const Track>(settingsCopy(track));

    // The pieces the shared clips are in, each kept once.
    const SnapshotTrack* neighbours[2] = {beside ? beside->get() : nullptr, alsoBeside ? alsoBeside->get() : nullptr};
    std::vector<std::uint32_t> kept[2];
    for (int k = 0; k < 2; ++k)
        if (neighbours[k]) kept[k].assign(neighbours[k]->pieces_.size(), UINT32_MAX);
    made->pieceOf_.resize(n);
    std::size_t missing = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!stored[i]) {
            ++missing;
            continue;
        }
        const int k = origin[i] & kSecond ? 1 : 0;
        const std::uint32_t piece = origin[i] & ~kSecond;
        std::uint32_t& at = kept[k][piece];
        if (at == UINT32_MAX) {
            at = std::uint32_t(made->pieces_.size());
            made->pieces_.push_back(neighbours[k]->pieces_[piece]);
        }
        made->pieceOf_[i] = at;
    }
    if (missing > 0) {
        // The clips found in neither, copied into a piece of their own.
        auto piece = std::make_shared<Piece>();
        piece->reserve(missing);
        const auto at = std::uint32_t(made->pieces_.size());
        for (std::size_t i = 0; i < n; ++i) {
            if (stored[i]) continue;
            piece->push_back(clips[i]);
            stored[i] = &piece->back();
            made->pieceOf_[i] = at;
        }
        made->pieces_.push_back(std::move(piece));
    }
    return made;
}

Track SnapshotTrack::toTrack() const
{
    Track track = *settings_;
    track.clips.reserve(clips_.size());
    for (const auto& clip : clips_) track.clips.push_back(*clip);
    return track;
}

void SnapshotTrack::assignTo(Track& track) const
{
    settingsOf(track) = settingsOf(*settings_);
    track.clips.resize(clips_.size());
    for (std::size_t i = 0; i < clips_.size(); ++i) track.clips[i] = *clips_[i];
}

bool operator==(const SnapshotTrack& a, const SnapshotTrack& b)
{
    if (a.clips_.size() != b.clips_.size()) return false;
    if (a.settings_ != b.settings_ && !sameSettings(*a.settings_, *b.settings_)) return false;
    for (std::size_t i = 0; i < a.clips_.size(); ++i)
        if (a.clips_[i] != b.clips_[i] && *a.clips_[i] != *b.clips_[i]) return false;
    return true;
}

bool operator==(const SnapshotTrack& a, const Track& b)
{
    if (a.clips_.size() != b.clips.size() || !sameSettings(*a.settings_, b)) return false;
    for (std::size_t i = 0; i < b.clips.size(); ++i)
        if (*a.clips_[i] != b.clips[i]) return false;
    return true;
}

SnapshotTracks::SnapshotTracks(const std::vector<Track>& tracks, const SnapshotTracks* beside,
                               const SnapshotTracks* alsoBeside)
{
    // Tracks mostly keep their place; a moved one is found by its id.
    const auto find = [](const SnapshotTracks* in, const Uuid& id, std::size_t i) -> const Stored::value_type* {
        if (!in) return nullptr;
        const Stored& list = in->tracks_;
        if (i < list.size() && list[i]->id() == id) return &list[i];
        const auto found = std::find_if(list.begin(), list.end(), [&](const auto& t) { return t->id() == id; });
        return found == list.end() ? nullptr : &*found;
    };
    tracks_.reserve(tracks.size());
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const Track& track = tracks[i];
        tracks_.push_back(SnapshotTrack::take(track, find(beside, track.id, i), find(alsoBeside, track.id, i)));
    }
}

std::vector<Track> SnapshotTracks::toVector() const
{
    std::vector<Track> tracks;
    tracks.reserve(tracks_.size());
    for (const auto& track : tracks_) tracks.push_back(track->toTrack());
    return tracks;
}

void SnapshotTracks::assignTo(std::vector<Track>& tracks) const
{
    tracks.resize(tracks_.size());
    for (std::size_t i = 0; i < tracks_.size(); ++i) tracks_[i]->assignTo(tracks[i]);
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
