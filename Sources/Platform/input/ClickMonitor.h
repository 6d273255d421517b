#pragma once

#include "Platform/input/PointerPosition.h"

#include <functional>
#include <memory>
#include <string>

namespace platform {

enum class MouseButton { left = 1, right = 3 };

struct MouseClick {
    MouseButton button = MouseButton::left;
    RootPoint position;     // where the pointer was when the press arrived
    double hostTime = 0;    // HostClock seconds when the press arrived
};

// Sees every left and right button press on the X display, whichever program
// the click goes to (XInput2 raw events on the root window, which no grab
// holds back). Buttons are the user's, through the pointer's button map (a
// left-handed map reports its right-hand press as left). Other buttons, the
// wheel among them, are ignored.
//
// Threads: the presses are read on the monitor's own X connection and thread;
// each one is handed to `post`, which must run the given function on the
// thread that owns the monitor (the main thread), and `onClick` runs there.
// start(), stop() and the destructor belong to that thread too. Once stop()
// has returned, `onClick` is not called again, not even for presses that were
// already posted.
class ClickMonitor {
public:
    using Post = std::function<void(std::function<void()>)>;

    // `display` is an X display name; empty means $DISPLAY.
    ClickMonitor(std::function<void(const MouseClick&)> onClick, Post post, const std::string& display = {});
    ~ClickMonitor();

    ClickMonitor(const ClickMonitor&) = delete;
    ClickMonitor& operator=(const ClickMonitor&) = delete;

    // Starts listening; presses made after it returns are reported. False,
    // with error() saying why in Hungarian, when the display can't be reached
    // or lacks XInput 2.2. Starting a running monitor does nothing.
    bool start();
    void stop();
    bool isRunning() const;
    const std::string& error() const { return error_; }

private:
    struct Session;

    std::function<void(const MouseClick&)> onClick_;
    Post post_;
    std::string display_;
    std::string error_;
    std::unique_ptr<Session> session_;
};

} // namespace platform
