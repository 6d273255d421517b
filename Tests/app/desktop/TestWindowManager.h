#pragma once

// The test desktop's window manager (started again where a test before took
// it away). What it says about
// the windows (the focus, their stacking, their workspaces) is read from
// the root window as a pager would.

#include <QProcess>

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace ondexa::testing {

class TestWindowManager {
public:
    TestWindowManager();
    ~TestWindowManager();
    TestWindowManager(const TestWindowManager&) = delete;
    TestWindowManager& operator=(const TestWindowManager&) = delete;

    // A window manager has taken the screen.
    bool running() const;

    // The window it gave the focus (_NET_ACTIVE_WINDOW), or none.
    std::uint32_t activeWindow() const;
    // The windows it manages, bottom to top.
    std::vector<std::uint32_t> stacking() const;
    // Whether it manages the window (withdrawn ones it does not).
    bool manages(std::uint32_t window) const;
    // Whether `upper` lies above `lower`; false when either is not managed.
    bool above(std::uint32_t upper, std::uint32_t lower) const;
    // How many workspaces it offers.
    std::uint32_t workspaces() const;
    // The workspace the window is on (_NET_WM_DESKTOP), none while withdrawn.
    std::optional<std::uint32_t> workspaceOf(std::uint32_t window) const;

private:
    std::vector<std::uint32_t> rootLongs(const char* property) const;
    std::vector<std::uint32_t> longs(xcb_window_t window, const char* property) const;

    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
};

// Runs a command such as xdotool while the event loop goes on (the program
// it acts on is this one), up to 30 s.
void runBeside(const QString& program, const QStringList& arguments);

} // namespace ondexa::testing
