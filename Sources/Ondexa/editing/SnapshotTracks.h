#pragma once

// The track list of one undo snapshot. Its tracks are stored immutable and
// shared between snapshots: a track that has not changed since the snapshot
// it is taken beside is not copied again, so a long history of edits that
// each touch a track or two costs little more than one timeline. Nothing can
// change a stored track, so sharing never shows. Reads like a list of tracks.

#include "Ondexa/model/Timeline.h"

#include <cstddef>
#include <iterator>
#include <memory>
#include <vector>

namespace ondexa {

class SnapshotTracks {
    using Stored = std::vector<std::shared_ptr<const Track>>;

public:
    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Track;
        using difference_type = std::ptrdiff_t;
        using pointer = const Track*;
        using reference = const Track&;

        const_iterator() = default;
        explicit const_iterator(Stored::const_iterator at) : at_(at) {}
        reference operator*() const { return **at_; }
        pointer operator->() const { return at_->get(); }
        const_iterator& operator++()
        {
            ++at_;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator before = *this;
            ++at_;
            return before;
        }
        friend bool operator==(const const_iterator&, const const_iterator&) = default;

    private:
        Stored::const_iterator at_;
    };
    using iterator = const_iterator;

    SnapshotTracks() = default;
    // Copies of every track.
    SnapshotTracks(const std::vector<Track>& tracks) : SnapshotTracks(tracks, nullptr) {}  // NOLINT: reads as a list
    // The tracks, sharing those equal to a track of `beside` with the same id.
    SnapshotTracks(const std::vector<Track>& tracks, const SnapshotTracks* beside);

    std::size_t size() const { return tracks_.size(); }
    bool empty() const { return tracks_.empty(); }
    const Track& operator[](std::size_t i) const { return *tracks_[i]; }
    const Track& front() const { return *tracks_.front(); }
    const Track& back() const { return *tracks_.back(); }
    const_iterator begin() const { return const_iterator(tracks_.begin()); }
    const_iterator end() const { return const_iterator(tracks_.end()); }

    // A list of copies, to be edited or put back.
    std::vector<Track> toVector() const;
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
