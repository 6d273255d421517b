#pragma once

#include "Platform/media/MediaTime.h"
#include "Platform/media/PlayerItem.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

// Plays a PlayerItem in real time. Frames are composed ahead on a video
// thread and handed to the main thread (frameChanged) when their time comes;
// sound is mixed at 48 kHz stereo on an audio thread and played through a
// PulseAudio stream, which is the clock. An item without sound, or a machine
// without a sound server, runs on the monotonic clock instead. The stream is
// opened on a worker (the server may take its whole deadline to answer), and
// the sound takes over the clock once it is open; after a failure it is tried
// again only when the sound server reports its devices (it is back).
//
// A main-thread object: every call and every signal is on the main thread,
// whose event loop must run.
class Player : public QObject {
    Q_OBJECT

public:
    explicit Player(QObject* parent = nullptr);
    // Stops and joins the video and audio threads and closes the sound stream.
    ~Player() override;

    std::shared_ptr<PlayerItem> currentItem() const;
    // The new item starts at its time zero; the rate stays. Null: nothing.
    void replaceCurrentItem(std::shared_ptr<PlayerItem> item);

    // 0 is paused; 1 plays at normal speed; other positive rates play faster
    // or slower, the sound resampled (its pitch follows). Throws MediaError
    // for a negative rate, one above 16 or not a number.
    double rate() const;
    void setRate(double rate);
    void play() { setRate(1.0); }
    void pause() { setRate(0.0); }
    bool isPlaying() const { return rate() > 0; }

    // While held, every player of the process is paused and stays so: a
    // rate above zero is ignored (a recording must not hear us).
    static void setAllHeld(bool held);
    static bool allHeld();

    // The time now on the item's timeline, within zero and its duration.
    MediaTime currentTime() const;
    // Moves exactly to `time` (limited to zero and the duration), playing or
    // paused, and shows the frame there. `completion` runs on the main thread
    // with true once that frame is shown (at once without a picture), with
    // false when a later seek or item replaces this one first.
    void seek(const MediaTime& time, std::function<void(bool finished)> completion = {});

    // Calls `observer` with the current time every `interval` while playing,
    // and once with the item's end when playback reaches it. Returns an id
    // for removeTimeObserver.
    int addPeriodicTimeObserver(const MediaTime& interval, std::function<void(const MediaTime&)> observer);
    void removeTimeObserver(int id);

    // The frame on screen now (null before the first, and without an item).
    QImage currentFrame() const;
    // Frames that were due but not composed in time to be shown.
    std::uint64_t droppedFrames() const;

signals:
    // A new frame is due on screen (a null image: nothing to show).
    void frameChanged(const QImage& frame);
    // The rate changed: by play, pause, setRate, or the end of the item.
    void rateChanged(double rate);
    // Something could not be played, in Hungarian sentences. A source that
    // cannot be decoded further (said once per file and reason) pauses
    // playback there; without a sound output (said once until one works
    // again) playback goes on by the clock; a compositor that fails is said
    // once and its frames are left out.
    void errorOccurred(const QString& message);

private:
    struct Impl;
    static void setListener(PlayerItem& item, std::function<void()> listener);

    std::unique_ptr<Impl> impl_;
};

} // namespace platform
