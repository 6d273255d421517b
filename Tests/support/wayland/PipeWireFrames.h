#pragma once

// A minimal PipeWire video consumer for tests: it connects through a
// descriptor the ScreenCast portal handed out, takes shared-memory frames of a
// node and keeps copies of the newest ones. Independent of the program's own
// consumer, so that a test can tell the session's faults from the program's.

#include <QImage>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_stream;

namespace screencast {

class PipeWireFrames {
public:
    struct Frame {
        QImage image;           // Format_RGB32
        std::int64_t pts = -1;  // ns, from the buffer's header where it has one
        std::int64_t hostTime = 0;  // CLOCK_MONOTONIC ns when it came
        std::uint64_t number = 0;   // 1 for the first frame
    };

    // Takes `fd` (from OpenPipeWireRemote) and starts streaming `node`;
    // `keep` frames are kept. `onFrame` (optional) sees every frame on
    // PipeWire's thread.
    PipeWireFrames(int fd, std::uint32_t node, std::size_t keep = 4,
                   std::function<void(const Frame&)> onFrame = {});
    ~PipeWireFrames();
    PipeWireFrames(const PipeWireFrames&) = delete;
    PipeWireFrames& operator=(const PipeWireFrames&) = delete;

    // Waits up to `limit` until `count` frames came in all, or the stream failed.
    bool waitForFrames(std::uint64_t count, std::chrono::milliseconds limit);
    std::uint64_t frameCount() const;
    std::deque<Frame> frames() const;
    std::string error() const;
    std::string format() const;  // the negotiated format, e.g. "BGRx 1920x1080"

    struct Hooks;

private:
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_stream* stream_ = nullptr;
    void* listener_ = nullptr;  // spa_hook

    std::size_t keep_;
    std::function<void(const Frame&)> onFrame_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    // Guarded by mutex_: written on PipeWire's thread.
    std::deque<Frame> frames_;
    std::uint64_t count_ = 0;
    std::string error_;
    std::string format_;
    // PipeWire's thread only.
    std::uint32_t videoFormat_ = 0;
    int width_ = 0, height_ = 0;
};

} // namespace screencast
