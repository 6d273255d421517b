#pragma once

#include "Platform/media/MediaError.h"
#include "Platform/media/MediaTime.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

class QImage;

namespace platform {

// Writes one QuickTime movie with any number of video and sound tracks, fed
// in real time with presentation times on one clock (the host clock for a
// recording). The movie is written in fragments of about 2 seconds after a
// header that goes out first, so a process that dies mid-recording leaves a
// file that plays up to its last complete fragment. Fragments begin at key
// frames of the first video track, which come at least every 2 s of media
// time however few frames there are; an encoder holds no frames back (but
// see setParallelFrames), so a fragment holds the picture up to the time it
// is cut (a process that dies also loses the pictures still waiting for
// their encoder thread, see waitingPictures). A caller whose picture stands
// still keeps it in the movie with repeatVideo().
//
// Video is H.264 High (automatic level), BT.709 limited range, no B-frames,
// a key frame at least every 2 × fps frames, at the track's bit rate. Sound
// is AAC, 2 channels, 256 kbit/s. Sound timing is repaired on the way in:
// samples before the session start are dropped, leading silence and gaps are
// filled with silence, overlaps are trimmed, other rates are resampled, a
// track lagging the picture by over a second is kept up with silence, and
// every sound track is padded or cut to the end time. Every track starts at
// its first sample's time (the session start for sound), with no edit list.
//
// Life: add tracks → start() (creates the file) → startSession(at) →
// append… → finish(end) or cancel(). A failed write moves the writer to
// `failed`; the first error is kept and thrown again by later appends and by
// finish().
//
// Threads: not thread-safe. Every call must come from one thread at a time,
// in practice the recorder's serial capture queue; the writer may be created
// on another thread and handed over. A picture is converted on the calling
// thread (the conversion spread over worker threads of its own) and encoded
// on its track's encoder thread (the H.264 encoder working on slices of one
// frame, or on several frames, see setParallelFrames): an append returns once its picture is converted, and the pictures
// waiting for the encoder keep the times they were appended with. Sound is
// encoded on the calling thread. finish() encodes what still waits.
//
// Errors: failures of the file or the codecs throw MediaError (a Hungarian
// sentence with FFmpeg's detail). Misuse by the caller (adding a track after
// start, an unknown track, bad sample buffers) throws std::logic_error or
// std::invalid_argument and leaves the writer as it was.
class MovieWriter {
public:
    enum class State {
        configuring,  // tracks may be added; no file yet
        writing,      // file created; appends accepted (after startSession)
        finished,     // trailer written, file closed
        failed,       // a write or codec call failed; failure() says why
        cancelled,    // writing abandoned and the file removed
    };

    struct VideoTrack {
        std::string name;                 // stored as the track's name (at most 127 bytes kept)
        int width = 0;                    // even, at least 2
        int height = 0;                   // even, at least 2
        int framesPerSecond = 30;         // expected rate; key frames every 2 × this many frames
        std::int64_t bitsPerSecond = 0;   // average bit rate
    };

    struct SoundTrack {
        std::string name;                 // stored as the track's name (at most 127 bytes kept)
        int sampleRate = 48000;           // the track's rate; above 48000 it is written at 48000
    };

    explicit MovieWriter(std::filesystem::path path);
    ~MovieWriter();  // closes the file as it is (like a crash: fragments written so far stay)

    MovieWriter(const MovieWriter&) = delete;
    MovieWriter& operator=(const MovieWriter&) = delete;

    const std::filesystem::path& path() const { return path_; }
    State state() const { return state_; }
    const std::optional<MediaError>& failure() const { return failure_; }

    // Before start(). Tracks are stored in the order of these calls, video and
    // sound mixed; each returns the track's index among tracks of its kind.
    int addVideoTrack(const VideoTrack& track);
    int addSoundTrack(const SoundTrack& track);
    // The sample rate a sound track is written at (the given rate capped at
    // 48000 and raised to the next rate AAC knows).
    int soundTrackRate(int soundTrack) const;
    // Before start(): the track's encoder works on several frames at once
    // instead of on slices of one, which keeps up with large pictures on
    // few cores; it then holds up to framesInEncoder() frames back until
    // later ones come, so a caller whose picture stands still repeats it
    // often enough that those held span little time. Off by default.
    void setParallelFrames(int videoTrack, bool parallel);
    // How many appended frames the track's encoder may hold back (0 unless
    // it encodes frames in parallel).
    int framesInEncoder(int videoTrack) const;

    // Creates the file exclusively (an existing file is never touched: that
    // fails with a MediaError) and opens the encoders. A failure removes the
    // file it created.
    void start();

    // The movie's time 0. Once, after start(). Samples and frames earlier than
    // `at` are dropped.
    void startSession(MediaTime at);
    std::optional<MediaTime> sessionStart() const { return sessionStart_; }

    // A picture of 8-bit B, G, R, A bytes (alpha ignored), `bytesPerRow` apart;
    // scaled when its size differs from the track's. Returns false when the
    // frame was dropped: no session yet, earlier than the session start, or not
    // later than the track's previous frame.
    bool appendVideo(int videoTrack, const std::uint8_t* bgra, int width, int height, std::ptrdiff_t bytesPerRow,
                     MediaTime presentationTime);
    bool appendVideo(int videoTrack, const QImage& image, MediaTime presentationTime);
    // Whether the track takes a picture now: false while as many pictures
    // as it may hold (waitingPictures) wait for its encoder. A picture
    // appended then waits until one is encoded; a real-time caller drops it
    // instead and counts it.
    bool videoReady(int videoTrack) const;
    // How many pictures of a track may wait for its encoder (beside the
    // newest) on a machine with `memoryBytes` of memory: up to 10 s of them,
    // within a quarter of the memory and at most 2 GiB, at least 4.
    static int waitingPictures(int width, int height, int framesPerSecond, std::uint64_t memoryBytes);
    // Appends the track's last picture again at `presentationTime`, without
    // converting it again. Returns false when there is no picture yet or the
    // time is not later than the track's previous frame.
    bool repeatVideo(int videoTrack, MediaTime presentationTime);

    // `frames` frames of interleaved float samples, `channels` per frame, at
    // `sampleRate`, the first one presented at `presentationTime`. Mono goes to
    // both sides; of more channels the first two are kept. Returns false when
    // dropped whole (no session yet, or entirely before what is written).
    bool appendSound(int soundTrack, const float* interleaved, int frames, int channels, int sampleRate,
                     MediaTime presentationTime);

    // Ends every track at `endTime` (the last picture lasts until then, sound
    // is padded or cut to it), flushes the encoders, writes the trailer and
    // syncs and closes the file. Throws MediaError when the file can't be
    // completed, or the first failure when the writer has already failed.
    void finish(MediaTime endTime);

    // Tests: while held, the encoder threads take no picture, as a slow
    // encoder on a loaded machine would not; and a wait until every picture
    // appended so far is encoded (and written, up to its fragment).
    void holdEncodersForTesting(bool held);
    void awaitEncodersForTesting();

    // How far the movie plays, from the session start: the end of the last
    // fragment written whole, or of what it holds where that ends sooner;
    // none before the first. After a failure, finish() leaves the file
    // ending there.
    std::optional<MediaTime> keptUntil() const;

    // Abandons the movie: closes and removes the file. Allowed in any state
    // before finished; never throws.
    void cancel() noexcept;

private:
    struct Impl;
    struct VideoState;
    struct SoundState;

    [[noreturn]] void fail(MediaError error);
    void checkEncoders();
    void encodePicture(VideoState& v, const MediaTime& sinceStart, std::int64_t ticks);
    void requireWriting() const;

    std::filesystem::path path_;
    State state_ = State::configuring;
    std::optional<MediaError> failure_;
    std::optional<MediaTime> sessionStart_;
    std::unique_ptr<Impl> impl_;
};

} // namespace platform
