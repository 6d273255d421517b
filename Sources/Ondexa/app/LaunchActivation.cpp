#include "Ondexa/app/LaunchActivation.h"

#include <QGuiApplication>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace ondexa {

LaunchActivation LaunchActivation::fromEnvironment()
{
    LaunchActivation launch;
    launch.startupId = qgetenv("DESKTOP_STARTUP_ID").toStdString();
    launch.token = qgetenv("XDG_ACTIVATION_TOKEN").toStdString();
    return launch;
}

namespace {

xcb_connection_t* x11Connection()
{
    // The offscreen platform answers as X11 too, without a connection.
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    auto* reply = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return value;
}

// The root window of the display's default screen.
xcb_window_t defaultRoot(xcb_connection_t* connection)
{
    char* host = nullptr;
    int display = 0, screen = 0;
    if (!xcb_parse_display(nullptr, &host, &display, &screen)) screen = 0;
    std::free(host);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (; it.rem && screen > 0; --screen) xcb_screen_next(&it);
    return it.rem ? it.data->root : xcb_window_t(XCB_WINDOW_NONE);
}

xcb_window_t rootOf(xcb_connection_t* connection, xcb_window_t window)
{
    auto* reply = xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr);
    const xcb_window_t root = reply ? reply->root : defaultRoot(connection);
    std::free(reply);
    return root;
}

} // namespace

std::uint32_t LaunchActivation::startupTime(const std::string& id)
{
    const std::size_t at = id.rfind("_TIME");
    if (at == std::string::npos) return 0;
    const char* first = id.data() + at + 5;
    const char* last = id.data() + id.size();
    std::uint32_t time = 0;
    const auto [end, error] = std::from_chars(first, last, time);
    return error == std::errc() && end == last && first != last ? time : 0;
}

std::string LaunchActivation::removeMessage(const std::string& id)
{
    if (id.find_first_of(" \"\\") == std::string::npos) return "remove: ID=" + id;
    std::string quoted = "\"";
    for (const char c : id) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return "remove: ID=" + quoted + '"';
}

void LaunchActivation::endStartupNotice() const
{
    xcb_connection_t* connection = startupId.empty() ? nullptr : x11Connection();
    if (!connection) return;
    const xcb_window_t root = defaultRoot(connection);
    const xcb_atom_t begin = atom(connection, "_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = atom(connection, "_NET_STARTUP_INFO");
    if (root == XCB_WINDOW_NONE || begin == XCB_ATOM_NONE || more == XCB_ATOM_NONE) return;
    // Sent from a window of the sender's own, as launchers expect; it goes
    // right after.
    const xcb_window_t sender = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, sender, root, -100, -100, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    // The message with its closing NUL, 20 bytes per event.
    const std::string message = removeMessage(startupId) + '\0';
    xcb_client_message_event_t event = {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 8;
    event.window = sender;
    event.type = begin;
    for (std::size_t at = 0; at < message.size(); at += sizeof event.data.data8) {
        std::memset(event.data.data8, 0, sizeof event.data.data8);
        std::memcpy(event.data.data8, message.data() + at, std::min(sizeof event.data.data8, message.size() - at));
        xcb_send_event(connection, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE, reinterpret_cast<const char*>(&event));
        event.type = more;
    }
    xcb_destroy_window(connection, sender);
    // A round trip: the server has it all before this launch ends.
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

void LaunchActivation::activate(QWidget& window) const
{
    const bool wayland = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    // Qt's Wayland plugin activates with the token it finds here, and takes it.
    if (wayland && !token.empty()) qputenv("XDG_ACTIVATION_TOKEN", QByteArray::fromStdString(token));
    window.activateWindow();
    if (wayland) qunsetenv("XDG_ACTIVATION_TOKEN");

    xcb_connection_t* connection = startupId.empty() ? nullptr : x11Connection();
    if (!connection) return;
    const auto id = xcb_window_t(window.winId());
    // The window manager finds the launch by the id on the window; where the
    // id carries the time of the user's action, the activation carries it too,
    // newer than anything this program has seen.
    const xcb_atom_t startupIdAtom = atom(connection, "_NET_STARTUP_ID");
    const xcb_atom_t utf8 = atom(connection, "UTF8_STRING");
    if (startupIdAtom != XCB_ATOM_NONE && utf8 != XCB_ATOM_NONE)
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, startupIdAtom, utf8, 8,
                            std::uint32_t(startupId.size()), startupId.data());
    const xcb_atom_t activeWindow = atom(connection, "_NET_ACTIVE_WINDOW");
    if (const std::uint32_t time = startupTime(startupId); time && activeWindow != XCB_ATOM_NONE) {
        xcb_client_message_event_t event = {};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = id;
        event.type = activeWindow;
        event.data.data32[0] = 1;  // from an application
        event.data.data32[1] = time;
        xcb_send_event(connection, 0, rootOf(connection, id),
                       XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                       reinterpret_cast<const char*>(&event));
    }
    xcb_flush(connection);
}

} // namespace ondexa
