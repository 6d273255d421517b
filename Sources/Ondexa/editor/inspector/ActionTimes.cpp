#include "Ondexa/editor/inspector/ActionTimes.h"

#include <algorithm>

namespace ondexa::actiontimes {

TrackAction startingAt(TrackAction action, double clipStart, double playhead)
{
    action.start = std::min(action.end - minimumSpan, playhead - clipStart);
    return action;
}

TrackAction endingAt(TrackAction action, double clipStart, double playhead)
{
    action.end = std::max(action.start + minimumSpan, playhead - clipStart);
    return action;
}

} // namespace ondexa::actiontimes
