#pragma once

// The timeline zoom of the toolbar's slider and fit button, in points per
// second, from the visible timeline width W (points) and the edit's length
// D (seconds). The slider works on the zoom's logarithm so that the whole
// span from three hours across the view up to 4000 points a second is
// usable; it has integer steps, spread evenly over [ln m, ln 4000].

namespace ondexa::zoom {

inline constexpr double maximum = 4000;
// At the minimum zoom three hours fill the visible width.
inline constexpr double longestView = 10800;
// Widths under this count as this much.
inline constexpr double narrowestWidth = 100;
// The fit leaves this much of the width free at the end.
inline constexpr double fitMargin = 20;
// Steps of the slider over its whole range.
inline constexpr int sliderSteps = 10000;

// m: max(W, 100) / 10800.
double minimum(double width);
// U: W − 20, or 80 below the narrowest width.
double usableWidth(double width);
// The zoom that shows the whole edit; an edit of 1 s or less as if it lasted 1 s.
double fit(double width, double duration);
// Within [m, 4000]: the lower bound first, then the upper.
double clamp(double zoom, double width);

// The slider's ends: ln m and ln 4000.
double sliderMinimum(double width);
double sliderMaximum();
// The slider step that shows `zoom` (clamped), 0 … sliderSteps.
int sliderPosition(double zoom, double width);
// The zoom a slider step stands for, clamped.
double zoomAt(int position, double width);

} // namespace ondexa::zoom
