#pragma once

// Small helpers over XCB shared by the display and window lists and the
// screen stream. Internal to the capture layer.

#include "Platform/capture/CaptureError.h"

#include <QRect>

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::xcb {

struct FreeReply {
    void operator()(void* p) const { std::free(p); }
};
// Replies and errors from XCB are malloc'ed; this frees them.
template <class T>
using Reply = std::unique_ptr<T, FreeReply>;
using Error = Reply<xcb_generic_error_t>;

// `sentence` with the X error's code in parentheses before its full stop.
std::string withXError(const std::string& sentence, const xcb_generic_error_t* error);
// `sentence` with a detail in parentheses before its full stop.
std::string withDetail(const std::string& sentence, const std::string& detail);

// The X display the process would open: $DISPLAY, or empty.
std::string displayName();

// One connection to the X server ($DISPLAY) and its default screen.
// Not thread-safe by intent: each thread that talks to the server owns one.
class Connection {
public:
    // Throws CaptureError when no X display can be opened.
    Connection();
    ~Connection();

    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    xcb_connection_t* get() const { return connection_; }
    xcb_screen_t* screen() const { return screen_; }
    xcb_window_t root() const { return screen_->root; }
    QRect rootRect() const;
    // Reads the root's current size again (it changes when monitors do).
    QRect queryRootRect() const;
    bool broken() const { return xcb_connection_has_error(connection_) != 0; }
    // Whether an extension is present on the server (no round trip after the first).
    bool hasExtension(xcb_extension_t* extension) const;

private:
    xcb_connection_t* connection_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
};

// Atoms the capture layer reads; interned in one batch.
struct Atoms {
    xcb_atom_t netClientList = XCB_ATOM_NONE;
    xcb_atom_t netClientListStacking = XCB_ATOM_NONE;
    xcb_atom_t netWmName = XCB_ATOM_NONE;
    xcb_atom_t netWmPid = XCB_ATOM_NONE;
    xcb_atom_t netFrameExtents = XCB_ATOM_NONE;
    xcb_atom_t gtkFrameExtents = XCB_ATOM_NONE;
    xcb_atom_t netWmState = XCB_ATOM_NONE;
    xcb_atom_t netWmStateHidden = XCB_ATOM_NONE;
    xcb_atom_t netWmWindowType = XCB_ATOM_NONE;
    xcb_atom_t netWmWindowTypeNormal = XCB_ATOM_NONE;
    xcb_atom_t netWmWindowTypeDialog = XCB_ATOM_NONE;
    xcb_atom_t netWmWindowTypeUtility = XCB_ATOM_NONE;
    xcb_atom_t utf8String = XCB_ATOM_NONE;
    xcb_atom_t wmState = XCB_ATOM_NONE;

    static Atoms intern(xcb_connection_t* connection);
};

// A property request sent now, its reply read later: lets a caller pipeline
// many requests in one round trip.
xcb_get_property_cookie_t requestProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                                          std::uint32_t maxLongs = 4096);

// The property's value as 32-bit items (CARDINAL, WINDOW, ATOM), empty when
// absent or of another format.
std::vector<std::uint32_t> propertyLongs(xcb_connection_t* connection, xcb_get_property_cookie_t cookie);
// The property's bytes as they are, nullopt when absent.
std::optional<std::string> propertyBytes(xcb_connection_t* connection, xcb_get_property_cookie_t cookie,
                                         xcb_atom_t* type = nullptr);

// Latin-1 (the encoding of STRING properties) to UTF-8.
std::string latin1ToUtf8(const std::string& latin1);

// A window's frame: its inside rectangle in root coordinates grown by the
// window manager's decorations (_NET_FRAME_EXTENTS) and shrunk by the
// invisible shadow margins that client-side decorated windows draw inside
// themselves (_GTK_FRAME_EXTENTS); each is left, right, top, bottom.
QRect frameWithExtents(QPoint insideOrigin, int width, int height, const std::vector<std::uint32_t>& managerExtents,
                       const std::vector<std::uint32_t>& shadowExtents);

} // namespace platform::xcb
