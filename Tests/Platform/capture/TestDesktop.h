#pragma once

// Windows the desktop tests open and paint on the test desktop, through a
// connection of their own (a different client from the code under test).

#include <QImage>
#include <QRect>

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>

namespace testdesktop {

// True when $DISPLAY is set (the desktop fixture sets it).
bool haveDisplay();

// The test desktop without its window manager and panel while this lives:
// for tests that paint and read back pixels at places they chose (a window
// manager places, frames and stacks windows its own way). Both come back at
// the end. Does nothing where no script names the session.
class BareDesktop {
public:
    BareDesktop();
    ~BareDesktop();
    BareDesktop(const BareDesktop&) = delete;
    BareDesktop& operator=(const BareDesktop&) = delete;

private:
    bool bare_ = false;
};

class Client {
public:
    Client();
    ~Client() { xcb_disconnect(connection_); }
    xcb_connection_t* get() const { return connection_; }
    xcb_window_t root() const { return screen_->root; }
    xcb_atom_t atom(const char* name) const;
    // Waits until the server has carried out everything sent so far.
    void sync() const { std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr)); }

private:
    xcb_connection_t* connection_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
};

// A plain top-level window filled with one colour (0xRRGGBB).
class Window {
public:
    Window(Client& client, QRect rect, std::uint32_t rgb, bool map = true);
    ~Window() { destroy(); }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    xcb_window_t id() const { return id_; }
    void fill(std::uint32_t rgb);
    void fillRect(QRect rect, std::uint32_t rgb);  // window coordinates
    void setGeometry(QRect rect);
    // `format` 8 takes a string's bytes, 32 a list of longs.
    void setProperty(const char* property, xcb_atom_t type, std::uint8_t format, std::uint32_t count, const void* data);
    void destroy();

private:
    Client& client_;
    xcb_window_t id_ = 0;
    xcb_gcontext_t gc_ = 0;
};

inline std::uint32_t rgbAt(const QImage& image, int x, int y)
{
    return image.pixel(x, y) & 0xFFFFFFu;
}

} // namespace testdesktop
