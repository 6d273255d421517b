#pragma once

namespace ondexa {

// On X11, lets the preview and the timeline tell a touchpad's smooth
// scrolling from a wheel's notches by asking the X server about the event's
// device. Elsewhere Qt's own pixel deltas are all there is.
void installSmoothScrolling();

} // namespace ondexa
