#include "Ondexa/selftest/Task.h"
#include "Platform/core/HandOff.h"

#include <QCoreApplication>
#include <QTimer>

#include <cmath>
#include <set>

namespace ondexa::selftest {

namespace {

struct Launched {
    std::set<void*> frames;
    unsigned long epoch = 0;
    bool watchingQuit = false;
};
Launched& launched()
{
    static Launched state;
    return state;
}

// The quit road ends the event loop with tasks still waiting (a cancel
// timer, an export); their frames would be lost.
void destroyLaunched()
{
    Launched& state = launched();
    ++state.epoch;
    const auto frames = std::exchange(state.frames, {});
    for (void* frame : frames) std::coroutine_handle<Task::promise_type>::from_address(frame).destroy();
}

} // namespace

namespace detail {
void forgetLaunched(void* frame) { launched().frames.erase(frame); }
unsigned long epoch() { return launched().epoch; }
} // namespace detail

void post(std::function<void()> step)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), platform::handedOver(std::move(step)),
                              Qt::QueuedConnection);
}

void launch(Task task, std::function<void()> done)
{
    if (!task.handle_) {
        if (done) done();
        return;
    }
    Launched& state = launched();
    if (!state.watchingQuit && QCoreApplication::instance()) {
        state.watchingQuit = true;
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &destroyLaunched);
    }
    auto handle = std::exchange(task.handle_, {});
    state.frames.insert(handle.address());
    handle.promise().detached = true;
    handle.promise().whenDetachedEnds = std::move(done);
    handle.resume();
}

void Delay::await_suspend(std::coroutine_handle<> handle) const
{
    const double ms = std::isfinite(seconds_) && seconds_ > 0 ? std::round(seconds_ * 1000) : 0;
    // Precise: Qt's default for waits of 2 s and more may fire 5 % early.
    QTimer::singleShot(std::chrono::milliseconds(static_cast<long long>(ms)), Qt::PreciseTimer,
                       QCoreApplication::instance(),
                       [handle, epoch = detail::epoch()] {
                           if (detail::epoch() == epoch) handle.resume();
                       });
}

} // namespace ondexa::selftest
