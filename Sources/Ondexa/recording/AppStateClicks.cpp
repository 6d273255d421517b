// The click and pointer log of a recording and its place in the side file.

#include "Ondexa/recording/AppState.h"

#include "Ondexa/model/RecordingInfo.h"
#include "Platform/core/HostClock.h"

#include <QTimer>

#include <algorithm>

namespace ondexa {

namespace {

// The pointer is sampled 60 times a second, as often as a display refreshes.
constexpr int kPointerIntervalMs = 16;
// The redrawn pointer is as tall as a 21-point pointer on the captured frame.
constexpr double kPointerPoints = 21;

} // namespace

void AppState::startClickMonitor()
{
    // The logs were emptied and the pointer sampled just before the recorder
    // started (see launch()); what follows is added to that.
    if (!cursorTimer_) {
        cursorTimer_ = new QTimer(this);
        cursorTimer_->setTimerType(Qt::PreciseTimer);
        cursorTimer_->setInterval(kPointerIntervalMs);
        connect(cursorTimer_, &QTimer::timeout, this, &AppState::samplePointer);
    }
    cursorTimer_->start();

    if (env_.installClickMonitor)
        clickMonitor_ = env_.installClickMonitor([self = QPointer<AppState>(this)](bool right, QPointF point, double time) {
            if (self) self->addClick(right, point, time);
        });
}

void AppState::stopClickMonitor()
{
    clickMonitor_.reset();
    if (cursorTimer_) cursorTimer_->stop();
}

void AppState::samplePointer()
{
    if (!env_.pointerPosition) return;
    const auto position = env_.pointerPosition();
    if (!position) return;
    const QPointF point(position->x, position->y);
    addPointerSample(platform::HostClock::nowSeconds(), point);
}

void AppState::addPointerSample(double time, QPointF point)
{
    if (!cursorLog_.empty() && cursorLog_.back().point == point) return;  // unmoved: nothing new
    cursorLog_.push_back({time, point});
}

void AppState::addClick(bool right, QPointF point, double time)
{
    clickLog_.push_back({time, point, right});
}

void AppState::saveClicks(const RecorderHandle& recorder, double movieStart)
{
    const QRectF frame = recorder.capturedFrame();
    if (!(frame.width() > 0) || !(frame.height() > 0)) return;
    const auto relative = [&](QPointF point) {
        return QPointF((point.x() - frame.left()) / frame.width(), (point.y() - frame.top()) / frame.height());
    };

    std::vector<ClickEvent> clicks;
    for (const auto& click : clickLog_) {
        const bool inside = click.point.x() >= frame.left() && click.point.x() < frame.right()
                            && click.point.y() >= frame.top() && click.point.y() < frame.bottom();
        if (!inside || click.time < movieStart) continue;
        const QPointF at = relative(click.point);
        clicks.push_back({click.time - movieStart, at.x(), at.y(), click.right});
    }

    const std::filesystem::path url = recorder.url();
    RecordingInfo info;
    if (auto stored = RecordingInfo::load(url)) info = std::move(*stored);
    else info.audioTracks = recorder.audioTrackNames();

    // Where the pointer was at the first frame, then every move after it.
    const auto row = [&](const PointerEntry& entry) {
        const QPointF at = relative(entry.point);
        return CursorSample{std::max(entry.time - movieStart, 0.0), at.x(), at.y()};
    };
    std::vector<CursorSample> samples;
    const PointerEntry* before = nullptr;
    for (const auto& entry : cursorLog_)
        if (entry.time < movieStart) before = &entry;
    if (before) samples.push_back(row(*before));
    for (const auto& entry : cursorLog_)
        if (entry.time >= movieStart) samples.push_back(row(entry));

    info.clicks = RecordingInfo::clickArrays(clicks);
    info.showClicks = !clicks.empty();
    info.cursor = RecordingInfo::cursorArrays(samples);
    CursorStyle style = cursorStyle_;
    style.base = kPointerPoints / frame.height();
    info.cursorStyle = style;
    info.save(url);
}

} // namespace ondexa
