#pragma once

// The track list of one undo snapshot. Tracks and their clips are stored
// immutable and shared between snapshots: a snapshot taken beside another
// shares each track, track setting and clip that is equal to the other's,
// so a long history of edits that each touch a clip or two per track costs
// little more than one timeline. Nothing can change a stored piece, so
// sharing never shows. Reads like a list of tracks.

#include "Ondexa/model/Timeline.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <vector>

namespace ondexa {

// A forward iterator over pointers that reads as the values they point at.
template <typename T, typename Stored> class PointeeIterator {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = const T*;
    using reference = const T&;

    PointeeIterator() = default;
    explicit PointeeIterator(typename Stored::const_iterator at) : at_(at) {}
    reference operator*() const { return **at_; }
    pointer operator->() const { return &**at_; }
    PointeeIterator& operator++()
    {
        ++at_;
        return *this;
    }
    PointeeIterator operator++(int)
    {
        PointeeIterator before = *this;
        ++at_;
        return before;
    }
    friend bool operator==(const PointeeIterator&, const PointeeIterator&) = default;

private:
    typename Stored::const_iterator at_;
};

// One track of a snapshot: its settings and its clips, which live in
// immutable pieces shared between snapshots.
class SnapshotTrack {
public:
    using StoredClips = std::vector<const Clip*>;

    // The clips, read like a list of clips.
    class ClipList {
    public:
        using const_iterator = PointeeIterator<Clip, StoredClips>;
        using iterator = const_iterator;
        explicit ClipList(const StoredClips& clips) : clips_(&clips) {}
        std::size_t size() const { return clips_->size(); }
        bool empty() const { return clips_->empty(); }
        const Clip& operator[](std::size_t i) const { return *(*clips_)[i]; }
        const Clip& front() const { return *clips_->front(); }
        const Clip& back() const { return *clips_->back(); }
        const_iterator begin() const { return const_iterator(clips_->begin()); }
        const_iterator end() const { return const_iterator(clips_->end()); }

    private:
        const StoredClips* clips_;
    };

    const Uuid& id() const { return settings_->id; }
    const std::string& name() const { return settings_->name; }
    const MediaRef& media() const { return settings_->media; }
    ClipList clips() const { return ClipList(clips_); }
    // A copy, to be edited or put back.
    Track toTrack() const;
    // Makes `track` a copy, using its storage again.
    void assignTo(Track& track) const;

    friend bool operator==(const SnapshotTrack& a, const SnapshotTrack& b);
    friend bool operator==(const SnapshotTrack& a, const Track& b);

private:
    friend class SnapshotTracks;
    SnapshotTrack() = default;
    // The track, sharing what is equal in the neighbours (either may be
    // null), or the very neighbour when the track is equal to it.
    using Shared = std::shared_ptr<const SnapshotTrack>;
    static Shared take(const Track& track, const Shared* beside, const Shared* alsoBeside);

    using Piece = std::vector<Clip>;

    std::shared_ptr<const Track> settings_;  // every field but the clips, which are left empty
    // The clips are kept alive by the pieces they are in, not each by its
    // own count: taking a snapshot touches no count per clip.
    StoredClips clips_;
    std::vector<std::uint32_t> pieceOf_;  // of each clip, an index into pieces_
    std::vector<std::shared_ptr<const Piece>> pieces_;
};

class SnapshotTracks {
    using Stored = std::vector<std::shared_ptr<const SnapshotTrack>>;

public:
    using const_iterator = PointeeIterator<SnapshotTrack, Stored>;
    using iterator = const_iterator;

    SnapshotTracks() = default;
    // Copies of every track.
    SnapshotTracks(const std::vector<Track>& tracks) : SnapshotTracks(tracks, nullptr) {}  // NOLINT: reads as a list
    // The tracks, sharing whatever is equal in the track of the same id of
    // `beside`, and clips it lacks from `alsoBeside` (either may be null).
    SnapshotTracks(const std::vector<Track>& tracks, const SnapshotTracks* beside,
                   const SnapshotTracks* alsoBeside = nullptr);

    std::size_t size() const { return tracks_.size(); }
    bool empty() const { return tracks_.empty(); }
    const SnapshotTrack& operator[](std::size_t i) const { return *tracks_[i]; }
    const SnapshotTrack& front() const { return *tracks_.front(); }
    const SnapshotTrack& back() const { return *tracks_.back(); }
    const_iterator begin() const { return const_iterator(tracks_.begin()); }
    const_iterator end() const { return const_iterator(tracks_.end()); }

    // A list of copies, to be edited or put back.
    std::vector<Track> toVector() const;
    // Makes `tracks` a list of copies, using their storage again.
    void assignTo(std::vector<Track>& tracks) const;
    operator std::vector<Track>() const { return toVector(); }  // NOLINT: reads as a list

    // Whether the i-th track is the very stored track of `other` (for tests
    // and measurements of the sharing).
    bool shares(std::size_t i, const SnapshotTracks& other, std::size_t j) const
    {
        return tracks_[i] == other.tracks_[j];
    }

    friend bool operator==(const SnapshotTracks& a, const SnapshotTracks& b);
    friend bool operator==(const SnapshotTracks& a, const std::vector<Track>& b);

private:
    Stored tracks_;
};

} // namespace ondexa
