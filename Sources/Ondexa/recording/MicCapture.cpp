#include "Ondexa/recording/MicCapture.h"
#include "Platform/core/HandOff.h"

#include "Ondexa/model/Log.h"
#include "Ondexa/model/OndexaError.h"
#include "Platform/audio/AudioError.h"
#include "Platform/audio/AudioServer.h"
#include "Platform/core/HostClock.h"

#include <pulse/def.h>

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>

namespace ondexa {

namespace {

// The meters move at most about 20 times a second however small the buffers are.
constexpr std::int64_t kLevelInterval = 50'000'000;  // ns

// The device's clock and the host clock part by tens or hundreds of ppm: the
// time line keeps the buffers on their stamps by repeating or dropping single
// frames (see SoundTimeLine). A buffer more than 40 ms late restarts the line
// at its own time (the gap stays in the track); one up to this much early has
// its leading samples cut; earlier still means the clock jumped back, and the
// line restarts.
constexpr std::int64_t kEarlyLimit = 500'000'000;  // ns

// The input's buffer size asked of the sound server.
constexpr int kFramesPerBuffer = 1024;

constexpr std::int32_t kNanoseconds = 1'000'000'000;

// While the device is away it is looked for whenever the server's inputs
// change, and besides every this often: a sound server that restarted
// reports nothing until someone connects to it again.
constexpr std::chrono::milliseconds kLookAgainEvery{1000};

} // namespace

struct MicCapture::Watch {
    std::mutex mutex;
    std::condition_variable wake;
    bool lost = false;     // guarded by mutex: the input ended and is not open again
    bool poked = false;    // guarded by mutex: the server's inputs changed since the last look
    bool closing = false;  // guarded by mutex

    void poke()
    {
        {
            std::lock_guard guard(mutex);
            poked = true;
        }
        wake.notify_all();
    }
};

MicCapture::MicCapture(AudioInputDevice device, QObject* parent)
    : QObject(parent), device_(std::move(device)), line_({.earlyCutNanoseconds = kEarlyLimit}),
      clock_(&platform::HostClock::nowNanoseconds),
      watch_(std::make_shared<Watch>())
{
    // Opened on a worker, used on the main thread: the level and end calls
    // queued on this object must be run by the main thread's loop, from the
    // first buffer on.
    if (QCoreApplication* app = QCoreApplication::instance(); app && !parent && thread() != app->thread())
        moveToThread(app->thread());
    configure();
    // Runs on the sound thread: only wakes the watcher.
    deviceObserver_ = platform::AudioServer::addDeviceObserver([watch = watch_] { watch->poke(); },
                                                               [](std::function<void()> job) { job(); });
    watcher_ = std::thread([this] { watchForReturn(); });
}

MicCapture::MicCapture(AudioInputDevice device, double sampleRate, NoInput, QObject* parent)
    : QObject(parent), device_(std::move(device)), sampleRate_(sampleRate), line_({.earlyCutNanoseconds = kEarlyLimit}),
      clock_(&platform::HostClock::nowNanoseconds), watch_(std::make_shared<Watch>())
{
}

MicCapture::~MicCapture()
{
    if (deviceObserver_) platform::AudioServer::removeDeviceObserver(deviceObserver_);
    {
        std::lock_guard guard(watch_->mutex);
        watch_->closing = true;
    }
    watch_->wake.notify_all();
    if (watcher_.joinable()) watcher_.join();
    // Before QObject's destructor drops the level calls already posted: after
    // this no new ones come.
    input_.reset();
}

void MicCapture::configure()
{
    std::shared_ptr<platform::AudioServer> server;
    std::vector<platform::AudioSource> sources;
    try {
        server = platform::AudioServer::shared();
        sources = server->sources();
    } catch (const platform::AudioError&) {
        throw OndexaError("A hangbemenet nem érhető el.");
    }
    auto source = std::find_if(sources.begin(), sources.end(),
                               [&](const platform::AudioSource& s) { return s.name == device_.uid; });
    if (source == sources.end())
        throw OndexaError("Nem sikerült megnyitni: " + device_.name + " (" + std::to_string(PA_ERR_NOENTITY) + ")");
    if (source->channelCount < 1 || source->sampleRate <= 0) throw OndexaError("A(z) " + device_.name + " nem ad hangot.");

    sampleRate_ = source->sampleRate;
    card_ = source->card;
    // The input stream calls back on the sound thread; this object outlives it
    // (the destructor closes it first).
    input_ = std::make_unique<platform::AudioInputStream>(
        platform::AudioInputStream::Options{device_.uid, source->channelCount, source->sampleRate, kFramesPerBuffer},
        [this](const InputBuffer& buffer) { process(buffer); },
        [this](const std::string& why) { inputStopped(why); });
}

void MicCapture::inputStopped(const std::string& why)
{
    const bool first = !ended_.exchange(true);
    {
        std::lock_guard guard(watch_->mutex);
        watch_->lost = true;
    }
    // Opening it again waits for the sound server: the watcher does it.
    watch_->wake.notify_all();
    if (!first) return;
    logLine("Hangkártya leállt (" + device_.name + "): " + why);
    QMetaObject::invokeMethod(
        this, platform::handedOver([this] {
            if (onEnded_) onEnded_();
        }),
        Qt::QueuedConnection);
}

void MicCapture::watchForReturn()
{
    Watch& watch = *watch_;
    std::unique_lock lock(watch.mutex);
    for (;;) {
        watch.wake.wait(lock, [&] { return watch.closing || watch.lost; });
        if (watch.closing) return;
        // Cleared first: a new input that ends at once sets it again.
        watch.lost = false;
        watch.poked = false;
        lock.unlock();
        const bool back = reopen();
        lock.lock();
        if (back) continue;
        watch.lost = true;
        watch.wake.wait_for(lock, kLookAgainEvery, [&] { return watch.closing || watch.poked; });
    }
}

bool MicCapture::reopen()
{
    std::vector<platform::AudioSource> sources;
    try {
        sources = platform::AudioServer::shared()->inputSources();
    } catch (const std::exception&) {
        return false;  // no server (yet)
    }
    // The same source; else one of the same card (it may come back with
    // another profile, so under another name).
    auto source = std::find_if(sources.begin(), sources.end(),
                               [&](const platform::AudioSource& s) { return s.name == device_.uid; });
    if (source == sources.end() && !card_.empty())
        source = std::find_if(sources.begin(), sources.end(),
                              [&](const platform::AudioSource& s) { return s.card == card_; });
    if (source == sources.end() || source->channelCount < 1) return false;

    // The first buffer of the new input starts the time line again at its
    // own host time: the time away stays a gap in the track.
    {
        std::lock_guard guard(lock);
        line_.restart();
    }
    // Cleared before the input runs: an input that ends at once is then
    // reported again.
    ended_ = false;
    try {
        // At the rate the recording's track was made for: the server
        // converts when the device now runs at another one.
        auto input = std::make_unique<platform::AudioInputStream>(
            platform::AudioInputStream::Options{source->name, source->channelCount, int(std::lround(sampleRate_)),
                                                kFramesPerBuffer},
            [this](const InputBuffer& buffer) { process(buffer); },
            [this](const std::string& why) { inputStopped(why); });
        input_ = std::move(input);  // the ended one is closed here
    } catch (const std::exception&) {
        ended_ = true;
        return false;
    }
    logLine("Hangkártya újra fut: " + device_.name + " (" + source->name + ")");
    return true;
}

void MicCapture::setChannels(std::vector<int> channels, bool stereoPairs)
{
    std::lock_guard guard(lock);
    channels_ = std::move(channels);
    stereoPairs_ = stereoPairs;
}

std::vector<int> MicCapture::channels() const
{
    std::lock_guard guard(lock);
    return channels_;
}

bool MicCapture::stereoPairs() const
{
    std::lock_guard guard(lock);
    return stereoPairs_;
}

void MicCapture::setSink(Sink sink)
{
    std::lock_guard guard(lock);
    sink_ = std::move(sink);
    line_.restart();
}

void MicCapture::clearSink()
{
    std::lock_guard guard(lock);
    sink_ = nullptr;
    line_.restart();
}

std::optional<platform::MediaTime> MicCapture::nextPTS() const
{
    std::lock_guard guard(lock);
    if (const auto next = line_.next()) return platform::MediaTime(*next, kNanoseconds);
    return std::nullopt;
}

void MicCapture::process(const InputBuffer& buffer)
{
    if (!buffer.samples || buffer.frames < 1 || buffer.channels < 1 || buffer.sampleRate <= 0) return;
    const int frames = buffer.frames;
    const int width = buffer.channels;

    std::vector<float> peaks(std::size_t(width), 0.0f);
    for (int f = 0; f < frames; ++f) {
        const float* frame = buffer.samples + std::size_t(f) * std::size_t(width);
        for (int c = 0; c < width; ++c) peaks[std::size_t(c)] = std::max(peaks[std::size_t(c)], std::abs(frame[c]));
    }
    publishLevels(std::move(peaks));

    std::lock_guard guard(lock);
    if (!sink_) return;  // not recording: only the meters run

    std::vector<int> selected;
    for (int c : channels_)
        if (c >= 0 && c < width) selected.push_back(c);
    if (selected.empty()) return;

    const int rate = buffer.sampleRate;
    const SoundTimeLine::Placement placement = line_.place(frames, rate, buffer.hostTime, clock_());
    const int drop = placement.skipped;
    const int count = placement.frames;  // may repeat the last frame or leave the last out
    if (count < 1) return;  // all of it early: dropped, the line does not move

    // Sources as (left, right) input channels.
    std::vector<std::pair<int, int>> sources;
    auto isSelected = [&](int c) { return std::find(selected.begin(), selected.end(), c) != selected.end(); };
    for (int c : selected) {
        if (stereoPairs_ && c % 2 == 0 && isSelected(c + 1)) {
            sources.emplace_back(c, c + 1);
        } else if (stereoPairs_ && c % 2 == 1 && isSelected(c - 1)) {
            continue;  // already the right side of its pair
        } else {
            sources.emplace_back(c, c);
        }
    }

    SampleBuffer out;
    out.frames = count;
    out.channels = 2;
    out.sampleRate = rate;
    out.samples.assign(std::size_t(count) * 2, 0.0f);
    // Equal power: n sources at 1/√n keep the sum's loudness near one source's.
    const float gain = 1.0f / std::sqrt(float(sources.size()));
    const int last = frames - 1;
    for (const auto& [left, right] : sources) {
        float* o = out.samples.data();
        for (int f = 0; f < count; ++f, o += 2) {
            const float* in = buffer.samples + std::size_t(std::min(drop + f, last)) * std::size_t(width);
            o[0] += gain * in[left];
            o[1] += gain * in[right];
        }
    }

    out.presentationTime = platform::MediaTime(placement.time, kNanoseconds);
    sink_(std::move(out));
}

void MicCapture::publishLevels(std::vector<float> peaks)
{
    if (pendingPeaks_.size() != peaks.size()) pendingPeaks_ = peaks;
    for (std::size_t i = 0; i < peaks.size(); ++i) pendingPeaks_[i] = std::max(pendingPeaks_[i], peaks[i]);

    std::int64_t now = clock_();
    if (now - lastLevelPublish_ <= kLevelInterval) return;
    std::vector<float> levels = std::move(pendingPeaks_);
    pendingPeaks_.clear();
    lastLevelPublish_ = now;
    // Queued on this object: dropped if it is gone by then.
    QMetaObject::invokeMethod(
        this, platform::handedOver([this, levels = std::move(levels)] {
            if (onLevels_) onLevels_(levels);
        }),
        Qt::QueuedConnection);
}

} // namespace ondexa
