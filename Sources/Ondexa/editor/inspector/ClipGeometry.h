#pragma once

// Where the clip inspector's size, preset and corner controls put a picture.
// All rectangles are in output units (0 to 1, origin top left); A is the
// output's width ÷ height, a the clip's own.

#include "Ondexa/model/Timeline.h"

#include <utility>

namespace ondexa::clipgeometry {

struct Size {
    double w = 1;
    double h = 1;
};

// The largest rectangle of the clip's aspect inside the output. An aspect
// that is not a positive number (a damaged file) counts as the output's, so
// no control ever stores an infinite frame.
Size fitSize(double outputAspect, double clipAspect);
// What "Méret" shows: 1 without a frame, else the frame's width ÷ the fit width.
double size(const Clip& clip, double outputAspect);
// The frame's centre, (0.5, 0.5) without a frame.
NPoint centre(const Clip& clip);
// The fit size times `scale`, about the clip's present centre.
NRect sized(const Clip& clip, double outputAspect, double scale);
// Covers the whole output, centred; what lies outside is cut off.
NRect filling(double outputAspect, double clipAspect);
// A small picture at the bottom right.
NRect inCorner(double outputAspect, double clipAspect);
// The clip's present size (the fit size without a frame) moved into a
// corner: 0 top left, 1 top right, 2 bottom left, 3 bottom right.
NRect atCorner(const Clip& clip, double outputAspect, int corner);

// The upper end of a fade slider: what the other fade leaves of the clip,
// at most 10 s and never below 0.1 s.
double fadeLimit(double duration, double otherFade);

} // namespace ondexa::clipgeometry
