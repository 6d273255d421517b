#pragma once

// Runs a piece of a test in a child process, so that a hang can be cut off
// and a kill survived. The child's expectations print as usual; its exit
// status says whether any failed.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

namespace ondexa::testing {

struct ChildOutcome {
    bool finished = false;  // false: still running at the deadline, then killed
    int status = 0;         // as from waitpid
    bool passed() const { return finished && WIFEXITED(status) && WEXITSTATUS(status) == 0; }
    bool killedBy(int signal) const { return finished && WIFSIGNALED(status) && WTERMSIG(status) == signal; }
    std::string describe() const
    {
        if (!finished) return "still running at the deadline";
        if (WIFSIGNALED(status)) return "ended by signal " + std::to_string(WTERMSIG(status));
        return "exited with " + std::to_string(WEXITSTATUS(status));
    }
};

// The deadline is a watchdog against hangs, far above what the work needs
// even on a loaded machine; it is not a measure of speed.
template <class Body>
ChildOutcome runInChild(Body body, std::chrono::seconds deadline = std::chrono::seconds(5))
{
    std::fflush(nullptr);  // or the child prints what the parent has buffered
    const pid_t child = ::fork();
    if (child < 0) return {};
    if (child == 0) {
        body();
        std::fflush(nullptr);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);  // no exit handlers: they belong to the parent
    }
    ChildOutcome outcome;
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        const pid_t done = ::waitpid(child, &outcome.status, WNOHANG);
        if (done == child) {
            outcome.finished = true;
            return outcome;
        }
        if (done < 0 || std::chrono::steady_clock::now() > end) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return outcome;
}

} // namespace ondexa::testing
