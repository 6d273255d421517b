#pragma once

// Windows the capture tests open and paint on the test desktop, through a
// connection of their own (a different client from the code under test).

#include "Platform/capture/ScreenStream.h"

#include <QImage>
#include <QRect>

#include <xcb/xcb.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace testdesktop {

// True when $DISPLAY is set (the desktop fixture sets it).
bool haveDisplay();

class Client {
public:
    Client();
    ~Client();
    xcb_connection_t* get() const { return connection_; }
    xcb_window_t root() const { return screen_->root; }
    xcb_atom_t atom(const char* name) const;
    // Waits until the server has carried out everything sent so far.
    void sync() const;
    void warpPointer(int x, int y) const;
    void setRootLongs(const char* property, xcb_atom_t type, const std::vector<std::uint32_t>& values) const;
    void deleteRootProperty(const char* property) const;

private:
    xcb_connection_t* connection_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
};

// A plain top-level window filled with one colour (0xRRGGBB).
class Window {
public:
    Window(Client& client, QRect rect, std::uint32_t rgb, bool map = true);
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    xcb_window_t id() const { return id_; }
    void fill(std::uint32_t rgb);
    void fillRect(QRect rect, std::uint32_t rgb);  // window coordinates
    void setGeometry(QRect rect);
    void raise();
    void setString(const char* property, const char* type, const std::string& value);
    void setLongs(const char* property, xcb_atom_t type, const std::vector<std::uint32_t>& values);
    void destroy();

private:
    Client& client_;
    xcb_window_t id_ = 0;
    xcb_gcontext_t gc_ = 0;
    QRect rect_;
};

// Collects a stream's frames (as deep copies, so the stream's pool stays free).
class FrameCollector {
public:
    struct Frame {
        QImage image;
        std::int64_t hostTime = 0;
    };

    platform::ScreenStream::FrameHandler frameHandler();
    platform::ScreenStream::ErrorHandler errorHandler();

    // Waits until at least `count` frames arrived; false on timeout.
    bool waitForFrames(std::size_t count, std::chrono::milliseconds timeout);
    bool waitForError(std::chrono::milliseconds timeout);
    // Waits for a frame whose pixel at `at` has colour `rgb`.
    std::optional<Frame> waitForPixel(QPoint at, std::uint32_t rgb, std::chrono::milliseconds timeout);

    std::vector<Frame> frames();
    std::size_t count();
    std::optional<std::string> error();
    // Whether a frame came after the error (it must not).
    bool frameAfterError();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Frame> frames_;           // guarded by mutex_
    std::optional<std::string> error_;    // guarded by mutex_
    bool frameAfterError_ = false;        // guarded by mutex_
};

inline std::uint32_t rgbAt(const QImage& image, int x, int y)
{
    return image.pixel(x, y) & 0xFFFFFFu;
}

} // namespace testdesktop
