#pragma once

#include <cstdint>
#include <optional>

namespace ondexa {

// Places a stream of sound buffers on the host clock. The stamps a sound
// server gives (delivery time minus latency) jitter by a few ms, so samples
// are counted along a line from a starting stamp; but the sound's clock and
// the host clock part by some 100 ppm, so the line is kept on the smoothed
// stamps by dropping or repeating single frames at the end of a buffer, at
// most 0.1 % of them (inaudible). A stamp far off the line (a gap, an
// overrun, a clock jump) starts the line again at it.
//
// Not thread-safe: one caller (the sound input thread).
class SoundTimeLine {
public:
    // Beyond this a stamp restarts the line.
    static constexpr std::int64_t restartNanoseconds = 40'000'000;
    // The smoothed difference the line may keep before it is corrected.
    static constexpr double deadbandNanoseconds = 2'000'000;
    // At most one frame in this many is dropped or repeated.
    static constexpr int correctionFrames = 1000;

    struct Placement {
        std::int64_t time = 0;  // host time of the buffer's first frame, ns
        int frames = 0;         // frames to keep: fewer drops the last ones, more repeats the last
    };

    // `stamp`: the buffer's host time when known; `now`: the host clock, used
    // only to start a line without a stamp.
    Placement place(int frames, int sampleRate, std::optional<std::int64_t> stamp, std::int64_t now);

private:
    std::int64_t lineAt(std::int64_t frames, int sampleRate) const;

    std::optional<std::int64_t> start_;  // host time of the line's first frame
    std::int64_t frames_ = 0;            // frames placed on the line so far
    int sampleRate_ = 0;
    double drift_ = 0;                   // smoothed stamp minus line, ns
};

} // namespace ondexa
