#pragma once

class QWidget;

namespace ondexa {

// Sliders and pickers in a scrolling column change by a drag, a click or a
// choice. A wheel turned over one that lacks the keyboard focus goes on to
// the widgets under it (the column scrolls); a focused one takes it as usual.
// The wheel alone no longer gives the control the focus.
void passUnfocusedWheel(QWidget& control);

} // namespace ondexa
