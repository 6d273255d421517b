#pragma once

// The action inspector's "Kezdete" and "Vége" buttons: an end of the action
// moved to the playhead, the two ends kept at least 0.1 s apart.

#include "Ondexa/model/Timeline.h"

namespace ondexa::actiontimes {

// The shortest span the buttons leave between start and end.
inline constexpr double minimumSpan = 0.1;

// The action with its start at the playhead (clip-relative, may be negative).
TrackAction startingAt(TrackAction action, double clipStart, double playhead);
// The action with its end at the playhead.
TrackAction endingAt(TrackAction action, double clipStart, double playhead);

} // namespace ondexa::actiontimes
