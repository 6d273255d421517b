#pragma once

// Runs the marker window (MarkerWindow.cpp, see MarkerSchedule.h) as a child
// process on the Wayland test session and collects what it prints.

#include "MarkerSchedule.h"

#include <QSize>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace markerschedule {

class MarkerWindowProcess {
public:
    // Starts the window with these arguments (--fps, --period, --still).
    explicit MarkerWindowProcess(const std::vector<std::string>& arguments = {});
    ~MarkerWindowProcess();  // ends the window
    MarkerWindowProcess(const MarkerWindowProcess&) = delete;
    MarkerWindowProcess& operator=(const MarkerWindowProcess&) = delete;

    static std::string program();
    bool started() const { return pid_ > 0; }

    // Waits until the window covers `size` and has drawn `steps` markers
    // there; false when that did not happen within `limit`.
    bool waitUntilShown(QSize size, int steps, std::chrono::milliseconds limit);
    // The markers drawn at the newest size, in order.
    std::vector<MarkerLine> markers() const;
    QSize size() const;
    // Everything it printed so far (for failure messages).
    std::string output() const;

private:
    void read(int fd);

    pid_t pid_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    // Guarded by mutex_: written by the reader thread.
    std::string output_;
    QSize size_;
    std::vector<MarkerLine> markers_;
};

} // namespace markerschedule
