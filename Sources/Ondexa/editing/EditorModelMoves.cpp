// Clip moves with snapping. Called on every pointer event of a drag with the
// clips as they were when the drag began and the total offset since then;
// they change the tracks in place and build nothing until endClipDrag().

#include "Ondexa/editing/EditorModel.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace ondexa {

namespace {

// Which tracks a dragged clip may land on.
enum class Family { picture, audio, effects };

Family familyOf(const Clip& clip, const MediaRef& trackMedia)
{
    if (trackMedia.kind == MediaKind::effects) return Family::effects;
    switch (clip.media ? clip.media->kind : trackMedia.kind) {
    case MediaKind::video:
    case MediaKind::image: return Family::picture;
    case MediaKind::audio: return Family::audio;
    case MediaKind::effects: return Family::effects;
    }
    return Family::picture;
}

bool accepts(const Track& track, Family family)
{
    switch (family) {
    case Family::picture: return track.isPicture();
    case Family::audio: return track.media.kind == MediaKind::audio;
    case Family::effects: return track.media.kind == MediaKind::effects;
    }
    return false;
}

// Appends the clip and sorts by start, keeping equal starts in their order.
// A list already in order takes it after its equal starts, which is what the
// sort would give, without moving every clip.
void insertByStart(std::vector<Clip>& clips, Clip clip)
{
    const auto byStart = [](const Clip& a, const Clip& b) { return a.start < b.start; };
    if (std::is_sorted(clips.begin(), clips.end(), byStart)) {
        const auto at = std::upper_bound(clips.begin(), clips.end(), clip, byStart);
        clips.insert(at, std::move(clip));
        return;
    }
    clips.push_back(std::move(clip));
    std::stable_sort(clips.begin(), clips.end(), byStart);
}

// Each snap point in order, built afresh on every request: 0, the playhead, then every clip's start and end
// and its actions' edges, leaving out the excluded clip (with its actions)
// and the excluded action.
template <class Visit>
void forEachSnapPoint(const std::vector<Track>& tracks, double playhead, const Uuid& excluding, Visit visit)
{
    visit(0.0);
    visit(playhead);
    for (const Track& track : tracks) {
        for (const Clip& clip : track.clips) {
            if (clip.id == excluding) continue;
            visit(clip.start);
            visit(clip.start + clip.duration);
            for (const TrackAction& action : clip.actions) {
                if (action.id == excluding) continue;
                visit(clip.start + action.start);
                visit(clip.start + action.end);
            }
        }
    }
}

} // namespace

std::optional<double> EditorModel::snapped(double t, const Uuid& excluding, double tolerance) const
{
    if (!snapping_) return std::nullopt;
    // The first of equally near points wins: only a strictly nearer one replaces it.
    std::optional<double> best;
    forEachSnapPoint(tracks_, clock_->time(), excluding, [&](double p) {
        if (!best || std::abs(p - t) < std::abs(*best - t)) best = p;
    });
    if (best && std::abs(*best - t) <= tolerance) return best;
    return std::nullopt;
}

const SnapshotTracks& EditorModel::dragStartTracks(SnapshotTracks& copy) const
{
    if (!undoStack_.empty()) return undoStack_.back().tracks;
    // The current tracks change during the call: they are read from a copy.
    copy = SnapshotTracks(tracks_);
    return copy;
}

void EditorModel::moveClip(const Clip& clip, MediaKind, double delta, std::optional<int> toRow, double tolerance)
{
    const auto place = locate(clip.id);
    if (!place) return;
    const auto [ti, ci] = *place;

    double start = clip.start + delta;
    if (!(start >= 0)) start = 0;
    // The start snaps first; the end only when the start did not.
    if (const auto s = snapped(start, clip.id, tolerance)) {
        start = *s;
    } else if (const auto e = snapped(start + clip.duration, clip.id, tolerance)) {
        start = *e - clip.duration;
    }

    Track& from = tracks_[ti];
    Clip stored = from.clips[ci];
    const Family family = familyOf(stored, from.media);
    std::size_t dest = ti;
    if (toRow && *toRow >= 0 && std::size_t(*toRow) < tracks_.size() && std::size_t(*toRow) != ti
        && accepts(tracks_[std::size_t(*toRow)], family))
        dest = std::size_t(*toRow);

    // A moved clip always names its media, wherever it ends up.
    if (from.media.kind == MediaKind::effects) stored.media.reset();
    else if (!stored.media) stored.media = from.media;
    stored.start = start;

    if (dest == ti) {
        from.clips[ci] = std::move(stored);
        emit tracksChanged();
        return;
    }
    from.clips.erase(from.clips.begin() + std::ptrdiff_t(ci));
    insertByStart(tracks_[dest].clips, std::move(stored));
    emit tracksChanged();
    setSelectedTrackID(tracks_[dest].id);
}

void EditorModel::moveClips(const std::vector<Clip>& clips, const Clip& grabbed, double delta, int rows,
                            double tolerance)
{
    // An offset that is not a number would end in clips that can't be saved.
    if (!std::isfinite(delta)) delta = 0;
    SnapshotTracks copy;
    const SnapshotTracks& base = dragStartTracks(copy);

    // The first drag-start track of each clip concerned.
    std::unordered_map<Uuid, std::size_t> startRow;
    {
        std::unordered_map<Uuid, bool> wanted;
        for (const Clip& c : clips) wanted.emplace(c.id, true);
        wanted.emplace(grabbed.id, true);
        for (std::size_t i = 0; i < base.size(); ++i)
            for (const Clip& clip : base[i].clips())
                if (wanted.count(clip.id)) startRow.try_emplace(clip.id, i);
    }

    // The clips of the grabbed clip's family change rows all together or not at all.
    std::unordered_map<Uuid, std::size_t> targets;
    if (rows != 0) {
        if (const auto g = startRow.find(grabbed.id); g != startRow.end()) {
            const Family family = familyOf(grabbed, base[g->second].media());
            bool all = true;
            for (const Clip& c : clips) {
                const auto i = startRow.find(c.id);
                if (i == startRow.end() || familyOf(c, base[i->second].media()) != family) continue;
                const long long r = (long long)i->second + rows;
                if (r >= 0 && r < (long long)tracks_.size() && accepts(tracks_[std::size_t(r)], family)) {
                    targets[c.id] = std::size_t(r);
                } else {
                    all = false;
                }
            }
            if (!all) targets.clear();
        }
    }

    // Only the grabbed clip snaps; the other moving clips attract it where they are.
    if (const auto s = snapped(grabbed.start + delta, grabbed.id, tolerance)) {
        delta = *s - grabbed.start;
    } else if (const auto e = snapped(grabbed.start + grabbed.duration + delta, grabbed.id, tolerance)) {
        delta = *e - (grabbed.start + grabbed.duration);
    }
    // No clip before 0; the group keeps its spacing.
    for (const Clip& c : clips) delta = std::max(delta, -c.start);

    // Where each clip is now, kept up to date as clips change tracks.
    std::unordered_map<Uuid, std::size_t> row;
    for (const Clip& c : clips) row.emplace(c.id, tracks_.size());
    for (std::size_t i = 0; i < tracks_.size(); ++i)
        for (const Clip& clip : tracks_[i].clips)
            if (const auto r = row.find(clip.id); r != row.end() && r->second == tracks_.size()) r->second = i;

    for (const Clip& c : clips) {
        const std::size_t ti = row[c.id];
        if (ti >= tracks_.size()) continue;
        auto& list = tracks_[ti].clips;
        const auto at = std::find_if(list.begin(), list.end(), [&](const Clip& clip) { return clip.id == c.id; });
        if (at == list.end()) continue;

        Clip stored = *at;
        stored.start = c.start + delta;
        std::size_t dest = ti;
        if (const auto target = targets.find(c.id); target != targets.end()) dest = target->second;
        else if (const auto start = startRow.find(c.id); start != startRow.end()) dest = start->second;
        if (dest >= tracks_.size()) dest = ti;

        if (dest == ti) {
            *at = std::move(stored);
            continue;
        }
        if (tracks_[ti].media.kind != MediaKind::effects && !stored.media) stored.media = tracks_[ti].media;
        list.erase(at);
        insertByStart(tracks_[dest].clips, std::move(stored));
        row[c.id] = dest;
    }
    emit tracksChanged();
}

void EditorModel::endClipDrag()
{
    setCanUndo(!undoStack_.empty());
    setCanRedo(!redoStack_.empty());
    rebuild(clock_->time());
}

} // namespace ondexa
