#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace platform {

// One named worker thread running submitted jobs in order (FIFO). The
// destructor runs what is already queued, then joins the thread.
class SerialQueue {
public:
    explicit SerialQueue(std::string name);
    ~SerialQueue();

    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& name() const { return name_; }

    // Queues a job; returns at once.
    void async(std::function<void()> job);
    // Runs a job on the queue and waits for it. Must not be called from the
    // queue's own thread (that would wait for itself).
    void sync(const std::function<void()>& job);
    // True on the queue's own thread.
    bool isCurrent() const;

private:
    void run();

    const std::string name_;
    std::mutex mutex_;                        // guards jobs_ and stopping_
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;  // guarded by mutex_
    bool stopping_ = false;                   // guarded by mutex_
    std::thread thread_;                      // started last, joined in the destructor
};

} // namespace platform
