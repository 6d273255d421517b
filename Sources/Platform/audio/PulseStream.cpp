#include "Platform/audio/PulseStream.h"

#include <pulse/error.h>

namespace platform::pulse {

int waitUntilReady(pa_stream* stream, const AudioServer& server)
{
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_READY) return 0;
        if (!PA_STREAM_IS_GOOD(state)) {
            const int failure = server.lastError();
            return failure != 0 ? failure : PA_ERR_UNKNOWN;
        }
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
