#pragma once

#include <cstdint>

namespace platform {

// The recording side's one time base: CLOCK_MONOTONIC.
struct HostClock {
    // Nanoseconds since an arbitrary fixed point.
    static std::int64_t nowNanoseconds();
    static double nowSeconds() { return double(nowNanoseconds()) / 1e9; }
};

} // namespace platform
