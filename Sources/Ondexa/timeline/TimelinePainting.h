#pragma once

// The immediate-mode drawing of the timeline area: ruler, rows, clips with
// filmstrips and waveforms, fades, action bars, transitions, the selected
// gap, the marks and the matrix. Everything comes from one snapshot; the
// playhead is not drawn here (PlayheadOverlay), though it lies under the
// matrix and the rubber band.

#include "Ondexa/timeline/TimelineSnapshot.h"

#include <QString>

class QPainter;
class QRect;
class QSize;

namespace ondexa {

// Draws the whole visible timeline of `snapshot` into a `size` area at the
// painter's origin. With a pps that is not positive and finite only the
// background is drawn.
void paintTimeline(QPainter& painter, const TimelineSnapshot& snapshot, QSize size);
// Its two layers, which the playhead lies between: everything but the
// matrix and the rubber band, and then those two alone.
void paintTimelineBack(QPainter& painter, const TimelineSnapshot& snapshot, QSize size);
void paintTimelineFront(QPainter& painter, const TimelineSnapshot& snapshot, QSize size);
// The first layer again over `area` alone, as the whole drawing shows it
// there: what changed after an edit, drawn into the picture of before.
void paintTimelineBack(QPainter& painter, const TimelineSnapshot& snapshot, QSize size, const QRect& area);

// The ruler's label step and minor step in seconds for a zoom.
struct RulerStep {
    double label = 7200;
    double minor = 1800;
    friend bool operator==(const RulerStep&, const RulerStep&) = default;
};
RulerStep rulerStep(double pps);
// The number of minor steps in one label step.
int rulerDivisions(const RulerStep& step);
// Tick height at minor step k (counted from a label): 9, 6 (the half of an
// even division) or 3.5.
double rulerTickHeight(const RulerStep& step, long long k);
// "0.5s", "2s", "2m30s", "1h05m30s".
QString rulerLabel(double t, double labelStep);

// The text on an action bar: "150% · 30° · hely · hang 80%", else "Művelet".
QString actionLabel(const TrackAction& action);
// The label of a clip: track name, overlay text or kind, "⛓ " prefix
// excluded (the chain is painted as a symbol).
QString clipLabel(const Track& track, const Clip& clip);
// The gap's text for a gap `width` points wide; empty when it shows none.
QString gapLabel(double width);
// A transition's name ("Áttűnés") and its symbol name.
QString transitionName(Transition transition);
QString transitionSymbol(Transition transition);

} // namespace ondexa
