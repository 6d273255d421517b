#pragma once

// The one writer of a document file in this process. Every editor that
// writes the file, and every load that reads it, goes through it, so a
// reopened window reads what the closed one wrote last and never writes an
// older state over it.
//
// Jobs run one at a time, in order, on the pool of file work (never behind
// decoding); none is ever dropped, also after the editor that queued it is
// gone. A state write replaces the state write queued right before it when
// that has not started: a drag of sixty steps writes the first state and the
// last, not sixty.

#include "Ondexa/editing/JobChain.h"

#include <QObject>
#include <QPointer>

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

namespace ondexa {

class DocumentWriter : public std::enable_shared_from_this<DocumentWriter> {
public:
    // The writer of the document at `document` (the file or package folder
    // as written: a side file, a flat project file, a package), shared by
    // every caller while any of them holds it or a job of it waits or runs.
    // Two roads to one file (a link, "..") give the same writer.
    static std::shared_ptr<DocumentWriter> of(const std::filesystem::path& document);

    // A whole write of the document's state.
    void save(std::function<void()> write);
    // A job that keeps its turn and is never replaced.
    void run(std::function<void()> job);

    // Runs `work` in its turn and hands its result to `deliver` on the main
    // thread, unless `receiver` is gone by then.
    template <class Result>
    void run(QObject* receiver, std::function<Result()> work, std::function<void(Result)> deliver)
    {
        run([guard = QPointer<QObject>(receiver), work = std::move(work), deliver = std::move(deliver)]() mutable {
            auto result = std::make_shared<Result>(work());
            JobChain::postToMain([guard, result, deliver = std::move(deliver)]() mutable {
                if (guard) deliver(std::move(*result));
            });
        });
    }

    // Calls `done` on the main thread once every job queued so far has ended,
    // unless `receiver` is gone by then.
    void whenDone(QObject* receiver, std::function<void()> done);

private:
    struct Job {
        std::function<void()> work;
        bool stateWrite = false;
    };
    void enqueue(Job job);
    void drain();

    std::mutex mutex_;
    std::deque<Job> jobs_;  // guarded by mutex_
    bool running_ = false;  // a pool thread drains jobs_; guarded by mutex_
};

} // namespace ondexa
