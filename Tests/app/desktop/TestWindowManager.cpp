#include "app/desktop/TestWindowManager.h"

#include "recording/AppStateFakes.h"  // pumpUntil

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace ondexa::testing {

namespace {

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    auto* reply = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return value;
}

} // namespace

TestWindowManager::TestWindowManager() : connection_(xcb_connect(nullptr, nullptr))
{
    if (xcb_connection_has_error(connection_)) return;
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    if (running()) return;
    // A desktop whose window manager a test before took away: its own comes back.
    const char* script = std::getenv("ONDEXA_DESKTOP_SCRIPT");
    if (!script || std::system((std::string("'") + script + "' wm start >&2").c_str()) != 0) return;
    // A manager that went before may have left its properties on the root
    // (and the new one's check window may take the old id): it is there
    // once it manages a window of ours.
    const xcb_window_t probe = xcb_generate_id(connection_);
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, probe, root_, 0, 0, 10, 10, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, 0, nullptr);
    xcb_map_window(connection_, probe);
    xcb_flush(connection_);
    pumpUntil([&] { return running() && manages(probe); }, std::chrono::seconds(20));
    xcb_destroy_window(connection_, probe);
    xcb_flush(connection_);
    pumpUntil([&] { return !manages(probe); }, std::chrono::seconds(5));
}

TestWindowManager::~TestWindowManager()
{
    if (connection_) xcb_disconnect(connection_);
}

std::vector<std::uint32_t> TestWindowManager::longs(xcb_window_t window, const char* property) const
{
    auto* reply = xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window, atom(connection_, property), XCB_ATOM_ANY, 0, 4096),
        nullptr);
    std::vector<std::uint32_t> values;
    if (reply && reply->format == 32) {
        const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
        values.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return values;
}

std::vector<std::uint32_t> TestWindowManager::rootLongs(const char* property) const
{
    return longs(root_, property);
}

bool TestWindowManager::running() const
{
    if (!connection_ || xcb_connection_has_error(connection_)) return false;
    // The check window names itself: a property left by a manager that has
    // gone points at a window that is no more.
    const auto check = rootLongs("_NET_SUPPORTING_WM_CHECK");
    return !check.empty() && longs(check.front(), "_NET_SUPPORTING_WM_CHECK") == check;
}

std::uint32_t TestWindowManager::activeWindow() const
{
    const auto active = rootLongs("_NET_ACTIVE_WINDOW");
    return active.empty() ? 0 : active.front();
}

std::vector<std::uint32_t> TestWindowManager::stacking() const { return rootLongs("_NET_CLIENT_LIST_STACKING"); }

bool TestWindowManager::manages(std::uint32_t window) const
{
    // xfwm4 lists the stacking only once it has restacked something.
    const auto managed = rootLongs("_NET_CLIENT_LIST");
    return std::find(managed.begin(), managed.end(), window) != managed.end();
}

bool TestWindowManager::above(std::uint32_t upper, std::uint32_t lower) const
{
    const auto order = stacking();
    const auto u = std::find(order.begin(), order.end(), upper);
    const auto l = std::find(order.begin(), order.end(), lower);
    return u != order.end() && l != order.end() && u > l;
}

std::uint32_t TestWindowManager::workspaces() const
{
    const auto count = rootLongs("_NET_NUMBER_OF_DESKTOPS");
    return count.empty() ? 1 : count.front();
}

std::optional<std::uint32_t> TestWindowManager::workspaceOf(std::uint32_t window) const
{
    const auto desktop = longs(window, "_NET_WM_DESKTOP");
    if (desktop.empty()) return std::nullopt;
    return desktop.front();
}

void runBeside(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(10000)) return;
    pumpUntil([&] { return process.state() == QProcess::NotRunning; }, std::chrono::seconds(30));
}

} // namespace ondexa::testing
