#pragma once

#include <QObject>

namespace ondexa {

// The playhead of one editor, in seconds on the timeline. A separate object
// so that the 30 ticks a second of a playing preview reach only the views
// that show the playhead, never those observing the whole document.
class PlayheadClock final : public QObject {
    Q_OBJECT
    Q_PROPERTY(double time READ time WRITE setTime NOTIFY timeChanged)

public:
    explicit PlayheadClock(QObject* parent = nullptr) : QObject(parent) {}

    double time() const { return time_; }
    // Notifies on every set, even of the same value: a seek to where the
    // playhead already stands still redraws what follows it.
    void setTime(double time)
    {
        time_ = time;
        emit timeChanged();
    }

signals:
    void timeChanged();

private:
    double time_ = 0;
};

} // namespace ondexa
