#pragma once

// Shared by ClickMonitor and PointerPosition; not part of the interface.

#include "Platform/input/PointerPosition.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace platform::detail {

// A connection to `display` (empty: $DISPLAY) and the root window of its
// default screen. `connection` is null when the display can't be reached.
struct RootConnection {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
};

inline RootConnection connectToRoot(const std::string& display)
{
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(display.empty() ? nullptr : display.c_str(), &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return {};
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
    if (!screens.rem) {
        xcb_disconnect(connection);
        return {};
    }
    return {connection, screens.data->root};
}

inline std::optional<RootPoint> queryPointer(xcb_connection_t* connection, xcb_window_t root)
{
    xcb_query_pointer_reply_t* reply = xcb_query_pointer_reply(connection, xcb_query_pointer(connection, root), nullptr);
    if (!reply) return std::nullopt;
    std::optional<RootPoint> point;
    if (reply->same_screen) point = RootPoint{reply->root_x, reply->root_y};
    std::free(reply);
    return point;
}

} // namespace platform::detail
