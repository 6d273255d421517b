// The editor's own clipboard: copies of the selected clips with the track
// each came from, pasted at a time onto the same tracks.

#include "Ondexa/editing/EditorModel.h"

#include <algorithm>
#include <limits>

namespace ondexa {

namespace {

constexpr const char* kCopySuffix = " (másolat)";

bool overlaps(const Clip& a, const Clip& b)
{
    return a.start < b.end() && b.start < a.end();
}

} // namespace

void EditorModel::copySelection()
{
    if (selectedClips_.empty()) return;
    clipboard_.clear();
    for (const Track& track : tracks_)
        for (const Clip& clip : track.clips)
            if (selectedClips_.count(clip.id)) clipboard_.push_back({track.id, clip});
}

void EditorModel::paste(double time)
{
    if (clipboard_.empty()) return;
    pushUndo();

    double earliest = std::numeric_limits<double>::infinity();
    for (const ClipboardEntry& entry : clipboard_) earliest = std::min(earliest, entry.clip.start);

    std::vector<Uuid> trackIDs;
    for (const ClipboardEntry& entry : clipboard_)
        if (std::find(trackIDs.begin(), trackIDs.end(), entry.trackID) == trackIDs.end())
            trackIDs.push_back(entry.trackID);

    std::vector<Track> tracks = tracks_;
    std::set<Uuid> pasted;
    for (const Uuid& trackID : trackIDs) {
        auto target = std::find_if(tracks.begin(), tracks.end(), [&](const Track& t) { return t.id == trackID; });
        // The track was deleted since the copy: its clips have nowhere to go.
        if (target == tracks.end()) continue;

        std::vector<Clip> copies;
        for (const ClipboardEntry& entry : clipboard_) {
            if (entry.trackID != trackID) continue;
            Clip copy = entry.clip.renewed();
            if (target->media.kind == MediaKind::effects) copy.media.reset();
            else if (!copy.media) copy.media = target->media;
            copy.start = (entry.clip.start - earliest) + time;
            copies.push_back(std::move(copy));
        }

        const bool collides = std::any_of(copies.begin(), copies.end(), [&](const Clip& copy) {
            return std::any_of(target->clips.begin(), target->clips.end(),
                               [&](const Clip& existing) { return overlaps(copy, existing); });
        });
        if (collides) {
            Track empty = *target;
            empty.clips.clear();
            Track fresh = empty.duplicated(target->name + kCopySuffix);
            target = tracks.insert(target, std::move(fresh));
        }

        for (Clip& copy : copies) {
            pasted.insert(copy.id);
            target->clips.push_back(std::move(copy));
        }
        std::stable_sort(target->clips.begin(), target->clips.end(),
                         [](const Clip& a, const Clip& b) { return a.start < b.start; });
    }

    setTracks(std::move(tracks));
    setSelectedClips(std::move(pasted));
    rebuild(clock_->time());
    loadPeaks();
}

} // namespace ondexa
