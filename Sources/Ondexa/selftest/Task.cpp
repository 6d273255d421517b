#include "Ondexa/selftest/Task.h"

#include <QCoreApplication>
#include <QTimer>

#include <cmath>

namespace ondexa::selftest {

void post(std::function<void()> step)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(step), Qt::QueuedConnection);
}

void launch(Task task, std::function<void()> done)
{
    if (!task.handle_) {
        if (done) done();
        return;
    }
    auto handle = std::exchange(task.handle_, {});
    handle.promise().detached = true;
    handle.promise().whenDetachedEnds = std::move(done);
    handle.resume();
}

void Delay::await_suspend(std::coroutine_handle<> handle) const
{
    const double ms = std::isfinite(seconds_) && seconds_ > 0 ? std::round(seconds_ * 1000) : 0;
    QTimer::singleShot(std::chrono::milliseconds(static_cast<long long>(ms)), QCoreApplication::instance(),
                       [handle] { handle.resume(); });
}

} // namespace ondexa::selftest
