#include "Ondexa/editor/TimelineZoom.h"

#include <algorithm>
#include <cmath>

namespace ondexa::zoom {

double minimum(double width) { return std::max(width, narrowestWidth) / longestView; }

double usableWidth(double width)
{
    return width >= narrowestWidth ? width - fitMargin : narrowestWidth - fitMargin;
}

double fit(double width, double duration)
{
    const double usable = usableWidth(width);
    return duration > 1 ? usable / duration : usable;
}

double clamp(double zoom, double width) { return std::min(std::max(zoom, minimum(width)), maximum); }

double sliderMinimum(double width) { return std::log(minimum(width)); }

double sliderMaximum() { return std::log(maximum); }

int sliderPosition(double zoom, double width)
{
    const double low = sliderMinimum(width);
    const double span = sliderMaximum() - low;
    if (!(span > 0)) return 0;
    const double position = (std::log(clamp(zoom, width)) - low) / span * sliderSteps;
    return std::clamp(int(std::lround(position)), 0, sliderSteps);
}

double zoomAt(int position, double width)
{
    const double low = sliderMinimum(width);
    const double value = low + (sliderMaximum() - low) * double(position) / sliderSteps;
    return clamp(std::exp(value), width);
}

} // namespace ondexa::zoom
