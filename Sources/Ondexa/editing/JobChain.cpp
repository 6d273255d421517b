#include "Ondexa/editing/JobChain.h"
#include "Platform/core/HandOff.h"

#include "Platform/core/ThreadPriority.h"

#include <QThreadPool>

namespace ondexa {

struct JobChain::State {
    std::mutex mutex;
    std::deque<std::function<void()>> jobs;  // guarded by mutex
    bool running = false;                    // a job of the chain is queued on the pool or runs; guarded by mutex
    bool cancelled = false;                  // guarded by mutex
    QThreadPool* pool = nullptr;             // set once
    bool background = false;                 // jobs run at low priority; set once
};

JobChain::JobChain(Drop drop, WorkPool pool) : state_(std::make_shared<State>()), drop_(drop)
{
    state_->pool = &workPool(pool);
    state_->background = pool == WorkPool::decoding;
}

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
    state_->pool->start(platform::handedOver([state = state_] { runNext(state); }));
}

void JobChain::runNext(const std::shared_ptr<State>& state)
{
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
    if (state->background) platform::lowerThreadPriority();
    job();
    job = nullptr;  // its captures go before the next job
    // The next one (if any) behind whatever else waits for the pool.
    state->pool->start(platform::handedOver([state] { runNext(state); }));
}

void JobChain::postToMain(std::function<void()> job)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, platform::handedOver(std::move(job)), Qt::QueuedConnection);
}

} // namespace ondexa
