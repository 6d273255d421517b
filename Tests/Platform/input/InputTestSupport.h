#pragma once

// The input tests drive the test desktop's keyboard and pointer with xdotool.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

namespace inputtest {

using namespace std::chrono_literals;

inline bool succeeds(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a command on the test display and waits for it.
inline void run(const std::string& command)
{
    ASSERT_TRUE(succeeds(command)) << command;
}

// Polls `done` until it holds (true) or five seconds pass (false). The input
// arrives on the monitors' own threads a little after xdotool returns.
inline bool waitFor(const std::function<bool()>& done)
{
    for (auto deadline = std::chrono::steady_clock::now() + 5s; !done();) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

} // namespace inputtest
