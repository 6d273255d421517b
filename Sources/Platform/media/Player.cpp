#include "Platform/media/Player.h"
#include "Platform/core/HandOff.h"

#include "Platform/audio/AudioOutputStream.h"
#include "Platform/audio/AudioServer.h"
#include "Platform/core/HostClock.h"
#include "Platform/core/SerialQueue.h"
#include "Platform/media/AudioMixer.h"
#include "Platform/media/CompositionRenderer.h"
#include "Platform/media/FrameCache.h"
#include "Platform/media/MediaError.h"
#include "Platform/media/SourceFrames.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace platform {

namespace {

// Frames are composed this far ahead of the clock (in seconds of playing),
// so that decoding hiccups don't show.
constexpr double kLookaheadSeconds = 0.25;
// At most this many frames composed (or being composed) and not yet shown:
// bounds the memory of the frames ahead.
constexpr int kFramesAhead = 8;
// Decoded source frames kept for reuse (a seek back, two tracks on one picture).
constexpr std::size_t kCacheBytes = std::size_t(128) << 20;
// What the sound server keeps queued: the delay between mixing and hearing.
// 50 ms ran dry on a loaded machine (the audio thread waited longer than that
// for a core) and played as gaps; the clock follows what is heard, so the
// pictures keep in step either way.
constexpr int kSoundBufferMilliseconds = 120;
// The largest block mixed at once; the server usually asks for less.
constexpr int kMixFrames = 1024;
constexpr double kMaxRate = 16;
// The video thread looks at the clock at least this often while playing.
constexpr std::chrono::milliseconds kLongestVideoWait{50};

// The frame grid: frames lie at whole multiples of `frame`.
MediaTime gridTime(const MediaTime& t, const MediaTime& frame, int after)
{
    const __int128 num = static_cast<__int128>(t.value()) * frame.timescale();
    const __int128 den = static_cast<__int128>(t.timescale()) * frame.value();
    __int128 k = num >= 0 ? num / den : -((-num + den - 1) / den);  // floor
    k += after;
    return {static_cast<std::int64_t>(k * frame.value()), frame.timescale()};
}

// Runs `job` on the main thread, unless the player that `alive` stands for
// is gone by then. Safe from any thread, also once that player is gone.
void postToPlayer(const std::weak_ptr<const void>& alive, std::function<void()> job)
{
    QCoreApplication* app = QCoreApplication::instance();
    // A job for a player already gone ends here, not in the main thread's
    // queue, which may be cleared under its lock at the program's end.
    if (!app || alive.expired()) return;
    QMetaObject::invokeMethod(
        app,
        handedOver([alive, job = std::move(job)] {
            if (alive.lock()) job();
        }),
        Qt::QueuedConnection);
}

// The worker on which every player opens its sound output: that waits for
// the sound server, up to its deadline, so never on the main thread. Shared
// by the players and ended with the application object, so that a player
// never waits for an opening when it goes.
SerialQueue& soundOutputQueue()
{
    static SerialQueue* queue = nullptr;  // main thread only
    if (!queue) {
        queue = new SerialQueue("ondexa.sound-output");
        qAddPostRoutine([] { delete std::exchange(queue, nullptr); });
    }
    return *queue;
}

// Plays mixed sound faster or slower by linear interpolation; the pitch
// follows the speed. Output frame j is mixer frame j × rate after the start.
class Varispeed {
public:
    void reset()
    {
        buffered_.clear();
        position_ = 0;
    }

    void produce(AudioMixer& mixer, const std::shared_ptr<const AudioMix>& mix, double rate, float* out, int frames)
    {
        constexpr std::size_t c = AudioMixer::channels;
        for (int i = 0; i < frames; ++i) {
            const auto k = static_cast<std::size_t>(position_);
            while (buffered_.size() < (k + 2) * c) {
                const std::size_t old = buffered_.size();
                buffered_.resize(old + kChunk * c);
                mixer.mix(buffered_.data() + old, kChunk, mix);
            }
            const float f = float(position_ - double(k));
            for (std::size_t ch = 0; ch < c; ++ch) {
                const float a = buffered_[k * c + ch];
                const float b = buffered_[(k + 1) * c + ch];
                out[std::size_t(i) * c + ch] = a + (b - a) * f;
            }
            position_ += rate;
        }
        const std::size_t consumed = std::min(static_cast<std::size_t>(position_), buffered_.size() / c);
        buffered_.erase(buffered_.begin(), buffered_.begin() + std::ptrdiff_t(consumed * c));
        position_ -= double(consumed);
    }

private:
    static constexpr std::size_t kChunk = 256;
    std::vector<float> buffered_;  // mixed frames not yet passed
    double position_ = 0;          // of the next output frame, in buffered_ frames
};

// The sound of a player: its output stream and the audio thread that mixes
// the current item into it. The stream is the player's clock.
class AudioPath {
public:
    using Report = std::function<void(const std::string&)>;

    // Opens the stream (paused) and starts the audio thread, idle until
    // restart() gives it an item. Throws AudioError. `ended` runs on the
    // sound thread when the stream stops by itself.
    AudioPath(Report report, AudioOutputStream::EndCallback ended)
        : report_(std::move(report)),
          stream_(AudioOutputStream::Options{AudioMixer::sampleRate, AudioMixer::channels, kSoundBufferMilliseconds},
                  std::move(ended))
    {
        thread_ = std::thread([this] { run(); });
    }

    ~AudioPath()
    {
        {
            std::lock_guard guard(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        stream_.interrupt();
        thread_.join();
    }

    // Main thread: drops what is queued and mixes `item` (null: nothing)
    // from `t` at `rate` (> 0).
    void restart(std::shared_ptr<PlayerItem> item, const MediaTime& t, double rate)
    {
        const std::uint64_t generation = stream_.flush();
        {
            std::lock_guard guard(mutex_);
            item_ = std::move(item);
            generation_ = generation;
            start_ = t;
            rate_ = rate;
        }
        wake_.notify_all();
    }

    void setPaused(bool paused) { stream_.setPaused(paused); }

    double rate() const
    {
        std::lock_guard guard(mutex_);
        return rate_;
    }

    // Any thread: the item time being heard now, in seconds.
    double heardSeconds() const
    {
        const AudioOutputStream::Position heard = stream_.playingPosition();
        std::lock_guard guard(mutex_);
        if (heard.generation != generation_) return start_.seconds();  // a restart is under way
        return start_.seconds() + double(heard.frames) * rate_ / AudioMixer::sampleRate;
    }

private:
    // The audio thread: every tap of the item's mix runs here.
    void run()
    {
        std::unique_ptr<AudioMixer> mixer;
        std::shared_ptr<PlayerItem> mixing;  // the item `mixer` mixes
        std::uint64_t positioned = 0;        // the generation `mixer` is positioned for
        Varispeed varispeed;
        std::vector<float> block(std::size_t(kMixFrames) * AudioMixer::channels);
        for (;;) {
            std::shared_ptr<PlayerItem> item;
            std::uint64_t generation = 0;
            MediaTime start;
            double rate = 1;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return stop_ || item_ || mixing; });
                if (stop_) break;
                item = item_;
                generation = generation_;
                start = start_;
                rate = rate_;
            }
            if (item != mixing) {
                mixer.reset();  // unprepares the old mix's taps, here
                mixing = item;
                if (item) mixer = std::make_unique<AudioMixer>(item->composition(), item->sourceFiles());
                positioned = 0;
            }
            if (!item) continue;
            if (positioned != generation) {
                mixer->seek(start);
                varispeed.reset();
                positioned = generation;
            }
            const int room = stream_.waitWritable(1, generation);
            if (room < 0) {
                // The stream is gone; the player hears of it and closes us.
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return stop_; });
                break;
            }
            if (room == 0) continue;  // restarted or stopping: look again
            const int frames = std::min(room, kMixFrames);
            // Taken for every block: a new mix is heard from the next one.
            const std::shared_ptr<const AudioMix> mix = item->audioMix();
            if (rate == 1.0)
                mixer->mix(block.data(), frames, mix);
            else
                varispeed.produce(*mixer, mix, rate, block.data(), frames);
            if (auto error = mixer->takeError()) report_(*error);
            // Refused when a restart came meanwhile; the next turn repositions.
            stream_.write(block.data(), frames, generation);
        }
    }

    const Report report_;
    AudioOutputStream stream_;  // thread-safe; written by the audio thread only

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::shared_ptr<PlayerItem> item_;  // guarded by mutex_: what to mix, null for nothing
    std::uint64_t generation_ = 0;      // guarded by mutex_: the stream generation of start_
    MediaTime start_ = MediaTime::zero();  // guarded by mutex_: item time of the generation's first frame
    double rate_ = 1;                   // guarded by mutex_: item seconds per second of sound
    bool stop_ = false;                 // guarded by mutex_
    std::thread thread_;                // the audio thread; started last, joined in the destructor
};

} // namespace

void Player::setListener(PlayerItem& item, std::function<void()> listener)
{
    item.videoCompositionChanged_ = std::move(listener);
}

struct Player::Impl {
    explicit Impl(Player* owner) : q(owner)
    {
        endTimer.setSingleShot(true);
        endTimer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&endTimer, &QTimer::timeout, q, [this] { checkEnd(); });
        presentTimer.setSingleShot(true);
        presentTimer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&presentTimer, &QTimer::timeout, q, [this] { presentDue(); });
        videoThread = std::thread([this] { runVideo(); });
        // The server coming back (or its devices changing) is the sign to
        // try a sound output again after one failed.
        deviceObserver = AudioServer::addDeviceObserver([this] { soundServerChanged(); },
                                                        [alive = std::weak_ptr<const void>(alive)](
                                                            std::function<void()> job) { postToPlayer(alive, job); });
    }

    ~Impl()
    {
        AudioServer::removeDeviceObserver(deviceObserver);
        endTimer.stop();
        presentTimer.stop();
        {
            std::lock_guard guard(videoMutex);
            videoStop = true;
        }
        videoWake.notify_all();
        videoThread.join();
        {
            std::lock_guard guard(clockMutex);
            clockAudio = nullptr;
        }
        audio.reset();
        if (item) setListener(*item, nullptr);
        for (auto& [id, observer] : observers) delete observer.timer;
    }

    // --- posting from other threads ---------------------------------------

    // Runs `job` on the main thread while the player lives.
    void post(std::function<void()> job) { postToPlayer(alive, std::move(job)); }

    // --- clock (any thread) -------------------------------------------------

    MediaTime clockNow() const
    {
        std::lock_guard guard(clockMutex);
        if (!clockRunning) return pausedTime;
        double s = clockAudio ? clockAudio->heardSeconds()
                              : monoStart + double(HostClock::nowNanoseconds() - monoHost) * 1e-9 * clockRate;
        s = std::max(s, lastReported);  // readings never go back while running
        lastReported = s;
        return std::min(MediaTime::fromSeconds(s), clockDuration);
    }

    // Main thread: the clock stands at `t`, running at `running` (0: paused).
    void setClock(const MediaTime& t, double running)
    {
        std::lock_guard guard(clockMutex);
        clockRunning = running > 0;
        clockRate = running > 0 ? running : 1;
        pausedTime = t;
        monoStart = t.seconds();
        monoHost = HostClock::nowNanoseconds();
        lastReported = t.seconds();
        clockAudio = onAudio ? audio.get() : nullptr;
        clockDuration = item ? item->duration() : MediaTime::zero();
    }

    // --- main thread --------------------------------------------------------

    double playRate() const { return rate > 0 ? rate.load() : 1.0; }

    bool hasPicture() const
    {
        if (!item) return false;
        const auto vc = item->videoComposition();
        return vc && !vc->renderSize.isEmpty();
    }

    // Opens the sound output on the sound worker, unless it is open, being
    // opened, or failed and the server has not been reported back since.
    // Meanwhile the player runs on the monotonic clock without sound.
    void requestAudio()
    {
        if (audio || audioOpening || audioFailed) return;
        audioOpening = true;
        const std::uint64_t attempt = ++audioAttempt;
        const std::weak_ptr<const void> token = alive;
        soundOutputQueue().async([this, token, attempt] {
            if (token.expired()) return;
            std::shared_ptr<AudioPath> path;
            std::string failure;
            try {
                path = std::make_shared<AudioPath>(
                    [this, token](const std::string& m) { postToPlayer(token, [this, m] { sourceFailed(m, {}); }); },
                    [this, token, attempt](const std::string& m) {
                        postToPlayer(token, [this, m, attempt] { audioEnded(attempt, m); });
                    });
            } catch (const std::exception& e) {
                failure = e.what();
            }
            postToPlayer(token, [this, path, failure] { audioOpened(path, failure); });
        });
    }

    void audioOpened(std::shared_ptr<AudioPath> path, const std::string& failure)
    {
        audioOpening = false;
        if (!path) {
            audioFailed = true;
            saySilent(failure);
            return;
        }
        audioFailed = false;
        audioFailureSaid = false;
        audio = std::move(path);
        if (!item || !item->hasSound()) return;
        // The sound takes over the clock where it stands.
        const MediaTime t = clockNow();
        onAudio = true;
        audio->restart(item, t, playRate());
        audio->setPaused(rate == 0);
        setClock(t, rate);
    }

    // The sound output stopped by itself (the server went away, the stream
    // was killed): playback goes on by the clock, without sound.
    void audioEnded(std::uint64_t attempt, const std::string& message)
    {
        if (!audio || attempt != audioAttempt) return;
        const MediaTime t = clockNow();
        onAudio = false;
        setClock(t, rate);
        audio.reset();
        audioFailed = true;
        saySilent(message);
    }

    // Said once until a sound output works again.
    void saySilent(const std::string& reason)
    {
        if (std::exchange(audioFailureSaid, true)) return;
        emit q->errorOccurred(QString::fromStdString(reason + " Az előnézet hang nélkül megy tovább."));
    }

    void soundServerChanged()
    {
        if (!audioFailed || audioOpening) return;
        audioFailed = false;
        if (item && item->hasSound()) requestAudio();
    }

    // A source of the item (its file) could not be decoded further: said once
    // per file and reason, and playback pauses there. `epoch` is the video
    // epoch of the failing frame; none for the sound.
    void sourceFailed(const std::string& message, std::optional<std::uint64_t> epoch)
    {
        if (saidFailures.insert(message).second) emit q->errorOccurred(QString::fromStdString(message));
        if (epoch && *epoch != shownEpoch) return;  // of a position left since
        if (item && rate > 0) setPlayRate(0);
    }

    void replaceItem(std::shared_ptr<PlayerItem> next)
    {
        if (item) setListener(*item, nullptr);
        item = std::move(next);
        finishSeeks(false);
        lastFrameError.clear();

        onAudio = false;
        if (item && item->hasSound()) {
            requestAudio();
            onAudio = audio != nullptr;
        }
        if (audio) {
            audio->restart(onAudio ? item : nullptr, MediaTime::zero(), playRate());
            audio->setPaused(!(onAudio && rate > 0));
        }
        setClock(MediaTime::zero(), item ? rate.load() : 0.0);
        {
            std::lock_guard guard(videoMutex);
            videoItem = item;
            videoPlaying = item && rate > 0;
        }
        restartVideo(MediaTime::zero());
        if (item) setListener(*item, [this] { videoCompositionChanged(); });
        clearPictureIfNone();
        updateTimers();
    }

    // The frame on screen is drawn again with the item's new video composition.
    void videoCompositionChanged()
    {
        restartVideo(clockNow());
        clearPictureIfNone();
    }

    void clearPictureIfNone()
    {
        if (hasPicture()) return;
        finishSeeks(true);
        if (shown.isNull()) return;
        shown = QImage();
        emit q->frameChanged(shown);
    }

    void setPlayRate(double next)
    {
        if (!std::isfinite(next) || next < 0 || next > kMaxRate)
            throw MediaError("Érvénytelen lejátszási sebesség.");
        if (next == rate) return;
        const MediaTime t = clockNow();
        rate = next;
        if (item) {
            if (onAudio) {
                // Sound queued at another speed is dropped and mixed again.
                if (rate > 0 && rate != audio->rate()) audio->restart(item, t, rate);
                audio->setPaused(rate == 0);
            }
            setClock(t, rate);
            {
                std::lock_guard guard(videoMutex);
                videoPlaying = rate > 0;
            }
            videoWake.notify_all();
            updateTimers();
            if (rate > 0) presentDue();
        }
        emit q->rateChanged(rate);
    }

    void seekTo(const MediaTime& time, std::function<void(bool)> completion)
    {
        finishSeeks(false);
        if (!item) {
            if (completion) completion(true);
            return;
        }
        MediaTime t = time.isNumeric() ? time : MediaTime::zero();
        t = std::clamp(t, MediaTime::zero(), item->duration());
        if (onAudio) audio->restart(item, t, playRate());
        setClock(t, rate);
        restartVideo(t);
        if (completion) {
            if (hasPicture())
                seeks.push_back(std::move(completion));
            else
                completion(true);
        }
        updateTimers();
    }

    void finishSeeks(bool finished)
    {
        auto done = std::move(seeks);
        seeks.clear();
        for (auto& completion : done) completion(finished);
    }

    // Frames from `t` on are composed anew (a seek, a new item, a new video
    // composition); whatever was composed before is dropped.
    void restartVideo(const MediaTime& t)
    {
        {
            std::lock_guard guard(videoMutex);
            ++videoEpoch;
            shownEpoch = videoEpoch;
            nextFrame = t;
            exact = true;
            ahead -= int(pending.size());
        }
        videoWake.notify_all();
        pending.clear();
        presentTimer.stop();
    }

    void frameArrived(std::uint64_t epoch, const MediaTime& time, const FrameRequest::Result& result)
    {
        if (epoch != shownEpoch || result.status != FrameRequest::Result::Status::composed) {
            release(1);
            if (epoch == shownEpoch && result.status == FrameRequest::Result::Status::failed) {
                // A compositor that fails once likely fails at every frame: say it once.
                if (result.error != lastFrameError) emit q->errorOccurred(QString::fromStdString(result.error));
                lastFrameError = result.error;
                finishSeeks(true);  // nothing better will come for it
            }
            return;
        }
        auto at = std::find_if(pending.begin(), pending.end(), [&](const Pending& p) { return p.time > time; });
        pending.insert(at, Pending{time, result.image});
        presentDue();
    }

    // Shows the latest frame that is due, drops the ones it passes, and
    // waits for the next.
    void presentDue()
    {
        if (pending.empty()) return;
        const MediaTime now = clockNow();
        std::size_t due = 0;
        while (due < pending.size() && pending[due].time <= now) ++due;
        if (due > 0) {
            if (rate > 0) dropped += due - 1;
            shown = pending[due - 1].image;
            pending.erase(pending.begin(), pending.begin() + std::ptrdiff_t(due));
            release(int(due));
            emit q->frameChanged(shown);
            finishSeeks(true);
        }
        if (rate > 0 && !pending.empty()) {
            const double wait = (pending.front().time - now).seconds() / rate;
            presentTimer.start(std::max(1, int(std::ceil(wait * 1000))));
        }
    }

    void release(int frames)
    {
        {
            std::lock_guard guard(videoMutex);
            ahead -= frames;
        }
        videoWake.notify_all();
    }

    void updateTimers()
    {
        const bool running = item && rate > 0;
        for (auto& [id, observer] : observers) {
            if (running && !observer.timer->isActive()) observer.timer->start();
            if (!running) observer.timer->stop();
        }
        if (running) {
            const double left = (item->duration() - clockNow()).seconds() / rate;
            endTimer.start(std::max(0, int(std::ceil(left * 1000))));
        } else {
            endTimer.stop();
            presentTimer.stop();
        }
    }

    void checkEnd()
    {
        if (!item || rate <= 0) return;
        if (clockNow() < item->duration()) {
            updateTimers();
            return;
        }
        const MediaTime end = item->duration();
        std::vector<std::function<void(const MediaTime&)>> calls;
        for (auto& [id, observer] : observers) calls.push_back(observer.callback);
        for (auto& call : calls) call(end);
        if (!item || rate <= 0) return;  // an observer paused or replaced the item
        rate = 0;
        if (onAudio) audio->setPaused(true);
        setClock(end, 0);
        {
            std::lock_guard guard(videoMutex);
            videoPlaying = false;
        }
        updateTimers();
        presentDue();
        emit q->rateChanged(0);
    }

    // --- video thread -------------------------------------------------------

    void runVideo()
    {
        std::unique_ptr<SourceFrames> sources;
        std::shared_ptr<PlayerItem> sourcesItem;  // the item `sources` decodes
        QSize sourcesKeepYuvAt;                    // and the size whose pictures it keeps undecoded
        std::unique_ptr<VideoCompositor> compositor;
        std::shared_ptr<const VideoComposition> compositorFor;  // what `compositor` was made for
        std::uint64_t cancelled = 0;  // the last epoch whose older requests were cancelled

        for (;;) {
            std::shared_ptr<PlayerItem> frameItem;
            std::shared_ptr<const VideoComposition> vc;
            std::uint64_t epoch = 0;
            MediaTime t;
            {
                std::unique_lock lock(videoMutex);
                for (;;) {
                    if (videoStop) return;
                    if (cancelled != videoEpoch) {
                        // Frames of older epochs would be thrown away on arrival.
                        if (compositor) compositor->cancelAllPendingRequests();
                        cancelled = videoEpoch;
                    }
                    vc = videoItem ? videoItem->videoComposition() : nullptr;
                    if (!vc || vc->renderSize.isEmpty() || ahead >= kFramesAhead) {
                        videoWake.wait(lock);
                        continue;
                    }
                    if (exact) break;
                    if (!videoPlaying || nextFrame >= videoItem->duration()) {
                        videoWake.wait(lock);
                        continue;
                    }
                    const MediaTime now = clockNow();
                    const double r = std::max(rate.load(), 0.01);
                    const double early = (nextFrame - now).seconds() - kLookaheadSeconds * r;
                    if (early <= 0) {
                        // Too late to be shown: go on from the frame showing now.
                        const MediaTime frame = vc->effectiveFrameDuration();
                        if (nextFrame + frame <= now) {
                            const MediaTime current = gridTime(now, frame, 0);
                            while (nextFrame < current) {
                                nextFrame = nextFrame + frame;
                                ++dropped;
                            }
                            nextFrame = current;
                        }
                        break;
                    }
                    videoWake.wait_for(lock, std::min(kLongestVideoWait, std::chrono::milliseconds(
                                                                               int(early / r * 1000) + 1)));
                }
                frameItem = videoItem;
                epoch = videoEpoch;
                t = nextFrame;
                nextFrame = gridTime(t, vc->effectiveFrameDuration(), 1);
                exact = false;
                ++ahead;
            }

            if (vc != compositorFor) {
                if (compositor) compositor->cancelAllPendingRequests();
                compositor.reset();
                if (vc->compositorFactory) compositor = vc->compositorFactory();
                if (compositor) compositor->setDrawingOnOneThread(true);
                compositorFor = vc;
            }
            // A picture drawn whole at the frame's size stays undecoded for a
            // compositor that takes it so: it is converted straight into the
            // frame rather than converted and copied there.
            const QSize keepYuvAt = compositor && compositor->acceptsYuvFrames() ? vc->renderSize : QSize();
            if (frameItem != sourcesItem || keepYuvAt != sourcesKeepYuvAt) {
                // Undecoded frames in the cache would be lost on readers that don't keep them.
                if (keepYuvAt != sourcesKeepYuvAt) cache->clear();
                sources = std::make_unique<SourceFrames>(frameItem->composition(), cache, frameItem->sourceFiles(),
                                                         keepYuvAt);
                sourcesItem = frameItem;
                sourcesKeepYuvAt = keepYuvAt;
            }
            const MediaTime shownTime = shownFrameTime(t, frameItem->duration());
            auto instruction = vc->instructionAt(shownTime);
            if (!instruction || !compositor) {
                FrameRequest::Result black{FrameRequest::Result::Status::composed, blackFrame(vc->renderSize), {}, {}, {}};
                post([this, epoch, t, black] { frameArrived(epoch, t, black); });
                continue;
            }
            // Each picture decoded at the size it is drawn at, not drawn small from a full one.
            FrameRequest::YuvFrames yuv;
            auto frames = sources->framesAt(instruction->requiredSourceTrackIds(), shownTime,
                                            instruction->drawnSizes(shownTime, vc->renderSize), &yuv);
            if (auto error = sources->takeError())
                post([this, epoch, message = *error] { sourceFailed(message, epoch); });
            compositor->startRequest(std::make_shared<FrameRequest>(
                shownTime, instruction, std::move(frames), vc->renderSize,
                [this, epoch, t](FrameRequest::Result result) {
                    post([this, epoch, t, result] { frameArrived(epoch, t, result); });
                },
                std::move(yuv), true));
        }
    }

    Player* const q;
    // Stands for the player's life in what other threads post to it.
    const std::shared_ptr<const void> alive = std::make_shared<int>(0);
    // Used by the video thread only (and thread-safe in itself).
    const std::shared_ptr<FrameCache> cache = std::make_shared<FrameCache>(kCacheBytes);

    // Main thread only.
    std::shared_ptr<PlayerItem> item;
    std::atomic<double> rate{0};  // written on the main thread; the video thread reads it
    std::shared_ptr<AudioPath> audio;  // opened for the first item that has sound
    bool onAudio = false;              // the current item's clock is the sound stream
    bool audioOpening = false;         // an opening is under way on the sound worker
    // The last opening failed, or the output ended: none is tried again
    // until the sound server is reported back.
    bool audioFailed = false;
    bool audioFailureSaid = false;     // the silence has been said since the last working output
    std::uint64_t audioAttempt = 0;    // counts openings; tells a stale end report
    int deviceObserver = 0;
    std::set<std::string> saidFailures;  // decoding failures already said
    QTimer endTimer;
    QTimer presentTimer;
    struct Observer {
        QTimer* timer;  // owned; deleted later when removed (it may be the caller)
        std::function<void(const MediaTime&)> callback;
    };
    std::map<int, Observer> observers;
    int nextObserver = 1;
    struct Pending {
        MediaTime time;
        QImage image;
    };
    std::deque<Pending> pending;  // composed frames of shownEpoch not yet shown, ascending
    std::uint64_t shownEpoch = 0;  // the video epoch whose frames are wanted (a copy of videoEpoch)
    QImage shown;
    std::vector<std::function<void(bool)>> seeks;  // waiting for the first frame after a seek
    std::string lastFrameError;

    std::atomic<std::uint64_t> dropped{0};  // main and video thread

    // The clock: read on any thread, guarded by clockMutex. Lock order:
    // videoMutex, then clockMutex, then the sound server's loop lock.
    mutable std::mutex clockMutex;
    bool clockRunning = false;
    double clockRate = 1;
    MediaTime pausedTime = MediaTime::zero();  // the time while not running
    double monoStart = 0;                      // the time at monoHost
    std::int64_t monoHost = 0;                 // HostClock nanoseconds
    AudioPath* clockAudio = nullptr;           // the sound stream that leads, or none
    mutable double lastReported = 0;
    MediaTime clockDuration = MediaTime::zero();

    // The video thread's orders, guarded by videoMutex.
    std::mutex videoMutex;
    std::condition_variable videoWake;
    std::shared_ptr<PlayerItem> videoItem;
    std::uint64_t videoEpoch = 0;  // raised by every restart; older frames are dropped
    MediaTime nextFrame = MediaTime::zero();  // the next frame to compose
    bool exact = false;                  // `nextFrame` is a seek target, composed even while paused
    bool videoPlaying = false;
    int ahead = 0;  // frames composed or being composed and not yet shown or dropped
    bool videoStop = false;
    std::thread videoThread;  // started last, joined in the destructor
};

namespace {
// Main thread only.
std::vector<Player*>& livePlayers()
{
    static std::vector<Player*> players;
    return players;
}
bool playersHeld = false;
} // namespace

Player::Player(QObject* parent) : QObject(parent), impl_(std::make_unique<Impl>(this))
{
    livePlayers().push_back(this);
}

Player::~Player()
{
    auto& players = livePlayers();
    players.erase(std::remove(players.begin(), players.end(), this), players.end());
}

void Player::setAllHeld(bool held)
{
    playersHeld = held;
    if (!held) return;
    // A rateChanged listener may make or drop a player.
    std::vector<QPointer<Player>> players(livePlayers().begin(), livePlayers().end());
    for (const auto& player : players)
        if (player && player->rate() > 0) player->pause();
}

bool Player::allHeld()
{
    return playersHeld;
}

std::shared_ptr<PlayerItem> Player::currentItem() const
{
    return impl_->item;
}

void Player::replaceCurrentItem(std::shared_ptr<PlayerItem> item)
{
    impl_->replaceItem(std::move(item));
}

double Player::rate() const
{
    return impl_->rate;
}

void Player::setRate(double rate)
{
    if (playersHeld && rate > 0 && std::isfinite(rate) && rate <= kMaxRate) return;
    impl_->setPlayRate(rate);
}

MediaTime Player::currentTime() const
{
    return impl_->clockNow();
}

void Player::seek(const MediaTime& time, std::function<void(bool finished)> completion)
{
    impl_->seekTo(time, std::move(completion));
}

int Player::addPeriodicTimeObserver(const MediaTime& interval, std::function<void(const MediaTime&)> observer)
{
    const int id = impl_->nextObserver++;
    auto* timer = new QTimer(this);
    timer->setTimerType(Qt::PreciseTimer);
    const double seconds = interval.isNumeric() ? interval.seconds() : 0;
    timer->setInterval(std::max(1, int(std::lround(seconds * 1000))));
    connect(timer, &QTimer::timeout, this, [this, id] {
        auto found = impl_->observers.find(id);
        if (found == impl_->observers.end()) return;
        auto callback = found->second.callback;  // it may remove itself
        callback(currentTime());
    });
    impl_->observers.emplace(id, Impl::Observer{timer, std::move(observer)});
    impl_->updateTimers();
    return id;
}

void Player::removeTimeObserver(int id)
{
    auto found = impl_->observers.find(id);
    if (found == impl_->observers.end()) return;
    found->second.timer->stop();
    found->second.timer->deleteLater();
    impl_->observers.erase(found);
}

QImage Player::currentFrame() const
{
    return impl_->shown;
}

std::uint64_t Player::droppedFrames() const
{
    return impl_->dropped;
}

} // namespace platform
