#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct pa_stream;

namespace platform {

class AudioServer;

// A playback stream on the sound server's default sink: interleaved 32-bit
// float frames, written by one thread of the caller (pushed, not pulled) and
// played after everything written before.
//
// Frames are counted from zero when the stream opens and again after each
// flush, which also starts a new generation. The count and the server's
// latency tell which frame is being heard: a player's clock.
class AudioOutputStream {
public:
    struct Options {
        int sampleRate = 48000;
        int channels = 2;
        int bufferMilliseconds = 50;  // what the server keeps queued: the latency
    };

    struct Position {
        std::uint64_t generation = 0;
        std::int64_t frames = 0;  // frames of this generation heard so far
    };

    // Called on the sound thread when the stream stops by itself (the server
    // died, the sink went away), with a Hungarian sentence saying why.
    using EndCallback = std::function<void(const std::string&)>;

    // Opens the stream, paused, and waits until it runs. Throws AudioError
    // (no server, or the server refuses the stream).
    explicit AudioOutputStream(Options options, EndCallback onEnd = {});
    // Closes the stream; no callback runs after it returns. Never from the
    // sound thread.
    ~AudioOutputStream();

    AudioOutputStream(const AudioOutputStream&) = delete;
    AudioOutputStream& operator=(const AudioOutputStream&) = delete;

    int sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }

    // While paused nothing is heard; what was written stays queued (the
    // server still asks for its buffer to be filled).
    void setPaused(bool paused);

    // Waits until the server takes at least `frames` more frames of
    // `generation`. Returns how many it takes now; 0 once `generation` has
    // been flushed or after interrupt(); -1 once the stream has ended.
    int waitWritable(int frames, std::uint64_t generation);
    // Makes every waitWritable return at once from now on, so that the
    // thread that writes can be stopped.
    void interrupt();

    // Queues `frames` frames when `generation` is still the current one;
    // false, and nothing written, after a flush since.
    bool write(const float* samples, int frames, std::uint64_t generation);

    // Drops every frame not yet heard. Counting starts again from zero under
    // a new generation, which is returned.
    std::uint64_t flush();
    std::uint64_t generation() const;

    // The current generation and the number of its frames heard so far:
    // those written minus those still queued. Zero until the server reports
    // the generation playing; it stands while nothing plays (paused, run dry)
    // and never goes back within a generation.
    Position playingPosition() const;

    // What the server tells of a generation's playing.
    struct Timing {
        bool playing = false;     // it passes frames on to the device, and its latency is known
        std::int64_t queued = 0;  // frames written and not yet heard (the latency)
    };
    // The frames heard of `written`, given those heard at the last reading.
    static std::int64_t heardFrames(std::int64_t written, std::int64_t before, const Timing& timing);

private:
    static void writeCallback(pa_stream* stream, std::size_t bytes, void* self);
    static void stateCallback(pa_stream* stream, void* self);

    std::shared_ptr<AudioServer> server_;  // kept alive as long as the stream
    pa_stream* stream_ = nullptr;          // touched with the server's loop locked
    EndCallback onEnd_;                    // called on the sound thread only
    const int sampleRate_;
    const int channels_;
    bool closing_ = false;           // loop lock: we are closing, no end report
    bool ended_ = false;             // loop lock: the stream has stopped by itself
    bool running_ = false;           // loop lock: the stream got going
    std::int64_t written_ = 0;       // loop lock: frames written in this generation
    mutable std::int64_t heard_ = 0; // loop lock: frames of this generation heard at the last reading
    std::uint64_t generation_ = 0;   // loop lock
    bool interrupted_ = false;       // loop lock
};

} // namespace platform
