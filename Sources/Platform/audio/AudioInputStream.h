#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct pa_stream;

namespace platform {

class AudioServer;

// A record stream on one source of the sound server: 32-bit float samples,
// interleaved, delivered on the server connection's main-loop thread (the
// sound input thread) in buffers of about `framesPerBuffer` frames, each
// stamped on the host clock.
class AudioInputStream {
public:
    struct Options {
        std::string source;          // the source's name (AudioSource::name)
        int channels = 0;            // 0: the source's own count
        int sampleRate = 0;          // 0: the source's own rate
        int framesPerBuffer = 1024;  // the buffer size asked of the server
    };

    struct Buffer {
        const float* samples = nullptr;  // frames × channels, interleaved; valid during the callback only
        int frames = 0;
        int channels = 0;
        int sampleRate = 0;
        // Host-clock time (HostClock, nanoseconds) of the first frame: the time
        // of delivery minus the stream's latency. Absent while the server has
        // not yet reported the stream's timing.
        std::optional<std::int64_t> hostTime;
    };

    using BufferCallback = std::function<void(const Buffer&)>;
    // Called on the sound thread when the stream stops by itself (its source
    // went away, the server died), with a Hungarian sentence saying why.
    using EndCallback = std::function<void(const std::string&)>;

    // Opens the stream and waits until it runs. With the source's own channel
    // count, the source's channel map is kept, so channels arrive unmixed.
    // The stream stays on its source: when the source goes away it ends
    // instead of moving elsewhere. Throws AudioError (no server, no such
    // source, or the server refuses the stream).
    AudioInputStream(Options options, BufferCallback onBuffer, EndCallback onEnd = {});
    // Closes the stream; no callback runs after it returns. Never from this
    // stream's own callbacks.
    ~AudioInputStream();

    AudioInputStream(const AudioInputStream&) = delete;
    AudioInputStream& operator=(const AudioInputStream&) = delete;

    int channels() const { return channels_; }
    int sampleRate() const { return sampleRate_; }
    // The source's channel names in stream order ("front-left", "aux0", …).
    const std::vector<std::string>& channelNames() const { return channelNames_; }

private:
    static void readCallback(pa_stream* stream, std::size_t bytes, void* self);
    static void stateCallback(pa_stream* stream, void* self);

    std::shared_ptr<AudioServer> server_;  // kept alive as long as the stream
    pa_stream* stream_ = nullptr;          // touched with the server's loop locked
    BufferCallback onBuffer_;              // called on the sound thread only
    EndCallback onEnd_;                    // called on the sound thread only
    bool closing_ = false;                 // loop lock: we are closing, no end report
    bool ended_ = false;                   // loop lock: the end was reported
    bool running_ = false;                 // loop lock: the stream got going
    int channels_ = 0;
    int sampleRate_ = 0;
    std::vector<std::string> channelNames_;
    std::vector<float> aligned_;  // sound thread only: copy of a fragment that isn't float-aligned
};

} // namespace platform
