#pragma once

#include <cstdint>
#include <string>

class QWidget;

namespace ondexa {

// What a launcher gives the program it starts so that the program's window
// may come to the front: the startup-notification id on X11, an activation
// token on Wayland. A later launch hands them on to the running program.
struct LaunchActivation {
    std::string startupId;  // DESKTOP_STARTUP_ID
    std::string token;      // XDG_ACTIVATION_TOKEN

    bool empty() const { return startupId.empty() && token.empty(); }
    friend bool operator==(const LaunchActivation&, const LaunchActivation&) = default;

    // This launch's, from its environment. Read before the QApplication is
    // made: Qt's X11 plugin takes the id out of the environment.
    static LaunchActivation fromEnvironment();

    // Ends the launcher's feedback (the busy pointer, the panel's entry) for
    // a launch that opens no window of its own: on X11, the "remove" message
    // for its id. Needs the QApplication; nothing elsewhere.
    void endStartupNotice() const;
    // Activates `window` as the launch asked for it: on Wayland with its
    // token, on X11 with its id (named on the window, the activation stamped
    // with the id's time), else as Qt does.
    void activate(QWidget& window) const;

    // The time of the user's action that an X11 startup id carries after its
    // last "_TIME"; 0 where it carries none.
    static std::uint32_t startupTime(const std::string& id);
    // The startup-notification message that ends the launch of `id`, its
    // value quoted where the id holds a blank, a quote or a backslash.
    static std::string removeMessage(const std::string& id);
};

} // namespace ondexa
