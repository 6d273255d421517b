#include "TimeText.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace ondexa {

std::string formatTime(double seconds, bool fraction)
{
    if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
    // The largest double below 2^63, so that the conversion below is defined.
    constexpr double limit = 9223372036854774784.0;
    if (seconds > limit) seconds = limit;

    const auto n = static_cast<std::int64_t>(seconds);
    const long long h = n / 3600;
    const int m = static_cast<int>(n % 3600 / 60);
    const int s = static_cast<int>(n % 60);

    char text[48];
    int length = n < 3600 ? std::snprintf(text, sizeof text, "%02d:%02d", m, s)
                          : std::snprintf(text, sizeof text, "%lld:%02d:%02d", h, m, s);
    if (fraction) {
        const int hundredths = static_cast<int>((seconds - std::trunc(seconds)) * 100);
        length += std::snprintf(text + length, sizeof text - length, ".%02d", hundredths);
    }
    return std::string(text, static_cast<std::size_t>(length));
}

} // namespace ondexa
