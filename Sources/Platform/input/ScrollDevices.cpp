#include "Platform/input/ScrollDevices.h"

#include "Platform/input/XcbPointer.h"

#include <xcb/xinput.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace platform {

namespace {

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// The increment of the device's first valuator along one axis; none without one.
std::optional<double> increment(const PointerDevice& device, bool vertical)
{
    for (const ScrollValuator& valuator : device.scrolls)
        if (valuator.vertical == vertical && std::isfinite(valuator.increment) && valuator.increment != 0)
            return std::abs(valuator.increment);
    return std::nullopt;
}

} // namespace

bool scrollsSmoothly(const PointerDevice& device)
{
    if (device.scrolls.empty()) return false;
    const std::string name = lower(device.name);
    return lower(device.type) == "touchpad" || device.tapping || name.find("touchpad") != std::string::npos ||
           name.find("trackpad") != std::string::npos;
}

std::optional<SmoothDelta> smoothDelta(const PointerDevice& device, int angleX, int angleY)
{
    if (!scrollsSmoothly(device)) return std::nullopt;
    // Qt's angle is the valuator's motion over its increment, times 120.
    const double across = increment(device, false).value_or(increment(device, true).value_or(120));
    const double along = increment(device, true).value_or(across);
    return SmoothDelta{angleX * across / 120.0, angleY * along / 120.0};
}

ScrollJudge::ScrollJudge(Query query) : query_(std::move(query)) {}

std::optional<SmoothDelta> ScrollJudge::judge(int deviceId, int angleX, int angleY)
{
    auto found = devices_.find(deviceId);
    // The server is asked at the first scroll, and again for each device it did not name.
    if (found == devices_.end() && query_ && std::find(asked_.begin(), asked_.end(), deviceId) == asked_.end()) {
        asked_.push_back(deviceId);
        devices_.clear();
        for (PointerDevice& device : query_()) devices_[device.id] = std::move(device);
        found = devices_.find(deviceId);
    }
    if (found == devices_.end()) return std::nullopt;
    return smoothDelta(found->second, angleX, angleY);
}

namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

std::string atomName(xcb_connection_t* connection, xcb_atom_t atom)
{
    if (!atom) return {};
    Reply<xcb_get_atom_name_reply_t> reply(
        xcb_get_atom_name_reply(connection, xcb_get_atom_name(connection, atom), nullptr), &std::free);
    if (!reply) return {};
    return std::string(xcb_get_atom_name_name(reply.get()), std::size_t(xcb_get_atom_name_name_length(reply.get())));
}

xcb_atom_t existingAtom(xcb_connection_t* connection, const std::string& name)
{
    Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, uint16_t(name.size()), name.c_str()), nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(0);
}

// The device types of the older interface, which XInput2 no longer reports.
std::map<int, std::string> deviceTypes(xcb_connection_t* connection)
{
    std::map<int, std::string> types;
    Reply<xcb_input_list_input_devices_reply_t> reply(
        xcb_input_list_input_devices_reply(connection, xcb_input_list_input_devices(connection), nullptr), &std::free);
    if (!reply) return types;
    const xcb_input_device_info_t* infos = xcb_input_list_input_devices_devices(reply.get());
    const int count = xcb_input_list_input_devices_devices_length(reply.get());
    for (int i = 0; i < count; ++i) types[infos[i].device_id] = atomName(connection, infos[i].device_type);
    return types;
}

bool hasProperty(xcb_connection_t* connection, int id, const std::vector<xcb_atom_t>& wanted)
{
    Reply<xcb_input_xi_list_properties_reply_t> reply(
        xcb_input_xi_list_properties_reply(connection,
                                           xcb_input_xi_list_properties(connection, xcb_input_device_id_t(id)), nullptr),
        &std::free);
    if (!reply) return false;
    const xcb_atom_t* atoms = xcb_input_xi_list_properties_properties(reply.get());
    const int count = xcb_input_xi_list_properties_properties_length(reply.get());
    for (int i = 0; i < count; ++i)
        if (atoms[i] && std::find(wanted.begin(), wanted.end(), atoms[i]) != wanted.end()) return true;
    return false;
}

} // namespace

std::vector<PointerDevice> queryPointerDevices(const std::string& display)
{
    std::vector<PointerDevice> devices;
    const detail::RootConnection x = detail::connectToRoot(display);
    if (!x.connection) return devices;
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(x.connection, &xcb_input_id);
    Reply<xcb_input_xi_query_version_reply_t> version(
        extension && extension->present
            ? xcb_input_xi_query_version_reply(x.connection, xcb_input_xi_query_version(x.connection, 2, 2), nullptr)
            : nullptr,
        &std::free);
    if (version && version->major_version >= 2) {
        const std::map<int, std::string> types = deviceTypes(x.connection);
        // Only touchpads can tap, under either driver.
        std::vector<xcb_atom_t> tapping;
        for (const char* name : {"libinput Tapping Enabled", "Synaptics Tap Action"})
            if (const xcb_atom_t atom = existingAtom(x.connection, name)) tapping.push_back(atom);
        Reply<xcb_input_xi_query_device_reply_t> reply(
            xcb_input_xi_query_device_reply(x.connection, xcb_input_xi_query_device(x.connection, XCB_INPUT_DEVICE_ALL),
                                            nullptr),
            &std::free);
        if (reply)
            for (auto info = xcb_input_xi_query_device_infos_iterator(reply.get()); info.rem;
                 xcb_input_xi_device_info_next(&info)) {
                if (info.data->type != XCB_INPUT_DEVICE_TYPE_SLAVE_POINTER) continue;
                PointerDevice device;
                device.id = info.data->deviceid;
                device.name = std::string(xcb_input_xi_device_info_name(info.data),
                                          std::size_t(xcb_input_xi_device_info_name_length(info.data)));
                if (const auto type = types.find(device.id); type != types.end()) device.type = type->second;
                device.tapping = hasProperty(x.connection, device.id, tapping);
                for (auto c = xcb_input_xi_device_info_classes_iterator(info.data); c.rem;
                     xcb_input_device_class_next(&c)) {
                    if (c.data->type != XCB_INPUT_DEVICE_CLASS_TYPE_SCROLL) continue;
                    const auto* scroll = reinterpret_cast<const xcb_input_scroll_class_t*>(c.data);
                    const double increment = scroll->increment.integral + scroll->increment.frac / 4294967296.0;
                    device.scrolls.push_back({scroll->scroll_type == XCB_INPUT_SCROLL_TYPE_VERTICAL, increment});
                }
                devices.push_back(std::move(device));
            }
    }
    xcb_disconnect(x.connection);
    return devices;
}

} // namespace platform
