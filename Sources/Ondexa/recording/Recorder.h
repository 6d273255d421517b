#pragma once

#include "Ondexa/recording/CameraCapture.h"
#include "Ondexa/recording/CaptureTarget.h"
#include "Platform/media/MediaTime.h"

#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QSize>
#include <QSizeF>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ondexa {

class MicCapture;

// Turns one recording into one movie: the screen picture, the optional
// camera picture, the system sound (the monitor of the default output,
// followed when the user switches output) and the
// audio-interface sound of a running MicCapture, in that track order (the
// editor relies on it: video track 0 is the screen, video track 1 the camera).
//
// Every time here is a host-clock time. The movie starts at the host time of
// its first complete screen frame, which stop() hands back so that click and
// pointer times can be made relative to it. The screen stream delivers only
// changed pictures; while none comes, the last one is appended again every
// second (several times a second for a picture encoded on frames in
// parallel), so that each fragment of the movie holds picture (a crash loses
// at most the last fragment and half a second).
//
// Life: constructed (nothing captured, no file) → start() → recording (the
// session begins with the first frame) → stop() → finished or failed. One
// recording per object; drop it after stop() completes or start() fails.
//
// Threads: construct, start, stop and destroy on the main thread, which runs
// a Qt event loop: start() and stop() return at once and call their
// completion there later. The screen frames, camera frames, both sounds,
// every write of the movie and the finishing all run on one serial queue,
// "ondexa.capture". Completions and onStreamError are never called after the
// recorder is destroyed; destroying it mid-recording stops every source and
// leaves the movie as far as it was written (it plays up to its last fragment).
class Recorder {
public:
    // Empty on success; else the sentence saying why.
    using StartCompletion = std::function<void(std::optional<std::string> error)>;
    struct StopResult {
        std::optional<platform::MediaTime> movieStart;  // host time of the first frame; absent on failure
        std::string error;                              // empty on success
        // On success, what the user should know of the movie: a sentence
        // for each sound track silent from some second to the end (the
        // system sound with no output back, the interface ended and not
        // back), in track order; else empty. A write that failed mid-way
        // (a full disk) still succeeds when whole fragments were written:
        // the notice then first says up to which second the movie was kept.
        std::string notice;
    };
    using StopCompletion = std::function<void(const StopResult& result)>;
    // `byUser`: the desktop's own screen-sharing control ended the stream,
    // which is the user's stop rather than a fault.
    using StreamErrorHandler = std::function<void(const std::string& description, bool byUser)>;
    // A pointer position the screen stream saw: host-clock seconds, desktop point.
    using PointerHandler = std::function<void(double hostTime, QPointF point)>;

    // The screen video's size in pixels for a picture of `points` at `scale`
    // pixels per point: at least 2 × 2, at most 3840 × 2160 with the aspect
    // kept, sides even.
    static QSize outputSize(QSizeF points, double scale);
    // Bits per pixel of the screen video: 0.10 up to 30 fps, 0.07 above.
    static double screenBitsPerPixel(int fps);
    // Whether the screen video is encoded on frames in parallel rather than
    // on slices of one frame: from 3 × 1920 × 1080 × 30 pixels a second up
    // (3840 × 2160 at 30). Its encoder then holds a few frames back, and a
    // still picture is repeated often enough to push them out.
    static bool encodesFramesInParallel(QSize size, int fps);
    // Average bit rate of a video track: width × height × fps × bits per
    // pixel, at least 2,000,000 bit/s.
    static std::int64_t videoBitRate(QSize size, int fps, double bitsPerPixel);
    // The second a movie of `seconds` ends in, as people count them (the
    // first is the 1st); an end a hair past a whole second, as frame times
    // round, is still in the second before.
    static std::int64_t endingSecond(double seconds);

    // Builds the geometry and the writer with its tracks; writes nothing yet.
    // `mic`: the running audio-interface capture or null (it stays the
    // caller's; it may go away during the recording, its sound then ends).
    // `camera`: optional, owned from here on. `fps`: the frame rate asked for
    // (30 or 60). Throws OndexaError "A videó kódoló nem indítható." when the
    // screen video can't be set up.
    Recorder(std::filesystem::path url, CaptureTarget target, bool systemAudio, MicCapture* mic,
             std::unique_ptr<CameraCapture> camera, int fps);
    ~Recorder();

    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    const std::filesystem::path& url() const { return url_; }
    // The name of each sound track in track order: "Rendszerhang" for the
    // system sound, then the audio device's name.
    const std::vector<std::string>& audioTrackNames() const { return audioTrackNames_; }
    // The captured picture's rectangle in root coordinates (the units the
    // pointer logging uses): the display's frame, the window's frame, or the
    // area moved by its display's origin.
    QRectF capturedFrame() const { return capturedFrame_; }
    // The screen video's size in pixels.
    QSize size() const { return size_; }
    int fps() const { return fps_; }
    // Set before start(). Called on the main thread, at most once per kind,
    // when the screen stream stops by itself or writing fails mid-recording;
    // the recorder keeps going, the caller decides to stop.
    void setOnStreamError(StreamErrorHandler handler) { onStreamError_ = std::move(handler); }
    // Set before start(). Called on the main thread with each pointer
    // position a stream of the screen-cast portal reports (none on X11).
    void setOnPointer(PointerHandler handler) { onPointer_ = std::move(handler); }
    // Set before start(): whether the pointer is drawn into the picture.
    void setShowsCursor(bool shows) { showsCursor_ = shows; }
    bool showsCursor() const { return showsCursor_; }

    // Screen frames appended (the repeats of a still picture not counted),
    // and screen frames missing from the movie: changed pictures that could
    // not be taken (the capture queue was too far behind, or as many
    // pictures as the writer holds, up to 10 s, already waited for the
    // encoder) and grab deadlines the screen stream missed. Read after
    // stop() completed.
    std::int64_t writtenFrames() const { return writtenFrames_; }
    std::int64_t droppedFrames() const { return droppedFrames_; }

    // Creates the movie (never over an existing file), opens the system sound,
    // connects the audio interface and the camera, and starts the screen
    // stream. On failure everything started is stopped and the movie file, if
    // this recorder created it, is removed. Once.
    void start(StartCompletion done);
    // Stops the sources, writes what they delivered up to the stop (the host
    // time of this call; anything stamped later is left out, however far
    // behind the capture queue is), repeats the last frame at the stop time,
    // and finishes the movie there. Each sound input is read until its sound
    // has reached the stop time (at most about a second), so sound still on
    // its way is kept. Fails with "Nem érkezett
    // kép a felvétel alatt." when no frame came (the file is then removed).
    // Once, after start().
    void stop(StopCompletion done);

    // While held, frames grabbed are left out and the movie keeps its last
    // picture (repeated as for a still screen); released, frames grabbed from
    // then on are written again. Any thread.
    void holdPicture(bool held);

    // Tests, before start(): the screen video is encoded on frames in
    // parallel whatever its size.
    void encodeFramesInParallelForTesting();
    // Tests: keeps the capture queue busy for `duration` from now, as a slow
    // encoder on a loaded machine would.
    void holdQueueForTesting(std::chrono::milliseconds duration);
    // Tests, before start(): where the system sound is looked up (the
    // monitor source of the default output; empty: no output) in place of
    // asking the sound server. Called on the recorder's sound queue.
    void lookUpSystemSoundForTesting(std::function<std::string()> lookUp);

private:
    struct Core;

    void detachMic();
    // Main thread, the second half of stop(): once the sound up to the stop
    // has come, the mic lets go and the queue finishes the movie.
    void finishAfterSound(StopCompletion done);

    const std::filesystem::path url_;
    std::vector<std::string> audioTrackNames_;
    QRectF capturedFrame_;
    QSize size_;
    const int fps_;
    bool systemAudio_ = false;
    bool showsCursor_ = true;
    StreamErrorHandler onStreamError_;
    PointerHandler onPointer_;
    QPointer<MicCapture> mic_;        // main thread; null once the mic is gone
    bool started_ = false;            // main thread
    bool stopped_ = false;            // main thread
    std::int64_t writtenFrames_ = 0;  // main thread; copied when stop() completes
    std::int64_t droppedFrames_ = 0;  // main thread; copied when stop() completes
    // Queued main-thread calls hold this weakly: gone means the recorder is gone.
    std::shared_ptr<Recorder*> alive_;
    // The capture queue and everything it owns (see Core).
    std::shared_ptr<Core> core_;
};

} // namespace ondexa
