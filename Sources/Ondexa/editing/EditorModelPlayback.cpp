// Playing the preview and moving the playhead.

#include "Ondexa/editing/EditorModel.h"

#include <cmath>

namespace ondexa {

namespace {
// Within this much of the end, play starts over from the beginning.
constexpr double kEndZone = 0.05;
} // namespace

void EditorModel::seekPlayer(double time)
{
    player_->seek(platform::MediaTime::fromSeconds(time));
}

void EditorModel::togglePlay()
{
    if (isPlaying_) {
        // The clock keeps the last time the observer wrote.
        player_->pause();
        return;
    }
    if (clock_->time() >= duration() - kEndZone) {
        clock_->setTime(0);
        seekPlayer(0);
    }
    player_->play();
}

void EditorModel::step(double delta)
{
    player_->pause();
    double t = clock_->time() + delta;
    if (!(t >= 0)) t = 0;  // NaN too
    t = std::min(t, duration());
    clock_->setTime(t);
    seekPlayer(t);
}

} // namespace ondexa
