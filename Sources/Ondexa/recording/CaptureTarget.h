#pragma once

#include "Platform/capture/ScreenContent.h"

#include <QRectF>

namespace ondexa {

// What a recording captures: a whole display, an area of a display or one
// window. Built by the recording controller, consumed by the Recorder.
struct CaptureTarget {
    enum class Kind {
        display,  // the whole of `display`
        area,     // `area` of `display`
        window,   // `window`, whatever covers it
    };

    Kind kind = Kind::display;
    platform::ScreenDisplay display;  // display and area
    QRectF area;                      // area: in the display's points, origin at the display's top left
    platform::ScreenWindow window;    // window

    static CaptureTarget ofDisplay(platform::ScreenDisplay display)
    {
        CaptureTarget target;
        target.kind = Kind::display;
        target.display = std::move(display);
        return target;
    }

    static CaptureTarget ofArea(platform::ScreenDisplay display, QRectF area)
    {
        CaptureTarget target;
        target.kind = Kind::area;
        target.display = std::move(display);
        target.area = area;
        return target;
    }

    static CaptureTarget ofWindow(platform::ScreenWindow window)
    {
        CaptureTarget target;
        target.kind = Kind::window;
        target.window = std::move(window);
        return target;
    }
};

} // namespace ondexa
