#include "Ondexa/editor/inspector/InspectorEdits.h"

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/editor/inspector/RgbaColor.h"

namespace ondexa {

std::optional<Clip> InspectorEdits::liveClip(const EditorModel& model)
{
    const auto placed = model.selectedClip();
    if (!placed || !placed->clip) return std::nullopt;
    return *placed->clip;
}

std::optional<TrackAction> InspectorEdits::liveAction(const EditorModel& model)
{
    const auto selected = model.selectedAction();
    if (!selected) return std::nullopt;
    return selected->action;
}

std::optional<Clip> InspectorEdits::liveClip(const EditorModel& model, const Uuid& clipID)
{
    for (const Track& track : model.tracks())
        for (const Clip& clip : track.clips)
            if (clip.id == clipID) return clip;
    return std::nullopt;
}

std::optional<Track> InspectorEdits::liveTrack(const EditorModel& model, const Uuid& trackID)
{
    for (const Track& track : model.tracks())
        if (track.id == trackID) return track;
    return std::nullopt;
}

Overlay InspectorEdits::liveOverlay(const EditorModel& model)
{
    if (auto clip = liveClip(model); clip && clip->overlay) return *clip->overlay;
    // What a newly added overlay starts with.
    return EditorModel::defaultOverlay(Overlay{}.kind);
}

CursorStyle InspectorEdits::liveCursorStyle(const EditorModel& model) { return model.cursorStyle().value_or(CursorStyle{}); }

bool InspectorEdits::changeClip(EditorModel& model, const Change<Clip>& change)
{
    auto clip = liveClip(model);
    if (!clip) return false;
    change(*clip);
    model.pushUndo();
    model.updateClip(*clip);
    return true;
}

bool InspectorEdits::changeAction(EditorModel& model, const Change<TrackAction>& change)
{
    auto action = liveAction(model);
    if (!action) return false;
    change(*action);
    model.pushUndo();
    model.updateAction(*action);
    return true;
}

bool InspectorEdits::changeOverlay(EditorModel& model, const Change<Overlay>& change)
{
    return changeClip(model, [&](Clip& clip) {
        if (clip.overlay) change(*clip.overlay);
    });
}

bool InspectorEdits::setOverlayColor(EditorModel& model, const QColor& color)
{
    const RGBA rgba = rgbaFromColor(color);
    return changeOverlay(model, [&](Overlay& overlay) { overlay.color = rgba; });
}

bool InspectorEdits::changeTrack(EditorModel& model, const Uuid& trackID, const Change<Track>& change)
{
    auto track = liveTrack(model, trackID);
    if (!track) return false;
    change(*track);
    model.updateTrack(*track, true);
    return true;
}

bool InspectorEdits::writeClip(EditorModel& model, const Change<Clip>& change)
{
    auto clip = liveClip(model);
    if (!clip) return false;
    change(*clip);
    model.updateClip(*clip);
    return true;
}

bool InspectorEdits::writeClip(EditorModel& model, const Uuid& clipID, const Change<Clip>& change)
{
    auto clip = liveClip(model, clipID);
    if (!clip) return false;
    change(*clip);
    model.updateClip(*clip);
    return true;
}

bool InspectorEdits::writeAction(EditorModel& model, const Change<TrackAction>& change)
{
    auto action = liveAction(model);
    if (!action) return false;
    change(*action);
    model.updateAction(*action);
    return true;
}

void InspectorEdits::changeCursorStyle(EditorModel& model, const Change<CursorStyle>& change)
{
    CursorStyle style = liveCursorStyle(model);
    change(style);
    model.setCursorStyle(style);
}

} // namespace ondexa
