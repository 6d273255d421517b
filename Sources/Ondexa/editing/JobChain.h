#pragma once

// Background work of one loader: jobs run one at a time, in order, on one of
// the work pools, and their results come back to the main thread only while
// the receiver still exists. Between two jobs the chain lets the pool's other
// chains have their turn, so one long queue never holds a thread to itself.

#include "Ondexa/editing/WorkPools.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

namespace ondexa {

class JobChain {
public:
    // What the destructor does with jobs not yet started: drop them (work
    // whose result nobody wants any more), or never (writes of a document).
    enum class Drop { queued, never };

    explicit JobChain(Drop drop = Drop::queued, WorkPool pool = WorkPool::general);
    // Nothing here waits for the running job, so the main thread never blocks.
    ~JobChain();
    JobChain(const JobChain&) = delete;
    JobChain& operator=(const JobChain&) = delete;

    void run(std::function<void()> job);

    // Runs `work` in the chain and hands its result to `deliver` on the main
    // thread, unless `receiver` is gone by then.
    template <class Result>
    void run(QObject* receiver, std::function<Result()> work, std::function<void(Result)> deliver)
    {
        run([guard = QPointer<QObject>(receiver), work = std::move(work), deliver = std::move(deliver)]() mutable {
            auto result = std::make_shared<Result>(work());
            postToMain([guard, result, deliver = std::move(deliver)]() mutable {
                if (guard) deliver(std::move(*result));
            });
        });
    }

    static void postToMain(std::function<void()> job);

private:
    struct State;
    static void runNext(const std::shared_ptr<State>& state);

    std::shared_ptr<State> state_;
    Drop drop_;
};

} // namespace ondexa
