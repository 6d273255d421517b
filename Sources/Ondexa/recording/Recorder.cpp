#include "Ondexa/recording/Recorder.h"
#include "Platform/core/HandOff.h"

#include "Ondexa/model/Log.h"
#include "Ondexa/model/OndexaError.h"
#include "Ondexa/recording/CameraCapture.h"
#include "Ondexa/recording/MicCapture.h"
#include "Ondexa/recording/SoundTimeLine.h"
#include "Platform/audio/AudioInputStream.h"
#include "Platform/audio/AudioServer.h"
#include "Platform/capture/PipeWireStream.h"
#include "Platform/capture/ScreenStream.h"
#include "Platform/core/HostClock.h"
#include "Platform/core/SerialQueue.h"
#include "Platform/media/MovieWriter.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace ondexa {

namespace {

using platform::MediaTime;
using platform::MovieWriter;

// The screen video is never larger than 4K UHD.
constexpr double kMaxWidth = 3840;
constexpr double kMaxHeight = 2160;
// Below this the encoder starves on small or still pictures.
constexpr std::int64_t kMinBitRate = 2'000'000;
// The camera track: 30 frames a second at a little more bits per pixel than
// the screen, as camera pictures are noisy.
constexpr int kCameraFps = 30;
constexpr double kCameraBitsPerPixel = 0.12;
// The system sound is asked of the server as 48 kHz stereo, the rate of the track.
constexpr int kSystemSoundRate = 48'000;
constexpr int kSystemSoundChannels = 2;
constexpr int kSystemSoundFramesPerBuffer = 1024;
// At the stop the last frame is repeated at the stop time when it is older
// than this, so that the picture lasts as long as the recording.
constexpr double kRepeatLastFrameAfter = 0.05;  // s
// While no new frame comes (the screen stream delivers only changed
// pictures), the last one is appended again each second of host time, so
// that every fragment of the movie holds picture: a crash then loses at most
// the last fragment, not the picture of a whole quiet recording.
constexpr std::int64_t kRepeatEveryNanoseconds = 1'000'000'000;
// An encoder that works on frames in parallel (large pictures) holds a few
// frames back until later ones come: while the screen stands still, the
// repeats come often enough that those held span at most this much time,
// which a crash loses beyond the last fragment. At 3840 × 2160 on four cores
// (6 frames held) that is 12 repeats a second, about a third of a core.
constexpr std::int64_t kHeldPictureSpanNanoseconds = 500'000'000;
// Pictures of at least this many 1920 × 1080 pictures at 30 a second are
// encoded on frames in parallel (MovieWriter::setParallelFrames): 3840 ×
// 2160 at 30, 2560 × 1440 at 60. Slices of one frame keep up with less.
constexpr double kParallelFramesFromWork = 3.0;
// At the stop each sound input is kept open until a buffer stamped at or
// after the stop time has come: under load the sound server and our sound
// thread deliver late, and closing at once loses the sound still on its way.
// A source that has gone quiet is not waited for longer than this.
constexpr std::chrono::milliseconds kSoundAtStopDeadline{1000};
// How often the capture queue is asked whether a repeat is due.
constexpr std::chrono::milliseconds kRepeatCheckPeriod{100};
// A real frame that the queue gets only after a repeat stamped later than
// it (the queue was behind) is moved just past the repeat, not dropped.
constexpr std::int64_t kAfterRepeatNanoseconds = 1'000'000;

constexpr std::int32_t kNanoseconds = 1'000'000'000;
// Core::stopAt before stop() is called.
constexpr std::int64_t kNotStopped = std::numeric_limits<std::int64_t>::max();
// Core::micSoundEnd before the interface's first buffer.
constexpr std::int64_t kNoSound = std::numeric_limits<std::int64_t>::min();

constexpr const char* kSystemSoundName = "Rendszerhang";

MediaTime hostTime(std::int64_t nanoseconds) { return MediaTime(nanoseconds, kNanoseconds); }

// Calls `tick` every `period` on its own thread until stopped.
class Ticker {
public:
    ~Ticker() { stop(); }

    void start(std::chrono::milliseconds period, std::function<void()> tick)
    {
        thread_ = std::thread([this, period, tick = std::move(tick)] {
            std::unique_lock lock(mutex_);
            while (!wake_.wait_for(lock, period, [this] { return stopping_; })) {
                lock.unlock();
                tick();
                lock.lock();
            }
        });
    }

    // Joins the thread; no tick runs after this returns.
    void stop()
    {
        if (!thread_.joinable()) return;
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;  // guards stopping_
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

// Runs `job` on the main thread (the application object's thread).
void runOnMain(std::function<void()> job)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, platform::handedOver(std::move(job)), Qt::QueuedConnection);
}

} // namespace

// The recording's working state. Unless a field says otherwise it belongs to
// the capture queue: only jobs on `queue` touch it once start() has run.
struct Recorder::Core {
    // Read-only after construction (main thread).
    std::weak_ptr<Recorder*> owner;   // resolved on the main thread only
    int fps = 30;
    bool systemAudio = false;
    QSize size;
    platform::ScreenStream::Target streamTarget;
    // On a Wayland session the pictures come from the portal's stream instead.
    std::optional<CaptureTarget::PortalStream> portal;
    QRectF portalCrop;  // an area: the part of the portal's picture, in its desktop units

    MovieWriter writer;               // tracks added on the main thread before start(), then the queue's
    int videoTrack = -1;
    int cameraTrack = -1;
    int systemTrack = -1;
    int micTrack = -1;

    std::unique_ptr<CameraCapture> camera;                  // started and stopped on the queue
    std::unique_ptr<platform::PictureSource> stream;        // started and stopped on the queue
    // The system sound follows the server's default output: its monitor is
    // opened, replaced and closed on `soundQueue` (which waits for the
    // server), never on `queue`.
    std::unique_ptr<platform::AudioInputStream> systemSound;  // soundQueue
    // Monitors of earlier outputs, kept recording until the newest one
    // delivers, so that a switch loses no sound; soundQueue.
    std::vector<std::pair<int, std::unique_ptr<platform::AudioInputStream>>> leavingSound;
    std::string systemSource;        // soundQueue: the monitor systemSound records
    bool systemEnded = false;        // soundQueue: systemSound stopped by itself
    bool followingOutput = false;    // soundQueue: from the start until the sound is closed
    // The newest stream opened (sound thread reads, soundQueue writes).
    // Until it delivers, the one before it still records.
    std::atomic<int> systemStream{0};
    int outputObserver = 0;          // the server observer while following; soundQueue
    struct OutputWatch {
        std::mutex mutex;
        platform::SerialQueue* queue = nullptr;  // guarded by mutex: null once no longer following
    };
    std::shared_ptr<OutputWatch> outputWatch = std::make_shared<OutputWatch>();
    // The monitor of the default output; soundQueue.
    std::function<std::string()> systemSoundSource = [] {
        return platform::AudioServer::shared()->systemSoundSource();
    };

    // Repeats of the last frame while the screen stands still (see
    // kRepeatEveryNanoseconds and kHeldPictureSpanNanoseconds), this far apart.
    std::int64_t repeatEveryNanoseconds = kRepeatEveryNanoseconds;
    Ticker repeater;                         // started and stopped on the queue
    std::atomic<bool> repeatCheckQueued{false};  // a check is on the queue: no second one
    // Frames the stream handed over that the queue has not taken yet: no
    // repeat while one is on its way.
    std::atomic<int> framesOnTheWay{0};

    // Host time at which stop() was called, ns: the movie ends there, and
    // nothing stamped later is written however far behind the queue is.
    // Written once on the main thread before the stop is queued.
    std::atomic<std::int64_t> stopAt{kNotStopped};
    // Frames grabbed up to this host time (ns) are left out: the picture
    // holds, the last frame repeating as for a still screen. The greatest
    // value while held; written on the main thread.
    std::atomic<std::int64_t> heldThrough{std::numeric_limits<std::int64_t>::min()};

    std::optional<MediaTime> sessionStart;
    MediaTime lastFramePTS;           // the last screen frame written, repeats included; invalid until the first
    bool lastWasRepeat = false;
    MediaTime lastCameraPTS;          // invalid until the first camera frame
    bool stopping = false;            // no sample is written once set
    bool failureReported = false;
    std::int64_t writtenFrames = 0;
    std::int64_t droppedFrames = 0;

    // Sound input thread only: places the system sound on the host clock,
    // one line for all the streams, each joining where the last one ended.
    SoundTimeLine systemLine{{.checksDelivery = true}};
    int systemLineStream = 0;  // the stream whose buffers are recorded

    // Whether each sound input has delivered up to the stop (or can't any
    // more); the stop sequence waits on `soundCame` for them.
    std::mutex soundMutex;
    std::condition_variable soundCame;
    bool systemReachedStop = false;  // guarded by soundMutex
    bool micReachedStop = false;     // guarded by soundMutex
    // Host time (ns) since which no output's sound reaches the recording;
    // cleared when one is open again. Guarded by soundMutex.
    std::optional<std::int64_t> systemLostAt;
    // Host time (ns) where the interface's last buffer ends (mic sink
    // thread writes, the queue reads at the finish); kNoSound before any.
    std::atomic<std::int64_t> micSoundEnd{kNoSound};
    // The interface had ended, or was gone, when stop() was called (main
    // thread writes before the stop is queued).
    std::atomic<bool> micEndedAtStop{false};

    // Declared last: destroyed first, running what is still queued while the
    // fields above live.
    platform::SerialQueue soundQueue{"ondexa.system-sound"};
    platform::SerialQueue queue{"ondexa.capture"};

    explicit Core(std::filesystem::path url) : writer(std::move(url)) {}

    // Runs `job` on the main thread if the recorder still exists then.
    void toMain(std::function<void(Recorder&)> job) const
    {
        runOnMain([owner = owner, job = std::move(job)] {
            if (auto recorder = owner.lock()) job(**recorder);
        });
    }

    void reportPointer(const platform::PointerSample& sample) const
    {
        toMain([sample](Recorder& recorder) {
            if (recorder.onPointer_) recorder.onPointer_(double(sample.hostTime) / kNanoseconds, sample.position);
        });
    }

    void reportError(std::string description, bool byUser = false) const
    {
        toMain([description = std::move(description), byUser](Recorder& recorder) {
            if (recorder.onStreamError_) recorder.onStreamError_(description, byUser);
        });
    }

    // --- on the queue ---

    void startSources(bool showsCursor);
    void stopSources();
    void stopPictures();
    void awaitSoundUntilStop(bool mic);
    Recorder::StopResult finish();

    void appendVideo(platform::ScreenFrame frame);
    void repeatIfQuiet();
    void appendCamera(const CameraCapture::Frame& frame);
    void appendSound(int track, const float* samples, int frames, int channels, int rate, MediaTime pts);
    void reportWriterFailure();

    // --- on the sound input threads ---

    void soundReached(bool& reached)
    {
        {
            std::lock_guard lock(soundMutex);
            reached = true;
        }
        soundCame.notify_all();
    }

    void systemSoundArrived(int stream, const platform::AudioInputStream::Buffer& buffer);

    // --- on soundQueue ---

    void openSystemSound(const std::string& source);
    // Takes the monitor of the default output when it is another than the
    // one recorded, or when that one has ended.
    void followOutput();
    void systemSoundLost(const std::string& why);
    void closeSystemSound();
    void closeLeavingSound(int before);

    // On the queue, at the finish: a sentence for each sound track that is
    // silent from some time before `end` (host ns) on; empty when none.
    std::string lostSoundNotice(std::int64_t end);
    // After a failed write: when whole fragments were written, `result`
    // keeps the movie and says up to which second. False when none were.
    bool keepWrittenPart(StopResult& result);
};

// --- Sizes and rates -----------------------------------------------------------------

QSize Recorder::outputSize(QSizeF points, double scale)
{
    const double w = std::max(points.width() * scale, 2.0);
    const double h = std::max(points.height() * scale, 2.0);
    const double k = std::min({kMaxWidth / w, kMaxHeight / h, 1.0});
    // The small allowance keeps an exact fit (3840 from 7680 × 0.5) from
    // landing just below its value and losing two pixels.
    auto side = [k](double length) {
        const auto whole = std::int64_t(std::floor(length * k + 1e-9));
        return int(std::max<std::int64_t>(whole & ~std::int64_t(1), 2));
    };
    return {side(w), side(h)};
}

double Recorder::screenBitsPerPixel(int fps) { return fps <= 30 ? 0.10 : 0.07; }

bool Recorder::encodesFramesInParallel(QSize size, int fps)
{
    return double(size.width()) * size.height() * fps >= kParallelFramesFromWork * 1920.0 * 1080.0 * 30.0;
}

std::int64_t Recorder::videoBitRate(QSize size, int fps, double bitsPerPixel)
{
    const double bits = double(size.width()) * double(size.height()) * double(fps) * bitsPerPixel;
    // The allowance keeps a whole product (1000 × 667 × 30 × 0.1) from
    // landing just below its value in binary and losing a bit.
    return std::max(std::int64_t(std::floor(bits + 1e-6)), kMinBitRate);
}

// --- Construction --------------------------------------------------------------------

Recorder::Recorder(std::filesystem::path url, CaptureTarget target, bool systemAudio, MicCapture* mic,
                   std::unique_ptr<CameraCapture> camera, int fps)
    : url_(std::move(url)), fps_(fps), systemAudio_(systemAudio), mic_(mic),
      alive_(std::make_shared<Recorder*>(this)), core_(std::make_shared<Core>(url_))
{
    Core& core = *core_;
    core.owner = alive_;
    core.fps = fps;
    core.systemAudio = systemAudio;

    // One point is one pixel on X11; on Wayland a logical pixel, of which
    // the portal's stream has `scale` pixels.
    QSizeF points;
    double scale = 1;
    if (target.portal) {
        const QRectF frame = target.portal->frame;
        core.portal = target.portal;
        scale = target.portal->scale;
        if (target.kind == CaptureTarget::Kind::area) {
            core.portalCrop = target.area;
            capturedFrame_ = target.area.translated(frame.topLeft());
        } else {
            capturedFrame_ = frame;
        }
        points = capturedFrame_.size();
    } else switch (target.kind) {
    case CaptureTarget::Kind::display:
        capturedFrame_ = QRectF(target.display.frame);
        points = capturedFrame_.size();
        core.streamTarget = platform::ScreenStream::Target::ofDisplay(target.display);
        break;
    case CaptureTarget::Kind::area:
        capturedFrame_ = target.area.translated(target.display.frame.topLeft());
        points = target.area.size();
        core.streamTarget = platform::ScreenStream::Target::ofArea(target.display, target.area.toRect());
        break;
    case CaptureTarget::Kind::window:
        capturedFrame_ = QRectF(target.window.frame);
        points = capturedFrame_.size();
        core.streamTarget = platform::ScreenStream::Target::ofWindow(target.window.id);
        break;
    }
    size_ = outputSize(points, scale);
    core.size = size_;

    try {
        core.videoTrack = core.writer.addVideoTrack(
            {"", size_.width(), size_.height(), fps, videoBitRate(size_, fps, screenBitsPerPixel(fps))});
    } catch (const std::logic_error&) {  // a frame rate the encoder can't take
        throw OndexaError("A videó kódoló nem indítható.");
    }
    core.writer.setParallelFrames(core.videoTrack, encodesFramesInParallel(size_, fps));
    if (camera) {
        const CameraCapture::Dimensions track = CameraCapture::trackSize(camera->dimensions());
        const QSize cameraSize(track.width, track.height);
        core.cameraTrack = core.writer.addVideoTrack({"", track.width, track.height, kCameraFps,
                                                      videoBitRate(cameraSize, kCameraFps, kCameraBitsPerPixel)});
        core.camera = std::move(camera);
    }
    if (systemAudio) {
        core.systemTrack = core.writer.addSoundTrack({kSystemSoundName, kSystemSoundRate});
        audioTrackNames_.push_back(kSystemSoundName);
    }
    if (mic) {
        core.micTrack = core.writer.addSoundTrack({mic->device().name, int(std::lround(mic->sampleRate()))});
        audioTrackNames_.push_back(mic->device().name);
    }
}

Recorder::~Recorder()
{
    // Nothing may call back into this object from here on; then every source
    // stops (each posts to the queue until its stop returns), and the queue
    // runs out what they delivered without writing it.
    alive_.reset();
    detachMic();
    Core* core = core_.get();
    core->queue.sync([core] {
        core->stopping = true;
        core->stopSources();
    });
    core_.reset();
}

void Recorder::detachMic()
{
    // Under the mic's lock: once this returns, no mic buffer is on its way in.
    if (mic_) mic_->clearSink();
}

// --- Start ---------------------------------------------------------------------------

void Recorder::start(StartCompletion done)
{
    if (started_) throw std::logic_error("Recorder: start() called twice");
    started_ = true;
    Core* core = core_.get();

    if (mic_) {
        // Called on the sound input thread with the mic's lock held: only
        // hands the buffer to the queue. Buffers before the first frame are
        // dropped there, so connecting early loses nothing.
        std::weak_ptr<Core> weak = core_;
        mic_->setSink([weak](MicCapture::SampleBuffer buffer) {
            auto core = weak.lock();  // never the last owner: the recorder detaches the mic before letting go
            if (!core) return;
            Core* c = core.get();
            const bool reachedStop = buffer.presentationTime >= hostTime(c->stopAt.load());
            if (buffer.sampleRate > 0) {
                const MediaTime end = buffer.presentationTime + MediaTime(buffer.frames, buffer.sampleRate);
                c->micSoundEnd = end.convertedTo(kNanoseconds).value();
            }
            c->queue.async([c, buffer = std::move(buffer)] {
                c->appendSound(c->micTrack, buffer.samples.data(), buffer.frames, buffer.channels, buffer.sampleRate,
                               buffer.presentationTime);
            });
            if (reachedStop) c->soundReached(c->micReachedStop);
        });
    }

    core->queue.async([core, showsCursor = showsCursor_, done = std::move(done)]() mutable {
        std::optional<std::string> error;
        try {
            core->startSources(showsCursor);
        } catch (const std::exception& e) {
            error = e.what();
            core->stopping = true;
            core->stopSources();
            core->writer.cancel();  // removes the file only if it is the one we created
        }
        core->toMain([error = std::move(error), done = std::move(done)](Recorder& recorder) {
            if (error) recorder.detachMic();
            if (done) done(error);
        });
    });
}

void Recorder::Core::startSources(bool showsCursor)
{
    writer.start();

    if (camera) camera->start(queue, [this](const CameraCapture::Frame& frame) { appendCamera(frame); });

    if (systemAudio) {
        std::exception_ptr failure;
        soundQueue.sync([&] {
            try {
                // Watched before the first look, so that no change is missed.
                {
                    std::lock_guard guard(outputWatch->mutex);
                    outputWatch->queue = &soundQueue;
                }
                outputObserver = platform::AudioServer::addServerObserver(
                    [this] { followOutput(); },
                    // On the sound thread: only queues the look.
                    [watch = outputWatch](std::function<void()> job) {
                        std::lock_guard guard(watch->mutex);
                        if (watch->queue) watch->queue->async(std::move(job));
                    });
                followingOutput = true;
                const std::string source = systemSoundSource();
                if (source.empty())
                    throw OndexaError("A rendszerhang nem vehető fel: nincs alapértelmezett hangkimenet.");
                openSystemSound(source);
            } catch (...) {
                failure = std::current_exception();
            }
        });
        if (failure) std::rethrow_exception(failure);
    }

    // On the stream's thread.
    auto onFrame = [this](platform::ScreenFrame frame) {
        ++framesOnTheWay;
        queue.async([this, frame = std::move(frame)]() mutable {
            --framesOnTheWay;
            appendVideo(std::move(frame));
        });
    };
    auto onError = [this](const platform::CaptureError& error) { reportError(error.what(), error.endedByDesktop()); };
    if (portal) {
        platform::PipeWireStream::Configuration configuration;
        configuration.remoteFd = portal->session ? portal->session->takePipeWireFd() : -1;
        configuration.nodeId = portal->nodeId;
        configuration.logicalSize = portal->frame.size();
        configuration.desktopOrigin = portal->frame.topLeft();
        configuration.crop = portalCrop;
        configuration.outputSize = size;
        configuration.framesPerSecond = fps;
        configuration.showsCursor = showsCursor;
        stream = std::make_unique<platform::PipeWireStream>(
            configuration, std::move(onFrame), std::move(onError),
            [this](const platform::PointerSample& sample) { reportPointer(sample); });
    } else {
        platform::ScreenStream::Configuration configuration;
        configuration.target = streamTarget;
        configuration.outputSize = size;
        configuration.framesPerSecond = fps;
        configuration.showsCursor = showsCursor;
        stream = std::make_unique<platform::ScreenStream>(configuration, std::move(onFrame), std::move(onError));
    }
    stream->start();

    if (const int held = writer.framesInEncoder(videoTrack); held > 0)
        repeatEveryNanoseconds = std::clamp<std::int64_t>(kHeldPictureSpanNanoseconds / held, kNanoseconds / fps,
                                                          kRepeatEveryNanoseconds);
    repeater.start(kRepeatCheckPeriod, [this] {
        if (!repeatCheckQueued.exchange(true)) queue.async([this] { repeatIfQuiet(); });
    });
}

void Recorder::Core::stopSources()
{
    stopPictures();
    soundQueue.sync([this] { closeSystemSound(); });
}

void Recorder::Core::openSystemSound(const std::string& source)
{
    // The old stream records on until the new one delivers (see systemSoundArrived).
    const int previous = systemStream.load();
    const int stream = ++systemStream;
    auto opened = std::make_unique<platform::AudioInputStream>(
        platform::AudioInputStream::Options{source, kSystemSoundChannels, kSystemSoundRate,
                                            kSystemSoundFramesPerBuffer},
        [this, stream](const platform::AudioInputStream::Buffer& buffer) { systemSoundArrived(stream, buffer); },
        // On the sound thread: the next look decides whether it comes back.
        [this, stream](const std::string& why) {
            soundQueue.async([this, stream, why] {
                if (stream != systemStream.load() || !followingOutput) return;
                logLine("Rendszerhang: " + why);
                systemEnded = true;
                followOutput();
            });
        });
    if (systemSound) leavingSound.emplace_back(previous, std::move(systemSound));
    systemSound = std::move(opened);
    systemSource = source;
    systemEnded = false;
    std::lock_guard lock(soundMutex);
    systemLostAt.reset();
}

void Recorder::Core::followOutput()
{
    if (!followingOutput) return;
    std::string source;
    std::string why = "nincs alapértelmezett hangkimenet.";
    try {
        source = systemSoundSource();
    } catch (const std::exception& error) {
        why = error.what();
    }
    if (systemSound && !systemEnded && source == systemSource) return;  // nothing changed for us
    if (source.empty()) return systemSoundLost(why);
    if (source != systemSource) logLine("Rendszerhang: a hangkimenet megváltozott, mostantól: " + source);
    try {
        // The time away from any output stays silence at its place in the track.
        openSystemSound(source);
    } catch (const std::exception& error) {
        systemSoundLost(error.what());
    }
}

void Recorder::Core::systemSoundLost(const std::string& why)
{
    ++systemStream;
    systemSound.reset();
    leavingSound.clear();
    systemSource.clear();
    {
        std::lock_guard lock(soundMutex);
        if (systemLostAt) return;
        systemLostAt = platform::HostClock::nowNanoseconds();
    }
    // The stop need not wait for it.
    soundCame.notify_all();
    logLine("A rendszerhang megszakadt: " + why);
}

void Recorder::Core::closeSystemSound()
{
    followingOutput = false;
    {
        std::lock_guard guard(outputWatch->mutex);
        outputWatch->queue = nullptr;
    }
    if (outputObserver) platform::AudioServer::removeDeviceObserver(outputObserver);
    outputObserver = 0;
    ++systemStream;
    systemSound.reset();
    leavingSound.clear();
}

void Recorder::Core::closeLeavingSound(int before)
{
    std::erase_if(leavingSound, [before](const auto& leaving) { return leaving.first < before; });
}

void Recorder::Core::stopPictures()
{
    repeater.stop();
    if (stream) {
        stream->stop();
        // Changed pictures the stream could not hand over because this queue
        // still held too many (the frames the encoder was not ready for), and
        // grab deadlines the stream missed because a grab ran late: either
        // way a frame of the recording is missing.
        const platform::PictureSource::Statistics statistics = stream->statistics();
        droppedFrames += statistics.droppedInFlight + statistics.missedDeadlines;
        stream.reset();
    }
    if (camera) camera->stop();
}

void Recorder::Core::awaitSoundUntilStop(bool mic)
{
    std::unique_lock lock(soundMutex);
    soundCame.wait_for(lock, kSoundAtStopDeadline, [&] {
        return (!systemAudio || systemReachedStop || systemLostAt) && (!mic || micReachedStop);
    });
}

// --- Samples -------------------------------------------------------------------------

void Recorder::Core::appendVideo(platform::ScreenFrame frame)
{
    if (stopping || writer.state() != MovieWriter::State::writing) return;
    // The stream delivers only complete, changed pictures.
    const std::int64_t stop = stopAt.load();
    if (frame.hostTime > stop) return;  // grabbed after the stop: not part of the recording
    if (frame.hostTime <= heldThrough.load()) return;
    MediaTime pts = hostTime(frame.hostTime);
    try {
        if (!sessionStart) {
            writer.startSession(pts);
            sessionStart = pts;
        }
        if (lastFramePTS.isValid() && pts <= lastFramePTS) {
            if (!lastWasRepeat) return;
            pts = lastFramePTS + hostTime(kAfterRepeatNanoseconds);
            if (pts > hostTime(stop)) return;
        }
        // As many pictures as the writer holds wait for the encoder: this
        // one is lost, and counted.
        if (!writer.videoReady(videoTrack)) {
            ++droppedFrames;
            return;
        }
        if (!writer.appendVideo(videoTrack, frame.image, pts)) return;
    } catch (const std::exception&) {
        reportWriterFailure();
        return;
    }
    ++writtenFrames;
    lastFramePTS = pts;
    lastWasRepeat = false;
    // The writer keeps its own copy of the picture: the stream's buffer goes
    // back to it when `frame` goes out of scope.
}

void Recorder::Core::repeatIfQuiet()
{
    repeatCheckQueued = false;
    if (stopping || !lastFramePTS.isValid() || framesOnTheWay.load() > 0 ||
        writer.state() != MovieWriter::State::writing)
        return;
    // Every repeat due by now: the checks may come further apart than the repeats.
    const MediaTime now = hostTime(platform::HostClock::nowNanoseconds());
    const MediaTime end = hostTime(stopAt.load());
    for (;;) {
        const MediaTime due = lastFramePTS + hostTime(repeatEveryNanoseconds);
        if (now < due || due > end) return;
        try {
            // Not counted: writtenFrames counts the pictures the screen showed.
            if (!writer.repeatVideo(videoTrack, due)) return;
            lastFramePTS = due;
            lastWasRepeat = true;
        } catch (const std::exception&) {
            reportWriterFailure();
            return;
        }
    }
}

void Recorder::Core::appendCamera(const CameraCapture::Frame& frame)
{
    if (stopping || writer.state() != MovieWriter::State::writing || cameraTrack < 0 || !sessionStart) return;
    const MediaTime& pts = frame.presentationTime;
    if (pts < *sessionStart || pts > hostTime(stopAt.load()) || (lastCameraPTS.isValid() && pts <= lastCameraPTS))
        return;
    try {
        if (!writer.videoReady(cameraTrack)) return;  // dropped without count, as late camera frames are
        if (writer.appendVideo(cameraTrack, frame.image, pts)) lastCameraPTS = pts;
    } catch (const std::exception&) {
        reportWriterFailure();
    }
}

void Recorder::Core::appendSound(int track, const float* samples, int frames, int channels, int rate, MediaTime pts)
{
    if (stopping || track < 0 || !sessionStart || writer.state() != MovieWriter::State::writing) return;
    // Samples after the stop are cut: the sound ends with the picture.
    if (const std::int64_t stop = stopAt.load(); stop != kNotStopped) {
        const double left = (hostTime(stop) - pts).seconds() * rate;
        if (left <= 0) return;
        frames = int(std::min<double>(frames, std::ceil(left)));
    }
    try {
        writer.appendSound(track, samples, frames, channels, rate, pts);
    } catch (const std::exception&) {
        reportWriterFailure();
    }
}

void Recorder::Core::reportWriterFailure()
{
    if (failureReported) return;
    failureReported = true;
    reportError(writer.failure() ? writer.failure()->what() : "Írási hiba a felvétel közben.");
}

void Recorder::Core::systemSoundArrived(int stream, const platform::AudioInputStream::Buffer& buffer)
{
    if (!buffer.samples || buffer.frames < 1 || buffer.channels < 1 || buffer.sampleRate <= 0) return;
    if (stream != systemLineStream) {
        // Only the newest stream takes over; an older one than the recorded is done.
        if (stream != systemStream.load() || stream < systemLineStream) return;
        // The new output's first sound: it joins the line where the old
        // output's ended, and the old monitor can go.
        if (systemLineStream != 0) {
            systemLine.join();
            soundQueue.async([this, stream] { closeLeavingSound(stream); });
        }
        systemLineStream = stream;
    }
    const int channels = buffer.channels;
    const int rate = buffer.sampleRate;
    const SoundTimeLine::Placement placement =
        systemLine.place(buffer.frames, rate, buffer.hostTime, platform::HostClock::nowNanoseconds());
    const int frames = placement.frames;
    const float* last = buffer.samples + std::size_t(buffer.frames - 1) * channels;
    std::vector<float> samples(buffer.samples, buffer.samples + std::size_t(std::min(frames, buffer.frames)) * channels);
    for (int i = buffer.frames; i < frames; ++i) samples.insert(samples.end(), last, last + channels);
    queue.async([this, samples = std::move(samples), frames, channels, rate, pts = hostTime(placement.time)] {
        appendSound(systemTrack, samples.data(), frames, channels, rate, pts);
    });
    if (placement.time >= stopAt.load()) soundReached(systemReachedStop);
}

// --- Stop ----------------------------------------------------------------------------

void Recorder::holdPicture(bool held)
{
    core_->heldThrough = held ? std::numeric_limits<std::int64_t>::max() : platform::HostClock::nowNanoseconds();
}

void Recorder::encodeFramesInParallelForTesting()
{
    if (started_) throw std::logic_error("Recorder: the encoding is chosen before start()");
    core_->writer.setParallelFrames(core_->videoTrack, true);
}

void Recorder::holdQueueForTesting(std::chrono::milliseconds duration)
{
    core_->queue.async([duration] { std::this_thread::sleep_for(duration); });
}

void Recorder::lookUpSystemSoundForTesting(std::function<std::string()> lookUp)
{
    core_->systemSoundSource = std::move(lookUp);
}

void Recorder::stop(StopCompletion done)
{
    if (!started_) throw std::logic_error("Recorder: stop() before start()");
    if (stopped_) throw std::logic_error("Recorder: stop() called twice");
    stopped_ = true;

    // The stop is now, not when the queue gets to it: under load the queue
    // may be seconds behind, and the movie would end with that much frozen
    // picture.
    Core* core = core_.get();
    core->stopAt = platform::HostClock::nowNanoseconds();
    const bool awaitMic = mic_ && !mic_->hasEnded();
    // An interface that ended (or went away) and is not back: the rest of its track is silence.
    core->micEndedAtStop = core->micTrack >= 0 && !awaitMic;
    core->queue.async([core, awaitMic, done = std::move(done)]() mutable {
        core->stopPictures();
        // The sound up to the stop may still be on its way (what comes after
        // it is cut as it is written).
        core->awaitSoundUntilStop(awaitMic);
        core->soundQueue.sync([core] { core->closeSystemSound(); });
        core->toMain([done = std::move(done)](Recorder& recorder) mutable { recorder.finishAfterSound(std::move(done)); });
    });
}

void Recorder::finishAfterSound(StopCompletion done)
{
    detachMic();
    // Whatever the sources delivered until they stopped is queued by now,
    // ahead of this: the movie is finished after it is written.
    Core* core = core_.get();
    core->queue.async([core, done = std::move(done)]() mutable {
        StopResult result = core->finish();
        core->toMain([result = std::move(result), written = core->writtenFrames, dropped = core->droppedFrames,
                      done = std::move(done)](Recorder& recorder) {
            recorder.writtenFrames_ = written;
            recorder.droppedFrames_ = dropped;
            if (done) done(result);
        });
    });
}

std::string Recorder::Core::lostSoundNotice(std::int64_t end)
{
    std::optional<std::int64_t> systemLost;
    {
        std::lock_guard lock(soundMutex);
        systemLost = systemLostAt;
    }
    std::optional<std::int64_t> micLost;
    if (micEndedAtStop.load()) {
        // Silent from where its last buffer ended; one that never delivered from the start.
        const std::int64_t soundEnd = micSoundEnd.load();
        micLost = soundEnd == kNoSound ? std::numeric_limits<std::int64_t>::min() : soundEnd;
    }
    std::string notice;
    const auto tell = [&](const char* track, std::optional<std::int64_t> lost) {
        if (!lost || !sessionStart || *lost >= end) return;
        const double seconds =
            *lost <= sessionStart->convertedTo(kNanoseconds).value() ? 0.0 : (hostTime(*lost) - *sessionStart).seconds();
        // Counted as people count seconds: the first second is the 1st.
        if (!notice.empty()) notice += ' ';
        notice += std::string("A felvétel elkészült, de ") + track + " a " + std::to_string(std::int64_t(seconds) + 1)
                  + ". másodpercétől hiányzik belőle.";
    };
    tell("a rendszerhang", systemLost);
    tell("a hangkártya", micLost);
    return notice;
}

std::int64_t Recorder::endingSecond(double seconds)
{
    // A last frame of 1/30 s ending at 2.0001 s is two seconds of movie.
    constexpr double kRounding = 0.001;
    return std::max<std::int64_t>(std::int64_t(std::ceil(seconds - kRounding)), 1);
}

bool Recorder::Core::keepWrittenPart(StopResult& result)
{
    const std::optional<MediaTime> kept = writer.keptUntil();
    if (!kept || !sessionStart) return false;
    result.movieStart = sessionStart;
    const std::int64_t second = endingSecond(kept->seconds());
    result.notice = "A felvétel a " + std::to_string(second) + ". másodpercéig megmaradt.";
    const std::string lost = lostSoundNotice((*sessionStart + *kept).convertedTo(kNanoseconds).value());
    if (!lost.empty()) result.notice += " " + lost;
    return true;
}

Recorder::StopResult Recorder::Core::finish()
{
    StopResult result;
    stopping = true;
    if (sessionStart && writer.state() == MovieWriter::State::failed) {
        // A write failed (a full disk): the fragments written before it play.
        try {
            writer.finish(hostTime(stopAt.load()));  // closes the file where its whole fragments end
        } catch (const std::exception&) {
        }
        if (keepWrittenPart(result)) return result;
    }
    if (!sessionStart || writer.state() != MovieWriter::State::writing) {
        result.error = writer.failure() ? writer.failure()->what() : "Nem érkezett kép a felvétel alatt.";
        if (writer.state() == MovieWriter::State::writing) writer.cancel();
        return result;
    }

    const MediaTime end = hostTime(stopAt.load());
    if (lastFramePTS.isValid() && (end - lastFramePTS).seconds() > kRepeatLastFrameAfter) {
        try {
            writer.repeatVideo(videoTrack, end);  // not counted; a failure shows in finish()
        } catch (const std::exception&) {
        }
    }

    try {
        writer.finish(end);
        result.movieStart = sessionStart;
        result.notice = lostSoundNotice(stopAt.load());
    } catch (const std::exception&) {
        if (keepWrittenPart(result)) return result;
        result.error = writer.failure() ? writer.failure()->what() : "A fájl lezárása nem sikerült.";
    }
    return result;
}

} // namespace ondexa
