#include "HostClock.h"

#include <ctime>

namespace platform {

std::int64_t HostClock::nowNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

} // namespace platform
