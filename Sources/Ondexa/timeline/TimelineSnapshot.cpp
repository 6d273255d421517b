#include "Ondexa/timeline/TimelineSnapshot.h"

#include <cmath>

namespace ondexa {

TimelineSnapshot TimelineSnapshot::of(const EditorModel& model, double pps, double scrollX, QSize size)
{
    TimelineSnapshot s;
    s.tracks = model.tracks();
    s.trackHeight = model.trackHeight();
    s.peaks = model.peaks();
    s.thumbnails = model.thumbnails();
    s.selectedClips = model.selectedClips();
    s.selectedTrack = model.selectedTrackID();
    s.selectedAction = model.selectedActionID();
    s.markIn = model.markIn();
    s.markOut = model.markOut();
    s.gap = model.gap();
    s.pps = pps;
    s.scrollX = scrollX;
    s.size = size;
    s.duration = model.duration();
    return s;
}

bool TimelineSnapshot::drawable() const { return std::isfinite(pps) && pps > 0; }

} // namespace ondexa
