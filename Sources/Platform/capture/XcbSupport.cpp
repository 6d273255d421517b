#include "Platform/capture/XcbSupport.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace platform::xcb {

std::string withDetail(const std::string& sentence, const std::string& detail)
{
    if (detail.empty()) return sentence;
    if (!sentence.empty() && sentence.back() == '.')
        return sentence.substr(0, sentence.size() - 1) + " (" + detail + ").";
    return sentence + " (" + detail + ")";
}

std::string withXError(const std::string& sentence, const xcb_generic_error_t* error)
{
    if (!error) return sentence;
    return withDetail(sentence, "X hibakód " + std::to_string(error->error_code));
}

std::string displayName()
{
    const char* name = std::getenv("DISPLAY");
    return name ? std::string(name) : std::string();
}

Connection::Connection()
{
    const std::string name = displayName();
    if (name.empty()) throw CaptureError("Nincs X kijelző: a DISPLAY környezeti változó üres.");
    int screenNumber = 0;
    connection_ = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection_)) {
        xcb_disconnect(connection_);
        connection_ = nullptr;
        throw CaptureError(withDetail("Az X kijelző nem érhető el.", "DISPLAY=" + name));
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; it.rem && i < screenNumber; ++i) xcb_screen_next(&it);
    if (!it.rem) {
        xcb_disconnect(connection_);
        connection_ = nullptr;
        throw CaptureError(withDetail("Az X kijelzőnek nincs ilyen képernyője.", "DISPLAY=" + name));
    }
    screen_ = it.data;
}

Connection::~Connection()
{
    if (connection_) xcb_disconnect(connection_);
}

QRect Connection::rootRect() const
{
    return QRect(0, 0, screen_->width_in_pixels, screen_->height_in_pixels);
}

QRect Connection::queryRootRect() const
{
    Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, root()), nullptr));
    if (!geometry) return rootRect();
    return QRect(0, 0, geometry->width, geometry->height);
}

bool Connection::hasExtension(xcb_extension_t* extension) const
{
    const xcb_query_extension_reply_t* data = xcb_get_extension_data(connection_, extension);
    return data && data->present;
}

Atoms Atoms::intern(xcb_connection_t* connection)
{
    static constexpr std::array names = {
        "_NET_CLIENT_LIST",         "_NET_CLIENT_LIST_STACKING",  "_NET_WM_NAME",
        "_NET_WM_PID",              "_NET_FRAME_EXTENTS",         "_NET_WM_STATE",
        "_NET_WM_STATE_HIDDEN",     "_NET_WM_WINDOW_TYPE",        "_NET_WM_WINDOW_TYPE_NORMAL",
        "_NET_WM_WINDOW_TYPE_DIALOG", "_NET_WM_WINDOW_TYPE_UTILITY", "UTF8_STRING",
        "WM_STATE",                 "_GTK_FRAME_EXTENTS",
    };
    std::array<xcb_intern_atom_cookie_t, names.size()> cookies{};
    for (std::size_t i = 0; i < names.size(); ++i)
        cookies[i] = xcb_intern_atom(connection, 0, std::uint16_t(std::strlen(names[i])), names[i]);
    std::array<xcb_atom_t, names.size()> atoms{};
    for (std::size_t i = 0; i < names.size(); ++i) {
        Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookies[i], nullptr));
        atoms[i] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }
    Atoms a;
    a.netClientList = atoms[0];
    a.netClientListStacking = atoms[1];
    a.netWmName = atoms[2];
    a.netWmPid = atoms[3];
    a.netFrameExtents = atoms[4];
    a.netWmState = atoms[5];
    a.netWmStateHidden = atoms[6];
    a.netWmWindowType = atoms[7];
    a.netWmWindowTypeNormal = atoms[8];
    a.netWmWindowTypeDialog = atoms[9];
    a.netWmWindowTypeUtility = atoms[10];
    a.utf8String = atoms[11];
    a.wmState = atoms[12];
    a.gtkFrameExtents = atoms[13];
    return a;
}

xcb_get_property_cookie_t requestProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                                          std::uint32_t maxLongs)
{
    return xcb_get_property(connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, maxLongs);
}

std::vector<std::uint32_t> propertyLongs(xcb_connection_t* connection, xcb_get_property_cookie_t cookie)
{
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, nullptr));
    if (!reply || reply->format != 32 || reply->type == XCB_ATOM_NONE) return {};
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    return std::vector<std::uint32_t>(values, values + count);
}

std::optional<std::string> propertyBytes(xcb_connection_t* connection, xcb_get_property_cookie_t cookie,
                                         xcb_atom_t* type)
{
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE || reply->format != 8) return std::nullopt;
    if (type) *type = reply->type;
    const int length = xcb_get_property_value_length(reply.get());
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())), std::size_t(length));
}

std::string latin1ToUtf8(const std::string& latin1)
{
    std::string out;
    out.reserve(latin1.size());
    for (unsigned char c : latin1) {
        if (c < 0x80) {
            out.push_back(char(c));
        } else {
            out.push_back(char(0xC0 | (c >> 6)));
            out.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

QRect frameWithExtents(QPoint insideOrigin, int width, int height, const std::vector<std::uint32_t>& managerExtents,
                       const std::vector<std::uint32_t>& shadowExtents)
{
    QRect frame(insideOrigin, QSize(width, height));
    // A misbehaving client could write huge values: keep them sane.
    auto side = [](std::uint32_t v) { return int(std::min<std::uint32_t>(v, 4096)); };
    if (managerExtents.size() == 4)
        frame.adjust(-side(managerExtents[0]), -side(managerExtents[2]), side(managerExtents[1]),
                     side(managerExtents[3]));
    if (shadowExtents.size() == 4) {
        const QRect inner = frame.adjusted(side(shadowExtents[0]), side(shadowExtents[2]), -side(shadowExtents[1]),
                                           -side(shadowExtents[3]));
        if (!inner.isEmpty()) frame = inner;
    }
    return frame;
}

} // namespace platform::xcb
