#pragma once

#include "Platform/capture/ScreenContent.h"

#include <QRect>
#include <QRectF>

#include <memory>
#include <vector>

class QWindow;

namespace ondexa {

class AreaHighlightBand;

// Marks the area an area recording captures: everything else on the display
// dimmed and the area outlined just outside its edge. Clicks pass through.
//
// X11 can't leave windows out of a grab, so the highlight is made of up to
// four windows around the area and none of its pixels lies inside it: it may
// stay up while recording. Dimming needs windows that are translucent over
// live content, that is a compositing manager; without one the highlight is
// only a thin frame around the area (a dimmed still picture would freeze the
// rest of the desktop for as long as area capture is chosen).
//
// Main thread only. Shown at once; removed by orderOut() or destruction. The
// controller replaces it with a new one whenever the area, display or mode
// changes.
class AreaHighlight {
public:
    enum class Style {
        dimmed,       // translucent windows cover the display outside the area
        outlineOnly,  // opaque windows form a frame frameWidth pixels wide around the area
    };
    static constexpr int frameWidth = 2;  // holds the outline, which ends 1.75 points out

    // The style follows whether a compositing manager runs.
    AreaHighlight(const platform::ScreenDisplay& display, const QRectF& area);
    AreaHighlight(const platform::ScreenDisplay& display, const QRectF& area, Style style);
    ~AreaHighlight();

    AreaHighlight(const AreaHighlight&) = delete;
    AreaHighlight& operator=(const AreaHighlight&) = delete;

    void orderOut();

    Style style() const { return style_; }
    std::vector<QWindow*> windows() const;

    // The pixels left free: every pixel the area (display points) touches, in
    // root coordinates.
    static QRect hole(const QRect& displayFrame, const QRectF& area);
    // The windows' rectangles in root coordinates: on the display, around the
    // hole, never inside it.
    static std::vector<QRect> bands(const QRect& displayFrame, const QRectF& area, Style style);
    // Whether `window` belongs to a highlight (it must stay when the
    // application hides its windows for a recording).
    static bool isHighlightWindow(const QWindow* window);

private:
    Style style_;
    std::vector<std::unique_ptr<AreaHighlightBand>> window_;
};

} // namespace ondexa
