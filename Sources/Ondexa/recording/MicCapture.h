#pragma once

#include "Ondexa/recording/AudioDevices.h"
#include "Ondexa/recording/SoundTimeLine.h"
#include "Platform/audio/AudioInputStream.h"
#include "Platform/media/MediaTime.h"

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ondexa {

// Captures the inputs of one audio input device. It runs whenever the
// audio-interface input is enabled, recording or not, so that the record
// window can show levels; while a recording runs, the Recorder's sink gets
// every buffer mixed down to stereo from the chosen channels and stamped on
// the host clock.
//
// Threads: created, configured and destroyed on the main thread. Buffers
// arrive on the sound input thread (process()). `lock` guards the channel
// choice, the sink and the time line, which all three sides share; the
// sink is called with the lock held, so it must only hand the buffer on and
// never call back into this object.
class MicCapture : public QObject {
public:
    // What the sink gets: stereo, interleaved, on the host clock; shaped for
    // MovieWriter::appendSound.
    struct SampleBuffer {
        std::vector<float> samples;  // frames × channels, left/right interleaved
        int frames = 0;
        int channels = 2;
        int sampleRate = 0;
        platform::MediaTime presentationTime;  // host clock, of the first frame
    };
    using Sink = std::function<void(SampleBuffer)>;
    using Levels = std::function<void(std::vector<float>)>;
    // One buffer as the input delivers it: interleaved floats, host time of
    // the first frame in nanoseconds when known.
    using InputBuffer = platform::AudioInputStream::Buffer;

    // Opens the device's input. Throws OndexaError ("A hangbemenet nem érhető
    // el.", "Nem sikerült megnyitni: …", "A(z) … nem ad hangot.") or the
    // sound layer's AudioError when the stream does not start. Waits for the
    // sound server (at most its deadline per answer), so it is made on a
    // worker thread; without a parent it moves itself to the application's
    // thread, where it is used from then on.
    explicit MicCapture(AudioInputDevice device, QObject* parent = nullptr);
    // Without an input: buffers come only through process() (used by tests).
    struct NoInput {};
    MicCapture(AudioInputDevice device, double sampleRate, NoInput, QObject* parent = nullptr);
    // Closes the input first, so no buffer and no level call arrive afterwards.
    ~MicCapture() override;

    const AudioInputDevice& device() const { return device_; }
    // The input's rate in Hz (48000 until the input is open). Main thread.
    double sampleRate() const { return sampleRate_; }

    // Main thread. Called on the main thread with the greatest peak of each
    // input channel, at most once per 50 ms.
    void setOnLevels(Levels callback) { onLevels_ = std::move(callback); }

    // Any thread: the input stopped by itself (its device went away, the
    // sound server ended), with the sentence saying why. The owner's callback
    // runs on the main thread. From then on the capture watches for the
    // device to come back (the same source, or a source of the same card) and
    // opens it again in place, with the same channel choice and sink; its
    // first buffer restarts the time line at its own host time.
    void inputStopped(const std::string& why);
    // Ended and not back (yet).
    bool hasEnded() const { return ended_.load(); }
    void setOnEnded(std::function<void()> callback) { onEnded_ = std::move(callback); }

    // Any thread. The zero-based channels to record, ascending, and whether
    // neighbours (0 and 1, 2 and 3, …) are taken as stereo pairs.
    void setChannels(std::vector<int> channels, bool stereoPairs);
    std::vector<int> channels() const;
    bool stereoPairs() const;

    // Any thread (the Recorder). setSink starts the recording's time line
    // afresh: the next buffer is stamped with its own host time. clearSink
    // ends delivery.
    void setSink(Sink sink);
    void clearSink();
    std::optional<platform::MediaTime> nextPTS() const;

    // Sound input thread: one buffer of the device.
    void process(const InputBuffer& buffer);
    // The host clock, in nanoseconds; replaced only before any input arrives.
    void setClock(std::function<std::int64_t()> clock) { clock_ = std::move(clock); }

private:
    struct Watch;

    void configure();
    // Watcher thread: opens the device again when it is there. True when it runs.
    bool reopen();
    void watchForReturn();
    void publishLevels(std::vector<float> peaks);

    const AudioInputDevice device_;
    double sampleRate_ = 48000;  // written by configure() at construction only, then read anywhere
    std::string card_;           // the device's sound card (set with sampleRate_); empty when none
    Levels onLevels_;            // main thread
    std::function<void()> onEnded_;  // main thread
    std::atomic<bool> ended_{false};  // set once, on any thread

    mutable std::mutex lock;
    std::vector<int> channels_;                   // guarded by lock
    bool stereoPairs_ = false;                    // guarded by lock
    Sink sink_;                                   // guarded by lock
    SoundTimeLine line_;                          // guarded by lock: where the next buffer goes

    std::vector<float> pendingPeaks_;     // input thread only
    std::int64_t lastLevelPublish_ = 0;   // input thread only; host clock, ns
    std::function<std::int64_t()> clock_;  // set before input starts, then read on the input thread

    // The open input: made at construction, replaced by the watcher thread
    // after a loss, closed by the destructor once the watcher has stopped.
    std::unique_ptr<platform::AudioInputStream> input_;
    // Shared with the device observer, which may still run a moment after
    // it is removed.
    std::shared_ptr<Watch> watch_;
    int deviceObserver_ = 0;  // main thread
    std::thread watcher_;     // runs from construction to the destructor (not without an input)
};

} // namespace ondexa
