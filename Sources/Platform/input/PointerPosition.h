#pragma once

#include <memory>
#include <optional>
#include <string>

namespace platform {

// A position on the X screen in root window pixels: origin at the top left,
// y growing downwards.
struct RootPoint {
    int x = 0;
    int y = 0;
    friend bool operator==(const RootPoint&, const RootPoint&) = default;
};

// Reads where the pointer is now, over a private X connection. One round trip
// to the server per call, cheap enough for a 60 Hz timer.
//
// Threads: not thread-safe; use it from one thread (the main thread).
class PointerPosition {
public:
    // `display` is an X display name; empty means $DISPLAY. Never throws: an
    // unreachable display makes every current() empty.
    explicit PointerPosition(const std::string& display = {});
    ~PointerPosition();

    PointerPosition(const PointerPosition&) = delete;
    PointerPosition& operator=(const PointerPosition&) = delete;

    // Empty when the display is gone or the pointer is on another screen.
    std::optional<RootPoint> current();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace platform
