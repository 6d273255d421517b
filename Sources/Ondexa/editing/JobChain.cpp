#include "Ondexa/editing/JobChain.h"

#include <QThreadPool>

namespace ondexa {

struct JobChain::State {
    std::mutex mutex;
    std::deque<std::function<void()>> jobs;  // guarded by mutex
    bool running = false;                    // a pool thread drains jobs; guarded by mutex
    bool cancelled = false;                  // guarded by mutex
};

JobChain::JobChain(Drop drop) : state_(std::make_shared<State>()), drop_(drop) {}

JobChain::~JobChain()
{
    if (drop_ == Drop::never) return;
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(state_->mutex);
        state_->cancelled = true;
        dropped.swap(state_->jobs);
    }
    // `dropped` goes here, outside the lock: its captures may be large.
}

void JobChain::run(std::function<void()> job)
{
    {
        std::lock_guard lock(state_->mutex);
        if (state_->cancelled) return;
        state_->jobs.push_back(std::move(job));
        if (state_->running) return;
        state_->running = true;
    }
    QThreadPool::globalInstance()->start([state = state_] { drain(state); });
}

void JobChain::drain(const std::shared_ptr<State>& state)
{
    for (;;) {
        std::function<void()> job;
        {
            std::lock_guard lock(state->mutex);
            if (state->jobs.empty() || state->cancelled) {
                state->running = false;
                return;
            }
            job = std::move(state->jobs.front());
            state->jobs.pop_front();
        }
        job();
    }
}

void JobChain::postToMain(std::function<void()> job)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(job), Qt::QueuedConnection);
}

} // namespace ondexa
