#pragma once

#include "Platform/capture/PortalRequest.h"

#include <QDBusConnection>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// A keyboard shortcut of the whole desktop on a Wayland session, through the
// xdg-desktop-portal's org.freedesktop.portal.GlobalShortcuts interface: the
// desktop decides (and may ask the user) which keys trigger it.
//
// Threads: create, use and destroy it on one thread with a running Qt event
// loop (the main thread); the callbacks come there.

struct WantedShortcut {
    std::string id;                // ours, unique within the session
    std::string description;       // shown by the desktop, Hungarian
    std::string preferredTrigger;  // in the portal's notation, e.g. "CTRL+ALT+a"
};

struct PortalShortcutBinding {
    enum class Outcome {
        bound,    // the desktop took it: presses arrive
        refused,  // the user or the desktop said no
        failed,   // the interface is missing, failed or did not answer in time: `error` says why
    };
    Outcome outcome = Outcome::failed;
    std::string trigger;  // the desktop's words for the keys granted; may be empty
    std::string error;    // Hungarian, with the service's own detail in parentheses
};

class PortalShortcut {
public:
    // Opens a shortcuts session and binds `wanted` at once. `bound` runs once
    // with the outcome; `activated` runs for each press of this shortcut in
    // this session, after a successful bind only. A request of the two left
    // unanswered for `deadline` fails the binding, for good.
    PortalShortcut(QDBusConnection bus, WantedShortcut wanted, std::function<void(PortalShortcutBinding)> bound,
                   std::function<void()> activated,
                   std::chrono::milliseconds deadline = portal::defaultDeadline);
    // Closes the session; no callback runs afterwards.
    ~PortalShortcut();

    PortalShortcut(const PortalShortcut&) = delete;
    PortalShortcut& operator=(const PortalShortcut&) = delete;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

namespace shortcuts {
inline constexpr const char* interface = "org.freedesktop.portal.GlobalShortcuts";
} // namespace shortcuts

} // namespace platform
