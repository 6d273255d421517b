// Property edits of one clip, action or track, and the refresh they need:
// the preview and the mix replaced on the current item, a rebuild only when
// a track was shown or hidden or the edit outgrew what was built.

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/rendering/OverlayRenderer.h"

#include "Platform/media/PlayerItem.h"

#include <algorithm>
#include <cmath>

namespace ondexa {

namespace {

constexpr std::int32_t kTicks = platform::MediaTime::kDefaultTimescale;
// An edit this much longer than the built composition (in ticks) still plays
// from the old item; a longer one is rebuilt.
constexpr std::int64_t kGrowthAllowed = kTicks / 20;

std::int64_t ticksOf(double seconds)
{
    return platform::MediaTime::fromSeconds(seconds, kTicks).value();
}

} // namespace

void EditorModel::updateClip(const Clip& clip)
{
    const auto place = locate(clip.id);
    if (!place) return;
    Clip& stored = tracks_[place->first].clips[place->second];
    if (stored == clip) return;

    Clip changed = clip;
    // The box grows or shrinks downwards: only its height is measured again.
    if (changed.overlay && changed.overlay->kind == OverlayKind::text)
        changed.overlay->rect.h = OverlayRenderer::textBoxHeight(*changed.overlay, aspect_);
    stored = std::move(changed);
    emit tracksChanged();
    refreshAll();
}

void EditorModel::updateAction(const TrackAction& action)
{
    bool changed = false;
    for (Track& track : tracks_) {
        for (Clip& clip : track.clips) {
            const auto stored = std::find_if(clip.actions.begin(), clip.actions.end(),
                                             [&](const TrackAction& a) { return a.id == action.id; });
            if (stored == clip.actions.end()) continue;
            TrackAction limited = action;
            // Written so that a start or end that is not a number is limited too.
            limited.start = limited.start > 0 ? limited.start : 0;
            limited.end = limited.end < clip.duration ? limited.end : clip.duration;
            if (limited == *stored) {
                if (changed) emit tracksChanged();
                return;
            }
            *stored = std::move(limited);
            changed = true;
        }
    }
    if (changed) emit tracksChanged();
    refreshAll();
}

void EditorModel::updateTrack(const Track& track, bool undoable)
{
    const auto stored = std::find_if(tracks_.begin(), tracks_.end(), [&](const Track& t) { return t.id == track.id; });
    if (stored == tracks_.end() || *stored == track) return;
    const std::size_t index = std::size_t(stored - tracks_.begin());
    if (undoable) pushUndo();

    const bool hiddenChanged = tracks_[index].hidden != track.hidden;
    const bool wasAudio = tracks_[index].media.kind == MediaKind::audio;
    tracks_[index] = track;
    emit tracksChanged();

    if (hiddenChanged) {
        rebuild(clock_->time());
    } else if (!wasAudio) {
        refreshPreviewVideo();
    } else if (built_ && player_->currentItem()) {
        refreshAudioMix();
        save();
    }
}

std::vector<EditorModel::PlacedClip> EditorModel::activeVisualClips() const
{
    const double t = clock_->time();
    std::vector<PlacedClip> result;
    for (auto track = tracks_.rbegin(); track != tracks_.rend(); ++track) {
        if (track->media.kind == MediaKind::audio || track->hidden) continue;
        for (const Clip& clip : track->clips)
            if (clip.start <= t && t < clip.end()) result.push_back(PlacedClip{&*track, &clip});
    }
    return result;
}

void EditorModel::refreshAll()
{
    if (!built_) return;
    if (built_->composition) {
        const std::int64_t builtTicks = built_->composition->duration().convertedTo(kTicks).value();
        if (ticksOf(duration()) > builtTicks + kGrowthAllowed) {
            rebuild(clock_->time());
            return;
        }
    }
    refreshPreviewVideo();
    if (built_ && player_->currentItem()) {
        refreshAudioMix();
        save();
    }
}

} // namespace ondexa
