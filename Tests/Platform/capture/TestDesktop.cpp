#include "TestDesktop.h"

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
    int screenNumber = 0;
    connection_ = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection_)) throw std::runtime_error("no X display");
    auto it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screenNumber; ++i) xcb_screen_next(&it);
    screen_ = it.data;
}

Client::~Client()
{
    xcb_disconnect(connection_);
}

xcb_atom_t Client::atom(const char* name) const
{
    auto* reply = xcb_intern_atom_reply(connection_, xcb_intern_atom(connection_, 0, std::uint16_t(std::strlen(name)), name),
                                        nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

void Client::sync() const
{
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

void Client::warpPointer(int x, int y) const
{
    xcb_warp_pointer(connection_, XCB_NONE, root(), 0, 0, 0, 0, std::int16_t(x), std::int16_t(y));
    sync();
}

void Client::setRootLongs(const char* property, xcb_atom_t type, const std::vector<std::uint32_t>& values) const
{
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, root(), atom(property), type, 32,
                        std::uint32_t(values.size()), values.data());
    sync();
}

void Client::deleteRootProperty(const char* property) const
{
    xcb_delete_property(connection_, root(), atom(property));
    sync();
}

Window::Window(Client& client, QRect rect, std::uint32_t rgb, bool map) : client_(client), rect_(rect)
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
    client.sync();
    fill(rgb);
}

Window::~Window()
{
    destroy();
}

void Window::fill(std::uint32_t rgb)
{
    xcb_change_window_attributes(client_.get(), id_, XCB_CW_BACK_PIXEL, &rgb);
    fillRect(QRect(0, 0, 4096, 4096), rgb);
}

void Window::fillRect(QRect rect, std::uint32_t rgb)
{
    if (!id_) return;
    xcb_connection_t* c = client_.get();
    xcb_change_gc(c, gc_, XCB_GC_FOREGROUND, &rgb);
    const xcb_rectangle_t r{std::int16_t(rect.x()), std::int16_t(rect.y()), std::uint16_t(rect.width()),
                            std::uint16_t(rect.height())};
    xcb_poly_fill_rectangle(c, id_, gc_, 1, &r);
    client_.sync();
}

void Window::setGeometry(QRect rect)
{
    const std::uint32_t values[] = {std::uint32_t(rect.x()), std::uint32_t(rect.y()), std::uint32_t(rect.width()),
                                    std::uint32_t(rect.height())};
    xcb_configure_window(client_.get(), id_,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT,
                         values);
    rect_ = rect;
    client_.sync();
}

void Window::raise()
{
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(client_.get(), id_, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    client_.sync();
}

void Window::setString(const char* property, const char* type, const std::string& value)
{
    const xcb_atom_t typeAtom = std::strcmp(type, "STRING") == 0 ? xcb_atom_t(XCB_ATOM_STRING) : client_.atom(type);
    xcb_change_property(client_.get(), XCB_PROP_MODE_REPLACE, id_, client_.atom(property), typeAtom, 8,
                        std::uint32_t(value.size()), value.data());
    client_.sync();
}

void Window::setLongs(const char* property, xcb_atom_t type, const std::vector<std::uint32_t>& values)
{
    xcb_change_property(client_.get(), XCB_PROP_MODE_REPLACE, id_, client_.atom(property), type, 32,
                        std::uint32_t(values.size()), values.data());
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

platform::ScreenStream::FrameHandler FrameCollector::frameHandler()
{
    return [this](platform::ScreenFrame frame) {
        Frame copy{frame.image.copy(), frame.hostTime};
        frame.image = QImage();  // give the pooled buffer back before taking the lock
        std::lock_guard lock(mutex_);
        if (error_) frameAfterError_ = true;
        frames_.push_back(std::move(copy));
        changed_.notify_all();
    };
}

platform::ScreenStream::ErrorHandler FrameCollector::errorHandler()
{
    return [this](const platform::CaptureError& error) {
        std::lock_guard lock(mutex_);
        error_ = error.what();
        changed_.notify_all();
    };
}

bool FrameCollector::waitForFrames(std::size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return frames_.size() >= count; });
}

bool FrameCollector::waitForError(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return error_.has_value(); });
}

std::optional<FrameCollector::Frame> FrameCollector::waitForPixel(QPoint at, std::uint32_t rgb,
                                                                  std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    std::optional<Frame> found;
    changed_.wait_for(lock, timeout, [&] {
        for (auto it = frames_.rbegin(); it != frames_.rend(); ++it) {
            if (it->image.rect().contains(at) && rgbAt(it->image, at.x(), at.y()) == rgb) {
                found = *it;
                return true;
            }
        }
        return false;
    });
    return found;
}

std::vector<FrameCollector::Frame> FrameCollector::frames()
{
    std::lock_guard lock(mutex_);
    return frames_;
}

std::size_t FrameCollector::count()
{
    std::lock_guard lock(mutex_);
    return frames_.size();
}

std::optional<std::string> FrameCollector::error()
{
    std::lock_guard lock(mutex_);
    return error_;
}

bool FrameCollector::frameAfterError()
{
    std::lock_guard lock(mutex_);
    return frameAfterError_;
}

} // namespace testdesktop
