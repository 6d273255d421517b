#pragma once

#include "Platform/capture/CaptureError.h"

#include <QRect>

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Positions on X11 are root-window pixels with the origin at the root's top
// left; one point is one pixel (scale 1).

// One monitor of the X screen.
struct ScreenDisplay {
    std::uint32_t id = 0;   // stable across sessions (derived from the name); never 0
    std::string name;       // the RandR monitor's name ("DP-1"); wholeRootName for the whole root
    QRect frame;            // in root coordinates (a Wayland session's logical pixels)
    bool primary = false;   // the main display; exactly one per list (the first when RandR names none)
    std::string model;      // the monitor's own name from its EDID ("DELL U2719D"); empty when it gives none
    double scale = 1;       // device pixels per unit of `frame` (above 1 on a scaled Wayland output)

    // The name of the one display of a root without RandR monitors.
    static constexpr const char* wholeRootName = "screen";

    bool operator==(const ScreenDisplay&) const = default;
};

// The monitor name an EDID block carries (its display-name descriptor), with
// the padding trimmed; empty when the block is not an EDID or names nothing.
std::string monitorNameFromEdid(const std::uint8_t* edid, std::size_t size);

// One top-level window of another program.
struct ScreenWindow {
    std::uint32_t id = 0;       // the client window's X id
    std::string title;          // _NET_WM_NAME, else WM_NAME, as UTF-8; may be empty
    std::string application;    // the class part of WM_CLASS; empty when the window has none
    std::int64_t pid = 0;       // _NET_WM_PID; 0 when the window doesn't say
    QRect frame;                // in root coordinates: with the manager's decorations, without drawn shadows
    bool onScreen = false;      // mapped and not minimised
    bool normal = true;         // an ordinary application window or dialog (not a dock, desktop or menu)
};

// What can be captured right now.
struct ScreenContent {
    std::vector<ScreenDisplay> displays;  // the primary first, then the others in RandR's order
    std::vector<ScreenWindow> windows;    // front to back

    struct Options {
        bool excludeOwnProcess = true;    // leave out windows whose _NET_WM_PID is this process
    };

    // Reads the monitors (RandR 1.5; the whole root as one display when there
    // are none) and the client windows (the window manager's EWMH list; on a
    // bare X server without a window manager, the root's mapped children).
    // Throws CaptureError when no X display answers.
    static ScreenContent fetch(Options options);
    static ScreenContent fetch() { return fetch(Options{}); }

    // The display id for a monitor name (FNV-1a of the name; 0 is avoided).
    static std::uint32_t displayId(const std::string& monitorName);
};

// Whether the screen may be captured: an X display answers a 1×1 grab of its
// root. In a Wayland session (or with no display at all) it says no, and
// `reason` says why, for the log.
struct ScreenAccess {
    bool granted = false;
    std::string reason;  // Hungarian; empty when granted
    // Why not, for the user's sentence: no X display to talk to, a Wayland
    // session (with or without XWayland), or a display that would not give a
    // picture.
    enum class Refusal { none, noDisplay, waylandOnly, refused };
    Refusal refusal = Refusal::none;

    // On the portal's path (usesScreenCastPortal) it says yes: the
    // permission there is the portal's own dialog, asked at the start.
    static ScreenAccess check();
    // XDG_SESSION_TYPE is "wayland" or WAYLAND_DISPLAY is set. An X display
    // there is XWayland's, which shows only the windows of X11 programs: a
    // grab of it would come out black wherever a native window lies.
    static bool isWaylandSession();
    // Both say so: the screen is recorded through the desktop's screen-cast
    // portal (ScreenCastPortal, PipeWireStream) and never through X.
    static bool usesScreenCastPortal();
};

} // namespace platform
