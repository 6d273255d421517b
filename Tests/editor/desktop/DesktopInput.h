#pragma once

// The X server's own pointer and keyboard, driven by the xdotool program.

#include "editing/EditTestSupport.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace ondexa::testing {

// Runs xdotool while the event loop goes on: the windows live on this thread.
inline int xdotool(const std::string& arguments)
{
    int status = -1;
    std::thread runner([&] { status = std::system(("xdotool " + arguments).c_str()); });
    runUntil([&] { return status != -1; }, std::chrono::seconds(10));
    runner.join();
    return status;
}

} // namespace ondexa::testing
