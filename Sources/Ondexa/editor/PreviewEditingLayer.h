#pragma once

// What the user grabs on the preview and what a drag does with it: a clip's
// picture, an overlay (its box or an arrow's ends) or the target of the
// selected action. Widget-free: it works in layer points (the preview pane
// before its zoom) over the model and its playhead, and the canvas hands it
// mouse positions already mapped through the zoom.
//
// Picture units run from 0 to 1 across the output picture, origin top left;
// the picture frame is where that picture lies in layer points. The picture's
// rotation is ignored here: marks and hit areas are upright rectangles.
//
// Main thread only, like the model.

#include "Ondexa/model/Overlays.h"
#include "Ondexa/model/Timeline.h"

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <optional>
#include <utility>
#include <vector>

class QPainter;

namespace ondexa {

class EditorModel;

// The rectangle an overlay covers, unscaled, in picture units for an output
// aspect: a text box is as high as its measured text, an arrow spans its ends.
NRect effectBounds(const Overlay& overlay, double aspect);

class PreviewEditingLayer {
public:
    enum class Handle { move, resize, from, to };

    // What a press grabbed, as it was at the press: a clip, or (with an
    // action) the target of that action of the clip.
    struct Target {
        Clip clip;
        std::optional<TrackAction> action;
    };
    struct Hit {
        Target target;
        Handle handle = Handle::move;
    };
    // A gesture in progress; no target when the press grabbed nothing.
    struct DragState {
        std::optional<Target> target;
        Handle handle = Handle::move;
    };
    // What the selection marks show: a rectangle, or an arrow's two ends.
    struct Selection {
        std::optional<NRect> rect;
        std::optional<std::pair<NPoint, NPoint>> arrow;
    };
    // The marks in layer points: a dashed outline and the handle dots.
    struct Marks {
        std::optional<QRectF> outline;
        QColor color;  // of the outline
        std::vector<QPointF> dots;
    };
    struct Guides {
        bool vertical = false;
        bool horizontal = false;
        friend bool operator==(const Guides&, const Guides&) = default;
    };

    // In layer points, before the canvas zoom.
    static constexpr double grabRadius = 10;
    static constexpr double snapDistance = 8;
    static constexpr double handleSize = 12;
    static constexpr double guideWidth = 1.5;

    explicit PreviewEditingLayer(EditorModel& model);

    // The output picture fitted into a layer of `size`, centred.
    static QRectF pictureFrame(QSizeF size, double aspect);
    // A clip's picture at scale 1: its own aspect fitted into the output.
    static QSizeF fittedSize(const Clip& clip, double aspect);
    // That size centred in the picture.
    static NRect defaultRect(const Clip& clip, double aspect);

    // The picture that an action of the clip leads to.
    NRect actionRect(const TrackAction& action, const Clip& clip) const;
    std::optional<Selection> selectionRect() const;
    Marks marks(const Selection& selection, const QRectF& frame) const;
    // The marks to draw now: none while playing or without a selection.
    std::optional<Marks> currentMarks(const QRectF& frame) const;
    // What a press at `point` (layer points) grabs.
    std::optional<Hit> hitTest(QPointF point, const QRectF& frame) const;

    // One change of a drag gesture: where it began and how far it has moved
    // in all. The first change of a gesture pauses the player, grabs what lies
    // under the start, selects it and takes the gesture's one undo step.
    void dragChanged(QPointF start, QPointF translation, const QRectF& frame);
    // Snaps a moved rectangle's centre to the picture's centre lines.
    void centerSnap(NRect& rect, const QRectF& frame, bool moving);
    // The gesture ended: nothing grabbed, no guides. The model is not called.
    void dragEnded();

    const std::optional<DragState>& drag() const { return drag_; }
    Guides guides() const { return guides_; }

    // The marks and guides for a layer of `size`, in layer points.
    void paint(QPainter& painter, QSizeF size) const;

private:
    // The hit rectangle of an overlay clip's picture at a picture state.
    static NRect placedBounds(const NRect& bounds, const PictureState& state);
    void dragClip(const Clip& clip, Handle handle, double dx, double dy, const QRectF& frame);
    void dragOverlay(Clip clip, Handle handle, double dx, double dy, const QRectF& frame);
    void dragAction(const Clip& clip, const TrackAction& action, Handle handle, double dx, double dy,
                    const QRectF& frame);

    EditorModel& model_;
    std::optional<DragState> drag_;
    Guides guides_;
};

} // namespace ondexa
