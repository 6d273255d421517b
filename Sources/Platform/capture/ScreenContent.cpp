#include "Platform/capture/ScreenContent.h"

#include "Platform/capture/XcbSupport.h"

#include <xcb/randr.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string_view>
#include <unistd.h>

namespace platform {

using xcb::Reply;

namespace {

// The name in the EDID of the first of a monitor's outputs that gives one.
std::string monitorModel(xcb_connection_t* c, xcb_atom_t edidAtom, const std::vector<xcb_randr_output_t>& outputs)
{
    // The base block (128 bytes) holds the name; extensions are not read.
    constexpr std::uint32_t kBaseBlockLongs = 128 / 4;
    for (xcb_randr_output_t output : outputs) {
        Reply<xcb_randr_get_output_property_reply_t> edid(xcb_randr_get_output_property_reply(
            c, xcb_randr_get_output_property(c, output, edidAtom, XCB_ATOM_ANY, 0, kBaseBlockLongs, 0, 0), nullptr));
        if (!edid || edid->format != 8) continue;
        std::string name = monitorNameFromEdid(xcb_randr_get_output_property_data(edid.get()),
                                               std::size_t(xcb_randr_get_output_property_data_length(edid.get())));
        if (!name.empty()) return name;
    }
    return {};
}

xcb_atom_t existingAtom(xcb_connection_t* c, const char* name)
{
    Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, std::uint16_t(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

std::vector<ScreenDisplay> readDisplays(const xcb::Connection& connection)
{
    xcb_connection_t* c = connection.get();
    std::vector<ScreenDisplay> displays;

    if (connection.hasExtension(&xcb_randr_id)) {
        Reply<xcb_randr_query_version_reply_t> version(
            xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
        if (version && (version->major_version > 1 || version->minor_version >= 5)) {
            Reply<xcb_randr_get_monitors_reply_t> monitors(
                xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, connection.root(), 1), nullptr));
            if (monitors) {
                std::vector<xcb_get_atom_name_cookie_t> names;
                std::vector<std::vector<xcb_randr_output_t>> outputs;
                std::vector<ScreenDisplay> found;
                for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem;
                     xcb_randr_monitor_info_next(&it)) {
                    const xcb_randr_monitor_info_t* m = it.data;
                    if (m->width == 0 || m->height == 0) continue;
                    ScreenDisplay display;
                    display.frame = QRect(m->x, m->y, m->width, m->height);
                    display.primary = m->primary != 0;
                    found.push_back(display);
                    names.push_back(xcb_get_atom_name(c, m->name));
                    const xcb_randr_output_t* first = xcb_randr_monitor_info_outputs(m);
                    outputs.emplace_back(first, first + xcb_randr_monitor_info_outputs_length(m));
                }
                const xcb_atom_t edidAtom = existingAtom(c, "EDID");
                for (std::size_t i = 0; i < found.size(); ++i) {
                    Reply<xcb_get_atom_name_reply_t> name(xcb_get_atom_name_reply(c, names[i], nullptr));
                    if (name)
                        found[i].name.assign(xcb_get_atom_name_name(name.get()),
                                             std::size_t(xcb_get_atom_name_name_length(name.get())));
                    if (found[i].name.empty()) found[i].name = "monitor-" + std::to_string(i + 1);
                    if (edidAtom != XCB_ATOM_NONE) found[i].model = monitorModel(c, edidAtom, outputs[i]);
                }
                displays = std::move(found);
            }
        }
    }

    if (displays.empty()) {
        ScreenDisplay whole;
        whole.name = ScreenDisplay::wholeRootName;
        whole.frame = connection.queryRootRect();
        whole.primary = true;
        displays.push_back(whole);
    }

    // There is always a main display: without a primary monitor (Xvfb, some
    // setups without a configured primary) the first one is it.
    if (std::none_of(displays.begin(), displays.end(), [](const ScreenDisplay& d) { return d.primary; }))
        displays.front().primary = true;
    // The primary first: callers take the first display as the default.
    std::stable_partition(displays.begin(), displays.end(), [](const ScreenDisplay& d) { return d.primary; });

    // Ids stay unique within one list even if two names hash alike.
    std::set<std::uint32_t> used;
    for (ScreenDisplay& display : displays) {
        std::uint32_t id = ScreenContent::displayId(display.name);
        while (id == 0 || used.count(id)) ++id;
        used.insert(id);
        display.id = id;
    }
    return displays;
}

// The property's 32-bit items, or nullopt when the property is absent (an
// empty list and no list at all mean different things for the client list).
std::optional<std::vector<std::uint32_t>> rootList(xcb_connection_t* c, xcb_window_t root, xcb_atom_t atom)
{
    if (atom == XCB_ATOM_NONE) return std::nullopt;
    Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c, xcb::requestProperty(c, root, atom, 65536), nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE || reply->format != 32) return std::nullopt;
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    return std::vector<std::uint32_t>(values, values + count);
}

// Candidate windows, front to back.
std::vector<xcb_window_t> clientWindows(xcb_connection_t* c, xcb_window_t root, const xcb::Atoms& atoms,
                                        bool& managed)
{
    managed = true;
    if (auto stacking = rootList(c, root, atoms.netClientListStacking)) {
        std::reverse(stacking->begin(), stacking->end());  // the list runs bottom to top
        return *stacking;
    }
    if (auto clients = rootList(c, root, atoms.netClientList)) {
        std::reverse(clients->begin(), clients->end());  // newest first: closest to front to back without stacking
        return *clients;
    }
    // No window manager: the root's children are the top-level windows.
    managed = false;
    Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr));
    if (!tree) return {};
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    std::vector<xcb_window_t> windows(children, children + xcb_query_tree_children_length(tree.get()));
    std::reverse(windows.begin(), windows.end());
    return windows;
}

std::string trimNuls(std::string text)
{
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

std::vector<ScreenWindow> readWindows(const xcb::Connection& connection, const ScreenContent::Options& options)
{
    xcb_connection_t* c = connection.get();
    const xcb_window_t root = connection.root();
    const xcb::Atoms atoms = xcb::Atoms::intern(c);
    bool managed = true;
    const std::vector<xcb_window_t> ids = clientWindows(c, root, atoms, managed);

    // Every request goes out before any reply is read: one round trip for the lot.
    struct Pending {
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_geometry_cookie_t geometry;
        xcb_translate_coordinates_cookie_t origin;
        xcb_get_property_cookie_t netName, name, wmClass, pid, extents, shadow, state, type;
    };
    std::vector<Pending> pending;
    pending.reserve(ids.size());
    for (xcb_window_t id : ids) {
        Pending p;
        p.attributes = xcb_get_window_attributes(c, id);
        p.geometry = xcb_get_geometry(c, id);
        p.origin = xcb_translate_coordinates(c, id, root, 0, 0);
        p.netName = xcb::requestProperty(c, id, atoms.netWmName);
        p.name = xcb::requestProperty(c, id, XCB_ATOM_WM_NAME);
        p.wmClass = xcb::requestProperty(c, id, XCB_ATOM_WM_CLASS);
        p.pid = xcb::requestProperty(c, id, atoms.netWmPid, 1);
        p.extents = xcb::requestProperty(c, id, atoms.netFrameExtents, 4);
        p.shadow = xcb::requestProperty(c, id, atoms.gtkFrameExtents, 4);
        p.state = xcb::requestProperty(c, id, atoms.netWmState, 64);
        p.type = xcb::requestProperty(c, id, atoms.netWmWindowType, 64);
        pending.push_back(p);
    }

    const QRect rootRect = connection.queryRootRect();
    const std::int64_t ownPid = ::getpid();
    std::vector<ScreenWindow> windows;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        Pending& p = pending[i];
        Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c, p.attributes, nullptr));
        Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, p.geometry, nullptr));
        Reply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(c, p.origin, nullptr));
        auto netName = xcb::propertyBytes(c, p.netName);
        xcb_atom_t nameType = XCB_ATOM_NONE;
        auto name = xcb::propertyBytes(c, p.name, &nameType);
        auto wmClass = xcb::propertyBytes(c, p.wmClass);
        auto pid = xcb::propertyLongs(c, p.pid);
        auto extents = xcb::propertyLongs(c, p.extents);
        auto shadow = xcb::propertyLongs(c, p.shadow);
        auto state = xcb::propertyLongs(c, p.state);
        auto type = xcb::propertyLongs(c, p.type);

        // Gone since the list was read.
        if (!attributes || !geometry || !origin) continue;
        const bool viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        if (!managed) {
            // Without a manager only mapped, ordinary top-levels count; toolkits
            // keep unmapped helper windows there.
            if (!viewable || attributes->override_redirect || attributes->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT)
                continue;
        }

        ScreenWindow window;
        window.id = ids[i];
        if (netName && !trimNuls(*netName).empty()) {
            window.title = trimNuls(*netName);
        } else if (name) {
            // STRING is Latin-1; COMPOUND_TEXT starts out as Latin-1 too, and
            // UTF8_STRING is used as it is.
            window.title = nameType == atoms.utf8String ? trimNuls(*name) : xcb::latin1ToUtf8(trimNuls(*name));
        }
        if (wmClass) {
            // "instance\0class\0"
            const std::size_t split = wmClass->find('\0');
            if (split != std::string::npos) window.application = trimNuls(wmClass->substr(split + 1));
        }
        if (!pid.empty()) window.pid = pid[0];
        if (options.excludeOwnProcess && window.pid == ownPid) continue;

        window.frame = xcb::frameWithExtents(QPoint(origin->dst_x, origin->dst_y), geometry->width,
                                             geometry->height, extents, shadow);
        const bool hidden = std::find(state.begin(), state.end(), atoms.netWmStateHidden) != state.end();
        window.onScreen = viewable && !hidden && window.frame.intersects(rootRect);
        window.normal = type.empty() || type[0] == atoms.netWmWindowTypeNormal ||
                        type[0] == atoms.netWmWindowTypeDialog;
        windows.push_back(std::move(window));
    }
    return windows;
}

} // namespace

std::string monitorNameFromEdid(const std::uint8_t* edid, std::size_t size)
{
    static constexpr std::uint8_t kHeader[8] = {0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00};
    constexpr std::size_t kBaseBlock = 128;
    if (!edid || size < kBaseBlock || !std::equal(kHeader, kHeader + 8, edid)) return {};
    // Four 18-byte descriptors from byte 54; a display descriptor starts
    // with a zero pixel clock, and tag 0xFC marks the monitor's name: up to
    // 13 characters ended by a line feed and padded with blanks.
    for (std::size_t offset = 54; offset + 18 <= kBaseBlock - 2; offset += 18) {
        const std::uint8_t* d = edid + offset;
        if (d[0] != 0 || d[1] != 0 || d[2] != 0 || d[3] != 0xfc) continue;
        std::string name;
        for (std::size_t i = 5; i < 18 && d[i] != 0x0a; ++i)
            if (d[i] >= 0x20 && d[i] < 0x7f) name += char(d[i]);
        const auto first = name.find_first_not_of(' ');
        if (first == std::string::npos) return {};
        return name.substr(first, name.find_last_not_of(' ') - first + 1);
    }
    return {};
}

std::uint32_t ScreenContent::displayId(const std::string& monitorName)
{
    std::uint32_t hash = 2166136261u;
    for (unsigned char ch : monitorName) {
        hash ^= ch;
        hash *= 16777619u;
    }
    return hash == 0 ? 1 : hash;
}

ScreenContent ScreenContent::fetch(Options options)
{
    xcb::Connection connection;
    ScreenContent content;
    content.displays = readDisplays(connection);
    content.windows = readWindows(connection, options);
    if (connection.broken()) throw CaptureError("Megszakadt a kapcsolat az X kijelzővel.");
    return content;
}

bool ScreenAccess::isWaylandSession()
{
    const char* type = std::getenv("XDG_SESSION_TYPE");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (type && std::string_view(type) == "wayland") || (wayland && *wayland);
}

bool ScreenAccess::usesScreenCastPortal()
{
    const char* type = std::getenv("XDG_SESSION_TYPE");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return type && std::string_view(type) == "wayland" && wayland && *wayland;
}

ScreenAccess ScreenAccess::check()
{
    ScreenAccess access;
    if (usesScreenCastPortal()) {
        access.granted = true;
        return access;
    }
    if (isWaylandSession()) {
        // Caught before the X display: XWayland's display would answer, but
        // with a picture that is black wherever a native window lies.
        access.refusal = ScreenAccess::Refusal::waylandOnly;
        access.reason = xcb::displayName().empty()
                            ? "Wayland munkamenet X kijelző nélkül: a képernyőfelvételhez X11 kell."
                            : "Wayland munkamenet: az X kijelző (XWayland) csak az X11 programok ablakait mutatja, "
                              "a felvétel máshol fekete lenne.";
        return access;
    }
    if (xcb::displayName().empty()) {
        access.reason = "Nincs X kijelző: a DISPLAY környezeti változó üres.";
        access.refusal = ScreenAccess::Refusal::noDisplay;
        return access;
    }
    try {
        xcb::Connection connection;
        xcb_connection_t* c = connection.get();
        xcb_generic_error_t* error = nullptr;
        Reply<xcb_get_image_reply_t> image(xcb_get_image_reply(
            c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, connection.root(), 0, 0, 1, 1, ~0u), &error));
        xcb::Error owned(error);
        if (!image) {
            access.reason = xcb::withXError("Az X kijelző nem adott képet a képernyőről.", error);
            access.refusal = ScreenAccess::Refusal::refused;
            return access;
        }
        access.granted = true;
    } catch (const CaptureError& e) {
        access.reason = e.what();
        access.refusal = ScreenAccess::Refusal::noDisplay;
    }
    return access;
}

} // namespace platform
