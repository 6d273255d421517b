#pragma once

// How the inspector writes edits back to the model. Every write reads the
// model again at that moment ("live"), never the values a row showed when it
// was built, and follows one undo rule:
// - a button, switch, picker, keystroke or colour pick: one undo step before
//   each change (changeClip, changeAction, changeOverlay, setOverlayColor);
// - a value slider of a clip, action or partner clip: one step when its drag
//   begins (the row pushes it), none per value (writeClip, writeAction);
// - a track setting: updateTrack(undoable), one step per value that differs
//   from the stored track (changeTrack);
// - the pointer style: no undo step at all (changeCursorStyle).
// Without the selected clip, action or named track at the moment of the
// write, nothing happens and no step is pushed.

#include "Ondexa/model/Overlays.h"
#include "Ondexa/model/Timeline.h"
#include "Ondexa/model/Uuid.h"

#include <QColor>

#include <functional>
#include <optional>

namespace ondexa {

class EditorModel;

class InspectorEdits {
public:
    InspectorEdits() = delete;

    template <class T> using Change = std::function<void(T&)>;

    // The selected clip, the selected action, or a clip or track by id.
    static std::optional<Clip> liveClip(const EditorModel& model);
    static std::optional<TrackAction> liveAction(const EditorModel& model);
    static std::optional<Clip> liveClip(const EditorModel& model, const Uuid& clipID);
    static std::optional<Track> liveTrack(const EditorModel& model, const Uuid& trackID);
    // The selected clip's overlay; a fresh default overlay without one.
    static Overlay liveOverlay(const EditorModel& model);
    // The model's pointer style, or the default style.
    static CursorStyle liveCursorStyle(const EditorModel& model);

    // One undo step, then the changed copy of the selected clip or action.
    static bool changeClip(EditorModel& model, const Change<Clip>& change);
    static bool changeAction(EditorModel& model, const Change<TrackAction>& change);
    // Through changeClip: the overlay is changed only when the clip has one,
    // but the undo step is pushed either way.
    static bool changeOverlay(EditorModel& model, const Change<Overlay>& change);
    // The overlay's colour in sRGB; an invalid colour stores plain red.
    static bool setOverlayColor(EditorModel& model, const QColor& color);
    // updateTrack(undoable: true) with the changed copy of the track.
    static bool changeTrack(EditorModel& model, const Uuid& trackID, const Change<Track>& change);

    // Slider values: the changed copy without an undo step.
    static bool writeClip(EditorModel& model, const Change<Clip>& change);
    static bool writeClip(EditorModel& model, const Uuid& clipID, const Change<Clip>& change);
    static bool writeAction(EditorModel& model, const Change<TrackAction>& change);

    // The whole changed style into the model; not undoable.
    static void changeCursorStyle(EditorModel& model, const Change<CursorStyle>& change);
};

} // namespace ondexa
