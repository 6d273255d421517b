#pragma once

#include "Platform/capture/ScreenCastPortal.h"
#include "Platform/capture/ScreenContent.h"

#include <QRectF>

#include <cstdint>
#include <memory>
#include <optional>

namespace ondexa {

// What a recording captures: a whole display, an area of a display or one
// window. Built by the recording controller, consumed by the Recorder.
struct CaptureTarget {
    enum class Kind {
        display,  // the whole of `display`
        area,     // `area` of `display`
        window,   // `window`, whatever covers it
    };

    // On a Wayland session: the stream the desktop's screen-cast portal
    // opened for this recording. The display is then the portal's monitor
    // and the area a crop of its stream; a window is the one the user
    // picked in the portal's dialog.
    struct PortalStream {
        std::shared_ptr<platform::ScreenCastSession> session;  // open while the recording holds it
        std::uint32_t nodeId = 0;
        // Where the stream's picture lies on the desktop, in logical pixels;
        // a window's at the origin (the portal does not say where it is).
        QRectF frame;
        // The stream's pixels per logical pixel (2 on an output at scale 2).
        double scale = 1;
        bool pointerMetadata = false;  // the pointer comes beside the pictures, not in them
    };

    Kind kind = Kind::display;
    platform::ScreenDisplay display;  // display and area
    QRectF area;                      // area: in the display's points, origin at the display's top left
    platform::ScreenWindow window;    // window
    std::optional<PortalStream> portal;

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
