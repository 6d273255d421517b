#pragma once

// Plumbing shared by the input and output streams. Internal to this folder.

#include "Platform/audio/AudioServer.h"

#include <pulse/mainloop-api.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <chrono>

namespace platform::pulse {

// Holds the server's mainloop lock for a scope.
class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
    ~LoopLock() { pa_threaded_mainloop_unlock(loop_); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

// A time limit on one wait for the server, kept by a timer on the server's
// loop that wakes the waiter when it passes. Made and dropped with the loop
// locked; passed() is read with the loop locked.
class Deadline {
public:
    Deadline(pa_threaded_mainloop* loop, pa_context* context,
             std::chrono::milliseconds after = AudioServer::answerDeadline);
    ~Deadline();
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    bool passed() const { return passed_; }

private:
    static void fire(pa_mainloop_api* api, pa_time_event* event, const struct timeval* when, void* self);

    pa_threaded_mainloop* loop_;
    pa_mainloop_api* api_;
    pa_time_event* event_ = nullptr;  // owned; loop lock
    bool passed_ = false;             // loop lock
};

// Waits, under the mainloop lock, until a connecting stream is ready.
// Returns 0, the server's error code when the stream failed, or
// PA_ERR_TIMEOUT when the server did not answer within its deadline.
int waitUntilReady(pa_stream* stream, const AudioServer& server);

// Detaches every callback, disconnects and releases the stream, and clears
// the pointer. Under the mainloop lock.
void closeStream(pa_stream*& stream);

} // namespace platform::pulse
