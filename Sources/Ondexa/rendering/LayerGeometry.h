#pragma once

// The image operations with which the compositor places, fades and
// transitions the pictures of one frame and marks recorded clicks. Stateless;
// each returns a new picture. Output pixels, origin at the top left.

#include "Ondexa/model/Overlays.h"
#include "Ondexa/model/Timeline.h"
#include "Ondexa/rendering/Picture.h"

#include <QPointF>
#include <QRectF>
#include <QSizeF>

namespace ondexa::compositing {

// How long a click stays highlighted, and how long it makes the ring pulse,
// in seconds of the recording.
inline constexpr double clickHighlightDuration = 0.6;
inline constexpr double ringPulseDuration = 0.35;

// A picture state this close to (1, 0.5, 0.5, 0°) is left in place.
bool isIdentity(const PictureState& state);

// p² (3 − 2p), for p from 0 to 1.
double smoothstep(double p);

// The point about which an overlay is scaled and rotated.
QPointF pivot(const Overlay& overlay, QSizeF outputSize);

// Where a clip's picture goes at a state: fitted inside `bounds` when it is
// the full frame left in place, else filling the box of the clip's aspect
// that the state places (what sticks out cropped).
struct Placement {
    QRectF box;
    bool fitted = false;
};
Placement placement(const Clip& clip, const PictureState& state, double outputAspect, const QRectF& bounds);

// The picture scaled to fit inside `rect`, centred; uncovered parts stay
// transparent.
Picture fit(const Picture& picture, const QRectF& rect);

// The picture filling `box` (cropping what sticks out), with rounded corners
// and a light border unless it is not rounded or covers the whole of `bounds`.
Picture pictureInPicture(const Picture& picture, const QRectF& box, const QRectF& bounds, bool rounded);

// Opacity × level: unchanged from 0.999, empty at 0.001 and below.
Picture faded(const Picture& picture, double level);
// Colour × level towards black, opacity kept: unchanged from 0.999.
Picture darkened(const Picture& picture, double level);

// A placed clip at time t with its fades and transitions: its own transition
// while it comes in, the layer's incoming clip's transition while it goes out,
// else its plain fade level. `incoming` is the layer's incoming clip or null.
Picture transitioned(const Picture& picture, const Clip& clip, const Clip* incoming, double t,
                     const QRectF& bounds);

// The yellow disc of one click at a progress from 0 to 1, on a picture of
// that extent.
Picture clickHighlight(const ClickEvent& click, double progress, const QRectF& extent);

} // namespace ondexa::compositing
