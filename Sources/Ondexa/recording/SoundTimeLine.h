#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace ondexa {

// Places a stream of sound buffers on the host clock. The stamps a sound
// server gives (delivery time minus latency) jitter by a few ms, so samples
// are counted along a line from a starting stamp; but the sound's clock and
// the host clock part by some 100 ppm, so the line is kept on the smoothed
// stamps by dropping or repeating single frames at the end of a buffer, at
// most 0.1 % of them (inaudible). A stamp far off the line (a gap, an
// overrun, a clock jump) starts the line again at it; a line made with an
// early cut instead cuts the leading frames of a buffer that comes early by
// up to that much, and stays.
//
// A line's first stamp alone sets where it starts, and on a loaded machine
// that one can be tens of ms off the ones after it (the first buffer read
// late, its latency not yet known); taken out at one frame in 1000 that
// error would last as many seconds. So half a second into a line, the
// median of its stamps so far moves it once, when it lies more than
// settleNanoseconds off: a short gap or cut then, on the stamps after.
//
// A line that checks delivery also watches when the buffers arrive: a stream
// whose reported latency is settling (a monitor just opened on an output that
// rendered far ahead) shifts its stamps by hundreds of ms while its sound
// comes on without a break. While the latency settles, only a stamp whose
// buffer also came that much early or late moves the line at once; otherwise
// the stamps just steer the frame corrections.
//
// Not thread-safe: one caller (the sound input thread).
class SoundTimeLine {
public:
    // A joining stream's stamp later than the line by more than this leaves a gap.
    static constexpr std::int64_t joinNanoseconds = 10'000'000;
    // Beyond this a stamp restarts the line.
    static constexpr std::int64_t restartNanoseconds = 40'000'000;
    // The smoothed difference the line may keep before it is brought back
    // onto the stamps.
    static constexpr double deadbandNanoseconds = 1'000'000;
    // At most one frame in this many is dropped or repeated, over any run of buffers.
    static constexpr int correctionFrames = 1000;
    // How far the median of a line's first stamps may lie off its start
    // before the line is moved onto them, and when that is judged.
    static constexpr std::int64_t settleNanoseconds = 4'000'000;
    static constexpr std::int64_t settleAfterNanoseconds = 500'000'000;

    struct Placement {
        std::int64_t time = 0;  // host time of the first frame kept, ns
        int frames = 0;         // frames to keep: fewer drops the last ones, more repeats the last
        int skipped = 0;        // leading frames cut (before `frames` are counted)
    };

    struct Options {
        std::int64_t earlyCutNanoseconds = 0;
        bool checksDelivery = false;
    };
    SoundTimeLine() = default;
    explicit SoundTimeLine(Options options)
        : earlyCut_(options.earlyCutNanoseconds), checksDelivery_(options.checksDelivery)
    {
    }

    // `stamp`: the buffer's host time when known; `now`: the host clock when
    // it arrived (starts a line without a stamp; with delivery checks, tells
    // a gap from a change of latency).
    Placement place(int frames, int sampleRate, std::optional<std::int64_t> stamp, std::int64_t now);
    // Host time the next frame gets; none before the first buffer.
    std::optional<std::int64_t> next() const;
    // The next buffer starts the line afresh.
    void restart() { start_.reset(); }
    // The next buffers come from another stream of the same sound (another
    // output's monitor): the first with a stamp joins the line where it ends,
    // its leading frames cut where the line already holds their time; only a
    // true gap (later than the stamps' jitter) starts the line again.
    void join() { joining_ = true; }

private:
    std::int64_t lineAt(std::int64_t frames, int sampleRate) const;
    // Records a stamp's distance from a young line; the median once enough
    // of the line is placed (see settleNanoseconds).
    std::optional<std::int64_t> settle(std::int64_t difference, bool trusted, bool latencyJumped);

    std::optional<std::int64_t> start_;  // host time of the line's first frame
    std::int64_t frames_ = 0;            // frames placed on the line so far
    int sampleRate_ = 0;
    double drift_ = 0;                   // smoothed stamp minus line, ns
    std::int64_t credit_ = 0;            // frames placed towards the next correction
    int correcting_ = 0;                 // past the dead band (the sign of the drift), not yet back on the stamps
    bool joining_ = false;
    bool settled_ = true;                // the line's start is judged (or needs no judging)
    std::vector<std::int64_t> early_;    // stamp minus line, since the line started
    std::int64_t cutLeft_ = 0;           // frames still to cut after a late start
    std::int64_t earlyCut_ = 0;          // a stamp earlier than this restarts; 0: the restart limit
    bool checksDelivery_ = false;
    double lag_ = 0;                     // smoothed arrival time minus line, ns
    std::int64_t latency_ = 0;           // arrival time minus stamp of the last buffer, ns
    std::int64_t latencyChangedAt_ = 0;  // host time the latency last jumped, ns
};

} // namespace ondexa
