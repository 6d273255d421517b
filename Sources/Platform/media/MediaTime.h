#pragma once

#include <compare>
#include <cstdint>

namespace platform {

// A point in media time as a rational number value/timescale.
// Arithmetic is exact when both sides share a timescale; otherwise the finer
// timescale wins. A zero timescale marks an invalid time; `indefinite()` is a
// valid time with no finite value (an open end).
class MediaTime {
public:
    static constexpr std::int32_t kDefaultTimescale = 60000;

    constexpr MediaTime() = default;
    constexpr MediaTime(std::int64_t value, std::int32_t timescale)
        : value_(value), timescale_(timescale > 0 ? timescale : 0) {}

    static constexpr MediaTime invalid() { return {}; }
    static constexpr MediaTime zero() { return {0, kDefaultTimescale}; }
    static MediaTime indefinite();
    // Rounds to the nearest tick of `timescale`; a non-finite value gives invalid().
    static MediaTime fromSeconds(double seconds, std::int32_t timescale = kDefaultTimescale);

    constexpr std::int64_t value() const { return value_; }
    constexpr std::int32_t timescale() const { return timescale_; }
    constexpr bool isValid() const { return timescale_ > 0; }
    bool isIndefinite() const { return isValid() && indefinite_; }
    bool isNumeric() const { return isValid() && !indefinite_; }

    double seconds() const;
    // The same instant at another timescale, rounded to nearest.
    MediaTime convertedTo(std::int32_t timescale) const;

    // Invalid compares below everything; indefinite above every numeric time.
    std::strong_ordering operator<=>(const MediaTime& other) const;
    bool operator==(const MediaTime& other) const { return (*this <=> other) == 0; }

    MediaTime operator+(const MediaTime& other) const;
    MediaTime operator-(const MediaTime& other) const;
    MediaTime operator-() const;
    MediaTime& operator+=(const MediaTime& other) { return *this = *this + other; }
    MediaTime& operator-=(const MediaTime& other) { return *this = *this - other; }

private:
    std::int64_t value_ = 0;
    std::int32_t timescale_ = 0;
    bool indefinite_ = false;
};

// A half-open span [start, end()) of media time.
struct TimeRange {
    MediaTime start;
    MediaTime duration;

    constexpr TimeRange() = default;
    constexpr TimeRange(MediaTime s, MediaTime d) : start(s), duration(d) {}
    static TimeRange fromStartEnd(MediaTime start, MediaTime end) { return {start, end - start}; }

    MediaTime end() const { return start + duration; }
    bool isValid() const { return start.isValid() && duration.isValid(); }
    bool isEmpty() const { return !isValid() || duration <= MediaTime(0, 1); }
    bool contains(const MediaTime& t) const { return isValid() && t >= start && t < end(); }
    bool operator==(const TimeRange& other) const = default;
};

} // namespace platform
