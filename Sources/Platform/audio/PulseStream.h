#pragma once

// Plumbing shared by the input and output streams. Internal to this folder.

#include "Platform/audio/AudioServer.h"

#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

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

// Waits, under the mainloop lock, until a connecting stream is ready.
// Returns 0, or the server's error code when the stream failed.
int waitUntilReady(pa_stream* stream, const AudioServer& server);

// Detaches every callback, disconnects and releases the stream, and clears
// the pointer. Under the mainloop lock.
void closeStream(pa_stream*& stream);

} // namespace platform::pulse
