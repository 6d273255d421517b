#pragma once

// Runs a piece of a test in a child process, so that a hang can be cut off
// and a kill survived. The child's expectations print as usual; its exit
// status says whether any failed.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

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

// Runs each body in a child process of its own, all let go at one moment,
// and waits for every one of them (with the same kind of watchdog).
inline std::vector<ChildOutcome> runTogether(const std::vector<std::function<void()>>& bodies,
                                             std::chrono::seconds deadline = std::chrono::seconds(120))
{
    int gate[2];
    if (::pipe(gate) != 0) return std::vector<ChildOutcome>(bodies.size());
    std::fflush(nullptr);
    std::vector<pid_t> children;
    for (const auto& body : bodies) {
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(gate[1]);
            char ignored;
            while (::read(gate[0], &ignored, 1) < 0 && errno == EINTR) {}  // until the gate opens
            body();
            std::fflush(nullptr);
            ::_exit(::testing::Test::HasFailure() ? 1 : 0);
        }
        children.push_back(child);
    }
    ::close(gate[0]);
    ::close(gate[1]);  // opens the gate: every child's read ends

    std::vector<ChildOutcome> outcomes(children.size());
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (children[i] < 0) continue;
        for (;;) {
            const pid_t done = ::waitpid(children[i], &outcomes[i].status, WNOHANG);
            if (done == children[i]) {
                outcomes[i].finished = true;
                break;
            }
            if (done < 0 || std::chrono::steady_clock::now() > end) {
                ::kill(children[i], SIGKILL);
                ::waitpid(children[i], nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    return outcomes;
}

} // namespace ondexa::testing
