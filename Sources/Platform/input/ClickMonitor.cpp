#include "Platform/input/ClickMonitor.h"

#include "Platform/core/HostClock.h"
#include "Platform/input/XcbPointer.h"

#include <xcb/xinput.h>

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>
#include <utility>
#include <vector>

namespace platform {

namespace {

// Lets the owner's stop() silence presses that were posted but not yet run:
// the posted functions share it and outlive the monitor if need be.
struct Gate {
    std::atomic<bool> open{true};
    std::function<void(const MouseClick&)> onClick;
};

} // namespace

struct ClickMonitor::Session {
    detail::RootConnection x;
    std::uint8_t xinputOpcode = 0;
    int wakeFd = -1;
    std::thread thread;
    std::shared_ptr<Gate> gate;
    Post post;
    // The pointer's button map: the logical button of physical button n is
    // buttonMap[n - 1] (0 disables it). Raw events carry physical buttons,
    // so a left-handed map would otherwise log left for right. Read at the
    // start and again on every pointer MappingNotify; the monitor's thread
    // owns it once it runs.
    std::vector<std::uint8_t> buttonMap;

    ~Session()
    {
        if (thread.joinable()) {
            std::uint64_t one = 1;
            [[maybe_unused]] ssize_t written = ::write(wakeFd, &one, sizeof one);
            thread.join();
        }
        if (x.connection) xcb_disconnect(x.connection);
        if (wakeFd >= 0) ::close(wakeFd);
    }

    // Empty on success, else why not.
    std::string open(const std::string& display)
    {
        x = detail::connectToRoot(display);
        if (!x.connection) return "az X kijelző nem érhető el";
        const xcb_query_extension_reply_t* xinput = xcb_get_extension_data(x.connection, &xcb_input_id);
        if (!xinput || !xinput->present) return "az X kijelzőn nincs XInput bővítmény";
        xinputOpcode = xinput->major_opcode;
        // 2.2 or later: raw events then arrive even while another client
        // holds a pointer grab (a menu, a drag).
        xcb_input_xi_query_version_reply_t* version = xcb_input_xi_query_version_reply(
            x.connection, xcb_input_xi_query_version(x.connection, 2, 2), nullptr);
        const bool recent = version && (version->major_version > 2 ||
                                        (version->major_version == 2 && version->minor_version >= 2));
        std::free(version);
        if (!recent) return "az X kijelző XInput bővítménye túl régi";

        struct {
            xcb_input_event_mask_t head;
            std::uint32_t bits;
        } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS};
        xcb_generic_error_t* error =
            xcb_request_check(x.connection, xcb_input_xi_select_events_checked(x.connection, x.root, 1, &mask.head));
        if (error) {
            std::free(error);
            return "az X kijelző elutasította a figyelést";
        }
        readButtonMap();
        wakeFd = ::eventfd(0, EFD_CLOEXEC);
        if (wakeFd < 0) return "nem indítható a figyelése";
        return {};
    }

    void readButtonMap()
    {
        xcb_get_pointer_mapping_reply_t* reply =
            xcb_get_pointer_mapping_reply(x.connection, xcb_get_pointer_mapping(x.connection), nullptr);
        buttonMap.clear();
        if (!reply) return;  // the server's map stays unknown: buttons as they come
        const std::uint8_t* map = xcb_get_pointer_mapping_map(reply);
        buttonMap.assign(map, map + xcb_get_pointer_mapping_map_length(reply));
        std::free(reply);
    }

    std::uint32_t logicalButton(std::uint32_t physical) const
    {
        return physical >= 1 && physical <= buttonMap.size() ? buttonMap[physical - 1] : physical;
    }

    void handle(xcb_generic_event_t* event)
    {
        const std::uint8_t type = event->response_type & 0x7f;
        if (type == XCB_MAPPING_NOTIFY) {
            if (reinterpret_cast<xcb_mapping_notify_event_t*>(event)->request == XCB_MAPPING_POINTER)
                readButtonMap();
            return;
        }
        if (type != XCB_GE_GENERIC) return;
        auto* generic = reinterpret_cast<xcb_ge_generic_event_t*>(event);
        if (generic->extension != xinputOpcode || generic->event_type != XCB_INPUT_RAW_BUTTON_PRESS) return;
        auto* press = reinterpret_cast<xcb_input_raw_button_press_event_t*>(event);
        const std::uint32_t button = logicalButton(press->detail);
        if (button != 1 && button != 3) return;

        MouseClick click;
        click.hostTime = HostClock::nowSeconds();
        click.button = button == 3 ? MouseButton::right : MouseButton::left;
        // Raw events carry no position; the pointer has hardly moved since.
        std::optional<RootPoint> where = detail::queryPointer(x.connection, x.root);
        if (!where) return;  // on another screen: not on anything we record
        click.position = *where;
        post([gate = gate, click] {
            if (gate->open) gate->onClick(click);
        });
    }

    void run()
    {
        pthread_setname_np(pthread_self(), "clicks");
        pollfd fds[2] = {{xcb_get_file_descriptor(x.connection), POLLIN, 0}, {wakeFd, POLLIN, 0}};
        for (;;) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(x.connection)) {
                handle(event);
                std::free(event);
            }
            if (xcb_connection_has_error(x.connection)) return;  // the server went away
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
            if (fds[1].revents) return;
        }
    }
};

ClickMonitor::ClickMonitor(std::function<void(const MouseClick&)> onClick, Post post, const std::string& display)
    : onClick_(std::move(onClick)), post_(std::move(post)), display_(display)
{
}

ClickMonitor::~ClickMonitor() { stop(); }

bool ClickMonitor::start()
{
    if (session_) return true;
    auto session = std::make_unique<Session>();
    if (std::string why = session->open(display_); !why.empty()) {
        error_ = "Az egérkattintások nem figyelhetők: " + why + ".";
        return false;
    }
    error_.clear();
    session->gate = std::make_shared<Gate>();
    session->gate->onClick = onClick_;
    session->post = post_;
    Session* s = session.get();
    session->thread = std::thread([s] { s->run(); });
    session_ = std::move(session);
    return true;
}

void ClickMonitor::stop()
{
    if (!session_) return;
    session_->gate->open = false;
    session_.reset();
}

bool ClickMonitor::isRunning() const { return session_ != nullptr; }

} // namespace platform
