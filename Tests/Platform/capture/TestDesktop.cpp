#include "TestDesktop.h"

#include <chrono>
#include <string>
#include <thread>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace testdesktop {

bool haveDisplay()
{
    const char* display = std::getenv("DISPLAY");
    return display && *display;
}

Client::Client()
{
    connection_ = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection_)) throw std::runtime_error("no X display");
    screen_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;  // the test desktop has one screen
}

xcb_atom_t Client::atom(const char* name) const
{
    auto* reply = xcb_intern_atom_reply(connection_, xcb_intern_atom(connection_, 0, std::uint16_t(std::strlen(name)), name),
                                        nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

Window::Window(Client& client, QRect rect, std::uint32_t rgb, bool map) : client_(client)
{
    xcb_connection_t* c = client.get();
    id_ = xcb_generate_id(c);
    const std::uint32_t values[] = {rgb, XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, id_, client.root(), std::int16_t(rect.x()), std::int16_t(rect.y()),
                      std::uint16_t(rect.width()), std::uint16_t(rect.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
    gc_ = xcb_generate_id(c);
    xcb_create_gc(c, gc_, id_, 0, nullptr);
    if (map) xcb_map_window(c, id_);
    fill(rgb);
}

void Window::fill(std::uint32_t rgb)
{
    xcb_change_window_attributes(client_.get(), id_, XCB_CW_BACK_PIXEL, &rgb);
    fillRect(QRect(0, 0, 4096, 4096), rgb);
}

void Window::fillRect(QRect rect, std::uint32_t rgb)
{
    xcb_change_gc(client_.get(), gc_, XCB_GC_FOREGROUND, &rgb);
    const xcb_rectangle_t r{std::int16_t(rect.x()), std::int16_t(rect.y()), std::uint16_t(rect.width()),
                            std::uint16_t(rect.height())};
    xcb_poly_fill_rectangle(client_.get(), id_, gc_, 1, &r);
    client_.sync();
}

void Window::setGeometry(QRect rect)
{
    const std::uint32_t values[] = {std::uint32_t(rect.x()), std::uint32_t(rect.y()), std::uint32_t(rect.width()),
                                    std::uint32_t(rect.height())};
    xcb_configure_window(client_.get(), id_,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                         values);
    client_.sync();
}

void Window::setProperty(const char* property, xcb_atom_t type, std::uint8_t format, std::uint32_t count,
                         const void* data)
{
    xcb_change_property(client_.get(), XCB_PROP_MODE_REPLACE, id_, client_.atom(property), type, format, count, data);
    client_.sync();
}

void Window::destroy()
{
    if (!id_) return;
    xcb_free_gc(client_.get(), gc_);
    xcb_destroy_window(client_.get(), id_);
    client_.sync();
    id_ = 0;
}

namespace {
// Runs the session script's command; false where there is no script.
bool shell(const char* part, const char* action)
{
    const char* script = std::getenv("ONDEXA_DESKTOP_SCRIPT");
    if (!script || !*script) return false;
    const std::string command = std::string("'") + script + "' " + part + " " + action + " >&2";
    return std::system(command.c_str()) == 0;
}

// Waits until no client redirects the root's windows. The window manager's
// process being gone is not enough: the server lets go of its redirection
// only when it gets to the closed connection, and a window mapped before
// that is handed to the dead manager and never shown.
void awaitNoWindowManager()
{
    const Client probe;
    for (int i = 0; i < 500; ++i) {
        const std::uint32_t redirect = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT;
        xcb_generic_error_t* error = xcb_request_check(
            probe.get(), xcb_change_window_attributes_checked(probe.get(), probe.root(), XCB_CW_EVENT_MASK, &redirect));
        if (!error) {
            const std::uint32_t none = 0;
            xcb_change_window_attributes(probe.get(), probe.root(), XCB_CW_EVENT_MASK, &none);
            probe.sync();
            return;
        }
        std::free(error);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}
} // namespace

BareDesktop::BareDesktop()
{
    bare_ = shell("panel", "stop") && shell("wm", "stop");
    if (bare_) awaitNoWindowManager();
}

BareDesktop::~BareDesktop()
{
    if (!bare_) return;
    shell("wm", "start");
    shell("panel", "start");
}

} // namespace testdesktop
