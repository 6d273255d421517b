#pragma once

// A system tray as a desktop panel offers one once it has started: it owns
// the tray selection of the first screen, announces itself to the programs
// already running, and takes in the icons that ask to be docked (they become
// children of its own window, which is never shown).

#include <xcb/xcb.h>

#include <cstdint>
#include <vector>

namespace ondexa::testing {

class TestTray {
public:
    TestTray();
    ~TestTray();
    TestTray(const TestTray&) = delete;
    TestTray& operator=(const TestTray&) = delete;

    // The selection is ours and the tray has been announced.
    bool running() const { return running_; }
    // Handles what has arrived; the windows of the icons docked so far.
    const std::vector<std::uint32_t>& icons();
    // Whether the icon's window is still mapped (in the tray, which is never
    // shown itself); an icon its program unmapped is gone from the panel.
    bool mapped(std::uint32_t icon);

private:
    xcb_atom_t atom(const char* name);

    xcb_connection_t* connection_ = nullptr;
    xcb_window_t window_ = 0;
    xcb_atom_t opcode_ = 0;
    bool running_ = false;
    std::vector<std::uint32_t> icons_;
};

} // namespace ondexa::testing
