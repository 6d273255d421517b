#include "app/desktop/TestTray.h"

#include <cstdlib>
#include <cstring>

namespace ondexa::testing {

namespace {
constexpr std::uint32_t requestDock = 0;
}

xcb_atom_t TestTray::atom(const char* name)
{
    auto* reply = xcb_intern_atom_reply(connection_, xcb_intern_atom(connection_, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return value;
}

TestTray::TestTray()
{
    connection_ = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection_)) return;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    window_ = xcb_generate_id(connection_);
    const std::uint32_t events = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK, &events);
    const xcb_atom_t selection = atom("_NET_SYSTEM_TRAY_S0");
    opcode_ = atom("_NET_SYSTEM_TRAY_OPCODE");
    xcb_set_selection_owner(connection_, window_, selection, XCB_CURRENT_TIME);
    auto* owner = xcb_get_selection_owner_reply(connection_, xcb_get_selection_owner(connection_, selection), nullptr);
    running_ = owner && owner->owner == window_;
    std::free(owner);
    if (!running_) return;

    // The announcement programs waiting for a tray listen for.
    xcb_client_message_event_t message = {};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = screen->root;
    message.type = atom("MANAGER");
    message.data.data32[0] = XCB_CURRENT_TIME;
    message.data.data32[1] = selection;
    message.data.data32[2] = window_;
    xcb_send_event(connection_, 0, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection_);
}

TestTray::~TestTray()
{
    // Our window goes with the connection, and the selection with it.
    if (connection_) xcb_disconnect(connection_);
}

const std::vector<std::uint32_t>& TestTray::icons()
{
    if (!running_) return icons_;
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
            const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
            if (message->type == opcode_ && message->data.data32[1] == requestDock) {
                const xcb_window_t icon = message->data.data32[2];
                xcb_reparent_window(connection_, icon, window_, 0, 0);
                xcb_map_window(connection_, icon);
                xcb_flush(connection_);
                icons_.push_back(icon);
            }
        }
        std::free(event);
    }
    return icons_;
}

bool TestTray::mapped(std::uint32_t icon)
{
    auto* reply = xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, icon), nullptr);
    const bool mapped = reply && reply->map_state != XCB_MAP_STATE_UNMAPPED;
    std::free(reply);
    return mapped;
}

} // namespace ondexa::testing
