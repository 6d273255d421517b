#include "Platform/audio/PulseStream.h"

#include "Platform/audio/AudioError.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/rtclock.h>

#include <algorithm>
#include <cstdint>

namespace platform::pulse {

Deadline::Deadline(pa_threaded_mainloop* loop, pa_context* context, std::chrono::milliseconds after)
    : loop_(loop), api_(pa_threaded_mainloop_get_api(loop))
{
    const auto microseconds = std::chrono::duration_cast<std::chrono::microseconds>(after).count();
    event_ = pa_context_rttime_new(context, pa_rtclock_now() + pa_usec_t(std::max<std::int64_t>(microseconds, 0)),
                                   &Deadline::fire, this);
    // Without a timer the wait could last for ever: better no wait at all.
    if (!event_) throw AudioError("Nem sikerült elindítani a hangkezelést.");
}

Deadline::~Deadline()
{
    if (event_) api_->time_free(event_);
}

void Deadline::fire(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data)
{
    auto* self = static_cast<Deadline*>(data);
    self->passed_ = true;
    pa_threaded_mainloop_signal(self->loop_, 0);
}

int waitUntilReady(pa_stream* stream, const AudioServer& server)
{
    const Deadline deadline(server.mainloop(), server.context());
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_READY) return 0;
        if (!PA_STREAM_IS_GOOD(state)) {
            const int failure = server.lastError();
            return failure != 0 ? failure : PA_ERR_UNKNOWN;
        }
        if (deadline.passed()) return PA_ERR_TIMEOUT;
        pa_threaded_mainloop_wait(server.mainloop());
    }
}

void closeStream(pa_stream*& stream)
{
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
}

} // namespace platform::pulse
