// New content from nothing: overlay clips on effects tracks, and timed
// actions on clips.

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/rendering/OverlayRenderer.h"

#include <algorithm>

namespace ondexa {

namespace {

// Without an out mark after the start, an overlay lasts this long.
constexpr double kOverlayLength = 4;
// Without an out mark after the start, an action lasts this long.
constexpr double kActionLength = 1;
// An action that the clip would leave this short or shorter is not added.
constexpr double kShortestAction = 0.05;

Track newEffectsTrack(int number)
{
    Track track;
    track.name = "Effektek " + std::to_string(number);
    track.media = MediaRef{"", MediaKind::effects, 0};
    return track;
}

bool overlaps(const Clip& a, const Clip& b)
{
    return !(a.end() <= b.start || b.end() <= a.start);
}

} // namespace

void EditorModel::addOverlay(OverlayKind kind)
{
    const double start = markIn_.value_or(clock_->time());
    const double end = markOut_ && start < *markOut_ ? *markOut_ : start + kOverlayLength;

    Overlay overlay = EditorModel::defaultOverlay(kind);
    switch (kind) {
    case OverlayKind::zoom:
    case OverlayKind::pip: return;
    case OverlayKind::rectangle:
    case OverlayKind::ellipse: overlay.rect = NRect{0.35, 0.35, 0.3, 0.3}; break;
    case OverlayKind::arrow:
        overlay.from = NPoint{0.4, 0.4};
        overlay.to = NPoint{0.6, 0.6};
        overlay.lineWidth = 0.02;
        overlay.color = RGBA{1, 185.0 / 255.0, 15.0 / 255.0, 1};
        break;
    case OverlayKind::text:
        overlay.text = "Szöveg";
        overlay.alignment = TextAlignment::center;
        overlay.rect.x = 0.3;
        overlay.rect.w = 0.4;
        // Measured as the compositor draws it, centred vertically.
        overlay.rect.h = OverlayRenderer::textBoxHeight(overlay, aspect_);
        overlay.rect.y = 0.5 - overlay.rect.h / 2;
        break;
    }

    Clip clip;
    clip.start = start;
    clip.duration = end - start;
    clip.overlay = std::move(overlay);

    pushUndo();
    const int index = effectTrack(clip, selectedTrackID_);
    Track& track = tracks_[std::size_t(index)];
    track.clips.push_back(clip);
    std::stable_sort(track.clips.begin(), track.clips.end(),
                     [](const Clip& a, const Clip& b) { return a.start < b.start; });
    const Uuid trackID = track.id;
    emit tracksChanged();
    setSelectedClips({clip.id});
    setSelectedTrackID(trackID);
    rebuild(clock_->time());
}

int EditorModel::effectTrack(const Clip& clip, const std::optional<Uuid>& preferring)
{
    const auto isFree = [&](const Track& track) {
        return track.media.kind == MediaKind::effects
               && std::none_of(track.clips.begin(), track.clips.end(), [&](const Clip& c) { return overlaps(c, clip); });
    };
    if (preferring) {
        for (std::size_t i = 0; i < tracks_.size(); ++i)
            if (tracks_[i].id == *preferring && isFree(tracks_[i])) return int(i);
    }
    for (std::size_t i = 0; i < tracks_.size(); ++i)
        if (isFree(tracks_[i])) return int(i);

    const auto effects = std::count_if(tracks_.begin(), tracks_.end(),
                                       [](const Track& track) { return track.media.kind == MediaKind::effects; });
    tracks_.insert(tracks_.begin(), newEffectsTrack(int(effects) + 1));
    emit tracksChanged();
    return 0;
}

void EditorModel::addAction()
{
    const double t = clock_->time();
    std::optional<Uuid> clipID;
    if (const auto selected = selectedClip()) {
        clipID = selected->clip->id;
    } else {
        const Track* track = selectedTrack();
        if (!track) {
            const auto screen = std::find_if(tracks_.begin(), tracks_.end(), [](const Track& candidate) {
                return candidate.fromRecording && candidate.media.kind == MediaKind::video
                       && candidate.media.index == 0;
            });
            if (screen != tracks_.end()) track = &*screen;
        }
        if (track) {
            if (const Clip* under = track->clip(t)) clipID = under->id;
        }
    }
    if (!clipID) return;
    const auto place = locate(*clipID);
    if (!place) return;
    const Clip& clip = tracks_[place->first].clips[place->second];

    const double s = markIn_.value_or(t);
    const double e = markOut_ && s < *markOut_ ? *markOut_ : s + kActionLength;
    const double localStart = std::max(s - clip.start, 0.0);
    const double localEnd = std::min(e - clip.start, clip.duration);
    if (!(localEnd - localStart > kShortestAction)) return;

    TrackAction action;
    action.start = localStart;
    action.end = localEnd;
    action.returns = true;

    pushUndo();
    tracks_[place->first].clips[place->second].actions.push_back(action);
    const Uuid trackID = tracks_[place->first].id;
    emit tracksChanged();
    setSelectedClips({});
    setSelectedActionID(action.id);
    setSelectedTrackID(trackID);
    refreshAll();
}

Overlay EditorModel::defaultOverlay(OverlayKind kind)
{
    Overlay overlay;
    overlay.kind = kind;
    overlay.fontSize = 0.05;
    overlay.color = RGBA{0.95, 0.2, 0.2, 1};
    overlay.lineWidth = 0.006;
    overlay.background = true;
    overlay.aspect = 16.0 / 9.0;
    return overlay;
}

} // namespace ondexa
