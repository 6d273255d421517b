#include "Platform/media/MediaTime.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace platform {

namespace {

// a*b/c rounded to nearest (ties away from zero) without overflowing for
// the magnitudes media times reach.
std::int64_t rescale(std::int64_t a, std::int64_t b, std::int64_t c)
{
    __int128 num = static_cast<__int128>(a) * b;
    __int128 half = c / 2;
    __int128 q = num >= 0 ? (num + half) / c : (num - half) / c;
    if (q > std::numeric_limits<std::int64_t>::max()) return std::numeric_limits<std::int64_t>::max();
    if (q < std::numeric_limits<std::int64_t>::min()) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(q);
}

std::int32_t commonTimescale(std::int32_t a, std::int32_t b)
{
    if (a == b) return a;
    std::int64_t l = std::lcm<std::int64_t>(a, b);
    if (l <= std::numeric_limits<std::int32_t>::max()) return static_cast<std::int32_t>(l);
    return std::max(a, b);
}

} // namespace

MediaTime MediaTime::indefinite()
{
    MediaTime t(0, 1);
    t.indefinite_ = true;
    return t;
}

MediaTime MediaTime::fromSeconds(double seconds, std::int32_t timescale)
{
    if (!std::isfinite(seconds) || timescale <= 0) return invalid();
    double ticks = std::round(seconds * timescale);
    if (ticks >= 9.2e18 || ticks <= -9.2e18) return invalid();
    return {static_cast<std::int64_t>(ticks), timescale};
}

double MediaTime::seconds() const
{
    if (!isValid()) return std::numeric_limits<double>::quiet_NaN();
    if (indefinite_) return std::numeric_limits<double>::infinity();
    return static_cast<double>(value_) / timescale_;
}

MediaTime MediaTime::convertedTo(std::int32_t timescale) const
{
    if (!isNumeric() || timescale <= 0) return timescale <= 0 ? invalid() : *this;
    if (timescale == timescale_) return *this;
    return {rescale(value_, timescale, timescale_), timescale};
}

std::strong_ordering MediaTime::operator<=>(const MediaTime& other) const
{
    if (!isValid() || !other.isValid()) return isValid() <=> other.isValid();
    if (indefinite_ || other.indefinite_) return indefinite_ <=> other.indefinite_;
    __int128 l = static_cast<__int128>(value_) * other.timescale_;
    __int128 r = static_cast<__int128>(other.value_) * timescale_;
    return l <=> r;
}

MediaTime MediaTime::operator+(const MediaTime& other) const
{
    if (!isValid() || !other.isValid()) return invalid();
    if (indefinite_ || other.indefinite_) return indefinite();
    std::int32_t ts = commonTimescale(timescale_, other.timescale_);
    return {convertedTo(ts).value_ + other.convertedTo(ts).value_, ts};
}

MediaTime MediaTime::operator-(const MediaTime& other) const
{
    if (!isValid() || !other.isValid()) return invalid();
    if (other.indefinite_) return invalid();
    if (indefinite_) return indefinite();
    std::int32_t ts = commonTimescale(timescale_, other.timescale_);
    return {convertedTo(ts).value_ - other.convertedTo(ts).value_, ts};
}

MediaTime MediaTime::operator-() const
{
    if (!isNumeric()) return *this;
    return {-value_, timescale_};
}

} // namespace platform
